// ZMODEM through a real ser2net with RFC 2217, both ways, with a file of every byte value: 0xFF is
// doubled by Telnet on the way and must arrive once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../platform/ser2net_helper.h"
#include "peer_util.h"

namespace qorvel::test {
namespace {

// Starts Argv in Folder with stdin and stdout on Fd (-1: inherited).
pid_t Start(const std::vector<std::string>& Argv, int Fd, const std::string& Folder) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (Fd >= 0) {
            dup2(Fd, 0);
            dup2(Fd, 1);
        }
        if (chdir(Folder.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& arg : Argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// The exit code, or -1 when killed after 60 s.
int Wait(pid_t Pid) {
    for (int i = 0; i < 600; ++i) {
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(100000);
    }
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
    return -1;
}

TEST(ZmodemSer2net, EveryByteValueBothWaysThroughRfc2217) {
    std::string all;
    for (int round = 0; round < 64; ++round)
        for (int i = 0; i < 256; ++i)
            all += static_cast<char>(i ^ round);
    for (const bool oursSends : {true, false}) {
        SCOPED_TRACE(oursSends ? "ours to rz" : "sz to ours");
        const int device = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(device >= 0 && grantpt(device) == 0 && unlockpt(device) == 0);
        TSer2net server(ptsname(device), true);
        ASSERT_TRUE(server.Start());
        const std::string from = TempFolder(), to = TempFolder();
        const std::string path = WriteFile(from, "all.bin", all);
        const pid_t theirs = Start(oursSends ? std::vector<std::string>{"rz", "-q", "-y"}
                                             : std::vector<std::string>{"sz", "-q", path},
                                   device, to);
        const pid_t ours =
            Start(oursSends ? std::vector<std::string>{QORVEL_XFER_PATH, "send", "-p", "zmodem", "--port",
                                                       server.Url(), "--quiet", path}
                            : std::vector<std::string>{QORVEL_XFER_PATH, "receive", "-p", "zmodem", "--port",
                                                       server.Url(), "--quiet", "--folder", to},
                  -1, to);
        EXPECT_EQ(Wait(ours), 0);
        EXPECT_EQ(Wait(theirs), 0);
        EXPECT_TRUE(ReadWhole(to + "/all.bin") == all);
        close(device);
    }
}

} // namespace
} // namespace qorvel::test
