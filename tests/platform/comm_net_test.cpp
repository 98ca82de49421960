// The network device against small servers played by the test: name forms, open failures,
// raw TCP over IPv4, IPv6 and a host name, a Telnet server that refuses the COM-PORT option, one
// that notifies and answers oddly, and connections that end.
#include "platform/comm_net.h"
#include "platform/telnet.h"
#include "platform/telnet_comport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace qorvel::platform {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

struct TNameCase {
    const char* Name;
    bool Valid;
    bool Rfc2217;
    const char* Host;
    const char* Port;
};

const TNameCase kNameCases[] = {
    {"rfc2217://127.0.0.1:2000", true, true, "127.0.0.1", "2000"},
    {"tcp://device-server.lab:4001", true, false, "device-server.lab", "4001"},
    {"RFC2217://[::1]:7000", true, true, "::1", "7000"},
    {"TCP://[fe80::1%eth0]:1", true, false, "fe80::1%eth0", "1"},
    {"tcp://host:65535", true, false, "host", "65535"},
    {"tcp://host:65536", false, false, "", ""},
    {"tcp://host:0", false, false, "", ""},
    {"tcp://host:", false, false, "", ""},
    {"tcp://host", false, false, "", ""},
    {"tcp://:2000", false, false, "", ""},
    {"tcp://::1:2000", false, false, "", ""}, // IPv6 needs brackets
    {"tcp://[::1]2000", false, false, "", ""},
    {"tcp://[::1:2000", false, false, "", ""},
    {"rfc2217://host:20x0", false, false, "", ""},
    {"COM1", false, false, "", ""},
    {"/dev/ttyUSB0", false, false, "", ""},
};

TEST(NetPortName, ParsesTheForms) {
    for (const TNameCase& c : kNameCases) {
        const auto parsed = ParseNetPortName(c.Name);
        ASSERT_EQ(parsed.has_value(), c.Valid) << c.Name;
        if (!c.Valid) continue;
        EXPECT_EQ(parsed->Rfc2217, c.Rfc2217) << c.Name;
        EXPECT_EQ(parsed->Host, c.Host) << c.Name;
        EXPECT_EQ(parsed->Port, c.Port) << c.Name;
    }
    EXPECT_TRUE(IsNetworkPortName("tcp://nonsense"));
    EXPECT_FALSE(IsNetworkPortName("ttyS0"));
    EXPECT_FALSE(IsNetworkPortName("./tcp://x"));
}

// A listening socket on a free loopback port; each accepted connection is served by `serve`
// on a thread of its own.
class TLocalServer {
public:
    explicit TLocalServer(std::function<void(int)> serve, bool ipv6 = false) {
        FListener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (ipv6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            socklen_t length = sizeof a;
            Ok = bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                 getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &length) == 0;
            Port = ntohs(a.sin6_port);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof a;
            Ok = bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                 getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &length) == 0;
            Port = ntohs(a.sin_port);
        }
        Ok = Ok && listen(FListener, 4) == 0;
        FThread = std::thread([this, serve = std::move(serve)] {
            pollfd p{FListener, POLLIN, 0};
            if (poll(&p, 1, 30000) <= 0) return;
            const int fd = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            FConnection = fd;
            serve(fd);
            std::lock_guard lock(FLock);
            FConnection = -1;
            close(fd);
        });
    }
    ~TLocalServer() {
        shutdown(FListener, SHUT_RDWR);
        {
            std::lock_guard lock(FLock); // a server still waiting for the client ends
            if (FConnection >= 0) shutdown(FConnection, SHUT_RDWR);
        }
        FThread.join();
        close(FListener);
    }
    std::string Name(std::string_view scheme, std::string_view host = "127.0.0.1") const {
        return std::string(scheme) + std::string(host) + ":" + std::to_string(Port);
    }

    bool Ok = false;
    int Port = 0;

private:
    int FListener = -1;
    std::mutex FLock;
    std::atomic<int> FConnection{-1};
    std::thread FThread;
};

std::string ReadSome(int fd, std::size_t count, std::chrono::milliseconds limit = 10s) {
    std::string got;
    const auto deadline = TClock::now() + limit;
    while (got.size() < count && TClock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.append(buffer, std::size_t(n));
    }
    return got;
}

