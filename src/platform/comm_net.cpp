#include "platform/comm_net.h"

#include "platform/device_wait.h"
#include "platform/telnet_comport.h"

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace qorvel::platform {

namespace {

using namespace wait;

// Received bytes wait in our own queue (as on the termios device); past this size the socket
// keeps the rest and TCP slows the server down.
constexpr std::size_t kMinInputQueue = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// Escaped bytes the socket has not taken yet; WriteFile waits while this much is pending.
constexpr std::size_t kOutputLimit = 64 * 1024;
// A host that stops answering is noticed within about keep-alive idle + count x interval.
constexpr int kKeepAliveIdleS = 10;
constexpr int kKeepAliveIntervalS = 5;
constexpr int kKeepAliveCount = 3;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kTcpScheme = "tcp://";

class TNetCommDevice final : public TCommDevice {
public:
    TNetCommDevice(int socket, int wakeFd, int dataFd, int replyFd, bool rfc2217);
    ~TNetCommDevice() override;

    bool Negotiate(TDeadline deadline);

    bool GetCommState(DCB& dcb) override;
    bool SetCommState(const DCB& dcb) override;
    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool PurgeComm(std::uint32_t flags) override;
    bool GetCommProperties(COMMPROP& prop) override;
    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override;
    bool SetCommMask(std::uint32_t mask) override;
    bool GetCommMask(std::uint32_t& mask) override;
    TWaitResult WaitCommEvent(std::uint32_t& eventMask, const TStopEvent* stop) override;
    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t& read, std::uint32_t limitMs) override;
    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t& written,
                   std::uint32_t limitMs) override;
    TWaitResult WaitForInput(std::uint32_t timeoutMs) override;
    TWaitResult WaitForOutputRoom(std::uint32_t timeoutMs) override;

private:
    // All below with FLock held.
    std::size_t QueueCap() const { return std::max<std::size_t>(kMinInputQueue, FInQueueSize); }
    std::size_t Queued() const { return FInput.Size(); }
    std::size_t OutPending() const { return FOut.size() - FOutHead; }
    bool Suspended() const { return FSession && FSession->Suspended(); }
    bool ComPort() const { return FSession && FSession->ComPort(); }
    short SocketEvents(bool wantInput) const {
        return short((wantInput ? POLLIN : 0) | (OutPending() > 0 ? POLLOUT : 0));
    }
    bool AwaitServer(std::unique_lock<std::mutex>& lock, bool (telnet::TComPortClient::*owed)() const);
    void Pump(bool ignoreCap);
    void Flush();
    void Serve(short revents, bool ignoreCap);
    std::size_t TakeQueued(std::uint8_t* to, std::size_t count);
    void MarkGone(int error);
    bool FailGone();

    const int FSocket;
    TEventWait FWait;   // under FLock; woken for a mask change, events or output from other threads
    TInputQueue FInput; // under FLock
    const int FReplyFd; // wakes a settings push waiting for the server's answers
    std::unique_ptr<telnet::TComPortClient> FSession; // null for raw TCP

    std::mutex FLock;
    DCB FDcb{};
    COMMTIMEOUTS FTimeouts{};
    std::uint32_t FInQueueSize = 0;
    std::uint32_t FOutQueueSize = 0;
    std::vector<std::uint8_t> FOut; // wire bytes not yet taken by the socket
    std::size_t FOutHead = 0;
    bool FAwaitingReplies = false;
    std::atomic<bool> FGone{false};
    int FGoneError = 0;
    std::uint32_t FEvents = 0; // events not yet reported by WaitCommEvent
    std::uint32_t FErrors = 0; // CE_* flags gathered since the last ClearCommError
};

