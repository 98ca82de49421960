#pragma once
// Character-cell screen model of the terminal and its byte-by-byte interpreter.
// No Qt, no I/O: the view feeds bytes in and reads lines, cursor and change record out.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "emulvt/char_tables.h"

namespace qorvel {

constexpr int kLineCells = 161;           // cells 0..160 in every line, whatever the column count
constexpr int kLastCell = kLineCells - 1; // the cell that absorbs characters written past the end
constexpr int kMaxTotalRows = 16383;      // visible plus back rows
constexpr int kEscBufferSize = 80;        // collected escape text reaching this length is dropped
constexpr uint8_t kDefaultAttribute = 7;  // colour 7 on colour 0
constexpr int kNoInvalidCol = 9999;       // FInvRect.Left / Top when nothing changed
constexpr unsigned MB_ICONASTERISK = 0x40;

// Counter of the numbered debug lines, shared by every screen of the process (main thread only).
extern int32_t DebugLineCount;

enum class TBackColors : uint8_t {
    vtsBlack,
    vtsRed,
    vtsGreen,
    vtsYellow,
    vtsBlue,
    vtsMagenta,
    vtsCyan,
    vtsWhite
};
using enum TBackColors;

enum class TScreenOption : uint8_t { vtoBackColor, vtoCopyBackOnClear };
using enum TScreenOption;

// Set of TScreenOption stored as one byte: bit 0 vtoBackColor, bit 1 vtoCopyBackOnClear.
struct TScreenOptions {
    uint8_t Bits = 0;

    constexpr TScreenOptions() = default;
    constexpr TScreenOptions(std::initializer_list<TScreenOption> options) {
        for (TScreenOption option : options)
            Bits |= Mask(option);
    }
    static constexpr uint8_t Mask(TScreenOption option) { return uint8_t(1u << unsigned(option)); }
    constexpr bool Contains(TScreenOption option) const { return (Bits & Mask(option)) != 0; }
    constexpr void Include(TScreenOption option) { Bits |= Mask(option); }
    constexpr void Exclude(TScreenOption option) { Bits &= uint8_t(~Mask(option)); }
    constexpr bool operator==(const TScreenOptions&) const = default;
};

// Inclusive rectangle of changed cells: Left/Right are columns, Top/Bottom rows.
struct TRect {
    int32_t Left;
    int32_t Top;
    int32_t Right;
    int32_t Bottom;
    constexpr bool operator==(const TRect&) const = default;
};
constexpr TRect kEmptyInvRect{kNoInvalidCol, kNoInvalidCol, -1, -1};

// One row: characters and attributes (low nibble foreground, high nibble background).
class TLine {
public:
    TLine() { Clear(kDefaultAttribute); }
    void Clear(uint8_t Attr);

    uint8_t Txt[kLineCells];
    uint8_t Att[kLineCells];
    // Counts the clears: a view holding on to a line sees from it that the line was blanked or
    // reused for new text (scrolling recycles the line that leaves the top).
    uint32_t Generation = 0;
};

// The line references of a screen. Position 0 is the bottom visible row; positions climb through
// the screen and then through the back rows, newest first. Every position owns its own TLine.
// Stored with spare room below position 0 so that scrolling the whole screen into the back rows
// moves a handful of references instead of all of them.
class TLineArray {
public:
    TLineArray() = default;
    TLineArray(const TLineArray&) = delete;
    TLineArray& operator=(const TLineArray&) = delete;
    ~TLineArray();

    int32_t Count() const { return FCount; }
    TLine*& operator[](int32_t Position) { return FStore[size_t(FBase + Position)]; }
    TLine* operator[](int32_t Position) const { return FStore[size_t(FBase + Position)]; }

    // Keeps positions 0..min(old, N)-1; frees lines above N or adds blank lines up to N.
    void Resize(int32_t N);
    // The line at Hi moves to Lo; the lines at Lo..Hi-1 each move one position up.
    void RotateUp(int32_t Lo, int32_t Hi);
    // The line at Lo moves to Hi; the lines at Lo+1..Hi each move one position down.
    void RotateDown(int32_t Lo, int32_t Hi);

private:
    void Recentre();

    std::vector<TLine*> FStore;
    int32_t FBase = 0;
    int32_t FCount = 0;
};

class TScreen {
public:
    TScreen();
    virtual ~TScreen();
    TScreen(const TScreen&) = delete;
    TScreen& operator=(const TScreen&) = delete;

