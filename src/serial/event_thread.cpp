#include "serial/event_thread.h"

#include "serial/xcomm.h"

#include <exception>
#include <string>
#include <thread>

namespace qorvel {

namespace {

constexpr std::uint32_t kDataEvents = platform::EV_RXCHAR | platform::EV_RXFLAG;

} // namespace

TCommEventThread::TCommEventThread(TCustomComm* Comm) : Comm(Comm) {
    FHandOver->Comm = Comm;
    FHandOver->Stop = &StopEvent;
    // Without its stop signal the thread could never be ended: fail the open instead.
    if (!StopEvent.Valid()) RaiseLastDeviceError(sStopSignalFailed, kErrStopSignal);
    // A refused mask shows up as a failed wait, which ends the loop.
    Comm->Handle()->SetCommMask(kEventMask);
    Start();
}

TCommEventThread::~TCommEventThread() {
    StopEvent.SetEvent();
    std::this_thread::yield();
    // Serves the main-thread queue meanwhile, so a batch already handed over runs now.
    WaitFor();
    std::lock_guard lock(FHandOver->Lock);
    FHandOver->Closed = true;
}

void TCommEventThread::DispatchEvents() {
    Dispatch(Comm, EventMask);
}

void TCommEventThread::Dispatch(TCustomComm* Comm, std::uint32_t Mask) {
    if (Mask != 0 && Comm)
        Comm->HandleEvents(TDeviceEvents::FromMask(static_cast<std::uint16_t>(Mask & 0xFFFF)));
}

void TCommEventThread::HandOver(std::uint32_t Mask) {
    THandOver& h = *FHandOver;
    std::lock_guard lock(h.Lock);
    if (!h.Masks.empty() && (h.Masks.back() & ~kDataEvents) == 0 && (Mask & ~kDataEvents) == 0)
        h.Masks.back() |= Mask;
    else
        h.Masks.push_back(Mask);
    if (h.Queued) return;
    h.Queued = true;
    platform::Queue([keep = FHandOver] { RunHandedOver(keep); });
}

// Main thread: runs the batches handed over so far, oldest first, then gives the event loop a
// turn (input, repaints) before the ones handed over meanwhile. The thread object may be gone
// (closed before this ran, or by a handler): then only the shared part is touched.
void TCommEventThread::RunHandedOver(const std::shared_ptr<THandOver>& Shared) {
    THandOver& H = *Shared;
    std::size_t left = 0;
    {
        std::lock_guard lock(H.Lock);
        left = H.Masks.size();
    }
    for (; left > 0; --left) {
        std::uint32_t mask = 0;
        {
            std::lock_guard lock(H.Lock);
            if (H.Closed || H.Failed || H.Masks.empty()) {
                H.Masks.clear();
                H.Queued = false;
                return;
            }
            mask = H.Masks.front();
            H.Masks.pop_front();
        }
        std::string reason;
        bool failed = false;
        try {
            Dispatch(H.Comm, mask);
        } catch (const std::exception& e) {
            failed = true;
            reason = e.what();
        } catch (...) {
            failed = true;
        }
        if (failed) {
            std::lock_guard lock(H.Lock);
            H.Failed = true;
            H.Reason = reason;
            H.Masks.clear();
            H.Queued = false;
            // The loop ends as if the handler had raised on the event thread.
            if (!H.Closed) H.Stop->SetEvent();
            return;
        }
    }
    std::lock_guard lock(H.Lock);
    if (H.Closed || H.Failed || H.Masks.empty()) {
        H.Masks.clear();
        H.Queued = false;
        return;
    }
    platform::Queue([Shared] { RunHandedOver(Shared); });
}

void TCommEventThread::Execute() {
    platform::TCommDevice* device = Comm->Handle();
    bool failed = false;
    std::string reason;
    const auto handlerFailed = [&] {
        std::lock_guard lock(FHandOver->Lock);
        if (FHandOver->Failed) reason = FHandOver->Reason;
        return FHandOver->Failed;
    };
    try {
        for (;;) {
            EventMask = 0;
            const platform::TWaitResult result = device->WaitCommEvent(EventMask, &StopEvent);
            if (handlerFailed()) {
                failed = true;
                break;
            }
            // The stop signal wins over events that came at the same time.
            if (result == platform::TWaitResult::wrStopped || StopEvent.IsSet()) break;
            if (result == platform::TWaitResult::wrFailed) {
                failed = true;
                reason = platform::SystemErrorText(platform::GetLastError());
                break;
            }
            if (result != platform::TWaitResult::wrReady || EventMask == 0) continue;
            if (Comm->Synchronize())
                HandOver(EventMask);
            else
                DispatchEvents();
        }
    } catch (const std::exception& e) {
        failed = true;
        reason = e.what();
    } catch (...) {
        failed = true;
    }
    device->SetCommMask(0);
    // A handler that raised on the main thread set the stop signal itself to end the loop.
    if (failed && (!StopEvent.IsSet() || handlerFailed())) Comm->EventLoopEnded(reason);
}

} // namespace qorvel
