#include "platform/comm_posix.h"

#include "platform/device_wait.h"
#include "platform/termios2.h"
#include "platform/termios_map.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qorvel::platform {

namespace {

using namespace wait;

constexpr std::size_t kMinInputQueue = 1024 * 1024;
constexpr std::size_t kDrainChunk = 16 * 1024;
// A real line may run slightly off the requested speed; a larger difference is a refusal.
constexpr std::uint32_t kBaudTolerancePercent = 2;
// Input-line changes are looked for this often while the event mask asks for them. TIOCMIWAIT
// would sleep instead, but the serial core does not end it when the descriptor is closed (only a
// signal does), so a thread blocked in it could not be stopped at close.
constexpr std::uint32_t kModemPollMs = 20;
constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
// Longest wait for the transmitter to send what it holds before a break starts.
constexpr auto kBreakSettleLimit = std::chrono::milliseconds(50);

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned m = major(st.st_rdev);
        if (m == 2 || m == 3 || (m >= 128 && m <= 143)) return true;
    }
    unsigned number = 0;
    return ioctl(fd, TIOCGPTN, &number) == 0;
}

// Modem-line ioctls do not exist on pseudo-terminals (ENOTTY) and some adapters; that is not
// a failure of the device.
bool ModemIoctlUnsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

void SetModemLine(int fd, int line, bool on, bool& ok, int& error) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !ModemIoctlUnsupported(errno)) {
        ok = false;
        error = errno;
    }
}

class TPosixCommDevice final : public TCommDevice {
public:
    TPosixCommDevice(int fd, int wakeFd, int dataFd) : FFd(fd), FWait(wakeFd), FInput(dataFd) {}
    ~TPosixCommDevice() override;

    bool Init();

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
    bool SetCommBreak() override;
    bool ClearCommBreak() override;
    bool EscapeCommFunction(std::uint32_t func) override;
    bool GetCommModemStatus(std::uint32_t& status) override;
    bool GetCommOutputLines(bool& dtr, bool& rts) override;

private:
    std::size_t QueueCap() const { return std::max<std::size_t>(kMinInputQueue, FInQueueSize); }
    std::size_t Queued() const { return FInput.Size(); }
    std::size_t KernelQueued() const;
    std::size_t Drain();
    std::size_t TakeQueued(std::uint8_t* to, std::size_t count);
    void MarkGone();
    void UpdateLineState();
    bool LineControlReady();
    bool LineIoctlFailed();
    bool ReadModemLines(int& modem);
    void WaitTransmitterEmpty();

    const int FFd;
    TEventWait FWait; // under FLock; woken for a mask change or freed queue room
    bool FPty = false;
    bool FModemLines = false;
    bool FCounters = false;
    bool FBreak = false;   // output is stopped (TCOOFF) for a break
    bool FBreakOn = false; // TIOCSBRK holds the line

    std::mutex FLock;
    DCB FDcb{};
    COMMTIMEOUTS FTimeouts{};
    std::uint32_t FInQueueSize = 0;
    std::uint32_t FOutQueueSize = 0;
    TInputQueue FInput;
    std::atomic<bool> FGone{false};
    int FModem = 0;
    serial_icounter_struct FCounts{};
    std::uint32_t FErrors = 0;     // CE_* flags gathered since the last ClearCommError
    std::uint32_t FLineEvents = 0; // modem and line events not yet reported by WaitCommEvent
};

TPosixCommDevice::~TPosixCommDevice() {
    // A break left on would hold the line after we are gone.
    if (FBreakOn) ioctl(FFd, TIOCCBRK);
    if (FBreak) tcflow(FFd, TCOON);
    // The exclusive flag outlives our descriptor on a pseudo-terminal whose master stays open.
    ioctl(FFd, TIOCNXCL);
    close(FFd);
    close(FWait.WakeFd());
    close(FInput.DataFd());
}

