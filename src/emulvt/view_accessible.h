#pragma once
// What assistive technology reads of the terminal view: the rows it shows as plain text, the
// model's cursor as the caret, and one text-changed event per batch of screen updates.
#include <QString>

class QAccessibleEvent;

namespace qorvel {

class TCustomEmulVT;

// The view's rows as text. The rows run from the view's top line (back rows too while scrolled
// back) to the last screen row, at most as many as the view can ever show; rows below the
// window's lower edge are included so that the caret is always inside the text. Cells are code
// page 437 glyphs in Unicode and rows are joined by '\n'. Trailing blanks are kept: every row is
// Cols characters long, so an offset names a cell and moving the cursor never changes the text.
struct TViewText {
    QString Text;
    int FirstRow = 0; // screen row of the first exposed row (negative: a back row)
    int RowCount = 0; // exposed rows
    int Stride = 1;   // characters per row including its '\n'
    int Caret = 0;    // offset of the cursor cell; clamped to the ends when off the rows
};
TViewText BuildViewText(const TCustomEmulVT& View);

// Registers the interface factory for terminal views; later calls do nothing.
void InstallViewAccessibleFactory();

// True while an assistive technology listens; read on every screen update, so it is a cached flag
// that follows the activation notifications.
bool ViewAccessibilityActive();

// Where the view's notifications go: QAccessible::updateAccessibility unless replaced, e.g. by a
// test that captures them (Qt drops every notification while no assistive technology listens).
using TAccessibleEventSink = void (*)(QAccessibleEvent* Event);
// Returns the sink replaced; nullptr restores the default.
TAccessibleEventSink SetViewAccessibleSink(TAccessibleEventSink Sink);

// A screen reader cannot follow faster, and every notification crosses the accessibility bus.
constexpr int kMinAnnounceIntervalMs = 100;

// Schedules one text-changed (and caret-moved) notification for View: on the next event-loop turn,
// or kMinAnnounceIntervalMs after the previous one during a flood. Further calls before it is sent
// are folded into it.
void ViewAccessibleChanged(TCustomEmulVT* View);

} // namespace qorvel
