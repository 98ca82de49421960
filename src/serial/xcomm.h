#pragma once
// The serial port component: settings model, device control block, port lifecycle, transfers
// and notifications. No Qt; the device is reached through platform::TCommApi.
#include "platform/commapi.h"
#include "serial/comm_types.h"
#include "serial/device_error.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel {

class TCustomComm;
class TCommEventThread;

// The modem lines of an open port: the two outputs as last set, the four inputs as read.
struct TModemLines {
    bool DTR, RTS, CTS, DSR, DCD, RI;
};

using TCommEvent = std::function<void(TCustomComm* Sender, TDeviceEvents Events)>;
using TDataEvent = std::function<void(TCustomComm* Sender, std::uint32_t Received)>;
using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
// Reason is the text of the failure (a system error text or an exception's message).
using TEventLoopFailedEvent = std::function<void(TCustomComm* Sender, const std::string& Reason)>;

// Bits of LockFlags / GetLockState.
inline constexpr std::uint8_t kLockSend = 0x01;
inline constexpr std::uint8_t kLockRead = 0x02;

// Smallest queue size a buffer-size write accepts.
inline constexpr std::uint16_t kMinBufferSize = 128;

// The answer of the system version query that decides the largest queue size.
struct TOSVersionInfo {
    std::uint32_t dwMajorVersion;
    std::uint32_t dwMinorVersion;
    std::uint32_t dwPlatformId;
};
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

// Reports an NT-family 4.0+ system, so the largest queue size is 4096.
TOSVersionInfo GetVersionEx();
// 4096 on NT 4.0 or later, 8192 otherwise.
std::uint16_t BufferSizeLimit(const TOSVersionInfo& Version);
// Replaces the version query used by the buffer-size setters (tests); returns the previous one.
using TVersionQuery = TOSVersionInfo (*)();
TVersionQuery SetVersionQuery(TVersionQuery Query);

// Zeroes the control block and sets its length member.
void InitDCB(platform::DCB& Dcb);
// InitDCB, then reads the device's current control block; false when there is no device or it fails.
bool GetDCB(platform::TCommDevice* Device, platform::DCB& Dcb);

// The four settings objects. Each belongs to one component (its owner) and reads the live
// device while the owner is open; one made with no owner is plain storage, e.g. for Assign.
class TCommDataControl {
public:
    explicit TCommDataControl(TCustomComm* Owner = nullptr) : FComm(Owner) {}
    TCommDataControl(const TCommDataControl&) = delete;
    TCommDataControl& operator=(const TCommDataControl&) = delete;

    TDataBits DataBits() const;
    void SetDataBits(TDataBits Value);
    TParity Parity() const;
    void SetParity(TParity Value);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits Value);
    // Copies Source's values (read through its getters); pushes them if the owner is open.
    void Assign(const TCommDataControl& Source);

private:
    friend class TCustomComm;
    TCustomComm* FComm;
    TDataBits FDataBits = TDataBits::db8;
    TParity FParity = TParity::paNone;
    TStopBits FStopBits = TStopBits::sb1;
};

class TCommBuffers {
public:
    explicit TCommBuffers(TCustomComm* Owner = nullptr) : FComm(Owner) {}
    TCommBuffers(const TCommBuffers&) = delete;
    TCommBuffers& operator=(const TCommBuffers&) = delete;

    std::uint16_t InputSize() const;
    // Clamped to [128, BufferSizeLimit]; pushing the sizes purges both queues.
    void SetInputSize(std::uint16_t Value);
    std::uint16_t OutputSize() const;
    void SetOutputSize(std::uint16_t Value);
    // The component's own limits for one ReadData / SendData call, in milliseconds.
    std::uint16_t InputTimeout() const { return FInputTimeout; }
    void SetInputTimeout(std::uint16_t Value) { FInputTimeout = Value; }
    std::uint16_t OutputTimeout() const { return FOutputTimeout; }
    void SetOutputTimeout(std::uint16_t Value) { FOutputTimeout = Value; }
    // Copies Source's values without clamping; pushes the sizes if the owner is open.
    void Assign(const TCommBuffers& Source);

private:
    friend class TCustomComm;
    TCustomComm* FComm;
    std::uint16_t FInputSize = 2048;
    std::uint16_t FOutputSize = 2048;
    std::uint16_t FInputTimeout = 500;
    std::uint16_t FOutputTimeout = 500;
};

