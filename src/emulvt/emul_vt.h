#pragma once
// The visible terminal control: a widget that owns one screen model, feeds it the bytes it is
// given, and paints the model's rows with a 16-colour palette, pixel margins, its own caret and
// a scroll bar for the back rows.
#include <QElapsedTimer>
#include <QFont>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "emulvt/fkey_tables.h"
#include "emulvt/keyboard.h"
#include "emulvt/raw_log.h"
#include "emulvt/screen.h"
#include "emulvt/view_glyphs.h"

class QContextMenuEvent;
class QKeyEvent;
class QWheelEvent;
class QPainter;
class QScrollBar;
class QTimer;

namespace qorvel {

enum class TBorderStyle : uint8_t { bsNone, bsSingle };
using enum TBorderStyle;

struct TPaletteEntry {
    uint8_t Red, Green, Blue, Flags;
};

constexpr int kPaletteSize = 16;
constexpr uint8_t kPaletteNoCollapse = 4;
// Indexes 0-7 in the order of TBackColors, 8-15 the bright variants; 6 and 9 are deliberate.
constexpr std::array<TPaletteEntry, kPaletteSize> kViewColorTable = {{
    {0, 0, 0, kPaletteNoCollapse},
    {168, 0, 0, kPaletteNoCollapse},
    {0, 168, 0, kPaletteNoCollapse},
    {168, 168, 0, kPaletteNoCollapse},
    {0, 0, 168, kPaletteNoCollapse},
    {168, 0, 168, kPaletteNoCollapse},
    {0, 112, 216, kPaletteNoCollapse},
    {200, 200, 200, kPaletteNoCollapse},
    {84, 84, 84, kPaletteNoCollapse},
    {255, 84, 212, kPaletteNoCollapse},
    {84, 255, 84, kPaletteNoCollapse},
    {255, 255, 84, kPaletteNoCollapse},
    {84, 84, 255, kPaletteNoCollapse},
    {255, 84, 255, kPaletteNoCollapse},
    {84, 255, 255, kPaletteNoCollapse},
    {255, 255, 255, kPaletteNoCollapse},
}};

constexpr int kColumnPositions = 162; // columns 0..160 and the right edge of column 160
constexpr int kRowPositions = 52;     // visible rows 0..50 and the bottom edge of row 50
constexpr int kScrollBarWidth = 16;
constexpr int kCaretWidth = 2;
constexpr int kMinPaintIntervalMs = 16; // a data flood repaints at most this often

class TCustomEmulVT;
class TViewAccessible;

// A cell of the model: Row 0 is the top row of the screen, negative rows are back rows.
struct TCellPos {
    int Row = 0;
    int Col = 0;
    auto operator<=>(const TCellPos&) const = default;
};

// Events of the keyboard handling; the sender comes first.
using TKeyPressEvent = std::function<void(TCustomEmulVT* Sender, char& Key)>;
using TKeyBufferEvent = std::function<void(TCustomEmulVT* Sender, const char* Buffer, int Len)>;
using TKeyDownEvent = std::function<void(TCustomEmulVT* Sender, int& VirtKey, TShiftState& Shift,
                                         bool& ShiftLock, char& ScanCode, bool& Ext)>;

// The key-down steps call back into the view through TKeyboardHost.
class TCustomEmulVT : public QWidget, protected TKeyboardHost {
    Q_OBJECT
    friend class TViewAccessible; // reads the cell geometry to place characters for screen readers

public:
    explicit TCustomEmulVT(QWidget* Owner = nullptr);
    ~TCustomEmulVT() override;

    // Feed bytes to the model; WriteText updates the window once per call when AutoRepaint is on
    // (an empty text only updates).
    void WriteChar(uint8_t Ch);
    void WriteText(std::string_view S);
    // Blanks the model's screen; nothing is painted until the next UpdateScreen.
    void ClearScreen();
    // Invalidates what the model changed and the cursor cell, and shows the caret again.
    void UpdateScreen();

    TScreen* Screen() const { return FScreen.get(); }
    int TopLine() const { return FTopLine; }
    int InternalLeading() const { return FInternalLeading; }
    bool CaretCreated() const { return FCaretCreated; }
    bool CaretShown() const { return FCaretShown; }
    // Where the caret is drawn (empty when its cell is outside the visible rows).
    QRect CaretRect() const { return FCaretRect; }
    QScrollBar* ScrollBar() const { return FScrollBar; }
    const TGlyphAtlas& GlyphAtlas() const { return FGlyphs; }

