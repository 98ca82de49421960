#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: the CI machine is small and shared.
constexpr auto kTimeout = 20s;

// One running qorvel-devsim with its link in a private temporary folder.
class TDevsim {
public:
    explicit TDevsim(std::vector<std::string> extra = {}) {
        char pattern[] = "/tmp/devsim-test-XXXXXX";
        FFolder = mkdtemp(pattern);
        FLink = FFolder / "tty";
        std::vector<std::string> arguments{QORVEL_DEVSIM_PATH, "--link", FLink.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        FPid = fork();
        if (FPid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        const auto end = std::chrono::steady_clock::now() + kTimeout;
        while (!fs::is_symlink(FLink) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(10ms);
    }
    ~TDevsim() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        fs::remove_all(FFolder);
    }

    // Sends the signal and returns the exit status, or -1 when the program did not exit normally.
    int Stop(int signal) {
        kill(FPid, signal);
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const fs::path& Link() const { return FLink; }
    const fs::path& Folder() const { return FFolder; }

private:
    fs::path FFolder;
    fs::path FLink;
    pid_t FPid = -1;
};

int OpenLine(const fs::path& link) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fd;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

void Send(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
    }
}

// Reads until the received text ends with `tail` after containing `needle` (or time runs out).
std::string ReadUntil(int fd, std::string_view needle, std::string_view tail = "QLX7400>") {
    std::string received;
    const auto end = std::chrono::steady_clock::now() + kTimeout;
    std::size_t found = std::string::npos;
    while (std::chrono::steady_clock::now() < end) {
        if (found == std::string::npos) found = received.find(needle);
        if (found != std::string::npos && received.ends_with(tail)) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[65536];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

TEST(DevsimProcess, AnswersHelpAndVer) {
    TDevsim devsim;
    ASSERT_TRUE(fs::is_symlink(devsim.Link()));
    const int fd = OpenLine(devsim.Link());
    ASSERT_GE(fd, 0);
    Send(fd, "help\n");
    const std::string help = ReadUntil(fd, "Keys:");
    EXPECT_NE(help.find("Qorvel QLX7400"), std::string::npos) << "banner";
    EXPECT_NE(help.find("QLX7400>help\nCommands:\n"), std::string::npos) << help;
    EXPECT_TRUE(help.ends_with("\nQLX7400>"));
    Send(fd, "ver\n");
    EXPECT_EQ(ReadUntil(fd, "firmware"),
              "ver\nQLX7400 virtual device, firmware 2.4.1 (qorvel-devsim 1.3)\nQLX7400>");
    close(fd);
}

TEST(DevsimProcess, RecordsEveryReceivedByte) {
    TDevsim probe; // only for a private folder name
    const fs::path record = probe.Folder() / "record.bin";
    std::string sent = "ver\n";
    for (int b = 1; b < 256; ++b)
        if (b != '\n' && b != '\r' && b != 0x03 && b != 0x19 && b != 0x1A)
            sent.push_back(static_cast<char>(b));
    sent += "\nlast\n";
    {
        TDevsim devsim({"--record", record.string(), "--prompt", "dev> "});
        const int fd = OpenLine(devsim.Link());
        ASSERT_GE(fd, 0);
        Send(fd, sent);
        const std::string out = ReadUntil(fd, "unknown command 'last'", "dev> ");
        EXPECT_NE(out.find("firmware 2.4.1"), std::string::npos);
        close(fd);
        EXPECT_EQ(devsim.Stop(SIGTERM), 0);
    }
    std::ifstream file(record, std::ios::binary);
    const std::string recorded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(recorded, sent);
}

TEST(DevsimProcess, SignalsRemoveTheLink) {
    for (int signal : {SIGTERM, SIGINT}) {
        TDevsim devsim;
        ASSERT_TRUE(fs::is_symlink(devsim.Link()));
        EXPECT_EQ(devsim.Stop(signal), 0) << signal;
        EXPECT_FALSE(fs::exists(fs::symlink_status(devsim.Link()))) << signal;
    }
}

TEST(DevsimProcess, ReconnectsAfterAnExclusiveSession) {
    TDevsim devsim;
    for (int session = 0; session < 3; ++session) {
        const int fd = OpenLine(devsim.Link());
        ASSERT_GE(fd, 0) << "session " << session << ": " << std::strerror(errno);
        // Root may open an exclusive line anyway, so look at the flag itself; the simulator
        // clears it once it has seen the previous session's close.
        int exclusive = -1;
        const auto end = std::chrono::steady_clock::now() + kTimeout;
        while (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0 &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(5ms);
        EXPECT_EQ(exclusive, 0) << session;
        ioctl(fd, TIOCEXCL);
        Send(fd, "ver\n");
        EXPECT_NE(ReadUntil(fd, "firmware").find("firmware 2.4.1"), std::string::npos) << session;
        close(fd);
    }
}

TEST(DevsimProcess, FloodArrivesWhole) {
    TDevsim devsim;
    const int fd = OpenLine(devsim.Link());
    ASSERT_GE(fd, 0);
    ReadUntil(fd, "help");
    constexpr std::size_t kCount = 4 * 1024 * 1024 + 5;
    Send(fd, "flood " + std::to_string(kCount) + "\n");
    const std::string out = ReadUntil(fd, "flood ", "\nQLX7400>");
    const std::string head = "flood " + std::to_string(kCount) + "\n";
    ASSERT_TRUE(out.starts_with(head));
    ASSERT_TRUE(out.ends_with("\nQLX7400>"));
    EXPECT_EQ(out.size(), head.size() + kCount + 1 + 8);
    close(fd);
}

} // namespace