TNetCommDevice::TNetCommDevice(int socket, int wakeFd, int dataFd, int replyFd, bool rfc2217)
    : FSocket(socket), FWait(wakeFd), FInput(dataFd), FReplyFd(replyFd) {
    if (rfc2217) FSession = std::make_unique<telnet::TComPortClient>(FOut);
    FDcb.DCBlength = kDcbLength;
    FDcb.BaudRate = 9600;
    FDcb.fBinary = 1;
    FDcb.ByteSize = 8;
    FDcb.fDtrControl = DTR_CONTROL_ENABLE;
    FDcb.fRtsControl = RTS_CONTROL_ENABLE;
}

TNetCommDevice::~TNetCommDevice() {
    {
        std::lock_guard lock(FLock);
        if (!FGone) Flush(); // what the socket takes now still reaches the server
    }
    close(FSocket);
    close(FWait.WakeFd());
    close(FInput.DataFd());
    close(FReplyFd);
}

void TNetCommDevice::MarkGone(int error) {
    if (FGone) return;
    FGoneError = error;
    FGone = true;
    // Waiters that do not watch the socket's input (queue full, output only) must hear it too.
    FWait.Wake();
    SignalFd(FReplyFd);
}

bool TNetCommDevice::FailGone() {
    SetLastError(FGoneError);
    return false;
}