void WriteAll(int fd, std::string_view bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += char(i);
    return s;
}

// Reads from the device until `count` bytes came or the device failed.
std::string DeviceRead(TCommDevice& device, std::size_t count) {
    std::string got(count, '\0');
    std::size_t have = 0;
    const auto deadline = TClock::now() + 10s;
    while (have < count && TClock::now() < deadline) {
        if (device.WaitForInput(100) == TWaitResult::wrFailed) break;
        std::uint32_t n = 0;
        if (!device.ReadFile(got.data() + have, std::uint32_t(count - have), n, 0)) break;
        have += n;
    }
    got.resize(have);
    return got;
}

// ---- Opening -----------------------------------------------------------------------------------

TEST(NetOpen, FailuresSetTheLastError) {
    // A port that was free a moment ago refuses at once.
    int refusedPort = 0;
    {
        TLocalServer gone([](int) {});
        refusedPort = gone.Port;
    }
    // A server that accepts and then never takes part in the Telnet negotiation.
    TLocalServer silent([](int fd) { ReadSome(fd, 1 << 20, 8s); });
    const struct {
        std::string Name;
        int Error;
    } cases[] = {
        {"tcp://127.0.0.1:99999", EINVAL},
        {"tcp://127.0.0.1:" + std::to_string(refusedPort), ECONNREFUSED},
        {silent.Name("rfc2217://"), ETIMEDOUT},
        {"tcp://nosuchhost.invalid:2000", EHOSTUNREACH},
    };
    for (const auto& c : cases) {
        const auto start = TClock::now();
        EXPECT_EQ(OpenNetworkPort(c.Name), nullptr) << c.Name;
        EXPECT_EQ(GetLastError(), c.Error) << c.Name;
        EXPECT_LT(TClock::now() - start, 30s) << c.Name; // bounded, not hanging
    }
    EXPECT_EQ(SystemErrorText(GetLastError()), "Unknown host nosuchhost.invalid");
}

// ---- Raw TCP -------------------------------------------------------------------------------------

struct TRawCase {
    const char* Name;
    bool Ipv6;
    const char* Host;
};

class NetRaw : public ::testing::TestWithParam<TRawCase> {};

