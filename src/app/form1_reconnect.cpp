// Reconnecting: when the port's device goes away with "Reconnect automatically" on, the window waits,
// without polling, for udev to announce a device at the same stable name, and connects it again
// with the same settings.
#include <QProgressBar>
#include <QPushButton>

#include "app/form1.h"
#include "app/form2.h"
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
    const platform::TPortInfo* port = FPorts ? FPorts->Find(COM->DeviceName()) : nullptr;
    FPortPath = port ? port->Path : COM->DeviceName();
}

bool TForm1::WaitForPort(const std::string& Reason) {
    if (!FForm2 || !FForm2->ReconnectAutomatically()) return false;
    Button1->setText(QStringLiteral("Connect"));
    COM->CloseDevice();
    Disconnect(); // the log stays
    FReconnectPath = FPortPath;
    WriteNotice(FReconnectPath + " lost (" + Reason + "), waiting for it");
    return true;
}

void TForm1::PortAdded(const platform::TPortInfo& Port) {
    if (FReconnectPath.empty() || !Port.Names(FReconnectPath) || COM->Opened()) return;
    if (!FForm2->ReconnectAutomatically()) {
        FReconnectPath.clear();
        return;
    }
    // The same settings; the stable name finds the device under whatever kernel name it has now.
    COM->SetDeviceName(Port.Path);
    std::string failure;
    try {
        if (!COM->OpenDevice()) failure = "not opened";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty()) {
        WriteNotice(Port.Path + " is back but did not open (" + failure + "), waiting for it");
        return;
    }
    FReconnectPath.clear();
    Button1->setText(QStringLiteral("Disconnect"));
    SetConnectedControls(true);
    WriteNotice("Reconnected to " + Port.Path);
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
