// The settings model of TCustomComm: the unit-level routines, the four settings objects,
// building the control block and the property accessors.
#include "serial/xcomm.h"

#include <algorithm>
#include <cstring>

namespace qorvel {

using platform::DCB;

namespace {

TOSVersionInfo (*gVersionQuery)() = &GetVersionEx;

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

} // namespace qorvel
