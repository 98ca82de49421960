#include "peer_util.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace qorvel::test {
namespace {

using TClock = std::chrono::steady_clock;

// lrzsz flushes its input right after each request it writes; an answer that came back within
// that moment would be flushed with it, which no real line is quick enough to cause.
constexpr auto kLineDelay = std::chrono::microseconds(1000);

struct TPty {
    int Master = -1, Slave = -1;
    std::string Name;
    TPty() {
        char name[128];
        if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        Name = name;
        termios raw{};
        tcgetattr(Slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(Slave, TCSANOW, &raw);
        fcntl(Master, F_SETFD, FD_CLOEXEC);
        fcntl(Slave, F_SETFD, FD_CLOEXEC);
    }
    ~TPty() {
        close(Master);
        close(Slave);
    }
};

// One direction of the relay: bytes wait kLineDelay, then go out with the faults applied.
struct TDirection {
    int From, To;
    std::deque<std::pair<TClock::time_point, std::string>> Queue;
    std::string Pending; // out of the queue, not yet taken by the far end
    bool Open = true;
};

class TRelay {
public:
    TRelay(const TFaults& Faults, std::uint64_t InterruptOursAt, std::uint64_t InterruptTheirsAt)
        : FFaults(Faults), FRandom(Faults.Seed), FOursAt(InterruptOursAt), FTheirsAt(InterruptTheirsAt) {}
    void Add(int From, int To) {
        // Writes never block: an end that stops reading must not stall the other direction or Stop.
        fcntl(To, F_SETFL, fcntl(To, F_GETFL) | O_NONBLOCK);
        FDirections.push_back({From, To, {}, {}, true});
    }
    void Start(pid_t Ours, pid_t Theirs) {
        FOurs = Ours;
        FTheirs = Theirs;
        FThread = std::thread([this] { Run(); });
    }
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    std::uint32_t Faults() const { return FMade; }

private:
    bool OneIn(std::uint32_t N) { return N != 0 && FRandom() % N == 0; }

    std::string Mangle(const std::string& In) {
        std::string out;
        for (const char c : In) {
            if (OneIn(FFaults.DropOneIn)) {
                ++FMade;
                continue;
            }
            char b = c;
            if (OneIn(FFaults.FlipOneIn)) {
                ++FMade;
                b = static_cast<char>(b ^ (1 << (FRandom() % 8)));
            }
            out += b;
            if (OneIn(FFaults.DuplicateOneIn)) {
                ++FMade;
                out += b;
            }
        }
        return out;
    }

    // Writes what the far end takes now; the rest waits for the next round.
    static void Flush(TDirection& D) {
        while (!D.Pending.empty()) {
            const ssize_t n = write(D.To, D.Pending.data(), D.Pending.size());
            if (n > 0) {
                D.Pending.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN) D.Pending.clear(); // that end is gone
                break;
            }
        }
    }

    void Run() {
        char buffer[65536];
        while (!FStop) {
            std::vector<pollfd> fds;
            int waitMs = 20; // FStop is looked at this often
            for (const TDirection& d : FDirections) {
                fds.push_back({d.From, static_cast<short>(d.Open ? POLLIN : 0), 0});
                if (!d.Queue.empty() || !d.Pending.empty()) waitMs = 1;
            }
            poll(fds.data(), fds.size(), waitMs);
            const auto now = TClock::now();
            for (std::size_t i = 0; i < FDirections.size(); ++i) {
                TDirection& d = FDirections[i];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    const ssize_t n = read(d.From, buffer, sizeof buffer);
                    if (n > 0)
                        d.Queue.emplace_back(now + kLineDelay, std::string(buffer, n));
                    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                        d.Open = false;
                }
                Flush(d);
                while (d.Pending.empty() && !d.Queue.empty() && d.Queue.front().first <= now) {
                    const std::string bytes = Mangle(d.Queue.front().second);
                    d.Queue.pop_front();
                    d.Pending = bytes;
                    Flush(d);
                    FRelayed += bytes.size();
                    if (FFaults.StallAtByte && !FStalled && FRelayed >= FFaults.StallAtByte) {
                        FStalled = true;
                        std::this_thread::sleep_for(std::chrono::seconds(3));
                    }
                    if (FOursAt && FRelayed >= FOursAt && FOurs > 0) {
                        kill(FOurs, SIGINT);
                        FOursAt = 0;
                    }
                    if (FTheirsAt && FRelayed >= FTheirsAt && FTheirs > 0) {
                        kill(FTheirs, SIGINT);
                        FTheirsAt = 0;
                    }
                }
            }
        }
    }

    TFaults FFaults;
    std::mt19937 FRandom;
    std::uint64_t FOursAt, FTheirsAt;
    pid_t FOurs = -1, FTheirs = -1;
    std::vector<TDirection> FDirections;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<std::uint64_t> FRelayed{0};
    std::atomic<std::uint32_t> FMade{0};
    bool FStalled = false;
};

} // namespace

