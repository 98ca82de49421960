#include "platform/comm_fake.h"

#include "platform/termios_map.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qorvel::platform {

namespace {

constexpr std::array<const char*, kFakeOpCount> kOpNames = {
    "CreateFile",         "CloseHandle",        "GetCommState",    "SetCommState",    "SetupComm",
    "PurgeComm",          "GetCommProperties",  "GetCommTimeouts", "SetCommTimeouts", "ClearCommError",
    "SetCommMask",        "GetCommMask",        "WaitCommEvent",   "ReadFile",        "WriteFile",
    "WaitForInput",       "WaitForOutputRoom",  "SetCommBreak",    "ClearCommBreak",  "EscapeCommFunction",
    "GetCommModemStatus", "GetCommOutputLines",
};

} // namespace

const char* FakeOpName(TFakeOp op) {
    return kOpNames[std::size_t(op)];
}

struct TFakePort::TState {
    mutable std::mutex Lock;
    mutable std::condition_variable Changed;
    int WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    std::vector<std::string> Calls;
    std::array<int, kFakeOpCount> Counts{};
    std::array<int, kFakeOpCount> FailError{};
    std::array<int, kFakeOpCount> FailTimes{};

    DCB Dcb{};
    bool DeviceStateSet = false;
    DCB DeviceState{};
    COMMTIMEOUTS Timeouts{};
    std::uint32_t Mask = 0;
    std::uint32_t InSize = 0, OutSize = 0;
    bool ReportedSet = false;
    std::uint32_t ReportedRx = 0, ReportedTx = 0;
    std::uint32_t OutQueue = 0;
    std::uint32_t WriteAccept = 0xFFFFFFFFu;

    std::vector<DCB> States;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> QueueSizes;
    std::vector<COMMTIMEOUTS> TimeoutRecords;
    std::vector<std::uint32_t> Purges;
    std::vector<std::uint32_t> Masks;
    std::vector<std::uint32_t> ReadLimits, WriteLimits;

    std::string Input;
    std::string Output;
    std::uint32_t PendingEvents = 0;
    bool MaskChanged = false;
    bool Gone = false;
    bool Open = false;
    int OpenCount = 0;
    bool Waiting = false;

    std::vector<TFakeLineCall> LineCalls;
    bool ModemLines = true;
    bool Break = false;
    bool Dtr = false, Rts = false;
    std::uint32_t ModemInputs = 0;

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(WakeFd, &one, sizeof one);
        Changed.notify_all();
    }

    // Records the call; true when it is to fail (the last error is then set).
    bool Enter(TFakeOp op) {
        const auto i = std::size_t(op);
        Calls.emplace_back(kOpNames[i]);
        ++Counts[i];
        if (FailTimes[i] == 0) return false;
        if (FailTimes[i] > 0) --FailTimes[i];
        SetLastError(FailError[i]);
        return true;
    }
};

TFakePort::TFakePort() : F(std::make_unique<TState>()) {
    F->Dcb.DCBlength = kDcbLength;
    F->Dcb.BaudRate = 9600;
    F->Dcb.fBinary = 1;
    F->Dcb.ByteSize = 8;
}

TFakePort::~TFakePort() {
    close(F->WakeFd);
}

void TFakePort::PushInput(std::string_view bytes) {
    std::lock_guard lock(F->Lock);
    if (bytes.empty()) return;
    F->Input.append(bytes);
    F->PendingEvents |= EV_RXCHAR;
    if (bytes.find(F->Dcb.EvtChar) != std::string_view::npos) F->PendingEvents |= EV_RXFLAG;
    F->Wake();
}

void TFakePort::PushEvents(std::uint32_t events) {
    std::lock_guard lock(F->Lock);
    F->PendingEvents |= events;
    F->Wake();
}

void TFakePort::SetOutQueue(std::uint32_t count) {
    std::lock_guard lock(F->Lock);
    F->OutQueue = count;
    F->Wake();
}

void TFakePort::SetWriteAccept(std::uint32_t bytes) {
    std::lock_guard lock(F->Lock);
    F->WriteAccept = bytes;
    F->Wake();
}

void TFakePort::SetReportedQueues(std::uint32_t rx, std::uint32_t tx) {
    std::lock_guard lock(F->Lock);
    F->ReportedSet = true;
    F->ReportedRx = rx;
    F->ReportedTx = tx;
}

void TFakePort::SetDeviceState(const DCB& dcb) {
    std::lock_guard lock(F->Lock);
    F->DeviceStateSet = true;
    F->DeviceState = dcb;
}

