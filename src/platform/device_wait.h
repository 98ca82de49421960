#pragma once
// Deadlines, poll(), eventfd signalling and the Win32 reading of time-out records, shared by the
// device implementations that sleep in the system (never spin) until a descriptor is ready or a
// call's time limit has passed.
#include "platform/commapi.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <poll.h>
#include <unistd.h>

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
            SignalFd(FWakeFd);
        }
    }

    void Wake() {
        if (FWaiting) SignalFd(FWakeFd);
    }

    // Starts a wait; false, with EINVAL set, while the mask is empty.
    bool Begin() {
        if (FMask == 0) {
            SetLastError(EINVAL);
            return false;
        }
        ClearFd(FWakeFd);
        FMaskChanged = false;
        FWaiting = true;
        return true;
    }

    TWaitResult Finish(TWaitResult result) {
        FWaiting = false;
        return result;
    }

private:
    const int FWakeFd;
    std::uint32_t FMask = 0;
    bool FWaiting = false;
    bool FMaskChanged = false;
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

} // namespace qorvel::platform::wait
