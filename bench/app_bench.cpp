// Figures of the program: receive throughput from a pseudo-terminal into the log text and the screen,
// idle CPU with a port open, and memory per MB of log text.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/hex_dump.h"
#include "app/log_text.h"
#include "serial/xcomm.h"

namespace qorvel {
namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Terminal {
    Terminal() {
        char name[256];
        int slave = -1;
        if (::openpty(&Master, &slave, name, nullptr, nullptr) != 0) std::abort();
        ::close(slave);
        TDesktopHooks quiet;
        quiet.MessageBox = [](TMessageKind, const QString&, const QString&) {};
        SetDesktopHooks(std::move(quiet));
        Form.AttachDialogs(&Settings, &About);
        Settings.SetComText(QString::fromLatin1(name));
        // Showing the window runs the start-up, which connects.
        Form.show();
        QElapsedTimer clock;
        clock.start();
        // processEvents with a time limit never sleeps; a tick wakes the sleeping loop to re-test.
        QTimer tick;
        tick.start(10);
        while (!Form.COM->Opened() && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    ~Terminal() {
        if (Form.COM->Opened()) Form.Button1Click();
        if (Master >= 0) ::close(Master);
        SetDesktopHooks({});
    }
    int Master = -1;
    TForm1 Form;
    TForm2 Settings;
    TForm3 About;
};

std::uint64_t Fnv1a(std::uint64_t Hash, std::string_view Bytes) {
    for (unsigned char c : Bytes)
        Hash = (Hash ^ c) * 1099511628211ull;
    return Hash;
}

// The device sends 100 MB of 80-column text as fast as the pseudo-terminal takes it.
void BM_ReceiveThroughput(benchmark::State& state) {
    const std::size_t total = static_cast<std::size_t>(state.range(0)) << 20;
    std::string line;
    for (int i = 0; i < 79; ++i)
        line.push_back(static_cast<char>('!' + i % 90));
    line.push_back('\n');
    std::string block;
    while (block.size() < 64 * 1024)
        block += line;
    const std::size_t blocks = total / block.size();
    std::string expandedBlock;
    for (char c : block) {
        if (c == '\n') expandedBlock.push_back('\r');
        expandedBlock.push_back(c);
    }
    std::uint64_t expectedHash = 14695981039346656037ull;
    for (std::size_t i = 0; i < blocks; ++i)
        expectedHash = Fnv1a(expectedHash, expandedBlock);
    const std::size_t expectedSize = blocks * expandedBlock.size();

    for (auto _ : state) {
        Terminal t;
        std::thread writer([&] {
            for (std::size_t i = 0; i < blocks; ++i) {
                std::string_view rest = block;
                while (!rest.empty()) {
                    ssize_t n = ::write(t.Master, rest.data(), rest.size());
                    if (n > 0)
                        rest.remove_prefix(static_cast<std::size_t>(n));
                    else
                        return;
                }
            }
        });
        QElapsedTimer clock;
        clock.start();
        // Sleeps between events as the program's own loop does (a time-limited processEvents spins).
        QTimer tick;
        tick.start(10);
        while (t.Form.Terminal.Size() < expectedSize && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (t.Form.Terminal.Size() < expectedSize) {
            // Stalled: report it, and free the writer by draining the line.
            std::fprintf(stderr, "stalled at %zu of %zu bytes, port open %d\n", t.Form.Terminal.Size(),
                         expectedSize, int(t.Form.COM->Opened()));
            ::close(t.Master);
            t.Master = -1;
        }
        writer.join();
        std::uint64_t hash = 14695981039346656037ull;
        t.Form.Terminal.ForEachChunk([&](std::string_view chunk) { hash = Fnv1a(hash, chunk); });
        state.SetIterationTime(seconds);
        state.counters["MB_per_s"] = static_cast<double>(blocks * block.size()) / 1e6 / seconds;
        state.counters["lost_bytes"] =
            static_cast<double>(expectedSize) - static_cast<double>(t.Form.Terminal.Size());
        state.counters["exact"] = hash == expectedHash && t.Form.Terminal.Size() == expectedSize ? 1 : 0;
    }
}
BENCHMARK(BM_ReceiveThroughput)
    ->Arg(4)
    ->Arg(100)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// CPU use of the whole program while a port is open and nothing arrives (timer, caret, event thread).
void BM_IdleCpuPortOpen(benchmark::State& state) {
    for (auto _ : state) {
        Terminal t;
        const double cpu0 = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        // A real event loop: it sleeps until the next timer or event, as the program does.
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(state.range(0)), &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = (CpuSeconds() - cpu0) / wall * 100.0;
    }
}
BENCHMARK(BM_IdleCpuPortOpen)->Arg(5000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Heap held per MB of log text, appended in blocks the size a busy line delivers.
void BM_LogTextMemory(benchmark::State& state) {
    const std::size_t total = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string block(4000, 'x');
    for (auto _ : state) {
        const std::size_t heap0 = ::mallinfo2().uordblks + ::mallinfo2().hblkhd;
        TLogText log;
        while (log.Size() < total)
            log.Append(block);
        const std::size_t heap1 = ::mallinfo2().uordblks + ::mallinfo2().hblkhd;
        state.counters["heap_MB_per_MB"] =
            static_cast<double>(heap1 - heap0) / static_cast<double>(log.Size());
        state.counters["held_MB_per_MB"] =
            static_cast<double>(log.AllocatedBytes()) / static_cast<double>(log.Size());
        benchmark::DoNotOptimize(log.EndsWith("x"));
    }
}
BENCHMARK(BM_LogTextMemory)->Arg(1)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

// The hex dump takes every received batch, shown or not: its cost per byte at the default limit.
void BM_HexDumpAppend(benchmark::State& state) {
    const std::string batch(static_cast<std::size_t>(state.range(0)), 'x');
    THexDump dump;
    for (auto _ : state)
        dump.Append(batch, THexDump::TClock::now());
    benchmark::DoNotOptimize(dump.TotalBytes());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HexDumpAppend)->Arg(64)->Arg(4096)->Arg(65536);

} // namespace
} // namespace qorvel
