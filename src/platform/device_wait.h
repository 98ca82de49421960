#pragma once
// Deadlines, poll(), eventfd signalling and the Win32 reading of time-out records, shared by the
// device implementations that sleep in the system (never spin) until a descriptor is ready or a
// call's time limit has passed.
#include "platform/commapi.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace qorvel::platform::wait {

using TClock = std::chrono::steady_clock;
using TDeadline = std::optional<TClock::time_point>; // empty: no limit

inline TDeadline After(std::uint64_t ms) {
    return TClock::now() + std::chrono::milliseconds(ms);
}

inline TDeadline Earlier(TDeadline a, TDeadline b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

inline bool Passed(TDeadline deadline) {
    return deadline && TClock::now() >= *deadline;
}

// Milliseconds left for poll(): -1 without a deadline, 0 once it has passed.
inline int RemainingMs(TDeadline deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

// poll() that resumes after signals; returns its result with errno kept.
inline int PollUntil(pollfd* fds, nfds_t count, TDeadline deadline) {
    for (;;) {
        const int r = poll(fds, count, RemainingMs(deadline));
        if (r >= 0 || errno != EINTR) return r;
    }
}

// PollUntil with `lock` released for the sleep; false, with the last error set, when poll fails.
template <class TLock> bool PollReleased(TLock& lock, pollfd* fds, nfds_t count, TDeadline deadline) {
    lock.unlock();
    const int r = PollUntil(fds, count, deadline);
    const int error = errno;
    lock.lock();
    if (r < 0) SetLastError(error);
    return r >= 0;
}

// An eventfd used as a level: readable from Signal until Clear.
inline void SignalFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

inline void ClearFd(int fd) {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = read(fd, &value, sizeof value);
}

// WaitCommEvent's side of a device, used under the device's lock: the event mask and the
// eventfd that wakes a wait sleeping in poll() when the mask changes or another call needs it.
class TEventWait {
public:
    explicit TEventWait(int wakeFd) : FWakeFd(wakeFd) {}

    int WakeFd() const { return FWakeFd; }
    std::uint32_t Mask() const { return FMask; }
    bool Waiting() const { return FWaiting; }
    // The mask changed during the wait: it returns with no events so that its caller waits anew.
    bool MaskChanged() const { return FMaskChanged; }

    void SetMask(std::uint32_t mask) {
        FMask = mask;
        if (FWaiting) {
            FMaskChanged = true;
            Signal();
        }
    }

    void Wake() {
        if (FWaiting) Signal();
    }

    // After poll() saw the wake descriptor readable.
    void ClearWake() {
        ClearFd(FWakeFd);
        FSignalled = false;
    }

    // Starts a wait; false, with EINVAL set, while the mask is empty.
    bool Begin() {
        if (FMask == 0) {
            SetLastError(EINVAL);
            return false;
        }
        // Read only when signalled: a wait begins for every batch of a flood.
        if (FSignalled) ClearWake();
        FMaskChanged = false;
        FWaiting = true;
        return true;
    }

    TWaitResult Finish(TWaitResult result) {
        FWaiting = false;
        return result;
    }

private:
    void Signal() {
        SignalFd(FWakeFd);
        FSignalled = true;
    }

    const int FWakeFd;
    bool FSignalled = false;
    std::uint32_t FMask = 0;
    bool FWaiting = false;
    bool FMaskChanged = false;
};

// Received bytes a device holds itself, with an eventfd that is readable exactly while it holds
// any, so that waits can poll for them beside the device's descriptor. Used under the device's lock.
class TInputQueue {
public:
    explicit TInputQueue(int dataFd) : FDataFd(dataFd) {}

    int DataFd() const { return FDataFd; }
    std::size_t Size() const { return FBytes.size() - FHead; }
    // The bytes from Head() on are held; new ones go at the end, then Signal().
    std::vector<std::uint8_t>& Bytes() { return FBytes; }
    std::size_t Head() const { return FHead; }

    // Drops what has been taken once that is at least half of the storage.
    void Compact() {
        if (FHead > 0 && FHead * 2 >= FBytes.size()) {
            FBytes.erase(FBytes.begin(), FBytes.begin() + std::ptrdiff_t(FHead));
            FHead = 0;
        }
    }

    void Signal() {
        if (Size() > 0 && !FSignalled) {
            SignalFd(FDataFd);
            FSignalled = true;
        }
    }

    std::size_t Take(std::uint8_t* to, std::size_t count) {
        const std::size_t n = std::min(count, Size());
        if (n > 0) std::memcpy(to, FBytes.data() + FHead, n);
        FHead += n;
        if (Size() == 0) Clear();
        return n;
    }

    void Clear() {
        FBytes.clear();
        FHead = 0;
        if (FSignalled) {
            ClearFd(FDataFd);
            FSignalled = false;
        }
    }

private:
    const int FDataFd;
    std::vector<std::uint8_t> FBytes;
    std::size_t FHead = 0;
    bool FSignalled = false;
};

// How one ReadFile request is bounded by the time-out record and the caller's own limit.
struct TReadPlan {
    bool Immediate = false;       // return what is waiting, never wait
    bool FirstByte = false;       // return as soon as anything came, waiting at most the total
    TDeadline Total;              // the whole request
    std::uint32_t IntervalMs = 0; // between two bytes, once one has come; 0: no such limit
};

inline TReadPlan PlanRead(const COMMTIMEOUTS& t, std::uint32_t count, std::uint32_t limitMs) {
    TReadPlan plan;
    plan.Immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    // Win32's "return at once with what is there, else wait up to the constant for one byte".
    plan.FirstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                     t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    if (plan.FirstByte)
        plan.Total = After(t.ReadTotalTimeoutConstant);
    else if (!plan.Immediate && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0))
        plan.Total = After(std::uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant);
    if (limitMs != INFINITE) plan.Total = Earlier(plan.Total, After(limitMs));
    if (!plan.Immediate && !plan.FirstByte) plan.IntervalMs = t.ReadIntervalTimeout;
    return plan;
}

// The bound of one WriteFile request: the write time-outs (none when both are 0) and the caller's.
inline TDeadline PlanWrite(const COMMTIMEOUTS& t, std::uint32_t count, std::uint32_t limitMs) {
    TDeadline deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
        deadline = After(std::uint64_t(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant);
    if (limitMs != INFINITE) deadline = Earlier(deadline, After(limitMs));
    return deadline;
}

// What both device kinds report of themselves: an RS-232 port that takes any rate and format.
inline COMMPROP SerialPortProperties(std::uint32_t outQueue, std::uint32_t inQueue) {
    COMMPROP prop{};
    prop.wPacketLength = sizeof(COMMPROP);
    prop.wPacketVersion = 2;
    prop.dwServiceMask = 1;         // SP_SERIALCOMM
    prop.dwMaxBaud = 0x10000000;    // BAUD_USER: any rate
    prop.dwProvSubType = 1;         // PST_RS232
    prop.dwProvCapabilities = 0xFF; // DTR/DSR, RTS/CTS, RLSD, parity check, XON/XOFF, ...
    prop.dwSettableParams = 0x7F;
    prop.dwSettableBaud = 0x10000000;
    prop.wSettableData = 0x000F;       // 5 to 8 data bits
    prop.wSettableStopParity = 0x1F07; // 1, 1.5, 2 stop bits; all five parities
    prop.dwCurrentTxQueue = outQueue;
    prop.dwCurrentRxQueue = inQueue;
    return prop;
}

} // namespace qorvel::platform::wait