    // --- fields, in their documented order -------------------------------------------------
    TLineArray FLines;
    int32_t FRow = 0;
    int32_t FCol = 0;
    int32_t FSavedRow = -1;
    int32_t FSavedCol = -1;
    int32_t FScrollTop = 0;
    int32_t FScrollBottom = 0;
    uint8_t FAttribute = kDefaultAttribute;
    bool FHighBitChars = false;
    bool FReverseVideo = false;
    bool FUnderline = false;
    int32_t FRowCount = 0;
    int32_t FColCount = 80;
    int32_t FBackRowCount = 0;
    int32_t FFirstBackRow = 0;
    TBackColors FBackColor = vtsWhite;
    TScreenOptions FOptions{vtoBackColor};
    uint8_t FEscBuffer[kEscBufferSize] = {}; // collected text, FEscLength bytes, without the ESC
    int32_t FEscLength = 0;
    bool FInEscape = false;
    bool FHasFocus = false;
    bool FAutoLF = false;
    bool FAutoCR = false;
    bool FAutoWrap = false;
    bool FCursorOff = false;
    bool FCursorKeyMode = false;
    bool FTranslateInput = false;
    bool FTranslateInputDefault = false;
    int32_t FRawCount = 0;
    const uint8_t* FInputTable = NormalCharTable;
    const uint8_t* FOutputTable = NormalCharTable;
    bool FAllInvalid = false;
    TRect FInvRect = kEmptyInvRect;
    std::function<void(TScreen* Sender)> FOnCursorVisible;

    // --- operations used from outside the engine --------------------------------------------
    // Values that would break the limits (rows >= 1, back rows >= 0, total <= kMaxTotalRows)
    // are ignored.
    void SetRowCount(int32_t Value);
    void SetBackRowCount(int32_t Value);
    // Row Index: negative = back rows; at or beyond FRowCount = the bottom row; below the
    // oldest back row = the oldest back row.
    TLine* GetLine(int32_t Index) const {
        const int32_t lowest = -FBackRowCount;
        const int32_t highest = FRowCount - 1;
        Index = Index < lowest ? lowest : (Index > highest ? highest : Index);
        return FLines[Position(Index)];
    }
    void SetLine(int32_t Index, TLine* Line);
    TLine* Lines(int32_t Index) const { return GetLine(Index); }
    std::string_view EscBuffer() const {
        return {reinterpret_cast<const char*>(FEscBuffer), size_t(FEscLength)};
    }

    void ClearScreen();
    void ClearInvalid();
    void InvalidateCell(int32_t Row, int32_t Col) {
        if (FAllInvalid) return;
        FInvRect.Top = Row < FInvRect.Top ? Row : FInvRect.Top;
        FInvRect.Left = Col < FInvRect.Left ? Col : FInvRect.Left;
        FInvRect.Bottom = Row > FInvRect.Bottom ? Row : FInvRect.Bottom;
        FInvRect.Right = Col > FInvRect.Right ? Col : FInvRect.Right;
    }
    void GotoXY(int32_t X, int32_t Y) {
        const int32_t lastCol = Cols() - 1;
        const int32_t lastRow = FRowCount - 1;
        FCol = X < 0 ? 0 : (X > lastCol ? lastCol : X);
        FRow = Y < 0 ? 0 : (Y > lastRow ? lastRow : Y);
    }
    void WriteChar(uint8_t Ch);
    // Same effect as WriteChar for every byte of S, with runs of shown characters stored in bulk.
    void WriteStr(std::string_view S);

    // --- operations of the interpreter ------------------------------------------------------
    void WriteLiteralChar(uint8_t Ch);
    void CursorDown();
    void CarriageReturn();
    void BackSpace();
    void ScrollUp();
    void ScrollDown();
    void SaveCursor();
    void RestoreCursor();
    void EraseToEndOfLine();
    void EraseToEndOfScreen();
    void CopyScreenToBack();
    void InsertLines(int32_t N);
    void DeleteLines(int32_t N);
    void InsertChars(int32_t N);
    void DeleteChars(int32_t N);

    void ProcessEscape(uint8_t Final);
    // Reads one decimal parameter of FEscBuffer starting at 0-based position From (leading
    // spaces skipped, value saturated at INT32_MAX); returns the position after the digits.
    int32_t GetEscapeParam(int32_t From, int32_t& Value) const;
    void UnimplementedEscape(uint8_t Final);
    void InvalidEscape(uint8_t Final);
    static void DebugString(std::string_view Msg);

private:
    void AdjustLines(int32_t N);
    int32_t Position(int32_t Row) const { return FRowCount - 1 - Row; }
    TLine& Row(int32_t Index) const { return *GetLine(Index); }
    // FColCount as used for cell access: held in 1..kLineCells whatever the owner stored.
    int32_t Cols() const { return FColCount < 1 ? 1 : (FColCount > kLineCells ? kLineCells : FColCount); }
    void ApplyBackColor(TLine& Line) const;
    void WriteLiteralRun(const uint8_t* S, size_t N);
    void WriteRunWithinLine(const uint8_t* S, size_t N);
    void CollectEscape(uint8_t Ch);
    void ProcessControlSequence(uint8_t Final);
    void SelectGraphicRendition();
    void SetMode(uint8_t Final);
    void PrivateSequence();
    void SetScrollRegion();
    void SelectTables(const uint8_t* Table);
};

} // namespace qorvel
