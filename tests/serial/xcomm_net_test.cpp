// The serial component on network ports, against a real ser2net serving a pseudo-terminal:
// byte transparency over megabytes both ways, line settings as the pseudo-terminal ends up with
// them, and a server that goes away mid-stream and comes back.
#include "../platform/pty_helper.h"
#include "../platform/ser2net_helper.h"
#include "platform/mainthread.h"
#include "serial/xcomm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <thread>

namespace qorvel {
namespace {

using namespace std::chrono_literals;
constexpr auto kLimit = std::chrono::seconds(60); // generous: a loaded CI machine
constexpr std::size_t kStreamBytes = 3 << 20;

// Every byte value, in a position-dependent order, so a lost or repeated byte shows.
std::string Stream(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = char((i + i / 256 * 7) & 0xFF);
    return s;
}

std::size_t FirstDifference(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return n;
}

// Writes `bytes` to the pseudo-terminal's master from a thread of its own.
std::thread WriteToDevice(const test::TPty& pty, std::string bytes) {
    return std::thread([&pty, bytes = std::move(bytes)] {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                write(pty.Master, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 4096));
            if (n <= 0) return;
            done += std::size_t(n);
        }
    });
}

class XCommNet : public ::testing::TestWithParam<bool> { // true: rfc2217://, false: tcp://
protected:
    void SetUp() override {
        ASSERT_FALSE(Pty.Name.empty());
        // Raw like a serial line, also while no server holds it: no echo, no line buffering.
        termios t = Pty.Termios();
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(Pty.Slave, TCSANOW, &t), 0);
        ASSERT_TRUE(Server.Start()) << Server.Log();
        Comm.SetDeviceName(Server.Url());
        Comm.SetBaudRate(TBaudRate::br115200);
        Comm.SetOnData([this](TCustomComm* c, std::uint32_t n) {
            std::string block(n, '\0');
            block.resize(c->ReadData(block.data(), n));
            Received += block;
        });
    }
    void TearDown() override { platform::SetWakeMainThread(nullptr); }

    static bool Until(const std::function<bool()>& done) { return platform::WaitServing(done, kLimit); }

    test::TPty Pty;
    test::TSer2net Server{Pty.Name, GetParam()};
    TXComm Comm;
    std::string Received;
};

TEST_P(XCommNet, EveryByteValueBothWaysOverMegabytes) {
    ASSERT_TRUE(Comm.OpenDevice());
    const std::string stream = Stream(kStreamBytes);

    std::thread writer = WriteToDevice(Pty, stream);
    EXPECT_TRUE(Until([&] { return Received.size() >= stream.size(); })) << Received.size();
    writer.join();
    ASSERT_EQ(Received.size(), stream.size());
    EXPECT_EQ(FirstDifference(Received, stream), stream.size());

    std::string atDevice;
    std::thread reader([&] { atDevice = Pty.Receive(stream.size(), kLimit); });
    EXPECT_EQ(Comm.SendData(stream.data(), std::uint32_t(stream.size()), 60000), stream.size());
    reader.join();
    ASSERT_EQ(atDevice.size(), stream.size());
    EXPECT_EQ(FirstDifference(atDevice, stream), stream.size());
    EXPECT_FALSE(Comm.EventLoopFailed());
}

TEST_P(XCommNet, ServerStoppedMidStreamIsADeviceLossAndReconnectWorks) {
    std::atomic<bool> lost{false};
    Comm.SetOnEventLoopFailed([&](TCustomComm*, const std::string&) { lost = true; });
    ASSERT_TRUE(Comm.OpenDevice());
    std::atomic<bool> stop{false};
    // Non-blocking: once the server is gone nobody drains the device, and a blocking write of a
    // chunk larger than the room left would never return.
    const int masterFlags = fcntl(Pty.Master, F_GETFL);
    ASSERT_EQ(fcntl(Pty.Master, F_SETFL, masterFlags | O_NONBLOCK), 0);
    std::thread writer([&] {
        const std::string chunk = Stream(4096);
        while (!stop) {
            pollfd p{Pty.Master, POLLOUT, 0};
            if (poll(&p, 1, 50) > 0 && write(Pty.Master, chunk.data(), chunk.size()) < 0 && errno != EAGAIN)
                break;
        }
    });
    ASSERT_TRUE(Until([&] { return Received.size() > 64 * 1024; }));
    Server.Stop();
    // The event loop ends, and the transfers report the loss with their codes.
    EXPECT_TRUE(Until([&] { return lost.load(); }));
    EXPECT_TRUE(Comm.EventLoopFailed());
    stop = true;
    writer.join();
    fcntl(Pty.Master, F_SETFL, masterFlags);
    EXPECT_TRUE(Comm.Opened());
    try {
        char buffer[64];
        while (Comm.ReadData(buffer, sizeof buffer, 100) > 0) {
        }
        ADD_FAILURE() << "reading from a lost port succeeded";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 10);
    }
    try {
        Comm.SendString("x");
        ADD_FAILURE() << "writing to a lost port succeeded";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 11);
    }
    Comm.CloseDevice();

    ASSERT_TRUE(Server.Start()) << Server.Log();
    Received.clear();
    tcflush(Pty.Slave, TCIOFLUSH); // what the old server left unread at the device
    ASSERT_TRUE(Comm.OpenDevice());
    EXPECT_FALSE(Comm.EventLoopFailed());
    EXPECT_TRUE(Comm.SendString("again\xff"));
    EXPECT_EQ(Pty.Receive(6), "again\xff");
    ASSERT_TRUE(Pty.Send("back\xff"));
    EXPECT_TRUE(Until([&] { return Received.size() >= 5; }));
    EXPECT_EQ(Received, "back\xff");
}

