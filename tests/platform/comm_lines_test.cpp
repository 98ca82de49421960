// The termios device's line control on an emulated USB adapter (umockdev): the modem-line and break
// ioctls it makes, and how soon a change of an input line is reported. The test's ioctl hook plays
// the modem lines, which the pseudo-terminal behind the node does not have.
#include "serial_testbed.h"

#include "platform/comm_posix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>
#include <vector>

namespace qorvel::platform {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

TEST(PosixLineControl, IoctlsAndInputChangesOnAnAdapter) {
    std::mutex lock;
    int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_DSR;    // the adapter's, as TIOCM_* bits
    std::vector<std::pair<unsigned long, int>> calls; // those that change them, with their argument
    std::vector<TClock::time_point> times;
    test::SerialTestbed bed;
    bed.SetIoctlHook([&](UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        const bool isBreak = request == TIOCSBRK || request == TIOCCBRK;
        if (!isBreak && request != TIOCMGET && request != TIOCMBIS && request != TIOCMBIC) return false;
        std::lock_guard guard(lock);
        UMockdevIoctlData* data = isBreak ? nullptr
                                          : umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                                        0, sizeof(int), nullptr);
        if (!isBreak && !data) return false;
        int arg = 0;
        if (data) std::memcpy(&arg, data->data, sizeof arg);
        if (request == TIOCMGET) {
            std::memcpy(data->data, &lines, sizeof lines);
        } else {
            calls.emplace_back(request, arg);
            times.push_back(TClock::now());
            lines = request == TIOCMBIS ? lines | arg : request == TIOCMBIC ? lines & ~arg : lines;
        }
        if (data) g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    });
    bed.Add(test::FtdiAdapter(), "ttyUSB0");
    auto device = OpenPosixDevice("/dev/ttyUSB0");
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());

    // A break of 250 ms, then the two outputs, each one ioctl.
    ASSERT_TRUE(device->SetCommBreak()) << SystemErrorText(GetLastError());
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(device->ClearCommBreak() && device->EscapeCommFunction(CLRDTR) &&
                device->EscapeCommFunction(SETRTS));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(calls, (std::vector<std::pair<unsigned long, int>>{
                             {TIOCSBRK, 0}, {TIOCCBRK, 0}, {TIOCMBIC, TIOCM_DTR}, {TIOCMBIS, TIOCM_RTS}}));
        ASSERT_GE(times.size(), 2u);
        EXPECT_TRUE(times[1] - times[0] >= 250ms && times[1] - times[0] < 350ms);
    }
    bool dtr = true, rts = false;
    ASSERT_TRUE(device->GetCommOutputLines(dtr, rts));
    EXPECT_TRUE(!dtr && rts);
    std::uint32_t status = 0;
    ASSERT_TRUE(device->GetCommModemStatus(status));
    EXPECT_EQ(status, MS_DSR_ON);

    // Idle with modem events asked for, then CTS comes on.
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_CTS | EV_DSR));
    auto waited = std::async(std::launch::async, [&] {
        std::uint32_t events = 0;
        const TWaitResult r = device->WaitCommEvent(events, nullptr);
        return std::make_pair(r == TWaitResult::wrReady ? events : 0u, TClock::now());
    });
    const std::clock_t cpuBefore = std::clock(); // the process's processor time, umockdev's included
    std::this_thread::sleep_for(1s);
    const double idleCpu = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const auto changed = TClock::now();
    {
        std::lock_guard guard(lock);
        lines = TIOCM_RTS | TIOCM_DSR | TIOCM_CTS;
    }
    ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
    const auto [events, at] = waited.get();
    EXPECT_EQ(events, EV_CTS);
    EXPECT_LT(at - changed, 50ms);
    EXPECT_LT(idleCpu, 0.05);
}

} // namespace
} // namespace qorvel::platform
