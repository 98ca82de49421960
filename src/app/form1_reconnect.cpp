// Reconnecting: when the port's device goes away with "Reconnect automatically" on, the window
// connects it again with the same settings. A USB device is waited for, without polling, until udev
// announces the same device (by its identity, so an identical adapter is not taken for it); a port
// udev knows nothing of (network, pseudo-terminal) is tried again at growing intervals.
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "app/form1.h"
#include "app/form2.h"
#include "app/log_files.h"
#include "app/port_list.h"
#include "emulvt/emul_vt.h"
#include "emulvt/screen.h"
#include "serial/xcomm.h"

namespace qorvel {

namespace {

constexpr std::uint8_t kNoticeAttribute = 0x4F; // bright white on blue: no device draws it by accident

} // namespace

void TForm1::AttachPorts(TPortList* Ports) {
    FPorts = Ports;
    connect(Ports, &TPortList::PortAdded, this, &TForm1::PortAdded);
}

void TForm1::RememberPort() {
    // Read afresh: the list's events may lag behind a replug, and kernel names are reused.
    const std::vector<platform::TPortInfo> present = FPorts ? platform::ListPorts() : decltype(present){};
    const platform::TPortInfo* port = platform::FindPort(present, COM->DeviceName());
    FPort = port && port->Identity.Known() ? *port : platform::TPortInfo{};
    // Without an identity the port is tried again by the name it was opened with.
    if (!port || !port->Identity.Known()) FPort.Path = COM->DeviceName();
}

bool TForm1::WaitForPort(const std::string& Reason) {
    if (!FForm2 || !FForm2->ReconnectAutomatically()) return false;
    Button1->setText(QStringLiteral("Connect"));
    COM->CloseDevice();
    Disconnect(); // the log stays
    FReconnectPath = FPort.Path;
    FReconnectAttempt = 0;
    // Only OK in the dialog ends the wait; Cancel's defaults do not.
    connect(FForm2, &TForm2::SettingsKept, this, &TForm1::SettingsKept, Qt::UniqueConnection);
    FRetryDelay = FFirstRetryDelay;
    if (FPort.Identity.Known()) {
        WriteNotice(FReconnectPath + " lost (" + Reason + "), waiting for it");
    } else {
        WriteNotice(FReconnectPath + " lost (" + Reason + "), trying to open it again");
        RetryLater();
    }
    ShowState();
    return true;
}

void TForm1::PortAdded(const platform::TPortInfo& Port) {
    if (FReconnectPath.empty() || COM->Opened() || !FPort.Identity.Known()) return;
    if (Port.Identity != FPort.Identity) {
        // Another device under the lost one's name or node: an identical adapter in another socket
        // looks the same to the program but is not the device the log was reading.
        const bool sameName = Port.Names(FPort.DeviceNode) ||
                              std::any_of(FPort.Links.begin(), FPort.Links.end(),
                                          [&](const std::string& Link) { return Port.Names(Link); });
        if (sameName) WriteNotice(Port.Description + " is not the lost device");
        return;
    }
    // The node of the device that announced itself: a link that twins share may lead to the other.
    FPort = Port;
    std::string failure;
    FRetryDelay = FFirstRetryDelay;
    if (Reopen(Port.DeviceNode, Port.Path, failure)) return;
    // Busy (another program has it) or not ready yet: no further add event may ever come.
    WriteNotice(Port.Path + " is back but did not open (" + failure + "), trying again");
    RetryLater();
}

void TForm1::RetryPort() {
    if (FReconnectPath.empty() || COM->Opened()) return;
    std::string name = FPort.Path;
    std::string shown = FPort.Path;
    if (FPort.Identity.Known()) {
        const platform::TPortInfo* port = FPorts ? FPorts->Find(FPort.Identity) : nullptr;
        // Gone again: its next add event resumes the wait.
        if (!port) return;
        FPort = *port;
        name = port->DeviceNode;
        shown = port->Path;
    }
    std::string failure;
    if (!Reopen(name, shown, failure)) RetryLater();
}

bool TForm1::Reopen(const std::string& Name, const std::string& Shown, std::string& Failure) {
    COM->SetDeviceName(Name);
    ++FReconnectAttempt;
    try {
        if (!COM->OpenDevice()) Failure = "not opened";
    } catch (const std::exception& e) {
        Failure = e.what();
    }
    if (!Failure.empty()) {
        ShowState();
        return false;
    }
    StopReconnect();
    ReadCharacterSet(true);
    LogFiles->Connected(Shown, LineSettings());
    Button1->setText(QStringLiteral("Disconnect"));
    SetConnectedControls(true);
    WriteNotice("Reconnected to " + Shown);
    ShowState();
    return true;
}

void TForm1::RetryLater() {
    if (!FRetryTimer) {
        FRetryTimer = new QTimer(this);
        FRetryTimer->setSingleShot(true);
        connect(FRetryTimer, &QTimer::timeout, this, &TForm1::RetryPort);
    }
    FRetryTimer->start(FRetryDelay);
    FRetryDelay = std::min(FRetryDelay * 2, kMaxRetryDelay);
}

void TForm1::StopReconnect() {
    FReconnectPath.clear();
    if (FRetryTimer) FRetryTimer->stop();
    ShowState();
}

void TForm1::SettingsKept() {
    if (!FForm2->ReconnectAutomatically()) StopReconnect();
}

void TForm1::WriteNotice(const std::string& Text) {
    TScreen* screen = Terminal2->Screen();
    if (screen->FCol != 0) Terminal2->WriteText("\r\n");
    // The device's colours are put back before the line ends, so a scroll clears in them.
    const std::uint8_t attribute = screen->FAttribute;
    screen->FAttribute = kNoticeAttribute;
    Terminal2->WriteText("*** " + Text + " ***");
    screen->FAttribute = attribute;
    Terminal2->WriteText("\r\n");
}

} // namespace qorvel