class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* Owner = nullptr) : FComm(Owner) {}
    TCommEventChars(const TCommEventChars&) = delete;
    TCommEventChars& operator=(const TCommEventChars&) = delete;

    char XonChar() const;
    void SetXonChar(char Value);
    char XoffChar() const;
    void SetXoffChar(char Value);
    char EofChar() const;
    void SetEofChar(char Value);
    char ErrorChar() const;
    void SetErrorChar(char Value);
    char EventChar() const;
    void SetEventChar(char Value);
    void Assign(const TCommEventChars& Source);

private:
    friend class TCustomComm;
    void Set(char& Field, char Value);
    TCustomComm* FComm;
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FEofChar = 0x00;
    char FErrorChar = 0x00;
    char FEventChar = 0x0A;
};

// Handed unchanged to the device as its per-request time-out record.
class TCommTimeoutsEx {
public:
    explicit TCommTimeoutsEx(TCustomComm* Owner = nullptr) : FComm(Owner) {}
    TCommTimeoutsEx(const TCommTimeoutsEx&) = delete;
    TCommTimeoutsEx& operator=(const TCommTimeoutsEx&) = delete;

    std::uint32_t ReadInterval() const;
    void SetReadInterval(std::uint32_t Value);
    std::uint32_t ReadMultiplier() const;
    void SetReadMultiplier(std::uint32_t Value);
    std::uint32_t ReadConstant() const;
    void SetReadConstant(std::uint32_t Value);
    std::uint32_t WriteMultiplier() const;
    void SetWriteMultiplier(std::uint32_t Value);
    std::uint32_t WriteConstant() const;
    void SetWriteConstant(std::uint32_t Value);
    void Assign(const TCommTimeoutsEx& Source);

private:
    friend class TCustomComm;
    void Set(std::uint32_t& Field, std::uint32_t Value);
    platform::COMMTIMEOUTS Stored() const;
    TCustomComm* FComm;
    std::uint32_t FReadInterval = 1;
    std::uint32_t FReadMultiplier = 0;
    std::uint32_t FReadConstant = 1;
    std::uint32_t FWriteMultiplier = 0;
    std::uint32_t FWriteConstant = 1;
};

// Rules shared by every property: writing the stored value again does nothing; otherwise the
// value is stored and, while the device is open, its group is pushed at once (UpdateDCB,
// UpdateBuffers or UpdateTimeouts). While open, getters read the device back. Writes that the
// state does not allow are ignored. Settings and transfers belong to one thread (the main
// thread); the event thread only waits for device events and hands them over.
class TCustomComm {
public:
    // Devices are opened through Api (the POSIX layer unless a test passes a fake).
    explicit TCustomComm(platform::TCommApi& Api = platform::PosixCommApi());
    // Stops the event thread and closes the device if open. A descendant that overrides
    // DoCommEvent or DoData should call CloseDevice in its own destructor.
    virtual ~TCustomComm();
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;

    // ---- Lifecycle -------------------------------------------------------------------------
    // While open LockFlags, while closed both bits.
    virtual std::uint8_t GetLockState();
    // Opens DeviceName exclusively, starts the event thread and pushes all settings. Raises on
    // failure; a failure after the device was opened closes it again, so the component stays
    // closed.
    virtual bool OpenDevice();
    // Stops the event thread (running any batch it is handing to the main thread), lets moving
    // output drain for at most 2 s (less when the line needs less), discards the rest, closes.
    // Must not be called on the event thread itself, nor from inside a notification that the
    // event thread is dispatching. A handler on the main thread may call it, also while a close
    // is under way: that inner call returns and the close under way finishes the job.
    virtual void CloseDevice();
    bool Opened() const { return FHandle != nullptr; }
    // The open device, or null while closed.
    platform::TCommDevice* Handle() const { return FHandle.get(); }