    // Rows that fit the window, and the view's scroll position as a scroll by hand sets it.
    int VisibleRows() const;
    void ScrollTo(int TopLine);
    // Which cell a client pixel lies in, held inside the shown rows and the columns.
    TCellPos CellAt(QPoint P) const;

    // --- selection: drawn inverted, follows its text while the screen scrolls ----------------
    bool HasSelection() const { return FSelection.Active; }
    TCellPos SelectionStart() const { return std::min(FSelection.Anchor, FSelection.Caret); }
    TCellPos SelectionEnd() const { return std::max(FSelection.Anchor, FSelection.Caret); }
    // Selects the cells from one to the other (both included) in reading order.
    void Select(TCellPos From, TCellPos To);
    void ClearSelection();
    // Code page 437 as Unicode, trailing blanks of each row trimmed, rows joined by newlines.
    QString SelectedText() const;
    // Puts the selected text on the clipboard and into the primary selection.
    void CopySelection();

    // --- following the cursor: new data scrolls the view so the cursor row stays shown ----------
    // Scrolling by hand to where the cursor row is not shown pauses it until the row is back.
    bool FollowCursor() const { return FFollowCursor; }
    void SetFollowCursor(bool Value);
    bool FollowPaused() const { return FFollowPaused; }

    // Cell size and font together: the terminal font at a pixel size of the line height.
    void SetTextSize(int CharWidth, int LineHeight);

protected:
    // --- properties (published by TEmulVT) ---------------------------------------------------
    int Rows() const { return FScreen->FRowCount; }
    void SetRows(int Value);
    int Cols() const { return FScreen->FColCount; }
    void SetCols(int Value);
    int BackRows() const { return FScreen->FBackRowCount; }
    void SetBackRows(int Value);
    TBackColors BackColor() const { return FScreen->FBackColor; }
    void SetBackColor(TBackColors Value);
    TScreenOptions Options() const { return FScreen->FOptions; }
    void SetOptions(TScreenOptions Value);
    int LineHeight() const { return FLineHeight; }
    void SetLineHeight(int Value);
    int CharWidth() const { return FCharWidth; }
    void SetCharWidth(int Value);
    const QFont& Font() const { return FViewFont; }
    void SetFont(const QFont& Value);
    bool LocalEcho() const { return FLocalEcho; }
    void SetLocalEcho(bool Value) { FLocalEcho = Value; }
    bool AutoLF() const { return FScreen->FAutoLF; }
    void SetAutoLF(bool Value) { FScreen->FAutoLF = Value; }
    bool AutoCR() const { return FScreen->FAutoCR; }
    void SetAutoCR(bool Value) { FScreen->FAutoCR = Value; }
    bool Xlat() const { return !FScreen->FTranslateInputDefault; }
    void SetXlat(bool Value);
    bool MonoChrome() const { return FMonoChrome; }
    void SetMonoChrome(bool Value) { FMonoChrome = Value; }
    bool Log() const { return FLog; }
    void SetLog(bool Value);
    bool AutoRepaint() const { return FAutoRepaint; }
    void SetAutoRepaint(bool Value) { FAutoRepaint = Value; }
    int FKeys() const { return FFKeys; }
    void SetFKeys(int Value) { FFKeys = Value; }
    int TopMargin() const { return FTopMargin; }
    void SetTopMargin(int Value);
    int LeftMargin() const { return FLeftMargin; }
    void SetLeftMargin(int Value);
    int RightMargin() const { return FRightMargin; }
    void SetRightMargin(int Value);
    int BottomMargin() const { return FBottomMargin; }
    void SetBottomMargin(int Value);
    int MarginColor() const { return FMarginColor; }
    void SetMarginColor(int Value);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value) { FBorderStyle = Value; }

    // Keyboard events: OnKeyPress sees each typed character, OnKeyBuffer each function-key
    // sequence, OnKeyDown every key-down first.
    TKeyPressEvent OnKeyPress;
    TKeyBufferEvent OnKeyBuffer;
    TKeyDownEvent OnKeyDown;

