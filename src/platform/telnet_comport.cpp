#include "platform/telnet_comport.h"

#include <algorithm>
#include <string_view>

namespace qorvel::platform::telnet {

namespace {

// Options we take when the server offers or asks for them; every other one is refused.
bool AcceptOurs(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}
bool AcceptServers(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead;
}

constexpr std::string_view kSignature = "Qorvel Terminal";

// Wire sizes of our answers: IAC verb option; IAC SB option command ... IAC SE around a value
// without IACs.
constexpr std::size_t kNegotiationSize = 3;
constexpr std::size_t kSubnegotiationFrame = 6;

// Every line condition we can report; the server sends none until asked (the mask starts at 0).
constexpr std::uint8_t kLineStateMask = kLineBreak | kLineFraming | kLineParity | kLineOverrun;

std::uint8_t OutboundFlow(const DCB& dcb) {
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) return kCtlOutFlowHardware;
    if (dcb.fOutX) return kCtlOutFlowXonXoff;
    if (dcb.fOutxDsrFlow) return kCtlOutFlowDsr;
    return kCtlOutFlowNone;
}

std::uint8_t InboundFlow(const DCB& dcb) {
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) return kCtlInFlowHardware;
    if (dcb.fInX) return kCtlInFlowXonXoff;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return kCtlInFlowDtr;
    return kCtlInFlowNone;
}

// The inbound setting that the "both directions" values 1, 2 and 3 imply; 0 for the others.
std::uint8_t InboundOfBoth(std::uint8_t outbound) {
    return outbound >= kCtlOutFlowNone && outbound <= kCtlOutFlowHardware
               ? std::uint8_t(outbound + kCtlInFlowNone - kCtlOutFlowNone)
               : 0;
}

} // namespace

void TComPortClient::Start() {
    FUs[kOptBinary] = TQ::WantYes;
    AppendNegotiation(WILL, kOptBinary, FWire);
    FHim[kOptBinary] = TQ::WantYes;
    AppendNegotiation(DO, kOptBinary, FWire);
    FUs[kOptComPort] = TQ::WantYes;
    AppendNegotiation(WILL, kOptComPort, FWire);
}

bool TComPortClient::Negotiated() const {
    return FUs[kOptBinary] != TQ::WantYes && FHim[kOptBinary] != TQ::WantYes &&
           FUs[kOptComPort] != TQ::WantYes;
}

bool TComPortClient::ComPort() const {
    return FUs[kOptComPort] == TQ::Yes;
}

void TComPortClient::UpdateBinary() {
    FParser.SetBinary(FHim[kOptBinary] == TQ::Yes);
}

void TComPortClient::OnNegotiation(std::uint8_t verb, std::uint8_t option) {
    const bool wasComPort = ComPort();
    const bool his = verb == WILL || verb == WONT;
    TQ& q = his ? FHim[option] : FUs[option];
    const std::uint8_t yes = his ? DO : WILL;
    const std::uint8_t no = his ? DONT : WONT;
    if (verb == WILL || verb == DO) {
        if (q == TQ::No) {
            if (!TakeAnswerRoom(kNegotiationSize)) return;
            const bool accept = his ? AcceptServers(option) : AcceptOurs(option);
            if (accept) q = TQ::Yes;
            AppendNegotiation(accept ? yes : no, option, FWire);
        } else if (q == TQ::WantYes) {
            q = TQ::Yes; // the answer to our own request
        }
    } else {
        if (q == TQ::Yes) { // confirm the switch-off
            if (!TakeAnswerRoom(kNegotiationSize)) return;
            AppendNegotiation(no, option, FWire);
        }
        q = TQ::No;
    }
    UpdateBinary();
    if (ComPort() && !wasComPort && TakeAnswerRoom(kSubnegotiationFrame + 1)) {
        const std::uint8_t mask = kLineStateMask;
        SendComPort(kCpSetLineStateMask, {&mask, 1});
    }
}

void TComPortClient::OnSubnegotiation(std::span<const std::uint8_t> body) {
    if (body.size() >= 2 && body[0] == kOptComPort) OnComPort(body[1], body.subspan(2));
}

