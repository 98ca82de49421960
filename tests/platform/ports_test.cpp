// The port list, its descriptions and the hot-plug monitor, read by the real libudev from a
// sandboxed /sys and /dev (umockdev); and qorvel-terminal --list over the same sandbox.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <poll.h>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "serial_testbed.h"

namespace qorvel::platform {
namespace {

using test::AcmAdapter;
using test::Ch340Adapter;
using test::FtdiAdapter;
using test::SerialTestbed;

constexpr char kFtdiById[] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
constexpr char kAcmById[] = "/dev/serial/by-id/usb-Raspberry_Pi_Pico_E660C06213753A2A-if00";
constexpr char kFtdiText[] = "FT232R USB UART (FTDI, A50285BI) \xE2\x80\x94 /dev/ttyUSB0";
constexpr char kAcmText[] = "Pico (Raspberry Pi, E660C06213753A2A) \xE2\x80\x94 /dev/ttyACM0";
constexpr char kUartText[] = "Serial port (serial) \xE2\x80\x94 /dev/ttyS0";
constexpr char kCh340ById[] = "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0";
constexpr char kCh340ByPath4[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0";
constexpr char kCh340ByPath5[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0";

// A machine's other ttys: a virtual console, a legacy 8250 port without a UART behind it, and one
// with a UART found by the firmware (pnp), whose driver names it.
constexpr char kOtherTtys[] =
    "P: /devices/virtual/tty/tty1\nN: tty1\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty1\n\n"
    "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n\n"
    "P: /devices/platform/serial8250/tty/ttyS1\nN: ttyS1\nA: type=0\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS1\n\n"
    "P: /devices/pnp0/00:04\nE: SUBSYSTEM=pnp\nL: driver=../../../bus/pnp/drivers/serial\n\n"
    "P: /devices/pnp0/00:04/tty/ttyS0\nN: ttyS0\nA: type=4\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\n";

struct Line {
    std::string Path;
    std::string Description;
    bool operator==(const Line&) const = default;
};

std::vector<Line> Lines(const std::vector<TPortInfo>& Ports) {
    std::vector<Line> lines;
    for (const TPortInfo& port : Ports)
        lines.push_back({port.Path, port.Description});
    return lines;
}

const std::vector<Line> kMachine = {{kAcmById, kAcmText}, {"/dev/ttyS0", kUartText}, {kFtdiById, kFtdiText}};

// Waits for the monitor's socket, then takes what it holds.
std::vector<TPortEvent> NextEvents(TPortMonitor& Monitor) {
    pollfd p{Monitor.Fd(), POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return {};
    return Monitor.ReadEvents();
}

TEST(PortDescription, FromProperties) {
    const struct {
        const char* Name;
        TPortProperties Port;
        const char* Text;
    } cases[] = {
        {"model, vendor and serial",
         {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI", "ftdi_sio", ""},
         kFtdiText},
        {"no serial number",
         {"/dev/ttyUSB1", "CP2102", "Silicon Labs", "", "cp210x", ""},
         "CP2102 (Silicon Labs) \xE2\x80\x94 /dev/ttyUSB1"},
        {"driver stands in for the model", {"/dev/ttyS0", "", "", "", "serial", ""}, kUartText},
        {"nothing known", {"/dev/ttyS4", "", "", "", "", ""}, "Serial port \xE2\x80\x94 /dev/ttyS4"},
        {"named by its socket, and why",
         {"/dev/ttyUSB1", "USB Serial", "1a86", "", "ch341", "no serial number"},
         "USB Serial (1a86, no serial number) \xE2\x80\x94 /dev/ttyUSB1"},
        {"a model that would retitle the terminal and forge a line and a column",
         {"/dev/ttyUSB0", "X\x1b]0;pwned\x07\nfake\tcol", "", "", "", ""},
         "X\\x1b]0;pwned\\x07\\x0afake\\x09col \xE2\x80\x94 /dev/ttyUSB0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribePort(c.Port), c.Text) << c.Name;
}

TEST(PortDescription, DecodesUdevText) {
    const struct {
        const char* Encoded;
        const char* Text;
    } cases[] = {
        {"FT232R\\x20USB\\x20UART", "FT232R USB UART"},
        {"USB2.0-Serial\\x20\\x20\\x20", "USB2.0-Serial"}, // padded by the device
        {"a\\x5cb", "a\\b"},
        {"cut\\x4", "cut\\x4"}, // not an escape: kept
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUdevText(c.Encoded), c.Text) << c.Encoded;
}

TEST(PortDescription, PrintableText) {
    const struct {
        const char* Name;
        std::string Text;
        const char* Printed;
    } cases[] = {
        {"plain", "FT232R USB UART", "FT232R USB UART"},
        {"UTF-8 kept", "Ger\xC3\xA4t \xE2\x80\x94 \xF0\x9F\x94\x8C",
         "Ger\xC3\xA4t \xE2\x80\x94 \xF0\x9F\x94\x8C"},
        {"C0 controls and DEL", std::string("a\x1b[2Jb\r\x7f\0c", 10), "a\\x1b[2Jb\\x0d\\x7f\\x00c"},
        {"C1 control (CSI) as UTF-8",
         "a\xC2\x9B"
         "2Jb",
         "a\\xc2\\x9b2Jb"},
        {"reordering and line separator",
         "a\xE2\x80\xAE"
         "b\xE2\x80\xA8",
         "a\\xe2\\x80\\xaeb\\xe2\\x80\\xa8"},
        {"Latin-1, not UTF-8", "Ger\xE4t", "Ger\\xe4t"},
        {"overlong slash", "\xC0\xAF", "\\xc0\\xaf"},
        {"surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        {"cut short", "end\xE2\x80", "end\\xe2\\x80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrintableText(c.Text), c.Printed) << c.Name;
}

TEST(PortNames, EveryFormOfTheName) {
    const TPortInfo port{
        kFtdiById, "/dev/ttyUSB0", "", {kFtdiById, "/dev/serial/by-path/pci-0-usb-0:2:1.0"}, "", {}, {}};
    const struct {
        const char* Name;
        bool Names;
    } cases[] = {
        {kFtdiById, true},  {"/dev/ttyUSB0", true},
        {"ttyUSB0", true},  {"/dev/serial/by-path/pci-0-usb-0:2:1.0", true},
        {"ttyUSB1", false}, {"COM1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(port.Names(c.Name), c.Names) << c.Name;
}

// Each port gets a name that opens it and no other: the by-id link only while no present port
// shares it.
TEST(Ports, ListsHardwarePortsWithNamesOfTheirOwn) {
    const std::string usbSerial = "USB Serial (1a86) \xE2\x80\x94 /dev/ttyUSB";
    const std::string twin = "USB Serial (1a86, no serial number) \xE2\x80\x94 /dev/ttyUSB";
    const struct {
        const char* Name;
        std::vector<std::string> Ch340Sockets; // plugged in this order after the FTDI cable, if any
        bool Ftdi;
        std::vector<Line> Lines;
    } cases[] = {
        {"the machine", {}, true, kMachine},
        {"one adapter without serial number", {"4"}, false, {{kCh340ById, usbSerial + "0"}}},
        {"two of them",
         {"4", "5"},
         true,
         {{kAcmById, kAcmText},
          {"/dev/ttyS0", kUartText},
          {kFtdiById, kFtdiText},
          {kCh340ByPath4, twin + "1"},
          {kCh340ByPath5, twin + "2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SerialTestbed bed;
        int n = 0;
        if (c.Ftdi) {
            bed.Add(FtdiAdapter(), "ttyUSB0");
            bed.Add(AcmAdapter(), "ttyACM0");
            bed.AddRecord(kOtherTtys);
            ++n;
        }
        for (const std::string& socket : c.Ch340Sockets)
            bed.Add(Ch340Adapter(socket), "ttyUSB" + std::to_string(n++));
        const std::vector<TPortInfo> ports = ListPorts();
        EXPECT_EQ(Lines(ports), c.Lines);
        if (c.Ch340Sockets.size() < 2) continue;
        // The shared link leads to the adapter plugged in last; each by-path name to its own.
        EXPECT_EQ(FindPort(ports, kCh340ById), &ports[4]);
        EXPECT_EQ(FindPort(ports, kCh340ByPath4), &ports[3]);
        EXPECT_EQ(ports[3].Identity.UsbPath, "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0");
        EXPECT_NE(ports[3].Identity, ports[4].Identity);
        EXPECT_TRUE(ports[3].Identity.Known());
        EXPECT_EQ(ports[2].Identity, (TPortIdentity{"0403", "6001", "A50285BI", "00", ""}));
        EXPECT_FALSE(ports[1].Identity.Known()) << "a built-in UART";
    }
}

TEST(Ports, MonitorSeesAdaptersComeAndGo) {
    SerialTestbed bed;
    TPortMonitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    EXPECT_TRUE(ListPorts().empty());

    const std::string ftdi = bed.Add(FtdiAdapter(), "ttyUSB0");
    std::vector<TPortEvent> events = NextEvents(monitor);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Change, TPortChange::pcAdded);
    EXPECT_EQ(events[0].Port.Path, kFtdiById);
    EXPECT_EQ(events[0].Port.Description, kFtdiText);

    bed.Unplug(ftdi);
    events = NextEvents(monitor);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Change, TPortChange::pcRemoved);
    EXPECT_EQ(events[0].Port.SysPath, ftdi);
    EXPECT_EQ(events[0].Port.Path, kFtdiById);
    EXPECT_TRUE(ListPorts().empty());

    // Back under a new kernel name, with the same stable name.
    bed.Add(FtdiAdapter(), "ttyUSB1");
    events = NextEvents(monitor);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Port.Path, kFtdiById);
    EXPECT_EQ(events[0].Port.DeviceNode, "/dev/ttyUSB1");

    // Events lost to a full socket buffer are reported, so the list can be read again.
    test::gLoseNextMessage = true;
    bed.Add(AcmAdapter(), "ttyACM0");
    events = NextEvents(monitor);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Change, TPortChange::pcOverflow);
}

#ifdef QORVEL_TERMINAL
// The program's --list, with no display at all; a device's strings cannot retitle the terminal or
// forge a line or a column.
TEST(Ports, ListOption) {
    SerialTestbed bed;
    bed.Add(FtdiAdapter(), "ttyUSB0");
    bed.Add(AcmAdapter(), "ttyACM0");
    bed.AddRecord(kOtherTtys);
    bed.Add(
        {"/devices/pci0000:00/0000:00:14.0/usb1/1-6", "1-6:1.0", "serial/by-id/usb-1a86_X-if00-port0",
         "serial/by-path/pci-0000:00:14.0-usb-0:6:1.0-port0",
         "E: ID_VENDOR_ID=1a86\nE: ID_MODEL_ENC=X\\x1b]0;pwned\\x07\\x0afake\\x09col\nE: ID_MODEL_ID=7523\n"},
        "ttyUSB1");
    const std::string command =
        std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") + QORVEL_TERMINAL + "' --list";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    std::array<char, 512> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
        out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0);
    std::string expected;
    for (const Line& line : kMachine)
        expected += line.Path + "\t" + line.Description + "\n";
    expected += "/dev/serial/by-id/usb-1a86_X-if00-port0\tX\\x1b]0;pwned\\x07\\x0afake\\x09col \xE2\x80\x94 "
                "/dev/ttyUSB1\n";
    EXPECT_EQ(out, expected);
}
#endif

} // namespace
} // namespace qorvel::platform