TEST_P(NetRaw, EveryByteBothWaysThenTheServerCloses) {
    const std::string all = AllBytes();
    std::string atServer;
    TLocalServer server(
        [&](int fd) {
            atServer = ReadSome(fd, all.size());
            WriteAll(fd, all);
        },
        GetParam().Ipv6);
    ASSERT_TRUE(server.Ok);
    auto device = OpenNetworkPort(server.Name("tcp://", GetParam().Host));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
    std::uint32_t written = 0;
    ASSERT_TRUE(device->WriteFile(all.data(), std::uint32_t(all.size()), written, 5000));
    EXPECT_EQ(written, all.size());

    // The data first, then the loss; nothing hangs.
    std::uint32_t events = 0;
    EXPECT_EQ(device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_RXCHAR);
    EXPECT_EQ(DeviceRead(*device, all.size()), all);
    EXPECT_EQ(atServer, all);
    TWaitResult result = TWaitResult::wrReady;
    for (int i = 0; i < 10 && result == TWaitResult::wrReady; ++i)
        result = device->WaitCommEvent(events, nullptr);
    EXPECT_EQ(result, TWaitResult::wrFailed);
    std::uint32_t n = 0;
    char byte;
    EXPECT_FALSE(device->ReadFile(&byte, 1, n, 100));
    EXPECT_FALSE(device->WriteFile("x", 1, n, 100));
    EXPECT_FALSE(device->ClearCommError(nullptr, nullptr));
    EXPECT_EQ(device->WaitForInput(100), TWaitResult::wrFailed);

    // Settings have nowhere to go: kept as given.
    DCB dcb{};
    ASSERT_TRUE(device->GetCommState(dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
}

INSTANTIATE_TEST_SUITE_P(Hosts, NetRaw,
                         ::testing::Values(TRawCase{"Ipv4", false, "127.0.0.1"},
                                           TRawCase{"Ipv6", true, "[::1]"},
                                           TRawCase{"HostName", false, "localhost"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(NetRawSettings, AreKeptLocally) {
    TLocalServer server([](int fd) { ReadSome(fd, 1, 2s); });
    auto device = OpenNetworkPort(server.Name("tcp://"));
    ASSERT_NE(device, nullptr);
    // Data sent to a host that vanished is not retried for many minutes.
    unsigned userTimeout = 0;
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_in a{};
        socklen_t size = sizeof a;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0 && ntohs(a.sin_port) == server.Port)
            getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, &(size = sizeof userTimeout));
    }
    EXPECT_TRUE(userTimeout > 0 && userTimeout <= 30000) << userTimeout;
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(device->SetCommState(dcb));
    DCB back{};
    ASSERT_TRUE(device->GetCommState(back));
    EXPECT_EQ(back, dcb);
    dcb.ByteSize = 9;
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_EQ(GetLastError(), EINVAL);
}

// ---- Telnet servers played by the test ---------------------------------------------------------

using namespace telnet;

std::string Agreement(bool comPort) {
    return {char(IAC),        char(DO),  char(kOptBinary),          char(IAC),        char(WILL),
            char(kOptBinary), char(IAC), char(comPort ? DO : DONT), char(kOptComPort)};
}

// Agrees to BINARY and, when `comPort`, to COM-PORT-OPTION; refuses it otherwise.
void Agree(int fd, bool comPort) {
    const std::string request = ReadSome(fd, 9);
    WriteAll(fd, Agreement(comPort));
}

std::string Sub(std::initializer_list<std::uint8_t> body) {
    std::string s = {char(IAC), char(SB), char(kOptComPort)};
    for (std::uint8_t b : body)
        s += char(b);
    return s + char(IAC) + char(SE);
}

TEST(NetTelnet, ServerWithoutComPortKeepsSettingsLocallyAndDataIsEscaped) {
    const std::string all = AllBytes();
    std::string atServer;
    TLocalServer server([&](int fd) {
        Agree(fd, false);
        atServer = ReadSome(fd, all.size() + 1); // 0xFF goes out doubled
        std::string doubled = all + char(0xFF);
        WriteAll(fd, doubled);
        ReadSome(fd, 1, 2s);
    });
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = 300;
    dcb.ByteSize = 8;
    ASSERT_TRUE(device->SetCommState(dcb)); // no answers owed, so no wait
    std::uint32_t written = 0;
    ASSERT_TRUE(device->WriteFile(all.data(), std::uint32_t(all.size()), written, 5000));
    EXPECT_EQ(DeviceRead(*device, all.size()), all);
    EXPECT_EQ(atServer, all + char(0xFF));
    DCB back{};
    ASSERT_TRUE(device->GetCommState(back));
    EXPECT_EQ(back.BaudRate, 300u);
}

TEST(NetTelnet, AnswersNotificationsAndSilence) {
    std::string pushed;
    TLocalServer server([&](int fd) {
        Agree(fd, true);
        ReadSome(fd, 7, 2s); // SET-LINESTATE-MASK
        // First push: answered with other values than asked, and a modem and a line notification.
        pushed = ReadSome(fd, 1, 5s);
        WriteAll(fd, Sub({101, 0, 0, 0x25, 0x80}) + Sub({102, 8}) + Sub({103, 1}) + Sub({104, 1}) +
                         Sub({105, 1}) + "ab" + Sub({107, 0x11}) + Sub({106, 0x0C}));
        // Second push: never answered.
        ReadSome(fd, 1 << 20, 6s);
    });
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_CTS | EV_ERR));
    DCB asked{};
    asked.DCBlength = kDcbLength;
    asked.BaudRate = 115200;
    asked.ByteSize = 7;
    asked.Parity = EVENPARITY;
    asked.fOutxCtsFlow = 1;
    asked.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(device->SetCommState(asked)) << SystemErrorText(GetLastError());
    DCB got{};
    ASSERT_TRUE(device->GetCommState(got));
    EXPECT_EQ(got.BaudRate, 9600u);
    EXPECT_EQ(got.ByteSize, 8);
    EXPECT_EQ(got.Parity, NOPARITY);
    EXPECT_EQ(got.fOutxCtsFlow, 0u);

    std::uint32_t events = 0, gathered = 0;
    const auto deadline = TClock::now() + 10s;
    while (gathered != (EV_RXCHAR | EV_CTS | EV_ERR) && TClock::now() < deadline &&
           device->WaitCommEvent(events, nullptr) == TWaitResult::wrReady)
        gathered |= events;
    EXPECT_EQ(gathered, EV_RXCHAR | EV_CTS | EV_ERR);
    std::uint32_t errors = 0;
    COMSTAT stat{};
    EXPECT_TRUE(device->ClearCommError(&errors, &stat));
    EXPECT_EQ(errors, CE_FRAME | CE_RXPARITY);
    EXPECT_EQ(stat.cbInQue, 2u);

    // No answers: refused after the answer limit, and the old accepted values stay.
    const auto start = TClock::now();
    asked.BaudRate = 1200;
    EXPECT_FALSE(device->SetCommState(asked));
    EXPECT_EQ(GetLastError(), ETIMEDOUT);
    EXPECT_GE(TClock::now() - start, std::chrono::milliseconds(kNetAnswerLimitMs - 100));
    ASSERT_TRUE(device->GetCommState(got));
    EXPECT_EQ(got.BaudRate, 9600u);
}

