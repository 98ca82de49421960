#include "serial/event_thread.h"

#include "serial/xcomm.h"

#include <exception>
#include <string>
#include <thread>

namespace qorvel {

TCommEventThread::TCommEventThread(TCustomComm* Comm) : Comm(Comm) {
    // Without its stop signal the thread could never be ended: fail the open instead.
    if (!StopEvent.Valid()) RaiseLastDeviceError(sStopSignalFailed, kErrStopSignal);
    // A refused mask shows up as a failed wait, which ends the loop.
    Comm->Handle()->SetCommMask(kEventMask);
    Start();
}

TCommEventThread::~TCommEventThread() {
    StopEvent.SetEvent();
    std::this_thread::yield();
    WaitFor();
}

void TCommEventThread::DispatchEvents() {
    if (EventMask != 0 && Comm)
        Comm->HandleEvents(TDeviceEvents::FromMask(static_cast<std::uint16_t>(EventMask & 0xFFFF)));
}

void TCommEventThread::Execute() {
    platform::TCommDevice* device = Comm->Handle();
    bool failed = false;
    std::string reason;
    try {
        for (;;) {
            EventMask = 0;
            const platform::TWaitResult result = device->WaitCommEvent(EventMask, &StopEvent);
            // The stop signal wins over events that came at the same time.
            if (result == platform::TWaitResult::wrStopped || StopEvent.IsSet()) break;
            if (result == platform::TWaitResult::wrFailed) {
                failed = true;
                reason = platform::SystemErrorText(platform::GetLastError());
                break;
            }
            if (result != platform::TWaitResult::wrReady || EventMask == 0) continue;
            if (Comm->Synchronize())
                Synchronize([this] { DispatchEvents(); });
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
    if (failed && !StopEvent.IsSet()) Comm->EventLoopEnded(reason);
}

} // namespace qorvel
