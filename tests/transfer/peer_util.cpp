#include "peer_util.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
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
    std::uint64_t Relayed() const { return FRelayed; }
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
                        std::this_thread::sleep_for(std::chrono::milliseconds(FFaults.StallMs));
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

std::vector<char*> Argv(std::vector<std::string>& Args) {
    std::vector<char*> argv;
    for (std::string& a : Args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int ExitOf(int Status) {
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

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
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::map<std::string, std::string> FolderFiles(const std::string& Folder) {
    std::map<std::string, std::string> files;
    if (DIR* dir = opendir(Folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string path = Folder + "/" + entry->d_name;
            struct stat st {};
            if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files[entry->d_name] = ReadWhole(path);
        }
        closedir(dir);
    }
    return files;
}

TPeerResult RunPeer(const TPeerRun& Run) {
    TPeerResult result;
    result.Folder = TempFolder();
    TPty theirs, ours;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string report = result.Folder + ".report";
    const auto start = TClock::now();

    std::vector<std::string> xfer = {
        QORVEL_XFER_PATH, Run.OursSends ? "send" : "receive", "-p", Run.Protocol, "--port", ours.Name,
        "--quiet"};
    xfer.insert(xfer.end(), Run.XferOptions.begin(), Run.XferOptions.end());
    if (Run.OursSends) {
        xfer.insert(xfer.end(), Run.Files.begin(), Run.Files.end());
    } else {
        xfer.insert(xfer.end(), {"--folder", result.Folder});
        if (Run.Protocol.rfind("xmodem", 0) == 0) xfer.insert(xfer.end(), {"--name", Run.XmodemName});
    }
    // Our side first: a port opened after the receiver's first 'C' would lose it to the purge at open.
    const pid_t oursPid = fork();
    if (oursPid == 0) {
        const int err = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        auto argv = Argv(xfer);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<std::string> lrzsz = Run.Lrzsz;
    if (!Run.OursSends)
        lrzsz.insert(lrzsz.end(), Run.Files.begin(), Run.Files.end());
    else if (Run.Protocol.rfind("xmodem", 0) == 0)
        lrzsz.push_back(Run.XmodemName);
    pid_t theirsPid = -1;
    if (Run.StartLrzsz) {
        theirsPid = fork();
        if (theirsPid == 0) {
            // lrzsz reads the pty and writes into a pipe: its flush after the last ACK would drop
            // that ACK from a pty before the relay read it.
            setsid();
            dup2(theirs.Slave, 0);
            dup2(pipeFds[1], 1);
            // QORVEL_LRZSZ_LOG=FILE keeps lrzsz's messages (add -vv to its command line) for debugging.
            const char* log = std::getenv("QORVEL_LRZSZ_LOG");
            const int err = open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(err, 2);
            if (chdir(result.Folder.c_str()) != 0) _exit(127);
            auto argv = Argv(lrzsz);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    close(pipeFds[1]);
    TRelay relay(Run.Faults, Run.InterruptOursAtByte, Run.InterruptTheirsAtByte);
    relay.Add(pipeFds[0], ours.Master);
    relay.Add(ours.Master, theirs.Master);
    relay.Start(oursPid, theirsPid);

    const auto deadline = start + std::chrono::milliseconds(Run.TimeoutMs);
    int oursStatus = -1, theirsStatus = -1;
    bool oursDone = false, theirsDone = theirsPid < 0;
    while (!(oursDone && theirsDone)) {
        int status;
        if (!oursDone && waitpid(oursPid, &status, WNOHANG) == oursPid) {
            oursDone = true;
            oursStatus = status;
        }
        if (!theirsDone && waitpid(theirsPid, &status, WNOHANG) == theirsPid) {
            theirsDone = true;
            theirsStatus = status;
        }
        // lrzsz is not waited for long once our side gave up: it may wait for a peer that is gone.
        if (TClock::now() > deadline) {
            result.TimedOut = true;
            if (!oursDone) kill(oursPid, SIGKILL), waitpid(oursPid, &oursStatus, 0);
            if (!theirsDone) kill(theirsPid, SIGKILL), waitpid(theirsPid, &theirsStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    relay.Stop();
    close(pipeFds[0]);
    result.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    result.OursExit = oursStatus < 0 ? -1 : ExitOf(oursStatus);
    result.TheirsExit = theirsStatus < 0 ? -1 : ExitOf(theirsStatus);
    result.OursReport = ReadWhole(report);
    unlink(report.c_str());
    result.NotBuilt = result.OursExit == 3 && result.OursReport.find("is not built") != std::string::npos;
    result.Relayed = relay.Relayed();
    result.FaultsMade = relay.Faults();
    return result;
}

} // namespace qorvel::test