void TFakePort::Fail(TFakeOp op, int error, int times) {
    std::lock_guard lock(F->Lock);
    F->FailError[std::size_t(op)] = error;
    F->FailTimes[std::size_t(op)] = times;
    F->Wake();
}

void TFakePort::ClearFailures() {
    std::lock_guard lock(F->Lock);
    F->FailTimes.fill(0);
}

void TFakePort::HangUp() {
    std::lock_guard lock(F->Lock);
    F->Gone = true;
    F->Wake();
}

void TFakePort::SetModemInputs(std::uint32_t status) {
    std::lock_guard lock(F->Lock);
    const std::uint32_t changed = status ^ F->ModemInputs;
    std::uint32_t events = 0;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    if (changed & status & MS_RING_ON) events |= EV_RING;
    F->ModemInputs = status;
    F->PendingEvents |= events;
    F->Wake();
}

void TFakePort::SetModemLinesSupported(bool supported) {
    std::lock_guard lock(F->Lock);
    F->ModemLines = supported;
}

std::vector<TFakeLineCall> TFakePort::LineCalls() const {
    std::lock_guard lock(F->Lock);
    return F->LineCalls;
}

bool TFakePort::BreakOn() const {
    std::lock_guard lock(F->Lock);
    return F->Break;
}

bool TFakePort::Dtr() const {
    std::lock_guard lock(F->Lock);
    return F->Dtr;
}

bool TFakePort::Rts() const {
    std::lock_guard lock(F->Lock);
    return F->Rts;
}

std::vector<std::string> TFakePort::Calls() const {
    std::lock_guard lock(F->Lock);
    return F->Calls;
}

int TFakePort::CallCount(TFakeOp op) const {
    std::lock_guard lock(F->Lock);
    return F->Counts[std::size_t(op)];
}

std::vector<DCB> TFakePort::States() const {
    std::lock_guard lock(F->Lock);
    return F->States;
}

DCB TFakePort::State() const {
    std::lock_guard lock(F->Lock);
    return F->DeviceStateSet ? F->DeviceState : F->Dcb;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> TFakePort::QueueSizes() const {
    std::lock_guard lock(F->Lock);
    return F->QueueSizes;
}

std::vector<COMMTIMEOUTS> TFakePort::TimeoutRecords() const {
    std::lock_guard lock(F->Lock);
    return F->TimeoutRecords;
}

std::vector<std::uint32_t> TFakePort::Purges() const {
    std::lock_guard lock(F->Lock);
    return F->Purges;
}

std::vector<std::uint32_t> TFakePort::Masks() const {
    std::lock_guard lock(F->Lock);
    return F->Masks;
}

std::vector<std::uint32_t> TFakePort::ReadLimits() const {
    std::lock_guard lock(F->Lock);
    return F->ReadLimits;
}

std::vector<std::uint32_t> TFakePort::WriteLimits() const {
    std::lock_guard lock(F->Lock);
    return F->WriteLimits;
}

std::string TFakePort::Output() const {
    std::lock_guard lock(F->Lock);
    return F->Output;
}

std::size_t TFakePort::InputWaiting() const {
    std::lock_guard lock(F->Lock);
    return F->Input.size();
}

bool TFakePort::IsOpen() const {
    std::lock_guard lock(F->Lock);
    return F->Open;
}

int TFakePort::OpenCount() const {
    std::lock_guard lock(F->Lock);
    return F->OpenCount;
}

bool TFakePort::Waiting() const {
    std::lock_guard lock(F->Lock);
    return F->Waiting;
}

bool TFakePort::WaitUntilWaiting(std::uint32_t limitMs) const {
    std::unique_lock lock(F->Lock);
    return F->Changed.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return F->Waiting; });
}

// ---- the device -------------------------------------------------------------------------------

class TFakeCommDevice final : public TCommDevice {
public:
    explicit TFakeCommDevice(std::shared_ptr<TFakePort> port) : FPort(std::move(port)), F(*FPort->F) {}

    ~TFakeCommDevice() override {
        std::lock_guard lock(F.Lock);
        F.Enter(TFakeOp::foCloseHandle);
        F.Open = false;
        F.Changed.notify_all();
    }