    // --- window events ------------------------------------------------------------------------
    void paintEvent(QPaintEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    // The character path: keys the key-down hook leaves type their text.
    void keyPressEvent(QKeyEvent* Event) override;
    // The application-wide key-down hook, installed on the application while the view has the focus.
    bool eventFilter(QObject* Watched, QEvent* Event) override;

    // Marks a client rectangle for repainting without erasing. During a data flood the marks are
    // gathered and handed to the window system at most every kMinPaintIntervalMs.
    virtual void InvalidateRect(const QRect& R);

    // --- internal operations ------------------------------------------------------------------
    void SetCaret();
    void AdjustScrollBar();
    void UpdateFontMetrics();
    int PixelToRow(int Y) const;
    void ScrollBarScroll(int ScrollPos);
    void CursorVisibleHandler(TScreen* Sender);
    void PaintRun(QPainter& DC, int Y, int Y2, const TLine& Line, int StartCol, int EndCol, bool Inverted);

    // --- keyboard ------------------------------------------------------------------------------
    // Translates through the output table when Xlat is on, fires OnKeyPress, echoes if LocalEcho.
    void KeyPress(char& Key) override;
    // OnKeyBuffer if assigned, otherwise KeyPress for every byte.
    void DoKeyBuffer(const char* Buffer, std::int32_t Len) override;
    const TFKeyEntry* FindFKey(std::uint8_t ScanCode, TShiftState Shift, bool Ext) const;
    bool ProcessFKeys(std::uint8_t ScanCode, TShiftState Shift, bool Ext);
    // Handled stays false for everything but the view's own key-downs that the key steps take.
    void AppMessageHandler(QObject* Receiver, QEvent* Msg, bool& Handled);

private:
    // Table lookups that stay inside the tables; callers skip what lies outside.
    int ColumnPos(int Col) const;
    int RowPos(int VisibleRow) const;
    QRgb PaletteColor(int Index) const;
    QRect CaretCellRect() const;
    void ShowCaret();
    void HideCaret();
    void ToggleCaretBlink();
    void FlushInvalidation();
    void FillMargin(QPainter& DC, const QBrush& Brush, int Left, int Top, int Right, int Bottom);
    // Selected columns [From, To) of a model row; false when none of it is selected.
    bool SelectedColumns(int Row, int& From, int& To) const;
    // Moves the selection with its lines after the model changed; drops it when they are gone.
    void TrackSelection();
    int FindLineRow(const TLine* Line, int Near) const;
    void SetSelection(TCellPos Anchor, TCellPos Caret);
    void SelectWordAt(TCellPos Cell);
    void PublishPrimarySelection();
    bool IsCopyChord(const QKeyEvent& Event) const;
    // Brings the cursor row into view when following is on and not paused.
    void FollowCursorRow();
    // Tells a listening assistive technology that the shown text may have changed.
    void NotifyAccessible();
    // Raw log: appends one byte before the model interprets it (only while Log is on).
    void LogByte(uint8_t Ch);
    // TKeyboardHost
    int FKeysValue() const override { return FFKeys; }
    bool KeyDown(int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                 bool& Ext) override;
    void ShowKeyCapture(const std::string& Line, const std::string& Caption) override;
    void InstallAppMessageHook(bool Install);
    // True when Event is the key press whose shortcut check already ran the key-down steps.
    bool TakeKeyDownVerdict(const QKeyEvent& Event, bool& Handled);

    std::array<int32_t, kColumnPositions> FColumnPos{};
    std::array<int32_t, kRowPositions> FRowPos{};
    bool FCaretEnabled = false;
    bool FCaretShown = false;
    bool FCaretCreated = false;
    int32_t FLineHeight = 0;
    int32_t FCharWidth = 0;
    int32_t FInternalLeading = 0;
    TBorderStyle FBorderStyle = bsSingle;
    bool FAutoRepaint = true;
    QFont FViewFont;
    QScrollBar* FScrollBar = nullptr; // child widget, owned through Qt's parent
    int32_t FTopLine = 0;
    bool FLocalEcho = false;
    int32_t FFKeys = 1;
    bool FMonoChrome = false;
    bool FLog = false;
    TKeyTranslator FKeyTranslator; // FCircumflexPending, FDiaeresisPending
    TRawLog FLogFile;              // "EMULVT.LOG" in the current folder
    bool FAppHookInstalled = false;
    // The key-down steps run at the shortcut check that precedes a key press, so that no shortcut
    // takes a key the view handles; the key press that follows only carries out their verdict.
    struct TKeyDownVerdict {
        int Key = 0;
        Qt::KeyboardModifiers Modifiers;
        quint64 Timestamp = 0;
        bool Handled = false;
    };
    std::optional<TKeyDownVerdict> FKeyDownVerdict;
    int32_t FTopMargin = 4;
    int32_t FLeftMargin = 6;
    int32_t FRightMargin = 6;
    int32_t FBottomMargin = 4;
    std::array<TPaletteEntry, kPaletteSize> FColorTable = kViewColorTable;
    std::array<QRgb, kPaletteSize> FPaletteHandle{}; // the palette as the painter uses it
    int32_t FMarginColor = 0;
    std::unique_ptr<TScreen> FScreen;

    TGlyphAtlas FGlyphs;
    QRect FCaretRect;
    bool FCaretBlinkOn = true;
    QTimer* FCaretTimer = nullptr;
    QTimer* FFlushTimer = nullptr;
    QRegion FPendingRegion;
    QElapsedTimer FLastFlush;
    bool FAdjustingScrollBar = false;

    struct TSelection {
        bool Active = false;
        TCellPos Anchor, Caret; // where the drag began and where it is now
        // The lines holding the two ends: the selection moves with them when the screen scrolls.
        const TLine* AnchorLine = nullptr;
        const TLine* CaretLine = nullptr;
        uint32_t AnchorGeneration = 0, CaretGeneration = 0;
    };
    TSelection FSelection;
    bool FDragging = false;
    TCellPos FPressCell;
    QElapsedTimer FLastDoubleClick; // a press soon after a double-click selects the row
    bool FFollowCursor = false;
    bool FFollowPaused = false;
};

// The published form of the view: every property and event accessible.
class TEmulVT : public TCustomEmulVT {
    Q_OBJECT

public:
    using TCustomEmulVT::TCustomEmulVT;

