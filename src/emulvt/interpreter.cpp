// The byte interpreter of TScreen: control characters, escape collection and the sequences it knows.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "emulvt/screen.h"
#include "platform/debugout.h"

namespace qorvel {
namespace {

// Bytes that WriteChar acts on instead of showing, after translation.
constexpr std::array<bool, 256> MakeControlSet() {
    std::array<bool, 256> set{};
    for (uint8_t ch : {0x00, 0x07, 0x08, 0x09, 0x0A, 0x0D, 0x0E, 0x0F, 0x1B})
        set[ch] = true;
    return set;
}
constexpr std::array<bool, 256> kIsControl = MakeControlSet();

constexpr std::array<bool, 256> MakeCollectableSet() {
    std::array<bool, 256> set{};
    for (uint8_t ch : {' ', ';', '?', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'})
        set[ch] = true;
    return set;
}
constexpr std::array<bool, 256> kIsCollectable = MakeCollectableSet();

bool IsCollectable(uint8_t Ch) {
    return kIsCollectable[Ch];
}
bool IsDigit(uint8_t Ch) {
    return Ch >= '0' && Ch <= '9';
}
bool IsTwoByteFinal(uint8_t Ch) {
    switch (Ch) {
    case '7':
    case '8':
    case '<':
    case '=':
    case '>':
    case 'D':
    case 'E':
    case 'H':
    case 'M': return true;
    default: return false;
    }
}

bool IsCharsetIntroducer(uint8_t Ch) {
    return Ch == '(' || Ch == ')' || Ch == '*' || Ch == '+';
}

// Index of the first control byte at or after From (untranslated input), or N.
size_t SkipShown(const uint8_t* P, size_t From, size_t N) {
    size_t j = From;
#if defined(__SSE2__)
    // Every control byte is below 0x20: test sixteen bytes at a time and look up the exact set
    // only for the lanes below 0x20, which are rare in shown text.
    const __m128i below = _mm_set1_epi8(0x1F);
    for (; j + 16 <= N; j += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + j));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, below), v)));
        while (mask != 0) {
            const size_t at = j + size_t(__builtin_ctz(mask));
            if (kIsControl[P[at]]) return at;
            mask &= mask - 1;
        }
    }
#endif
    // Eight bytes at a time while none is below 0x20.
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    while (j < N) {
        while (j + 8 <= N) {
            uint64_t word;
            std::memcpy(&word, P + j, sizeof word);
            if (((word - kOnes * 0x20) & ~word & kHighs) != 0) break;
            j += 8;
        }
        for (const size_t end = std::min(j + 8, N); j < end; ++j)
            if (kIsControl[P[j]]) return j;
    }
    return N;
}

// Copies or fills M cells without a library call for the short runs that coloured text makes.
inline void CopyCells(uint8_t* Dst, const uint8_t* Src, size_t M) {
    if (M > 16) {
        std::memcpy(Dst, Src, M);
    } else if (M >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, Src, 8);
        std::memcpy(&tail, Src + M - 8, 8);
        std::memcpy(Dst, &head, 8);
        std::memcpy(Dst + M - 8, &tail, 8);
    } else if (M >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, Src, 4);
        std::memcpy(&tail, Src + M - 4, 4);
        std::memcpy(Dst, &head, 4);
        std::memcpy(Dst + M - 4, &tail, 4);
    } else {
        for (size_t t = 0; t < M; ++t)
            Dst[t] = Src[t];
    }
}

inline void FillCells(uint8_t* Dst, uint8_t Value, size_t M) {
    if (M > 16) {
        std::memset(Dst, Value, M);
    } else if (M >= 8) {
        const uint64_t word = uint64_t(Value) * 0x0101010101010101ull;
        std::memcpy(Dst, &word, 8);
        std::memcpy(Dst + M - 8, &word, 8);
    } else if (M >= 4) {
        const uint32_t word = uint32_t(Value) * 0x01010101u;
        std::memcpy(Dst, &word, 4);
        std::memcpy(Dst + M - 4, &word, 4);
    } else {
        for (size_t t = 0; t < M; ++t)
            Dst[t] = Value;
    }
}

