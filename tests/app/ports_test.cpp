// The machine's ports in the windows, against emulated USB adapters in a sandboxed /sys and /dev
// (umockdev) read by the real libudev: the "COM:" box's list while adapters come and go, and the
// reconnect cycle of the main window (unplugged mid-stream, back under a new kernel name, identical
// adapters told apart, a network port through a real ser2net tried again until it is back).
// glib's headers first: they use "signals" as a name, which Qt's headers make a keyword.
#include "serial_testbed.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/port_list.h"
#include "emulvt/emul_vt.h"
#include "emulvt/screen.h"
#include "serial/xcomm.h"

#include "app_test_util.h"
#include "ser2net_helper.h"

namespace qorvel {
namespace {

using test::AcmAdapter;
using test::Adapter;
using test::Ch340Adapter;
using test::FtdiAdapter;
using test::SerialTestbed;
using test::WaitUntil;

const QString kFtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const QString kAcmById = "/dev/serial/by-id/usb-Raspberry_Pi_Pico_E660C06213753A2A-if00";
const QString kFtdiText = QString::fromUtf8("FT232R USB UART (FTDI, A50285BI) \xE2\x80\x94 /dev/ttyUSB0");
const QString kAcmText = QString::fromUtf8("Pico (Raspberry Pi, E660C06213753A2A) \xE2\x80\x94 /dev/ttyACM0");
const std::string kCh340ById = "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0";
const std::string kCh340ByPath4 = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0";
const std::string kCh340ByPath5 = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0";
constexpr int kFixedItems = 12;
constexpr std::uint8_t kNoticeAttribute = 0x4F;
// Short, so the tests of trying again do not wait the program's 1 s.
constexpr std::chrono::milliseconds kFirstRetry{50};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Serves the event loop, sleeping between events.
void Idle(int Ms) {
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ser2net runs outside the sandbox: it opens a real pseudo-terminal.
bool StartServer(test::TSer2net& Server) {
    const std::string preload = std::getenv("LD_PRELOAD");
    ::unsetenv("LD_PRELOAD");
    const bool started = Server.Start();
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    return started;
}

QStringList Items(const QComboBox* Box) {
    QStringList items;
    for (int i = 0; i < Box->count(); ++i)
        items << Box->itemText(i);
    return items;
}

void Write(int Master, std::string_view Bytes) {
    ASSERT_EQ(::write(Master, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
}

// The screen rows that hold a notice, with the notice's colour on their first cell.
std::vector<std::string> Notices(const TEmulVT* View) {
    std::vector<std::string> notices;
    const TScreen* screen = View->Screen();
    for (int r = 0; r < screen->FRowCount; ++r) {
        const TLine* line = screen->GetLine(r);
        std::string text(reinterpret_cast<const char*>(line->Txt),
                         static_cast<std::size_t>(screen->FColCount));
        text.erase(text.find_last_not_of(' ') + 1);
        if (text.starts_with("***") && line->Att[0] == kNoticeAttribute) notices.push_back(text);
    }
    return notices;
}

TEST(PortsDialog, OffersPortsAfterFixedItemsAndFollowsHotPlug) {
    SerialTestbed bed;
    const std::string ftdi = bed.Add(FtdiAdapter(), "ttyUSB0");
    TPortList ports;
    TForm2 dialog;
    const QStringList fixed = Items(dialog.ComboBox1);
    ASSERT_EQ(fixed.size(), kFixedItems);
    dialog.AttachPorts(&ports);
    dialog.show();

    EXPECT_EQ(Items(dialog.ComboBox1), (fixed + QStringList{"", kFtdiText}));
    EXPECT_EQ(dialog.ComText(), "COM1");
    EXPECT_FALSE(dialog.ReconnectAutomatically());

    // An adapter plugged in while the dialog is open shows up in kernel-name order; the operator's
    // text stays.
    dialog.ComboBox1->setEditText("ttyS7");
    const std::string acm = bed.Add(AcmAdapter(), "ttyACM0");
    ASSERT_TRUE(WaitUntil([&] { return dialog.ComboBox1->count() == kFixedItems + 3; }));
    EXPECT_EQ(Items(dialog.ComboBox1), (fixed + QStringList{"", kAcmText, kFtdiText}));
    EXPECT_EQ(dialog.ComText(), "ttyS7");

    // Picking a port puts its stable path in the box; the fixed items keep their mapping.
    dialog.ComboBox1->setCurrentIndex(kFixedItems + 1);
    EXPECT_EQ(dialog.ComText(), kAcmById);
    dialog.ComboBox1->setCurrentIndex(2);
    EXPECT_EQ(dialog.ComText(), "COM3");
    dialog.ComboBox1->setCurrentIndex(kFixedItems + 1);

    // The picked port goes away: its item goes, the setting stays.
    bed.Unplug(acm);
    ASSERT_TRUE(WaitUntil([&] { return dialog.ComboBox1->count() == kFixedItems + 2; }));
    EXPECT_EQ(Items(dialog.ComboBox1), (fixed + QStringList{"", kFtdiText}));
    EXPECT_EQ(dialog.ComText(), kAcmById);
    bed.Unplug(ftdi);
    ASSERT_TRUE(WaitUntil([&] { return dialog.ComboBox1->count() == kFixedItems; }));
    EXPECT_EQ(dialog.ComText(), kAcmById);

    dialog.CheckBox1->setChecked(true);
    dialog.Button1Click(); // Load Defaults
    EXPECT_EQ(dialog.ComText(), "COM1");
    EXPECT_FALSE(dialog.ReconnectAutomatically());
}

class ReconnectTest : public ::testing::Test {
public:
    void SetUp() override {
        Plug(FtdiAdapter());
        Form.AttachDialogs(&Settings, &About);
        Settings.AttachPorts(&Ports);
        Form.AttachPorts(&Ports);
        Form.SetFirstRetryDelay(kFirstRetry);
        // As "--port" gives it.
        Settings.SetComText(kFtdiById);
    }
    void TearDown() override {
        if (Form.COM->Opened()) Form.Button1Click();
    }
    struct Plugged {
        std::string Node;
        std::string Sys;
    };
    // The adapter, each time under the next kernel name.
    Plugged Plug(const Adapter& A) {
        Node = "/dev/ttyUSB" + std::to_string(Plugs++);
        Sys = Bed.Add(A, Node.substr(5));
        return {Node, Sys};
    }
    void ConnectAndReceive(std::string_view Bytes) {
        Form.Button1Click();
        ASSERT_EQ(Form.Button1->text(), "Disconnect");
        Write(Bed.Master(Node), Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith(Bytes.substr(Bytes.size() - 1)); }));
    }
    bool Listed() {
        return std::any_of(Ports.Ports().begin(), Ports.Ports().end(),
                           [&](const platform::TPortInfo& Port) { return Port.DeviceNode == Node; });
    }

    SerialTestbed Bed;
    int Plugs = 0;
    std::string Node;
    std::string Sys;
    TPortList Ports;
    test::DesktopCapture Capture;
    std::vector<test::Box>& Boxes = Capture.Boxes;
    TForm1 Form;
    TForm2 Settings;
    TForm3 About;
};

// Back in another USB socket (its serial number says it is the same cable), under a new kernel name,
// and its add event lost to a full monitor socket: the list is read again.
TEST_F(ReconnectTest, UnpluggedMidStreamAndBackUnderANewKernelName) {
    Settings.CheckBox1->setChecked(true);
    ConnectAndReceive("before 1\nbefore 2\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("before 2\r\n"); }));
    ASSERT_EQ(Boxes.size(), 1u); // "Connected to ..."

    Bed.Unplug(Sys);
    ASSERT_TRUE(WaitUntil([&] { return Form.Button1->text() == "Connect"; }));
    EXPECT_FALSE(Form.COM->Opened());
    EXPECT_FALSE(Form.Button5->isEnabled());
    EXPECT_EQ(Boxes.size(), 1u) << "no error box while waiting";
    EXPECT_EQ(Form.ReconnectPath(), kFtdiById.toStdString());
    EXPECT_EQ(Form.Terminal.ToString(), "before 1\r\nbefore 2\r\n");

    Adapter elsewhere = FtdiAdapter();
    elsewhere.UsbPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-7";
    elsewhere.Interface = "1-7:1.0";
    elsewhere.ByPathLink = "serial/by-path/pci-0000:00:14.0-usb-0:7:1.0-port0";
    test::gLoseNextMessage = true;
    Plug(elsewhere);
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }));
    EXPECT_FALSE(test::gLoseNextMessage);
    EXPECT_TRUE(Listed());
    EXPECT_EQ(Form.Button1->text(), "Disconnect");
    EXPECT_TRUE(Form.Button5->isEnabled());
    EXPECT_EQ(Form.COM->DeviceName(), Node);
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Form.ReconnectPath().empty());

