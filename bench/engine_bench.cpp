// Throughput of the terminal engine on four generated device streams, byte by byte (WriteChar)
// and in received blocks (WriteStr), on the main window's 25 x 132 screen with 500 back rows.
// Global operator new/delete are replaced by counting versions so that every heap allocation
// made while the stream is interpreted shows up as the allocs_per_MB counter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <string_view>

#include "emulvt/char_tables.h"
#include "emulvt/screen.h"
#include "platform/debugout.h"

namespace {

std::atomic<uint64_t> AllocationCount{0};

[[gnu::noinline]] void* CountedAlloc(std::size_t Size, std::size_t Align) {
    AllocationCount.fetch_add(1, std::memory_order_relaxed);
    if (Size == 0) Size = 1;
    void* p = Align > alignof(std::max_align_t)
                  ? std::aligned_alloc(Align, (Size + Align - 1) / Align * Align)
                  : std::malloc(Size);
    return p;
}

} // namespace

void* operator new(std::size_t Size) {
    if (void* p = CountedAlloc(Size, 0)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t Size) {
    return operator new(Size);
}
void* operator new(std::size_t Size, std::align_val_t Align) {
    if (void* p = CountedAlloc(Size, std::size_t(Align))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t Size, std::align_val_t Align) {
    return operator new(Size, Align);
}
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
    return CountedAlloc(Size, 0);
}
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
    return CountedAlloc(Size, 0);
}
// Out of line, like CountedAlloc, so that the compiler does not pair malloc() or free() it can see
// with the operator new or delete it replaces and warn about a mismatch.
[[gnu::noinline]] void operator delete(void* P) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete[](void* P) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete(void* P, std::size_t) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete[](void* P, std::size_t) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete(void* P, std::align_val_t) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete[](void* P, std::align_val_t) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete(void* P, std::size_t, std::align_val_t) noexcept {
    std::free(P);
}
[[gnu::noinline]] void operator delete[](void* P, std::size_t, std::align_val_t) noexcept {
    std::free(P);
}

