// The component's settings through the termios translation, with no device: every flow-control
// choice against every line format, and the speeds, to termios and back.
#include "platform/termios_map.h"
#include "serial/xcomm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qorvel {
namespace {

using namespace platform;

struct TFlowRow {
    const char* Name;
    TFlowControl Flow;
    TRTSSettings Rts;
    TDTRSettings Dtr;
    TXOnXOffSettings XOnXOff;
    tcflag_t Iflags;             // among IXON | IXOFF
    bool Crtscts;                // hardware output flow in the kernel
    platform::TModemLines Lines; // DTR, RTS raised
};

const TFlowRow kFlowRows[] = {
    {"None", TFlowControl::fcNone, {}, {}, {}, 0, false, {false, false}},
    {"CTS/RTS", TFlowControl::fcRtsCts, {}, {}, {}, 0, true, {true, true}},
    {"DTR/DSR", TFlowControl::fcDtrDsr, {}, {}, {}, 0, false, {true, true}},
    {"XOn/XOff", TFlowControl::fcSoftware, {}, {}, {}, IXON | IXOFF, false, {true, false}},
    {"custom CTS out only", TFlowControl::fcCustom, {TRTSSetting::fsCTSOut}, {}, {}, 0, true, {false, false}},
    {"custom RTS toggle",
     TFlowControl::fcCustom,
     {TRTSSetting::fsRTSEnabled, TRTSSetting::fsRTSHandshake},
     {},
     {},
     0,
     false,
     {false, false}},
    {"custom RTS on, DTR handshake",
     TFlowControl::fcCustom,
     {TRTSSetting::fsRTSEnabled},
     {TDTRSetting::fsDTRHandshake},
     {},
     0,
     false,
     {true, true}},
    {"custom out X only",
     TFlowControl::fcCustom,
     {},
     {},
     {TXOnXOffSetting::fsOutX},
     IXON,
     false,
     {false, false}},
    {"custom in X only",
     TFlowControl::fcCustom,
     {},
     {TDTRSetting::fsDTREnabled},
     {TXOnXOffSetting::fsInX},
     IXOFF,
     false,
     {true, false}},
};

struct TFormatRow {
    TDataBits Bits;
    TParity Parity;
    TStopBits Stop;
};

constexpr tcflag_t kSize[] = {0, CS5, CS6, CS7, CS8}; // by TDataBits
constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};

std::string FormatName(const TFormatRow& f) {
    return std::to_string(static_cast<int>(f.Bits) + 4) + ParityNames[static_cast<int>(f.Parity)].data() +
           StopBitsNames[static_cast<int>(f.Stop)].data();
}

DCB BuildFrom(const TFlowRow& flow, const TFormatRow& format, bool parityCheck) {
    TXComm comm;
    comm.SetFlowControl(flow.Flow);
    comm.SetRTSSettings(flow.Rts);
    comm.SetDTRSettings(flow.Dtr);
    comm.SetXOnXOffSettings(flow.XOnXOff);
    if (parityCheck) comm.SetOptions({TCommOption::coParityCheck});
    comm.DataControl().SetDataBits(format.Bits);
    comm.DataControl().SetParity(format.Parity);
    comm.DataControl().SetStopBits(format.Stop);
    return comm.BuildDCB();
}

// A termios record as a device would hold it before the translation: cooked, some other speed.
termios Cooked() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | B38400 | (B38400 << 16);
    t.c_lflag = ICANON | ECHO | ISIG;
    return t;
}

