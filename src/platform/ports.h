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

struct TPortInfo {
    // The name to open: the /dev/serial/by-id link where udev made one (it survives a replug under
    // a new kernel name), else DeviceNode.
    std::string Path;
    std::string DeviceNode; // the kernel's node, "/dev/ttyUSB0"
    std::string SysPath;    // identifies the device while it is present
    std::vector<std::string> Links;
    std::string Description; // "FT232R USB UART (FTDI, A50285BI) — /dev/ttyUSB0"

    // Whether a port name as the operator gives it ("ttyUSB0", a /dev path, any of the links)
    // names this port.
    bool Names(std::string_view Name) const;
};

// What a description is made of, taken from the udev properties of the tty device.
struct TPortProperties {
    std::string DeviceNode;
    std::string Model;
    std::string Vendor;
    std::string Serial;
    std::string Driver;
};

// "Model (Vendor, Serial) — /dev/node"; without a model "Serial port (Vendor, Serial, driver) — ...".
// Parts that are not known are left out.
std::string DescribePort(const TPortProperties& Port);

// udev's *_ENC properties escape unsafe bytes as \xNN and pad with blanks: the text as the device
// gave it, trimmed.
std::string DecodeUdevText(std::string_view Text);

// Kernel-name order: "ttyUSB10" after "ttyUSB9".
bool PortOrder(const TPortInfo& A, const TPortInfo& B);

// Every tty backed by hardware (USB, PCI, platform), in kernel-name order. Virtual consoles and the
// legacy ttyS ports the kernel lists without a UART are left out. Empty when udev is unavailable.
std::vector<TPortInfo> ListPorts();

enum class TPortChange { pcAdded, pcRemoved };

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