    using TCustomEmulVT::AutoCR;
    using TCustomEmulVT::AutoLF;
    using TCustomEmulVT::AutoRepaint;
    using TCustomEmulVT::BackColor;
    using TCustomEmulVT::BackRows;
    using TCustomEmulVT::BorderStyle;
    using TCustomEmulVT::BottomMargin;
    using TCustomEmulVT::CharWidth;
    using TCustomEmulVT::Cols;
    using TCustomEmulVT::FKeys;
    using TCustomEmulVT::Font;
    using TCustomEmulVT::LeftMargin;
    using TCustomEmulVT::LineHeight;
    using TCustomEmulVT::LocalEcho;
    using TCustomEmulVT::Log;
    using TCustomEmulVT::MarginColor;
    using TCustomEmulVT::MonoChrome;
    using TCustomEmulVT::Options;
    using TCustomEmulVT::RightMargin;
    using TCustomEmulVT::Rows;
    using TCustomEmulVT::SetAutoCR;
    using TCustomEmulVT::SetAutoLF;
    using TCustomEmulVT::SetAutoRepaint;
    using TCustomEmulVT::SetBackColor;
    using TCustomEmulVT::SetBackRows;
    using TCustomEmulVT::SetBorderStyle;
    using TCustomEmulVT::SetBottomMargin;
    using TCustomEmulVT::SetCharWidth;
    using TCustomEmulVT::SetCols;
    using TCustomEmulVT::SetFKeys;
    using TCustomEmulVT::SetFont;
    using TCustomEmulVT::SetLeftMargin;
    using TCustomEmulVT::SetLineHeight;
    using TCustomEmulVT::SetLocalEcho;
    using TCustomEmulVT::SetLog;
    using TCustomEmulVT::SetMarginColor;
    using TCustomEmulVT::SetMonoChrome;
    using TCustomEmulVT::SetOptions;
    using TCustomEmulVT::SetRightMargin;
    using TCustomEmulVT::SetRows;
    using TCustomEmulVT::SetTopMargin;
    using TCustomEmulVT::SetXlat;
    using TCustomEmulVT::TopMargin;
    using TCustomEmulVT::Xlat;

    using TCustomEmulVT::OnKeyBuffer;
    using TCustomEmulVT::OnKeyDown;
    using TCustomEmulVT::OnKeyPress;
};

} // namespace qorvel