namespace qorvel {
namespace {

constexpr int32_t kRows = 25;
constexpr int32_t kCols = 132;
constexpr int32_t kBackRows = 500;
constexpr std::size_t kStreamBytes = 8u << 20;
constexpr std::size_t kBlockBytes = 4096; // one serial read as the main window hands it on

const char* const kWords[] = {"status", "OK",     "error", "temp=21.5", "volts",   "0x1F3A",
                              "ready",  "sensor", "ch1",   "retry",     "timeout", "link up"};

std::string Timestamp(std::mt19937& Rng, uint32_t Line) {
    char text[40];
    std::snprintf(text, sizeof text, "2024-05-%02u %02u:%02u:%02u.%03u ", 1 + Line / 86400 % 28,
                  Line / 3600 % 24, Line / 60 % 60, Line % 60, unsigned(Rng() % 1000));
    return text;
}

// Log lines of 40 to 130 characters, CR LF.
std::string PlainStream() {
    std::mt19937 rng(1);
    std::string s;
    s.reserve(kStreamBytes + 256);
    for (uint32_t line = 0; s.size() < kStreamBytes; ++line) {
        const std::size_t start = s.size();
        s += Timestamp(rng, line);
        s += "[INFO ] ";
        const std::size_t length = 40 + rng() % 90;
        while (s.size() - start < length) {
            s += kWords[rng() % std::size(kWords)];
            s += ' ';
        }
        s += "\r\n";
    }
    s.resize(kStreamBytes);
    return s;
}

// Log lines whose words change colour every few characters.
std::string SgrStream() {
    std::mt19937 rng(2);
    std::string s;
    s.reserve(kStreamBytes + 256);
    for (uint32_t line = 0; s.size() < kStreamBytes; ++line) {
        s += "\x1b[0;36m" + Timestamp(rng, line);
        s += rng() % 4 ? "\x1b[1;32m[ OK ]\x1b[0m " : "\x1b[1;31;47m[FAIL]\x1b[0m ";
        for (int w = 0, n = 4 + int(rng() % 8); w < n; ++w) {
            s += "\x1b[" + std::to_string(30 + rng() % 8) + (rng() % 2 ? ";1m" : "m");
            s += kWords[rng() % std::size(kWords)];
            s += ' ';
        }
        s += "\x1b[m\r\n";
    }
    s.resize(kStreamBytes);
    return s;
}

// A full-screen application: whole-screen redraws with cursor addressing, line erases, a status
// area kept by a scroll region, inserted and deleted lines, and boxes in the line-drawing set.
std::string RedrawStream() {
    std::mt19937 rng(3);
    std::string s;
    s.reserve(kStreamBytes + 8192);
    auto at = [&](int row, int col) { s += "\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H"; };
    while (s.size() < kStreamBytes) {
        s += "\x1b[H\x1b[2J\x1b[7m";
        s += " PID  USER   CPU%  MEM%  COMMAND";
        s += "\x1b[K\x1b[0m";
        for (int row = 2; row <= kRows; ++row) {
            at(row, 1);
            s += "\x1b[K" + std::to_string(1000 + rng() % 9000) + "  ";
            s += kWords[rng() % std::size(kWords)];
            at(row, 20 + int(rng() % 40));
            s += std::to_string(rng() % 100) + "." + std::to_string(rng() % 10);
        }
        s += "\x1b(0";
        at(3, 90);
        s += "lqqqqqqqqqqqqqqqqqqqqk";
        at(4, 90);
        s += "x                    x";
        at(5, 90);
        s += "mqqqqqqqqqqqqqqqqqqqqj\x1b(B";
        s += "\x1b[5;20r";
        at(20, 1);
        for (int k = 0; k < 6; ++k)
            s += std::string(kWords[rng() % std::size(kWords)]) + "\n";
        at(8, 1);
        s += "\x1b[2L\x1b[3M\x1b[4@\x1b[2P\x1b[1J\x1b[r";
        at(kRows, 1);
        s += "\x1b[J\x1b[1;33mready\x1b[0m";
    }
    s.resize(kStreamBytes);
    return s;
}

// Text with accented Latin-1 letters, symbols and raw 0x80-0xFF bytes mixed into ASCII lines.
std::string HighByteStream() {
    std::mt19937 rng(4);
    std::string s;
    s.reserve(kStreamBytes + 256);
    while (s.size() < kStreamBytes) {
        const std::size_t length = 30 + rng() % 100;
        for (std::size_t k = 0; k < length; ++k) {
            const uint32_t pick = rng() % 10;
            if (pick < 3)
                s += char(0x80 + rng() % 0x80);
            else if (pick == 3)
                s += ' ';
            else
                s += char('a' + rng() % 26);
        }
        s += "\r\n";
    }
    s.resize(kStreamBytes);
    return s;
}

// Built once, on first use, so that generating them is not timed.
const std::string& Stream(int Index) {
    static const std::string streams[] = {PlainStream(), SgrStream(), RedrawStream(), HighByteStream()};
    return streams[Index];
}

// The screen as the terminal view sets it up for the main window (translation left off, so the
// bytes are stored as received; the translated variant is measured separately).
void SetUpLikeTheView(TScreen& S, bool Translate) {
    S.SetBackRowCount(kBackRows);
    S.SetRowCount(kRows);
    S.FColCount = kCols;
    S.FBackColor = vtsWhite;
    S.FOptions = TScreenOptions{vtoBackColor};
    S.FInputTable = NormalCharTable;
    S.FOutputTable = NormalCharTable;
    S.FTranslateInput = Translate;
    S.FTranslateInputDefault = Translate;
    S.ClearScreen();
    S.ClearInvalid();
}

void QuietSinks() {
    platform::SetDebugSink([](std::string_view) {});
    platform::SetBeepSink([](unsigned) {});
}

enum class TFeed { ByteByByte, Blocks };
enum TStreamKind { kPlain, kSgr, kRedraw, kHighBytes };

void RunStream(benchmark::State& State, TFeed Feed, TStreamKind Kind, bool Translate) {
    QuietSinks();
    const std::string& data = Stream(Kind);
    TScreen screen;
    SetUpLikeTheView(screen, Translate);
    uint64_t allocations = 0;
    const int32_t debugLinesBefore = DebugLineCount;
    for (auto _ : State) {
        const uint64_t before = AllocationCount.load(std::memory_order_relaxed);
        for (std::size_t block = 0; block < data.size(); block += kBlockBytes) {
            const std::size_t end = std::min(data.size(), block + kBlockBytes);
            if (Feed == TFeed::ByteByByte) {
                for (std::size_t i = block; i < end; ++i)
                    screen.WriteChar(uint8_t(data[i]));
            } else {
                screen.WriteStr(std::string_view(data).substr(block, end - block));
            }
            // The view repaints what changed and empties the record.
            screen.ClearInvalid();
        }
        allocations += AllocationCount.load(std::memory_order_relaxed) - before;
        benchmark::DoNotOptimize(screen.GetLine(0)->Txt[0]);
    }
    const double bytes = double(State.iterations()) * double(data.size());
    State.SetBytesProcessed(int64_t(bytes));
    State.counters["allocs_per_MB"] = double(allocations) / (bytes / 1e6);
    State.counters["debug_lines_per_MB"] = double(DebugLineCount - debugLinesBefore) / (bytes / 1e6);
}

void BM_WriteChar(benchmark::State& State, TStreamKind Kind, bool Translate) {
    RunStream(State, TFeed::ByteByByte, Kind, Translate);
}
void BM_WriteStr(benchmark::State& State, TStreamKind Kind, bool Translate) {
    RunStream(State, TFeed::Blocks, Kind, Translate);
}

BENCHMARK_CAPTURE(BM_WriteChar, plain, kPlain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteChar, sgr, kSgr, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteChar, redraw, kRedraw, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteChar, high_bytes, kHighBytes, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteChar, high_bytes_translated, kHighBytes, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteStr, plain, kPlain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteStr, sgr, kSgr, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteStr, redraw, kRedraw, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteStr, high_bytes, kHighBytes, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteStr, high_bytes_translated, kHighBytes, true)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace qorvel

BENCHMARK_MAIN();