// Line control goes out as SET-CONTROL in call order; the modem lines come from NOTIFY-MODEMSTATE,
// asked for once with SET-MODEMSTATE-MASK, and a change after that is an event.
TEST(NetTelnet, LineControlAndModemState) {
    std::string controls, mask;
    TLocalServer server([&](int fd) {
        Agree(fd, true);
        ReadSome(fd, 7, 2s); // SET-LINESTATE-MASK
        controls = ReadSome(fd, 6 * 7);
        mask = ReadSome(fd, 8);
        WriteAll(fd, Sub({111, 0xFF, 0xFF}) + Sub({107, std::uint8_t(kModemCts | kModemDsr)}));
        std::this_thread::sleep_for(100ms);
        WriteAll(fd, Sub({107, std::uint8_t(kModemCts | kModemCd | kModemDeltaCd)}));
        ReadSome(fd, 1 << 20, 2s);
    });
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    ASSERT_TRUE(device->SetCommMask(EV_RLSD | EV_DSR));
    EXPECT_TRUE(device->SetCommBreak() && device->ClearCommBreak());
    for (std::uint32_t func : {CLRDTR, SETDTR, CLRRTS, SETRTS})
        EXPECT_TRUE(device->EscapeCommFunction(func));
    bool dtr = false, rts = false;
    EXPECT_TRUE(device->GetCommOutputLines(dtr, rts) && dtr && rts);
    std::uint32_t status = 0;
    ASSERT_TRUE(device->GetCommModemStatus(status)) << SystemErrorText(GetLastError());
    EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
    EXPECT_EQ(controls, Sub({5, 5}) + Sub({5, 6}) + Sub({5, 9}) + Sub({5, 8}) + Sub({5, 12}) + Sub({5, 11}));
    EXPECT_EQ(mask, Sub({11, 0xFF, 0xFF})); // 255 goes out doubled
    std::uint32_t events = 0;
    ASSERT_EQ(device->WaitCommEvent(events, nullptr), TWaitResult::wrReady);
    EXPECT_EQ(events, EV_RLSD | EV_DSR);
    ASSERT_TRUE(device->GetCommModemStatus(status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);
}

TEST(NetTelnet, PurgeDropsWhatTheServerSentBeforeItsAnswer) {
    TLocalServer server([&](int fd) {
        Agree(fd, true);
        ReadSome(fd, 7, 2s); // SET-LINESTATE-MASK
        const std::string purge = ReadSome(fd, 7, 5s);
        if (purge != Sub({12, 3})) return;
        WriteAll(fd, "old" + Sub({112, 3}) + "new");
        ReadSome(fd, 1, 2s);
    });
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    ASSERT_TRUE(device->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT));
    EXPECT_EQ(DeviceRead(*device, 3), "new");
}

