#include "platform/termios_map.h"

#include <iterator>

namespace qorvel::platform {

namespace {

struct TSpeed {
    std::uint32_t Baud;
    speed_t Code;
};

// Every rate the Linux termios interface names; other tools (stty, tcgetattr) read these back
// as the rate itself rather than as the custom-speed flag.
constexpr TSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

std::uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

std::uint8_t ParityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) return NOPARITY;
    if (cflag & CMSPAR) return (cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    return (cflag & PARODD) ? ODDPARITY : EVENPARITY;
}

tcflag_t ParityFlags(std::uint8_t parity) {
    switch (parity) {
    case ODDPARITY: return PARENB | PARODD;
    case EVENPARITY: return PARENB;
    case MARKPARITY: return PARENB | CMSPAR | PARODD;
    case SPACEPARITY: return PARENB | CMSPAR;
    default: return 0;
    }
}

bool WantsCrtscts(const DCB& dcb) {
    return dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
}

} // namespace

speed_t StandardSpeed(std::uint32_t baud) {
    for (const TSpeed& s : kStandardSpeeds)
        if (s.Baud == baud) return s.Code;
    return B0;
}

bool DcbToTermios(const DCB& dcb, termios& t) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS || (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5))
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~kDcbCflags;
    t.c_cflag |= CLOCAL | CREAD | kSizes[dcb.ByteSize - 5] | ParityFlags(dcb.Parity);
    // At 5 data bits a UART sends 1.5 stop bits for CSTOPB, otherwise 2.
    if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    if (WantsCrtscts(dcb)) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(kDcbIflags | IXANY);
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    if (dcb.fParity && dcb.Parity != NOPARITY) t.c_iflag |= INPCK;
    t.c_cc[VSTART] = cc_t(dcb.XonChar);
    t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (const speed_t code = StandardSpeed(dcb.BaudRate); code != B0) {
        // No separate input rate: it follows the output rate.
        t.c_cflag &= ~(CBAUD | CIBAUD);
        t.c_cflag |= code;
    }
    return true;
}

bool HasCustomSpeed(const termios& t) {
    return (t.c_cflag & CBAUD) == kCustomSpeedFlag;
}

void PseudoTerminalForm(termios& t) {
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8 | CREAD;
}

DCB DcbFromTermios(const termios& t, std::uint32_t baud, const DCB& previous) {
    DCB dcb = previous;
    dcb.fBinary = 1;
    dcb.BaudRate = baud;
    dcb.ByteSize = ByteSizeOf(t.c_cflag);
    dcb.Parity = ParityOf(t.c_cflag);
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else if (dcb.ByteSize != 5 || previous.StopBits != ONE5STOPBITS)
        dcb.StopBits = TWOSTOPBITS;
    if ((t.c_cflag & CRTSCTS) == 0) {
        dcb.fOutxCtsFlow = 0;
        if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
    } else if (!WantsCrtscts(previous)) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    dcb.fOutX = (t.c_iflag & IXON) != 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0;
    // Without parity on the line the check has no flag to live in: the block keeps its own.
    if (t.c_cflag & PARENB) dcb.fParity = (t.c_iflag & INPCK) != 0;
    dcb.XonChar = char(t.c_cc[VSTART]);
    dcb.XoffChar = char(t.c_cc[VSTOP]);
    return dcb;
}

TModemLines ModemLinesOf(const DCB& dcb) {
    return {dcb.fDtrControl != DTR_CONTROL_DISABLE,
            dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE};
}

} // namespace qorvel::platform