// Moves what the socket holds through the Telnet layer into our queue. With `ignoreCap` it reads
// past a full queue: a caller waiting for the server's answers cannot wait for the reader.
void TNetCommDevice::Pump(bool ignoreCap) {
    std::uint8_t chunk[kReadChunk];
    std::size_t start = Queued();
    while (!FGone && (ignoreCap || Queued() < QueueCap())) {
        const std::size_t room = ignoreCap ? sizeof chunk : std::min(QueueCap() - Queued(), sizeof chunk);
        const ssize_t n = recv(FSocket, chunk, room, MSG_DONTWAIT);
        if (n > 0) {
            FInput.Compact();
            std::vector<std::uint8_t>& bytes = FInput.Bytes();
            if (FSession) {
                FSession->Receive(chunk, std::size_t(n), bytes);
                if (const auto mark = FSession->TakeReceivePurgeMark()) {
                    bytes.erase(bytes.begin() + std::ptrdiff_t(FInput.Head()),
                                bytes.begin() + std::ptrdiff_t(*mark));
                    start = 0;
                }
            } else {
                bytes.insert(bytes.end(), chunk, chunk + n);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0)
            MarkGone(ECONNRESET); // the server closed the connection
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            MarkGone(errno);
        break;
    }
    if (Queued() > start) {
        FEvents |= EV_RXCHAR;
        const std::vector<std::uint8_t>& bytes = FInput.Bytes();
        const std::uint8_t* from = bytes.data() + bytes.size() - (Queued() - start);
        if (std::memchr(from, std::uint8_t(FDcb.EvtChar), std::size_t(bytes.data() + bytes.size() - from)))
            FEvents |= EV_RXFLAG;
        FInput.Signal();
    }
    if (FSession) {
        FEvents |= FSession->TakeEvents();
        FErrors |= FSession->TakeErrors();
        if (FAwaitingReplies) SignalFd(FReplyFd);
        Flush(); // negotiation answers
    }
    if (FEvents & FWait.Mask()) FWait.Wake();
}

// Hands pending wire bytes to the socket as far as it takes them.
void TNetCommDevice::Flush() {
    while (OutPending() > 0 && !FGone) {
        const ssize_t n = send(FSocket, FOut.data() + FOutHead, OutPending(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            FOutHead += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) MarkGone(errno);
        break;
    }
    if (OutPending() == 0) {
        FOut.clear();
        FOutHead = 0;
    } else if (FOutHead * 2 >= FOut.size()) {
        FOut.erase(FOut.begin(), FOut.begin() + std::ptrdiff_t(FOutHead));
        FOutHead = 0;
    }
}

// Acts on what poll() reported for the socket.
void TNetCommDevice::Serve(short revents, bool ignoreCap) {
    // A hang-up is only seen by reading, also when the queue is full.
    if (revents & (POLLHUP | POLLERR)) ignoreCap = true;
    if (revents & (POLLIN | POLLHUP | POLLERR)) Pump(ignoreCap);
    if (revents & POLLOUT) Flush();
}

std::size_t TNetCommDevice::TakeQueued(std::uint8_t* to, std::size_t count) {
    const bool wasFull = Queued() >= QueueCap();
    const std::size_t n = FInput.Take(to, count);
    if (wasFull && n > 0) FWait.Wake(); // the event wait may read the socket again
    return n;
}

bool TNetCommDevice::Negotiate(TDeadline deadline) {
    std::unique_lock lock(FLock);
    FSession->Start();
    Flush();
    while (!FSession->Negotiated()) {
        if (FGone) return FailGone();
        if (Passed(deadline)) {
            SetLastError(ETIMEDOUT);
            return false;
        }
        pollfd p{FSocket, SocketEvents(true), 0};
        if (!PollReleased(lock, &p, 1, deadline)) return false;
        Serve(p.revents, true);
    }
    return true;
}

bool TNetCommDevice::GetCommState(DCB& dcb) {
    std::lock_guard lock(FLock);
    dcb = FDcb;
    if (ComPort()) FSession->ApplyAnswers(dcb);
    return true;
}

bool TNetCommDevice::SetCommState(const DCB& dcb) {
    // The values the line and the protocol can express.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        SetLastError(EINVAL);
        return false;
    }
    std::unique_lock lock(FLock);
    if (FGone) return FailGone();
    if (!ComPort()) { // raw TCP, or a Telnet server without the option: kept here
        FDcb = dcb;
        return true;
    }
    FSession->PushSettings(dcb);
    if (!AwaitServer(lock, &telnet::TComPortClient::AwaitingAnswers)) return false;
    FDcb = dcb;
    return true;
}

// Sends what is pending and waits, at most kNetAnswerLimitMs, until the server has answered
// what `owed` asks about. Reads past a full queue: the reader may be the one waiting here.
bool TNetCommDevice::AwaitServer(std::unique_lock<std::mutex>& lock,
                                 bool (telnet::TComPortClient::*owed)() const) {
    Flush();
    const TDeadline deadline = After(kNetAnswerLimitMs);
    FAwaitingReplies = true;
    ClearFd(FReplyFd);
    bool ok = true;
    while (((*FSession).*owed)()) {
        if (FGone) {
            ok = FailGone();
            break;
        }
        if (Passed(deadline)) {
            SetLastError(ETIMEDOUT);
            ok = false;
            break;
        }
        pollfd fds[2] = {{FSocket, SocketEvents(true), 0}, {FReplyFd, POLLIN, 0}};
        if (!PollReleased(lock, fds, 2, deadline)) {
            ok = false;
            break;
        }
        if (fds[1].revents) ClearFd(FReplyFd);
        Serve(fds[0].revents, true);
    }
    FAwaitingReplies = false;
    return ok;
}

bool TNetCommDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard lock(FLock);
    if (FGone) return FailGone();
    FInQueueSize = inQueue;
    FOutQueueSize = outQueue;
    return true;
}

bool TNetCommDevice::PurgeComm(std::uint32_t flags) {
    std::unique_lock lock(FLock);
    if (flags & PURGE_RXCLEAR) {
        const bool wasFull = Queued() >= QueueCap();
        FInput.Clear();
        if (wasFull) FWait.Wake();
    }
    // Our own pending bytes mix data with protocol and are few; the server's buffers are purged,
    // and what it sent before its answer goes too, so nothing older than the call is read later.
    if (ComPort() && (flags & (PURGE_RXCLEAR | PURGE_TXCLEAR))) {
        FSession->Purge(flags & PURGE_RXCLEAR, flags & PURGE_TXCLEAR);
        return AwaitServer(lock, &telnet::TComPortClient::AwaitingPurge);
    }
    return true;
}

