#include "platform/ports.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <libudev.h>
#include <memory>
#include <tuple>

#include "platform/commapi.h"

namespace qorvel::platform {

namespace {

constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";
constexpr char kEmDash[] = "\xE2\x80\x94";
// The uart type a legacy 8250 port reports when no hardware answered (PORT_UNKNOWN).
constexpr std::string_view kNoUart = "0";

struct UdevDeleter {
    void operator()(udev_device* Device) const { udev_device_unref(Device); }
    void operator()(udev_enumerate* Enumerate) const { udev_enumerate_unref(Enumerate); }
    void operator()(udev* Udev) const { udev_unref(Udev); }
};
using TDevice = std::unique_ptr<udev_device, UdevDeleter>;

std::string Text(const char* Value) {
    return Value ? std::string(Value) : std::string();
}

std::string Property(udev_device* Device, const char* Name) {
    return Text(udev_device_get_property_value(Device, Name));
}

// The readable form of a value that udev gives three ways: the encoded original, the original with
// blanks made underscores, and the name from the hardware database.
std::string Readable(udev_device* Device, const char* Encoded, const char* Plain, const char* Database) {
    if (std::string value = DecodeUdevText(Property(Device, Encoded)); !value.empty()) return value;
    std::string value = Property(Device, Plain);
    std::replace(value.begin(), value.end(), '_', ' ');
    if (!value.empty()) return value;
    return Property(Device, Database);
}

std::string DriverOf(udev_device* Device) {
    if (std::string driver = Property(Device, "ID_USB_DRIVER"); !driver.empty()) return driver;
    // The serial core's own port and controller devices (bus "serial-base") sit between a tty and
    // the device that carries it; the carrier's driver is the one that says what the port is.
    for (udev_device* d = udev_device_get_parent(Device); d; d = udev_device_get_parent(d)) {
        const char* subsystem = udev_device_get_subsystem(d);
        if (subsystem && std::strcmp(subsystem, "serial-base") == 0) continue;
        if (const char* driver = udev_device_get_driver(d)) return driver;
    }
    return {};
}

std::vector<std::string> SplitWords(const std::string& Text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < Text.size()) {
        const std::size_t end = std::min(Text.find(' ', i), Text.size());
        if (end > i) words.push_back(Text.substr(i, end - i));
        i = end + 1;
    }
    return words;
}

// Works for a device read from sysfs and for one carried by an event; a removed device has no
// sysfs left, so only its properties are used.
TPortInfo Describe(udev_device* Device) {
    TPortInfo port;
    port.DeviceNode = Text(udev_device_get_devnode(Device));
    port.SysPath = Text(udev_device_get_syspath(Device));
    // The DEVLINKS property holds the links both for devices read from the database and for those
    // carried by an event.
    port.Links = SplitWords(Property(Device, "DEVLINKS"));
    std::sort(port.Links.begin(), port.Links.end());
    port.Path = port.DeviceNode;
    for (const std::string& link : port.Links) {
        if (link.starts_with(kByIdFolder)) {
            port.Path = link;
            break;
        }
    }
    TPortProperties properties{port.DeviceNode,
                               Readable(Device, "ID_MODEL_ENC", "ID_MODEL", "ID_MODEL_FROM_DATABASE"),
                               Readable(Device, "ID_VENDOR_ENC", "ID_VENDOR", "ID_VENDOR_FROM_DATABASE"),
                               Property(Device, "ID_SERIAL_SHORT"), DriverOf(Device)};
    port.Description = DescribePort(properties);
    return port;
}

bool IsHardwarePort(udev_device* Device) {
    if (!udev_device_get_devnode(Device)) return false;
    const std::string sysPath = Text(udev_device_get_syspath(Device));
    // Virtual consoles, ptmx and friends have no parent device.
    if (sysPath.find("/devices/virtual/") != std::string::npos || !udev_device_get_parent(Device))
        return false;
    const char* type = udev_device_get_sysattr_value(Device, "type");
    return !(type && std::string_view(type) == kNoUart);
}

} // namespace

bool PortOrder(const TPortInfo& A, const TPortInfo& B) {
    // Letters first, then the number as a number.
    const auto split = [](const std::string& Node) {
        std::size_t digits = Node.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(Node[digits - 1])))
            --digits;
        const std::string number = Node.substr(digits);
        return std::make_tuple(Node.substr(0, digits), number.size(), number);
    };
    return split(A.DeviceNode) < split(B.DeviceNode);
}

bool TPortInfo::Names(std::string_view Name) const {
    const std::string path = DevicePath(Name);
    return path == Path || path == DeviceNode || std::find(Links.begin(), Links.end(), path) != Links.end();
}

std::string DescribePort(const TPortProperties& Port) {
    const bool model = !Port.Model.empty();
    std::string text = model ? Port.Model : "Serial port";
    std::string details;
    for (const std::string* part : {&Port.Vendor, &Port.Serial, model ? nullptr : &Port.Driver}) {
        if (!part || part->empty()) continue;
        if (!details.empty()) details += ", ";
        details += *part;
    }
    if (!details.empty()) text += " (" + details + ")";
    return text + " " + kEmDash + " " + Port.DeviceNode;
}

std::string DecodeUdevText(std::string_view Text) {
    std::string out;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const auto hex = [&](std::size_t At) {
            return std::isxdigit(static_cast<unsigned char>(Text[At])) != 0;
        };
        if (Text[i] == '\\' && i + 3 < Text.size() && Text[i + 1] == 'x' && hex(i + 2) && hex(i + 3)) {
            out.push_back(static_cast<char>(std::stoi(std::string(Text.substr(i + 2, 2)), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(Text[i]);
        }
    }
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!out.empty() && blank(out.back()))
        out.pop_back();
    out.erase(out.begin(), std::find_if_not(out.begin(), out.end(), blank));
    return out;
}

std::vector<TPortInfo> ListPorts() {
    std::vector<TPortInfo> ports;
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return ports;
    std::unique_ptr<udev_enumerate, UdevDeleter> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return ports;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        TDevice device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device && IsHardwarePort(device.get())) ports.push_back(Describe(device.get()));
    }
    std::sort(ports.begin(), ports.end(), PortOrder);
    return ports;
}

TPortMonitor::TPortMonitor() {
    FUdev = udev_new();
    if (!FUdev) return;
    // The "udev" source: events come after udev's rules ran, so links and permissions are in place.
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    if (FMonitor && (udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "tty", nullptr) < 0 ||
                     udev_monitor_enable_receiving(FMonitor) < 0)) {
        udev_monitor_unref(FMonitor);
        FMonitor = nullptr;
    }
}

TPortMonitor::~TPortMonitor() {
    if (FMonitor) udev_monitor_unref(FMonitor);
    if (FUdev) udev_unref(FUdev);
}

int TPortMonitor::Fd() const {
    return FMonitor ? udev_monitor_get_fd(FMonitor) : -1;
}

std::vector<TPortEvent> TPortMonitor::ReadEvents() {
    std::vector<TPortEvent> events;
    if (!FMonitor) return events;
    // The socket is non-blocking: this ends when nothing more is waiting.
    while (TDevice device{udev_monitor_receive_device(FMonitor)}) {
        const std::string action = Text(udev_device_get_action(device.get()));
        if (action == "add" && IsHardwarePort(device.get()))
            events.push_back({TPortChange::pcAdded, Describe(device.get())});
        else if (action == "remove" && udev_device_get_devnode(device.get()))
            events.push_back({TPortChange::pcRemoved, Describe(device.get())});
    }
    return events;
}

} // namespace qorvel::platform
