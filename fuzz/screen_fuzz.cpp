// Fuzz harness of the terminal engine. The first kHeaderSize bytes choose the screen set-up and
// the feeding mode; the rest is the received byte stream. After every byte the screen model's
// invariants are checked, and abort() is called on a violation so that the fuzzer (or the corpus
// replay under ctest) reports the input.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "emulvt/char_tables.h"
#include "emulvt/screen.h"
#include "platform/debugout.h"

namespace {

using qorvel::TScreen;

constexpr size_t kHeaderSize = 8;
constexpr int32_t kMaxFuzzRows = 51;
constexpr int32_t kMaxFuzzBackRows = 100;

// Header byte 4: how the stream is fed.
constexpr uint8_t kModeDifferential = 0x01; // WriteStr on a second screen must match WriteChar
constexpr uint8_t kModeReconfigure = 0x02;  // change sizes half-way, as the view's properties do
constexpr uint8_t kModeBadCols = 0x04;      // a column count outside 1..161: the engine must cope
constexpr uint8_t kModePaint = 0x40;        // ClearInvalid after every byte, as a paint would
constexpr uint8_t kModeCursorEvent = 0x80;  // a cursor-visibility handler is assigned
constexpr int kChunkShift = 3;              // bits 3-5: chunk size of the WriteStr side
constexpr size_t kChunkSizes[8] = {1, 2, 3, 7, 16, 64, 509, SIZE_MAX};
constexpr int32_t kBadCols[6] = {0, -1, 162, 255, INT32_MAX, INT32_MIN};

struct TConfig {
    int32_t Rows;
    int32_t Cols;
    int32_t BackRows;
    uint8_t BackColor;
    uint8_t Options;
    bool Xlat;
    bool AutoLF;
    bool AutoCR;
    uint8_t Mode;
    int32_t Rows2;
    int32_t BackRows2;
    int32_t Cols2;
};

TConfig DecodeHeader(const uint8_t* h) {
    TConfig c{};
    c.Rows = 1 + h[0] % kMaxFuzzRows;
    c.Mode = h[4];
    c.Cols = (c.Mode & kModeBadCols) ? kBadCols[h[1] % 6] : 1 + h[1] % qorvel::kLineCells;
    c.BackRows = h[2] % (kMaxFuzzBackRows + 1);
    c.BackColor = h[3] & 7;
    c.Options = (h[3] >> 3) & 3;
    c.Xlat = (h[3] >> 5) & 1;
    c.AutoLF = (h[3] >> 6) & 1;
    c.AutoCR = (h[3] >> 7) & 1;
    c.Rows2 = 1 + h[5] % kMaxFuzzRows;
    c.BackRows2 = h[6] % (kMaxFuzzBackRows + 1);
    c.Cols2 = 1 + h[7] % qorvel::kLineCells;
    return c;
}

// Where the debug and beep sinks deliver: one record per screen, so two screens fed side by side
// keep separate line numbers.
struct TOutput {
    std::string Debug;
    int32_t LineCount = 0;
    int Beeps = 0;
    int CursorEvents = 0;
};
TOutput* CurrentOutput = nullptr;

void InstallSinks() {
    static const bool installed = [] {
        qorvel::platform::SetDebugSink([](std::string_view line) {
            if (CurrentOutput) CurrentOutput->Debug.append(line);
        });
        qorvel::platform::SetBeepSink([](unsigned) {
            if (CurrentOutput) ++CurrentOutput->Beeps;
        });
        return true;
    }();
    (void)installed;
}

// Runs a feeding step with Out as the sink and its own debug line counter.
template <typename F> void WithOutput(TOutput& Out, F&& Step) {
    CurrentOutput = &Out;
    qorvel::DebugLineCount = Out.LineCount;
    Step();
    Out.LineCount = qorvel::DebugLineCount;
    CurrentOutput = nullptr;
}

// Set-up in the order the view applies its properties.
void Configure(TScreen& S, const TConfig& C, TOutput& Out) {
    S.SetBackRowCount(C.BackRows);
    S.SetRowCount(C.Rows);
    S.FColCount = C.Cols;
    S.FBackColor = qorvel::TBackColors(C.BackColor);
    S.FOptions.Bits = C.Options;
    S.FTranslateInput = !C.Xlat;
    S.FTranslateInputDefault = !C.Xlat;
    S.FAutoLF = C.AutoLF;
    S.FAutoCR = C.AutoCR;
    if (C.Mode & kModeCursorEvent) S.FOnCursorVisible = [&Out](TScreen*) { ++Out.CursorEvents; };
    S.ClearScreen();
    S.ClearInvalid();
}

// The view's Rows, BackRows and Cols setters: each size change is followed by ClearScreen,
// except the back-row count, which keeps the screen.
void Reconfigure(TScreen& S, const TConfig& C) {
    S.SetBackRowCount(C.BackRows2);
    if (C.Rows2 != S.FRowCount) {
        S.SetRowCount(C.Rows2);
        S.ClearScreen();
    }
    if (C.Cols2 != S.FColCount) {
        S.FColCount = C.Cols2;
        S.ClearScreen();
    }
}

[[noreturn]] void Fail(const char* What, const TScreen& S, size_t Offset) {
    std::fprintf(stderr,
                 "screen_fuzz: invariant violated after data byte %zu: %s\n"
                 "  rows %d cols %d backrows %d row %d col %d region %d..%d first back row %d "
                 "lines %d esc %d raw %d\n",
                 Offset, What, S.FRowCount, S.FColCount, S.FBackRowCount, S.FRow, S.FCol, S.FScrollTop,
                 S.FScrollBottom, S.FFirstBackRow, S.FLines.Count(), S.FEscLength, S.FRawCount);
    std::abort();
}

// The lines a screen holds after set-up. The byte stream only moves lines between positions, so
// every later check must find exactly these lines, each once. Open addressing with a generation
// stamp keeps the per-byte check linear.
class TLineRegistry {
public:
    void Reset(const TScreen& S) {
        FSlots.fill(nullptr);
        FStamps.fill(0);
        FGeneration = 0;
        for (int32_t p = 0; p < S.FLines.Count(); ++p) {
            size_t slot = Find(S.FLines[p]);
            if (FSlots[slot]) Fail("one line held at two positions after set-up", S, 0);
            FSlots[slot] = S.FLines[p];
        }
    }