// One decimal parameter from position From: leading spaces skipped, saturated at INT32_MAX so
// that an over-long number still ends the sequence cleanly. Returns the position after it.
inline int32_t ReadParam(const uint8_t* Buffer, int32_t Length, int32_t From, int32_t& Value) {
    int32_t pos = std::max(From, 0);
    while (pos < Length && Buffer[pos] == ' ')
        ++pos;
    // The digits seen so far never exceed INT32_MAX once capped, so 64 bits cannot overflow.
    uint64_t value = 0;
    for (; pos < Length; ++pos) {
        const uint32_t digit = uint32_t(Buffer[pos]) - '0';
        if (digit > 9) break;
        value = std::min<uint64_t>(value * 10 + digit, INT32_MAX);
    }
    Value = int32_t(value);
    return pos;
}

int32_t AtLeastOne(int32_t N) {
    return N == 0 ? 1 : N;
}

int32_t Saturate(int64_t Value) {
    return int32_t(std::clamp<int64_t>(Value, INT32_MIN, INT32_MAX));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Entry points

void TScreen::WriteChar(uint8_t Ch) {
    if (FRawCount > 0) {
        if (FRawCount % 2 == 1) WriteLiteralChar(Ch);
        --FRawCount;
        return;
    }
    if (FTranslateInput) Ch = (FInputTable ? FInputTable : NormalCharTable)[Ch];
    if (FInEscape) {
        CollectEscape(Ch);
        return;
    }
    switch (Ch) {
    case 0x00: break;                                         // NUL: ignored
    case 0x07: platform::MessageBeep(MB_ICONASTERISK); break; // BEL
    case 0x08: BackSpace(); break;                            // BS
    case 0x09:                                                // HT: fixed stops every 8 columns
        if (FCol <= INT32_MAX - 8) FCol = (FCol / 8 + 1) * 8;
        break;
    case 0x0A: // LF
        CursorDown();
        if (FAutoCR) CarriageReturn();
        break;
    case 0x0D: // CR
        CarriageReturn();
        if (FAutoLF) CursorDown();
        break;
    case 0x0E: SelectTables(GraphicCharTable); break; // SO: line drawing
    case 0x0F: SelectTables(NormalCharTable); break;  // SI: normal characters
    case 0x1B:                                        // ESC: start collecting
        FEscLength = 0;
        FInEscape = true;
        break;
    default: WriteLiteralChar(Ch); break;
    }
}

// WriteLiteralRun for N untranslated bytes without the high bit set, when FCol + N stays within
// the columns and FCol before the last cell: the cells FCol..FCol+N-1 of this row, nothing else.
inline void TScreen::WriteRunWithinLine(const uint8_t* S, size_t N) {
    TLine& line = Row(FRow);
    CopyCells(line.Txt + FCol, S, N);
    FillCells(line.Att + FCol, FAttribute, N);
    if (!FAllInvalid) {
        FInvRect.Top = std::min(FInvRect.Top, FRow);
        FInvRect.Bottom = std::max(FInvRect.Bottom, FRow);
        FInvRect.Left = std::min(FInvRect.Left, FCol);
        FInvRect.Right = std::max(FInvRect.Right, FCol + int32_t(N) - 1);
    }
    FCol = std::min(FCol + int32_t(N), kLastCell);
}

void TScreen::WriteStr(std::string_view S) {
    const auto* p = reinterpret_cast<const uint8_t*>(S.data());
    const size_t n = S.size();
    size_t i = 0;
    while (i < n) {
        if (FRawCount != 0) {
            WriteChar(p[i++]);
            continue;
        }
        if (!FInEscape) {
            size_t j = i;
            if (FTranslateInput) {
                const uint8_t* table = FInputTable ? FInputTable : NormalCharTable;
                while (j < n && !kIsControl[table[p[j]]])
                    ++j;
            } else {
                j = SkipShown(p, i, n);
            }
            if (j > i) {
                const size_t length = j - i;
                // Most runs fit the current line as received: no wrap, no translation.
                if (!FTranslateInput && !FHighBitChars && uint32_t(FCol) < uint32_t(kLastCell) &&
                    size_t(FCol) + length <= size_t(Cols()))
                    WriteRunWithinLine(p + i, length);
                else
                    WriteLiteralRun(p + i, length);
                i = j;
                continue;
            }
            // ESC [ starts a control sequence: what WriteChar does for the two bytes.
            if (p[i] != 0x1B || FTranslateInput || i + 1 >= n || p[i + 1] != '[') {
                WriteChar(p[i++]);
                continue;
            }
            FInEscape = true;
            FEscBuffer[0] = '[';
            FEscLength = 1;
            i += 2;
        }
        if (!FTranslateInput && FEscLength > 0 && FEscBuffer[0] == '[') {
            // Parameters of a control sequence; the byte that would fill the buffer, and the
            // final byte, take the ordinary path.
            // Kept in locals: a byte store through FEscBuffer could alias FEscLength.
            int32_t length = FEscLength;
            const size_t room = size_t(kEscBufferSize - 1 - std::min(length, kEscBufferSize - 1));
            const size_t end = n - i < room ? n : i + room;
            while (i < end && kIsCollectable[p[i]])
                FEscBuffer[length++] = p[i++];
            FEscLength = length;
            if (i == n) break;
            if (!kIsCollectable[p[i]]) {
                // Anything else ends a control sequence as its final byte.
                ProcessControlSequence(p[i++]);
                FEscLength = 0;
                FInEscape = false;
                continue;
            }
        }
        WriteChar(p[i++]);
    }
}

// WriteLiteralChar for each of N bytes that are all shown (no control among them after translation).
void TScreen::WriteLiteralRun(const uint8_t* S, size_t N) {
    const uint8_t* table = FTranslateInput ? (FInputTable ? FInputTable : NormalCharTable) : nullptr;
    const uint8_t high = FHighBitChars ? 0x80 : 0x00;
    auto shown = [&](uint8_t ch) { return uint8_t((table ? table[ch] : ch) | high); };
    while (N > 0) {
        const int32_t cols = Cols();
        if (FCol >= cols && FAutoWrap) {
            FCol = 0;
            ++FRow;
            if (FRow >= FRowCount) {
                FRow = FRowCount - 1;
                ScrollUp();
            }
        }
        // Without wrap, everything fits this row; with wrap, up to the last column.
        size_t k = FAutoWrap ? std::min(N, size_t(cols - FCol)) : N;
        TLine& line = Row(FRow);
        if (FCol >= kLastCell) {
            line.Txt[kLastCell] = shown(S[k - 1]);
            line.Att[kLastCell] = FAttribute;
            InvalidateCell(FRow, kLastCell);
        } else {
            // Consecutive cells up to the last one; the rest of the run overwrites the last cell.
            const size_t m = std::min(k, size_t(kLineCells - FCol));
            uint8_t* txt = line.Txt + FCol;
            if (table || high) {
                for (size_t t = 0; t < m; ++t)
                    txt[t] = shown(S[t]);
            } else {
                CopyCells(txt, S, m);
            }
            FillCells(line.Att + FCol, FAttribute, m);
            if (m < k) line.Txt[kLastCell] = shown(S[k - 1]);
            // The run's first and last cells, in one update of the change record.
            if (!FAllInvalid) {
                const int32_t last = FCol + int32_t(m) - 1;
                FInvRect.Top = std::min(FInvRect.Top, FRow);
                FInvRect.Bottom = std::max(FInvRect.Bottom, FRow);
                FInvRect.Left = std::min(FInvRect.Left, FCol);
                FInvRect.Right = std::max(FInvRect.Right, last);
            }
            FCol = std::min(FCol + int32_t(m), kLastCell);
        }
        S += k;
        N -= k;
    }
}

void TScreen::SelectTables(const uint8_t* Table) {
    FInputTable = Table;
    FOutputTable = Table;
}

// ---------------------------------------------------------------------------------------------
// Escape collection

void TScreen::CollectEscape(uint8_t Ch) {
    bool final;
    if (FEscLength == 0 && IsTwoByteFinal(Ch))
        final = true;
    else if (FEscLength == 1 && IsCharsetIntroducer(FEscBuffer[0]))
        final = true;
    else if (IsCollectable(Ch))
        final = false;
    else if (FEscLength > 0)
        final = true;
    else
        final = !(IsCharsetIntroducer(Ch) || Ch == '[');

    if (final) {
        ProcessEscape(Ch);
        FEscLength = 0;
        FInEscape = false;
        return;
    }
    FEscBuffer[FEscLength++] = Ch;
    if (FEscLength == kEscBufferSize) {
        // Over-long sequence: dropped with a beep, what follows is ordinary input again.
        platform::MessageBeep(MB_ICONASTERISK);
        FEscLength = 0;
        FInEscape = false;
    }
}

int32_t TScreen::GetEscapeParam(int32_t From, int32_t& Value) const {
    return ReadParam(FEscBuffer, FEscLength, From, Value);
}

void TScreen::ProcessEscape(uint8_t Final) {
    if (FEscLength == 0) {
        switch (Final) {
        case '7': SaveCursor(); break;    // DECSC: save cursor
        case '8': RestoreCursor(); break; // DECRC: restore cursor
        case 'M':                         // RI: reverse index, scrolls down at the region's top
            --FRow;
            if (FRow < FScrollTop) {
                FRow = FScrollTop;
                ScrollDown();
            }
            break;
        case 'D':                                    // IND: index
        case 'E': UnimplementedEscape(Final); break; // NEL: next line
        case '<':                                    // enter ANSI mode
        case '=':                                    // keypad application mode
        case '>':                                    // keypad numeric mode
        case 'H': break;                             // HTS: set tab stop (stops are fixed)
        default:                                     // unknown: reported, and the final byte is shown
            InvalidEscape(Final);
            WriteLiteralChar(Final);
            break;
        }
        return;
    }
    switch (FEscBuffer[0]) {
    case ' ': // ESC SP F: 7-bit controls
        if (Final != 'F') InvalidEscape(Final);
        break;
    case '(': // G0 character set
        if (Final == '0' || Final == 'B') {
            SelectTables(Final == '0' ? GraphicCharTable : NormalCharTable);
            FTranslateInput = FTranslateInputDefault;
        } else {
            InvalidEscape(Final);
        }
        break;
    case ')': // G1, G2, G3 character sets: accepted, no effect
    case '*':
    case '+': break;
    case '[': ProcessControlSequence(Final); break;
    default: InvalidEscape(Final); break;
    }
}

// ---------------------------------------------------------------------------------------------
// Control sequences, ESC [ parameters final

void TScreen::ProcessControlSequence(uint8_t Final) {
    if (Final == 'm') { // SGR: colours and renditions, the most frequent sequence by far
        SelectGraphicRendition();
        return;
    }
    int32_t n = 0;
    int32_t pos = GetEscapeParam(1, n);
    switch (Final) {
    case '@': InsertChars(AtLeastOne(n)); break;               // ICH: insert blank characters
    case 'A': FRow = std::max(0, FRow - AtLeastOne(n)); break; // CUU: cursor up, stops at row 0
    case 'B':                                                  // CUD: cursor down, stops at the last row
        FRow = Saturate(std::min<int64_t>(int64_t(FRow) + AtLeastOne(n), FRowCount - 1));
        break;
    case 'C': { // CUF: cursor forward, wraps once with auto-wrap
        const int32_t cols = Cols();
        int64_t col = int64_t(FCol) + AtLeastOne(n);
        if (col >= cols) {
            if (FAutoWrap) {
                col -= cols;
                FRow = std::min(FRow + 1, FRowCount - 1);
            } else {
                col = cols - 1;
            }
        }
        FCol = Saturate(col);
        break;
    }
    case 'D': FCol = std::max(0, FCol - AtLeastOne(n)); break; // CUB: cursor back, stops at column 0
    case 'H':                                                  // CUP: cursor position
    case 'f': {                                                // HVP: same
        int32_t col = 1;
        while (pos < FEscLength && FEscBuffer[pos] == ' ')
            ++pos;
        if (pos < FEscLength && FEscBuffer[pos] == ';') GetEscapeParam(pos + 1, col);
        GotoXY(Saturate(int64_t(col) - 1), Saturate(int64_t(n) - 1));
        break;
    }
    case 'I': PrivateSequence(); break; // private: translation, raw runs, special keys
    case 'J':                           // ED: erase in display
        if (n == 0) {
            FAttribute = kDefaultAttribute;
            EraseToEndOfScreen();
        } else if (n == 1) {
            const int32_t last = std::min(FRow, FRowCount - 1);
            for (int32_t r = 0; r <= last; ++r)
                Row(r).Clear(FAttribute);
            InvalidateCell(0, 0);
            InvalidateCell(FRow, Cols());
        } else if (n == 2) {
            if (FOptions.Contains(vtoCopyBackOnClear)) CopyScreenToBack();
            ClearScreen();
        } else {
            InvalidEscape(Final);
        }
        break;
    case 'K': EraseToEndOfLine(); break;         // EL: erase to end of line, whatever the parameter
    case 'L': InsertLines(AtLeastOne(n)); break; // IL: insert blank lines
    case 'M': DeleteLines(AtLeastOne(n)); break; // DL: delete lines
    case 'P': DeleteChars(AtLeastOne(n)); break; // DCH: delete characters
    case 'S': ScrollUp(); break;                 // SU: scroll up once
    case 'T': UnimplementedEscape(Final); break; // SD: scroll down
    case 'h':                                    // SM: set mode
    case 'l': SetMode(Final); break;             // RM: reset mode
    case 'n': UnimplementedEscape(Final); break; // DSR: never answered
    case 'r': SetScrollRegion(); break;          // DECSTBM: set scroll region
    case 's': SaveCursor(); break;               // SCOSC: save cursor
    case 'u': RestoreCursor(); break;            // SCORC: restore cursor
    case '>':                                    // accepted, no effect
    case 'g': break;                             // TBC: tab stops are fixed
    default: InvalidEscape(Final); break;        // anything else is reported, not executed
    }
}

void TScreen::SetMode(uint8_t Final) {
    if (FEscLength < 2 || FEscBuffer[1] != '?') {
        UnimplementedEscape(Final);
        return;
    }
    const bool set = Final == 'h';
    int32_t mode = 0;
    GetEscapeParam(2, mode);
    switch (mode) {
    case 1: FCursorKeyMode = set; break; // DECCKM: cursor key mode
    case 4: break;                       // DECSCLM: smooth scroll, accepted
    case 7: FAutoWrap = set; break;      // DECAWM: auto-wrap
    case 25:                             // DECTCEM: cursor visible
        FCursorOff = !set;
        if (FOnCursorVisible) FOnCursorVisible(this);
        break;
    default: UnimplementedEscape(Final); break;
    }
}

void TScreen::SelectGraphicRendition() {
    if (FEscLength == 1) {
        FAttribute = kDefaultAttribute;
        FReverseVideo = false;
        return;
    }
    // Walked in locals: the codes below store bytes of this object, which the compiler would
    // otherwise have to assume change FEscBuffer or FEscLength.
    const uint8_t* const buffer = FEscBuffer;
    const int32_t length = FEscLength;
    int32_t pos = 1;
    while (pos < length) {
        const uint8_t ch = buffer[pos];
        // '?' means nothing here; it is passed over like a separator so the walk always advances.
        if (ch == ' ' || ch == ';' || ch == '?') {
            ++pos;
            continue;
        }
        // A run of digits is one code; any other byte counts as a code 0 of one byte. Codes
        // above the largest known one all mean the same, so the value is capped, not saturated.
        uint32_t code = 0;
        if (IsDigit(ch)) {
            do {
                code = std::min(code * 10 + uint32_t(buffer[pos] - '0'), 1000u);
                ++pos;
            } while (pos < length && IsDigit(buffer[pos]));
        } else {
            ++pos;
        }
        switch (code) {
        case 0:
            FAttribute = kDefaultAttribute;
            FReverseVideo = false;
            FUnderline = false;
            break;
        case 1: FAttribute |= 0x08; break; // bright foreground
        case 4: FUnderline = true; break;
        case 5: FAttribute |= 0x80; break; // blink: bright background
        case 7: FReverseVideo = true; break;
        case 8: FAttribute = 0; break;
        case 10: FHighBitChars = false; break;
        case 12: FHighBitChars = true; break;
        case 22: FAttribute &= uint8_t(~0x08); break;
        case 27:
            FAttribute = kDefaultAttribute;
            FReverseVideo = false;
            break;
        default:
            if (code >= 30 && code <= 37)
                FAttribute = uint8_t((FAttribute & ~0x07) | (code - 30));
            else if (code >= 40 && code <= 47)
                FAttribute = uint8_t((FAttribute & ~0x70) | ((code - 40) << 4));
            else
                InvalidEscape('m');
            break;
        }
    }
    if (FReverseVideo) {
        const uint8_t fg = FAttribute & 0x07;
        const uint8_t bg = (FAttribute >> 4) & 0x07;
        FAttribute = uint8_t((FAttribute & 0x88) | (fg << 4) | bg);
    }
}

void TScreen::SetScrollRegion() {
    int32_t top = 0;
    int32_t pos = GetEscapeParam(1, top);
    if (top == 0) {
        FScrollTop = 0;
        FScrollBottom = FRowCount - 1;
        return;
    }
    while (pos < FEscLength && FEscBuffer[pos] == ' ')
        ++pos;
    int32_t bottom = 1;
    if (pos < FEscLength && FEscBuffer[pos] == ';') GetEscapeParam(pos + 1, bottom);
    FScrollTop = top - 1;
    FScrollBottom = bottom - 1;
    if (!(FScrollBottom > FScrollTop && FScrollTop >= 0 && FScrollBottom < FRowCount)) {
        FScrollTop = 0;
        FScrollBottom = FRowCount - 1;
    }
}

void TScreen::PrivateSequence() {
    int32_t function = 0;
    int32_t pos = GetEscapeParam(1, function);
    // Reads the parameter after the next ';'; a missing one is 0.
    auto next = [&](int32_t& value) {
        while (pos < FEscLength && FEscBuffer[pos] == ' ')
            ++pos;
        if (pos < FEscLength && FEscBuffer[pos] == ';') {
            pos = GetEscapeParam(pos + 1, value);
            return true;
        }
        value = 0;
        return false;
    };
    switch (function) {
    case 0: FTranslateInput = true; break; // translate received bytes
    case 1: {                              // take the next n bytes raw
        int32_t count = 0;
        if (!next(count)) count = 1;
        FRawCount = count;
        break;
    }
    case 2: break;
    case 3: { // special key report: debug line only
        int32_t w = 0, x = 0, y = 0, z = 0;
        next(w);
        next(x);
        next(y);
        next(z);
        char text[64];
        std::snprintf(text, sizeof text, "Special key %02X%02X %02X%02X", unsigned(x), unsigned(w),
                      unsigned(z), unsigned(y));
        DebugString(text);
        break;
    }
    case 4: FTranslateInput = false; break; // show received bytes as they come
    default: UnimplementedEscape('I'); break;
    }
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

void TScreen::UnimplementedEscape(uint8_t Final) {
    std::string msg = "Unimplemented Escape Sequence: ";
    msg.append(EscBuffer());
    msg += char(Final);
    msg += "\r\n";
    DebugString(msg);
}

void TScreen::InvalidEscape(uint8_t Final) {
    std::string msg = "Invalid Escape Sequence: ";
    msg.append(EscBuffer());
    msg += char(Final);
    msg += "\r\n";
    DebugString(msg);
}

void TScreen::DebugString(std::string_view Msg) {
    // Wraps instead of overflowing after 2^31 lines; printed as unsigned hex.
    DebugLineCount = int32_t(uint32_t(DebugLineCount) + 1u);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%04X ", unsigned(uint32_t(DebugLineCount)));
    platform::OutputDebugString(prefix);
    platform::OutputDebugString(Msg);
}

} // namespace qorvel