void TComPortClient::OnComPort(std::uint8_t command, std::span<const std::uint8_t> value) {
    switch (command) { // the subcommands without a value
    case kCpSignature + kCpServerOffset:
        // The server asks who we are; with a text it tells who it is.
        if (value.empty() && TakeAnswerRoom(kSubnegotiationFrame + kSignature.size()))
            SendComPort(kCpSignature,
                        {reinterpret_cast<const std::uint8_t*>(kSignature.data()), kSignature.size()});
        return;
    case kCpFlowControlSuspend + kCpServerOffset: FSuspended = true; return; // hold our data
    case kCpFlowControlResume + kCpServerOffset: FSuspended = false; return; // send again
    default: break;
    }
    if (value.empty()) return;
    const std::uint8_t v = value[0];
    switch (command) {
    case kCpSetBaudRate + kCpServerOffset: // SET-BAUDRATE answer: 4 bytes, network order
        if (value.size() >= 4) {
            const std::uint32_t baud = std::uint32_t(value[0]) << 24 | std::uint32_t(value[1]) << 16 |
                                       std::uint32_t(value[2]) << 8 | value[3];
            if (baud == 0 || baud > kMaxAnsweredBaud) break; // no rate: taken for no answer
            FBaud = baud;
            FAwaiting &= ~kAwaitBaud;
        }
        break;
    // Values outside the ranges below are taken for no answer, like an absurd rate.
    case kCpSetDataSize + kCpServerOffset: // SET-DATASIZE answer: 5 to 8
        if (v < 5 || v > 8) break;
        FDataSize = v;
        FAwaiting &= ~kAwaitDataSize;
        break;
    case kCpSetParity + kCpServerOffset: // SET-PARITY answer: 1 none, 2 odd, 3 even, 4 mark, 5 space
        if (v < 1 || v > 5) break;
        FParity = v;
        FAwaiting &= ~kAwaitParity;
        break;
    case kCpSetStopSize + kCpServerOffset: // SET-STOPSIZE answer: 1, 2, or 3 for 1.5
        if (v < 1 || v > 3) break;
        FStopSize = v;
        FAwaiting &= ~kAwaitStopSize;
        break;
    case kCpSetControl + kCpServerOffset: // SET-CONTROL answer: the state now in force
        switch (v) {
        case kCtlOutFlowNone:
        case kCtlOutFlowXonXoff:
        case kCtlOutFlowHardware:
            FOutFlow = v;
            FInFlow = InboundOfBoth(v);
            FAwaiting &= ~kAwaitFlow;
            break;
        case kCtlOutFlowDcd:
        case kCtlOutFlowDsr:
            FOutFlow = v;
            FAwaiting &= ~kAwaitFlow;
            break;
        case kCtlInFlowNone:
        case kCtlInFlowXonXoff:
        case kCtlInFlowHardware:
        case kCtlInFlowDtr: FInFlow = v; break;
        case kCtlDtrOn:
        case kCtlDtrOff: FDtr = v; break;
        case kCtlRtsOn:
        case kCtlRtsOff: FRts = v; break;
        default: break; // break state and answers to queries we never send
        }
        break;
    case kCpNotifyLineState + kCpServerOffset: // NOTIFY-LINESTATE
        if (v & kLineBreak) {
            FEvents |= EV_BREAK;
            FErrors |= CE_BREAK;
        }
        if (v & kLineFraming) FErrors |= CE_FRAME;
        if (v & kLineParity) FErrors |= CE_RXPARITY;
        if (v & kLineOverrun) FErrors |= CE_OVERRUN;
        if (v & (kLineFraming | kLineParity | kLineOverrun)) FEvents |= EV_ERR;
        break;
    case kCpNotifyModemState + kCpServerOffset: OnModemState(v); break; // NOTIFY-MODEMSTATE
    case kCpPurgeData + kCpServerOffset:                                // PURGE-DATA answer: done
        if (FPurgesOwed == 0) break;
        --FPurgesOwed;
        if (v & kPurgeReceive) FPurgeMark = FData->size();
        break;
    default: break; // mask answers: nothing to keep
    }
}

void TComPortClient::OnModemState(std::uint8_t state) {
    std::uint8_t changed = state & (kModemDeltaCts | kModemDeltaDsr | kModemDeltaCd);
    if (FModemKnown) {
        const std::uint8_t flipped = state ^ FModem;
        if (flipped & kModemCts) changed |= kModemDeltaCts;
        if (flipped & kModemDsr) changed |= kModemDeltaDsr;
        if (flipped & kModemCd) changed |= kModemDeltaCd;
        if (flipped & state & kModemRi) FEvents |= EV_RING;
    }
    if (state & kModemRiTrailingEdge) FEvents |= EV_RING;
    if (changed & kModemDeltaCts) FEvents |= EV_CTS;
    if (changed & kModemDeltaDsr) FEvents |= EV_DSR;
    if (changed & kModemDeltaCd) FEvents |= EV_RLSD;
    FModem = state & (kModemCd | kModemRi | kModemDsr | kModemCts);
    FModemKnown = true;
}

void TComPortClient::Receive(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data) {
    FData = &data;
    FPurgeMark.reset();
    FParser.Feed(bytes, size, data, *this);
    FData = nullptr;
}

std::size_t TComPortClient::ReceiveControl(const std::uint8_t* bytes, std::size_t size,
                                           std::vector<std::uint8_t>& data) {
    FData = &data;
    FPurgeMark.reset();
    const std::size_t taken = FParser.FeedControl(bytes, size, *this);
    FData = nullptr;
    return taken;
}

bool TComPortClient::TakeAnswerRoom(std::size_t size) {
    if (size > FAnswerRoom) {
        FAnswersDropped = true;
        return false;
    }
    FAnswerRoom -= size;
    return true;
}

bool TComPortClient::TakeAnswersDropped() {
    const bool dropped = FAnswersDropped;
    FAnswersDropped = false;
    return dropped;
}

