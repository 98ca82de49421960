#pragma once
// An in-memory communications device for tests: it records every call and every control block,
// queue size, time-out record and mask it receives, holds scripted input and events, and fails
// any operation on request with a chosen system error.
#include "platform/commapi.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorvel::platform {

enum class TFakeOp : std::uint8_t {
    foCreateFile,
    foCloseHandle,
    foGetCommState,
    foSetCommState,
    foSetupComm,
    foPurgeComm,
    foGetCommProperties,
    foGetCommTimeouts,
    foSetCommTimeouts,
    foClearCommError,
    foSetCommMask,
    foGetCommMask,
    foWaitCommEvent,
    foReadFile,
    foWriteFile,
    foWaitForInput,
    foWaitForOutputRoom,
    foSetCommBreak,
    foClearCommBreak,
    foEscapeCommFunction,
    foGetCommModemStatus,
    foGetCommOutputLines,
};
inline constexpr int kFakeOpCount = int(TFakeOp::foGetCommOutputLines) + 1;

// One line-control call as the fake received it, with its time, so a test can check a break's
// length ("SetCommBreak", then "ClearCommBreak" 250 ms later).
struct TFakeLineCall {
    TFakeOp Op;
    std::uint32_t Func; // the EscapeCommFunction code; 0 for the others
    std::chrono::steady_clock::time_point At;
};

// The name an operation is recorded under in TFakePort::Calls ("SetCommState", ...).
const char* FakeOpName(TFakeOp op);

// The state of one fake device, shared by the test and the device objects opened on it.
// Every member is thread-safe.
class TFakePort {
public:
    TFakePort();
    ~TFakePort();
    TFakePort(const TFakePort&) = delete;
    TFakePort& operator=(const TFakePort&) = delete;

    // ---- scripting
    // Appends received bytes and raises EV_RXCHAR, plus EV_RXFLAG when the event character of
    // the current control block is among them.
    void PushInput(std::string_view bytes);
    // Raises events for the next WaitCommEvent (filtered by the mask as a device would).
    void PushEvents(std::uint32_t events);
    // The output-queue count ClearCommError reports.
    void SetOutQueue(std::uint32_t count);
    // At most this many bytes are taken per WriteFile (default: all).
    void SetWriteAccept(std::uint32_t bytes);
    // What GetCommProperties reports as current queue sizes instead of the SetupComm values.
    void SetReportedQueues(std::uint32_t rx, std::uint32_t tx);
    // Replaces what GetCommState reports (as if the device had changed it).
    void SetDeviceState(const DCB& dcb);
    // The next `times` calls of `op` (all of them with -1) fail with `error`.
    void Fail(TFakeOp op, int error, int times = -1);
    void ClearFailures();
    // The device goes away: waits end failed, reads and writes fail with EIO.
    void HangUp();
    // Sets the input lines (MS_* bits) and raises EV_CTS / EV_DSR / EV_RLSD for each line that
    // changed and EV_RING when the ring indicator comes on, as the termios device does.
    void SetModemInputs(std::uint32_t status);
    // false: the port has no modem lines, every line-control call fails with ENOTSUP (a pty).
    void SetModemLinesSupported(bool supported);

    // ---- records
    std::vector<std::string> Calls() const;
    int CallCount(TFakeOp op) const;
    std::vector<DCB> States() const; // every control block SetCommState accepted
    DCB State() const;               // the current one
    std::vector<std::pair<std::uint32_t, std::uint32_t>> QueueSizes() const; // SetupComm (in, out)
    std::vector<COMMTIMEOUTS> TimeoutRecords() const;                        // SetCommTimeouts
    std::vector<std::uint32_t> Purges() const;                               // PurgeComm flags
    std::vector<std::uint32_t> Masks() const;                                // SetCommMask
    std::vector<std::uint32_t> ReadLimits() const;                           // limitMs of every ReadFile
    std::vector<std::uint32_t> WriteLimits() const;
    std::vector<TFakeLineCall> LineCalls() const; // every line-control call, failed ones too
    bool BreakOn() const;
    bool Dtr() const; // the outputs: from the control block, then EscapeCommFunction
    bool Rts() const;
    std::string Output() const; // every byte written
    std::size_t InputWaiting() const;
    bool IsOpen() const;
    int OpenCount() const;
    bool Waiting() const; // a thread sleeps in WaitCommEvent

    // Blocks until `Waiting()` or `limitMs` passed (tests use it instead of sleeps).
    bool WaitUntilWaiting(std::uint32_t limitMs) const;

private:
    friend class TFakeCommDevice;
    friend class TFakeCommApi;
    struct TState;
    std::unique_ptr<TState> F;
};

// Opens the fake ports registered with AddPort by name; an unknown name fails with ENOENT and
// an open port with EBUSY, as an exclusive device would.
class TFakeCommApi final : public TCommApi {
public:
    std::shared_ptr<TFakePort> AddPort(const std::string& name);
    std::unique_ptr<TCommDevice> CreateFile(std::string_view name) override;

private:
    std::mutex FLock;
    std::map<std::string, std::shared_ptr<TFakePort>, std::less<>> FPorts;
};

} // namespace qorvel::platform
