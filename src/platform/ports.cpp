#include "platform/ports.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libudev.h>
#include <memory>
#include <sys/stat.h>
#include <tuple>

#include "platform/commapi.h"

namespace qorvel::platform {

namespace {

constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";
constexpr std::string_view kByPathFolder = "/dev/serial/by-path/";
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

// The device path up to the USB interface that carries the tty ("/devices/.../usb1/1-2/1-2:1.0"):
// the same for whatever is plugged into that socket, different for every other socket.
std::string UsbPathOf(udev_device* Device) {
    const std::string path = Text(udev_device_get_devpath(Device));
    std::size_t end = path.size();
    while (end > 0) {
        const std::size_t start = path.rfind('/', end - 1);
        if (start == std::string::npos) break;
        const std::string_view part(path.data() + start + 1, end - start - 1);
        // An interface is "<bus>-<ports>:<configuration>.<interface>".
        if (part.find('-') != std::string_view::npos && part.find(':') != std::string_view::npos &&
            part.find('.') != std::string_view::npos)
            return path.substr(0, end);
        end = start;
    }
    return {};
}

const std::string* FirstLink(const TPortInfo& Port, std::string_view Folder) {
    for (const std::string& link : Port.Links)
        if (link.starts_with(Folder)) return &link;
    return nullptr;
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
    port.Properties = {port.DeviceNode,
                       Readable(Device, "ID_MODEL_ENC", "ID_MODEL", "ID_MODEL_FROM_DATABASE"),
                       Readable(Device, "ID_VENDOR_ENC", "ID_VENDOR", "ID_VENDOR_FROM_DATABASE"),
                       Property(Device, "ID_SERIAL_SHORT"), DriverOf(Device)};
    TPortIdentity& identity = port.Identity;
    identity.Vendor = Property(Device, "ID_VENDOR_ID");
    identity.Model = Property(Device, "ID_MODEL_ID");
    identity.Serial = port.Properties.Serial;
    identity.Interface = Property(Device, "ID_USB_INTERFACE_NUM");
    if (identity.Serial.empty() && !identity.Vendor.empty()) identity.UsbPath = UsbPathOf(Device);
    // Named alone until NamePorts sees the others.
    std::vector<TPortInfo> alone{port};
    NamePorts(alone);
    return alone.front();
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

std::string DescribePort(const TPortProperties& Port, const std::string& Note) {
    const bool model = !Port.Model.empty();
    std::string text = model ? Port.Model : "Serial port";
    std::string details;
    for (const std::string* part : {&Port.Vendor, &Port.Serial, model ? nullptr : &Port.Driver, &Note}) {
        if (!part || part->empty()) continue;
        if (!details.empty()) details += ", ";
        details += *part;
    }
    if (!details.empty()) text += " (" + details + ")";
    return PrintableText(text + " " + kEmDash + " " + Port.DeviceNode);
}

std::string PrintableText(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    const auto escape = [&](std::string_view Bytes) {
        for (const char c : Bytes) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            out += hex;
        }
    };
    std::size_t i = 0;
    while (i < Text.size()) {
        const auto lead = static_cast<unsigned char>(Text[i]);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F)
                escape(Text.substr(i, 1));
            else
                out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // UTF-8: the length from the lead byte, and the range its second byte must fall in so that
        // overlong forms, surrogates and code points past U+10FFFF are refused.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        bool valid = length > 0 && i + length <= Text.size();
        char32_t code = length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(Text[i + k]);
            valid = k == 1 ? c >= low && c <= high : c >= 0x80 && c <= 0xBF;
            code = (code << 6) | (c & 0x3F);
        }
        if (!valid) {
            escape(Text.substr(i, 1));
            ++i;
            continue;
        }
        // C1 controls, line and paragraph separators, and the marks that reorder text.
        const bool control = code <= 0x9F || code == 0x200E || code == 0x200F || code == 0x2028 ||
                             code == 0x2029 || (code >= 0x202A && code <= 0x202E) ||
                             (code >= 0x2066 && code <= 0x2069);
        if (control)
            escape(Text.substr(i, length));
        else
            out.append(Text.substr(i, length));
        i += length;
    }
    return out;
}

void NamePorts(std::vector<TPortInfo>& Ports) {
    for (TPortInfo& port : Ports) {
        const std::string* byId = FirstLink(port, kByIdFolder);
        const bool shared = byId && std::any_of(Ports.begin(), Ports.end(), [&](const TPortInfo& Other) {
                                return &Other != &port && std::find(Other.Links.begin(), Other.Links.end(),
                                                                    *byId) != Other.Links.end();
                            });
        const std::string* byPath = FirstLink(port, kByPathFolder);
        port.Path = byId && !shared ? *byId : byPath ? *byPath : port.DeviceNode;
        const char* note = port.Properties.Serial.empty() ? "no serial number" : "serial number not unique";
        port.Description = DescribePort(port.Properties, shared ? note : "");
    }
}

const TPortInfo* FindPort(const std::vector<TPortInfo>& Ports, std::string_view Name) {
    // A by-id link that twins share leads to one of them: the one whose node it opens, which is
    // the same file as the link's target.
    struct stat named {};
    if (::stat(DevicePath(Name).c_str(), &named) == 0) {
        for (const TPortInfo& port : Ports) {
            struct stat node {};
            if (::stat(port.DeviceNode.c_str(), &node) == 0 && node.st_dev == named.st_dev &&
                node.st_ino == named.st_ino)
                return &port;
        }
    }
    for (const TPortInfo& port : Ports)
        if (port.Names(Name)) return &port;
    return nullptr;
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
    NamePorts(ports);
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
    // The socket is non-blocking: this ends when nothing more is waiting. Events the kernel could
    // not queue are lost (ENOBUFS); the caller then reads the list again.
    for (;;) {
        errno = 0;
        TDevice device{udev_monitor_receive_device(FMonitor)};
        if (!device) {
            if (errno != ENOBUFS) break;
            if (events.empty() || events.back().Change != TPortChange::pcOverflow)
                events.push_back({TPortChange::pcOverflow, {}});
            continue;
        }
        const std::string action = Text(udev_device_get_action(device.get()));
        if (action == "add" && IsHardwarePort(device.get()))
            events.push_back({TPortChange::pcAdded, Describe(device.get())});
        else if (action == "remove" && udev_device_get_devnode(device.get()))
            events.push_back({TPortChange::pcRemoved, Describe(device.get())});
    }
    return events;
}

} // namespace qorvel::platform