bool TNetCommDevice::GetCommProperties(COMMPROP& prop) {
    std::lock_guard lock(FLock);
    prop = SerialPortProperties(FOutQueueSize, FInQueueSize);
    return true;
}

bool TNetCommDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(FLock);
    timeouts = FTimeouts;
    return true;
}

bool TNetCommDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(FLock);
    if (FGone) return FailGone();
    FTimeouts = timeouts;
    return true;
}

bool TNetCommDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    std::lock_guard lock(FLock);
    if (!FGone) {
        Pump(false);
        Flush();
    }
    if (errors) *errors = FErrors;
    FErrors = 0;
    if (stat) {
        *stat = COMSTAT{};
        stat->cbInQue = std::uint32_t(Queued());
        stat->cbOutQue = std::uint32_t(OutPending());
    }
    return FGone ? FailGone() : true;
}

bool TNetCommDevice::SetCommMask(std::uint32_t mask) {
    std::lock_guard lock(FLock);
    FWait.SetMask(mask);
    return true;
}

bool TNetCommDevice::GetCommMask(std::uint32_t& mask) {
    std::lock_guard lock(FLock);
    mask = FWait.Mask();
    return true;
}

TWaitResult TNetCommDevice::WaitCommEvent(std::uint32_t& eventMask, const TStopEvent* stop) {
    eventMask = 0;
    std::unique_lock lock(FLock);
    if (!FWait.Begin()) return TWaitResult::wrFailed;
    for (;;) {
        // What arrived before a loss is reported first; the next wait reports the loss.
        if (const std::uint32_t pending = FEvents & FWait.Mask()) {
            FEvents &= ~FWait.Mask();
            eventMask = pending;
            return FWait.Finish(TWaitResult::wrReady);
        }
        if (FGone) {
            SetLastError(FGoneError);
            return FWait.Finish(TWaitResult::wrFailed);
        }
        pollfd fds[3] = {
            {FSocket, SocketEvents(Queued() < QueueCap()), 0}, {FWait.WakeFd(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (stop) fds[2].fd = stop->Fd();
        if (!PollReleased(lock, fds, 3, std::nullopt)) return FWait.Finish(TWaitResult::wrFailed);
        if (fds[2].revents) return FWait.Finish(TWaitResult::wrStopped);
        if (FWait.MaskChanged()) return FWait.Finish(TWaitResult::wrReady);
        if (fds[1].revents) FWait.ClearWake();
        Serve(fds[0].revents, false);
    }
}

bool TNetCommDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t& read, std::uint32_t limitMs) {
    read = 0;
    auto* to = static_cast<std::uint8_t*>(buffer);
    std::unique_lock lock(FLock);
    const TReadPlan plan = PlanRead(FTimeouts, count, limitMs);
    TDeadline interval;
    while (read < count) {
        const std::size_t before = read;
        read += std::uint32_t(TakeQueued(to + read, count - read));
        if (read < count && !FGone) {
            Pump(false);
            read += std::uint32_t(TakeQueued(to + read, count - read));
        }
        if (read == count) break;
        if (FGone) {
            if (read > 0) break; // what arrived before the loss is delivered; the next call fails
            return FailGone();
        }
        if (plan.Immediate || (plan.FirstByte && read > 0)) break;
        if (plan.IntervalMs != 0 && read > before) interval = After(plan.IntervalMs);
        const TDeadline deadline = Earlier(plan.Total, interval);
        if (Passed(deadline)) break;
        pollfd fds[2] = {{FSocket, SocketEvents(true), 0}, {FInput.DataFd(), POLLIN, 0}};
        if (!PollReleased(lock, fds, 2, deadline)) return false;
        Serve(short(fds[0].revents & ~POLLIN), false); // input is read at the top of the loop
    }
    return true;
}

bool TNetCommDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t& written,
                               std::uint32_t limitMs) {
    written = 0;
    const auto* from = static_cast<const std::uint8_t*>(buffer);
    std::unique_lock lock(FLock);
    const TDeadline deadline = PlanWrite(FTimeouts, count, limitMs);
    for (;;) {
        if (FGone) return FailGone();
        Flush();
        while (written < count && OutPending() < kOutputLimit && !Suspended() && !FGone) {
            const std::size_t n = std::min<std::size_t>(count - written, kOutputLimit - OutPending());
            if (FSession)
                FSession->Send(from + written, n);
            else
                FOut.insert(FOut.end(), from + written, from + written + n);
            written += std::uint32_t(n);
            Flush();
        }
        if (FGone) return FailGone();
        if (written == count || Passed(deadline)) break;
        // Room comes with the socket taking bytes, or with the server's resume.
        pollfd p{FSocket, SocketEvents(Suspended()), 0};
        if (!PollReleased(lock, &p, 1, deadline)) return false;
        Serve(p.revents, false);
    }
    // The event wait goes on sending what the socket has not taken yet.
    if (OutPending() > 0) FWait.Wake();
    return true;
}

TWaitResult TNetCommDevice::WaitForInput(std::uint32_t timeoutMs) {
    const TDeadline deadline = timeoutMs == INFINITE ? std::nullopt : After(timeoutMs);
    std::unique_lock lock(FLock);
    for (;;) {
        if (Queued() == 0 && !FGone) Pump(false);
        if (Queued() > 0) return TWaitResult::wrReady;
        if (FGone) {
            SetLastError(FGoneError);
            return TWaitResult::wrFailed;
        }
        if (Passed(deadline)) return TWaitResult::wrTimeout;
        pollfd fds[2] = {{FSocket, SocketEvents(true), 0}, {FInput.DataFd(), POLLIN, 0}};
        if (!PollReleased(lock, fds, 2, deadline)) return TWaitResult::wrFailed;
        Serve(short(fds[0].revents & ~POLLIN), false);
    }
}

TWaitResult TNetCommDevice::WaitForOutputRoom(std::uint32_t timeoutMs) {
    const TDeadline deadline = timeoutMs == INFINITE ? std::nullopt : After(timeoutMs);
    std::unique_lock lock(FLock);
    for (;;) {
        if (!FGone) Flush();
        if (FGone) {
            SetLastError(FGoneError);
            return TWaitResult::wrFailed;
        }
        if (OutPending() < kOutputLimit && !Suspended()) return TWaitResult::wrReady;
        if (Passed(deadline)) return TWaitResult::wrTimeout;
        pollfd p{FSocket, SocketEvents(Suspended()), 0};
        if (!PollReleased(lock, &p, 1, deadline)) return TWaitResult::wrFailed;
        Serve(p.revents, false);
    }
}

// ---- Connecting ------------------------------------------------------------------------------

// getaddrinfo has no time limit of its own; a name lookup runs on its own thread, which is left
// to finish alone when the limit passes first.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = EAI_AGAIN;
    addrinfo* List = nullptr;
    ~TLookup() {
        if (List) freeaddrinfo(List);
    }
};