    bool GetCommState(DCB& dcb) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foGetCommState)) return false;
        dcb = F.DeviceStateSet ? F.DeviceState : F.Dcb;
        return true;
    }

    bool SetCommState(const DCB& dcb) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foSetCommState)) return false;
        F.Dcb = dcb;
        F.DeviceStateSet = false;
        F.States.push_back(dcb);
        const TModemLines lines = ModemLinesOf(dcb);
        F.Dtr = lines.Dtr;
        F.Rts = lines.Rts;
        return true;
    }

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foSetupComm)) return false;
        F.InSize = inQueue;
        F.OutSize = outQueue;
        F.QueueSizes.emplace_back(inQueue, outQueue);
        return true;
    }

    bool PurgeComm(std::uint32_t flags) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foPurgeComm)) return false;
        F.Purges.push_back(flags);
        if (flags & PURGE_RXCLEAR) F.Input.clear();
        if (flags & PURGE_TXCLEAR) F.OutQueue = 0;
        return true;
    }

    bool GetCommProperties(COMMPROP& prop) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foGetCommProperties)) return false;
        prop = COMMPROP{};
        prop.wPacketLength = sizeof(COMMPROP);
        prop.dwCurrentRxQueue = F.ReportedSet ? F.ReportedRx : F.InSize;
        prop.dwCurrentTxQueue = F.ReportedSet ? F.ReportedTx : F.OutSize;
        return true;
    }

    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foGetCommTimeouts)) return false;
        timeouts = F.Timeouts;
        return true;
    }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foSetCommTimeouts)) return false;
        F.Timeouts = timeouts;
        F.TimeoutRecords.push_back(timeouts);
        return true;
    }

    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override {
        std::lock_guard lock(F.Lock);
        if (errors) *errors = 0;
        if (stat) {
            *stat = COMSTAT{};
            stat->cbInQue = std::uint32_t(F.Input.size());
            stat->cbOutQue = F.OutQueue;
        }
        if (F.Enter(TFakeOp::foClearCommError)) return false;
        if (F.Gone) {
            SetLastError(EIO);
            return false;
        }
        return true;
    }

    bool SetCommMask(std::uint32_t mask) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foSetCommMask)) return false;
        F.Mask = mask;
        F.Masks.push_back(mask);
        if (F.Waiting) {
            F.MaskChanged = true;
            F.Wake();
        }
        return true;
    }

    bool GetCommMask(std::uint32_t& mask) override {
        std::lock_guard lock(F.Lock);
        if (F.Enter(TFakeOp::foGetCommMask)) return false;
        mask = F.Mask;
        return true;
    }

    TWaitResult WaitCommEvent(std::uint32_t& eventMask, const TStopEvent* stop) override {
        eventMask = 0;
        std::unique_lock lock(F.Lock);
        if (F.Enter(TFakeOp::foWaitCommEvent)) return TWaitResult::wrFailed;
        F.Waiting = true;
        F.MaskChanged = false;
        F.Changed.notify_all();
        const auto finish = [&](TWaitResult result) {
            F.Waiting = false;
            F.Changed.notify_all();
            return result;
        };
        for (;;) {
            std::uint64_t value;
            [[maybe_unused]] ssize_t n = read(F.WakeFd, &value, sizeof value);
            if (stop && stop->IsSet()) return finish(TWaitResult::wrStopped);
            if (F.MaskChanged) return finish(TWaitResult::wrReady);
            // A failure injected while the thread waits ends the wait too.
            if (F.FailTimes[std::size_t(TFakeOp::foWaitCommEvent)] != 0) {
                F.Enter(TFakeOp::foWaitCommEvent);
                return finish(TWaitResult::wrFailed);
            }
            if (F.Gone) {
                SetLastError(EIO);
                return finish(TWaitResult::wrFailed);
            }
            if (const std::uint32_t events = F.PendingEvents & F.Mask) {
                F.PendingEvents &= ~F.Mask;
                eventMask = events;
                return finish(TWaitResult::wrReady);
            }
            pollfd fds[2] = {{F.WakeFd, POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
            lock.unlock();
            while (poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            lock.lock();
        }
    }

    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t& read, std::uint32_t limitMs) override {
        read = 0;
        std::lock_guard lock(F.Lock);
        F.ReadLimits.push_back(limitMs);
        if (F.Enter(TFakeOp::foReadFile)) return false;
        if (F.Gone) {
            SetLastError(EIO);
            return false;
        }
        read = std::uint32_t(std::min<std::size_t>(count, F.Input.size()));
        if (read > 0) std::memcpy(buffer, F.Input.data(), read);
        F.Input.erase(0, read);
        return true;
    }

    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t& written,
                   std::uint32_t limitMs) override {
        written = 0;
        std::lock_guard lock(F.Lock);
        F.WriteLimits.push_back(limitMs);
        if (F.Enter(TFakeOp::foWriteFile)) return false;
        if (F.Gone) {
            SetLastError(EIO);
            return false;
        }
        written = std::min(count, F.WriteAccept);
        F.Output.append(static_cast<const char*>(buffer), written);
        return true;
    }

    TWaitResult WaitForInput(std::uint32_t timeoutMs) override {
        std::unique_lock lock(F.Lock);
        if (F.Enter(TFakeOp::foWaitForInput)) return TWaitResult::wrFailed;
        const auto ready = [&] { return !F.Input.empty() || F.Gone; };
        if (timeoutMs == INFINITE)
            F.Changed.wait(lock, ready);
        else
            F.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (!F.Input.empty()) return TWaitResult::wrReady;
        if (F.Gone) {
            SetLastError(EIO);
            return TWaitResult::wrFailed;
        }
        return TWaitResult::wrTimeout;
    }

    TWaitResult WaitForOutputRoom(std::uint32_t timeoutMs) override {
        std::unique_lock lock(F.Lock);
        if (F.Enter(TFakeOp::foWaitForOutputRoom)) return TWaitResult::wrFailed;
        // Room means the queue count is below the size given to SetupComm.
        const auto ready = [&] { return F.Gone || F.OutSize == 0 || F.OutQueue < F.OutSize; };
        if (timeoutMs == INFINITE)
            F.Changed.wait(lock, ready);
        else
            F.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (F.Gone) {
            SetLastError(EIO);
            return TWaitResult::wrFailed;
        }
        return ready() ? TWaitResult::wrReady : TWaitResult::wrTimeout;
    }

    // A break only changes the line state: queued output stays where it is.
    bool SetCommBreak() override {
        return LineControl(TFakeOp::foSetCommBreak, 0, [&] { F.Break = true; });
    }
    bool ClearCommBreak() override {
        return LineControl(TFakeOp::foClearCommBreak, 0, [&] { F.Break = false; });
    }

    bool EscapeCommFunction(std::uint32_t func) override {
        if (func < SETRTS || func > CLRDTR) {
            std::lock_guard lock(F.Lock);
            F.LineCalls.push_back({TFakeOp::foEscapeCommFunction, func, std::chrono::steady_clock::now()});
            F.Enter(TFakeOp::foEscapeCommFunction);
            SetLastError(EINVAL);
            return false;
        }
        return LineControl(TFakeOp::foEscapeCommFunction, func, [&] {
            if (func == SETDTR || func == CLRDTR)
                F.Dtr = func == SETDTR;
            else
                F.Rts = func == SETRTS;
        });
    }

    bool GetCommModemStatus(std::uint32_t& status) override {
        status = 0;
        return LineControl(TFakeOp::foGetCommModemStatus, 0, [&] { status = F.ModemInputs; });
    }

    bool GetCommOutputLines(bool& dtr, bool& rts) override {
        dtr = rts = false;
        return LineControl(TFakeOp::foGetCommOutputLines, 0, [&] {
            dtr = F.Dtr;
            rts = F.Rts;
        });
    }

private:
    template <class TAction> bool LineControl(TFakeOp op, std::uint32_t func, TAction action) {
        std::lock_guard lock(F.Lock);
        F.LineCalls.push_back({op, func, std::chrono::steady_clock::now()});
        if (F.Enter(op)) return false;
        if (F.Gone) {
            SetLastError(EIO);
            return false;
        }
        if (!F.ModemLines) {
            SetLastError(ENOTSUP);
            return false;
        }
        action();
        return true;
    }

    std::shared_ptr<TFakePort> FPort; // keeps the state alive while open
    TFakePort::TState& F;
};

std::shared_ptr<TFakePort> TFakeCommApi::AddPort(const std::string& name) {
    std::lock_guard lock(FLock);
    auto& port = FPorts[name];
    if (!port) port = std::make_shared<TFakePort>();
    return port;
}

std::unique_ptr<TCommDevice> TFakeCommApi::CreateFile(std::string_view name) {
    std::shared_ptr<TFakePort> port;
    {
        std::lock_guard lock(FLock);
        const auto it = FPorts.find(name);
        if (it == FPorts.end()) {
            SetLastError(ENOENT);
            return nullptr;
        }
        port = it->second;
    }
    TFakePort::TState& f = *port->F;
    std::lock_guard lock(f.Lock);
    if (f.Enter(TFakeOp::foCreateFile)) return nullptr;
    if (f.Open) {
        SetLastError(EBUSY);
        return nullptr;
    }
    f.Open = true;
    f.Gone = false;
    ++f.OpenCount;
    f.PendingEvents = 0;
    f.Break = false;
    f.Changed.notify_all();
    return std::make_unique<TFakeCommDevice>(port);
}

} // namespace qorvel::platform
