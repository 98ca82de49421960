#pragma once
// The thread that waits for device events while a serial component is open and hands each
// batch to the component, on the main thread when the component's Synchronize is true.
//
// With Synchronize the hand-over does not wait: the thread queues the batch for the main thread
// and goes straight back to the device, whose input queue keeps filling from the line while the
// main thread handles the previous batch. Received bytes stay in the device's queue, in order,
// until the main thread reads them; a full queue stops the reading, so nothing is dropped and
// memory stays bounded. Batches reach the main thread in order; data-only batches that are still
// waiting merge into one (the handler reads every byte queued by then).
#include "platform/commapi.h"
#include "platform/mainthread.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

namespace qorvel {

class TCustomComm;

class TCommEventThread : public platform::TThread {
public:
    // Every event from EV_RXCHAR to EV_EVENT2 except EV_TXEMPTY; it does not follow MonitorEvents.
    static constexpr std::uint32_t kEventMask = 0x1FFB;

    // Sets the device's event mask and starts the thread.
    explicit TCommEventThread(TCustomComm* Comm);
    // Signals StopEvent and waits for the thread, running any batch it handed to the main thread.
    ~TCommEventThread() override;

    // Passes EventMask to the component.
    void DispatchEvents();

protected:
    void Execute() override;

private:
    // What the event thread and the main thread share; a batch queued for the main thread holds
    // it and nothing else, so a batch that runs after the thread object is gone finds it closed
    // and does nothing. Comm and Stop are used only while it is not closed.
    struct THandOver {
        TCustomComm* Comm = nullptr;
        platform::TStopEvent* Stop = nullptr;
        std::mutex Lock;
        std::deque<std::uint32_t> Masks; // batches not yet run, oldest first
        bool Queued = false;             // a main-thread call is on its way for them
        bool Closed = false;
        bool Failed = false; // a handler raised: no further batch runs
        std::string Reason;
    };

    void HandOver(std::uint32_t Mask);
    static void RunHandedOver(const std::shared_ptr<THandOver>& H);
    static void Dispatch(TCustomComm* Comm, std::uint32_t Mask);

    TCustomComm* Comm;
    platform::TStopEvent StopEvent;
    std::uint32_t EventMask = 0;
    std::shared_ptr<THandOver> FHandOver = std::make_shared<THandOver>();
};

} // namespace qorvel
