#pragma once
// The machine's serial ports from the system's device database (libudev): the list, with a stable
// name and a readable description for each port, and a monitor of ports coming and going whose one
// socket the application serves from its own event loop. No Qt here.
#include <string>
#include <string_view>
#include <vector>

struct udev;
struct udev_monitor;

namespace qorvel::platform {

// What a description is made of, taken from the udev properties of the tty device.
struct TPortProperties {
    std::string DeviceNode;
    std::string Model;
    std::string Vendor;
    std::string Serial;
    std::string Driver;
};

// Which device a port is, so that a device coming back is told from an identical one. Adapters
// without a serial number differ only by the USB socket they are plugged into.
struct TPortIdentity {
    std::string Vendor; // the USB vendor and product ids
    std::string Model;
    std::string Serial;
    std::string Interface; // which of an adapter's ports
    std::string UsbPath;   // the socket and interface, kept only when there is no serial number

    // A USB device that udev identified and that can be told from its twins. Other ports (network,
    // pseudo-terminals, built-in UARTs) have none.
    bool Known() const { return !Vendor.empty() && (!Serial.empty() || !UsbPath.empty()); }
    bool operator==(const TPortIdentity&) const = default;
};

struct TPortInfo {
    // The name to open: the /dev/serial/by-id link where udev made one and no other present port
    // shares it (it survives a replug under a new kernel name); else the /dev/serial/by-path link
    // (the USB socket); else DeviceNode.
    std::string Path;
    std::string DeviceNode; // the kernel's node, "/dev/ttyUSB0"
    std::string SysPath;    // identifies the device while it is present
    std::vector<std::string> Links;
    std::string Description; // "FT232R USB UART (FTDI, A50285BI) — /dev/ttyUSB0"
    TPortProperties Properties;
    TPortIdentity Identity;

    // Whether a port name as the operator gives it ("ttyUSB0", a /dev path, any of the links)
    // names this port.
    bool Names(std::string_view Name) const;
};

// "Model (Vendor, Serial, Note) — /dev/node"; without a model "Serial port (Vendor, Serial, driver,
// Note) — ...". Parts that are not known are left out. The text is safe to print (PrintableText).
// Note says why a port is not named by its by-id link.
std::string DescribePort(const TPortProperties& Port, const std::string& Note = {});

// The text with every byte that is not printable text written as \xNN: control bytes, DEL,
// C1 controls, line separators and bidirectional overrides, and bytes of invalid UTF-8. Device
// strings pass through here, so a device cannot move the cursor or forge lines and columns.
std::string PrintableText(std::string_view Text);

// Sets each port's Path and Description from the ports present with it: a by-id link that two
// ports share (identical adapters without a serial number) names neither of them.
void NamePorts(std::vector<TPortInfo>& Ports);

// The port that a name as the operator gives it opens: a link is followed to its node, since a
// by-id link that twins share leads to one of them. Null when none does.
const TPortInfo* FindPort(const std::vector<TPortInfo>& Ports, std::string_view Name);

// udev's *_ENC properties escape unsafe bytes as \xNN and pad with blanks: the text as the device
// gave it, trimmed.
std::string DecodeUdevText(std::string_view Text);

// Kernel-name order: "ttyUSB10" after "ttyUSB9".
bool PortOrder(const TPortInfo& A, const TPortInfo& B);

// Every tty backed by hardware (USB, PCI, platform), in kernel-name order. Virtual consoles and the
// legacy ttyS ports the kernel lists without a UART are left out. Empty when udev is unavailable.
std::vector<TPortInfo> ListPorts();

// pcOverflow: events were lost (the socket's buffer overflowed); the list must be read again.
enum class TPortChange { pcAdded, pcRemoved, pcOverflow };

struct TPortEvent {
    TPortChange Change;
    TPortInfo Port;
};

// Ports added and removed, as udev announces them once its rules have run (so the by-id link of an
// added port exists). Fd() is readable when events are waiting; ReadEvents takes them all without
// blocking. Without udev, Fd() is -1 and nothing ever comes.
class TPortMonitor {
public:
    TPortMonitor();
    ~TPortMonitor();
    TPortMonitor(const TPortMonitor&) = delete;
    TPortMonitor& operator=(const TPortMonitor&) = delete;

    int Fd() const;
    std::vector<TPortEvent> ReadEvents();

private:
    udev* FUdev = nullptr;
    udev_monitor* FMonitor = nullptr;
};

} // namespace qorvel::platform