std::string TempFolder() {
    // Every folder made goes when the test program ends.
    static struct TFolders {
        std::mutex Lock;
        std::vector<std::string> Paths;
        ~TFolders() {
            for (const std::string& path : Paths)
                std::filesystem::remove_all(path);
        }
    } folders;
    char pattern[] = "/tmp/qorvel-xfer-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    std::lock_guard guard(folders.Lock);
    folders.Paths.push_back(pattern);
    return pattern;
}

std::string RandomBytes(std::size_t Size, std::uint32_t Seed) {
    std::mt19937 random(Seed);
    std::string bytes(Size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::string WriteFile(const std::string& Folder, const std::string& Name, const std::string& Bytes) {
    const std::string path = Folder + "/" + Name;
    std::ofstream(path, std::ios::binary) << Bytes;
    return path;
}

std::string ReadWhole(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::map<std::string, std::string> FolderFiles(const std::string& Folder) {
    std::map<std::string, std::string> files;
    std::error_code error; // no folder: no files
    for (const auto& entry : std::filesystem::directory_iterator(Folder, error))
        if (std::filesystem::is_regular_file(entry.symlink_status()))
            files[entry.path().filename().string()] = ReadWhole(entry.path());
    return files;
}

pid_t Spawn(std::vector<std::string> Argv, int In, int Out, const std::string& Folder,
            const std::string& ErrorFile) {
    std::vector<char*> argv; // made before the fork: the child of a threaded process must not allocate
    for (std::string& a : Argv)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (In >= 0) setsid(); // a program on a line has a session of its own, as on a board
    if (In >= 0) dup2(In, 0);
    if (Out >= 0) dup2(Out, 1);
    dup2(open(ErrorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
    if (chdir(Folder.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
}

int WaitExit(pid_t Pid, TClock::time_point Deadline) {
    int status = 0;
    while (waitpid(Pid, &status, WNOHANG) != Pid) {
        if (TClock::now() > Deadline) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TPeerResult RunPeer(const TPeerRun& Run) {
    TPeerResult result;
    result.Folder = TempFolder();
    TPty theirs, ours;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string report = result.Folder + ".report";
    const bool xmodem = Run.Protocol.rfind("xmodem", 0) == 0;

    std::vector<std::string> xfer = {
        QORVEL_XFER_PATH, Run.OursSends ? "send" : "receive", "-p", Run.Protocol, "--port", ours.Name,
        "--quiet"};
    xfer.insert(xfer.end(), Run.XferOptions.begin(), Run.XferOptions.end());
    if (Run.OursSends)
        xfer.insert(xfer.end(), Run.Files.begin(), Run.Files.end());
    else
        xfer.insert(xfer.end(), {"--folder", result.Folder});
    if (!Run.OursSends && xmodem) xfer.insert(xfer.end(), {"--name", "out.bin"});
    // Our side first: a port opened after the receiver's first 'C' would lose it to the purge at open.
    unlink(report.c_str());
    const pid_t oursPid = Spawn(xfer, -1, -1, result.Folder, report);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<std::string> lrzsz = Run.Lrzsz;
    if (!Run.OursSends) lrzsz.insert(lrzsz.end(), Run.Files.begin(), Run.Files.end());
    if (Run.OursSends && xmodem) lrzsz.push_back("out.bin");
    // lrzsz reads the pty and writes into a pipe: its flush after the last ACK would drop that ACK
    // from a pty before the relay read it. QORVEL_LRZSZ_LOG=FILE keeps its messages (add -vv).
    const char* log = std::getenv("QORVEL_LRZSZ_LOG");
    const pid_t theirsPid =
        Run.StartLrzsz ? Spawn(lrzsz, theirs.Slave, pipeFds[1], result.Folder, log ? log : "/dev/null") : -1;
    close(pipeFds[1]);
    TRelay relay(Run.Faults, Run.InterruptOursAtByte, Run.InterruptTheirsAtByte);
    relay.Add(pipeFds[0], ours.Master);
    relay.Add(ours.Master, theirs.Master);
    relay.Start(oursPid, theirsPid);

    const auto deadline = TClock::now() + std::chrono::milliseconds(Run.TimeoutMs);
    result.OursExit = WaitExit(oursPid, deadline);
    if (theirsPid > 0) result.TheirsExit = WaitExit(theirsPid, deadline);
    result.TimedOut = result.OursExit == -1 || (theirsPid > 0 && result.TheirsExit == -1);
    relay.Stop();
    close(pipeFds[0]);
    result.OursReport = ReadWhole(report);
    unlink(report.c_str());
    result.FaultsMade = relay.Faults();
    return result;
}

} // namespace qorvel::test
