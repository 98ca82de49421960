#include "platform/comm_net.h"

#include "platform/device_wait.h"
#include "platform/telnet_comport.h"

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <resolv.h>
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
// Socket bytes one call reads at most: commands fill no queue, so a flood of them would otherwise
// keep a call (and the device's lock) for as long as it lasts.
constexpr std::size_t kPumpBudget = 4 * kReadChunk;
// Escaped bytes the socket has not taken yet; WriteFile waits while this much is pending.
constexpr std::size_t kOutputLimit = 64 * 1024;
// Answers to the server's requests that it has not read yet. Past this, requests go unanswered;
// a server that goes on asking without room for the answers for kNetAnswerLimitMs (or asked and
// then stopped reading) is broken, and the port is lost.
constexpr std::size_t kAnswerLimit = 4 * 1024;
// A host that stops answering is noticed within about keep-alive idle + count x interval, or,
// while data we sent is unacknowledged, within the user time-out.
constexpr int kKeepAliveIdleS = 10;
constexpr int kKeepAliveIntervalS = 5;
constexpr int kKeepAliveCount = 3;
constexpr unsigned kUserTimeoutMs = 20000;
// How long a first modem-status query waits for a server that has not reported its lines yet.
constexpr std::uint32_t kModemStateWaitMs = 500;

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
    TNetCommDevice(int socket, int wakeFd, int dataFd, int sessionFd, bool rfc2217, TDeadline openDeadline);
    ~TNetCommDevice() override;

    bool Negotiate();

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
    // Through SET-CONTROL, in the data stream's order: bytes written before a break reach the
    // server before it. Raw TCP has no lines (ENOTSUP).
    bool SetCommBreak() override;
    bool ClearCommBreak() override;
    bool EscapeCommFunction(std::uint32_t func) override;
    // From NOTIFY-MODEMSTATE; a server that has sent none is asked once and waited for briefly.
    bool GetCommModemStatus(std::uint32_t& status) override;
    bool GetCommOutputLines(bool& dtr, bool& rts) override;

private:
    // All below with FLock held.
    std::size_t QueueCap() const { return std::max<std::size_t>(kMinInputQueue, FInQueueSize); }
    std::size_t Queued() const { return FInput.Size(); }
    std::size_t OutPending() const { return FOut.size() - FOutHead; }
    bool Suspended() const { return FSession && FSession->Suspended(); }
    bool ComPort() const { return FSession && FSession->ComPort(); }
    // Nothing more can be read until the queue has room: it is full and the socket's next byte is
    // data (on raw TCP every byte is).
    bool InputBlocked() const { return Queued() >= QueueCap() && (!FSession || FHeadIsData); }
    pollfd SocketPoll(bool wantInput) const;
    bool Sleep(std::unique_lock<std::mutex>& lock, pollfd* fds, nfds_t count, TDeadline deadline);
    bool SleepForServer(std::unique_lock<std::mutex>& lock, pollfd* fds, nfds_t count, TDeadline deadline);
    void SignalSession();
    void ClearSession();
    void RoomMade();
    std::size_t AnswersPending();
    bool AwaitServer(std::unique_lock<std::mutex>& lock, bool (telnet::TComPortClient::*owed)() const,
                     std::uint32_t limitMs = kNetAnswerLimitMs);
    bool LineControlReady();
    bool SentControl();
    void Pump();
    void Flush();
    void Serve(short revents);
    void CheckAnswerStall();
    std::size_t TakeQueued(std::uint8_t* to, std::size_t count);
    void MarkGone(int error);
    bool FailGone();

    const int FSocket;
    TEventWait FWait;   // under FLock; woken for a mask change, events or output from other threads
    TInputQueue FInput; // under FLock
    // Wakes a wait for the server (answers, a resume) when another call read the socket or took
    // from a full queue, so that the wait may read on.
    const int FSessionFd;
    std::unique_ptr<telnet::TComPortClient> FSession; // null for raw TCP
    // Until then the device is being opened: answers the server does not give in time fail the open.
    const TDeadline FOpenDeadline;

    std::mutex FLock;
    DCB FDcb{};
    COMMTIMEOUTS FTimeouts{};
    std::uint32_t FInQueueSize = 0;
    std::uint32_t FOutQueueSize = 0;
    std::vector<std::uint8_t> FOut; // wire bytes not yet taken by the socket
    std::size_t FOutHead = 0;
    std::uint64_t FWireTaken = 0; // wire bytes the socket has taken since the connection began
    // Where answers lie in the wire stream ([begin, end) in FWireTaken's count), oldest first.
    std::deque<std::pair<std::uint64_t, std::uint64_t>> FAnswerRuns;
    // Answers were dropped, and every read since brought requests that found no room; the port is
    // lost when this passes.
    TDeadline FAnswerStall;
    bool FHeadIsData = false; // the last read found data at the socket's head and no room for it
    bool FHungUp = false;     // poll() reported a hang-up or an error on the socket
    unsigned FSessionWaiters = 0;
    bool FSessionSignalled = false;
    std::atomic<bool> FGone{false};
    int FGoneError = 0;
    std::uint32_t FEvents = 0; // events not yet reported by WaitCommEvent
    std::uint32_t FErrors = 0; // CE_* flags gathered since the last ClearCommError
};

