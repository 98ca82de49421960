// The machine's ports in the windows, against emulated USB adapters in a sandboxed /sys and /dev
// (umockdev) read by the real libudev: the "COM:" box's list while adapters come and go, and the
// reconnect cycle of the main window (unplugged mid-stream, back under a new kernel name).
// glib's headers first: they use "signals" as a name, which Qt's headers make a keyword.
#include "serial_testbed.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
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
using test::Ch340Adapter;
using test::FtdiAdapter;
using test::SerialTestbed;
using test::WaitUntil;

const QString kFtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const QString kAcmById = "/dev/serial/by-id/usb-Raspberry_Pi_Pico_E660C06213753A2A-if00";
const QString kFtdiText = QString::fromUtf8("FT232R USB UART (FTDI, A50285BI) \xE2\x80\x94 /dev/ttyUSB0");
const QString kAcmText = QString::fromUtf8("Pico (Raspberry Pi, E660C06213753A2A) \xE2\x80\x94 /dev/ttyACM0");
constexpr int kFixedItems = 12;
constexpr std::uint8_t kNoticeAttribute = 0x4F;

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
        Plug();
        Form.AttachDialogs(&Settings, &About);
        Settings.AttachPorts(&Ports);
        Form.AttachPorts(&Ports);
        Form.SetFirstRetryDelay(std::chrono::milliseconds(50));
        // As "--port" gives it.
        Settings.SetComText(kFtdiById);
    }
    void TearDown() override {
        if (Form.COM->Opened()) Form.Button1Click();
    }
    // The adapter, each time under the next kernel name.
    std::string Plug(const test::Adapter& A = FtdiAdapter()) {
        Node = "/dev/ttyUSB" + std::to_string(Plugs++);
        return Sys = Bed.Add(A, Node.substr(5));
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

    // Back in another socket (the serial number says it is the same), its add event lost.
    test::Adapter elsewhere = FtdiAdapter();
    elsewhere.UsbPath.back() = '7';
    elsewhere.Interface = "1-7:1.0";
    test::gLoseNextMessage = true;
    Plug(elsewhere);
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }));
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

// Another program holds the port when it comes back: the window says so and tries until it is free.
TEST_F(ReconnectTest, PortBusyWhenBackIsTriedUntilFree) {
    Settings.CheckBox1->setChecked(true);
    ConnectAndReceive("one\n");
    Bed.Unplug(Sys);
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));

    Plug();
    const int other = ::open(kFtdiById.toLatin1().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(Form.COM->Opened());
    EXPECT_EQ(Form.ReconnectPath(), kFtdiById.toStdString());
    const std::vector<std::string> notices = Notices(Form.Terminal2);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[1].starts_with("*** " + kFtdiById.toStdString() + " is back but did not open ("))
        << notices[1];
    ::close(other);
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }));
    Write(Bed.Master(Node), "two\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("two\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "one\r\ntwo\r\n");
    EXPECT_EQ(Boxes.size(), 1u);
}

// The cases where the window must not reconnect by itself.
TEST_F(ReconnectTest, StaysDisconnectedWhenNotAsked) {
    const struct {
        const char* Name;
        bool Reconnect;
        std::function<void(ReconnectTest&)> AfterLoss;
        std::size_t Boxes; // after the loss and the action
        bool Reconnects = false;
    } cases[] = {
        {"reconnecting off: the error box, as without the option", false, {}, 2},
        {"the operator's Connect while waiting", true,
         [](ReconnectTest& t) { test::RunAsEvent(&t.Form, [&] { t.Form.Button1Click(); }); }, 2},
        {"unchecked and OK", true,
         [](ReconnectTest& t) {
             t.Settings.CheckBox1->setChecked(false);
             t.Settings.Button2Click();
         },
         1},
        {"Cancel, which unchecks for the next connection", true,
         [](ReconnectTest& t) { t.Settings.Button3Click(); }, 1, true},
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
        Plug();
        ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(Form.COM->Opened(), c.Reconnects);
        EXPECT_EQ(Boxes.size(), c.Boxes);
        if (c.Reconnects) Form.Button1Click();
        if (Boxes.size() > 1) {
            EXPECT_EQ(Boxes.back().Kind, TMessageKind::Error);
        }
    }
}

