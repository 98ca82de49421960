#include "serial/xcomm.h"

#include "serial/event_thread.h"

#include "platform/mainthread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace qorvel {

using platform::DCB;

namespace {

TOSVersionInfo (*gVersionQuery)() = &GetVersionEx;

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

std::uint16_t ClampBufferSize(std::uint16_t Value) {
    const std::uint16_t limit = BufferSizeLimit(gVersionQuery());
    return std::max(std::min(Value, limit), kMinBufferSize);
}

} // namespace

// ---- Unit-level routines ---------------------------------------------------------------------

TOSVersionInfo GetVersionEx() {
    return {10, 0, VER_PLATFORM_WIN32_NT};
}

std::uint16_t BufferSizeLimit(const TOSVersionInfo& Version) {
    const std::uint32_t version = (Version.dwMajorVersion << 16) | Version.dwMinorVersion;
    return Version.dwPlatformId == VER_PLATFORM_WIN32_NT && version >= 0x40000 ? 4096 : 8192;
}

TVersionQuery SetVersionQuery(TVersionQuery Query) {
    TVersionQuery previous = gVersionQuery;
    gVersionQuery = Query ? Query : &GetVersionEx;
    return previous;
}

void InitDCB(DCB& Dcb) {
    std::memset(&Dcb, 0, sizeof Dcb);
    Dcb.DCBlength = platform::kDcbLength;
}

bool GetDCB(platform::TCommDevice* Device, DCB& Dcb) {
    InitDCB(Dcb);
    return Device != nullptr && Device->GetCommState(Dcb);
}

// ---- TCommDataControl ------------------------------------------------------------------------

TDataBits TCommDataControl::DataBits() const {
    DCB dcb;
    if (FComm && FComm->LiveDCB(dcb) && dcb.ByteSize >= 4 && dcb.ByteSize <= 8)
        return static_cast<TDataBits>(dcb.ByteSize - 4);
    return FDataBits;
}