TEST(NetTelnet, StopEventEndsTheWaitAndWritesWaitForRoom) {
    TLocalServer server([&](int fd) {
        Agree(fd, true);
        std::this_thread::sleep_for(3s); // reads nothing for a while: the socket fills up
        ReadSome(fd, 64 << 20, 5s);
    });
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_NE(device, nullptr) << SystemErrorText(GetLastError());
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
    TStopEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.SetEvent();
    });
    std::uint32_t events = 0;
    EXPECT_EQ(device->WaitCommEvent(events, &stop), TWaitResult::wrStopped);
    stopper.join();

    // A large write is bounded by its limit; it does not spin and does not fail.
    const std::string block(16 << 20, '\xFF');
    std::uint32_t written = 0;
    const auto start = TClock::now();
    ASSERT_TRUE(device->WriteFile(block.data(), std::uint32_t(block.size()), written, 500));
    EXPECT_LT(written, block.size());
    EXPECT_LT(TClock::now() - start, 2s);
    // The write ended at its limit, not when the socket stopped taking: there may be room left.
    EXPECT_NE(device->WaitForOutputRoom(100), TWaitResult::wrFailed);
}

// ---- A hostile or broken server -----------------------------------------------------------------

// Sends `pattern` over and over for `time`, reading nothing; a client that goes ends it.
void Flood(int fd, std::string_view pattern, std::chrono::milliseconds time) {
    std::string block;
    while (block.size() < (64u << 10))
        block += pattern;
    std::size_t at = 0; // where in the pattern the stream goes on
    for (const auto end = TClock::now() + time; TClock::now() < end;) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = send(fd, block.data() + at, block.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN) return;
        at = (at + std::size_t(std::max<ssize_t>(n, 0))) % pattern.size();
    }
}