// Two adapters without a serial number: each opens itself by its own name, and the lost one is known
// again by its USB socket, not taken for its twin that comes under the same name.
TEST_F(ReconnectTest, IdenticalAdaptersWithoutSerialNumber) {
    Bed.Unplug(Sys);
    const std::string sys[] = {Plug(Ch340Adapter("4")), Plug(Ch340Adapter("5"))};
    ASSERT_TRUE(WaitUntil([&] { return Ports.Ports().size() == 2; }));
    for (int i : {0, 1}) {
        Settings.ComboBox1->setCurrentIndex(kFixedItems + 1 + i);
        Form.Button1Click();
        Write(Bed.Master("/dev/ttyUSB" + std::to_string(1 + i)), "from " + std::to_string(i) + "\n");
        EXPECT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith(std::to_string(i) + "\r\n"); }, 2000));
        Form.Button1Click();
    }
    Bed.Unplug(sys[0]);
    Bed.Unplug(sys[1]);
    Settings.CheckBox1->setChecked(true);
    Settings.SetComText("/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    Plug(Ch340Adapter("5"));
    ConnectAndReceive("b1\n");
    Bed.Unplug(Sys);
    ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));
    Plug(Ch340Adapter("4"));
    ASSERT_TRUE(WaitUntil([&] { return Listed(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(Form.COM->Opened());
    Plug(Ch340Adapter("5"));
    ASSERT_TRUE(WaitUntil([&] { return Form.COM->Opened(); }));
    Write(Bed.Master(Node), "b2\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("b2\r\n"); }));
    EXPECT_EQ(Form.Terminal.ToString(), "b1\r\nb2\r\n");
    EXPECT_EQ(Notices(Form.Terminal2).at(1),
              "*** USB Serial (1a86) \xE2\x80\x94 /dev/ttyUSB4 is not the lost device ***");
}

// A network port is tried again (here from 50 ms, doubling), idle in between, until ser2net is back;
// the operator's Connect ends the trying.
TEST_F(ReconnectTest, NetworkPortTriedUntilTheServerIsBack) {
    test::Pty device;
    test::TSer2net server(device.Name(), false);
    // ser2net opens a real pseudo-terminal: not in the sandbox.
    const std::string preload = std::getenv("LD_PRELOAD");
    const auto start = [&] {
        ::unsetenv("LD_PRELOAD");
        const bool started = server.Start();
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        return started;
    };
    ASSERT_TRUE(start());
    Settings.SetComText(QString::fromStdString(server.Url()));
    Settings.CheckBox1->setChecked(true);
    Form.Button1Click();
    device.Write("before\n");
    ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("before\r\n"); }));
    for (bool comesBack : {true, false}) {
        server.Stop();
        ASSERT_TRUE(WaitUntil([&] { return !Form.COM->Opened(); }));
        const std::clock_t cpu = std::clock();
        QTest::qWait(1500);
        EXPECT_LT(double(std::clock() - cpu) / CLOCKS_PER_SEC, 0.15)
            << "CPU seconds while the server is down";
        const QString state = Form.StatusBar1->findChild<QLabel*>("StateText")->text();
        EXPECT_TRUE(state.startsWith(QString::fromStdString(server.Url() + "  Reconnecting (attempt ")))
            << state.toStdString();
        if (!comesBack) test::RunAsEvent(&Form, [&] { Form.Button1Click(); });
        ASSERT_TRUE(start());
        EXPECT_EQ(WaitUntil([&] { return Form.COM->Opened(); }, 4000), comesBack);
        if (!comesBack) break;
        device.Write("after\n");
        ASSERT_TRUE(WaitUntil([&] { return Form.Terminal.EndsWith("after\r\n"); }));
    }
    EXPECT_EQ(Form.Terminal.ToString(), "before\r\nafter\r\n");
    EXPECT_EQ(Notices(Form.Terminal2).at(1), "*** Reconnected to " + server.Url() + " ***");
    EXPECT_EQ(Boxes.size(), 2u); // "Connected to", and the Connect that failed
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