    Write(Bed.Master(Node), "after\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("after\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "before 1\r\nbefore 2\r\nafter\r\n");

    const std::vector<std::string> notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0],
              "*** " + kFtdiById.toStdString() + " lost (Input/output error), waiting for it ***");
    EXPECT_EQ(notices[1], "*** Reconnected to " + kFtdiById.toStdString() + " ***");
}

// Another program holds the port when it comes back: the window says so and tries again until the
// port is free; no further add event comes.
TEST_F(ReconnectTest, PortBusyWhenBackIsTriedUntilFree) {
    Settings.CheckBox1->setChecked(true);
    ConnectAndReceive("one\n");
    Bed.Unplug(Sys);
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));

    Plug(FtdiAdapter());
    const int other = ::open(kFtdiById.toLatin1().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(Form.COM->Opened());
    EXPECT_EQ(Form.ReconnectPath(), kFtdiById.toStdString());
    std::vector<std::string> notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[1].starts_with("*** " + kFtdiById.toStdString() + " is back but did not open ("))
        << notices[1];
    Idle(300); // a few attempts while it is held
    EXPECT_FALSE(Form.COM->Opened());

    ::close(other);
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }, 3000));
    Write(Bed.Master(Node), "two\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("two\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "one\r\ntwo\r\n");
    EXPECT_EQ(Boxes.size(), 1u);
    notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[2], "*** Reconnected to " + kFtdiById.toStdString() + " ***");
}

