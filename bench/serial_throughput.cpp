// Throughput and idle cost of the serial component on a pseudo-terminal, through the full path:
// a writer process on the master, the event thread, the synchronised OnData on the main thread
// and ReadData of Received; SendData to a reader process; CPU used while a port sits open.
// Argument 0 opens the pseudo-terminal itself; 1 and 2 open it through a local ser2net as
// rfc2217:// and tcp:// network ports, so the figures stand side by side; 3 is rfc2217:// with
// ser2net sending as soon as it has data in blocks of up to 64 KiB (by default it waits about two
// character times per read and reads little at a time).
#include "../tests/platform/ser2net_helper.h"
#include "platform/mainthread.h"
#include "serial/xcomm.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace qorvel;

constexpr std::uint64_t kReceiveBytes = 128ull << 20; // at least 100 MB, as the target asks
constexpr std::uint64_t kSendBytes = 64ull << 20;
constexpr std::size_t kBlock = 64 * 1024;
constexpr auto kIdle = std::chrono::seconds(5);

// Position-dependent bytes: a lost or repeated byte shifts every later one.
inline std::uint8_t Pattern(std::uint64_t i) {
    return static_cast<std::uint8_t>(i % 251);
}

struct TPtyPair {
    int Master = -1, Slave = -1;
    std::string Name;
    TPtyPair() {
        char name[128] = {};
        if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) Name = name;
    }
    ~TPtyPair() {
        close(Master);
        close(Slave);
    }
};

enum TPortKind : int { pkPty, pkRfc2217, pkTcp, pkRfc2217Eager };

// The pseudo-terminal, reached directly or through a ser2net that serves it.
struct TBenchPort {
    TPtyPair Pty;
    bool Direct;
    std::unique_ptr<qorvel::test::TSer2net> Server;

    explicit TBenchPort(std::int64_t kind) : Direct(kind == pkPty) {
        if (Direct) return;
        Server = std::make_unique<qorvel::test::TSer2net>(
            Pty.Name, kind != pkTcp,
            kind == pkRfc2217Eager ? "chardelay: false\ndev-to-net-bufsize: 65536" : "");
        if (!Server->Start()) Server.reset();
    }
    bool Ok() const { return !Pty.Name.empty() && (Direct || Server); }
    std::string Name() const { return Server ? Server->Url() : Pty.Name; }
};

const char* KindLabel(std::int64_t kind) {
    switch (kind) {
    case pkRfc2217: return "rfc2217 via ser2net";
    case pkTcp: return "tcp via ser2net";
    case pkRfc2217Eager: return "rfc2217 via ser2net, no char delay, 64 KiB reads";
    default: return "pty";
    }
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A child process that writes `count` pattern bytes to `fd`, then exits.
pid_t SpawnWriter(int fd, std::uint64_t count) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<std::uint8_t> block(kBlock);
    std::uint64_t sent = 0;
    while (sent < count) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(kBlock, count - sent));
        for (std::size_t i = 0; i < n; ++i)
            block[i] = Pattern(sent + i);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = write(fd, block.data() + done, n - done);
            if (w <= 0) _exit(1);
            done += std::size_t(w);
        }
        sent += n;
    }
    _exit(0);
}

// A child process that reads `count` bytes from `fd`, checks the pattern and reports
// (bytes read, bytes wrong) on `resultFd`.
pid_t SpawnReader(int fd, std::uint64_t count, int resultFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<std::uint8_t> block(kBlock);
    std::uint64_t got = 0, wrong = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) break;
        const ssize_t r = read(fd, block.data(), block.size());
        if (r <= 0) break;
        for (ssize_t i = 0; i < r; ++i)
            wrong += block[std::size_t(i)] != Pattern(got + std::uint64_t(i));
        got += std::uint64_t(r);
    }
    const std::uint64_t result[2] = {got, wrong};
    [[maybe_unused]] ssize_t w = write(resultFd, result, sizeof result);
    _exit(0);
}