    bool AllDistinct(const TScreen& S) {
        if (++FGeneration == 0) {
            FStamps.fill(0);
            FGeneration = 1;
        }
        for (int32_t p = 0; p < S.FLines.Count(); ++p) {
            const qorvel::TLine* line = S.FLines[p];
            const size_t slot = Find(line);
            if (!line || FSlots[slot] != line || FStamps[slot] == FGeneration) return false;
            FStamps[slot] = FGeneration;
        }
        return true;
    }

private:
    static constexpr size_t kSlots = 1024; // well above kMaxFuzzRows + kMaxFuzzBackRows

    // The slot holding Line, or the empty slot where it would go.
    size_t Find(const qorvel::TLine* Line) const {
        size_t slot = size_t((uintptr_t(Line) >> 4) * 0x9E3779B97F4A7C15ull >> 54) % kSlots;
        while (FSlots[slot] && FSlots[slot] != Line)
            slot = (slot + 1) % kSlots;
        return slot;
    }

    std::array<const qorvel::TLine*, kSlots> FSlots{};
    std::array<uint32_t, kSlots> FStamps{};
    uint32_t FGeneration = 0;
};

void CheckInvariants(const TScreen& S, TLineRegistry& Registry, int32_t Rows, int32_t BackRows,
                     size_t Offset) {
    // Property setters never run from the byte stream, so the sizes must be what was set up.
    if (S.FRowCount != Rows || S.FBackRowCount != BackRows)
        Fail("row or back-row count changed by input", S, Offset);
    if (S.FLines.Count() != S.FRowCount + S.FBackRowCount)
        Fail("line array size differs from rows + back rows", S, Offset);
    if (S.FRow < 0 || S.FRow > S.FRowCount - 1) Fail("cursor row outside the screen", S, Offset);
    // The column may stand beyond the last cell after a tab; cell access past cell 160 is caught
    // by ASan (Att) and UBSan's array-bounds check (Txt).
    if (S.FCol < 0) Fail("cursor column negative", S, Offset);
    const int32_t oldest = S.FBackRowCount > 0 ? 1 - S.FBackRowCount : 0;
    if (S.FFirstBackRow < oldest || S.FFirstBackRow > 0)
        Fail("FFirstBackRow outside 1-FBackRowCount..0", S, Offset);
    if (S.FScrollTop < 0 || S.FScrollTop > S.FScrollBottom || S.FScrollBottom > S.FRowCount - 1)
        Fail("scroll region outside the screen", S, Offset);
    if (S.FEscLength < 0 || S.FEscLength >= qorvel::kEscBufferSize)
        Fail("escape buffer length out of range", S, Offset);
    if (!S.FInEscape && S.FEscLength != 0) Fail("escape text left over outside a sequence", S, Offset);
    if (S.FRawCount < 0) Fail("negative raw count", S, Offset);
    const bool normal = S.FInputTable == qorvel::NormalCharTable;
    if ((!normal && S.FInputTable != qorvel::GraphicCharTable) || S.FOutputTable != S.FInputTable)
        Fail("translation tables not one of the two, or not switched together", S, Offset);
    if (!S.FAllInvalid && S.FInvRect != qorvel::kEmptyInvRect) {
        const qorvel::TRect& r = S.FInvRect;
        if (r.Left < 0 || r.Top < 0 || r.Left > r.Right || r.Top > r.Bottom || r.Bottom > S.FRowCount ||
            r.Right > qorvel::kLineCells)
            Fail("change record outside the screen", S, Offset);
    }

    // No line may be held at two positions, and none may appear that was not there before.
    if (!Registry.AllDistinct(S))
        Fail("one line held at two positions, or a line that was never set up", S, Offset);
}

// Everything observable of a screen, for the WriteStr / WriteChar comparison.
const char* FirstDifference(const TScreen& A, const TScreen& B, bool Cells) {
#define QORVEL_SAME(field)                                                                                   \
    if (!(A.field == B.field)) return #field;
    QORVEL_SAME(FRow)
    QORVEL_SAME(FCol)
    QORVEL_SAME(FSavedRow)
    QORVEL_SAME(FSavedCol)
    QORVEL_SAME(FScrollTop)
    QORVEL_SAME(FScrollBottom)
    QORVEL_SAME(FAttribute)
    QORVEL_SAME(FHighBitChars)
    QORVEL_SAME(FReverseVideo)
    QORVEL_SAME(FUnderline)
    QORVEL_SAME(FRowCount)
    QORVEL_SAME(FColCount)
    QORVEL_SAME(FBackRowCount)
    QORVEL_SAME(FFirstBackRow)
    QORVEL_SAME(EscBuffer())
    QORVEL_SAME(FInEscape)
    QORVEL_SAME(FAutoWrap)
    QORVEL_SAME(FCursorOff)
    QORVEL_SAME(FCursorKeyMode)
    QORVEL_SAME(FTranslateInput)
    QORVEL_SAME(FTranslateInputDefault)
    QORVEL_SAME(FRawCount)
    QORVEL_SAME(FInputTable)
    QORVEL_SAME(FOutputTable)
    QORVEL_SAME(FAllInvalid)
    QORVEL_SAME(FInvRect)
#undef QORVEL_SAME
    if (!Cells) return nullptr;
    for (int32_t r = -A.FBackRowCount; r < A.FRowCount; ++r) {
        const qorvel::TLine* a = A.GetLine(r);
        const qorvel::TLine* b = B.GetLine(r);
        if (std::memcmp(a->Txt, b->Txt, sizeof a->Txt) != 0) return "line characters";
        if (std::memcmp(a->Att, b->Att, sizeof a->Att) != 0) return "line attributes";
    }
    return nullptr;
}

void RunSingle(const TConfig& C, const uint8_t* Data, size_t Size) {
    TOutput out;
    TScreen screen;
    TLineRegistry registry;
    WithOutput(out, [&] {
        Configure(screen, C, out);
        registry.Reset(screen);
        int32_t rows = screen.FRowCount;
        int32_t backRows = screen.FBackRowCount;
        CheckInvariants(screen, registry, rows, backRows, 0);
        for (size_t i = 0; i < Size; ++i) {
            if ((C.Mode & kModeReconfigure) && i == Size / 2) {
                Reconfigure(screen, C);
                registry.Reset(screen);
                rows = screen.FRowCount;
                backRows = screen.FBackRowCount;
                CheckInvariants(screen, registry, rows, backRows, i);
            }
            screen.WriteChar(Data[i]);
            CheckInvariants(screen, registry, rows, backRows, i);
            if (C.Mode & kModePaint) screen.ClearInvalid();
            // The debug text is not compared here: keep it from growing with the input.
            out.Debug.clear();
        }
    });
}

// One screen takes the stream byte by byte, the other in WriteStr chunks; after every chunk both
// must be in the same state and must have reported the same debug lines and beeps. The cells are
// compared at least every kCellCompareBytes bytes and at the end: a wrong cell rarely heals.
void RunDifferential(const TConfig& C, const uint8_t* Data, size_t Size) {
    constexpr size_t kCellCompareBytes = 64;
    const size_t chunk = kChunkSizes[(C.Mode >> kChunkShift) & 7];
    TOutput outA, outB;
    TScreen a, b;
    TLineRegistry registryA, registryB;
    WithOutput(outA, [&] { Configure(a, C, outA); });
    WithOutput(outB, [&] { Configure(b, C, outB); });
    registryA.Reset(a);
    registryB.Reset(b);
    size_t i = 0;
    size_t lastCellCompare = 0;
    bool reconfigured = false;
    while (i < Size) {
        if ((C.Mode & kModeReconfigure) && !reconfigured && i >= Size / 2) {
            WithOutput(outA, [&] { Reconfigure(a, C); });
            WithOutput(outB, [&] { Reconfigure(b, C); });
            registryA.Reset(a);
            registryB.Reset(b);
            reconfigured = true;
        }
        const size_t end = Size - i < chunk ? Size : i + chunk;
        const int32_t rows = a.FRowCount;
        const int32_t backRows = a.FBackRowCount;
        WithOutput(outA, [&] {
            for (size_t k = i; k < end; ++k) {
                a.WriteChar(Data[k]);
                CheckInvariants(a, registryA, rows, backRows, k);
            }
        });
        WithOutput(outB, [&] {
            b.WriteStr(std::string_view(reinterpret_cast<const char*>(Data + i), end - i));
            CheckInvariants(b, registryB, rows, backRows, end - 1);
        });
        const bool cells = end == Size || end - lastCellCompare >= kCellCompareBytes;
        if (cells) lastCellCompare = end;
        if (const char* field = FirstDifference(a, b, cells)) {
            std::fprintf(stderr, "screen_fuzz: WriteStr differs from WriteChar in %s after data byte %zu\n",
                         field, end - 1);
            std::abort();
        }
        if (outA.Debug != outB.Debug || outA.Beeps != outB.Beeps || outA.CursorEvents != outB.CursorEvents) {
            std::fprintf(stderr,
                         "screen_fuzz: WriteStr reports differ from WriteChar after data byte %zu\n"
                         "  WriteChar: %d beeps, debug '%s'\n  WriteStr:  %d beeps, debug '%s'\n",
                         end - 1, outA.Beeps, outA.Debug.c_str(), outB.Beeps, outB.Debug.c_str());
            std::abort();
        }
        outA.Debug.clear();
        outB.Debug.clear();
        if (C.Mode & kModePaint) {
            a.ClearInvalid();
            b.ClearInvalid();
        }
        i = end;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < kHeaderSize) return 0;
    InstallSinks();
    const TConfig config = DecodeHeader(Data);
    if (config.Mode & kModeDifferential)
        RunDifferential(config, Data + kHeaderSize, Size - kHeaderSize);
    else
        RunSingle(config, Data + kHeaderSize, Size - kHeaderSize);
    return 0;
}