TNetCommDevice::TNetCommDevice(int socket, int wakeFd, int dataFd, int sessionFd, bool rfc2217,
                               TDeadline openDeadline)
    : FSocket(socket), FWait(wakeFd), FInput(dataFd), FSessionFd(sessionFd), FOpenDeadline(openDeadline) {
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
    close(FSessionFd);
}

void TNetCommDevice::MarkGone(int error) {
    if (FGone) return;
    FGoneError = error;
    FGone = true;
    // Waiters that do not watch the socket's input (queue full, output only) must hear it too.
    FWait.Wake();
    SignalFd(FSessionFd);
    FSessionSignalled = true;
}

bool TNetCommDevice::FailGone() {
    SetLastError(FGoneError);
    return false;
}

void TNetCommDevice::SignalSession() {
    if (FSessionWaiters == 0 || FSessionSignalled) return;
    SignalFd(FSessionFd);
    FSessionSignalled = true;
}

void TNetCommDevice::ClearSession() {
    if (!FSessionSignalled || FGone) return;
    ClearFd(FSessionFd);
    FSessionSignalled = false;
}

// The waits may read the socket again.
void TNetCommDevice::RoomMade() {
    FWait.Wake();
    SignalSession();
}

// The socket's entry for poll(): input unless blocked, output while bytes are pending. A hang-up
// is seen only by reading, so while the data before it cannot be taken the socket stays out, or
// poll() would return at once for ever.
pollfd TNetCommDevice::SocketPoll(bool wantInput) const {
    if (InputBlocked() && FHungUp) return {-1, 0, 0};
    return {FSocket, short((wantInput && !InputBlocked() ? POLLIN : 0) | (OutPending() > 0 ? POLLOUT : 0)),
            0};
}

// PollReleased that also returns when the answer stall's limit passes.
bool TNetCommDevice::Sleep(std::unique_lock<std::mutex>& lock, pollfd* fds, nfds_t count,
                           TDeadline deadline) {
    return PollReleased(lock, fds, count, Earlier(deadline, FAnswerStall));
}

// Sleep for a caller that waits for the server and polls FSessionFd among `fds`.
bool TNetCommDevice::SleepForServer(std::unique_lock<std::mutex>& lock, pollfd* fds, nfds_t count,
                                    TDeadline deadline) {
    ++FSessionWaiters;
    const bool ok = Sleep(lock, fds, count, deadline);
    --FSessionWaiters;
    return ok;
}

std::size_t TNetCommDevice::AnswersPending() {
    while (!FAnswerRuns.empty() && FAnswerRuns.front().second <= FWireTaken)
        FAnswerRuns.pop_front();
    std::size_t pending = 0;
    for (const auto& [begin, end] : FAnswerRuns)
        pending += std::size_t(end - std::max(begin, FWireTaken));
    return pending;
}

