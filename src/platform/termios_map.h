#pragma once
// The device control block's termios form and the way back. Pure functions with no device, so
// every combination can be checked in a table; the termios device only applies them.
#include "platform/commapi.h"

#include <cstdint>
#include <termios.h>

namespace qorvel::platform {

// The termios bits that the control block decides and that a device may refuse.
inline constexpr tcflag_t kDcbCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
inline constexpr tcflag_t kDcbIflags = IXON | IXOFF | INPCK;

// The speed code that marks a rate set through the custom path (BOTHER of <asm/termbits.h>).
inline constexpr tcflag_t kCustomSpeedFlag = CBAUDEX;

// The Bnnn constant for `baud`, or B0 when the rate has none (it then needs the custom path).
speed_t StandardSpeed(std::uint32_t baud);

// Puts the control block's line format, flow control, flow characters and, for a rate with a
// Bnnn constant, the speed into `t`; everything else becomes raw mode. A rate without a constant
// leaves the speed bits alone for the custom path. False, with `t` unchanged, when the block has
// no termios form: a field out of range, speed 0 (termios would hang up), or 1.5 stop bits with
// more than 5 data bits (a UART sends 1.5 only at 5 data bits).
bool DcbToTermios(const DCB& dcb, termios& t);

// True when `t` carries its speed in the custom path rather than as a Bnnn constant.
bool HasCustomSpeed(const termios& t);

// What a pseudo-terminal makes of `t`: it forces 8 data bits and no parity and keeps the rest.
// Asking for exactly that keeps tcsetattr from refusing a request it would have to change.
void PseudoTerminalForm(termios& t);

// The control block that `t` and the line speed `baud` describe. Members with no termios form
// (DTR/RTS control, limits, event characters) come from `previous`, which also tells 1.5 from
// 2 stop bits at 5 data bits (one CSTOPB bit for both) and which of CTS output flow and RTS
// handshake asked for CRTSCTS.
DCB DcbFromTermios(const termios& t, std::uint32_t baud, const DCB& previous);

// The DTR and RTS line states a control block asks for. DTR handshake has no termios form and
// raises the line so the peer may send; under RTS handshake the kernel drives RTS and it starts
// raised; toggle mode leaves RTS off while idle.
struct TModemLines {
    bool Dtr;
    bool Rts;
};
TModemLines ModemLinesOf(const DCB& dcb);

} // namespace qorvel::platform
