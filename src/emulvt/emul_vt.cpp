#include "emulvt/emul_vt.h"

#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "emulvt/char_tables.h"
#include "emulvt/view_accessible.h"

namespace qorvel {

namespace {

constexpr int kDefaultWidth = 250;
constexpr int kDefaultHeight = 100;
constexpr int kDefaultFontPoints = 12;
const char kBanner[] = "EmulVT";

} // namespace

TCustomEmulVT::TCustomEmulVT(QWidget* Owner) : QWidget(Owner) {
    // The view paints every pixel of its client area itself.
    setAttribute(Qt::WA_OpaquePaintEvent);

    for (int i = 0; i < kPaletteSize; ++i)
        FPaletteHandle[i] = qRgb(FColorTable[i].Red, FColorTable[i].Green, FColorTable[i].Blue);

    FScreen = std::make_unique<TScreen>();
    FScrollBar = new QScrollBar(Qt::Vertical, this);
    FViewFont = QFont(QStringLiteral("Terminal"), kDefaultFontPoints);
    UpdateFontMetrics();

    FScreen->FInputTable = NormalCharTable;
    FScreen->FOutputTable = NormalCharTable;
    FScreen->FOnCursorVisible = [this](TScreen* Sender) { CursorVisibleHandler(Sender); };

    FCaretEnabled = true;
    resize(kDefaultWidth, kDefaultHeight);
    FBorderStyle = bsSingle;
    FAutoRepaint = true;
    FFKeys = 1;
    setFocusPolicy(Qt::StrongFocus);

    FScrollBar->setFocusPolicy(Qt::NoFocus);
    FScrollBar->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
    FScrollBar->show();
    connect(FScrollBar, &QAbstractSlider::actionTriggered, this, [this](int) {
        if (!FAdjustingScrollBar) ScrollBarScroll(FScrollBar->sliderPosition());
    });
    AdjustScrollBar();

    FCaretTimer = new QTimer(this);
    connect(FCaretTimer, &QTimer::timeout, this, &TCustomEmulVT::ToggleCaretBlink);
    FFlushTimer = new QTimer(this);
    FFlushTimer->setSingleShot(true);
    connect(FFlushTimer, &QTimer::timeout, this, &TCustomEmulVT::FlushInvalidation);

    FScreen->GotoXY(0, 0);
    FScreen->WriteStr(kBanner);
    FScreen->GotoXY(0, 1);
    InstallViewAccessibleFactory();
}

TCustomEmulVT::~TCustomEmulVT() {
    InstallAppMessageHook(false);
    try {
        if (FLog) SetLog(false);
    } catch (const ERawLogError&) {
        // A destructor cannot report; what could not be written is lost either way.
    }
}

// --- write path ------------------------------------------------------------------------------

void TCustomEmulVT::WriteChar(uint8_t Ch) {
    if (FCaretCreated && FCaretShown) HideCaret();
    if (FLog) LogByte(Ch);
    FScreen->WriteChar(Ch);
    if (FAutoRepaint) UpdateScreen();
}

void TCustomEmulVT::WriteText(std::string_view S) {
    if (FCaretCreated && FCaretShown) HideCaret();
    if (FLog) {
        try {
            for (char c : S) {
                LogByte(uint8_t(c));
                FScreen->WriteChar(uint8_t(c));
            }
        } catch (const ERawLogError&) {
            // The bytes before the failing one were interpreted: show them before reporting.
            if (FAutoRepaint) UpdateScreen();
            throw;
        }
    } else {
        FScreen->WriteStr(S);
    }
    if (FAutoRepaint) UpdateScreen();
}

void TCustomEmulVT::LogByte(uint8_t Ch) {
    FLogFile.Write(char(Ch));
}

void TCustomEmulVT::ClearScreen() {
    ClearSelection();
    FScreen->ClearScreen();
}

void TCustomEmulVT::UpdateScreen() {
    TrackSelection();
    FollowCursorRow();
    if (FScreen->FAllInvalid) {
        InvalidateRect(rect());
    } else if (FScreen->FInvRect.Left != kNoInvalidCol) {
        // Changed cells outside the position tables (past column 160, outside the shown rows)
        // are clipped away.
        const TRect& r = FScreen->FInvRect;
        const int left = std::clamp(r.Left, 0, kColumnPositions - 1);
        const int right = std::clamp(r.Right + 1, 0, kColumnPositions - 1);
        const int top = std::clamp(r.Top - FTopLine, 0, kRowPositions - 1);
        const int bottom = std::clamp(r.Bottom + 1 - FTopLine, 0, kRowPositions - 1);
        const int x0 = FColumnPos[left] + FLeftMargin;
        const int x1 = FColumnPos[right] + FLeftMargin;
        const int y0 = FRowPos[top] + FTopMargin + FInternalLeading;
        const int y1 = FRowPos[bottom] + FTopMargin + FInternalLeading;
        if (x1 > x0 && y1 > y0) InvalidateRect(QRect(x0, y0, x1 - x0, y1 - y0));
    }
    const QRect cursorCell = CaretCellRect();
    if (!cursorCell.isEmpty()) InvalidateRect(cursorCell);
    FScreen->ClearInvalid();
    if (FCaretCreated && !FScreen->FCursorOff) ShowCaret();
    SetCaret();
    NotifyAccessible();
}

void TCustomEmulVT::NotifyAccessible() {
    if (ViewAccessibilityActive()) ViewAccessibleChanged(this);
}

void TCustomEmulVT::InvalidateRect(const QRect& Area) {
    // Text changes leave the scroll bar at the right edge alone: it repaints itself when it changes.
    const QRect R = FScrollBar && !FScrollBar->isHidden() ? Area.intersected(QRect(0, 0, FScrollBar->x(), height()))
                                                          : Area;
    if (R.isEmpty()) return;
    if (!FFlushTimer->isActive() && (!FLastFlush.isValid() || FLastFlush.elapsed() >= kMinPaintIntervalMs)) {
        update(R);
        FLastFlush.start();
        return;
    }
    FPendingRegion += R;
    if (!FFlushTimer->isActive())
        FFlushTimer->start(int(std::max<qint64>(0, kMinPaintIntervalMs - FLastFlush.elapsed())));
}

void TCustomEmulVT::FlushInvalidation() {
    if (FPendingRegion.isEmpty()) return;
    update(FPendingRegion);
    FPendingRegion = QRegion();
    FLastFlush.start();
}

// --- properties --------------------------------------------------------------------------------

void TCustomEmulVT::SetRows(int Value) {
    // The model needs at least one row and at most kMaxTotalRows rows with the back rows.
    Value = std::clamp(Value, 1, std::max(1, kMaxTotalRows - BackRows()));
    if (Value == Rows()) return;
    ClearSelection();
    FScreen->SetRowCount(Value);
    AdjustScrollBar();
    FScreen->ClearScreen();
    repaint();
}

void TCustomEmulVT::SetCols(int Value) {
    // Lines hold kLineCells cells, so the column count stays within them.
    Value = std::clamp(Value, 1, kLineCells);
    if (Value == Cols()) return;
    ClearSelection();
    FScreen->FColCount = Value;
    FScreen->ClearScreen();
    repaint();
}

void TCustomEmulVT::SetBackRows(int Value) {
    Value = std::clamp(Value, 0, std::max(0, kMaxTotalRows - Rows()));
    if (Value == BackRows()) return;
    ClearSelection();
    FScreen->SetBackRowCount(Value);
    // A view scrolled into back rows that no longer exist moves to the oldest one left.
    if (FTopLine < FScreen->FFirstBackRow) {
        FTopLine = FScreen->FFirstBackRow;
        SetCaret();
        update();
    }
    AdjustScrollBar();
}

void TCustomEmulVT::SetBackColor(TBackColors Value) {
    if (Value == FScreen->FBackColor) return;
    FScreen->FBackColor = Value;
    update();
}

void TCustomEmulVT::SetOptions(TScreenOptions Value) {
    if (Value == FScreen->FOptions) return;
    FScreen->FOptions = Value;
    update();
}

void TCustomEmulVT::SetLineHeight(int Value) {
    if (Value == FLineHeight) return;
    FLineHeight = Value;
    for (int i = 0; i < kRowPositions; ++i)
        FRowPos[i] = i * Value;
}

void TCustomEmulVT::SetCharWidth(int Value) {
    if (Value == FCharWidth) return;
    FCharWidth = Value;
    for (int i = 0; i < kColumnPositions; ++i)
        FColumnPos[i] = i * Value;
}

void TCustomEmulVT::SetFont(const QFont& Value) {
    FViewFont = Value;
    UpdateFontMetrics();
    SetCaret();
}

void TCustomEmulVT::SetTextSize(int CharWidth, int LineHeight) {
    QFont font = FViewFont;
    font.setPixelSize(std::max(1, LineHeight));
    SetFont(font);
    SetCharWidth(CharWidth);
    SetLineHeight(LineHeight);
    AdjustScrollBar();
    SetCaret();
    FollowCursorRow();
    update();
}

void TCustomEmulVT::SetXlat(bool Value) {
    FScreen->FTranslateInput = !Value;
    FScreen->FTranslateInputDefault = !Value;
}

void TCustomEmulVT::SetLog(bool Value) {
    if (Value == FLog) return;
    FLog = Value;
    if (FLog)
        FLogFile.Open();
    else
        FLogFile.Close();
}

void TCustomEmulVT::SetTopMargin(int Value) {
    if (Value == FTopMargin) return;
    FTopMargin = Value;
    update();
}

void TCustomEmulVT::SetLeftMargin(int Value) {
    if (Value == FLeftMargin) return;
    FLeftMargin = Value;
    update();
}

void TCustomEmulVT::SetRightMargin(int Value) {
    if (Value == FRightMargin) return;
    FRightMargin = Value;
    update();
}

void TCustomEmulVT::SetBottomMargin(int Value) {
    if (Value == FBottomMargin) return;
    FBottomMargin = Value;
    update();
}

void TCustomEmulVT::SetMarginColor(int Value) {
    if (Value == FMarginColor) return;
    FMarginColor = Value;
    update();
}

void TCustomEmulVT::UpdateFontMetrics() {
    const TCellMetrics m = FontCellMetrics(FViewFont);
    SetCharWidth(m.CharWidth);
    SetLineHeight(m.LineHeight);
    FInternalLeading = m.InternalLeading;
    update();
}
} // namespace qorvel