bool TPosixCommDevice::Init() {
    termios t{};
    if (tcgetattr(FFd, &t) != 0) return false;
    // Raw mode at once: otherwise the line discipline splits and holds data.
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(FFd, TCSANOW, &t) != 0 || tcgetattr(FFd, &t) != 0) return false;
    FPty = IsPseudoTerminal(FFd);
    FModemLines = ioctl(FFd, TIOCMGET, &FModem) == 0;
    FCounters = !FPty && ioctl(FFd, TIOCGICOUNT, &FCounts) == 0;
    std::uint32_t baud = 0;
    GetLineSpeed(FFd, baud);
    DCB opened{};
    opened.DCBlength = kDcbLength;
    opened.fDtrControl = DTR_CONTROL_ENABLE; // opening a tty raises DTR and RTS
    opened.fRtsControl = RTS_CONTROL_ENABLE;
    FDcb = DcbFromTermios(t, baud, opened);
    return true;
}

bool TPosixCommDevice::GetCommState(DCB& dcb) {
    std::lock_guard lock(FLock);
    termios t{};
    if (tcgetattr(FFd, &t) != 0) {
        SetLastError(errno);
        return false;
    }
    std::uint32_t baud = FDcb.BaudRate;
    GetLineSpeed(FFd, baud);
    dcb = DcbFromTermios(t, baud, FDcb);
    return true;
}

bool TPosixCommDevice::SetCommState(const DCB& dcb) {
    std::lock_guard lock(FLock);
    termios old{};
    std::uint32_t oldBaud = 0;
    if (tcgetattr(FFd, &old) != 0 || !GetLineSpeed(FFd, oldBaud)) {
        SetLastError(errno);
        return false;
    }
    termios t = old;
    if (!DcbToTermios(dcb, t)) {
        SetLastError(EINVAL);
        return false;
    }
    // A pseudo-terminal refuses (EINVAL) a format it would have to change when nothing else
    // changes, so it is asked for what it holds.
    if (FPty) PseudoTerminalForm(t);
    const bool custom = StandardSpeed(dcb.BaudRate) == B0;

    const auto restore = [&](int error) {
        tcsetattr(FFd, TCSANOW, &old);
        if (HasCustomSpeed(old)) SetLineSpeed(FFd, oldBaud);
        SetLastError(error);
        return false;
    };
    if (tcsetattr(FFd, TCSANOW, &t) != 0) return restore(errno);
    if (custom && !SetLineSpeed(FFd, dcb.BaudRate)) return restore(errno);
    // tcsetattr succeeds when only some changes took effect: compare what the device holds.
    termios back{};
    std::uint32_t baud = 0;
    if (tcgetattr(FFd, &back) != 0 || !GetLineSpeed(FFd, baud)) return restore(errno);
    const std::uint64_t diff = baud > dcb.BaudRate ? baud - dcb.BaudRate : dcb.BaudRate - baud;
    if ((back.c_cflag & kDcbCflags) != (t.c_cflag & kDcbCflags) ||
        (back.c_iflag & kDcbIflags) != (t.c_iflag & kDcbIflags) || back.c_cc[VSTART] != t.c_cc[VSTART] ||
        back.c_cc[VSTOP] != t.c_cc[VSTOP] || diff * 100 > std::uint64_t(dcb.BaudRate) * kBaudTolerancePercent)
        return restore(EINVAL);
    bool ok = true;
    int error = 0;
    const TModemLines lines = ModemLinesOf(dcb);
    SetModemLine(FFd, TIOCM_DTR, lines.Dtr, ok, error);
    SetModemLine(FFd, TIOCM_RTS, lines.Rts, ok, error);
    if (!ok) return restore(error);
    FDcb = dcb;
    return true;
}

bool TPosixCommDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard lock(FLock);
    if (FGone) {
        SetLastError(EIO);
        return false;
    }
    FInQueueSize = inQueue;
    FOutQueueSize = outQueue;
    return true;
}

