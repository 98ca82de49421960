// The lifecycle of TCustomComm: construction, open and close, pushing settings to the open
// device and the notifications.
#include "serial/xcomm.h"

#include "serial/event_thread.h"

#include "platform/mainthread.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qorvel {

namespace {

// Pending output that has not moved for this long is held back for good (CTS low, XOFF).
constexpr auto kOutputStall = std::chrono::milliseconds(250);
constexpr auto kOutputPoll = std::chrono::milliseconds(10);
// However slowly it moves, output never holds a close longer than this: the window waits for it.
constexpr auto kCloseDrainLimit = std::chrono::seconds(2);

// The time `Bytes` take on the line at the device's speed and format; unknown speeds count as none.
std::chrono::milliseconds LineTime(platform::TCommDevice& Device, std::uint32_t Bytes) {
    platform::DCB dcb{};
    if (!Device.GetCommState(dcb) || dcb.BaudRate == 0) return {};
    const std::uint64_t frameBits = 1 + std::uint64_t(dcb.ByteSize) + (dcb.Parity != platform::NOPARITY) +
                                    (dcb.StopBits == platform::ONESTOPBIT ? 1 : 2);
    return std::chrono::milliseconds(std::uint64_t(Bytes) * frameBits * 1000 / dcb.BaudRate);
}

// Output still moving is left to drain for as long as it needs at the line's speed (plus the
// stall time as slack), at most kCloseDrainLimit; whatever is left then, or stops moving, is
// discarded, so the close that follows does not wait in the kernel either.
void DrainOutputForClose(platform::TCommDevice& Device) {
    using TClock = std::chrono::steady_clock;
    platform::COMSTAT stat{};
    if (!Device.ClearCommError(nullptr, &stat) || stat.cbOutQue == 0) return;
    const auto start = TClock::now();
    const auto deadline =
        start + std::min<TClock::duration>(kCloseDrainLimit, LineTime(Device, stat.cbOutQue) + kOutputStall);
    std::uint32_t pending = stat.cbOutQue;
    auto moved = start;
    while (stat.cbOutQue > 0) {
        const auto now = TClock::now();
        if (stat.cbOutQue < pending) {
            pending = stat.cbOutQue;
            moved = now;
        }
        if (now - moved >= kOutputStall || now >= deadline) {
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
        DrainOutputForClose(*FHandle);
        FHandle.reset();
    }
}

std::uint8_t TCustomComm::GetLockState() {
    return Opened() ? FLockFlags.load() : kLockSend | kLockRead;
}

bool TCustomComm::OpenDevice() {
    if (Opened()) RaiseDeviceError(sDeviceAlreadyOpened, kErrAlreadyOpened);
    FLockFlags.store(0);
    ResetCounters();
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
    // Ending the event thread runs the batches it already handed over; a handler among them that
    // closes the port finds this close under way and leaves the rest to it.
    if (FClosing) return;
    FClosing = true;
    struct TClosingDone {
        bool& Flag;
        ~TClosingDone() { Flag = false; }
    } done{FClosing};
    FEventThread.reset();
    DrainOutputForClose(*FHandle);
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
