// The POSIX communications device against real pseudo-terminals.
#include "platform/comm_posix.h"
#include "platform/termios2.h"
#include "platform/termios_map.h"
#include "pty_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorvel::platform {
namespace {

using namespace std::chrono_literals;
using test::TPty;

constexpr std::uint32_t kLongMs = 10000; // generous bound for loaded machines

DCB BaseDcb() {
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EvtChar = '\n';
    return dcb;
}

// What stty prints for the terminal open on `fd` (handed over as its standard input, so the
// exclusive open does not keep it out).
std::string SttySpeed(int fd) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 0);
        dup2(out[1], 1);
        execlp("stty", "stty", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return text;
}

class PosixComm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Pty.Name.empty());
        Device = PosixCommApi().CreateFile(Pty.Name);
        ASSERT_NE(Device, nullptr) << SystemErrorText(GetLastError());
    }

    // Waits until `count` bytes are waiting, then reads them.
    std::string ReadAll(std::size_t count) {
        std::string got(count, '\0');
        std::size_t have = 0;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (have < count && std::chrono::steady_clock::now() < deadline) {
            if (Device->WaitForInput(100) == TWaitResult::wrFailed) break;
            std::uint32_t n = 0;
            EXPECT_TRUE(Device->ReadFile(got.data() + have, std::uint32_t(count - have), n, 0));
            have += n;
        }
        got.resize(have);
        return got;
    }

    TPty Pty;
    std::unique_ptr<TCommDevice> Device;
};