// Only the operator ends a wait: Connect or Disconnect in the main window, or OK (or the close box)
// with the box unchecked. Cancel and Load Defaults uncheck the box for the next connection only.
TEST_F(ReconnectTest, WhatEndsTheWait) {
    const struct {
        const char* Name;
        bool Reconnect;
        std::function<void(ReconnectTest&)> AfterLoss;
        std::size_t Boxes; // after the loss and the action
        bool Reconnects;
    } cases[] = {
        {"reconnecting off: the error box, as without the option", false, {}, 2, false},
        {"the operator's Connect while waiting", true,
         [](ReconnectTest& t) { test::RunAsEvent(&t.Form, [&] { t.Form.Button1Click(); }); }, 2, false},
        {"unchecked and OK", true,
         [](ReconnectTest& t) {
             t.Settings.CheckBox1->setChecked(false);
             t.Settings.Button2Click();
         },
         1, false},
        {"unchecked and the close box", true,
         [](ReconnectTest& t) {
             t.Settings.show();
             t.Settings.CheckBox1->setChecked(false);
             t.Settings.close();
         },
         1, false},
        {"unchecked, dialog still open", true,
         [](ReconnectTest& t) { t.Settings.CheckBox1->setChecked(false); }, 1, true},
        {"Cancel", true, [](ReconnectTest& t) { t.Settings.Button3Click(); }, 1, true},
        {"Load Defaults, then OK on the defaults", true,
         [](ReconnectTest& t) {
             t.Settings.Button1Click();
             t.Settings.CheckBox1->setChecked(true);
             t.Settings.Button2Click();
         },
         1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Boxes.clear();
        Settings.SetComText(kFtdiById);
        Settings.CheckBox1->setChecked(c.Reconnect);
        ConnectAndReceive("data\n");
        Bed.Unplug(Sys);
        ASSERT_TRUE(WaitUntil([&] { return Form.Button1->text() == "Connect" && !Form.COM->Opened(); }));
        if (c.AfterLoss) c.AfterLoss(*this);
        Plug(FtdiAdapter());
        ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(Form.COM->Opened(), c.Reconnects);
        EXPECT_EQ(Form.Button1->text(), c.Reconnects ? "Disconnect" : "Connect");
        EXPECT_EQ(Boxes.size(), c.Boxes);
        if (Boxes.size() > 1) {
            EXPECT_EQ(Boxes.back().Kind, TMessageKind::Error);
        }
        if (Form.COM->Opened()) Form.Button1Click();
    }
}

// Two adapters without a serial number: each has a name of its own and opens itself; the lost one is
// known again by its USB socket, and its twin plugged in meanwhile is not taken for it.
TEST_F(ReconnectTest, IdenticalAdaptersWithoutSerialNumber) {
    Bed.Unplug(Sys);
    const Plugged a = Plug(Ch340Adapter("4"));
    const Plugged b = Plug(Ch340Adapter("5"));
    ASSERT_TRUE(WaitUntil([&] { return Ports.Ports().size() == 2; }));
    const QString twin = QString::fromUtf8("USB Serial (1a86, no serial number) \xE2\x80\x94 ");
    EXPECT_EQ(Items(Settings.ComboBox1).mid(kFixedItems + 1),
              (QStringList{twin + "/dev/ttyUSB1", twin + "/dev/ttyUSB2"}));

    Settings.CheckBox1->setChecked(true);
    const struct {
        int Item;
        const Plugged& Port;
        std::string Path;
    } picks[] = {{kFixedItems + 1, a, kCh340ByPath4}, {kFixedItems + 2, b, kCh340ByPath5}};
    for (const auto& pick : picks) {
        SCOPED_TRACE(pick.Path);
        Settings.ComboBox1->setCurrentIndex(pick.Item);
        EXPECT_EQ(Settings.ComText().toStdString(), pick.Path);
        Form.Button1Click();
        ASSERT_TRUE(Form.COM->Opened());
        Write(Bed.Master(pick.Port.Node), pick.Path + "\n");
        EXPECT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith(pick.Path + "\r\n"); }, 3000));
        Form.Button1Click();
    }

    // B alone has the shared by-id name. Connected to it by that name, B goes and A comes, takes the
    // name, and is not connected.
    Bed.Unplug(a.Sys);
    ASSERT_TRUE(WaitUntil([&] { return Ports.Ports().size() == 1; }));
    Settings.SetComText(QString::fromStdString(kCh340ById));
    Form.Button1Click();
    Write(Bed.Master(b.Node), "b1\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("b1\r\n"); }));
    Bed.Unplug(b.Sys);
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened() && Ports.Ports().empty(); }));
    Plug(Ch340Adapter("4"));
    ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(Form.COM->Opened());
    EXPECT_EQ(Form.ReconnectPath(), kCh340ById);

    // B back in its socket.
    const Plugged back = Plug(Ch340Adapter("5"));
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }));
    EXPECT_EQ(Form.COM->DeviceName(), back.Node);
    Write(Bed.Master(back.Node), "b2\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("b2\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "b1\r\nb2\r\n");
    const std::vector<std::string> notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_TRUE(notices[0].starts_with("*** " + kCh340ById + " lost (")) << notices[0];
    EXPECT_EQ(notices[1], "*** USB Serial (1a86) \xE2\x80\x94 /dev/ttyUSB3 is not the lost device ***");
    EXPECT_EQ(notices[2], "*** Reconnected to " + kCh340ByPath5 + " ***");
    EXPECT_EQ(Boxes.size(), 3u); // the three "Connected to" boxes
}

