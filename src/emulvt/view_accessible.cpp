#include "emulvt/view_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <algorithm>

#include "emulvt/char_tables.h"
#include "emulvt/emul_vt.h"

namespace qorvel {

namespace {

constexpr int kMaxShownRows = kRowPositions - 1; // the view never paints more rows than this

bool gAccessibilityActive = false;
TAccessibleEventSink gSink = &QAccessible::updateAccessibility;

class TActivationObserver : public QAccessible::ActivationObserver {
public:
    void accessibilityActiveChanged(bool Active) override { gAccessibilityActive = Active; }
};

} // namespace

TViewText BuildViewText(const TCustomEmulVT& View) {
    if (!View.Screen()) return {}; // asked while the view is still being built
    const TScreen& s = *View.Screen();
    const int cols = std::clamp(s.FColCount, 1, kLineCells);
    // Above the oldest back row the view paints margin, not text.
    const int first = std::max(View.TopLine(), -s.FBackRowCount);
    const int end = std::min(s.FRowCount, first + kMaxShownRows);

    TViewText t;
    t.FirstRow = first;
    t.RowCount = std::max(0, end - first);
    t.Stride = cols + 1;
    t.Text.resize(qsizetype(std::max(0, t.RowCount * t.Stride - 1)));
    QChar* out = t.Text.data();
    for (int row = first; row < end; ++row) {
        if (row > first) *out++ = QLatin1Char('\n');
        const TLine& line = *s.GetLine(row);
        for (int k = 0; k < cols; ++k)
            *out++ = QChar(Cp437ToUnicode[line.Txt[k]]);
    }
    if (s.FRow < first)
        t.Caret = 0;
    else if (s.FRow >= end)
        t.Caret = int(t.Text.size());
    else
        t.Caret = (s.FRow - first) * t.Stride + std::clamp(s.FCol, 0, cols);
    return t;
}

// The accessible face of one view. It keeps the text and caret it last announced, so that a
// notification carries only the span that changed.
class TViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TViewAccessible(TCustomEmulVT* View) : QAccessibleWidget(View, QAccessible::Terminal) {
        const TViewText now = BuildViewText(*View);
        FAnnouncedText = now.Text;
        FAnnouncedCaret = now.Caret;
    }

