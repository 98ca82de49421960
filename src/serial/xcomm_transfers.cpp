// The transfers of TCustomComm: queue counts, chunked sends and reads.
#include "serial/xcomm.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace qorvel {

namespace {

// The system millisecond tick counter; differences are taken modulo 2^32.
std::uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Clears a lock bit when the notification that set it ends, also by an exception.
class TLockScope {
public:
    TLockScope(std::atomic<std::uint8_t>& Flags, std::uint8_t Bit) : FFlags(Flags), FBit(Bit) {
        FFlags.fetch_or(FBit);
    }
    ~TLockScope() { FFlags.fetch_and(static_cast<std::uint8_t>(~FBit)); }
    TLockScope(const TLockScope&) = delete;
    TLockScope& operator=(const TLockScope&) = delete;

private:
    std::atomic<std::uint8_t>& FFlags;
    std::uint8_t FBit;
};

// A device that reports it is ready but then takes or gives nothing would turn the wait
// into a busy loop; a short sleep keeps such a pass from using a processor.
void IdleBackoff(bool ReadyButIdle) {
    if (ReadyButIdle) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// ---- Transfers -------------------------------------------------------------------------------

std::uint32_t TCustomComm::InQueueCount() {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    platform::COMSTAT stat{};
    std::uint32_t errors = 0;
    // Also clears a pending line error, so the driver goes on after one.
    FHandle->ClearCommError(&errors, &stat);
    return stat.cbInQue;
}

std::uint32_t TCustomComm::OutQueueCount() {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    platform::COMSTAT stat{};
    std::uint32_t errors = 0;
    FHandle->ClearCommError(&errors, &stat);
    return stat.cbOutQue;
}

std::uint32_t TCustomComm::ChunkWrite(const std::uint8_t* Position, std::uint32_t Count,
                                      std::uint32_t LimitMs) {
    std::uint32_t written = 0;
    if (!FHandle->WriteFile(Position, Count, written, LimitMs)) RaiseLastDeviceError(sWriteFailed, kErrWrite);
    return written;
}

std::uint32_t TCustomComm::ChunkRead(std::uint8_t* Position, std::uint32_t Count, std::uint32_t LimitMs) {
    std::uint32_t read = 0;
    if (!FHandle->ReadFile(Position, Count, read, LimitMs)) RaiseLastDeviceError(sReadFailed, kErrRead);
    return read;
}

std::uint32_t TCustomComm::SendData(const void* Buffer, std::uint32_t Count, std::uint32_t Timeout) {
    std::uint32_t result = 0;
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    if (GetLockState() & kLockSend) RaiseDeviceError(sSendLocked, kErrSendLocked);
    if (Count == 0) return 0;
    const std::uint32_t start = TickCount();
    const auto* position = static_cast<const std::uint8_t*>(Buffer);
    bool readyButIdle = false;
    while (Count > 0) {
        const std::uint32_t elapsed = TickCount() - start;
        // The room may wrap to a huge value when the queue holds more than OutputSize; the
        // chunk is capped at Count anyway.
        const std::uint32_t room = static_cast<std::uint32_t>(FBuffers.FOutputSize) - OutQueueCount();
        if (room > 0) {
            const std::uint32_t chunk = std::min(room, Count);
            // Bounded by the call's own limit, so a chunk ends even with write time-outs of 0.
            const std::uint32_t written =
                ChunkWrite(position, chunk, elapsed < Timeout ? Timeout - elapsed : 0);
            HandleEvents(TDeviceEvents{TDeviceEvent::deOutEmpty});
            if (written > 0) {
                result += written;
                FBytesSent += written;
                Count -= written;
                position += written;
                readyButIdle = false;
                TLockScope lock(FLockFlags, kLockSend);
                if (FOnSend) FOnSend(this);
                continue;
            }
        }
        const std::uint32_t waited = TickCount() - start;
        if (waited > Timeout) break;
        IdleBackoff(readyButIdle);
        // Sleep in the system until the device takes more output or the limit has passed.
        const platform::TWaitResult r = FHandle->WaitForOutputRoom(Timeout - waited + 1);
        if (r == platform::TWaitResult::wrFailed) RaiseLastDeviceError(sWriteFailed, kErrWrite);
        readyButIdle = r == platform::TWaitResult::wrReady;
    }
    return result;
}

std::uint32_t TCustomComm::SendData(const void* Buffer, std::uint32_t Count) {
    return SendData(Buffer, Count, FBuffers.FOutputTimeout);
}

bool TCustomComm::SendByte(std::uint8_t Value) {
    return SendData(&Value, 1) == 1;
}

bool TCustomComm::SendString(std::string_view S) {
    return SendData(S.data(), static_cast<std::uint32_t>(S.size())) == S.size();
}

std::uint32_t TCustomComm::ReadData(void* Buffer, std::uint32_t Count, std::uint32_t Timeout) {
    std::uint32_t result = 0;
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    if (GetLockState() & kLockRead) RaiseDeviceError(sReadLocked, kErrReadLocked);
    if (Count == 0) return 0;
    const std::uint32_t start = TickCount();
    auto* position = static_cast<std::uint8_t*>(Buffer);
    bool readyButIdle = false;
    while (Count > 0) {
        const std::uint32_t avail = InQueueCount();
        if (avail > 0) {
            const std::uint32_t elapsed = TickCount() - start;
            const std::uint32_t read =
                ChunkRead(position, std::min(avail, Count), elapsed < Timeout ? Timeout - elapsed : 0);
            result += read;
            FBytesReceived += read;
            Count -= read;
            position += read;
            if (read > 0) {
                readyButIdle = false;
                TLockScope lock(FLockFlags, kLockRead);
                if (FOnRead) FOnRead(this);
                continue;
            }
        }
        const std::uint32_t waited = TickCount() - start;
        if (waited > Timeout) break;
        IdleBackoff(readyButIdle);
        // Sleep in the system until bytes arrive or the limit has passed.
        const platform::TWaitResult r = FHandle->WaitForInput(Timeout - waited + 1);
        if (r == platform::TWaitResult::wrFailed) RaiseLastDeviceError(sReadFailed, kErrRead);
        readyButIdle = r == platform::TWaitResult::wrReady;
    }
    return result;
}

std::uint32_t TCustomComm::ReadData(void* Buffer, std::uint32_t Count) {
    return ReadData(Buffer, Count, FBuffers.FInputTimeout);
}

} // namespace qorvel
