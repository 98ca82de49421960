// The program under a flood, against the pseudo-terminal's own limit: a plain reader (4 KiB reads
// into nothing) and the program's receive path take turns on the same kind of pseudo-terminal, and
// the ratio of their rates is reported; every program round is checked byte for byte through Save
// Log, with the delay of a posted event (how soon the window answers input), repaints, where the
// main thread's time goes, and resident memory. Latency of a device byte to its painted cell and
// of Send to the byte read by the device are separate benchmarks.
//
//   flood_bench --benchmark_filter=Flood  [FLOOD_MB=256 FLOOD_ROUNDS=3 FLOOD_LOG=FOLDER]
//   flood_bench --benchmark_filter=LongSession  [LONG_MB=64,1024,4096]
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "app/desktop.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "emulvt/emul_vt.h"
#include "emulvt/screen.h"
#include "serial/xcomm.h"

namespace qorvel {
namespace {

using Clock = std::chrono::steady_clock;

std::size_t EnvSize(const char* Name, std::size_t Default) {
    const char* v = std::getenv(Name);
    return v && *v ? std::strtoull(v, nullptr, 10) : Default;
}

double Seconds(Clock::duration D) {
    return std::chrono::duration<double>(D).count();
}

double ThreadCpu() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ProcessCpu() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ResidentMB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

double Percentile(std::vector<double> Values, double P) {
    if (Values.empty()) return 0;
    std::sort(Values.begin(), Values.end());
    return Values[std::min(Values.size() - 1, std::size_t(P * double(Values.size())))];
}

// Runs the event loop as the program's own does, sleeping until an event comes, until Done holds or
// LimitSeconds pass. (processEvents with a time limit never sleeps: it would spin the main thread
// and take a core from the device and the event thread.) A short timer wakes it to re-test.
void RunUntil(const std::function<bool()>& Done, double LimitSeconds) {
    QTimer tick;
    tick.start(10);
    const auto start = Clock::now();
    while (!Done() && Seconds(Clock::now() - start) < LimitSeconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// The device's text: 80-byte lines, a line number then printable and high (CP437) bytes, LF.
// No NUL (the program cuts a block at one) and no control bytes but LF.
constexpr std::size_t kLine = 80;
void MakeLine(std::uint64_t N, char* Out) {
    std::snprintf(Out, 12, "%010llu ", static_cast<unsigned long long>(N));
    for (std::size_t i = 11; i < kLine - 1; ++i) {
        const unsigned v = static_cast<unsigned>((N * 31 + i * 7) % 190);
        Out[i] = static_cast<char>(v < 95 ? 0x20 + v : 0xA0 + (v - 95));
    }
    Out[kLine - 1] = '\n';
}

// Hash of the stream as the log holds it (LF expanded to CR LF), 8 bytes at a time.
struct THash {
    std::uint64_t H = 1469598103934665603ull;
    std::uint64_t Pending = 0;
    unsigned Count = 0;
    void Byte(unsigned char C) {
        Pending = Pending << 8 | C;
        if (++Count == 8) {
            H = (H ^ Pending) * 1099511628211ull;
            H ^= H >> 29;
            Pending = Count = 0;
        }
    }
    void Add(std::string_view S) {
        for (unsigned char c : S)
            Byte(c);
    }
    std::uint64_t Final() const { return (H ^ Pending ^ Count) * 1099511628211ull; }
};

THash ExpectedLog(std::uint64_t Lines) {
    THash h;
    char line[kLine];
    for (std::uint64_t n = 0; n < Lines; ++n) {
        MakeLine(n, line);
        h.Add(std::string_view(line, kLine - 1));
        h.Add("\r\n");
    }
    return h;
}

// A child process for the device; it ends with the benchmark, even one that is killed.
pid_t ForkDevice() {
    const pid_t pid = ::fork();
    if (pid == 0) ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    return pid;
}

// A child process that writes Lines lines to Fd, then exits.
pid_t SpawnDevice(int Fd, std::uint64_t Lines) {
    const pid_t pid = ForkDevice();
    if (pid != 0) return pid;
    constexpr std::size_t kPerWrite = 64 * 1024 / kLine;
    std::vector<char> block(kPerWrite * kLine);
    for (std::uint64_t n = 0; n < Lines;) {
        const std::size_t lines = std::size_t(std::min<std::uint64_t>(kPerWrite, Lines - n));
        for (std::size_t i = 0; i < lines; ++i)
            MakeLine(n + i, block.data() + i * kLine);
        n += lines;
        const char* p = block.data();
        std::size_t left = lines * kLine;
        while (left > 0) {
            const ssize_t w = ::write(Fd, p, left);
            if (w <= 0) ::_exit(1);
            p += w;
            left -= std::size_t(w);
        }
    }
    ::_exit(0);
}

struct TPty {
    TPty() {
        char name[256];
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) std::abort();
        Name = name;
    }
    ~TPty() {
        if (Master >= 0) ::close(Master);
        if (Slave >= 0) ::close(Slave);
    }
    int Master = -1, Slave = -1;
    std::string Name;
};

// The plain reader: the slave in raw mode, 4 KiB reads into nothing. Returns MB/s.
double PlainReaderRound(std::uint64_t Lines) {
    TPty pty;
    termios t{};
    ::tcgetattr(pty.Slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(pty.Slave, TCSANOW, &t);
    const std::uint64_t total = Lines * kLine;
    const auto start = Clock::now();
    const pid_t device = SpawnDevice(pty.Master, Lines);
    char buffer[4096];
    std::uint64_t got = 0;
    while (got < total) {
        const ssize_t n = ::read(pty.Slave, buffer, sizeof buffer);
        if (n <= 0) break;
        got += std::uint64_t(n);
    }
    const double s = Seconds(Clock::now() - start);
    ::waitpid(device, nullptr, 0);
    return double(got) / 1e6 / s;
}

// Counts the window's repaints and the time they take (paints of every widget and the flush).
class TPaintCounter : public QObject {
public:
    std::uint64_t Paints = 0;
    double Seconds = 0;
    bool eventFilter(QObject* Target, QEvent* E) override {
        if (E->type() != QEvent::UpdateRequest || FInside) return false;
        const auto start = Clock::now();
        FInside = true;
        QCoreApplication::sendEvent(Target, E);
        FInside = false;
        ++Paints;
        Seconds += qorvel::Seconds(Clock::now() - start);
        return true;
    }

private:
    bool FInside = false;
};

// The program with its window shown, connected to a pseudo-terminal's slave.
struct TProgram {
    TProgram() {
        // Error boxes only: the plain "Connected to" box comes with every start.
        TDesktopHooks hooks;
        hooks.MessageBox = [this](TMessageKind Kind, const QString&, const QString& Text) {
            if (Kind == TMessageKind::Error) Boxes.push_back(Text.toStdString());
        };
        SetDesktopHooks(std::move(hooks));
        Form.AttachDialogs(&Settings, &About);
        Settings.SetComText(QString::fromStdString(Pty.Name));
        // FLOOD_LOG=FOLDER: the same rounds with a session log file, to see what logging costs.
        if (const char* folder = std::getenv("FLOOD_LOG"))
            Form.LogFiles->StartFile(QString::fromLocal8Bit(folder) + QStringLiteral("/flood-%H%M%S.log"),
                                     "pty");
        Form.show();
        RunUntil([this] { return Form.COM->Opened(); }, 10);
        Form.window()->installEventFilter(&Paints);
        QCoreApplication::processEvents();
    }
    ~TProgram() {
        if (Form.COM->Opened()) Form.Button1Click();
        SetDesktopHooks({});
    }
    TPty Pty;
    std::vector<std::string> Boxes;
    TForm1 Form;
    TForm2 Settings;
    TForm3 About;
    TPaintCounter Paints;
};

struct TRoundFigures {
    double MBps = 0, SecondsTaken = 0;
    double MainCpu = 0, OtherCpu = 0;     // seconds
    double InData = 0;                    // seconds the main thread spent in ComData
    double InPaint = 0;                   // and in repainting the window
    std::uint64_t Batches = 0, Bytes = 0; // ComData calls and bytes they were given
    std::uint64_t Paints = 0;
    std::vector<double> PostDelaysMs;
    bool Exact = false;
    double SaveSeconds = 0;
};

// Save Log into a temporary folder, timed; then the saved file's size and hash, and the file removed.
struct TSaved {
    double Seconds = 0;
    std::uint64_t Size = 0;
    std::uint64_t Hash = 0;
};
TSaved SaveLogAndHash(TProgram& P) {
    TSaved saved;
    char dir[] = "/tmp/qorvel-flood-XXXXXX";
    const std::string path = std::string(::mkdtemp(dir)) + "/flood.log";
    const auto start = Clock::now();
    P.Form.Terminal.SaveToFile(path);
    P.Form.Button3Click(); // Save Log clears after writing
    saved.Seconds = Seconds(Clock::now() - start);
    THash h;
    std::vector<char> buffer(1 << 20);
    const int fd = ::open(path.c_str(), O_RDONLY);
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0; saved.Size += std::uint64_t(n))
        h.Add(std::string_view(buffer.data(), std::size_t(n)));
    ::close(fd);
    ::unlink(path.c_str());
    ::rmdir(dir);
    saved.Hash = h.Final();
    return saved;
}

// One flood into the program: the device sends Lines lines; meanwhile another thread posts an event
// to the window every 10 ms and the delay until it runs is recorded. Then Save Log, timed, and the
// saved file checked against the sent stream.
TRoundFigures ProgramRound(TProgram& P, std::uint64_t Lines, const THash& Expected, bool Save) {
    TRoundFigures f;
    const std::uint64_t expectedSize = Lines * (kLine + 1);
    const TDataEvent inner = P.Form.COM->OnData();
    P.Form.COM->SetOnData([&](TCustomComm* Sender, std::uint32_t Received) {
        const auto t0 = Clock::now();
        ++f.Batches;
        f.Bytes += Received;
        inner(Sender, Received);
        f.InData += Seconds(Clock::now() - t0);
    });
    std::mutex lock;
    std::atomic<bool> flooding{true};
    std::thread poster([&] {
        while (flooding.load()) {
            const auto posted = Clock::now();
            QMetaObject::invokeMethod(
                &P.Form,
                [&, posted] {
                    std::lock_guard g(lock);
                    f.PostDelaysMs.push_back(Seconds(Clock::now() - posted) * 1e3);
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const std::uint64_t paints0 = P.Paints.Paints;
    const double paintSeconds0 = P.Paints.Seconds;
    const double main0 = ThreadCpu(), all0 = ProcessCpu();
    const auto start = Clock::now();
    const pid_t device = SpawnDevice(P.Pty.Master, Lines);
    RunUntil([&] { return P.Form.Terminal.Size() >= expectedSize; }, 600);
    f.SecondsTaken = Seconds(Clock::now() - start);
    f.MainCpu = ThreadCpu() - main0;
    f.OtherCpu = ProcessCpu() - all0 - f.MainCpu;
    f.MBps = double(Lines * kLine) / 1e6 / f.SecondsTaken;
    flooding = false;
    poster.join();
    QCoreApplication::processEvents();
    f.Paints = P.Paints.Paints - paints0;
    f.InPaint = P.Paints.Seconds - paintSeconds0;
    ::waitpid(device, nullptr, 0);
    P.Form.COM->SetOnData(inner);
    if (P.Form.Terminal.Size() != expectedSize) return f;
    if (!Save) {
        THash h;
        P.Form.Terminal.ForEachChunk([&](std::string_view c) { h.Add(c); });
        f.Exact = h.Final() == Expected.Final();
        P.Form.Button3Click();
        return f;
    }
    const TSaved saved = SaveLogAndHash(P);
    f.SaveSeconds = saved.Seconds;
    f.Exact = saved.Size == expectedSize && saved.Hash == Expected.Final();
    return f;
}

void Report(benchmark::State& State, const TRoundFigures& F) {
    State.counters["MB_per_s"] = F.MBps;
    State.counters["exact"] = F.Exact ? 1 : 0;
    State.counters["main_cpu_pct"] = 100 * F.MainCpu / F.SecondsTaken;
    State.counters["other_cpu_pct"] = 100 * F.OtherCpu / F.SecondsTaken;
    State.counters["in_ComData_pct"] = 100 * F.InData / F.SecondsTaken;
    State.counters["batch_KiB"] = F.Batches ? double(F.Bytes) / double(F.Batches) / 1024 : 0;
    State.counters["paints_per_s"] = double(F.Paints) / F.SecondsTaken;
    State.counters["in_paint_pct"] = 100 * F.InPaint / F.SecondsTaken;
    State.counters["post_delay_p50_ms"] = Percentile(F.PostDelaysMs, 0.5);
    State.counters["post_delay_p99_ms"] = Percentile(F.PostDelaysMs, 0.99);
    State.counters["post_delay_max_ms"] = Percentile(F.PostDelaysMs, 1.0);
}

// Plain reader and program in turns, FLOOD_ROUNDS rounds of FLOOD_MB each.
void BM_FloodVsPlainReader(benchmark::State& State) {
    const std::uint64_t lines = (EnvSize("FLOOD_MB", 256) << 20) / kLine;
    const std::size_t rounds = EnvSize("FLOOD_ROUNDS", 3);
    const THash expected = ExpectedLog(lines);
    for (auto _ : State) {
        // pairs: each round's program rate over the plain rate just before it. The machine's speed
        // drifts between rounds; the pairs' median is the steadier figure.
        std::vector<double> plain, program, pairs;
        TRoundFigures last;
        bool exact = true;
        TProgram p;
        for (std::size_t r = 0; r < rounds; ++r) {
            // FLOOD_PLAIN=0 leaves the plain reader out (to profile the program alone).
            if (EnvSize("FLOOD_PLAIN", 1) != 0) plain.push_back(PlainReaderRound(lines));
            last = ProgramRound(p, lines, expected, false);
            exact = exact && last.Exact;
            program.push_back(last.MBps);
            if (!plain.empty()) pairs.push_back(program.back() / plain.back());
            std::fprintf(stderr, "round %zu: plain %.1f MB/s, program %.1f MB/s, ratio %.2f\n", r + 1,
                         plain.empty() ? 0.0 : plain.back(), program.back(), pairs.empty() ? 0.0 : pairs.back());
        }
        State.SetIterationTime(last.SecondsTaken);
        Report(State, last);
        State.counters["exact"] = exact ? 1 : 0;
        State.counters["plain_MB_per_s"] = Percentile(plain, 0.5);
        State.counters["MB_per_s"] = Percentile(program, 0.5);
        State.counters["ratio"] = Percentile(program, 0.5) / Percentile(plain, 0.5);
        State.counters["ratio_of_pairs"] = Percentile(pairs, 0.5);
    }
}
BENCHMARK(BM_FloodVsPlainReader)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A long session: resident memory after each step of LONG_MB (cumulative sizes), then Save Log of
// the whole, timed and checked byte for byte against the sent stream.
void BM_LongSession(benchmark::State& State) {
    std::vector<std::uint64_t> steps;
    const char* listed = std::getenv("LONG_MB");
    for (std::string s = listed && *listed ? listed : "64,1024"; !s.empty();) {
        const std::size_t comma = s.find(',');
        steps.push_back(std::strtoull(s.substr(0, comma).c_str(), nullptr, 10) << 20);
        s = comma == std::string::npos ? "" : s.substr(comma + 1);
    }
    for (auto _ : State) {
        TProgram p;
        State.counters["rss_MB_start"] = ResidentMB();
        // One stream, sent in steps: lines continue where the previous step ended.
        const std::uint64_t totalLines = steps.back() / kLine;
        const THash expected = ExpectedLog(totalLines);
        std::uint64_t sentLines = 0;
        double seconds = 0;
        const auto start = Clock::now();
        for (std::uint64_t bytes : steps) {
            const std::uint64_t upTo = bytes / kLine;
            // The device continues the numbering in a child that skips the lines already sent.
            const pid_t device = ForkDevice();
            if (device == 0) {
                constexpr std::size_t kPerWrite = 64 * 1024 / kLine;
                std::vector<char> block(kPerWrite * kLine);
                for (std::uint64_t n = sentLines; n < upTo;) {
                    const std::size_t k = std::size_t(std::min<std::uint64_t>(kPerWrite, upTo - n));
                    for (std::size_t i = 0; i < k; ++i)
                        MakeLine(n + i, block.data() + i * kLine);
                    n += k;
                    for (std::size_t done = 0; done < k * kLine;) {
                        const ssize_t w = ::write(p.Pty.Master, block.data() + done, k * kLine - done);
                        if (w <= 0) ::_exit(1);
                        done += std::size_t(w);
                    }
                }
                ::_exit(0);
            }
            RunUntil([&] { return p.Form.Terminal.Size() >= upTo * (kLine + 1); }, 3600);
            ::waitpid(device, nullptr, 0);
            sentLines = upTo;
            State.counters["rss_MB_at_" + std::to_string(bytes >> 20) + "MB"] = ResidentMB();
        }
        seconds = Seconds(Clock::now() - start);
        State.counters["receive_MB_per_s"] = double(sentLines * kLine) / 1e6 / seconds;
        const TSaved saved = SaveLogAndHash(p);
        State.counters["save_log_s"] = saved.Seconds;
        State.counters["exact"] =
            saved.Size == sentLines * (kLine + 1) && saved.Hash == expected.Final() ? 1 : 0;
        State.counters["saved_MB"] = double(saved.Size) / 1e6;
        State.counters["error_boxes"] = double(p.Boxes.size());
        State.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_LongSession)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Ends the timing of a repaint when the window's update (all its paints and the flush) is done.
class TRepaintClock : public QObject {
public:
    std::function<void()> After;
    bool eventFilter(QObject* Target, QEvent* E) override {
        if (E->type() != QEvent::UpdateRequest || !After || FInside) return false;
        FInside = true;
        QCoreApplication::sendEvent(Target, E);
        FInside = false;
        After();
        return true;
    }

private:
    bool FInside = false;
};

// Device byte to painted cell: the device overwrites the first cell of the cursor's row with a new
// letter; the time until the window's repaint that shows it has finished.
void BM_LatencyByteToPaint(benchmark::State& State) {
    for (auto _ : State) {
        TProgram p;
        TRepaintClock clock;
        p.Form.window()->installEventFilter(&clock);
        std::vector<double> ms;
        for (int i = 0; i < 1000; ++i) {
            const char letter = static_cast<char>('A' + i % 26);
            bool shown = false;
            Clock::time_point painted;
            clock.After = [&] {
                const TScreen* screen = p.Form.Terminal2->Screen();
                if (!shown && screen->GetLine(screen->FRow)->Txt[0] == letter) {
                    shown = true;
                    painted = Clock::now();
                }
            };
            // A gap between round trips, as between an operator's keystrokes: back to back, each
            // repaint would wait out the flood's repaint interval after the previous one.
            QTest::qWait(25);
            const char bytes[2] = {'\r', letter};
            const auto sent = Clock::now();
            if (::write(p.Pty.Master, bytes, 2) != 2) break;
            RunUntil([&] { return shown; }, 5);
            if (shown) ms.push_back(Seconds(painted - sent) * 1e3);
        }
        clock.After = nullptr;
        State.SetIterationTime(Percentile(ms, 0.5) / 1e3);
        State.counters["median_ms"] = Percentile(ms, 0.5);
        State.counters["p99_ms"] = Percentile(ms, 0.99);
        State.counters["round_trips"] = double(ms.size());
    }
}
BENCHMARK(BM_LatencyByteToPaint)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Send to the device: Enter in the command line (which presses Send) until the byte is read at the
// pseudo-terminal's master by another thread.
void BM_LatencySendToDevice(benchmark::State& State) {
    for (auto _ : State) {
        TProgram p;
        p.Form.Edit1->setFocus();
        std::atomic<bool> stop{false};
        std::atomic<std::int64_t> readAt{0};
        std::thread device([&] {
            char buffer[256];
            while (!stop.load()) {
                pollfd pf{p.Pty.Master, POLLIN, 0};
                if (::poll(&pf, 1, 50) <= 0) continue;
                if (::read(p.Pty.Master, buffer, sizeof buffer) > 0)
                    readAt = Clock::now().time_since_epoch().count();
            }
        });
        std::vector<double> ms;
        for (int i = 0; i < 1000; ++i) {
            readAt = 0;
            p.Form.Edit1->setEditText(QStringLiteral("x"));
            const auto pressed = Clock::now();
            QTest::keyClick(p.Form.Edit1, Qt::Key_Return);
            while (readAt.load() == 0 && Seconds(Clock::now() - pressed) < 5)
                std::this_thread::yield();
            if (readAt.load() != 0)
                ms.push_back(double(readAt.load() - pressed.time_since_epoch().count()) / 1e6);
            QCoreApplication::processEvents();
        }
        stop = true;
        device.join();
        State.SetIterationTime(Percentile(ms, 0.5) / 1e3);
        State.counters["median_ms"] = Percentile(ms, 0.5);
        State.counters["p99_ms"] = Percentile(ms, 0.99);
        State.counters["round_trips"] = double(ms.size());
    }
}
BENCHMARK(BM_LatencySendToDevice)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace qorvel
