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
         {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI", "ftdi_sio"},
         kFtdiText},
        {"no serial number",
         {"/dev/ttyUSB1", "CP2102", "Silicon Labs", "", "cp210x"},
         "CP2102 (Silicon Labs) \xE2\x80\x94 /dev/ttyUSB1"},
        {"driver stands in for the model", {"/dev/ttyS0", "", "", "", "serial"}, kUartText},
        {"nothing known", {"/dev/ttyS4", "", "", "", ""}, "Serial port \xE2\x80\x94 /dev/ttyS4"},
        {"a model that retitles the terminal, forges a line and a column",
         {"/dev/ttyUSB0", "X\x1b]0;pwned\x07\nfake\tcol", "", "", ""},
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
    const std::pair<std::string, const char*> cases[] = {
        {"Ger\xC3\xA4t \xE2\x80\x94 \xF0\x9F\x94\x8C",
         "Ger\xC3\xA4t \xE2\x80\x94 \xF0\x9F\x94\x8C"}, // UTF-8 kept
        {std::string("\r\x7f\0", 3), "\\x0d\\x7f\\x00"},
        {"\xC2\x9B\x32J", "\\xc2\\x9b2J"},                                // C1 CSI
        {"a\xE2\x80\xAE\x62", "a\\xe2\\x80\\xaeb"},                       // right-to-left override
        {"Ger\xE4t", "Ger\\xe4t"},                                        // Latin-1
        {"\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},            // overlong, surrogate
        {"\xF4\x90\x80\x80 \xE2\x80", "\\xf4\\x90\\x80\\x80 \\xe2\\x80"}, // past U+10FFFF, cut short
    };
    for (const auto& [text, printed] : cases)
        EXPECT_EQ(PrintableText(text), printed);
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

TEST(Ports, ListsHardwarePortsWithStableNames) {
    SerialTestbed bed;
    bed.Add(FtdiAdapter(), "ttyUSB0");
    bed.Add(AcmAdapter(), "ttyACM0");
    bed.AddRecord(kOtherTtys);
    EXPECT_EQ(Lines(ListPorts()), kMachine);
}

// Adapters without a serial number share the by-id link, which leads to the last one plugged in; two
// are named by their USB sockets instead.
TEST(Ports, IdenticalAdaptersNamedBySocket) {
    SerialTestbed bed;
    bed.Add(Ch340Adapter("4"), "ttyUSB0");
    EXPECT_EQ(Lines(ListPorts()),
              (std::vector<Line>{{kCh340ById, "USB Serial (1a86) \xE2\x80\x94 /dev/ttyUSB0"}}));
    bed.Add(Ch340Adapter("5"), "ttyUSB1");
    const std::vector<TPortInfo> ports = ListPorts();
    const std::string twin = "USB Serial (1a86, no serial number) \xE2\x80\x94 /dev/ttyUSB";
    EXPECT_EQ(Lines(ports),
              (std::vector<Line>{{kCh340ByPath4, twin + "0"},
                                 {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0", twin + "1"}}));
    EXPECT_EQ(FindPort(ports, kCh340ById), &ports[1]);
    EXPECT_EQ(FindPort(ports, kCh340ByPath4), &ports[0]);
    EXPECT_NE(ports[0].Identity, ports[1].Identity);
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
    EXPECT_EQ(NextEvents(monitor).at(0).Change, TPortChange::pcOverflow);
}

#ifdef QORVEL_TERMINAL
// The program's --list, with no display at all.
TEST(Ports, ListOption) {
    SerialTestbed bed;
    bed.Add(FtdiAdapter(), "ttyUSB0");
    bed.Add(AcmAdapter(), "ttyACM0");
    bed.AddRecord(kOtherTtys);
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
    EXPECT_EQ(out, expected);
}
#endif

} // namespace
} // namespace qorvel::platform
