#pragma once
// The thread that waits for device events while a serial component is open and hands each
// batch to the component, on the main thread when the component's Synchronize is true.
#include "platform/commapi.h"
#include "platform/mainthread.h"

#include <cstdint>

namespace qorvel {

class TCustomComm;

class TCommEventThread : public platform::TThread {
public:
    // Every event from EV_RXCHAR to EV_EVENT2 except EV_TXEMPTY; it does not follow MonitorEvents.
    static constexpr std::uint32_t kEventMask = 0x1FFB;

    // Sets the device's event mask and starts the thread.
    explicit TCommEventThread(TCustomComm* Comm);
    // Signals StopEvent and waits for the thread, running any batch it hands to the main thread.
    ~TCommEventThread() override;

    // Passes EventMask to the component.
    void DispatchEvents();

protected:
    void Execute() override;

private:
    TCustomComm* Comm;
    platform::TStopEvent StopEvent;
    std::uint32_t EventMask = 0;
};

} // namespace qorvel