// ser2net 4.3 on a pseudo-terminal takes the break and line commands (it answers the break ones
// only) and notifies its modem state, all lines off, at connection; a raw port has no lines.
TEST_P(XCommNet, LineControlIsTakenAndDataGoesOnFlowing) {
    ASSERT_TRUE(Comm.OpenDevice());
    const bool lines = GetParam();
    EXPECT_TRUE(Comm.SendString("before"));
    for (const bool done :
         {Comm.SetBreak(true), Comm.SetBreak(false), Comm.SetDTR(false), Comm.SetRTS(false)})
        EXPECT_EQ(done, lines) << Comm.LineControlError();
    const std::optional<TModemLines> state = Comm.ModemLines();
    ASSERT_EQ(state.has_value(), lines);
    if (lines)
        EXPECT_FALSE(state->DTR || state->RTS || state->CTS || state->DSR || state->DCD || state->RI);
    else
        EXPECT_EQ(Comm.LineControlError(), "not supported by this port");
    EXPECT_TRUE(Comm.SendString("after"));
    EXPECT_EQ(Pty.Receive(11), "beforeafter");
    ASSERT_TRUE(Pty.Send("back"));
    EXPECT_TRUE(Until([&] { return Received == "back"; })) << Received;
}

INSTANTIATE_TEST_SUITE_P(Ser2net, XCommNet, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Rfc2217" : "RawTcp"; });

// ---- Line settings through RFC 2217 ----------------------------------------------------------

struct TSettingsCase {
    const char* Name;
    std::uint32_t Baud;
    TDataBits Bits;
    TParity Parity;
    TStopBits Stop;
    TFlowControl Flow;
    speed_t Speed; // what the pseudo-terminal holds afterwards
    bool TwoStopBits;
    bool RtsCts;
};

const TSettingsCase kSettingsCases[] = {
    {"115200_8N1", 115200, TDataBits::db8, TParity::paNone, TStopBits::sb1, TFlowControl::fcNone, B115200,
     false, false},
    {"19200_7E1", 19200, TDataBits::db7, TParity::paEven, TStopBits::sb1, TFlowControl::fcNone, B19200, false,
     false},
    {"115200_8N2", 115200, TDataBits::db8, TParity::paNone, TStopBits::sb2, TFlowControl::fcNone, B115200,
     true, false},
    {"19200_8N1_RtsCts", 19200, TDataBits::db8, TParity::paNone, TStopBits::sb1, TFlowControl::fcRtsCts,
     B19200, false, true},
};

class XCommRfc2217Settings : public ::testing::TestWithParam<TSettingsCase> {
protected:
    void SetUp() override {
        ASSERT_FALSE(Pty.Name.empty());
        ASSERT_TRUE(Server.Start()) << Server.Log();
        Comm.SetDeviceName(Server.Url());
    }
    void Apply(const TSettingsCase& c) {
        Comm.SetBaudRate(TBaudRate::brCustom);
        Comm.SetBaudValue(c.Baud);
        Comm.DataControl().SetDataBits(c.Bits);
        Comm.DataControl().SetParity(c.Parity);
        Comm.DataControl().SetStopBits(c.Stop);
        Comm.SetFlowControl(c.Flow);
    }
    // The server applies a setting before it answers; the pty is read once more after a short
    // while only to be safe on a loaded machine.
    termios PtyTermios(speed_t want) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        termios t = Pty.Termios();
        while (cfgetospeed(&t) != want && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
            t = Pty.Termios();
        }
        return t;
    }
    void Check(const TSettingsCase& c) {
        const termios t = PtyTermios(c.Speed);
        EXPECT_EQ(cfgetospeed(&t), c.Speed);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.TwoStopBits);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.RtsCts);
        // A pseudo-terminal holds no data size or parity; the component reports the server's answer.
        EXPECT_EQ(Comm.BaudValue(), c.Baud);
        EXPECT_EQ(Comm.DataControl().DataBits(), c.Bits);
        EXPECT_EQ(Comm.DataControl().Parity(), c.Parity);
        EXPECT_EQ(Comm.DataControl().StopBits(), c.Stop);
        EXPECT_EQ(Comm.RTSSettings().Contains(TRTSSetting::fsCTSOut), c.RtsCts);
    }

    test::TPty Pty;
    test::TSer2net Server{Pty.Name, true};
    TXComm Comm;
};

TEST_P(XCommRfc2217Settings, PushedAtOpen) {
    Apply(GetParam());
    ASSERT_TRUE(Comm.OpenDevice());
    Check(GetParam());
}

TEST_P(XCommRfc2217Settings, PushedWhenChangedWhileOpen) {
    Comm.SetBaudRate(TBaudRate::br2400);
    ASSERT_TRUE(Comm.OpenDevice());
    const termios before = PtyTermios(B2400);
    ASSERT_EQ(cfgetospeed(&before), speed_t(B2400));
    Apply(GetParam());
    Check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Ser2net, XCommRfc2217Settings, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Opening -----------------------------------------------------------------------------------

TEST(XCommNetOpen, UnreachableServerFailsWithTheOpenErrorAndStaysClosed) {
    // A listener whose accept queue is full: the connection attempt is never answered.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    const std::string name = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    TXComm comm;
    comm.SetDeviceName(name);
    const auto start = std::chrono::steady_clock::now();
    try {
        comm.OpenDevice();
        ADD_FAILURE() << "opened";
    } catch (const EDeviceError& e) {
        EXPECT_EQ(e.ErrorCode(), 65535);
        EXPECT_EQ(std::string(e.what()), "Cannot open device " + name);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s); // bounded, not hanging
    EXPECT_FALSE(comm.Opened());
    close(filler);
    close(listener);
}

} // namespace
} // namespace qorvel