// A network port has no add event to wait for: it is tried again, 1 s then doubling (shortened here),
// with little CPU, until the server is back; the operator's Connect ends the trying.
TEST_F(ReconnectTest, NetworkPortTriedUntilTheServerIsBack) {
    test::Pty device;
    test::TSer2net server(device.Name(), false);
    ASSERT_TRUE(StartServer(server)) << server.Log();
    Settings.SetComText(QString::fromStdString(server.Url()));
    Settings.CheckBox1->setChecked(true);
    Form.Button1Click();
    ASSERT_TRUE(Form.COM->Opened());
    device.Write("before\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("before\r\n"); }));

    server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));
    EXPECT_EQ(Boxes.size(), 1u);
    const double cpu = CpuSeconds();
    QElapsedTimer down;
    down.start();
    Idle(1500);
    const double busy = (CpuSeconds() - cpu) / (double(down.elapsed()) / 1000);
    EXPECT_LT(busy, 0.1) << "share of one CPU while the server is down";
    EXPECT_FALSE(Form.COM->Opened());

    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(StartServer(server)) << server.Log();
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }, 5000));
    std::printf("[ info ] reconnected %lld ms after the server listened again, %.1f%% CPU while down\n",
                static_cast<long long>(back.elapsed()), busy * 100);
    device.Write("after\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("after\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "before\r\nafter\r\n");
    std::vector<std::string> notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[0].starts_with("*** " + server.Url() + " lost (")) << notices[0];
    EXPECT_TRUE(notices[0].ends_with("), trying to open it again ***")) << notices[0];
    EXPECT_EQ(notices[1], "*** Reconnected to " + server.Url() + " ***");

    // Gone for good: the operator's Connect fails with its box and nothing is tried after it.
    server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));
    test::RunAsEvent(&Form, [&] { Form.Button1Click(); });
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_TRUE(Form.ReconnectPath().empty());
    ASSERT_TRUE(StartServer(server)) << server.Log();
    EXPECT_FALSE(WaitUntil([&] { return Form.COM->Opened(); }, 1000));
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