std::optional<std::size_t> TComPortClient::TakeReceivePurgeMark() {
    const std::optional<std::size_t> mark = FPurgeMark;
    FPurgeMark.reset();
    return mark;
}

void TComPortClient::Send(const std::uint8_t* bytes, std::size_t size) {
    AppendEscaped(bytes, size, FUs[kOptBinary] == TQ::Yes, FWire);
}

void TComPortClient::SendComPort(std::uint8_t command, std::span<const std::uint8_t> value) {
    std::uint8_t body[1 + kMaxSubnegotiation];
    const std::size_t n = std::min(value.size(), kMaxSubnegotiation);
    body[0] = command;
    std::copy_n(value.begin(), n, body + 1);
    AppendSubnegotiation(kOptComPort, {body, n + 1}, FWire);
}

void TComPortClient::PushSettings(const DCB& dcb) {
    const std::uint8_t baud[4] = {std::uint8_t(dcb.BaudRate >> 24), std::uint8_t(dcb.BaudRate >> 16),
                                  std::uint8_t(dcb.BaudRate >> 8), std::uint8_t(dcb.BaudRate)};
    SendComPort(kCpSetBaudRate, baud);
    const std::uint8_t size = dcb.ByteSize;
    SendComPort(kCpSetDataSize, {&size, 1});
    const std::uint8_t parity = std::uint8_t(dcb.Parity + 1); // NOPARITY..SPACEPARITY -> 1..5
    SendComPort(kCpSetParity, {&parity, 1});
    const std::uint8_t stop = dcb.StopBits == TWOSTOPBITS ? 2 : dcb.StopBits == ONE5STOPBITS ? 3 : 1;
    SendComPort(kCpSetStopSize, {&stop, 1});
    // One value sets both directions; the inbound one follows only where it differs.
    const std::uint8_t out = OutboundFlow(dcb);
    SendControl(out);
    if (const std::uint8_t in = InboundFlow(dcb); in != InboundOfBoth(out)) SendControl(in);
    // Lines under handshake belong to the server.
    if (dcb.fDtrControl != DTR_CONTROL_HANDSHAKE) SetDtr(dcb.fDtrControl == DTR_CONTROL_ENABLE);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) SetRts(dcb.fRtsControl == RTS_CONTROL_ENABLE);
    FAwaiting = kAwaitBaud | kAwaitDataSize | kAwaitParity | kAwaitStopSize | kAwaitFlow;
}

void TComPortClient::ApplyAnswers(DCB& dcb) const {
    if (FBaud) dcb.BaudRate = FBaud;
    if (FDataSize) dcb.ByteSize = FDataSize;
    if (FParity) dcb.Parity = std::uint8_t(FParity - 1);
    if (FStopSize) dcb.StopBits = FStopSize == 2 ? TWOSTOPBITS : FStopSize == 3 ? ONE5STOPBITS : ONESTOPBIT;
    if (FDtr && dcb.fDtrControl != DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = FDtr == kCtlDtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (FRts == kCtlRtsOn && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (FRts == kCtlRtsOff && dcb.fRtsControl == RTS_CONTROL_ENABLE) dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (FOutFlow) {
        dcb.fOutxCtsFlow = FOutFlow == kCtlOutFlowHardware;
        dcb.fOutX = FOutFlow == kCtlOutFlowXonXoff;
        dcb.fOutxDsrFlow = FOutFlow == kCtlOutFlowDsr;
    }
    if (FInFlow) {
        dcb.fInX = FInFlow == kCtlInFlowXonXoff;
        if (FInFlow == kCtlInFlowHardware)
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (FInFlow == kCtlInFlowDtr)
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        else if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
}

void TComPortClient::Purge(bool receive, bool transmit) {
    if (!receive && !transmit) return;
    const std::uint8_t which = std::uint8_t((receive ? kPurgeReceive : 0) | (transmit ? kPurgeTransmit : 0));
    SendComPort(kCpPurgeData, {&which, 1});
    ++FPurgesOwed;
}

void TComPortClient::SetBreak(bool on) {
    SendControl(on ? kCtlBreakOn : kCtlBreakOff);
}

void TComPortClient::SetDtr(bool on) {
    SendControl(on ? kCtlDtrOn : kCtlDtrOff);
    FOutDtr = on;
}

void TComPortClient::SetRts(bool on) {
    SendControl(on ? kCtlRtsOn : kCtlRtsOff);
    FOutRts = on;
}

void TComPortClient::AskModemState() {
    const std::uint8_t all = 0xFF;
    SendComPort(kCpSetModemStateMask, {&all, 1});
    FModemAsked = true;
}

std::optional<std::uint8_t> TComPortClient::ModemState() const {
    if (!FModemKnown) return std::nullopt;
    return FModem;
}

std::uint32_t TComPortClient::TakeEvents() {
    const std::uint32_t events = FEvents;
    FEvents = 0;
    return events;
}

std::uint32_t TComPortClient::TakeErrors() {
    const std::uint32_t errors = FErrors;
    FErrors = 0;
    return errors;
}

} // namespace qorvel::platform::telnet
