// Screen model: line storage, back rows, scrolling, erasing, insertion and deletion, change record.
#include "emulvt/screen.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorvel {

void TLine::Clear(uint8_t Attr) {
    std::memset(Txt, ' ', sizeof Txt);
    std::memset(Att, Attr, sizeof Att);
    ++Generation;
}

// ---------------------------------------------------------------------------------------------
// TLineArray

TLineArray::~TLineArray() {
    for (int32_t p = 0; p < FCount; ++p)
        delete (*this)[p];
}

void TLineArray::Resize(int32_t N) {
    if (N == FCount || N <= 0) return;
    const int32_t keep = std::min(N, FCount);
    // Room below position 0 equal to the array's size: RotateUp recentres once per N scrolls.
    const int32_t slack = N + 64;
    std::vector<TLine*> store(size_t(slack) + size_t(N), nullptr);
    try {
        for (int32_t p = keep; p < N; ++p)
            store[size_t(slack + p)] = new TLine;
    } catch (...) {
        for (TLine* line : store)
            delete line;
        throw;
    }
    for (int32_t p = 0; p < keep; ++p)
        store[size_t(slack + p)] = (*this)[p];
    for (int32_t p = keep; p < FCount; ++p)
        delete (*this)[p];
    FStore.swap(store);
    FBase = slack;
    FCount = N;
}

void TLineArray::Recentre() {
    const size_t slack = FStore.size() - size_t(FCount);
    std::copy_backward(FStore.begin() + FBase, FStore.begin() + FBase + FCount, FStore.end());
    std::fill(FStore.begin() + FBase, FStore.begin() + slack, nullptr);
    FBase = int32_t(slack);
}

void TLineArray::RotateUp(int32_t Lo, int32_t Hi) {
    if (Lo >= Hi) return;
    TLine** a = FStore.data() + FBase;
    TLine* spare = a[Hi];
    const int32_t direct = Hi - Lo;
    const int32_t outside = Lo + (FCount - 1 - Hi);
    if (direct <= outside + 1) {
        std::copy_backward(a + Lo, a + Hi, a + Hi + 1);
        a[Lo] = spare;
        return;
    }
    // Shift the whole window down one slot instead, then put back what lies outside Lo..Hi.
    if (FBase == 0) Recentre();
    --FBase;
    a = FStore.data() + FBase;
    for (int32_t q = 0; q < Lo; ++q)
        a[q] = a[q + 1];
    a[Lo] = spare;
    // Usually only the spare's old slot lies above Hi: a library call would cost more than it.
    if (Hi + 2 == FCount)
        a[Hi + 1] = a[Hi + 2];
    else
        for (int32_t q = Hi + 1; q < FCount; ++q)
            a[q] = a[q + 1];
    a[FCount] = nullptr;
}

void TLineArray::RotateDown(int32_t Lo, int32_t Hi) {
    if (Lo >= Hi) return;
    TLine** a = FStore.data() + FBase;
    TLine* spare = a[Lo];
    std::copy(a + Lo + 1, a + Hi + 1, a + Lo);
    a[Hi] = spare;
}

// ---------------------------------------------------------------------------------------------
// TScreen: creation, sizes, access

int32_t DebugLineCount = 0;

TScreen::TScreen() {
    SetRowCount(25);
    FColCount = 80;
    FSavedRow = -1;
    FSavedCol = -1;
    FScrollTop = 0;
    FAttribute = kDefaultAttribute;
    ClearInvalid();
}

TScreen::~TScreen() = default;

void TScreen::AdjustLines(int32_t N) {
    if (N == FLines.Count() || N <= 0) return;
    FLines.Resize(N);
}

void TScreen::SetRowCount(int32_t Value) {
    if (Value == FRowCount) return;
    if (Value < 1 || int64_t(Value) + FBackRowCount > kMaxTotalRows) return;
    AdjustLines(Value + FBackRowCount);
    FRowCount = Value;
    FScrollBottom = Value - 1;
    // A region whose top now lies below the last row would make scrolling address missing rows.
    if (FScrollTop > FScrollBottom) FScrollTop = 0;
}

void TScreen::SetBackRowCount(int32_t Value) {
    if (Value == FBackRowCount) return;
    if (Value < 0 || int64_t(FRowCount) + Value > kMaxTotalRows) return;
    AdjustLines(FRowCount + Value);
    FBackRowCount = Value;
    // The oldest rows were freed: keep the rows in use within what remains.
    FFirstBackRow = std::max(FFirstBackRow, std::min(0, 1 - Value));
}

void TScreen::SetLine(int32_t Index, TLine* Line) {
    Index = std::clamp(Index, -FBackRowCount, FRowCount - 1);
    FLines[Position(Index)] = Line;
}