std::shared_ptr<TLookup> Resolve(const TNetPortName& name, TDeadline deadline) {
    auto lookup = std::make_shared<TLookup>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    // Address literals need no lookup.
    lookup->Result = getaddrinfo(name.Host.c_str(), name.Port.c_str(), &hints, &lookup->List);
    if (lookup->Result != EAI_NONAME) {
        lookup->Finished = true;
        return lookup;
    }
    hints.ai_flags = AI_NUMERICSERV;
    try {
        std::thread([lookup, hints, host = name.Host, port = name.Port] {
            addrinfo* list = nullptr;
            const int result = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            std::lock_guard lock(lookup->Lock);
            lookup->Result = result;
            lookup->List = list;
            lookup->Finished = true;
            lookup->Done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        lookup->Finished = true;
        lookup->Result = EAI_SYSTEM;
        return lookup;
    }
    std::unique_lock lock(lookup->Lock);
    lookup->Done.wait_until(lock, *deadline, [&] { return lookup->Finished; });
    return lookup;
}

int ConnectOne(const addrinfo& address, TDeadline deadline, int& error) {
    const int fd =
        socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = PollUntil(&p, 1, deadline);
        int soError = 0;
        socklen_t length = sizeof soError;
        if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
            error = r == 0 ? ETIMEDOUT : r < 0 ? errno : soError != 0 ? soError : errno;
            close(fd);
            return -1;
        }
    }
    return fd;
}