    // ---- Transfers (calling thread) --------------------------------------------------------
    std::uint32_t SendData(const void* Buffer, std::uint32_t Count, std::uint32_t Timeout);
    std::uint32_t SendData(const void* Buffer, std::uint32_t Count);
    bool SendByte(std::uint8_t Value);
    bool SendString(std::string_view S);
    std::uint32_t ReadData(void* Buffer, std::uint32_t Count, std::uint32_t Timeout);
    std::uint32_t ReadData(void* Buffer, std::uint32_t Count);
    std::uint32_t InQueueCount();
    std::uint32_t OutQueueCount();
    // Bytes read and written since the port was opened or ResetCounters.
    std::uint64_t BytesReceived() const { return FBytesReceived; }
    std::uint64_t BytesSent() const { return FBytesSent; }
    void ResetCounters() { FBytesReceived = FBytesSent = 0; }

    // ---- Line control and modem status (main thread) ---------------------------------------
    // false when the port cannot do it (no modem lines, the server refused, the flow control
    // owns the line); LineControlError() then says why, e.g. "not supported by this port".
    // Only "Device not opened." raises. A break holds queued output; it does not discard it.
    // UpdateDCB sets DTR and RTS again as the settings say, as at open.
    bool SetBreak(bool On);
    bool SetDTR(bool On);
    bool SetRTS(bool On);
    // nullopt: the port has no modem lines. Input changes arrive as deCTS, deDSR, deRLSD and
    // deRing through OnCommEvent when MonitorEvents holds them.
    std::optional<TModemLines> ModemLines();
    // Why the last line-control call failed; empty after one succeeded.
    const std::string& LineControlError() const { return FLineControlError; }

    // ---- Pushing settings to the open device -----------------------------------------------
    bool UpdateDCB();
    // Purges both queues (aborting pending transfers), then sets the queue sizes.
    bool UpdateBuffers();
    bool UpdateTimeouts();
    // The control block UpdateDCB pushes, built from the stored settings.
    platform::DCB BuildDCB() const;

    // ---- Notifications ---------------------------------------------------------------------
    // Entry point of a batch of events; does nothing while closed or being destroyed.
    void HandleEvents(TDeviceEvents Events);

    // True once the event loop of the current opening has ended on a failure (device gone,
    // or an exception from a notification) rather than on CloseDevice. Reset by OpenDevice.
    bool EventLoopFailed() const { return FEventLoopFailed.load(std::memory_order_acquire); }

    // ---- Properties ------------------------------------------------------------------------
    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(std::string_view Value);
    TBaudRate BaudRate();
    void SetBaudRate(TBaudRate Value);
    std::uint32_t BaudValue();
    void SetBaudValue(std::uint32_t Value);
    TCommDataControl& DataControl() { return FDataControl; }
    void SetDataControl(const TCommDataControl& Value) { FDataControl.Assign(Value); }
    TCommBuffers& Buffers() { return FBuffers; }
    void SetBuffers(const TCommBuffers& Value) { FBuffers.Assign(Value); }
    TCommEventChars& EventChars() { return FEventChars; }
    void SetEventChars(const TCommEventChars& Value) { FEventChars.Assign(Value); }
    TCommTimeoutsEx& Timeouts() { return FTimeouts; }
    void SetTimeouts(const TCommTimeoutsEx& Value) { FTimeouts.Assign(Value); }
    TRTSSettings RTSSettings();
    void SetRTSSettings(TRTSSettings Value);
    TDTRSettings DTRSettings();
    void SetDTRSettings(TDTRSettings Value);
    TXOnXOffSettings XOnXOffSettings();
    void SetXOnXOffSettings(TXOnXOffSettings Value);
    TCommOptions Options();
    void SetOptions(TCommOptions Value);
    TFlowControl FlowControl() const { return FFlowControl; }
    void SetFlowControl(TFlowControl Value);
    // Filters OnCommEvent only; OnData is raised for received bytes whatever it holds.
    TDeviceEvents MonitorEvents() const { return TDeviceEvents::FromMask(FMonitorEvents.load()); }
    void SetMonitorEvents(TDeviceEvents Value) { FMonitorEvents.store(Value.Mask()); }
    // True: every notification of a batch runs on the main thread, handed over in order while the
    // event thread goes on reading the line into the device's queue.
    bool Synchronize() const { return FSynchronize.load(); }
    void SetSynchronize(bool Value) { FSynchronize.store(Value); }