void TCommDataControl::SetDataBits(TDataBits Value) {
    if (Value == FDataBits) return;
    FDataBits = Value;
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

TParity TCommDataControl::Parity() const {
    DCB dcb;
    if (FComm && FComm->LiveDCB(dcb) && dcb.Parity <= platform::SPACEPARITY)
        return static_cast<TParity>(dcb.Parity);
    return FParity;
}

void TCommDataControl::SetParity(TParity Value) {
    if (Value == FParity) return;
    FParity = Value;
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

TStopBits TCommDataControl::StopBits() const {
    DCB dcb;
    if (FComm && FComm->LiveDCB(dcb) && dcb.StopBits <= platform::TWOSTOPBITS)
        return static_cast<TStopBits>(dcb.StopBits);
    return FStopBits;
}

void TCommDataControl::SetStopBits(TStopBits Value) {
    if (Value == FStopBits) return;
    FStopBits = Value;
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

void TCommDataControl::Assign(const TCommDataControl& Source) {
    if (&Source == this) return;
    FDataBits = Source.DataBits();
    FParity = Source.Parity();
    FStopBits = Source.StopBits();
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

// ---- TCommBuffers ----------------------------------------------------------------------------

std::uint16_t TCommBuffers::InputSize() const {
    platform::COMMPROP prop{};
    if (FComm && FComm->Opened() && FComm->Handle()->GetCommProperties(prop) && prop.dwCurrentRxQueue != 0)
        return static_cast<std::uint16_t>(prop.dwCurrentRxQueue);
    return FInputSize;
}

void TCommBuffers::SetInputSize(std::uint16_t Value) {
    Value = ClampBufferSize(Value);
    if (Value == FInputSize) return;
    FInputSize = Value;
    if (FComm && FComm->Opened()) FComm->UpdateBuffers();
}

std::uint16_t TCommBuffers::OutputSize() const {
    platform::COMMPROP prop{};
    if (FComm && FComm->Opened() && FComm->Handle()->GetCommProperties(prop) && prop.dwCurrentTxQueue != 0)
        return static_cast<std::uint16_t>(prop.dwCurrentTxQueue);
    return FOutputSize;
}

void TCommBuffers::SetOutputSize(std::uint16_t Value) {
    Value = ClampBufferSize(Value);
    if (Value == FOutputSize) return;
    FOutputSize = Value;
    if (FComm && FComm->Opened()) FComm->UpdateBuffers();
}

void TCommBuffers::Assign(const TCommBuffers& Source) {
    if (&Source == this) return;
    FInputSize = Source.InputSize();
    FOutputSize = Source.OutputSize();
    FInputTimeout = Source.FInputTimeout;
    FOutputTimeout = Source.FOutputTimeout;
    if (FComm && FComm->Opened()) FComm->UpdateBuffers();
}

// ---- TCommEventChars -------------------------------------------------------------------------

void TCommEventChars::Set(char& Field, char Value) {
    if (Value == Field) return;
    Field = Value;
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

char TCommEventChars::XonChar() const {
    DCB dcb;
    return FComm && FComm->LiveDCB(dcb) ? dcb.XonChar : FXonChar;
}
char TCommEventChars::XoffChar() const {
    DCB dcb;
    return FComm && FComm->LiveDCB(dcb) ? dcb.XoffChar : FXoffChar;
}
char TCommEventChars::EofChar() const {
    DCB dcb;
    return FComm && FComm->LiveDCB(dcb) ? dcb.EofChar : FEofChar;
}
char TCommEventChars::ErrorChar() const {
    DCB dcb;
    return FComm && FComm->LiveDCB(dcb) ? dcb.ErrorChar : FErrorChar;
}
char TCommEventChars::EventChar() const {
    DCB dcb;
    return FComm && FComm->LiveDCB(dcb) ? dcb.EvtChar : FEventChar;
}
void TCommEventChars::SetXonChar(char Value) {
    Set(FXonChar, Value);
}
void TCommEventChars::SetXoffChar(char Value) {
    Set(FXoffChar, Value);
}
void TCommEventChars::SetEofChar(char Value) {
    Set(FEofChar, Value);
}
void TCommEventChars::SetErrorChar(char Value) {
    Set(FErrorChar, Value);
}
void TCommEventChars::SetEventChar(char Value) {
    Set(FEventChar, Value);
}

void TCommEventChars::Assign(const TCommEventChars& Source) {
    if (&Source == this) return;
    FXonChar = Source.XonChar();
    FXoffChar = Source.XoffChar();
    FEofChar = Source.EofChar();
    FErrorChar = Source.ErrorChar();
    FEventChar = Source.EventChar();
    if (FComm && FComm->Opened()) FComm->UpdateDCB();
}

// ---- TCommTimeoutsEx -------------------------------------------------------------------------

void TCommTimeoutsEx::Set(std::uint32_t& Field, std::uint32_t Value) {
    if (Value == Field) return;
    Field = Value;
    if (FComm && FComm->Opened()) FComm->UpdateTimeouts();
}

platform::COMMTIMEOUTS TCommTimeoutsEx::Stored() const {
    return {FReadInterval, FReadMultiplier, FReadConstant, FWriteMultiplier, FWriteConstant};
}

namespace {
// The device's time-out record, or the stored one when closed or the query fails.
platform::COMMTIMEOUTS LiveTimeouts(TCustomComm* Comm, const platform::COMMTIMEOUTS& Stored) {
    platform::COMMTIMEOUTS live{};
    if (Comm && Comm->Opened() && Comm->Handle()->GetCommTimeouts(live)) return live;
    return Stored;
}
} // namespace

std::uint32_t TCommTimeoutsEx::ReadInterval() const {
    return LiveTimeouts(FComm, Stored()).ReadIntervalTimeout;
}
std::uint32_t TCommTimeoutsEx::ReadMultiplier() const {
    return LiveTimeouts(FComm, Stored()).ReadTotalTimeoutMultiplier;
}
std::uint32_t TCommTimeoutsEx::ReadConstant() const {
    return LiveTimeouts(FComm, Stored()).ReadTotalTimeoutConstant;
}
std::uint32_t TCommTimeoutsEx::WriteMultiplier() const {
    return LiveTimeouts(FComm, Stored()).WriteTotalTimeoutMultiplier;
}
std::uint32_t TCommTimeoutsEx::WriteConstant() const {
    return LiveTimeouts(FComm, Stored()).WriteTotalTimeoutConstant;
}
void TCommTimeoutsEx::SetReadInterval(std::uint32_t Value) {
    Set(FReadInterval, Value);
}
void TCommTimeoutsEx::SetReadMultiplier(std::uint32_t Value) {
    Set(FReadMultiplier, Value);
}
void TCommTimeoutsEx::SetReadConstant(std::uint32_t Value) {
    Set(FReadConstant, Value);
}
void TCommTimeoutsEx::SetWriteMultiplier(std::uint32_t Value) {
    Set(FWriteMultiplier, Value);
}
void TCommTimeoutsEx::SetWriteConstant(std::uint32_t Value) {
    Set(FWriteConstant, Value);
}

void TCommTimeoutsEx::Assign(const TCommTimeoutsEx& Source) {
    if (&Source == this) return;
    const platform::COMMTIMEOUTS t = LiveTimeouts(Source.FComm, Source.Stored());
    FReadInterval = t.ReadIntervalTimeout;
    FReadMultiplier = t.ReadTotalTimeoutMultiplier;
    FReadConstant = t.ReadTotalTimeoutConstant;
    FWriteMultiplier = t.WriteTotalTimeoutMultiplier;
    FWriteConstant = t.WriteTotalTimeoutConstant;
    if (FComm && FComm->Opened()) FComm->UpdateTimeouts();
}

// ---- TCustomComm: construction and lifecycle -------------------------------------------------

TCustomComm::TCustomComm(platform::TCommApi& Api) : FApi(Api) {}

TCustomComm::~TCustomComm() {
    FDestroying.store(true);
    if (Opened()) {
        FEventThread.reset();
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
    FHandle.reset();
}

// ---- Pushing settings ------------------------------------------------------------------------

DCB TCustomComm::BuildDCB() const {
    using namespace platform;
    DCB dcb;
    InitDCB(dcb);
    dcb.BaudRate = FBaudValue;
    dcb.fBinary = 1;
    dcb.fParity = FOptions.Contains(TCommOption::coParityCheck);
    dcb.fOutxCtsFlow = FRTSSettings.Contains(TRTSSetting::fsCTSOut);
    dcb.fOutxDsrFlow = FDTRSettings.Contains(TDTRSetting::fsDSROut);
    std::uint32_t dtr = DTR_CONTROL_DISABLE;
    if (FDTRSettings.Contains(TDTRSetting::fsDTREnabled) || FOptions.Contains(TCommOption::coLeaveDTROpen))
        dtr |= DTR_CONTROL_ENABLE;
    if (FDTRSettings.Contains(TDTRSetting::fsDTRHandshake)) dtr |= DTR_CONTROL_HANDSHAKE;
    dcb.fDtrControl = dtr;
    dcb.fDsrSensitivity = FOptions.Contains(TCommOption::coDSRSensitivity);
    dcb.fTXContinueOnXoff = FOptions.Contains(TCommOption::coTXContinueOnXOff);
    dcb.fOutX = FXOnXOffSettings.Contains(TXOnXOffSetting::fsOutX);
    dcb.fInX = FXOnXOffSettings.Contains(TXOnXOffSetting::fsInX);
    dcb.fErrorChar = FOptions.Contains(TCommOption::coErrorChar);
    dcb.fNull = FOptions.Contains(TCommOption::coDiscardNull);
    std::uint32_t rts = RTS_CONTROL_DISABLE;
    if (FRTSSettings.Contains(TRTSSetting::fsRTSEnabled)) rts |= RTS_CONTROL_ENABLE;
    if (FRTSSettings.Contains(TRTSSetting::fsRTSHandshake)) rts |= RTS_CONTROL_HANDSHAKE;
    dcb.fRtsControl = rts;
    dcb.fAbortOnError = FOptions.Contains(TCommOption::coAbortOnError);
    dcb.XonLim = FBuffers.FInputSize / 4;
    dcb.XoffLim = FBuffers.FInputSize / 4;
    dcb.ByteSize = static_cast<std::uint8_t>(static_cast<unsigned>(FDataControl.FDataBits) + 4);
    dcb.Parity = static_cast<std::uint8_t>(FDataControl.FParity);
    dcb.StopBits = static_cast<std::uint8_t>(FDataControl.FStopBits);
    dcb.XonChar = FEventChars.FXonChar;
    dcb.XoffChar = FEventChars.FXoffChar;
    dcb.ErrorChar = FEventChars.FErrorChar;
    dcb.EofChar = FEventChars.FEofChar;
    dcb.EvtChar = FEventChars.FEventChar;
    return dcb;
}

bool TCustomComm::UpdateDCB() {
    const DCB dcb = BuildDCB();
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

// ---- Properties ------------------------------------------------------------------------------

void TCustomComm::SetDeviceName(std::string_view Value) {
    if (!Opened() && Value != FDeviceName) FDeviceName = Value;
}

TBaudRate TCustomComm::BaudRate() {
    if (Opened() && FBaudRate != TBaudRate::brCustom) {
        FBaudRate = TBaudRate::brCustom;
        const std::uint32_t value = BaudValue();
        const auto it = std::find(BaudRates.begin(), BaudRates.end(), value);
        if (it != BaudRates.end()) FBaudRate = static_cast<TBaudRate>(it - BaudRates.begin());
    }
    return FBaudRate;
}

void TCustomComm::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate) return;
    FBaudRate = Value;
    if (Value == TBaudRate::brCustom) return;
    FBaudValue = BaudRates[static_cast<std::size_t>(Value)];
    if (Opened()) UpdateDCB();
}

std::uint32_t TCustomComm::BaudValue() {
    DCB dcb;
    if (LiveDCB(dcb)) FBaudValue = dcb.BaudRate;
    return FBaudValue;
}

void TCustomComm::SetBaudValue(std::uint32_t Value) {
    if (FBaudRate != TBaudRate::brCustom || Value == FBaudValue) return;
    FBaudValue = Value;
    if (Opened()) UpdateDCB();
}

void TCustomComm::DecodeFlags(const DCB& Dcb) {
    using namespace platform;
    TDTRSettings dtr;
    if (Dcb.fDtrControl & DTR_CONTROL_HANDSHAKE) dtr.Include(TDTRSetting::fsDTRHandshake);
    if (Dcb.fDtrControl & DTR_CONTROL_ENABLE) dtr.Include(TDTRSetting::fsDTREnabled);
    if (Dcb.fOutxDsrFlow) dtr.Include(TDTRSetting::fsDSROut);
    TRTSSettings rts;
    if (Dcb.fRtsControl & RTS_CONTROL_HANDSHAKE) rts.Include(TRTSSetting::fsRTSHandshake);
    if (Dcb.fRtsControl & RTS_CONTROL_ENABLE) rts.Include(TRTSSetting::fsRTSEnabled);
    if (Dcb.fOutxCtsFlow) rts.Include(TRTSSetting::fsCTSOut);
    TXOnXOffSettings xon;
    if (Dcb.fOutX) xon.Include(TXOnXOffSetting::fsOutX);
    if (Dcb.fInX) xon.Include(TXOnXOffSetting::fsInX);
    TCommOptions options;
    if (FOptions.Contains(TCommOption::coLeaveDTROpen)) options.Include(TCommOption::coLeaveDTROpen);
    if (Dcb.fParity) options.Include(TCommOption::coParityCheck);
    if (Dcb.fDsrSensitivity) options.Include(TCommOption::coDSRSensitivity);
    if (Dcb.fErrorChar) options.Include(TCommOption::coErrorChar);
    if (Dcb.fNull) options.Include(TCommOption::coDiscardNull);
    if (Dcb.fAbortOnError) options.Include(TCommOption::coAbortOnError);
    if (Dcb.fTXContinueOnXoff) options.Include(TCommOption::coTXContinueOnXOff);
    FDTRSettings = dtr;
    FRTSSettings = rts;
    FXOnXOffSettings = xon;
    FOptions = options;
}

TRTSSettings TCustomComm::RTSSettings() {
    DCB dcb;
    if (LiveDCB(dcb)) DecodeFlags(dcb);
    return FRTSSettings;
}

TDTRSettings TCustomComm::DTRSettings() {
    DCB dcb;
    if (LiveDCB(dcb)) DecodeFlags(dcb);
    return FDTRSettings;
}

TXOnXOffSettings TCustomComm::XOnXOffSettings() {
    DCB dcb;
    if (LiveDCB(dcb)) DecodeFlags(dcb);
    return FXOnXOffSettings;
}

TCommOptions TCustomComm::Options() {
    DCB dcb;
    if (LiveDCB(dcb)) DecodeFlags(dcb);
    return FOptions;
}

void TCustomComm::SetRTSSettings(TRTSSettings Value) {
    if (FFlowControl != TFlowControl::fcCustom || Value == RTSSettings()) return;
    FRTSSettings = Value;
    if (Opened()) UpdateDCB();
}

void TCustomComm::SetXOnXOffSettings(TXOnXOffSettings Value) {
    if (FFlowControl != TFlowControl::fcCustom || Value == XOnXOffSettings()) return;
    FXOnXOffSettings = Value;
    if (Opened()) UpdateDCB();
}

void TCustomComm::SetDTRSettings(TDTRSettings Value) {
    if (FOptions.Contains(TCommOption::coLeaveDTROpen))
        Value.Exclude(TDTRSetting::fsDTRHandshake).Include(TDTRSetting::fsDTREnabled);
    // Enabled and handshake exclude each other: the one newly asked for wins.
    if (Value.Contains(TDTRSetting::fsDTREnabled) && Value.Contains(TDTRSetting::fsDTRHandshake)) {
        if (FDTRSettings.Contains(TDTRSetting::fsDTRHandshake))
            Value.Exclude(TDTRSetting::fsDTRHandshake);
        else
            Value.Exclude(TDTRSetting::fsDTREnabled);
    }
    if (FFlowControl != TFlowControl::fcCustom || Value == DTRSettings()) return;
    FDTRSettings = Value;
    if (Opened()) UpdateDCB();
}

void TCustomComm::SetOptions(TCommOptions Value) {
    if (Opened()) {
        // The DTR line's state at close cannot be changed while open.
        if (FOptions.Contains(TCommOption::coLeaveDTROpen))
            Value.Include(TCommOption::coLeaveDTROpen);
        else
            Value.Exclude(TCommOption::coLeaveDTROpen);
    }
    if (Value == Options()) return;
    FOptions = Value;
    if (Opened())
        UpdateDCB();
    else if (FFlowControl != TFlowControl::fcCustom)
        RecomputeLineSettings();
}

void TCustomComm::SetFlowControl(TFlowControl Value) {
    if (Value == FFlowControl) return;
    FFlowControl = Value;
    if (Value == TFlowControl::fcCustom) return;
    RecomputeLineSettings();
    if (Opened()) UpdateDCB();
}

void TCustomComm::RecomputeLineSettings() {
    FRTSSettings = {};
    FDTRSettings = {};
    FXOnXOffSettings = {};
    switch (FFlowControl) {
    case TFlowControl::fcRtsCts: FRTSSettings = {TRTSSetting::fsCTSOut, TRTSSetting::fsRTSHandshake}; break;
    case TFlowControl::fcDtrDsr:
        FDTRSettings = {TDTRSetting::fsDSROut};
        FRTSSettings = {TRTSSetting::fsRTSEnabled};
        break;
    case TFlowControl::fcSoftware:
        FXOnXOffSettings = {TXOnXOffSetting::fsInX, TXOnXOffSetting::fsOutX};
        break;
    default: break;
    }
    if (FFlowControl != TFlowControl::fcNone) FDTRSettings.Include(TDTRSetting::fsDTREnabled);
    if (FOptions.Contains(TCommOption::coLeaveDTROpen))
        FDTRSettings.Include(TDTRSetting::fsDTREnabled).Exclude(TDTRSetting::fsDTRHandshake);
}

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
