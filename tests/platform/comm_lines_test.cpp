// The termios device's line control on an emulated USB adapter (umockdev): the modem-line and
// break ioctls it makes, and how soon a change of an input line is reported. The pseudo-terminal
// behind the node has no modem lines, so the test's ioctl hook plays them.
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

struct TIoctlCall {
    unsigned long Request;
    int Lines; // the TIOCMBIS / TIOCMBIC argument
    TClock::time_point At;
};

// The adapter's modem lines as the hook keeps them (TIOCM_* bits), and the calls that change them.
struct TModemScript {
    std::mutex Lock;
    int Lines = TIOCM_DTR | TIOCM_RTS | TIOCM_DSR;
    std::vector<TIoctlCall> Calls;

    void Set(int lines) {
        std::lock_guard lock(Lock);
        Lines = lines;
    }

    bool Handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request != TIOCMGET && request != TIOCMBIS && request != TIOCMBIC && request != TIOCSBRK &&
            request != TIOCCBRK)
            return false;
        std::lock_guard lock(Lock);
        int arg = 0;
        UMockdevIoctlData* data = nullptr;
        if (request != TIOCSBRK && request != TIOCCBRK) {
            data =
                umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(int), nullptr);
            if (!data) return false;
            std::memcpy(&arg, data->data, sizeof arg);
        }
        if (request == TIOCMGET) {
            std::memcpy(data->data, &Lines, sizeof Lines);
        } else {
            Calls.push_back({request, arg, TClock::now()});
            if (request == TIOCMBIS) Lines |= arg;
            if (request == TIOCMBIC) Lines &= ~arg;
        }
        if (data) g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
};

TEST(PosixLineControl, IoctlsAndInputChangesOnAnAdapter) {
    test::SerialTestbed bed;
    TModemScript script;
    bed.SetIoctlHook([&](UMockdevIoctlClient* c) { return script.Handle(c); });
    bed.Add(test::FtdiAdapter(), "ttyUSB0");
    auto device = OpenPosixDevice("/dev/ttyUSB0");
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());

    // A break of 250 ms, then the two outputs, each one ioctl.
    ASSERT_TRUE(device->SetCommBreak()) << SystemErrorText(GetLastError());
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(device->ClearCommBreak());
    ASSERT_TRUE(device->EscapeCommFunction(CLRDTR));
    ASSERT_TRUE(device->EscapeCommFunction(SETRTS));
    {
        std::lock_guard lock(script.Lock);
        ASSERT_EQ(script.Calls.size(), 4u);
        const std::pair<unsigned long, int> expected[] = {
            {TIOCSBRK, 0}, {TIOCCBRK, 0}, {TIOCMBIC, TIOCM_DTR}, {TIOCMBIS, TIOCM_RTS}};
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(std::make_pair(script.Calls[i].Request, script.Calls[i].Lines), expected[i]) << i;
        const auto held =
            std::chrono::duration_cast<std::chrono::milliseconds>(script.Calls[1].At - script.Calls[0].At);
        std::printf("break held %d ms at the ioctls\n", int(held.count()));
        EXPECT_TRUE(held >= 250ms && held < 350ms);
    }
    bool dtr = true, rts = false;
    ASSERT_TRUE(device->GetCommOutputLines(dtr, rts));
    EXPECT_FALSE(dtr);
    EXPECT_TRUE(rts);
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
    const std::clock_t cpuBefore = std::clock(); // the process's processor time
    std::this_thread::sleep_for(1s);
    const double idleCpu = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const auto changed = TClock::now();
    script.Set(TIOCM_RTS | TIOCM_DSR | TIOCM_CTS);
    ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
    const auto [events, at] = waited.get();
    EXPECT_EQ(events, EV_CTS);
    const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(at - changed);
    std::printf("CTS reported after %.1f ms; idle watch used %.2f%% of a processor (umockdev's side "
                "included)\n",
                double(latency.count()) / 1000, idleCpu * 100);
    EXPECT_LT(latency, 50ms);
    EXPECT_LT(idleCpu, 0.05);
}

} // namespace
} // namespace qorvel::platform
