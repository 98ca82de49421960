// The session log file alone: names, time stamps and markers, and what survives a SIGKILL.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <tuple>
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

// 2026-12-09 10:15:00 UTC.
const TClock::time_point kStart = TClock::from_time_t(1796811300);

class SessionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        std::filesystem::create_directory(Folder);
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }
    const std::string Folder = ::testing::TempDir() + "session_log_" + std::to_string(::getpid());
};

TEST_F(SessionLogTest, NamesFromTheTemplate) {
    // Template, port, name.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"%p-%Y%m%d-%H%M%S.log", "/dev/ttyUSB0", "ttyUSB0-20261209-101500.log"},
        {"%p.log", "rfc2217://host:2217", "host:2217.log"},
        {"100%% %q %", "COM1", "100% %q %"},
    };
    for (const auto& [pattern, port, name] : cases)
        EXPECT_EQ(LogFileName(pattern, port, TClock::to_time_t(kStart)), name) << pattern;
    EXPECT_EQ(NumberedName("/a.b/.log", 2), "/a.b/.log (2)");
}

TEST_F(SessionLogTest, TimeStampsAndMarkers) {
    using TStep = std::pair<int, const char*>; // ms after kStart (-1: a marker "m"), bytes
    const struct {
        const char* Name;
        bool Stamps;
        std::vector<TStep> Steps;
        const char* File;
    } cases[] = {
        // clang-format off
        {"an open line keeps its stamp", true, {{0, "ab"}, {123, "c\r\nd\r\n"}, {2500, "e"}},
         "[2026-12-09 10:15:00.000] abc\r\n[2026-12-09 10:15:00.123] d\r\n[2026-12-09 10:15:02.500] e"},
        {"a marker ends an open line", true, {{7, "x"}, {-1, ""}, {9, "y\r\n"}},
         "[2026-12-09 10:15:00.007] x\r\n--- m ---\r\n[2026-12-09 10:15:00.009] y\r\n"},
        {"without stamps the bytes pass as they are", false, {{0, "ab"}, {1, "c\r\n"}, {-1, ""}, {2, "\r\n"}},
         "abc\r\n--- m ---\r\n\r\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const std::string name = Folder + "/" + c.Name;
        {
            TSessionLog log;
            log.Open(name, true, nullptr);
            log.SetTimeStamps(c.Stamps);
            for (const auto& [ms, bytes] : c.Steps)
                ms < 0 ? log.Marker("m") : log.Add(bytes, kStart + std::chrono::milliseconds(ms));
        }
        EXPECT_EQ(ReadFile(name), c.File) << c.Name;
    }
}

// A child streams numbered lines into its log and is killed: every line it handed over more than
// 200 ms before the kill must be in the file, in order.
TEST_F(SessionLogTest, SigkillLosesOnlyTheLastMoment) {
    const std::string name = Folder + "/kill.log";
    const auto line = [](int i) { return "line " + std::to_string(10000000 + i) + "\r\n"; };
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
    for (int i; std::chrono::steady_clock::now() < end && ::read(pipe[0], &i, sizeof i) == sizeof i;)
        handed.push_back(std::chrono::steady_clock::now());
    ::kill(child, SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ::waitpid(child, nullptr, 0);

    const std::string file = ReadFile(name);
    const std::size_t size = line(0).size(), lines = file.size() / size;
    for (std::size_t n = 0; n < lines; ++n)
        ASSERT_EQ(file.substr(n * size, size), line(int(n)));
    ASSERT_GT(handed.size(), 100u);
    const auto oldestLost = lines < handed.size() ? killed - handed[lines] : 0ms;
    RecordProperty("oldest_lost_ms",
                   int(std::chrono::duration_cast<std::chrono::milliseconds>(oldestLost).count()));
    EXPECT_LT(oldestLost, 200ms);
}

} // namespace
} // namespace qorvel
