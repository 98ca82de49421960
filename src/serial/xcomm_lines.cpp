// Line control and modem status of TCustomComm: break, DTR, RTS and the four input lines.
#include "serial/xcomm.h"

#include <cerrno>

namespace qorvel {

namespace {

std::string LineControlText(int Error) {
    if (Error == ENOTSUP) return std::string(sLineNotSupported);
    return StripSystemText(platform::SystemErrorText(Error));
}

} // namespace

bool TCustomComm::LineControlDone(bool Ok) {
    if (Ok)
        FLineControlError.clear();
    else
        FLineControlError = LineControlText(platform::GetLastError());
    return Ok;
}

bool TCustomComm::SetBreak(bool On) {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    return LineControlDone(On ? FHandle->SetCommBreak() : FHandle->ClearCommBreak());
}

bool TCustomComm::SetDTR(bool On) {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    // Set by hand the line would fight the handshake that drives it.
    const platform::DCB dcb = BuildDCB();
    if (dcb.fDtrControl == platform::DTR_CONTROL_HANDSHAKE) {
        FLineControlError = sDtrFlowControlled;
        return false;
    }
    return LineControlDone(FHandle->EscapeCommFunction(On ? platform::SETDTR : platform::CLRDTR));
}

bool TCustomComm::SetRTS(bool On) {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    const platform::DCB dcb = BuildDCB();
    if (dcb.fRtsControl == platform::RTS_CONTROL_HANDSHAKE ||
        dcb.fRtsControl == platform::RTS_CONTROL_TOGGLE) {
        FLineControlError = sRtsFlowControlled;
        return false;
    }
    return LineControlDone(FHandle->EscapeCommFunction(On ? platform::SETRTS : platform::CLRRTS));
}

std::optional<TModemLines> TCustomComm::ModemLines() {
    if (!Opened()) RaiseDeviceError(sDeviceNotOpened, kErrNotOpened);
    std::uint32_t status = 0;
    TModemLines lines{};
    if (!LineControlDone(FHandle->GetCommModemStatus(status) &&
                         FHandle->GetCommOutputLines(lines.DTR, lines.RTS)))
        return std::nullopt;
    lines.CTS = status & platform::MS_CTS_ON;
    lines.DSR = status & platform::MS_DSR_ON;
    lines.DCD = status & platform::MS_RLSD_ON;
    lines.RI = status & platform::MS_RING_ON;
    return lines;
}

} // namespace qorvel