TEST(DevicePathTest, MapsNames) {
    const struct {
        const char* Name;
        const char* Path;
    } kCases[] = {
        {"COM1", "/dev/ttyS0"},       {"COM12", "/dev/ttyS11"}, {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/3", "/dev/pts/3"}, {"COM0", "/dev/COM0"},    {"COMx", "/dev/COMx"},
        {"./ttyX", "./ttyX"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(DevicePath(c.Name), c.Path) << c.Name;
}

TEST(PosixOpenTest, MissingDeviceAndNonTerminalFail) {
    EXPECT_EQ(PosixCommApi().CreateFile("/dev/qorvel-no-such-device"), nullptr);
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_EQ(PosixCommApi().CreateFile("/dev/null"), nullptr);
    EXPECT_EQ(GetLastError(), ENOTTY);
    EXPECT_FALSE(SystemErrorText(ENOENT).empty());
}

TEST_F(PosixComm, OpenIsExclusiveAndReopenWorks) {
    EXPECT_EQ(PosixCommApi().CreateFile(Pty.Name), nullptr);
    EXPECT_EQ(GetLastError(), EBUSY);
    Device.reset();
    Device = PosixCommApi().CreateFile(Pty.Name);
    ASSERT_NE(Device, nullptr) << SystemErrorText(GetLastError());
    // The exclusive flag is dropped on close, so other programs can use the line again.
    Device.reset();
    const int fd = open(Pty.Name.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    close(fd);
}

TEST_F(PosixComm, OpenSetsRawMode) {
    const termios t = Pty.Termios();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
}

TEST_F(PosixComm, AllByteValuesRoundTrip) {
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[std::size_t(i)] = char(i);
    ASSERT_TRUE(Pty.Send(all));
    EXPECT_EQ(ReadAll(all.size()), all);

    std::uint32_t written = 0;
    ASSERT_TRUE(Device->WriteFile(all.data(), 256, written, kLongMs));
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(Pty.Receive(256), all);
}

TEST_F(PosixComm, SettingsReachTheLine) {
    struct Case {
        const char* Name;
        void (*Change)(DCB&);
        tcflag_t Iflags, Cflags; // expected among the checked bits
    };
    const Case kCases[] = {
        {"none", [](DCB&) {}, 0, 0},
        {"xon/xoff", [](DCB& d) { d.fOutX = d.fInX = 1; }, IXON | IXOFF, 0},
        {"out x only", [](DCB& d) { d.fOutX = 1; }, IXON, 0},
        {"cts out", [](DCB& d) { d.fOutxCtsFlow = 1; }, 0, CRTSCTS},
        {"rts handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, 0, CRTSCTS},
        {"rts toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, 0, 0},
        {"dtr on", [](DCB& d) { d.fDtrControl = DTR_CONTROL_ENABLE; }, 0, 0},
    };
    for (const Case& c : kCases) {
        DCB dcb = BaseDcb();
        c.Change(dcb);
        ASSERT_TRUE(Device->SetCommState(dcb)) << c.Name << ": " << SystemErrorText(GetLastError());
        const termios t = Pty.Termios();
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.Iflags) << c.Name;
        EXPECT_EQ(t.c_cflag & CRTSCTS, c.Cflags) << c.Name;
        EXPECT_EQ(t.c_cc[VSTART], 0x11) << c.Name;
        EXPECT_EQ(t.c_cc[VSTOP], 0x13) << c.Name;
        DCB back{};
        ASSERT_TRUE(Device->GetCommState(back));
        EXPECT_EQ(back, dcb) << c.Name;
    }
}

TEST_F(PosixComm, LineFormatAndSpeedAreAcceptedOnAPseudoTerminal) {
    // A pseudo-terminal forces 8 data bits and no parity and keeps the rest: every format is
    // accepted, also when the forced one is all that would change, and it reports what it holds.
    const struct {
        std::uint32_t Baud;
        std::uint8_t Size, Parity, Stop;
        speed_t Code; // B0: the custom path
    } kCases[] = {
        {110, 5, NOPARITY, ONE5STOPBITS, B110},       {115200, 7, EVENPARITY, ONESTOPBIT, B115200},
        {115200, 7, NOPARITY, ONESTOPBIT, B115200},   {250000, 6, MARKPARITY, TWOSTOPBITS, B0},
        {31250, 8, SPACEPARITY, ONESTOPBIT, B0},      {9600, 8, ODDPARITY, TWOSTOPBITS, B9600},
        {9600, 8, EVENPARITY, TWOSTOPBITS, B9600},    {3000000, 8, EVENPARITY, ONESTOPBIT, B3000000},
        {3000000, 6, NOPARITY, ONESTOPBIT, B3000000}, {14400, 5, EVENPARITY, ONESTOPBIT, B0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.Baud) + " " + std::to_string(c.Size) + "/" + std::to_string(c.Parity) +
                     "/" + std::to_string(c.Stop));
        DCB dcb = BaseDcb();
        dcb.BaudRate = c.Baud;
        dcb.ByteSize = c.Size;
        dcb.Parity = c.Parity;
        dcb.StopBits = c.Stop;
        ASSERT_TRUE(Device->SetCommState(dcb)) << SystemErrorText(GetLastError());
        DCB held = dcb;
        held.ByteSize = 8;
        held.Parity = NOPARITY;
        if (c.Stop == ONE5STOPBITS) held.StopBits = TWOSTOPBITS;
        DCB back{};
        ASSERT_TRUE(Device->GetCommState(back));
        EXPECT_EQ(back, held);
        const termios t = Pty.Termios();
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), tcflag_t(CS8));
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.Stop != ONESTOPBIT);
        std::uint32_t speed = 0;
        ASSERT_TRUE(GetLineSpeed(Pty.Slave, speed));
        EXPECT_EQ(speed, c.Baud);
        if (c.Code != B0) {
            // Other tools read a standard rate back as itself, not as the custom-speed flag.
            EXPECT_EQ(cfgetospeed(&t), c.Code);
            EXPECT_EQ(cfgetispeed(&t), c.Code);
            EXPECT_NE(SttySpeed(Pty.Slave).find("speed " + std::to_string(c.Baud) + " baud;"),
                      std::string::npos)
                << SttySpeed(Pty.Slave);
        } else {
            EXPECT_TRUE(HasCustomSpeed(t));
        }
    }
}

TEST_F(PosixComm, ImpossibleSettingsAreRefusedAndKeepTheOldOnes) {
    const DCB good = BaseDcb();
    ASSERT_TRUE(Device->SetCommState(good));
    const struct {
        const char* Name;
        void (*Change)(DCB&);
    } kCases[] = {
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
        {"speed 0 (would hang up)", [](DCB& d) { d.BaudRate = 0; }},
        {"1.5 stop bits at 6 data bits", [](DCB& d) { d.ByteSize = 6, d.StopBits = ONE5STOPBITS; }},
        {"1.5 stop bits at 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
    };
    for (const auto& c : kCases) {
        DCB dcb = good;
        c.Change(dcb);
        EXPECT_FALSE(Device->SetCommState(dcb)) << c.Name;
        EXPECT_EQ(GetLastError(), EINVAL) << c.Name;
        DCB back{};
        ASSERT_TRUE(Device->GetCommState(back));
        EXPECT_EQ(back, good) << c.Name;
    }
}

TEST_F(PosixComm, QueuesTimeoutsAndPurge) {
    ASSERT_TRUE(Device->SetupComm(2048, 1024));
    COMMPROP prop{};
    ASSERT_TRUE(Device->GetCommProperties(prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 2048u);
    EXPECT_EQ(prop.dwCurrentTxQueue, 1024u);

    const COMMTIMEOUTS t{1, 0, 1, 0, 1};
    ASSERT_TRUE(Device->SetCommTimeouts(t));
    COMMTIMEOUTS back{};
    ASSERT_TRUE(Device->GetCommTimeouts(back));
    EXPECT_EQ(back, t);

    ASSERT_TRUE(Pty.Send("hello"));
    ASSERT_EQ(Device->WaitForInput(kLongMs), TWaitResult::wrReady);
    COMSTAT stat{};
    // The count grows to 5 as the line discipline delivers.
    for (int i = 0; i < 1000 && stat.cbInQue < 5; ++i) {
        ASSERT_TRUE(Device->ClearCommError(nullptr, &stat));
        if (stat.cbInQue < 5) Device->WaitForInput(10);
    }
    EXPECT_EQ(stat.cbInQue, 5u);
    EXPECT_EQ(stat.cbOutQue, 0u); // always 0 on a pseudo-terminal
    ASSERT_TRUE(Device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    ASSERT_TRUE(Device->ClearCommError(nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(PosixComm, ReadTimeoutsBoundTheRequest) {
    ASSERT_TRUE(Pty.Send("abcd"));
    ASSERT_EQ(Device->WaitForInput(kLongMs), TWaitResult::wrReady);
    // All-zero time-outs wait for the full count; the caller's own limit still ends the call.
    ASSERT_TRUE(Device->SetCommTimeouts({0, 0, 0, 0, 0}));
    char buffer[10];
    std::uint32_t n = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Device->ReadFile(buffer, 10, n, 60));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
    EXPECT_EQ(std::string(buffer, n), "abcd");

    // MAXDWORD interval with zero totals returns at once with what is there.
    ASSERT_TRUE(Device->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}));
    ASSERT_TRUE(Device->ReadFile(buffer, 10, n));
    EXPECT_EQ(n, 0u);

    // A total time-out ends a read that gets nothing.
    ASSERT_TRUE(Device->SetCommTimeouts({0, 0, 30, 0, 0}));
    ASSERT_TRUE(Device->ReadFile(buffer, 10, n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Device->WaitForInput(20), TWaitResult::wrTimeout);
}

TEST_F(PosixComm, WritesToAStalledPeerEndInTime) {
    // Nobody reads the master: the pseudo-terminal fills up and the write must give up.
    ASSERT_TRUE(Device->SetCommTimeouts({0, 0, 0, 0, 0}));
    std::string block(1 << 20, 'x');
    std::uint32_t written = 0;
    ASSERT_TRUE(Device->WriteFile(block.data(), std::uint32_t(block.size()), written, 100));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    EXPECT_EQ(Device->WaitForOutputRoom(20), TWaitResult::wrTimeout);
    ASSERT_TRUE(Device->SetCommTimeouts({0, 0, 0, 0, 30}));
    ASSERT_TRUE(Device->WriteFile(block.data(), 100, written));
    EXPECT_EQ(written, 0u);
    Pty.Receive(std::size_t(-1), 50ms); // drain
    EXPECT_EQ(Device->WaitForOutputRoom(kLongMs), TWaitResult::wrReady);
}

TEST_F(PosixComm, EventWaitReportsDataAndEventCharacter) {
    DCB dcb = BaseDcb();
    dcb.EvtChar = '#';
    ASSERT_TRUE(Device->SetCommState(dcb));
    ASSERT_TRUE(Device->SetCommMask(0x1FFB));
    std::uint32_t events = 0;
    ASSERT_TRUE(Pty.Send("ab"));
    ASSERT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_RXCHAR);
    ASSERT_TRUE(Pty.Send("c#d"));
    ASSERT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_RXCHAR | EV_RXFLAG);
    // Unread bytes are kept in order for the reader.
    EXPECT_EQ(ReadAll(5), "abc#d");
}

TEST_F(PosixComm, TheCountIsTheQueuedBytesWhileThereAreAnyThenTheKernels) {
    // A reader asking for the count then takes only what the event wait queued, in order, and
    // leaves the line to the wait; with nothing queued it learns of the kernel's bytes.
    ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR));
    ASSERT_TRUE(Pty.Send("abc"));
    std::uint32_t events = 0;
    ASSERT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    const auto count = [&] {
        COMSTAT stat{};
        EXPECT_TRUE(Device->ClearCommError(nullptr, &stat));
        return stat.cbInQue;
    };
    ASSERT_EQ(count(), 3u);
    ASSERT_TRUE(Pty.Send("de"));
    std::this_thread::sleep_for(100ms); // the line discipline delivers them to the kernel's buffer
    EXPECT_EQ(count(), 3u);
    char buffer[3];
    std::uint32_t n = 0;
    ASSERT_TRUE(Device->ReadFile(buffer, count(), n, 0));
    EXPECT_EQ(std::string(buffer, n), "abc");
    for (int i = 0; i < 100 && count() < 2; ++i)
        Device->WaitForInput(10);
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(ReadAll(2), "de");
}

TEST_F(PosixComm, EventWaitSleepsWhileBytesStayUnread) {
    ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR));
    ASSERT_TRUE(Pty.Send("x"));
    std::uint32_t events = 0;
    ASSERT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    TStopEvent stop;
    auto wait = std::async(std::launch::async, [&] { return Device->WaitCommEvent(events, &stop); });
    // The byte left unread must not wake the wait again: a level-triggered wait would spin.
    EXPECT_EQ(wait.wait_for(100ms), std::future_status::timeout);
    ASSERT_TRUE(Pty.Send("y"));
    ASSERT_EQ(wait.get(), TWaitResult::wrReady);
    EXPECT_EQ(ReadAll(2), "xy");
}

