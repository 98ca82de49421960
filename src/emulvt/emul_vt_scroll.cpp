#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "emulvt/emul_vt.h"
#include "emulvt/emul_vt_internal.h"

namespace qorvel {

using view_detail::kLastCellColumn;
using view_detail::kLastVisibleRow;

namespace {

constexpr int kCaretOffsetX = 2;
constexpr int kCaretOffsetY = 3;

// Halves go to the even neighbour, whatever the floating-point rounding mode.
int RoundHalfEven(double Value) {
    const double lower = std::floor(Value);
    const double diff = Value - lower;
    if (diff > 0.5) return int(lower) + 1;
    if (diff < 0.5) return int(lower);
    return (std::fmod(lower, 2.0) == 0.0) ? int(lower) : int(lower) + 1;
}

} // namespace

// --- geometry ------------------------------------------------------------------------------------

int TCustomEmulVT::ColumnPos(int Col) const {
    return FColumnPos[std::clamp(Col, 0, kColumnPositions - 1)];
}

int TCustomEmulVT::RowPos(int VisibleRow) const {
    return FRowPos[std::clamp(VisibleRow, 0, kRowPositions - 1)];
}

int TCustomEmulVT::PixelToRow(int Y) const {
    for (int i = std::min(Rows() - 1, kRowPositions - 1); i >= 1; --i)
        if (FRowPos[i] <= Y - FTopMargin) return i;
    return 0;
}

QRect TCustomEmulVT::CaretCellRect() const {
    const int row = FScreen->FRow - FTopLine;
    if (row < 0 || row > kLastVisibleRow || FCharWidth <= 0 || FLineHeight <= 0) return QRect();
    const int col = std::min(FScreen->FCol, kLastCellColumn);
    return QRect(FColumnPos[col] + FLeftMargin, FRowPos[row] + FTopMargin, FCharWidth, FLineHeight);
}

// --- scroll bar --------------------------------------------------------------------------------

int TCustomEmulVT::VisibleRows() const {
    if (FLineHeight <= 0) return Rows();
    const int fit = std::max(0, RoundHalfEven(double(height() - FTopMargin - FBottomMargin) / FLineHeight));
    return std::min(fit, Rows());
}

void TCustomEmulVT::AdjustScrollBar() {
    if (FScrollBar->isHidden()) return;
    const int minimum = FScreen->FFirstBackRow;
    const int visible = VisibleRows();
    const int maximum = Rows() - visible;
    FAdjustingScrollBar = true;
    FScrollBar->setRange(minimum, std::max(minimum, maximum));
    FScrollBar->setValue(FTopLine);
    FScrollBar->setSingleStep(1);
    FScrollBar->setPageStep(std::max(1, visible));
    FScrollBar->setEnabled(maximum > minimum);
    FAdjustingScrollBar = false;
}

void TCustomEmulVT::ScrollBarScroll(int ScrollPos) {
    FTopLine = ScrollPos;
    if (FFollowCursor) {
        const int cursorRow = FScreen->FRow;
        FFollowPaused = cursorRow < FTopLine || cursorRow >= FTopLine + VisibleRows();
    }
    SetCaret();
    repaint();
    NotifyAccessible();
    setFocus(Qt::OtherFocusReason);
}

void TCustomEmulVT::ScrollTo(int TopLine) {
    TopLine =
        std::clamp(TopLine, FScreen->FFirstBackRow, std::max(FScreen->FFirstBackRow, Rows() - VisibleRows()));
    if (TopLine == FTopLine) return;
    ScrollBarScroll(TopLine);
    AdjustScrollBar();
}

void TCustomEmulVT::wheelEvent(QWheelEvent* Event) {
    // The wheel over the cells scrolls like the wheel over the scroll bar.
    QCoreApplication::sendEvent(FScrollBar, Event);
}

void TCustomEmulVT::SetFollowCursor(bool Value) {
    FFollowCursor = Value;
    FFollowPaused = false;
    FollowCursorRow();
}

void TCustomEmulVT::FollowCursorRow() {
    if (!FFollowCursor || FFollowPaused) return;
    const int visible = std::max(1, VisibleRows());
    const int cursorRow = FScreen->FRow;
    int top = FTopLine;
    if (cursorRow < top)
        top = cursorRow;
    else if (cursorRow >= top + visible)
        top = cursorRow - visible + 1;
    top = std::clamp(top, FScreen->FFirstBackRow, std::max(FScreen->FFirstBackRow, Rows() - visible));
    if (top == FTopLine) return;
    FTopLine = top;
    AdjustScrollBar();
    InvalidateRect(rect());
    SetCaret();
}

void TCustomEmulVT::resizeEvent(QResizeEvent*) {
    FScrollBar->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
    // A taller view has a shorter range: a position left past its end would keep the rows above out
    // of reach, with the scroll bar disabled once all rows fit.
    const int top = std::clamp(FTopLine, FScreen->FFirstBackRow,
                               std::max(FScreen->FFirstBackRow, Rows() - VisibleRows()));
    if (top != FTopLine) {
        FTopLine = top;
        SetCaret();
        update();
        NotifyAccessible();
    }
    AdjustScrollBar();
    FollowCursorRow();
}

// --- focus and caret -------------------------------------------------------------------------

void TCustomEmulVT::focusInEvent(QFocusEvent*) {
    FScreen->FHasFocus = true;
    if (FCaretEnabled) {
        FCaretCreated = true;
        SetCaret();
        if (!FScreen->FCursorOff) ShowCaret();
        const int flash = QGuiApplication::styleHints()->cursorFlashTime();
        if (flash > 0) FCaretTimer->start(flash / 2);
    }
    InstallAppMessageHook(true);
}

void TCustomEmulVT::focusOutEvent(QFocusEvent*) {
    FScreen->FHasFocus = false;
    if (FCaretEnabled) {
        HideCaret();
        FCaretCreated = false;
        FCaretTimer->stop();
    }
    InstallAppMessageHook(false);
}

void TCustomEmulVT::SetCaret() {
    QRect caret;
    const int row = FScreen->FRow - FTopLine;
    if (row >= 0 && row <= kLastVisibleRow && FLineHeight > 0) {
        const int col = std::min(FScreen->FCol, kColumnPositions - 1);
        caret = QRect(FColumnPos[col] + FLeftMargin + kCaretOffsetX,
                      FRowPos[row] + FTopMargin + kCaretOffsetY, kCaretWidth, FLineHeight);
    }
    if (caret == FCaretRect) return;
    if (FCaretShown) {
        InvalidateRect(FCaretRect);
        InvalidateRect(caret);
    }
    FCaretRect = caret;
}

void TCustomEmulVT::ShowCaret() {
    if (FCaretShown) return;
    FCaretShown = true;
    FCaretBlinkOn = true;
    if (FCaretTimer->isActive()) FCaretTimer->start(); // a shown caret starts a fresh blink
    InvalidateRect(FCaretRect);
}

void TCustomEmulVT::HideCaret() {
    if (!FCaretShown) return;
    FCaretShown = false;
    InvalidateRect(FCaretRect);
}

void TCustomEmulVT::ToggleCaretBlink() {
    FCaretBlinkOn = !FCaretBlinkOn;
    if (FCaretShown && !FCaretRect.isEmpty()) update(FCaretRect);
}

void TCustomEmulVT::CursorVisibleHandler(TScreen*) {
    if (FScreen->FCursorOff) {
        if (FCaretShown) HideCaret();
    } else if (FScreen->FHasFocus && FCaretCreated && !FCaretShown) {
        ShowCaret();
    }
}
} // namespace qorvel