std::chrono::milliseconds ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::milliseconds(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

const std::string kDo24 = {char(IAC), char(DO), 24}, kNop = {char(IAC), char(NOP)};

struct THostileCase {
    const char* Name;
    // The server agrees (FloodFirst: after the flood), floods, sends Then, then reads everything if
    // it did not flood, or nothing until the client goes. The client opens unless FloodFirst.
    std::string Flood;
    std::chrono::milliseconds FloodTime;
    bool FloodFirst;
    std::string Then;
    // After Client, ClearCommError (as the window's main thread calls it) every 10 ms this long.
    std::chrono::milliseconds Watch;
    bool Lost;
    std::chrono::milliseconds MaxTime, MaxCpu; // the client's, from the open on
    std::function<void(TCommDevice&, TClock::time_point opening)> Client = nullptr;
};

void Serve(int fd, const THostileCase& c) {
    c.FloodFirst ? void(ReadSome(fd, 9)) : Agree(fd, true);
    if (!c.Flood.empty()) Flood(fd, c.Flood, c.FloodTime);
    const std::string then = (c.FloodFirst ? Agreement(true) : "") + c.Then;
    [[maybe_unused]] ssize_t n = send(fd, then.data(), then.size(), MSG_NOSIGNAL);
    std::vector<char> sink(1 << 20);
    pollfd p{fd, POLLRDHUP, 0};
    if (!c.Flood.empty()) poll(&p, 1, 20000);
    while (c.Flood.empty() && recv(fd, sink.data(), sink.size(), 0) > 0)
        continue;
}

const THostileCase kHostileCases[] = {
    {"AnswersToDoNotRead", kDo24, 4s, false, "", 8s, true, 6s, 6s},
    {"AnswersToSignatureRequestsNotRead", Sub({100}), 4s, false, "", 8s, true, 6s, 6s},
    {"CommandFloodHoldsNoCallLong", kNop, 1500ms, false, "", 1500ms, false, 3s, 3s},
    {"DataBeforeNegotiatingStaysInTheSocket", "\r\n", 1s, true, "", 0ms, false, 6s, 2s},
    {"DataBeforeTheAnswersStaysInTheSocket", "\r\n", 1s, false, "", 100ms, false, 4s, 2s,
     [](TCommDevice& d, auto) {
         DCB dcb{};
         dcb.DCBlength = kDcbLength;
         dcb.BaudRate = 9600;
         dcb.ByteSize = 8;
         EXPECT_FALSE(d.SetCommState(dcb));
     }},
    {"SuspendedWithAFullQueueNeitherSpinsNorMissesTheResume", "", 0ms, false,
     Sub({108}) + std::string(100 << 10, 'd') + Sub({109}), 0ms, false, 3s, 300ms,
     [](TCommDevice& d, auto) {
         std::uint32_t n = 0;
         ASSERT_EQ(d.WaitForInput(2000), TWaitResult::wrReady); // the suspend came
         EXPECT_EQ(d.WaitForOutputRoom(1000), TWaitResult::wrTimeout);
         EXPECT_TRUE(d.WriteFile("x", 1, n, 300) && n == 0);
         EXPECT_EQ(DeviceRead(d, 100 << 10).size(), 100u << 10);
         EXPECT_EQ(d.WaitForOutputRoom(1000), TWaitResult::wrReady);
     }},
    {"WriteKeepsItsLimitWhileTheServerReadsFast", "", 0ms, false, "", 0ms, false, 2s, 2s,
     [](TCommDevice& d, auto) {
         const std::string block(128 << 20, '\xFF'); // more than the socket takes in the limit
         std::uint32_t written = 0;
         const auto start = TClock::now();
         EXPECT_TRUE(d.WriteFile(block.data(), std::uint32_t(block.size()), written, 200));
         EXPECT_LT(TClock::now() - start, 450ms);
     }},
    {"PurgeUnansweredWhileOpeningFailsTheOpen", "", 0ms, false, "", 0ms, false,
     std::chrono::milliseconds(kNetConnectLimitMs + 300), 300ms,
     [](TCommDevice& d, auto) {
         std::uint32_t status = 0;
         EXPECT_FALSE(d.GetCommModemStatus(status)); // nor is this answered, which loses nothing
         EXPECT_TRUE(d.SetupComm(4096, 4096));
         EXPECT_FALSE(d.PurgeComm(PURGE_RXCLEAR));
         EXPECT_FALSE(d.SetupComm(4096, 4096));
     }},
    {"PurgeUnansweredLaterIsNotAwaitedAgain", "", 0ms, false, "", 0ms, false, 9s, 300ms,
     [](TCommDevice& d, TClock::time_point opening) {
         std::this_thread::sleep_until(opening + std::chrono::milliseconds(kNetConnectLimitMs));
         EXPECT_FALSE(d.PurgeComm(PURGE_RXCLEAR));
         const auto start = TClock::now();
         d.PurgeComm(PURGE_RXCLEAR);
         EXPECT_LT(TClock::now() - start, 200ms);
         EXPECT_TRUE(d.SetupComm(4096, 4096));
     }},
};

class NetHostile : public ::testing::TestWithParam<THostileCase> {};

TEST_P(NetHostile, MemoryTimeAndCpuStayBounded) {
    const THostileCase& c = GetParam();
    TLocalServer server([&](int fd) { Serve(fd, c); });
    const auto start = TClock::now();
    const auto cpu = ThreadCpu();
    auto device = OpenNetworkPort(server.Name("rfc2217://"));
    ASSERT_EQ(device != nullptr, !c.FloodFirst) << SystemErrorText(GetLastError());
    if (c.Client) c.Client(*device, start);
    bool lost = false;
    for (const auto end = TClock::now() + c.Watch; !lost && TClock::now() < end;) {
        std::this_thread::sleep_for(10ms);
        COMSTAT stat{};
        const auto call = TClock::now();
        lost = !device->ClearCommError(nullptr, &stat);
        EXPECT_LT(TClock::now() - call, 200ms);
        EXPECT_LE(stat.cbInQue, 64u << 10);
        EXPECT_LE(stat.cbOutQue, 8u << 10); // the answers' cap and the opening's own bytes
    }
    EXPECT_EQ(lost, c.Lost);
    EXPECT_LT(TClock::now() - start, c.MaxTime);
    EXPECT_LT(ThreadCpu() - cpu, c.MaxCpu);
}

INSTANTIATE_TEST_SUITE_P(Cases, NetHostile, ::testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace qorvel::platform
