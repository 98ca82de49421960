// ZMODEM through a real ser2net with RFC 2217, both ways, with a file of every byte value: 0xFF is
// doubled by Telnet on the way and must arrive once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "../platform/ser2net_helper.h"
#include "peer_util.h"

namespace qorvel::test {
namespace {

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
        using TArgs = std::vector<std::string>;
        const pid_t theirs =
            Spawn(oursSends ? TArgs{"rz", "-q", "-y"} : TArgs{"sz", "-q", path}, device, device, to);
        TArgs xfer{QORVEL_XFER_PATH, "receive", "-p",       "zmodem", "--port",
                   server.Url(),     "--quiet", "--folder", to};
        if (oursSends) xfer[1] = "send", xfer.push_back(path);
        const pid_t ours = Spawn(xfer, -1, -1, to, "/dev/stderr");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        EXPECT_EQ(WaitExit(ours, deadline), 0);
        EXPECT_EQ(WaitExit(theirs, deadline), 0);
        EXPECT_TRUE(ReadWhole(to + "/all.bin") == all);
        close(device);
    }
}

} // namespace
} // namespace qorvel::test