void TNetCommDevice::CheckAnswerStall() {
    if (Passed(FAnswerStall)) MarkGone(ETIMEDOUT);
}

// Moves what the socket holds through the Telnet layer into our queue, never past the queue's
// cap and at most kPumpBudget socket bytes per call. With the queue full, the commands at the head
// of the stream are still taken (a resume, an answer); data waits in the socket.
void TNetCommDevice::Pump() {
    std::uint8_t chunk[kReadChunk];
    std::size_t start = Queued();
    const std::size_t wireBefore = FOut.size();
    if (FSession) FSession->SetAnswerRoom(kAnswerLimit - std::min(kAnswerLimit, AnswersPending()));
    std::size_t budget = kPumpBudget;
    while (!FGone && budget > 0) {
        const std::size_t room = QueueCap() - std::min(QueueCap(), Queued());
        if (room == 0 && !FSession) break;
        // A full queue: look first, and take only the commands.
        const int peek = room == 0 ? MSG_PEEK : 0;
        const ssize_t n = recv(FSocket, chunk, std::min({room == 0 ? kReadChunk : room, kReadChunk, budget}),
                               MSG_DONTWAIT | peek);
        if (n > 0) {
            std::size_t taken = std::size_t(n);
            FInput.Compact();
            std::vector<std::uint8_t>& bytes = FInput.Bytes();
            if (!FSession) {
                bytes.insert(bytes.end(), chunk, chunk + n);
            } else if (!peek) {
                FSession->Receive(chunk, taken, bytes);
            } else if ((taken = FSession->ReceiveControl(chunk, taken, bytes)) > 0) {
                [[maybe_unused]] const ssize_t dropped = recv(FSocket, chunk, taken, MSG_DONTWAIT);
            }
            if (const auto mark = FSession ? FSession->TakeReceivePurgeMark() : std::nullopt) {
                bytes.erase(bytes.begin() + std::ptrdiff_t(FInput.Head()),
                            bytes.begin() + std::ptrdiff_t(*mark));
                if (Queued() == 0) FInput.Clear();
                start = 0;
            }
            budget -= std::min(budget, taken);
            FHeadIsData = taken < std::size_t(n);
            if (FHeadIsData) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        FHeadIsData = false;
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
        if (FOut.size() > wireBefore) {
            const std::uint64_t begin = FWireTaken + (wireBefore - FOutHead);
            const std::uint64_t end = begin + (FOut.size() - wireBefore);
            if (!FAnswerRuns.empty() && FAnswerRuns.back().second == begin)
                FAnswerRuns.back().second = end;
            else
                FAnswerRuns.emplace_back(begin, end);
        }
        if (!FSession->TakeAnswersDropped()) {
            if (budget < kPumpBudget) FAnswerStall.reset(); // every request read was answered
        } else if (!FAnswerStall) {
            FAnswerStall = After(kNetAnswerLimitMs);
            FWait.Wake(); // a sleeping event wait takes up the stall's limit
        }
        FEvents |= FSession->TakeEvents();
        FErrors |= FSession->TakeErrors();
        if (budget < kPumpBudget) SignalSession();
        Flush(); // negotiation answers
        CheckAnswerStall();
    }
    if (FEvents & FWait.Mask()) FWait.Wake();
}

// Hands pending wire bytes to the socket as far as it takes them.
void TNetCommDevice::Flush() {
    while (OutPending() > 0 && !FGone) {
        const ssize_t n = send(FSocket, FOut.data() + FOutHead, OutPending(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            FOutHead += std::size_t(n);
            FWireTaken += std::uint64_t(n);
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
void TNetCommDevice::Serve(short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) Pump();
    if (revents & (POLLHUP | POLLERR)) FHungUp = true;
    if (revents & POLLOUT) Flush();
    CheckAnswerStall();
}

std::size_t TNetCommDevice::TakeQueued(std::uint8_t* to, std::size_t count) {
    const bool wasFull = Queued() >= QueueCap();
    const std::size_t n = FInput.Take(to, count);
    if (wasFull && n > 0) RoomMade();
    return n;
}

bool TNetCommDevice::Negotiate() {
    std::unique_lock lock(FLock);
    FSession->Start();
    Flush();
    while (!FSession->Negotiated()) {
        if (FGone) return FailGone();
        if (Passed(FOpenDeadline)) {
            SetLastError(ETIMEDOUT);
            return false;
        }
        pollfd p = SocketPoll(true);
        if (!Sleep(lock, &p, 1, FOpenDeadline)) return false;
        Serve(p.revents);
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

// Sends what is pending and waits, at most kNetAnswerLimitMs and while opening no longer than the
// open may take, until the server has answered what `owed` asks about.
bool TNetCommDevice::AwaitServer(std::unique_lock<std::mutex>& lock,
                                 bool (telnet::TComPortClient::*owed)() const, std::uint32_t limitMs) {
    Flush();
    const bool opening = FOpenDeadline && !Passed(FOpenDeadline);
    const TDeadline deadline = Earlier(After(limitMs), opening ? FOpenDeadline : std::nullopt);
    for (;;) {
        ClearSession();
        if (!((*FSession).*owed)()) return true;
        if (FGone) return FailGone();
        if (Passed(deadline)) {
            SetLastError(ETIMEDOUT);
            return false;
        }
        pollfd fds[2] = {SocketPoll(true), {FSessionFd, POLLIN, 0}};
        if (!SleepForServer(lock, fds, 2, deadline)) return false;
        Serve(fds[0].revents);
    }
}

bool TNetCommDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard lock(FLock);
    if (FGone) return FailGone();
    const bool wasFull = Queued() >= QueueCap();
    FInQueueSize = inQueue;
    FOutQueueSize = outQueue;
    if (wasFull && Queued() < QueueCap()) RoomMade();
    return true;
}

bool TNetCommDevice::PurgeComm(std::uint32_t flags) {
    std::unique_lock lock(FLock);
    if (flags & PURGE_RXCLEAR) {
        const bool wasFull = Queued() >= QueueCap();
        FInput.Clear();
        if (wasFull) RoomMade();
    }
    // Our own pending bytes mix data with protocol and are few; the server's buffers are purged,
    // and what it sent before its answer goes too, so nothing older than the call is read later.
    if (ComPort() && (flags & (PURGE_RXCLEAR | PURGE_TXCLEAR))) {
        // A server that still owes the answer to an earlier purge is not waited for again.
        const bool givenUp = FSession->AwaitingPurge();
        FSession->Purge(flags & PURGE_RXCLEAR, flags & PURGE_TXCLEAR);
        if (!givenUp) {
            const bool opening = FOpenDeadline && !Passed(FOpenDeadline);
            if (AwaitServer(lock, &telnet::TComPortClient::AwaitingPurge)) return true;
            // The open goes on after a failed purge; one the server leaves unanswered while the
            // port opens fails the open through the loss.
            if (opening && !FGone) MarkGone(ETIMEDOUT);
            return FGone ? FailGone() : false;
        }
        if (!FGone) Flush();
        return FGone ? FailGone() : true;
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
        Pump();
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
        pollfd fds[3] = {SocketPoll(true), {FWait.WakeFd(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (stop) fds[2].fd = stop->Fd();
        if (!Sleep(lock, fds, 3, std::nullopt)) return FWait.Finish(TWaitResult::wrFailed);
        if (fds[2].revents) return FWait.Finish(TWaitResult::wrStopped);
        if (FWait.MaskChanged()) return FWait.Finish(TWaitResult::wrReady);
        if (fds[1].revents) FWait.ClearWake();
        Serve(fds[0].revents);
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
            Pump();
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
        pollfd fds[2] = {SocketPoll(true), {FInput.DataFd(), POLLIN, 0}};
        if (!Sleep(lock, fds, 2, deadline)) return false;
        Serve(short(fds[0].revents & ~POLLIN)); // input is read at the top of the loop
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
        ClearSession();
        if (FGone) return FailGone();
        Flush();
        // The limit is checked also while the socket keeps taking: escaping and sending a large
        // block takes time of its own.
        while (written < count && OutPending() < kOutputLimit && !Suspended() && !FGone &&
               !Passed(deadline)) {
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
        // Room comes with the socket taking bytes, or with the server's resume, which another call
        // may read.
        const bool suspended = Suspended();
        pollfd fds[2] = {SocketPoll(suspended), {suspended ? FSessionFd : -1, POLLIN, 0}};
        if (!(suspended ? SleepForServer(lock, fds, 2, deadline) : Sleep(lock, fds, 2, deadline)))
            return false;
        Serve(fds[0].revents);
    }
    // The event wait goes on sending what the socket has not taken yet.
    if (OutPending() > 0) FWait.Wake();
    return true;
}

TWaitResult TNetCommDevice::WaitForInput(std::uint32_t timeoutMs) {
    const TDeadline deadline = timeoutMs == INFINITE ? std::nullopt : After(timeoutMs);
    std::unique_lock lock(FLock);
    for (;;) {
        if (Queued() == 0 && !FGone) Pump();
        if (Queued() > 0) return TWaitResult::wrReady;
        if (FGone) {
            SetLastError(FGoneError);
            return TWaitResult::wrFailed;
        }
        if (Passed(deadline)) return TWaitResult::wrTimeout;
        pollfd fds[2] = {SocketPoll(true), {FInput.DataFd(), POLLIN, 0}};
        if (!Sleep(lock, fds, 2, deadline)) return TWaitResult::wrFailed;
        Serve(short(fds[0].revents & ~POLLIN));
    }
}

TWaitResult TNetCommDevice::WaitForOutputRoom(std::uint32_t timeoutMs) {
    const TDeadline deadline = timeoutMs == INFINITE ? std::nullopt : After(timeoutMs);
    std::unique_lock lock(FLock);
    for (;;) {
        ClearSession();
        if (!FGone) Flush();
        if (FGone) {
            SetLastError(FGoneError);
            return TWaitResult::wrFailed;
        }
        if (OutPending() < kOutputLimit && !Suspended()) return TWaitResult::wrReady;
        if (Passed(deadline)) return TWaitResult::wrTimeout;
        const bool suspended = Suspended();
        pollfd fds[2] = {SocketPoll(suspended), {suspended ? FSessionFd : -1, POLLIN, 0}};
        if (!(suspended ? SleepForServer(lock, fds, 2, deadline) : Sleep(lock, fds, 2, deadline)))
            return TWaitResult::wrFailed;
        Serve(fds[0].revents);
    }
}

// ---- Connecting ------------------------------------------------------------------------------

// getaddrinfo has no time limit of its own; a name lookup runs on its own thread, which is left
// to finish alone when the limit passes first. The resolver's own limits are kept short there,
// so that such a thread (and its socket) ends about when the open gives up.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = EAI_AGAIN;
    int Error = 0; // errno of the looking-up thread, for EAI_SYSTEM
    addrinfo* List = nullptr;
    ~TLookup() {
        if (List) freeaddrinfo(List);
    }
};

constexpr int kResolverTryS = 1; // per query and name server
constexpr int kResolverTries = 1;

std::shared_ptr<TLookup> Resolve(const TNetPortName& name, TDeadline deadline) {
    auto lookup = std::make_shared<TLookup>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    // Address literals need no lookup.
    lookup->Result = getaddrinfo(name.Host.c_str(), name.Port.c_str(), &hints, &lookup->List);
    if (lookup->Result != EAI_NONAME) {
        lookup->Error = errno;
        lookup->Finished = true;
        return lookup;
    }
    hints.ai_flags = AI_NUMERICSERV;
    try {
        std::thread([lookup, hints, host = name.Host, port = name.Port] {
            if (res_init() == 0) { // this thread's resolver state
                _res.retrans = kResolverTryS;
                _res.retry = kResolverTries;
            }
            addrinfo* list = nullptr;
            const int result = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            const int error = errno;
            std::lock_guard lock(lookup->Lock);
            lookup->Result = result;
            lookup->Error = error;
            lookup->List = list;
            lookup->Finished = true;
            lookup->Done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        lookup->Finished = true;
        lookup->Result = EAI_SYSTEM;
        lookup->Error = e.code().value();
        return lookup;
    }
    std::unique_lock lock(lookup->Lock);
    lookup->Done.wait_until(lock, *deadline, [&] { return lookup->Finished; });
    return lookup;
}

// Sets the last error for a lookup that gave no address.
void SetLookupError(const TLookup& lookup, const std::string& host) {
    if (!lookup.Finished)
        SetLastError(ETIMEDOUT);
    else if (lookup.Result == EAI_SYSTEM)
        SetLastError(lookup.Error);
    else if (lookup.Result == EAI_MEMORY)
        SetLastError(ENOMEM);
    else
        SetLastError(EHOSTUNREACH, "Unknown host " + host); // the window shows the text, not the number
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
    // Keep-alive probes wait while sent data is unacknowledged; this bounds that case too.
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
}

// ---- Line control (lock held in the helpers) ---------------------------------------------------

bool TNetCommDevice::LineControlReady() {
    if (FGone) return FailGone();
    if (!ComPort()) {
        SetLastError(ENOTSUP);
        return false;
    }
    return true;
}

bool TNetCommDevice::SentControl() {
    Flush();
    return FGone ? FailGone() : true;
}

bool TNetCommDevice::SetCommBreak() {
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    FSession->SetBreak(true);
    return SentControl();
}

bool TNetCommDevice::ClearCommBreak() {
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    FSession->SetBreak(false);
    return SentControl();
}

bool TNetCommDevice::EscapeCommFunction(std::uint32_t func) {
    if (func < SETRTS || func > CLRDTR) {
        SetLastError(EINVAL);
        return false;
    }
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    if (func == SETDTR || func == CLRDTR)
        FSession->SetDtr(func == SETDTR);
    else
        FSession->SetRts(func == SETRTS);
    return SentControl();
}

bool TNetCommDevice::GetCommModemStatus(std::uint32_t& status) {
    status = 0;
    std::unique_lock lock(FLock);
    if (!LineControlReady()) return false;
    if (!FSession->ModemState() && !FSession->AwaitingModemState()) {
        FSession->AskModemState();
        if (!AwaitServer(lock, &telnet::TComPortClient::AwaitingModemState, kModemStateWaitMs) && FGone)
            return false;
    }
    const std::optional<std::uint8_t> state = FSession->ModemState();
    if (!state) { // the server keeps its lines to itself
        SetLastError(ENOTSUP);
        return false;
    }
    if (*state & telnet::kModemCts) status |= MS_CTS_ON;
    if (*state & telnet::kModemDsr) status |= MS_DSR_ON;
    if (*state & telnet::kModemRi) status |= MS_RING_ON;
    if (*state & telnet::kModemCd) status |= MS_RLSD_ON;
    return true;
}

bool TNetCommDevice::GetCommOutputLines(bool& dtr, bool& rts) {
    dtr = rts = false;
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    dtr = FSession->Dtr();
    rts = FSession->Rts();
    return true;
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
            SetLookupError(*lookup, parsed->Host);
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
    const int sessionFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || dataFd < 0 || sessionFd < 0) {
        const int error = errno;
        for (int f : {fd, wakeFd, dataFd, sessionFd})
            if (f >= 0) close(f);
        SetLastError(error);
        return nullptr;
    }
    auto device = std::make_unique<TNetCommDevice>(fd, wakeFd, dataFd, sessionFd, parsed->Rfc2217, deadline);
    if (parsed->Rfc2217 && !device->Negotiate()) {
        const int error = GetLastError();
        device.reset();
        SetLastError(error);
        return nullptr;
    }
    return device;
}

} // namespace qorvel::platform