    TCustomEmulVT* View() const { return static_cast<TCustomEmulVT*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType Type) override {
        if (Type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(Type);
    }

    QString text(QAccessible::Text Type) const override {
        if (Type != QAccessible::Name) return QAccessibleWidget::text(Type);
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? QStringLiteral("Terminal") : name;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.multiLine = true;
        s.readOnly = true; // typed keys go to the device, not into this text
        return s;
    }

    // --- QAccessibleTextInterface ----------------------------------------------------------------
    void selection(int, int* StartOffset, int* EndOffset) const override { *StartOffset = *EndOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return BuildViewText(*View()).Caret; }
    void setCursorPosition(int) override {} // the cursor is the device's to move

    QString text(int StartOffset, int EndOffset) const override {
        const QString all = BuildViewText(*View()).Text;
        StartOffset = std::clamp(StartOffset, 0, int(all.size()));
        EndOffset = std::clamp(EndOffset, StartOffset, int(all.size()));
        return all.mid(StartOffset, EndOffset - StartOffset);
    }
    int characterCount() const override { return int(BuildViewText(*View()).Text.size()); }

    QRect characterRect(int Offset) const override {
        const TViewText t = BuildViewText(*View());
        if (t.RowCount == 0 || Offset < 0 || Offset > int(t.Text.size())) return QRect();
        const TCustomEmulVT& v = *View();
        const int row = t.FirstRow + Offset / t.Stride - v.TopLine();
        const int col = Offset % t.Stride;
        const QRect local(v.ColumnPos(col) + v.FLeftMargin, v.RowPos(row) + v.FTopMargin + v.FInternalLeading,
                          v.FCharWidth, v.FLineHeight);
        return local.translated(v.mapToGlobal(QPoint(0, 0)));
    }

    int offsetAtPoint(const QPoint& Point) const override {
        const TCustomEmulVT& v = *View();
        const QPoint local = v.mapFromGlobal(Point);
        if (!v.rect().contains(local) || v.FCharWidth <= 0) return -1;
        const TViewText t = BuildViewText(v);
        const int shown = v.TopLine() + v.PixelToRow(local.y() - v.FInternalLeading) - t.FirstRow;
        if (shown < 0 || shown >= t.RowCount) return -1;
        const int col = std::clamp((local.x() - v.FLeftMargin) / v.FCharWidth, 0, t.Stride - 1);
        return std::min(shown * t.Stride + col, int(t.Text.size()));
    }

    void scrollToSubstring(int, int) override {}

    QString attributes(int Offset, int* StartOffset, int* EndOffset) const override {
        *StartOffset = *EndOffset = Offset;
        return QString();
    }

    // Sends what changed since the last announcement: at most one text update and one caret move.
    void Announce() {
        FPending = false;
        FLastAnnounce.start();
        const TViewText now = BuildViewText(*View());
        if (now.Text != FAnnouncedText) {
            const int oldSize = int(FAnnouncedText.size()), newSize = int(now.Text.size());
            int prefix = 0;
            while (prefix < oldSize && prefix < newSize && FAnnouncedText[prefix] == now.Text[prefix])
                ++prefix;
            int suffix = 0;
            while (suffix < oldSize - prefix && suffix < newSize - prefix &&
                   FAnnouncedText[oldSize - 1 - suffix] == now.Text[newSize - 1 - suffix])
                ++suffix;
            QAccessibleTextUpdateEvent update(View(), prefix,
                                              FAnnouncedText.mid(prefix, oldSize - prefix - suffix),
                                              now.Text.mid(prefix, newSize - prefix - suffix));
            FAnnouncedText = now.Text;
            gSink(&update);
        }
        if (now.Caret != FAnnouncedCaret) {
            FAnnouncedCaret = now.Caret;
            QAccessibleTextCursorEvent moved(View(), now.Caret);
            gSink(&moved);
        }
    }

    // Milliseconds to wait before the next announcement.
    int AnnounceDelay() const {
        if (!FLastAnnounce.isValid()) return 0;
        return int(std::max<qint64>(0, kMinAnnounceIntervalMs - FLastAnnounce.elapsed()));
    }

    bool FPending = false;

private:
    QElapsedTimer FLastAnnounce;
    QString FAnnouncedText;
    int FAnnouncedCaret = 0;
};

namespace {

QAccessibleInterface* ViewFactory(const QString& ClassName, QObject* Object) {
    if (ClassName != QLatin1String(TCustomEmulVT::staticMetaObject.className())) return nullptr;
    return new TViewAccessible(static_cast<TCustomEmulVT*>(Object));
}

TViewAccessible* AccessibleOf(TCustomEmulVT* View) {
    return dynamic_cast<TViewAccessible*>(QAccessible::queryAccessibleInterface(View));
}

} // namespace

void InstallViewAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(ViewFactory);
        static TActivationObserver observer;
        QAccessible::installActivationObserver(&observer);
        gAccessibilityActive = QAccessible::isActive();
        return true;
    }();
    (void)installed;
}

TAccessibleEventSink SetViewAccessibleSink(TAccessibleEventSink Sink) {
    const TAccessibleEventSink previous = gSink;
    gSink = Sink ? Sink : &QAccessible::updateAccessibility;
    return previous;
}

bool ViewAccessibilityActive() {
    return gAccessibilityActive;
}

void ViewAccessibleChanged(TCustomEmulVT* View) {
    TViewAccessible* iface = AccessibleOf(View);
    if (!iface || iface->FPending) return;
    iface->FPending = true;
    // Timed on the view itself, so a view destroyed meanwhile takes the call with it.
    QTimer::singleShot(iface->AnnounceDelay(), View, [View] {
        if (TViewAccessible* current = AccessibleOf(View)) current->Announce();
    });
}

} // namespace qorvel