TEST_F(PosixComm, EventWaitEndsOnStopAndOnMaskChange) {
    ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR));
    TStopEvent stop;
    std::uint32_t events = 0;
    auto stopped = std::async(std::launch::async, [&] { return Device->WaitCommEvent(events, &stop); });
    stop.SetEvent();
    EXPECT_EQ(stopped.get(), TWaitResult::wrStopped);
    stop.ResetEvent();
    EXPECT_FALSE(stop.IsSet());

    auto masked = std::async(std::launch::async, [&] { return Device->WaitCommEvent(events, &stop); });
    // SetCommMask ends only a wait in progress; retry until the waiter has started.
    while (masked.wait_for(5ms) != std::future_status::ready)
        ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR));
    EXPECT_EQ(masked.get(), TWaitResult::wrReady);
    EXPECT_EQ(events, 0u);
}

TEST_F(PosixComm, HangUpIsAnErrorNotALoop) {
    ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR | EV_RXFLAG));
    ASSERT_TRUE(Pty.Send("last"));
    std::uint32_t events = 0;
    ASSERT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    Pty.CloseMaster();
    close(Pty.Slave);
    Pty.Slave = -1;
    EXPECT_EQ(Device->WaitCommEvent(events, nullptr), TWaitResult::wrFailed);
    EXPECT_EQ(GetLastError(), EIO);
    char buffer[16];
    std::uint32_t n = 0;
    ASSERT_TRUE(Device->ReadFile(buffer, sizeof buffer, n, 0)); // what came before stays readable
    EXPECT_EQ(std::string(buffer, n), "last");
    EXPECT_FALSE(Device->ReadFile(buffer, sizeof buffer, n, 0));
    EXPECT_EQ(GetLastError(), EIO);
    EXPECT_FALSE(Device->WriteFile("x", 1, n, kLongMs));
    EXPECT_EQ(Device->WaitForInput(kLongMs), TWaitResult::wrFailed);
    EXPECT_EQ(Device->WaitForOutputRoom(kLongMs), TWaitResult::wrFailed);
    COMSTAT stat{};
    EXPECT_FALSE(Device->ClearCommError(nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    Device.reset(); // closing a device that went away is quiet
}

} // namespace
} // namespace qorvel::platform
