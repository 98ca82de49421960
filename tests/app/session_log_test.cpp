// The session log file alone: names, opening rules, time stamps, and what survives a SIGKILL.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/session_log.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;
using TClock = TSessionLog::TClock;

std::string ReadFile(const std::string& Name) {
    std::ifstream in(Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempFolder {
    TempFolder() {
        char name[] = "/tmp/session_log_XXXXXX";
        Path = ::mkdtemp(name);
    }
    ~TempFolder() { std::system(("rm -rf '" + Path + "'").c_str()); }
    std::string Path;
};

// 2026-12-09 10:15:00 UTC.
const TClock::time_point kStart = TClock::from_time_t(1796811300);

class SessionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    TempFolder Folder;
};

TEST_F(SessionLogTest, NamesFromTheTemplate) {
    const struct {
        const char* Template;
        const char* Port;
        const char* Name;
    } cases[] = {
        {"%p-%Y%m%d-%H%M%S.log", "/dev/ttyUSB0", "ttyUSB0-20261209-101500.log"},
        {"%p.log", "COM2", "COM2.log"},
        {"%p.log", "rfc2217://host:2217", "host:2217.log"},
        {"100%% %q %", "COM1", "100% %q %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogFileName(c.Template, c.Port, TClock::to_time_t(kStart)), c.Name) << c.Template;
    EXPECT_EQ(NumberedName("/a.b/log.txt", 2), "/a.b/log (2).txt");
    EXPECT_EQ(NumberedName("/a.b/log", 3), "/a.b/log (3)");
    EXPECT_EQ(NumberedName("/a/.log", 2), "/a/.log (2)");
}

TEST_F(SessionLogTest, OpeningAppendsOrTakesANumberedNameAndKeepsTheFilePrivate) {
    const std::string name = Folder.Path + "/s.log";
    const struct {
        bool Append;
        const char* Opened;
        const char* Content; // of the file opened, after "old\n" was there and "new\n" went in
    } cases[] = {
        {true, "/s.log", "old\nnew\n"},
        {false, "/s (2).log", "new\n"},
        {false, "/s (3).log", "new\n"},
    };
    std::ofstream(name) << "old\n";
    for (const auto& c : cases) {
        std::string opened;
        {
            TSessionLog log;
            opened = log.Open(name, c.Append, nullptr);
            log.Add("new\n", kStart);
        }
        EXPECT_EQ(opened, Folder.Path + c.Opened);
        EXPECT_EQ(ReadFile(opened), c.Content);
        if (!c.Append) {
            struct stat info {};
            ASSERT_EQ(::stat(opened.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0600u);
        }
        if (c.Append) std::ofstream(name, std::ios::trunc) << "old\n";
    }
    EXPECT_EQ(ReadFile(name), "old\n");
}

TEST_F(SessionLogTest, TimeStampsAndMarkers) {
    struct TStep {
        int Ms; // after kStart; -1: a marker "m"
        const char* Bytes;
    };
    const struct {
        const char* Name;
        bool Stamps;
        std::vector<TStep> Steps;
        const char* File;
    } cases[] = {
        {"an open line keeps its stamp",
         true,
         {{0, "ab"}, {123, "c\r\nd\r\n"}, {2500, "e"}},
         "[2026-12-09 10:15:00.000] abc\r\n[2026-12-09 10:15:00.123] d\r\n[2026-12-09 10:15:02.500] e"},
        {"a marker ends an open line",
         true,
         {{7, "x"}, {-1, ""}, {9, "y\r\n"}},
         "[2026-12-09 10:15:00.007] x\r\n--- m ---\r\n[2026-12-09 10:15:00.009] y\r\n"},
        {"without stamps the bytes pass as they are",
         false,
         {{0, "ab"}, {1, "c\r\n"}, {-1, ""}, {2, "\r\n"}},
         "abc\r\n--- m ---\r\n\r\n"},
    };
    for (const auto& c : cases) {
        const std::string name = Folder.Path + "/" + c.Name;
        {
            TSessionLog log;
            log.Open(name, true, nullptr);
            log.SetTimeStamps(c.Stamps);
            for (const TStep& step : c.Steps)
                step.Ms < 0 ? log.Marker("m")
                            : log.Add(step.Bytes, kStart + std::chrono::milliseconds(step.Ms));
        }
        EXPECT_EQ(ReadFile(name), c.File) << c.Name;
    }
}

// A child streams numbered lines into its log and is killed; every line it handed over more than
// the write delay (plus scheduling slack) before the kill must be in the file, in order.
TEST_F(SessionLogTest, SigkillLosesOnlyTheLastMoment) {
    constexpr auto kAllowed = 200ms;
    const std::string name = Folder.Path + "/kill.log";
    const auto line = [](int i) {
        char text[32];
        std::snprintf(text, sizeof text, "line %08d\r\n", i);
        return std::string(text);
    };
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        TSessionLog log;
        log.Open(name, true, nullptr);
        for (int i = 0;; ++i) {
            log.Add(line(i), TClock::now());
            if (::write(pipe[1], &i, sizeof i) != sizeof i) ::_exit(1);
            ::usleep(1000);
        }
    }
    ::close(pipe[1]);
    std::vector<std::chrono::steady_clock::time_point> handed;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    int i;
    while (std::chrono::steady_clock::now() < end && ::read(pipe[0], &i, sizeof i) == sizeof i)
        handed.push_back(std::chrono::steady_clock::now());
    ::kill(child, SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ::waitpid(child, nullptr, 0);
    ::close(pipe[0]);

    const std::string file = ReadFile(name);
    const std::size_t size = line(0).size();
    const std::size_t lines = file.size() / size;
    for (std::size_t n = 0; n < lines; ++n)
        ASSERT_EQ(file.substr(n * size, size), line(int(n)));
    ASSERT_GT(handed.size(), 100u);
    const auto oldestLost = lines < handed.size() ? killed - handed[lines] : 0ms;
    RecordProperty("oldest_lost_ms",
                   int(std::chrono::duration_cast<std::chrono::milliseconds>(oldestLost).count()));
    EXPECT_LT(oldestLost, kAllowed);
}

} // namespace
} // namespace qorvel