void TuneSocket(int fd) {
    const int on = 1;
    // Typed characters go out at once; small writes are what a terminal makes.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof kKeepAliveIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveCount, sizeof kKeepAliveCount);
}

} // namespace

bool IsNetworkPortName(std::string_view name) {
    return StartsWithNoCase(name, kRfc2217Scheme) || StartsWithNoCase(name, kTcpScheme);
}

std::optional<TNetPortName> ParseNetPortName(std::string_view name) {
    TNetPortName result;
    if (StartsWithNoCase(name, kRfc2217Scheme)) {
        result.Rfc2217 = true;
        name.remove_prefix(kRfc2217Scheme.size());
    } else if (StartsWithNoCase(name, kTcpScheme)) {
        name.remove_prefix(kTcpScheme.size());
    } else {
        return std::nullopt;
    }
    std::string_view host, port;
    if (!name.empty() && name.front() == '[') { // [IPv6 literal]:port
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':')
            return std::nullopt;
        host = name.substr(1, close - 1);
        port = name.substr(close + 2);
    } else {
        const std::size_t colon = name.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = name.substr(0, colon);
        port = name.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) return std::nullopt; // IPv6 needs brackets
    }
    if (host.empty() || port.empty() || port.size() > 5) return std::nullopt;
    unsigned number = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + unsigned(c - '0');
    }
    if (number < 1 || number > 65535) return std::nullopt;
    result.Host = std::string(host);
    result.Port = std::string(port);
    return result;
}

std::unique_ptr<TCommDevice> OpenNetworkPort(std::string_view name) {
    const std::optional<TNetPortName> parsed = ParseNetPortName(name);
    if (!parsed) {
        SetLastError(EINVAL);
        return nullptr;
    }
    const TDeadline deadline = After(kNetConnectLimitMs);
    const std::shared_ptr<TLookup> lookup = Resolve(*parsed, deadline);
    int fd = -1;
    {
        std::lock_guard lock(lookup->Lock);
        if (!lookup->Finished || lookup->Result != 0) {
            SetLastError(!lookup->Finished ? ETIMEDOUT : lookup->Result == EAI_SYSTEM ? errno : EHOSTUNREACH);
            return nullptr;
        }
        int error = EHOSTUNREACH;
        for (const addrinfo* a = lookup->List; a && fd < 0 && !Passed(deadline); a = a->ai_next)
            fd = ConnectOne(*a, deadline, error);
        if (fd < 0) {
            SetLastError(Passed(deadline) ? ETIMEDOUT : error);
            return nullptr;
        }
    }
    TuneSocket(fd);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int dataFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int replyFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || dataFd < 0 || replyFd < 0) {
        const int error = errno;
        for (int f : {fd, wakeFd, dataFd, replyFd})
            if (f >= 0) close(f);
        SetLastError(error);
        return nullptr;
    }
    auto device = std::make_unique<TNetCommDevice>(fd, wakeFd, dataFd, replyFd, parsed->Rfc2217);
    if (parsed->Rfc2217 && !device->Negotiate(deadline)) {
        const int error = GetLastError();
        device.reset();
        SetLastError(error);
        return nullptr;
    }
    return device;
}

} // namespace qorvel::platform