// ---------------------------------------------------------------------------------------------
// Change record and cursor

void TScreen::ClearScreen() {
    for (int32_t r = 0; r < FRowCount; ++r)
        Row(r).Clear(FAttribute);
    FRow = 0;
    FCol = 0;
    FAllInvalid = true;
}

void TScreen::ClearInvalid() {
    FInvRect = kEmptyInvRect;
    FAllInvalid = false;
}

void TScreen::CursorDown() {
    ++FRow;
    if (FRow > FScrollBottom) {
        FRow = FScrollBottom;
        ScrollUp();
    }
}

void TScreen::CarriageReturn() {
    FCol = 0;
}

void TScreen::BackSpace() {
    if (FCol > 0) --FCol;
}

void TScreen::SaveCursor() {
    FSavedRow = FRow;
    FSavedCol = FCol;
}

void TScreen::RestoreCursor() {
    if (FSavedRow == -1)
        GotoXY(0, 0);
    else
        GotoXY(FSavedCol, FSavedRow);
    FSavedRow = -1;
    FSavedCol = -1;
}

// ---------------------------------------------------------------------------------------------
// Scrolling

void TScreen::ApplyBackColor(TLine& Line) const {
    // Sixteen attributes at a time: this runs for every line that scrolls into the back rows.
    const uint8_t background = uint8_t((uint8_t(FBackColor) & 7) << 4);
    const int32_t cols = Cols();
    int32_t c = 0;
#if defined(__SSE2__)
    const __m128i keep = _mm_set1_epi8(char(0x8F));
    const __m128i backgrounds = _mm_set1_epi8(char(background));
    auto apply16 = [&](int32_t at) {
        auto* cell = reinterpret_cast<__m128i*>(Line.Att + at);
        _mm_storeu_si128(cell, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(cell), keep), backgrounds));
    };
    for (; c + 16 <= cols; c += 16)
        apply16(c);
    // The last sixteen cells again, overlapping: applying the colour twice changes nothing.
    if (c < cols && cols >= 16) {
        apply16(cols - 16);
        c = cols;
    }
#endif
    constexpr uint64_t kKeep = 0x8F8F8F8F8F8F8F8Full;
    const uint64_t backgrounds8 = uint64_t(background) * 0x0101010101010101ull;
    for (; c + 8 <= cols; c += 8) {
        uint64_t word;
        std::memcpy(&word, Line.Att + c, sizeof word);
        word = (word & kKeep) | backgrounds8;
        std::memcpy(Line.Att + c, &word, sizeof word);
    }
    for (; c < cols; ++c)
        Line.Att[c] = uint8_t((Line.Att[c] & 0x8F) | background);
}

void TScreen::ScrollUp() {
    const int32_t bottom = std::clamp(FScrollBottom, 0, FRowCount - 1);
    const int32_t top = std::clamp(FScrollTop, 0, bottom);
    // One back row cannot keep anything: its only slot would be the spare line itself.
    if (FBackRowCount > 1) {
        if (-FFirstBackRow < FBackRowCount - 1) --FFirstBackRow;
        // Back rows and rows 0..bottom all move up one; the oldest back row in use is the spare.
        FLines.RotateUp(Position(bottom), Position(FFirstBackRow));
        // Rows above the region stay: bring them back down and let the region's top line,
        // which moved to top-1, enter the back rows instead.
        if (top > 0) FLines.RotateDown(Position(top - 1), Position(-1));
        if (FOptions.Contains(vtoBackColor)) ApplyBackColor(Row(-1));
    } else {
        FLines.RotateUp(Position(bottom), Position(top));
    }
    Row(bottom).Clear(kDefaultAttribute);
    FAllInvalid = true;
}

void TScreen::ScrollDown() {
    const int32_t bottom = std::clamp(FScrollBottom, 0, FRowCount - 1);
    const int32_t top = std::clamp(FScrollTop, 0, bottom);
    FLines.RotateDown(Position(bottom), Position(top));
    Row(top).Clear(kDefaultAttribute);
    FAllInvalid = true;
}