void BM_ReceiveThroughput(benchmark::State& state) {
    for (auto _ : state) {
        TBenchPort port(state.range(0));
        if (!port.Ok()) {
            state.SkipWithError("no port (is ser2net installed?)");
            return;
        }
        TPtyPair& pty = port.Pty;
        TXComm comm;
        comm.SetDeviceName(port.Name());
        comm.Buffers().SetInputSize(4096);
        std::vector<std::uint8_t> buffer;
        std::uint64_t received = 0, wrong = 0, batches = 0;
        comm.SetOnData([&](TCustomComm* c, std::uint32_t n) {
            ++batches;
            buffer.resize(n);
            const std::uint32_t got = c->ReadData(buffer.data(), n);
            for (std::uint32_t i = 0; i < got; ++i)
                wrong += buffer[i] != Pattern(received + i);
            received += got;
        });
        comm.OpenDevice();
        const auto start = std::chrono::steady_clock::now();
        const pid_t writer = SpawnWriter(pty.Master, kReceiveBytes);
        platform::WaitServing([&] { return received >= kReceiveBytes; }, std::chrono::seconds(120));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        comm.CloseDevice();
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        state.SetIterationTime(seconds);
        state.counters["MB_per_s"] = double(received) / 1e6 / seconds;
        state.counters["bytes_lost"] = double(kReceiveBytes - std::min(received, kReceiveBytes));
        state.counters["bytes_wrong"] = double(wrong);
        state.counters["MB"] = double(received) / 1e6;
        state.counters["batches"] = double(batches);
        state.SetLabel(KindLabel(state.range(0)));
    }
}
BENCHMARK(BM_ReceiveThroughput)
    ->Arg(pkPty)
    ->Arg(pkRfc2217)
    ->Arg(pkTcp)
    ->Arg(pkRfc2217Eager)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_SendThroughput(benchmark::State& state) {
    for (auto _ : state) {
        TPtyPair pty;
        TXComm comm;
        comm.SetDeviceName(pty.Name);
        comm.Buffers().SetOutputSize(4096);
        comm.OpenDevice();
        int result[2];
        if (pipe(result) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t reader = SpawnReader(pty.Master, kSendBytes, result[1]);
        std::vector<std::uint8_t> block(kBlock);
        std::uint64_t sent = 0;
        const auto start = std::chrono::steady_clock::now();
        while (sent < kSendBytes) {
            for (std::size_t i = 0; i < kBlock; ++i)
                block[i] = Pattern(sent + i);
            const std::uint32_t n = comm.SendData(block.data(), kBlock, 5000);
            sent += n;
            if (n < kBlock) break;
        }
        std::uint64_t report[2] = {0, 0};
        [[maybe_unused]] ssize_t r = read(result[0], report, sizeof report);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        waitpid(reader, nullptr, 0);
        close(result[0]);
        close(result[1]);
        comm.CloseDevice();
        state.SetIterationTime(seconds);
        state.counters["MB_per_s"] = double(report[0]) / 1e6 / seconds;
        state.counters["bytes_lost"] = double(kSendBytes - std::min(report[0], kSendBytes));
        state.counters["bytes_wrong"] = double(report[1]);
    }
}
BENCHMARK(BM_SendThroughput)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU time of the whole process (all threads) while a port sits open for 5 s and the main
// thread waits for hand-overs, as an idle application would.
void BM_IdleCpu(benchmark::State& state) {
    for (auto _ : state) {
        TBenchPort port(state.range(0));
        if (!port.Ok()) {
            state.SkipWithError("no port (is ser2net installed?)");
            return;
        }
        TXComm comm;
        comm.SetDeviceName(port.Name());
        comm.OpenDevice();
        const double cpu0 = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        platform::WaitServing([] { return false; }, kIdle);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = CpuSeconds() - cpu0;
        comm.CloseDevice();
        state.SetIterationTime(seconds);
        state.counters["cpu_ms"] = cpu * 1e3;
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / seconds;
        state.SetLabel(KindLabel(state.range(0)));
    }
}
BENCHMARK(BM_IdleCpu)
    ->Arg(pkPty)
    ->Arg(pkRfc2217)
    ->Arg(pkTcp)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