TEST(LineSettings, EveryFlowControlChoiceWithEveryFormatToTermiosAndBack) {
    int checked = 0;
    for (const TFlowRow& flow : kFlowRows)
        for (int bits = 1; bits <= 4; ++bits)
            for (int parity = 0; parity <= 4; ++parity)
                for (int stop = 0; stop <= 2; ++stop)
                    for (bool parityCheck : {false, true}) {
                        const TFormatRow format{TDataBits(bits), TParity(parity), TStopBits(stop)};
                        SCOPED_TRACE(std::string(flow.Name) + " " + FormatName(format) +
                                     (parityCheck ? " checked" : ""));
                        const DCB dcb = BuildFrom(flow, format, parityCheck);
                        termios t = Cooked();
                        const termios before = t;
                        if (format.Stop == TStopBits::sb1p5 && format.Bits != TDataBits::db5) {
                            // The line has no 1.5 stop bits beside 5 data bits: refused, untouched.
                            EXPECT_FALSE(DcbToTermios(dcb, t));
                            EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
                            continue;
                        }
                        ASSERT_TRUE(DcbToTermios(dcb, t));
                        tcflag_t cflags = kSize[bits] | kParity[parity];
                        if (format.Stop != TStopBits::sb1) cflags |= CSTOPB;
                        if (flow.Crtscts) cflags |= CRTSCTS;
                        tcflag_t iflags = flow.Iflags;
                        if (parityCheck && format.Parity != TParity::paNone) iflags |= INPCK;
                        EXPECT_EQ(t.c_cflag & kDcbCflags, cflags);
                        EXPECT_EQ(t.c_iflag & (kDcbIflags | IXANY | ICRNL), iflags);
                        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
                        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
                        EXPECT_EQ(t.c_oflag & OPOST, 0u);
                        EXPECT_EQ(t.c_cc[VSTART], 0x11);
                        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
                        EXPECT_EQ(t.c_cc[VMIN], 1);
                        EXPECT_EQ(t.c_cc[VTIME], 0);
                        EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
                        const platform::TModemLines lines = ModemLinesOf(dcb);
                        EXPECT_EQ(lines.Dtr, flow.Lines.Dtr);
                        EXPECT_EQ(lines.Rts, flow.Lines.Rts);

                        // Back, from a block that knows only what termios cannot say.
                        DCB hint = dcb;
                        hint.ByteSize = 8;
                        hint.Parity = NOPARITY;
                        hint.fOutX = hint.fInX = 0;
                        hint.XonChar = hint.XoffChar = 0;
                        hint.BaudRate = 1;
                        EXPECT_EQ(DcbFromTermios(t, 9600, hint), dcb);

                        // A pseudo-terminal holds 8 data bits and no parity, and says so.
                        termios pty = t;
                        PseudoTerminalForm(pty);
                        DCB held = dcb;
                        held.ByteSize = 8;
                        held.Parity = NOPARITY;
                        if (format.Stop == TStopBits::sb1p5) held.StopBits = TWOSTOPBITS;
                        EXPECT_EQ(DcbFromTermios(pty, 9600, dcb), held);
                        ++checked;
                    }
    EXPECT_EQ(checked, 9 * (4 * 5 * 2 + 5) * 2); // 1.5 stop bits only at 5 data bits
}

TEST(LineSettings, StandardSpeedsUseTheirConstantOthersTheCustomPath) {
    const struct {
        std::uint32_t Baud;
        speed_t Code; // B0: no constant, the speed bits stay for the custom path
    } kCases[] = {
        {50, B50},           {110, B110},         {300, B300},       {9600, B9600},     {19200, B19200},
        {38400, B38400},     {57600, B57600},     {115200, B115200}, {230400, B230400}, {921600, B921600},
        {3000000, B3000000}, {4000000, B4000000}, {14400, B0},       {56000, B0},       {128000, B0},
        {256000, B0},        {250000, B0},        {31250, B0},       {9601, B0},        {4000001, B0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Baud);
        EXPECT_EQ(StandardSpeed(c.Baud), c.Code);
        DCB dcb = BuildFrom(kFlowRows[0], {TDataBits::db8, TParity::paNone, TStopBits::sb1}, false);
        dcb.BaudRate = c.Baud;
        termios t = Cooked();
        ASSERT_TRUE(DcbToTermios(dcb, t));
        if (c.Code != B0) {
            EXPECT_EQ(cfgetospeed(&t), c.Code);
            EXPECT_EQ(cfgetispeed(&t), c.Code);
            EXPECT_EQ(t.c_cflag & CIBAUD, 0u); // the input rate follows the output rate
            EXPECT_FALSE(HasCustomSpeed(t));
        } else {
            EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
        }
        EXPECT_EQ(DcbFromTermios(t, c.Baud, dcb).BaudRate, c.Baud);
    }
    DCB zero = BuildFrom(kFlowRows[0], {TDataBits::db8, TParity::paNone, TStopBits::sb1}, false);
    zero.BaudRate = 0;
    termios t = Cooked();
    EXPECT_FALSE(DcbToTermios(zero, t)); // speed 0 would hang the line up
}

} // namespace
} // namespace qorvel
