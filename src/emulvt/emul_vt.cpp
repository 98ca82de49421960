#include "emulvt/emul_vt.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "emulvt/char_tables.h"
#include "emulvt/keyboard_qt.h"
#include "emulvt/view_accessible.h"

namespace qorvel {

namespace {

constexpr int kDefaultWidth = 250;
constexpr int kDefaultHeight = 100;
constexpr int kDefaultFontPoints = 12;
constexpr int kCaretOffsetX = 2;
constexpr int kCaretOffsetY = 3;
constexpr int kLastCellColumn = kColumnPositions - 2; // 160: the last column with a right edge
constexpr int kLastVisibleRow = kRowPositions - 2;    // 50: the last row with a bottom edge
constexpr QRgb kMonoGrey = 0xFF7F7F7F;
constexpr QRgb kMonoWhite = 0xFFFFFFFF;
constexpr QRgb kMonoBlack = 0xFF000000;
const char kBanner[] = "EmulVT";

// Halves go to the even neighbour, whatever the floating-point rounding mode.
int RoundHalfEven(double Value) {
    const double lower = std::floor(Value);
    const double diff = Value - lower;
    if (diff > 0.5) return int(lower) + 1;
    if (diff < 0.5) return int(lower);
    return (std::fmod(lower, 2.0) == 0.0) ? int(lower) : int(lower) + 1;
}

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
    FScreen->ClearScreen();
}

void TCustomEmulVT::UpdateScreen() {
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

void TCustomEmulVT::InvalidateRect(const QRect& R) {
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
    FScreen->SetRowCount(Value);
    AdjustScrollBar();
    FScreen->ClearScreen();
    repaint();
}

void TCustomEmulVT::SetCols(int Value) {
    // Lines hold kLineCells cells, so the column count stays within them.
    Value = std::clamp(Value, 1, kLineCells);
    if (Value == Cols()) return;
    FScreen->FColCount = Value;
    FScreen->ClearScreen();
    repaint();
}

void TCustomEmulVT::SetBackRows(int Value) {
    Value = std::clamp(Value, 0, std::max(0, kMaxTotalRows - Rows()));
    if (Value == BackRows()) return;
    FScreen->SetBackRowCount(Value);
    // A view scrolled into back rows that no longer exist moves to the oldest one left.
    if (FTopLine < FScreen->FFirstBackRow) FTopLine = FScreen->FFirstBackRow;
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

void TCustomEmulVT::AdjustScrollBar() {
    if (FScrollBar->isHidden()) return;
    const int minimum = FScreen->FFirstBackRow;
    int visible = Rows();
    if (FLineHeight > 0) {
        visible = std::max(0, RoundHalfEven(double(height() - FTopMargin - FBottomMargin) / FLineHeight));
        if (Rows() < visible) visible = Rows();
    }
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
    SetCaret();
    repaint();
    NotifyAccessible();
    setFocus(Qt::OtherFocusReason);
}

void TCustomEmulVT::resizeEvent(QResizeEvent*) {
    FScrollBar->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
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

void TCustomEmulVT::mousePressEvent(QMouseEvent* Event) {
    QWidget::mousePressEvent(Event);
    if (Event->button() == Qt::LeftButton) setFocus(Qt::MouseFocusReason);
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

// --- painting ------------------------------------------------------------------------------------

QRgb TCustomEmulVT::PaletteColor(int Index) const {
    return FPaletteHandle[std::size_t(Index) & 15];
}

// Fills like a borderless rectangle from (Left, Top) to (Right, Bottom): the right and bottom
// lines of that rectangle are left out.
void TCustomEmulVT::FillMargin(QPainter& DC, const QBrush& Brush, int Left, int Top, int Right, int Bottom) {
    if (Right - 1 > Left && Bottom - 1 > Top)
        DC.fillRect(QRect(Left, Top, Right - 1 - Left, Bottom - 1 - Top), Brush);
}

void TCustomEmulVT::paintEvent(QPaintEvent* Event) {
    AdjustScrollBar();
    if (Event->region().isEmpty()) return;

    const QRect p = Event->rect();
    const int pLeft = p.left(), pTop = p.top();
    const int pRight = p.x() + p.width(), pBottom = p.y() + p.height(); // exclusive
    const int W = width(), H = height();
    QPainter dc(this);

    // Any negative margin colour other than -1 wraps into the palette like positive ones do.
    const int marginIndex = FMarginColor == -1 ? (FScreen->FAttribute >> 4) : ((FMarginColor % 16) + 16) % 16;
    const QBrush margin(QColor::fromRgb(FMonoChrome ? kMonoWhite : PaletteColor(marginIndex)));

    if (FLineHeight <= 0 || FCharWidth <= 0) {
        // No cells can be laid out: the whole area is margin.
        dc.fillRect(p, margin);
        return;
    }
    FGlyphs.Prepare(FViewFont, FCharWidth, FLineHeight, FInternalLeading);

    const int f = std::max(PixelToRow(pTop) - 1, 0);
    int y0 = RowPos(f) + FTopMargin;
    int y1 = RowPos(f + 1) + FTopMargin;

    if (FTopMargin >= pTop)
        FillMargin(dc, margin, pLeft, pTop, pRight + 1, FTopMargin + FInternalLeading + 1);
    if (f == 0 && FInternalLeading > 0)
        FillMargin(dc, margin, pLeft, pTop, pRight + 1, y0 + FInternalLeading + 1);

    const int cols = std::min(Cols(), kColumnPositions - 1);
    for (int s = FTopLine + f; s < Rows();) {
        if (H - FBottomMargin < y0 + FLineHeight) {
            // A row that does not fit is not drawn; margin colour covers it to the edges.
            dc.fillRect(QRect(0, y0, W, H - y0), margin);
            break;
        }
        if (s >= -BackRows()) {
            const TLine& line = *FScreen->GetLine(s);
            for (int a = 0; a < cols;) {
                int b = a + 1;
                while (b < cols && line.Att[b] == line.Att[a])
                    ++b;
                PaintRun(dc, y0, y1, line, a, b);
                a = b;
            }
        } else {
            dc.fillRect(QRect(0, y0 + FInternalLeading, W, FLineHeight), margin);
        }
        ++s;
        const int next = s - FTopLine;
        if (next > kLastVisibleRow) break; // rows past the position table are not shown
        y0 = RowPos(next) + FTopMargin;
        y1 = RowPos(next + 1) + FTopMargin;
        if (y0 > pBottom) break;
    }

    const int shownRows = Rows() - FTopLine;
    FillMargin(dc, margin, 0, RowPos(std::min(shownRows, kRowPositions - 1)) + FTopMargin, W + 1, H + 1);
    const int columnsEnd = ColumnPos(cols) + FLeftMargin;
    if (columnsEnd < W - 2) FillMargin(dc, margin, columnsEnd, FTopMargin, pRight + 1, H + 1);

    if (FCaretCreated && FCaretShown && FCaretBlinkOn && !FCaretRect.isEmpty()) {
        dc.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        dc.fillRect(FCaretRect, Qt::white);
    }
}

void TCustomEmulVT::PaintRun(QPainter& DC, int Y, int Y2, const TLine& Line, int StartCol, int EndCol) {
    const uint8_t a = Line.Att[StartCol];
    QRgb background, foreground;
    if (!FMonoChrome) {
        background = PaletteColor(a >> 4);
        foreground = PaletteColor(a & 15);
    } else {
        background = a >= 15 ? kMonoGrey : kMonoWhite;
        foreground = (a & 15) != 0 ? kMonoBlack : kMonoWhite;
    }
    const QImage& glyphs = FGlyphs.Colored(foreground, background);
    const int top = Y + FInternalLeading;
    const int height = Y2 - Y;
    const int lastCol = std::min(Cols(), kColumnPositions - 1) - 1;
    for (int k = StartCol; k < EndCol; ++k) {
        const int x = FColumnPos[k] + FLeftMargin;
        // The first column's cell covers the left margin, the last one's the right margin.
        if (k == 0 && x > 0) DC.fillRect(QRect(0, top, x, height), background);
        if (k == lastCol && FRightMargin > 0)
            DC.fillRect(QRect(FColumnPos[k + 1] + FLeftMargin, top, FRightMargin, height), background);
        DC.drawImage(QPoint(x, top), glyphs, FGlyphs.Source(Line.Txt[k]));
    }
}

// --- keyboard --------------------------------------------------------------------------------

void TCustomEmulVT::InstallAppMessageHook(bool Install) {
    if (Install == FAppHookInstalled || !qApp) return;
    // Qt asks the filter installed last first and passes what it leaves on to the earlier ones,
    // which chains the previous hook for every key the view does not handle.
    if (Install)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
    FAppHookInstalled = Install;
}

bool TCustomEmulVT::eventFilter(QObject* Watched, QEvent* Event) {
    bool Handled = false;
    AppMessageHandler(Watched, Event, Handled);
    return Handled || QWidget::eventFilter(Watched, Event);
}

void TCustomEmulVT::AppMessageHandler(QObject* Receiver, QEvent* Msg, bool& Handled) {
    if (Receiver != this) return;
    if (Msg->type() != QEvent::ShortcutOverride && Msg->type() != QEvent::KeyPress) return;
    auto* key = static_cast<QKeyEvent*>(Msg);
    if (Msg->type() == QEvent::KeyPress && TakeKeyDownVerdict(*key, Handled)) return;
    FKeyDownVerdict.reset();
    Handled = FKeyTranslator.KeyDownMessage(KeyMessageFromEvent(*key), *this);
    if (Msg->type() == QEvent::ShortcutOverride) {
        FKeyDownVerdict = TKeyDownVerdict{key->key(), key->modifiers(), key->timestamp(), Handled};
        // Accepting the check keeps shortcuts away from a handled key; an unhandled one may still
        // trigger a shortcut, and then no key press follows.
        if (Handled) key->accept();
    }
}

bool TCustomEmulVT::TakeKeyDownVerdict(const QKeyEvent& Event, bool& Handled) {
    if (!FKeyDownVerdict || FKeyDownVerdict->Key != Event.key() ||
        FKeyDownVerdict->Modifiers != Event.modifiers() || FKeyDownVerdict->Timestamp != Event.timestamp())
        return false;
    Handled = FKeyDownVerdict->Handled;
    FKeyDownVerdict.reset();
    return true;
}

void TCustomEmulVT::keyPressEvent(QKeyEvent* Event) {
    // The hook may be gone by now (a capture message box took the focus): a key it already
    // handled must not type its text as well.
    bool handled = false;
    if (TakeKeyDownVerdict(*Event, handled) && handled) return;
    const std::string bytes = KeyTextBytes(*Event);
    if (bytes.empty()) {
        QWidget::keyPressEvent(Event);
        return;
    }
    for (char c : bytes) {
        char Key = c;
        KeyPress(Key);
    }
}

void TCustomEmulVT::KeyPress(char& Key) {
    if (!FScreen->FTranslateInput) Key = char(FScreen->FOutputTable[uint8_t(Key)]);
    if (OnKeyPress) OnKeyPress(this, Key);
    if (FLocalEcho) {
        WriteChar(uint8_t(Key));
        if (!FAutoRepaint) UpdateScreen();
    }
}

void TCustomEmulVT::DoKeyBuffer(const char* Buffer, std::int32_t Len) {
    if (OnKeyBuffer) {
        OnKeyBuffer(this, Buffer, Len);
        return;
    }
    for (std::int32_t i = 0; i < Len; ++i) {
        char Key = Buffer[i];
        KeyPress(Key);
    }
}

const TFKeyEntry* TCustomEmulVT::FindFKey(std::uint8_t ScanCode, TShiftState Shift, bool Ext) const {
    return qorvel::FindFKey(SelectFKeyTable(FFKeys), ScanCode, Shift, Ext);
}

bool TCustomEmulVT::ProcessFKeys(std::uint8_t ScanCode, TShiftState Shift, bool Ext) {
    return qorvel::ProcessFKeys(*this, ScanCode, Shift, Ext);
}

bool TCustomEmulVT::KeyDown(int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                            bool& Ext) {
    if (!OnKeyDown) return false;
    char scan = char(ScanCode);
    OnKeyDown(this, VirtKey, Shift, ShiftLock, scan, Ext);
    ScanCode = uint8_t(scan);
    return true;
}

void TCustomEmulVT::ShowKeyCapture(const std::string& Line, const std::string& Caption) {
    const QString line = QString::fromLatin1(Line.data(), qsizetype(Line.size()));
    QGuiApplication::clipboard()->setText(line);
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(Caption.data(), qsizetype(Caption.size())), line,
                    QMessageBox::Ok, this);
    box.exec();
}

} // namespace qorvel