    // Callbacks are read by the event thread: assign them while closed (or, with Synchronize
    // true, on the main thread).
    const TCommEvent& OnCommEvent() const { return FOnCommEvent; }
    void SetOnCommEvent(TCommEvent Value) { FOnCommEvent = std::move(Value); }
    const TDataEvent& OnData() const { return FOnData; }
    void SetOnData(TDataEvent Value) { FOnData = std::move(Value); }
    const TNotifyEvent& OnRead() const { return FOnRead; }
    void SetOnRead(TNotifyEvent Value) { FOnRead = std::move(Value); }
    const TNotifyEvent& OnSend() const { return FOnSend; }
    void SetOnSend(TNotifyEvent Value) { FOnSend = std::move(Value); }
    // Raised once, on the event thread, when its loop ends on a failure (not on CloseDevice).
    // It must not call CloseDevice; hand the news to the main thread (e.g. a queued call).
    const TEventLoopFailedEvent& OnEventLoopFailed() const { return FOnEventLoopFailed; }
    void SetOnEventLoopFailed(TEventLoopFailedEvent Value) { FOnEventLoopFailed = std::move(Value); }

protected:
    // Raises OnData (for deChar / deFlag, once per batch) and OnCommEvent (filtered).
    virtual void DoCommEvent(TDeviceEvents Events);
    virtual void DoData(std::uint32_t Received);

private:
    friend class TCommDataControl;
    friend class TCommBuffers;
    friend class TCommEventChars;
    friend class TCommTimeoutsEx;
    friend class TCommEventThread;

    bool LiveDCB(platform::DCB& Dcb) const { return GetDCB(FHandle.get(), Dcb); }
    // Overwrites the four stored flag sets from the device's control block.
    void DecodeFlags(const platform::DCB& Dcb);
    void RecomputeLineSettings();
    std::uint32_t ChunkWrite(const std::uint8_t* Position, std::uint32_t Count, std::uint32_t LimitMs);
    std::uint32_t ChunkRead(std::uint8_t* Position, std::uint32_t Count, std::uint32_t LimitMs);
    void EventLoopEnded(const std::string& Reason);
    bool LineControlDone(bool Ok);

    platform::TCommApi& FApi;
    std::unique_ptr<platform::TCommDevice> FHandle;
    std::string FDeviceName = "COM2";
    TBaudRate FBaudRate = TBaudRate::br9600;
    std::uint32_t FBaudValue = 9600;
    TCommDataControl FDataControl{this};
    TCommBuffers FBuffers{this};
    TCommEventChars FEventChars{this};
    TCommTimeoutsEx FTimeouts{this};
    TRTSSettings FRTSSettings;
    TDTRSettings FDTRSettings;
    TXOnXOffSettings FXOnXOffSettings;
    TCommOptions FOptions;
    TFlowControl FFlowControl = TFlowControl::fcNone;
    std::atomic<std::uint16_t> FMonitorEvents{
        TDeviceEvents{TDeviceEvent::deChar, TDeviceEvent::deFlag, TDeviceEvent::deOutEmpty}.Mask()};
    std::atomic<bool> FSynchronize{true};
    TCommEvent FOnCommEvent;
    TDataEvent FOnData;
    TNotifyEvent FOnRead;
    TNotifyEvent FOnSend;
    TEventLoopFailedEvent FOnEventLoopFailed;
    std::unique_ptr<TCommEventThread> FEventThread;
    // Atomic because, with Synchronize false, the event thread may read while the main thread sends.
    std::atomic<std::uint8_t> FLockFlags{0};
    std::atomic<bool> FDestroying{false};
    bool FClosing = false; // CloseDevice is under way (main thread only)
    std::string FLineControlError;
    std::uint64_t FBytesReceived = 0;
    std::uint64_t FBytesSent = 0;
    std::atomic<bool> FEventLoopFailed{false};
};

// The published component.
class TXComm : public TCustomComm {
public:
    using TCustomComm::TCustomComm;
};

} // namespace qorvel
