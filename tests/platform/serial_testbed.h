#pragma once
// A sandboxed /sys and /dev (umockdev) with emulated USB serial adapters that the real libudev reads,
// plugged and unplugged while the code under test runs. The test program must run under
// umockdev-wrapper, whose preload redirects the process's /sys, /dev and udev socket to the sandbox.
//
// Two things a real adapter does that the sandbox does not, supplied here:
// - The preload passes only termios ioctls of an emulated node to the kernel; the rest (the
//   exclusive-open flag, queue counts, modem lines) fail with ENOTTY. A handler runs them on the
//   node's pseudo-terminal in the client's place.
// - Removing a device leaves its pseudo-terminal's master open, so an open descriptor would never
//   see the hang-up that an unplugged adapter gives. Unplug closes the master.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <umockdev.h>
#include <unistd.h>

namespace qorvel::test {

// Set, the next message received is lost with ENOBUFS, as when the udev monitor's buffer overflows.
inline std::atomic<bool> gLoseNextMessage{false};

struct Adapter {
    std::string UsbPath;    // the USB device under /sys/devices
    std::string Interface;  // its interface, the tty's carrier
    std::string ByIdLink;   // the link udev makes, without "/dev/"
    std::string Properties; // udev properties of the tty ("E: ..." lines)
    std::string ByPathLink;
};

// An FTDI cable: ttyUSBn, driver ftdi_sio.
inline Adapter FtdiAdapter() {
    return {"/devices/pci0000:00/0000:00:14.0/usb1/1-2", "1-2:1.0",
            "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
            "E: ID_VENDOR=FTDI\nE: ID_VENDOR_ENC=FTDI\nE: ID_VENDOR_ID=0403\n"
            "E: ID_MODEL=FT232R_USB_UART\nE: ID_MODEL_ENC=FT232R\\x20USB\\x20UART\nE: ID_MODEL_ID=6001\n"
            "E: ID_SERIAL=FTDI_FT232R_USB_UART_A50285BI\nE: ID_SERIAL_SHORT=A50285BI\n"
            "E: ID_USB_DRIVER=ftdi_sio\nE: ID_USB_INTERFACE_NUM=00\n",
            "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"};
}

// A CDC-ACM board: ttyACMn, driver cdc_acm.
inline Adapter AcmAdapter() {
    return {"/devices/pci0000:00/0000:00:14.0/usb1/1-3", "1-3:1.0",
            "serial/by-id/usb-Raspberry_Pi_Pico_E660C06213753A2A-if00",
            "E: ID_VENDOR=Raspberry_Pi\nE: ID_VENDOR_ENC=Raspberry\\x20Pi\nE: ID_VENDOR_ID=2e8a\n"
            "E: ID_MODEL=Pico\nE: ID_MODEL_ENC=Pico\nE: ID_MODEL_ID=000a\n"
            "E: ID_SERIAL=Raspberry_Pi_Pico_E660C06213753A2A\nE: ID_SERIAL_SHORT=E660C06213753A2A\n"
            "E: ID_USB_DRIVER=cdc_acm\nE: ID_USB_INTERFACE_NUM=00\n",
            "serial/by-path/pci-0000:00:14.0-usb-0:3:1.0"};
}

// A CH340 cable, without a serial number: only the USB socket (Port "4" for usb1/1-4) tells two apart.
inline Adapter Ch340Adapter(const std::string& Port) {
    return {"/devices/pci0000:00/0000:00:14.0/usb1/1-" + Port, "1-" + Port + ":1.0",
            "serial/by-id/usb-1a86_USB_Serial-if00-port0",
            "E: ID_VENDOR=1a86\nE: ID_VENDOR_ID=1a86\nE: ID_MODEL=USB_Serial\nE: ID_MODEL_ID=7523\n"
            "E: ID_USB_DRIVER=ch341\nE: ID_USB_INTERFACE_NUM=00\n",
            "serial/by-path/pci-0000:00:14.0-usb-0:" + Port + ":1.0-port0"};
}

class SerialTestbed {
public:
    SerialTestbed() {
        const char* preload = std::getenv("LD_PRELOAD");
        if (!preload || std::string(preload).find("umockdev") == std::string::npos)
            throw std::runtime_error("run this test under umockdev-wrapper");
        FBed = umockdev_testbed_new();
        FIoctl = umockdev_ioctl_base_new();
        g_signal_connect(FIoctl, "handle-ioctl", G_CALLBACK(&SerialTestbed::HandleIoctl), this);
    }
    ~SerialTestbed() {
        g_object_unref(FIoctl);
        g_object_unref(FBed);
    }
    SerialTestbed(const SerialTestbed&) = delete;
    SerialTestbed& operator=(const SerialTestbed&) = delete;

