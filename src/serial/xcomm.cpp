// The lifecycle of TCustomComm: construction, open and close, pushing settings to the open
// device and the notifications.
#include "serial/xcomm.h"

#include "serial/event_thread.h"

#include "platform/mainthread.h"

#include <chrono>
#include <thread>

namespace qorvel {

namespace {

// Pending output that has not moved for this long is held back for good (CTS low, XOFF).
constexpr auto kOutputStall = std::chrono::milliseconds(250);
constexpr auto kOutputPoll = std::chrono::milliseconds(10);

// Closing a port waits up to 30 s for held-back output to drain, which freezes the caller.
// Output that stops moving could not be delivered anyway: discard it so the close is quick.
void DiscardStalledOutput(platform::TCommDevice& Device) {
    using TClock = std::chrono::steady_clock;
    platform::COMSTAT stat{};
    if (!Device.ClearCommError(nullptr, &stat)) return;
    std::uint32_t pending = stat.cbOutQue;
    auto moved = TClock::now();
    while (stat.cbOutQue > 0) {
        if (stat.cbOutQue < pending) {
            pending = stat.cbOutQue;
            moved = TClock::now();
        } else if (TClock::now() - moved >= kOutputStall) {
            Device.PurgeComm(platform::PURGE_TXABORT | platform::PURGE_TXCLEAR);
            return;
        }
        std::this_thread::sleep_for(kOutputPoll);
        if (!Device.ClearCommError(nullptr, &stat)) return;
    }
}

} // namespace

// ---- TCustomComm: construction and lifecycle -------------------------------------------------

TCustomComm::TCustomComm(platform::TCommApi& Api) : FApi(Api) {}

TCustomComm::~TCustomComm() {
    FDestroying.store(true);
    if (Opened()) {
        FEventThread.reset();
        DiscardStalledOutput(*FHandle);
        FHandle.reset();
    }
}

std::uint8_t TCustomComm::GetLockState() {
    return Opened() ? FLockFlags.load() : kLockSend | kLockRead;
}

bool TCustomComm::OpenDevice() {
    if (Opened()) RaiseDeviceError(sDeviceAlreadyOpened, kErrAlreadyOpened);
    FLockFlags.store(0);
    std::unique_ptr<platform::TCommDevice> device = FApi.CreateFile(FDeviceName);
    if (!device) RaiseDeviceError(FormatCannotOpen(FDeviceName), kErrCannotOpen);
    FHandle = std::move(device);
    FEventLoopFailed.store(false);
    try {
        FEventThread = std::make_unique<TCommEventThread>(this);
        UpdateDCB();
        UpdateBuffers();
        UpdateTimeouts();
    } catch (...) {
        // The caller sees a failed open, so leave nothing open behind it.
        FEventThread.reset();
        FHandle.reset();
        throw;
    }
    return true;
}

void TCustomComm::CloseDevice() {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    FEventThread.reset();
    DiscardStalledOutput(*FHandle);
    FHandle.reset();
}

// ---- Pushing settings ------------------------------------------------------------------------

bool TCustomComm::UpdateDCB() {
    const platform::DCB dcb = BuildDCB();
    if (!FHandle || !FHandle->SetCommState(dcb)) RaiseDeviceError(sUpdateDCBFailed, kErrUpdateDCB);
    return true;
}

bool TCustomComm::UpdateBuffers() {
    using namespace platform;
    if (FHandle) FHandle->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!FHandle || !FHandle->SetupComm(FBuffers.FInputSize, FBuffers.FOutputSize))
        RaiseDeviceError(sUpdateBuffersFailed, kErrUpdateBuffers);
    return true;
}

bool TCustomComm::UpdateTimeouts() {
    if (!FHandle || !FHandle->SetCommTimeouts(FTimeouts.Stored()))
        RaiseDeviceError(sUpdateTimeoutsFailed, kErrUpdateTimeouts);
    return true;
}

// ---- Notifications ---------------------------------------------------------------------------

void TCustomComm::HandleEvents(TDeviceEvents Events) {
    if (!Opened() || FDestroying.load()) return;
    DoCommEvent(Events);
}

void TCustomComm::DoCommEvent(TDeviceEvents Events) {
    if (Events.Contains(TDeviceEvent::deChar) || Events.Contains(TDeviceEvent::deFlag))
        DoData(InQueueCount());
    const TDeviceEvents shown = Events * MonitorEvents();
    if (FOnCommEvent && !shown.Empty()) FOnCommEvent(this, shown);
}

void TCustomComm::DoData(std::uint32_t Received) {
    if (FOnData) FOnData(this, Received);
}

void TCustomComm::EventLoopEnded(const std::string& Reason) {
    FEventLoopFailed.store(true, std::memory_order_release);
    platform::NotifyMainThreadWaiters(); // a main thread waiting on the flag re-tests it
    if (FOnEventLoopFailed) FOnEventLoopFailed(this, Reason);
}

} // namespace qorvel