bool TPosixCommDevice::PurgeComm(std::uint32_t flags) {
    std::lock_guard lock(FLock);
    bool ok = true;
    if (flags & PURGE_RXCLEAR) {
        const bool wasFull = Queued() >= QueueCap();
        FInput.Clear();
        if (wasFull) FWait.Wake();
        ok = tcflush(FFd, TCIFLUSH) == 0;
    }
    if ((flags & PURGE_TXCLEAR) && tcflush(FFd, TCOFLUSH) != 0) ok = false;
    if (!ok) SetLastError(errno);
    return ok;
}

bool TPosixCommDevice::GetCommProperties(COMMPROP& prop) {
    std::lock_guard lock(FLock);
    prop = SerialPortProperties(FOutQueueSize, FInQueueSize);
    return true;
}

bool TPosixCommDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(FLock);
    timeouts = FTimeouts;
    return true;
}

bool TPosixCommDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(FLock);
    if (FGone) {
        SetLastError(EIO);
        return false;
    }
    FTimeouts = timeouts;
    return true;
}

std::size_t TPosixCommDevice::KernelQueued() const {
    int n = 0;
    return ioctl(FFd, FIONREAD, &n) == 0 && n > 0 ? std::size_t(n) : 0;
}

void TPosixCommDevice::MarkGone() {
    FGone = true;
}

// Moves what the kernel holds into our queue (lock held). Returns the number of bytes moved;
// notices a hang-up (read() == 0 or EIO for ever after the other side closed).
std::size_t TPosixCommDevice::Drain() {
    std::size_t moved = 0;
    std::uint8_t chunk[kDrainChunk];
    while (!FGone && Queued() < QueueCap()) {
        const std::size_t room = std::min(QueueCap() - Queued(), sizeof chunk);
        const ssize_t n = read(FFd, chunk, room);
        if (n > 0) {
            FInput.Compact();
            FInput.Bytes().insert(FInput.Bytes().end(), chunk, chunk + n);
            moved += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) MarkGone();
        break;
    }
    FInput.Signal();
    return moved;
}

std::size_t TPosixCommDevice::TakeQueued(std::uint8_t* to, std::size_t count) {
    const bool wasFull = Queued() >= QueueCap();
    const std::size_t n = FInput.Take(to, count);
    if (wasFull && n > 0) FWait.Wake();
    return n;
}

// Gathers modem-line changes and line-error counters of a real serial device (lock held).
void TPosixCommDevice::UpdateLineState() {
    std::uint32_t& events = FLineEvents;
    if (FModemLines) {
        int modem = 0;
        if (ioctl(FFd, TIOCMGET, &modem) == 0) {
            const int changed = modem ^ FModem;
            if (changed & TIOCM_CTS) events |= EV_CTS;
            if (changed & TIOCM_DSR) events |= EV_DSR;
            if (changed & TIOCM_CD) events |= EV_RLSD;
            if (changed & modem & TIOCM_RI) events |= EV_RING;
            FModem = modem;
        }
    }
    if (FCounters) {
        serial_icounter_struct c{};
        if (ioctl(FFd, TIOCGICOUNT, &c) == 0) {
            if (c.brk != FCounts.brk) {
                events |= EV_BREAK;
                FErrors |= CE_BREAK;
            }
            if (c.frame != FCounts.frame) FErrors |= CE_FRAME;
            if (c.parity != FCounts.parity) FErrors |= CE_RXPARITY;
            if (c.overrun != FCounts.overrun) FErrors |= CE_OVERRUN;
            if (c.buf_overrun != FCounts.buf_overrun) FErrors |= CE_RXOVER;
            if (c.frame != FCounts.frame || c.parity != FCounts.parity || c.overrun != FCounts.overrun ||
                c.buf_overrun != FCounts.buf_overrun)
                events |= EV_ERR;
            FCounts = c;
        }
    }
}