    // Plugs the adapter in with its tty under the kernel name Node ("ttyUSB0"); umockdev announces
    // it with udev's "add" event. Returns the tty's sysfs path. A testbed takes each kernel name
    // once: an adapter plugged in again comes back under a new one, as real ones often do.
    std::string Add(const Adapter& A, const std::string& Node) {
        const std::string usb = A.UsbPath;
        const std::string iface = usb + "/" + A.Interface;
        const std::string tty = iface + "/" + Node + "/tty/" + Node;
        const std::string links = A.ByIdLink + "\nS: " + A.ByPathLink,
                          devLinks = A.ByIdLink + " /dev/" + A.ByPathLink;
        const std::string record = "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\n" +
                                   "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n" +
                                   "P: " + tty + "\nN: " + Node + "\nS: " + links +
                                   "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + Node + "\nE: DEVLINKS=/dev/" +
                                   devLinks + "\n" + A.Properties;
        // A twin's by-id link goes to the newcomer, as udev does.
        gchar* root = umockdev_testbed_get_root_dir(FBed);
        ::unlink((std::string(root) + "/dev/" + A.ByIdLink).c_str());
        g_free(root);
        AddRecord(record);
        // A client reaches the handler by the name it opened, the node or the link.
        Attach("/dev/" + Node);
        Attach("/dev/" + A.ByIdLink);
        Attach("/dev/" + A.ByPathLink);
        FUsbOf[tty] = usb;
        FInterfaceOf[tty] = A.Interface;
        FLinkOf[tty] = A.ByIdLink;
        FPathLinkOf[tty] = A.ByPathLink;
        FNodeOf[tty] = "/dev/" + Node;
        return "/sys" + tty;
    }

    // Any other devices, in umockdev's record format.
    void AddRecord(const std::string& Record) {
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(FBed, Record.c_str(), &error)) {
            const std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error("umockdev record: " + message);
        }
    }

    // The adapter goes away: the remove event, then the device and its node, then the hang-up that
    // an open descriptor of it sees.
    void Unplug(const std::string& SysPath) {
        const std::string tty = SysPath.substr(4);
        const int master = Master(FNodeOf.at(tty));
        umockdev_testbed_uevent(FBed, SysPath.c_str(), "remove");
        const std::string usb = FUsbOf.at(tty);
        // The tty first: removing only its ancestor would leave its class link and node behind.
        umockdev_testbed_remove_device(FBed, SysPath.c_str());
        umockdev_testbed_remove_device(FBed, ("/sys" + usb).c_str());
        // umockdev leaves the bus links and the node's link behind, which would stop the adapter
        // coming back.
        gchar* root = umockdev_testbed_get_root_dir(FBed);
        const std::string bus = std::string(root) + "/sys/bus/usb/devices/";
        ::unlink((bus + usb.substr(usb.rfind('/') + 1)).c_str());
        ::unlink((bus + FInterfaceOf.at(tty)).c_str());
        ::unlink((std::string(root) + "/dev/" + FLinkOf.at(tty)).c_str());
        ::unlink((std::string(root) + "/dev/" + FPathLinkOf.at(tty)).c_str());
        g_free(root);
        // The testbed still owns the descriptor number and closes it at the end: put a harmless
        // file in its place, which closes the master.
        if (master >= 0) {
            const int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            ::dup2(placeholder, master);
            ::close(placeholder);
        }
    }

    // The test's end of the node's line: what it writes, the program reads.
    int Master(const std::string& DevNode) { return umockdev_testbed_get_dev_fd(FBed, DevNode.c_str()); }

    UMockdevTestbed* Bed() const { return FBed; }

    // Sees the nodes' ioctls first, on umockdev's thread; true: it completed the client itself.
    using TIoctlHook = std::function<bool(UMockdevIoctlClient*)>;
    void SetIoctlHook(TIoctlHook Hook) { FHook = std::move(Hook); }

private:
    void Attach(const std::string& Dev) {
        GError* error = nullptr;
        // A re-plugged adapter brings back the same link: the old attachment goes first.
        if (!umockdev_testbed_detach_ioctl(FBed, Dev.c_str(), &error)) g_clear_error(&error);
        if (!umockdev_testbed_attach_ioctl(FBed, Dev.c_str(), FIoctl, &error)) {
            const std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error("umockdev ioctl handler for " + Dev + ": " + message);
        }
    }

    static gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* Client, gpointer Self) {
        const TIoctlHook& hook = static_cast<SerialTestbed*>(Self)->FHook;
        if (hook && hook(Client)) return TRUE;
        int error = 0;
        GError* failure = nullptr;
        const int result = umockdev_ioctl_client_execute(Client, &error, &failure);
        if (failure) g_error_free(failure);
        umockdev_ioctl_client_complete(Client, result, error);
        return TRUE;
    }

    UMockdevTestbed* FBed = nullptr;
    UMockdevIoctlBase* FIoctl = nullptr;
    TIoctlHook FHook;
    std::map<std::string, std::string> FUsbOf;
    std::map<std::string, std::string> FNodeOf;
    std::map<std::string, std::string> FInterfaceOf;
    std::map<std::string, std::string> FLinkOf;
    std::map<std::string, std::string> FPathLinkOf;
};

} // namespace qorvel::test

// Stands in for the C library's recvmsg (and umockdev's, which wraps it) to lose a message on demand.
extern "C" ssize_t recvmsg(int Fd, struct msghdr* Message, int Flags) {
    using TRecvmsg = ssize_t (*)(int, struct msghdr*, int);
    static const auto next = reinterpret_cast<TRecvmsg>(::dlsym(RTLD_NEXT, "recvmsg"));
    const ssize_t n = next(Fd, Message, Flags);
    if (n > 0 && qorvel::test::gLoseNextMessage.exchange(false)) {
        errno = ENOBUFS;
        return -1;
    }
    return n;
}