void TScreen::CopyScreenToBack() {
    if (FBackRowCount < FRowCount) return;
    FFirstBackRow -= FRowCount;
    if (-FFirstBackRow >= FBackRowCount) FFirstBackRow = 1 - FBackRowCount;
    // Back rows FFirstBackRow..-1 move up by FRowCount; the lines pushed off the oldest end
    // come round to back rows -FRowCount..-1, which receive the copy below.
    const int32_t lo = Position(-1);
    const int32_t hi = Position(FFirstBackRow);
    const int32_t length = hi - lo + 1;
    if (length > FRowCount) {
        TLine** first = &FLines[lo];
        std::rotate(first, first + (length - FRowCount), first + length);
    }
    const int32_t cols = Cols();
    for (int32_t r = 0; r < FRowCount; ++r) {
        const TLine& source = Row(r);
        TLine& target = Row(r - FRowCount);
        std::memcpy(target.Txt, source.Txt, size_t(cols));
        std::memcpy(target.Att, source.Att, size_t(cols));
        if (FOptions.Contains(vtoBackColor)) ApplyBackColor(target);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing and erasing cells

void TScreen::WriteLiteralChar(uint8_t Ch) {
    if (FCol >= Cols() && FAutoWrap) {
        FCol = 0;
        ++FRow;
        if (FRow >= FRowCount) {
            FRow = FRowCount - 1;
            ScrollUp();
        }
    }
    if (FHighBitChars) Ch |= 0x80;
    // A column beyond the last cell (after tabs) writes the last cell, like any column past it.
    const int32_t col = std::min(FCol, kLastCell);
    TLine& line = Row(FRow);
    line.Txt[col] = Ch;
    line.Att[col] = FAttribute;
    InvalidateCell(FRow, col);
    if (FCol < kLastCell) ++FCol;
}

void TScreen::EraseToEndOfLine() {
    const int32_t cols = Cols();
    const int32_t from = std::min(FCol, cols);
    TLine& line = Row(FRow);
    std::memset(line.Txt + from, ' ', size_t(cols - from));
    std::memset(line.Att + from, FAttribute, size_t(cols - from));
    InvalidateCell(FRow, from);
    InvalidateCell(FRow, cols);
}

void TScreen::EraseToEndOfScreen() {
    EraseToEndOfLine();
    for (int32_t r = FRow + 1; r < FRowCount; ++r)
        Row(r).Clear(FAttribute);
    if (FRow == 0) {
        FAllInvalid = true;
    } else {
        InvalidateCell(FRow, 0);
        InvalidateCell(FRowCount, Cols());
    }
}

void TScreen::InsertLines(int32_t N) {
    FCol = 0;
    const int32_t bottom = std::clamp(FScrollBottom, 0, FRowCount - 1);
    if (int64_t(FRow) + N > bottom) {
        for (int32_t r = FRow; r <= bottom; ++r)
            Row(r).Clear(FAttribute);
        FAllInvalid = true;
        return;
    }
    for (int32_t r = bottom; r >= FRow + N; --r)
        std::swap(FLines[Position(r)], FLines[Position(r - N)]);
    for (int32_t r = FRow; r < FRow + N; ++r)
        Row(r).Clear(FAttribute);
    FAllInvalid = true;
}

void TScreen::DeleteLines(int32_t N) {
    FAllInvalid = true;
    FCol = 0;
    const int32_t bottom = std::clamp(FScrollBottom, 0, FRowCount - 1);
    if (int64_t(FRow) + N > bottom) {
        for (int32_t r = FRow; r <= bottom; ++r)
            Row(r).Clear(FAttribute);
        return;
    }
    for (int32_t r = FRow; r < FRow + N; ++r)
        Row(r).Clear(kDefaultAttribute);
    for (int32_t r = FRow; r <= bottom - N; ++r)
        std::swap(FLines[Position(r)], FLines[Position(r + N)]);
}

void TScreen::InsertChars(int32_t N) {
    const int32_t cols = Cols();
    if (int64_t(cols) - FCol - N <= 0) {
        EraseToEndOfLine();
        return;
    }
    TLine& line = Row(FRow);
    const size_t moved = size_t(cols - FCol - N);
    std::memmove(line.Txt + FCol + N, line.Txt + FCol, moved);
    std::memmove(line.Att + FCol + N, line.Att + FCol, moved);
    std::memset(line.Txt + FCol, ' ', size_t(N));
    std::memset(line.Att + FCol, FAttribute, size_t(N));
    InvalidateCell(FRow, FCol);
    InvalidateCell(FRow, cols - 1);
}

void TScreen::DeleteChars(int32_t N) {
    const int32_t cols = Cols();
    TLine& line = Row(FRow);
    if (FCol < cols) {
        const int64_t moved = int64_t(cols) - N - FCol;
        if (moved > 0) {
            std::memmove(line.Txt + FCol, line.Txt + FCol + N, size_t(moved));
            std::memmove(line.Att + FCol, line.Att + FCol + N, size_t(moved));
        }
        const int32_t from = int32_t(std::max<int64_t>(FCol, int64_t(cols) - N));
        std::memset(line.Txt + from, ' ', size_t(cols - from));
        std::memset(line.Att + from, kDefaultAttribute, size_t(cols - from));
    }
    InvalidateCell(FRow, std::min(FCol, cols));
    InvalidateCell(FRow, cols);
}

} // namespace qorvel