bool TPosixCommDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    std::lock_guard lock(FLock);
    UpdateLineState();
    if (errors) *errors = FErrors;
    FErrors = 0;
    if (stat) {
        *stat = COMSTAT{};
        // The event thread's queue while it holds anything, else the kernel's count: a reader
        // that asks for this many takes the queued bytes first, and reads the line itself only
        // when nothing is queued (ReadFile takes the queue, then the line).
        stat->cbInQue = std::uint32_t(Queued() > 0 ? Queued() : FGone ? 0 : KernelQueued());
        int out = 0;
        if (!FGone && ioctl(FFd, TIOCOUTQ, &out) == 0 && out > 0) stat->cbOutQue = std::uint32_t(out);
    }
    if (FGone) {
        SetLastError(EIO);
        return false;
    }
    return true;
}

bool TPosixCommDevice::SetCommMask(std::uint32_t mask) {
    std::lock_guard lock(FLock);
    FWait.SetMask(mask);
    return true;
}

bool TPosixCommDevice::GetCommMask(std::uint32_t& mask) {
    std::lock_guard lock(FLock);
    mask = FWait.Mask();
    return true;
}

TWaitResult TPosixCommDevice::WaitCommEvent(std::uint32_t& eventMask, const TStopEvent* stop) {
    eventMask = 0;
    std::unique_lock lock(FLock);
    if (!FWait.Begin()) return TWaitResult::wrFailed;
    for (;;) {
        if (FGone) {
            SetLastError(EIO);
            return FWait.Finish(TWaitResult::wrFailed);
        }
        if (const std::uint32_t pending = FLineEvents & FWait.Mask()) {
            FLineEvents &= ~FWait.Mask();
            eventMask = pending;
            return FWait.Finish(TWaitResult::wrReady);
        }
        const bool full = Queued() >= QueueCap();
        pollfd fds[3] = {{FFd, short(full ? 0 : POLLIN), 0}, {FWait.WakeFd(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (stop) fds[2].fd = stop->Fd();
        const bool watchModem = FModemLines && (FWait.Mask() & kModemEvents);
        if (!PollReleased(lock, fds, 3, watchModem ? After(kModemPollMs) : std::nullopt))
            return FWait.Finish(TWaitResult::wrFailed);
        if (fds[2].revents) return FWait.Finish(TWaitResult::wrStopped);
        if (FWait.MaskChanged()) return FWait.Finish(TWaitResult::wrReady);
        if (fds[1].revents) FWait.ClearWake();
        std::uint32_t events = 0;
        if (fds[0].revents) {
            const std::size_t before = Queued();
            if (Drain() > 0) {
                events |= EV_RXCHAR;
                const std::vector<std::uint8_t>& bytes = FInput.Bytes();
                const std::uint8_t* start = bytes.data() + FInput.Head() + before;
                if (std::memchr(start, std::uint8_t(FDcb.EvtChar), bytes.data() + bytes.size() - start))
                    events |= EV_RXFLAG;
            }
            // A hang-up with nothing left to read; with room to spare Drain has seen it already.
            if ((fds[0].revents & (POLLHUP | POLLERR)) && (full || events == 0)) MarkGone();
        }
        UpdateLineState();
        events |= FLineEvents;
        FLineEvents &= ~FWait.Mask();
        events &= FWait.Mask();
        if (events != 0) {
            eventMask = events;
            return FWait.Finish(TWaitResult::wrReady);
        }
    }
}

bool TPosixCommDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t& read,
                                std::uint32_t limitMs) {
    read = 0;
    auto* to = static_cast<std::uint8_t*>(buffer);
    std::unique_lock lock(FLock);
    const TReadPlan plan = PlanRead(FTimeouts, count, limitMs);
    TDeadline interval;

    while (read < count) {
        const std::size_t before = read;
        read += std::uint32_t(TakeQueued(to + read, count - read));
        while (read < count && !FGone) {
            const ssize_t n = ::read(FFd, to + read, count - read);
            if (n > 0) {
                read += std::uint32_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) MarkGone();
            break;
        }
        if (read == count) break;
        if (FGone) {
            if (read > 0) break; // what arrived before the hang-up is delivered; the next call fails
            SetLastError(EIO);
            return false;
        }
        if (plan.Immediate || (plan.FirstByte && read > 0)) break;
        if (plan.IntervalMs != 0 && read > before) interval = After(plan.IntervalMs);
        const TDeadline deadline = Earlier(plan.Total, interval);
        if (Passed(deadline)) break;
        pollfd fds[2] = {{FFd, POLLIN, 0}, {FInput.DataFd(), POLLIN, 0}};
        if (!PollReleased(lock, fds, 2, deadline)) return false;
        if (fds[0].revents & (POLLHUP | POLLERR))
            Drain(); // keeps what is still readable and notices the hang-up
    }
    return true;
}

bool TPosixCommDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t& written,
                                 std::uint32_t limitMs) {
    written = 0;
    const auto* from = static_cast<const std::uint8_t*>(buffer);
    TDeadline deadline;
    {
        std::lock_guard lock(FLock);
        deadline = PlanWrite(FTimeouts, count, limitMs);
    }
    while (written < count) {
        if (FGone) {
            SetLastError(EIO);
            return false;
        }
        const ssize_t n = write(FFd, from + written, count - written);
        if (n > 0) {
            written += std::uint32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            if (error == EIO || error == ENXIO || error == ENODEV) MarkGone();
            SetLastError(error);
            return false;
        }
        if (Passed(deadline)) break;
        pollfd p{FFd, POLLOUT, 0};
        if (PollUntil(&p, 1, deadline) < 0) {
            SetLastError(errno);
            return false;
        }
    }
    return true;
}

TWaitResult TPosixCommDevice::WaitForInput(std::uint32_t timeoutMs) {
    const TDeadline deadline = timeoutMs == INFINITE ? std::nullopt : After(timeoutMs);
    std::unique_lock lock(FLock);
    for (;;) {
        if (Queued() > 0 || (!FGone && KernelQueued() > 0)) return TWaitResult::wrReady;
        if (FGone) {
            SetLastError(EIO);
            return TWaitResult::wrFailed;
        }
        if (Passed(deadline)) return TWaitResult::wrTimeout;
        pollfd fds[2] = {{FFd, POLLIN, 0}, {FInput.DataFd(), POLLIN, 0}};
        if (!PollReleased(lock, fds, 2, deadline)) return TWaitResult::wrFailed;
        if (fds[0].revents & (POLLHUP | POLLERR)) Drain();
    }
}

TWaitResult TPosixCommDevice::WaitForOutputRoom(std::uint32_t timeoutMs) {
    if (FGone) {
        SetLastError(EIO);
        return TWaitResult::wrFailed;
    }
    pollfd p{FFd, POLLOUT, 0};
    const int r = PollUntil(&p, 1, timeoutMs == INFINITE ? std::nullopt : After(timeoutMs));
    if (r < 0) {
        SetLastError(errno);
        return TWaitResult::wrFailed;
    }
    if (p.revents & (POLLHUP | POLLERR)) {
        MarkGone();
        SetLastError(EIO);
        return TWaitResult::wrFailed;
    }
    return r == 0 ? TWaitResult::wrTimeout : TWaitResult::wrReady;
}

// ---- Line control (lock held in the helpers) ---------------------------------------------------

bool TPosixCommDevice::LineControlReady() {
    if (FGone) {
        SetLastError(EIO);
        return false;
    }
    if (!FModemLines) { // a pseudo-terminal: TIOCMGET failed at open
        SetLastError(ENOTSUP);
        return false;
    }
    return true;
}

bool TPosixCommDevice::LineIoctlFailed() {
    SetLastError(ModemIoctlUnsupported(errno) ? ENOTSUP : errno);
    return false;
}

bool TPosixCommDevice::ReadModemLines(int& modem) {
    return LineControlReady() && (ioctl(FFd, TIOCMGET, &modem) == 0 || LineIoctlFailed());
}

// Bytes already in the UART would go out into the break and be lost; those still queued in the
// kernel wait there while output is stopped.
void TPosixCommDevice::WaitTransmitterEmpty() {
    const auto deadline = std::chrono::steady_clock::now() + kBreakSettleLimit;
    unsigned lsr = 0;
    while (ioctl(FFd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT) &&
           std::chrono::steady_clock::now() < deadline)
        usleep(1000);
}

// Output is stopped for the break and started again at its end, so what is queued, and what is
// written meanwhile, goes out after it. The restart also ends a stop from a received XOFF.
bool TPosixCommDevice::SetCommBreak() {
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    if (!FBreak && tcflow(FFd, TCOOFF) == 0) {
        FBreak = true;
        WaitTransmitterEmpty();
    }
    if (ioctl(FFd, TIOCSBRK) == 0) {
        FBreakOn = true;
        return true;
    }
    const int error = errno;
    if (FBreak) tcflow(FFd, TCOON);
    FBreak = false;
    errno = error;
    return LineIoctlFailed();
}

bool TPosixCommDevice::ClearCommBreak() {
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    const bool ok = ioctl(FFd, TIOCCBRK) == 0;
    const int error = errno;
    FBreakOn = FBreakOn && !ok;
    if (FBreak) tcflow(FFd, TCOON);
    FBreak = false;
    errno = error;
    return ok || LineIoctlFailed();
}

bool TPosixCommDevice::EscapeCommFunction(std::uint32_t func) {
    int line = 0;
    switch (func) {
    case SETDTR:
    case CLRDTR: line = TIOCM_DTR; break;
    case SETRTS:
    case CLRRTS: line = TIOCM_RTS; break;
    default: SetLastError(EINVAL); return false;
    }
    std::lock_guard lock(FLock);
    if (!LineControlReady()) return false;
    const bool on = func == SETDTR || func == SETRTS;
    return ioctl(FFd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || LineIoctlFailed();
}

bool TPosixCommDevice::GetCommModemStatus(std::uint32_t& status) {
    status = 0;
    std::lock_guard lock(FLock);
    int modem = 0;
    if (!ReadModemLines(modem)) return false;
    if (modem & TIOCM_CTS) status |= MS_CTS_ON;
    if (modem & TIOCM_DSR) status |= MS_DSR_ON;
    if (modem & TIOCM_RI) status |= MS_RING_ON;
    if (modem & TIOCM_CD) status |= MS_RLSD_ON;
    return true;
}

bool TPosixCommDevice::GetCommOutputLines(bool& dtr, bool& rts) {
    dtr = rts = false;
    std::lock_guard lock(FLock);
    int modem = 0;
    if (!ReadModemLines(modem)) return false;
    dtr = modem & TIOCM_DTR;
    rts = modem & TIOCM_RTS;
    return true;
}

} // namespace

std::unique_ptr<TCommDevice> OpenPosixDevice(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno);
        return nullptr;
    }
    const auto fail = [fd](int error) -> std::unique_ptr<TCommDevice> {
        close(fd);
        SetLastError(error);
        return nullptr;
    };
    if (!isatty(fd)) return fail(ENOTTY);
    // TIOCEXCL keeps other openers out, but root bypasses it; the lock holds for everyone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (ioctl(fd, TIOCEXCL) != 0) return fail(errno);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int dataFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || dataFd < 0) {
        const int error = errno;
        if (wakeFd >= 0) close(wakeFd);
        if (dataFd >= 0) close(dataFd);
        ioctl(fd, TIOCNXCL);
        return fail(error);
    }
    auto device = std::make_unique<TPosixCommDevice>(fd, wakeFd, dataFd);
    if (!device->Init()) {
        const int error = errno;
        device.reset();
        SetLastError(error);
        return nullptr;
    }
    return device;
}

std::unique_ptr<TCommDevice> TPosixCommApi::CreateFile(std::string_view name) {
    return OpenNamedDevice(name);
}

TCommApi& PosixCommApi() {
    static TPosixCommApi api;
    return api;
}

} // namespace qorvel::platform
