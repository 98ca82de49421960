// The main window headless, on in-memory serial ports: controls and layout, start-up, Connect and
// Disconnect, the settings mapping, Send, Send Code, received data and the prompt gate, errors.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "app/open_failure.h"
#include "app/string_grid.h"
#include "emulvt/emul_vt.h"
#include "emulvt/utf8_decoder.h"
#include "platform/comm_fake.h"
#include "platform/comm_posix.h"
#include "serial/xcomm.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

using platform::TFakeOp;
using test::RunAsEvent;
using test::WaitUntil;

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm1>(Api);
        Form->AttachDialogs(&Settings, &About);
    }
    void TearDown() override { Form.reset(); }

    std::shared_ptr<platform::TFakePort> AddCom1() { return Port = Api.AddPort("COM1"); }
    void Connect() {
        if (!Port) AddCom1();
        Form->Button1Click();
        ASSERT_EQ(Form->Button1->text(), "Disconnect");
    }
    // Delivers bytes from the device and waits until the log text has grown by Expect bytes.
    void Receive(std::string_view Bytes, std::size_t Expect) {
        const std::size_t target = Form->Terminal.Size() + Expect;
        Port->PushInput(Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.Size() >= target && Port->InputWaiting() == 0; }));
        QCoreApplication::processEvents();
    }
    // Shows the window, whose start-up connects, and waits until it takes key presses.
    void ShowConnected() {
        if (!Port) AddCom1();
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        ASSERT_TRUE(WaitUntil([&] { return Form->Button1->text() == "Disconnect"; }));
    }
    void Send(const QString& Line) {
        Form->Edit1->setEditText(Line);
        Form->Button5Click();
    }
    std::string ScreenRow(int Row) {
        const TLine& line = *Form->Terminal2->Screen()->GetLine(Row);
        std::string text(reinterpret_cast<const char*>(line.Txt), 132);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    platform::TFakeCommApi Api;
    std::shared_ptr<platform::TFakePort> Port;
    TForm2 Settings;
    TForm3 About;
    test::DesktopCapture Capture;
    std::vector<test::Box>& Boxes = Capture.Boxes;
    std::unique_ptr<TForm1> Form;
};

// ---- Controls, menu and components as designed

TEST_F(Form1Test, InitialStatesOfEveryControl) {
    const struct {
        const char* Name;
        const char* Caption; // nullptr: not a captioned control
        bool Enabled;
        bool Shown;
    } controls[] = {
        {"Label3", "File:", true, true},       {"Edit2", nullptr, true, true},
        {"Button7", "...", false, true},       {"Button8", "Send ALL", false, true},
        {"Panel3", nullptr, true, true},       {"Button6", "Send Next", false, true},
        {"Label5", "Lines", false, true},      {"SpinEdit1", nullptr, false, true},
        {"Bevel1", nullptr, true, true},       {"Gauge", nullptr, true, false},
        {"TimerButton", "Break", true, false}, {"Edit1", nullptr, true, true},
        {"CheckBox2", "LF", true, true},       {"Button5", "Send", false, true},
        {"Panel4", nullptr, true, true},       {"Label6", "Prompt:", false, true},
        {"ComboBox4", nullptr, false, true},   {"Button4", "...", true, true},
        {"Button1", "Connect", true, true},    {"Button3", "Clear Terminal", true, true},
        {"Button9", "Save Log", true, true},   {"Bevel2", nullptr, true, true},
        {"ComboBox3", nullptr, true, true},    {"Button10", "Send Code", false, true},
        {"StatusBar1", nullptr, true, true},   {"Grid", nullptr, false, true},
        {"Terminal2", nullptr, true, true},    {"GroupBox1", "Terminal", true, true},
        {"GroupBox2", "File", true, true},     {"Panel1", nullptr, true, true},
        {"Panel2", nullptr, true, true},
    };
    Form->show();
    for (const auto& c : controls) {
        SCOPED_TRACE(c.Name);
        auto* w = Form->findChild<QWidget*>(QString::fromLatin1(c.Name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->isEnabled(), c.Enabled);
        EXPECT_EQ(w->isVisibleTo(Form.get()), c.Shown);
        if (!c.Caption) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(b->text(), c.Caption);
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(l->text(), c.Caption);
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(g->title(), c.Caption);
        }
    }
    EXPECT_EQ(Form->objectName(), "Form1");
    EXPECT_EQ(Form->windowTitle(), "Qorvel Terminal");
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(Form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(Form->CheckBox2->isChecked());
    EXPECT_TRUE(Form->Button5->isDefault());
    EXPECT_TRUE(Form->Edit1->currentText().isEmpty());
    EXPECT_EQ(Form->Edit1->count(), 0);
    EXPECT_EQ(Form->ComboBox4->count(), 2);
    EXPECT_EQ(Form->ComboBox4->itemText(0), "");
    EXPECT_EQ(Form->ComboBox4->itemText(1), "QLX7400>");
    EXPECT_TRUE(Form->ComboBox4->currentText().isEmpty());
    EXPECT_EQ(Form->ComboBox3->currentText(), "Ctrl-Y");
    ASSERT_EQ(Form->ComboBox3->count(), 4);
    EXPECT_EQ(Form->ComboBox3->itemText(3), "Ctrl-R");
    EXPECT_EQ(Form->SpinEdit1->value(), 0);
    EXPECT_EQ(Form->Grid->RowCount(), 7);
    EXPECT_EQ(Form->Grid->ColCount(), 2);
    EXPECT_TRUE(Form->StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(Form->LinesLeft(), 0);
    EXPECT_EQ(Form->Terminal.Size(), 0u);

    // Menu
    const struct {
        QAction* Item;
        const char* Text;
        bool Enabled;
    } menu[] = {{Form->OpenFile1, "Open File", false}, {Form->SaveLog1, "Save Log", true},
                {Form->Exit1, "Exit", true},           {Form->Serial1, "Serial", true},
                {Form->Help2, "Help", true},           {Form->About1, "About", true}};
    for (const auto& m : menu) {
        EXPECT_EQ(m.Item->text(), m.Text);
        EXPECT_EQ(m.Item->isEnabled(), m.Enabled) << m.Text;
    }
    EXPECT_TRUE(Form->N1->isSeparator());
    EXPECT_EQ(Form->File1->title(), "&File");
    EXPECT_EQ(Form->Settings1->title(), "&Settings");
    EXPECT_EQ(Form->Help1->title(), "&Help");

    // Components
    EXPECT_EQ(Form->Timer->interval(), 800);
    EXPECT_TRUE(Form->Timer->isActive());
    EXPECT_EQ(Form->COM->DeviceName(), "COM2");
    EXPECT_EQ(Form->COM->BaudRate(), TBaudRate::br9600);
}

TEST_F(Form1Test, LayoutAndGrowth) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const struct {
        const char* Name;
        QRect Design;
        int Anchor; // 0 left, 1 right, 2 stretching
    } placed[] = {
        // SpinEdit1 and ComboBox3 (and ComboBox4 below) moved a few pixels off the design so that no
        // label touches its box and no item is clipped at the reference font (layout_test).
        {"Label3", {8, 13, 0, 0}, 0},        {"Edit2", {40, 9, 132, 24}, 2},
        {"Button7", {175, 9, 33, 25}, 1},    {"Button8", {213, 9, 81, 25}, 1},
        {"Panel3", {297, 6, 170, 32}, 1},    {"Button6", {300, 9, 78, 25}, 1},
        {"SpinEdit1", {419, 9, 46, 26}, 1},  {"Bevel1", {470, 8, 248, 29}, 1},
        {"Gauge", {474, 11, 146, 23}, 1},    {"TimerButton", {626, 11, 82, 25}, 1},
        {"Edit1", {7, 6, 540, 24}, 2},       {"CheckBox2", {602, 9, 41, 17}, 1},
        {"Button5", {642, 5, 73, 25}, 1},    {"Panel4", {7, 36, 272, 31}, 0},
        {"Button1", {283, 39, 82, 25}, 0},   {"Button3", {370, 39, 97, 25}, 0},
        {"Button9", {472, 39, 81, 25}, 0},   {"Bevel2", {560, 33, 156, 35}, 1},
        {"ComboBox3", {564, 38, 64, 24}, 1}, {"Button10", {631, 38, 79, 25}, 1},
        {"StatusBar1", {1, 69, 719, 19}, 2},
    };
    auto check = [&](int Grow) {
        for (const auto& p : placed) {
            SCOPED_TRACE(std::string(p.Name) + " grow " + std::to_string(Grow));
            QRect expected = p.Design;
            if (p.Anchor == 1)
                expected.translate(Grow, 0);
            else if (p.Anchor == 2)
                expected.setWidth(expected.width() + Grow);
            const QRect actual = Form->findChild<QWidget*>(QString::fromLatin1(p.Name))->geometry();
            EXPECT_EQ(actual.topLeft(), expected.topLeft());
            if (!p.Design.isEmpty()) {
                EXPECT_EQ(actual.size(), expected.size());
            }
        }
        EXPECT_EQ(Form->Label5->pos(), QPoint(85, 8));
        EXPECT_EQ(Form->Label6->pos(), QPoint(5, 8));
        EXPECT_EQ(Form->ComboBox4->geometry().topLeft(), QPoint(59, 4));
        EXPECT_EQ(Form->ComboBox4->width(), 171);
        EXPECT_EQ(Form->Button4->geometry(), QRect(233, 5, 34, 22));
    };

    QWidget* client = Form->centralWidget();
    EXPECT_EQ(client->size(), QSize(TForm1::kClientWidth, TForm1::kClientHeight));
    check(0);
    EXPECT_EQ(Form->Panel1->geometry(), QRect(0, 0, 721, 38));
    EXPECT_EQ(Form->Panel2->geometry(), QRect(0, 433 - 89, 721, 89));
    EXPECT_EQ(Form->GroupBox1->geometry(), QRect(0, 433 - 89 - 132, 721, 132));
    EXPECT_EQ(Form->GroupBox2->geometry(), QRect(0, 38, 721, 433 - 38 - 132 - 89));

    Form->resize(Form->width() + 100, Form->height() + 80);
    ASSERT_TRUE(WaitUntil([&] { return client->width() == 821; }));
    check(100);
    EXPECT_EQ(Form->GroupBox1->height(), 132);
    EXPECT_EQ(Form->Panel2->height(), 89);
    EXPECT_EQ(Form->Panel1->height(), 38);
    EXPECT_EQ(Form->GroupBox2->height(), 433 + 80 - 38 - 132 - 89);
    EXPECT_EQ(Form->Grid->width(), Form->GroupBox2->contentsRect().width() - 8);

    // The window never goes below its design size.
    EXPECT_EQ(Form->minimumSize(), QSize(721, 433 + Form->menuBar()->sizeHint().height()));
    Form->resize(300, 200);
    EXPECT_GE(Form->width(), 721);
    EXPECT_GE(client->height(), 433);
}

TEST_F(Form1Test, DialogsBelongToTheMainWindowAndShowOverIt) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const QRect screen = Form->screen()->availableGeometry();
    for (QDialog* dialog : {static_cast<QDialog*>(&Settings), static_cast<QDialog*>(&About)}) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        EXPECT_EQ(dialog->parentWidget(), Form.get());
        EXPECT_TRUE(dialog->isWindow());
        dialog->move(screen.right() + 2000, screen.bottom() + 2000); // a place off the main window's screen
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_TRUE(screen.contains(dialog->frameGeometry()));
        EXPECT_LE((dialog->frameGeometry().center() - Form->frameGeometry().center()).manhattanLength(), 4);
        dialog->hide();
    }
    // A place on the main window's screen is kept.
    Settings.move(screen.topLeft() + QPoint(10, 10));
    Settings.show();
    EXPECT_EQ(Settings.pos(), screen.topLeft() + QPoint(10, 10));
    Settings.hide();
}

// ---- Start-up

TEST_F(Form1Test, StartUpWithoutPortShowsOpenErrorAndStaysDisconnected) {
    test::CurrentFolder folder;
    RunAsEvent(Form.get(), [&] { Form->FormShow(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Boxes[0].Caption, "Qorvel Terminal V 1.3");
    EXPECT_EQ(Boxes[0].Text, "Cannot open device COM1.\nThere is no such device: check the name, and that "
                             "the adapter is plugged in.");
    EXPECT_EQ(Form->Button1->text(), "Connect");
    EXPECT_FALSE(Form->Button5->isEnabled());
    EXPECT_TRUE(Form->ComboBox3->isEnabled());
    EXPECT_FALSE(Form->OpenFile1->isEnabled());
    EXPECT_FALSE(Form->COM->Opened());
    // No prompt.txt here: the built-in list stays.
    EXPECT_EQ(Form->ComboBox4->count(), 2);
    EXPECT_TRUE(Form->ComboBox4->currentText().isEmpty());
}

TEST_F(Form1Test, OpenErrorsSayWhyOnTheirSecondLine) {
    AddCom1();
    const std::pair<int, const char*> cases[] = {
        {EACCES, "Permission denied: add your user to the dialout group (sudo usermod -aG dialout $USER), "
                 "then log out and in again."},
        {ENOTTY, "This is not a serial port."},
        {EBUSY, "The port is busy: another program has it open."},
        {ECONNREFUSED, "Connection refused."},
    };
    for (const auto& [error, reason] : cases) {
        Boxes.clear();
        Port->Fail(TFakeOp::foCreateFile, error, 1);
        RunAsEvent(Form.get(), [&] { Form->Button1Click(); });
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, QString("Cannot open device COM1.\n") + reason);
    }

    // A port held by another program names it, from /proc.
    test::Pty pty;
    int opened[2];
    ASSERT_EQ(::pipe(opened), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        if (auto device = platform::OpenPosixDevice(pty.Name()); device && ::write(opened[1], "1", 1) == 1)
            ::pause();
        _exit(1);
    }
    char signal = 0;
    ASSERT_EQ(::read(opened[0], &signal, 1), 1);
    const std::string reason = OpenFailureReason(EBUSY, pty.Name());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_NE(reason.find("(pid " + std::to_string(holder) + ") has it open"), std::string::npos) << reason;
}

TEST_F(Form1Test, TypedTextGoesToTheCommandLineAfterStartUpConnectAndDisconnect) {
    ShowConnected();
    const auto typeLine = [&](const char* Line) {
        const std::size_t before = Port->Output().size();
        QTest::keyClicks(QApplication::focusWidget(), Line);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        return Port->Output().substr(before);
    };
    EXPECT_EQ(typeLine("help"), "help\n");
    for (int click = 0; click < 2; ++click) {             // Disconnect, Connect
        QTest::mouseClick(Form->Button1, Qt::LeftButton); // the click gives the button the focus
        EXPECT_TRUE(Form->Edit1->isAncestorOf(QApplication::focusWidget()) ||
                    QApplication::focusWidget() == Form->Edit1);
    }
    // Enter no longer reaches the Disconnect button, which would empty the log.
    EXPECT_EQ(typeLine("ver"), "ver\n");
    EXPECT_EQ(Form->Button1->text(), "Disconnect");
}

TEST_F(Form1Test, StartUpLoadsPromptListAndConnects) {
    test::CurrentFolder folder;
    std::ofstream(folder.FilePath("prompt.txt").toStdString(), std::ios::binary) << "QLX7400>\r\n\r\nOK \n";
    AddCom1();
    RunAsEvent(Form.get(), [&] { Form->FormShow(); });
    ASSERT_EQ(Form->ComboBox4->count(), 3);
    EXPECT_EQ(Form->ComboBox4->itemText(0), "QLX7400>");
    EXPECT_EQ(Form->ComboBox4->itemText(1), "");
    EXPECT_EQ(Form->ComboBox4->itemText(2), "OK ");
    EXPECT_TRUE(Form->ComboBox4->currentText().isEmpty());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Plain);
    EXPECT_EQ(Boxes[0].Text, "Connected to COM1");
    EXPECT_EQ(Form->Button1->text(), "Disconnect");
    EXPECT_TRUE(Port->IsOpen());
    // The file dialogs are made when first needed, in the start-up folder.
    EXPECT_EQ(Form->OpenDialog1, nullptr);
    EXPECT_EQ(QDir(Form->OpenDialog()->directory()).canonicalPath(), QDir(folder.Path()).canonicalPath());
    EXPECT_EQ(Form->SaveDialog()->directory(), Form->OpenDialog()->directory());
}

// ---- Connect / Disconnect

TEST_F(Form1Test, ConnectAndDisconnectSwitchTheTwelveControls) {
    Connect();
    QWidget* twelve[] = {Form->Button5,   Form->Button6,   Form->Button7, Form->Button8,
                         Form->Button10,  Form->Label5,    Form->Label6,  Form->SpinEdit1,
                         Form->ComboBox3, Form->ComboBox4, Form->Grid};
    for (QWidget* w : twelve)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(Form->OpenFile1->isEnabled());

    Receive("hello\n", 7);
    Form->Gauge->show();
    Form->TimerButton->show();
    Form->Button1Click();
    EXPECT_EQ(Form->Button1->text(), "Connect");
    EXPECT_FALSE(Port->IsOpen());
    for (QWidget* w : twelve)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(Form->OpenFile1->isEnabled());
    EXPECT_EQ(Form->Terminal.Size(), 0u);
    EXPECT_FALSE(Form->Gauge->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->TimerButton->isVisibleTo(Form.get()));
    EXPECT_EQ(ScreenRow(0).substr(0, 5), "hello"); // the screen is kept
    for (QWidget* w :
         std::initializer_list<QWidget*>{Form->Button1, Form->Button3, Form->Button4, Form->Button9,
                                         Form->Edit1, Form->CheckBox2, Form->Edit2})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

TEST_F(Form1Test, SettingsMapping) {
    AddCom1();
    Api.AddPort("COM7");
    using Read = std::string (*)(const platform::DCB&, TXComm&);
    const Read baud = [](const platform::DCB& d, TXComm&) { return std::to_string(d.BaudRate); };
    const Read bits = [](const platform::DCB& d, TXComm&) { return std::to_string(d.ByteSize); };
    const Read parity = [](const platform::DCB& d, TXComm&) { return std::to_string(d.Parity); };
    const Read stop = [](const platform::DCB& d, TXComm&) { return std::to_string(d.StopBits); };
    const Read flow = [](const platform::DCB&, TXComm& c) { return std::to_string(int(c.FlowControl())); };
    const Read xonxoff = [](const platform::DCB& d, TXComm&) { return std::to_string(d.fOutX && d.fInX); };
    const Read cts = [](const platform::DCB& d, TXComm&) { return std::to_string(d.fOutxCtsFlow); };
    const Read device = [](const platform::DCB&, TXComm& c) { return c.DeviceName(); };
    const auto num = [](auto v) { return std::to_string(int(v)); };
    const struct {
        const char* Box;
        const char* Text;
        Read Value;
        std::string Expected;
    } cases[] = {
        {"ComboBox2", "19200", baud, "19200"},
        {"ComboBox2", "115200", baud, "115200"},
        {"ComboBox6", "7", bits, "7"},
        {"ComboBox6", "5", bits, "5"},
        {"ComboBox6", "9", bits, "8"},
        {"ComboBox3", "Even", parity, num(platform::EVENPARITY)},
        {"ComboBox3", "Odd", parity, num(platform::ODDPARITY)},
        {"ComboBox4", "2", stop, num(platform::TWOSTOPBITS)},
        {"ComboBox5", "Software (Xon/Xoff)", flow, num(TFlowControl::fcSoftware)},
        {"ComboBox5", "Software (Xon/Xoff)", xonxoff, "1"},
        {"ComboBox5", "Hardware (Rts/Cts)", flow, num(TFlowControl::fcRtsCts)},
        {"ComboBox5", "Hardware (Rts/Cts)", cts, "1"},
        // Case-sensitive: a text that matches no row leaves the property as it was.
        {"ComboBox5", "hardware (rts/cts)", flow, num(TFlowControl::fcNone)},
        {"ComboBox3", "even", parity, num(platform::NOPARITY)},
        {"ComboBox1", "COM7", device, "COM7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Box) + " = " + c.Text);
        Settings.Button1Click(); // defaults
        Settings.findChild<QComboBox*>(QString::fromLatin1(c.Box))->setEditText(QString::fromLatin1(c.Text));
        Form->Button1Click();
        ASSERT_EQ(Form->Button1->text(), "Disconnect");
        EXPECT_EQ(c.Value(Form->COM->BuildDCB(), *Form->COM), c.Expected);
        Form->Button1Click();
        // Every connect starts from the previous values; reset the ones the mapping may leave.
        Form->COM->SetFlowControl(TFlowControl::fcNone);
        Form->COM->DataControl().SetParity(TParity::paNone);
        Form->COM->DataControl().SetDataBits(TDataBits::db8);
    }
    EXPECT_EQ(Boxes.size(), std::size(cases)); // one "Connected to" box each, no errors
    EXPECT_EQ(Boxes.back().Text, "Connected to COM7");
}

TEST_F(Form1Test, BadBaudTextStopsAfterTheDeviceName) {
    AddCom1();
    Settings.ComboBox1->setEditText("COM1");
    Settings.ComboBox2->setEditText("abc");
    RunAsEvent(Form.get(), [&] { Form->Button1Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'abc' is not a valid integer value.");
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Form->COM->DeviceName(), "COM1");
    EXPECT_FALSE(Port->IsOpen());
    EXPECT_EQ(Form->Button1->text(), "Connect");
}

TEST_F(Form1Test, RefusedLineSettingsLeaveDisconnectedAndASecondConnectWorks) {
    AddCom1();
    Port->Fail(TFakeOp::foSetCommState, EINVAL, 1);
    RunAsEvent(Form.get(), [&] { Form->Button1Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Unable to update device control block.");
    EXPECT_EQ(Form->Button1->text(), "Connect");
    EXPECT_FALSE(Form->COM->Opened());
    EXPECT_FALSE(Port->IsOpen());
    EXPECT_FALSE(Form->Button5->isEnabled());

    RunAsEvent(Form.get(), [&] { Form->Button1Click(); });
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "Connected to COM1");
    EXPECT_EQ(Form->Button1->text(), "Disconnect");
    EXPECT_TRUE(Port->IsOpen());
}

// ---- Send and Send Code

TEST_F(Form1Test, SendLineFeedPromptAndHistory) {
    Connect();
    const struct {
        const char* Line;
        bool LF;
        const char* Prompt;
        std::string Sent;
        bool ReadyAfter;
        int HistoryAdded;
    } cases[] = {
        {"ver", true, "", "ver\n", true, 1},   {"ver", false, "", "ver", true, 1},
        {"", true, "", "\n", true, 0},         {"", false, "", "", true, 0},
        {"", false, "QLX7400>", "", false, 0}, {"help", true, "QLX7400>", "help\n", false, 1},
        {"a\rb", false, "", "a\rb", true, 1}, // no terminator of its own, no CR added
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line + std::string(c.LF ? " LF" : "") + " prompt=" + c.Prompt);
        Form->Button5->setEnabled(true);
        Form->CheckBox2->setChecked(c.LF);
        Form->ComboBox4->setEditText(QString::fromLatin1(c.Prompt));
        const std::size_t before = Port->Output().size();
        const int history = Form->Edit1->count();
        Send(QString::fromLatin1(c.Line));
        EXPECT_EQ(Port->Output().substr(before), c.Sent);
        EXPECT_EQ(Form->Button5->isEnabled(), c.ReadyAfter);
        EXPECT_EQ(Form->Edit1->count(), history + c.HistoryAdded);
        EXPECT_TRUE(Form->Edit1->currentText().isEmpty());
    }
}

TEST_F(Form1Test, HistoryKeepsTheLastTenWithDuplicates) {
    Connect();
    Send("same");
    Send("same");
    for (int i = 0; i < 9; ++i)
        Send(QString("cmd%1").arg(i));
    ASSERT_EQ(Form->Edit1->count(), 10);
    EXPECT_EQ(Form->Edit1->itemText(0), "same"); // the first "same" went, the second stays
    EXPECT_EQ(Form->Edit1->itemText(9), "cmd8");
    EXPECT_EQ(Form->Edit1->itemText(1), "cmd0");
}

TEST_F(Form1Test, EnterSendsOnlyWhileReady) {
    Connect();
    Form->show();
    Form->ComboBox4->setEditText("QLX7400>");
    Form->Edit1->setFocus();
    Form->Edit1->setEditText("one");
    QTest::keyClick(Form->Edit1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Port->Output(), "one\n");
    EXPECT_FALSE(Form->Button5->isEnabled());
    Form->Edit1->setEditText("two");
    QTest::keyClick(Form->Edit1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Port->Output(), "one\n"); // waiting for the prompt: Enter sends nothing
    EXPECT_EQ(Form->Edit1->currentText(), "two");
}

TEST_F(Form1Test, SendCodeIsCaseSensitive) {
    Connect();
    const struct {
        const char* Text;
        std::string Sent;
    } cases[] = {{"Ctrl-Y", "\x19"},
                 {"Ctrl-Z", "\x1a"},
                 {"Ctrl-C", "\x03"},
                 {"Ctrl-R", "\x12"},
                 {"ctrl-c", ""},
                 {"Ctrl-X", ""},
                 {"", ""}};
    Form->ComboBox4->setEditText("QLX7400>");
    for (const auto& c : cases) {
        const std::size_t before = Port->Output().size();
        Form->ComboBox3->setEditText(c.Text);
        Form->Button10Click();
        EXPECT_EQ(Port->Output().substr(before), c.Sent) << c.Text;
        EXPECT_TRUE(Form->Button5->isEnabled()); // the ready flag is not touched
    }
}

// ---- Typed text reaches the device exactly as typed

// Types into a box's text field as the operator does, over what was there.
void Type(QComboBox* Box, const QString& Text) {
    Box->setFocus();
    Box->lineEdit()->selectAll();
    QTest::keyClicks(Box->lineEdit(), Text);
}

TEST_F(Form1Test, CommandLineSendsWhatWasTypedNotAHistoryItem) {
    ShowConnected();
    const struct {
        const char* History;
        const char* Typed;
        bool Enter; // else Send is clicked with the mouse
        std::string Sent;
    } cases[] = {
        {"Show Ver", "show ver", false, "show ver\n"},
        {"Show Ver", "show ver", true, "show ver\n"},
        {"reset all", "re", false, "re\n"},
        {"reset all", "re", true, "re\n"},
        {"reset all", "reset all", true, "reset all\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Typed) + (c.Enter ? " Enter" : " click"));
        Form->Edit1->clear();
        Form->Edit1->addItem(QString::fromLatin1(c.History));
        Form->Edit1->setCurrentIndex(-1);
        const std::size_t before = Port->Output().size();
        Type(Form->Edit1, QString::fromLatin1(c.Typed));
        EXPECT_EQ(Form->Edit1->currentText(), c.Typed);
        if (c.Enter)
            QTest::keyClick(Form->Edit1->lineEdit(), Qt::Key_Return);
        else
            QTest::mouseClick(Form->Button5, Qt::LeftButton);
        EXPECT_EQ(Port->Output().substr(before), c.Sent);
        EXPECT_EQ(Form->Edit1->itemText(Form->Edit1->count() - 1), c.Typed);
    }
}

TEST_F(Form1Test, ControlCodeAndPromptBoxesKeepTypedText) {
    ShowConnected();
    const struct {
        const char* Typed;
        std::string Sent;
    } codes[] = {{"ctrl-y", ""}, {"Ctrl-Y", "\x19"}, {"CTRL-R", ""}, {"Ctrl-R", "\x12"}, {"Ctrl", ""}};
    for (const auto& c : codes) {
        SCOPED_TRACE(c.Typed);
        const std::size_t before = Port->Output().size();
        Type(Form->ComboBox3, QString::fromLatin1(c.Typed));
        QTest::mouseClick(Form->Button10, Qt::LeftButton);
        EXPECT_EQ(Port->Output().substr(before), c.Sent);
        EXPECT_EQ(Form->ComboBox3->currentText(), c.Typed);
    }

    Type(Form->ComboBox4, "qlx7400>");
    QTest::keyClick(Form->ComboBox4->lineEdit(), Qt::Key_Return);
    QTest::mouseClick(Form->Button3, Qt::LeftButton); // the box loses the focus
    EXPECT_EQ(Form->ComboBox4->currentText(), "qlx7400>");
    // Picking from the list still puts the item's text in.
    Form->ComboBox4->setCurrentIndex(0);
    QTest::keyClick(Form->ComboBox4, Qt::Key_Down);
    EXPECT_EQ(Form->ComboBox4->currentText(), "QLX7400>");
}

TEST_F(Form1Test, LongLinesGoOutWhole) {
    Connect();
    std::string line;
    for (std::size_t i = 0; line.size() < (std::size_t{1} << 20); ++i)
        line += "row " + std::to_string(i) + " \xe9; ";
    // Typed or pasted into the command line.
    Send(FromBytes(line));
    EXPECT_EQ(Port->Output(), line + "\n");
    // A script row passes through the command line on its way out.
    Form->Grid->SetCells(1, 1, line + "!");
    Form->SelectGridRow(1);
    Form->GridClick();
    Form->Button5Click();
    EXPECT_EQ(Port->Output(), line + "\n" + line + "!\n");
}

TEST_F(Form1Test, CharactersWithoutAByteAndBadHexRefuseTheSend) {
    Connect();
    const struct {
        QString Line;
        std::string Sent; // empty: refused
        QString Named;    // what the error box names
        bool Hex = false; // the command line takes hex: exactly those bytes, no LF
    } cases[] = {
        {QString::fromUtf8("20\u00b0 \u00e9\u00ff"), "20\xb0 \xe9\xff\n", {}},
        {QString::fromUtf8("20\u00b0 \u20ac"), "", QString::fromUtf8("\"\u20ac\" (U+20AC)")},
        {QString::fromUtf8("ok \U0001F600 x"), "", QString::fromUtf8("\"\U0001F600\" (U+1F600)")},
        {QString::fromUtf8("\u0141"), "", QString::fromUtf8("\"\u0141\" (U+0141)")},
        {"0x01, 0A ff", "\x01\x0A\xFF", {}, true},
        {"01 0g", "", "\"g\" at position 5", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        Boxes.clear();
        const std::size_t before = Port->Output().size();
        const int history = Form->Edit1->count();
        Form->CheckBox3->setChecked(c.Hex);
        Form->Edit1->setEditText(c.Line);
        EXPECT_NO_THROW(Form->Button5->click());
        EXPECT_EQ(Port->Output().substr(before), c.Sent);
        if (c.Named.isEmpty()) {
            EXPECT_TRUE(Boxes.empty());
            EXPECT_EQ(Form->Edit1->itemText(Form->Edit1->count() - 1), c.Line); // kept as typed
            continue;
        }
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
        EXPECT_TRUE(Boxes[0].Text.contains(c.Named)) << Boxes[0].Text.toStdString();
        // The operator can mend the line: it stays, and nothing joins the history.
        EXPECT_EQ(Form->Edit1->currentText(), c.Line);
        EXPECT_EQ(Form->Edit1->count(), history);
        EXPECT_TRUE(Form->Button5->isEnabled());
    }
}

// ---- Received data and the prompt gate

TEST_F(Form1Test, ReceivedDataIsExpandedLoggedAndShownWithoutItsZeroBytes) {
    using namespace std::string_literals;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"ab\0cd"s}, "abcd"}, {{"\0abc"s}, "abc"},
        {{"abc\0"s}, "abc"},   {{"a\0\0b\0\nc\n\0"s}, "ab\r\nc\r\n"},
        {{"\0\0\0"s}, ""},     {{"ab\0"s, "\0\0cd"s, "\0"s, "e"}, "abcde"}};
    Connect();
    for (const auto& [batches, log] : cases) {
        SCOPED_TRACE(log);
        Form->Button3Click(); // Clear Terminal
        for (const std::string& batch : batches) {
            Port->PushInput(batch);
            ASSERT_TRUE(WaitUntil([&] { return Port->InputWaiting() == 0; }));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(Form->Terminal.ToString(), log);
        std::string shown = log;
        std::erase(shown, '\r');
        EXPECT_EQ(ScreenRow(0), shown.substr(0, shown.find('\n')));
    }

    Form->Button3Click();
    Receive("OK\r\n", 5);
    EXPECT_EQ(Form->Terminal.ToString(), "OK\r\r\n");
    Receive("x\ny\n", 6);
    EXPECT_EQ(Form->Terminal.ToString(), "OK\r\r\nx\r\ny\r\n");
    EXPECT_EQ(ScreenRow(0), "OK");
    EXPECT_EQ(ScreenRow(1), "x");
    EXPECT_EQ(ScreenRow(2), "y");
    Receive("\xff\x80", 2);
    EXPECT_EQ(Form->Terminal.ToString().substr(Form->Terminal.Size() - 2), "\xff\x80");
}

TEST_F(Form1Test, Utf8ModeDecodesForTheViewKeepsTheLogBytesAndSendsUtf8) {
    Settings.ComboBox7->setCurrentIndex(1); // read at Connect
    Connect();
    const std::string sub(1, char(TUtf8Decoder::kSubstitute));
    const std::string batches[] = {"\xe2\x94\x80\xc3", "\xa9\xe2\x82\xac\x1b[1mx\xff", "y"};
    for (const std::string& batch : batches)
        Receive(batch, batch.size());
    EXPECT_EQ(Form->Terminal.ToString(), batches[0] + batches[1] + batches[2]);
    EXPECT_EQ(ScreenRow(0), "\xc4\x82" + sub + "x" + sub + "y");
    Send(QString::fromUtf8("\u20ac"));
    EXPECT_EQ(Port->Output(), "\xe2\x82\xac\n");
    EXPECT_EQ(Form->Edit1->itemText(Form->Edit1->count() - 1), QString::fromUtf8("\u20ac"));
    // OK in the dialog switches back: the bytes are cells again.
    Settings.ComboBox7->setCurrentIndex(0);
    Settings.Button2Click();
    Receive("\xc3\xa9", 2);
    EXPECT_EQ(ScreenRow(0), "\xc4\x82" + sub + "x" + sub + "y\xc3\xa9");
}

TEST_F(Form1Test, PromptGateAndTheStateInTheStatusBar) {
    const auto state = [&] { return Form->StatusBar1->findChild<QLabel*>("StateText")->text(); };
    Settings.CheckBox2->setChecked(false); // no "Connected to" box: the status bar says it
    Connect();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(state(), "COM1  9600 8N1  Connected");
    Form->ComboBox4->setEditText("QLX7400>");
    Send("ver");
    ASSERT_FALSE(Form->Button5->isEnabled());
    EXPECT_EQ(state(), "COM1  9600 8N1  Waiting for prompt \"QLX7400>\"");
    Receive("QLX7400> ", 9); // followed by a blank: no match
    EXPECT_FALSE(Form->Button5->isEnabled());
    Receive("\nQLX74", 7); // the prompt split over two events
    EXPECT_FALSE(Form->Button5->isEnabled());
    Receive("00>", 3);
    EXPECT_TRUE(Form->Button5->isEnabled());
    EXPECT_EQ(state(), "COM1  9600 8N1  Connected");

    // Disconnect empties the log: an old prompt at its end no longer counts after a reconnect.
    Form->Button1Click();
    EXPECT_EQ(state(), "Disconnected");
    Form->Button1Click();
    Send("ver");
    ASSERT_FALSE(Form->Button5->isEnabled());
    Receive("x", 1);
    EXPECT_FALSE(Form->Button5->isEnabled());

    // With an empty prompt box every received block opens the gate.
    Form->ComboBox4->setEditText("");
    Form->Button5->setEnabled(false);
    Receive("y", 1);
    EXPECT_TRUE(Form->Button5->isEnabled());
}

// ---- The Line menu and the status bar's lamps

TEST_F(Form1Test, LineMenuTimesBreakAndPulsesAndTheLampsFollowTheLines) {
    const auto lamp = [&](const char* Name) {
        return Form->StatusBar1->findChild<QLabel*>(QString("Lamp") + Name)->accessibleDescription();
    };
    Connect();
    EXPECT_TRUE(Form->SendBreak1->isEnabled());
    EXPECT_EQ(lamp("DTR"), "off");

    // Each action's line calls, and the time between the first and the last.
    const struct {
        QAction* TForm1::*Item;
        std::vector<std::pair<TFakeOp, std::uint32_t>> Calls;
        int Ms;
    } actions[] = {
        {&TForm1::SendBreak1, {{TFakeOp::foSetCommBreak, 0}, {TFakeOp::foClearCommBreak, 0}}, 250},
        {&TForm1::PulseDTR1, {{TFakeOp::foEscapeCommFunction, 5}, {TFakeOp::foEscapeCommFunction, 6}}, 100},
        {&TForm1::PulseRTS1, {{TFakeOp::foEscapeCommFunction, 3}, {TFakeOp::foEscapeCommFunction, 4}}, 100},
    };
    for (const auto& a : actions) {
        const std::size_t before = Port->LineCalls().size();
        (Form.get()->*a.Item)->trigger();
        QTest::qWait(a.Ms + 150);
        std::vector<platform::TFakeLineCall> calls = Port->LineCalls();
        calls.erase(calls.begin(), calls.begin() + std::ptrdiff_t(before));
        std::vector<std::pair<TFakeOp, std::uint32_t>> made;
        for (const auto& c : calls)
            if (c.Op == TFakeOp::foSetCommBreak || c.Op == TFakeOp::foClearCommBreak ||
                c.Op == TFakeOp::foEscapeCommFunction)
                made.emplace_back(c.Op, c.Func);
        ASSERT_EQ(made, a.Calls) << a.Ms;
        const auto held =
            std::chrono::duration_cast<std::chrono::milliseconds>(calls.back().At - calls.front().At);
        EXPECT_TRUE(held.count() >= a.Ms && held.count() < a.Ms + 100) << held.count();
    }
    Form->DTR1->trigger();
    EXPECT_TRUE(Port->Dtr());
    EXPECT_EQ(lamp("DTR"), "on");
    Port->SetModemInputs(platform::MS_CTS_ON | platform::MS_RLSD_ON);
    ASSERT_TRUE(WaitUntil([&] { return lamp("CTS") == "on"; }));
    EXPECT_EQ(lamp("DCD"), "on");
    EXPECT_EQ(lamp("DSR"), "off");

    // A port without modem lines: greyed lamps, and one box however often it is asked.
    Form->Button1Click();
    EXPECT_FALSE(Form->SendBreak1->isEnabled());
    Port->SetModemLinesSupported(false);
    Form->Button1Click();
    EXPECT_EQ(lamp("CTS"), "unknown");
    Boxes.clear();
    for (int i = 0; i < 2; ++i)
        RunAsEvent(Form.get(), [&] { Form->SendBreak1->trigger(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Send Break: not supported by this port.");
}

// ---- Log files

std::string ReadLog(const QString& Name) {
    std::ifstream in(Name.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file with every date and time as "T".
std::string Undated(const std::string& File) {
    return std::regex_replace(File, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "T");
}

TEST_F(Form1Test, LogFileAgreesWithSaveLogAcrossStartLossAndANewConnection) {
    Settings.CheckBox2->setChecked(false);
    test::CurrentFolder folder;
    std::ofstream(folder.FilePath("COM1.log").toStdString()) << "old\r\n"; // appended to
    Form->LogFiles->StartFile(folder.FilePath("%p.log"), "COM1");
    Connect();
    Receive(std::string_view("one\ntwo\0three\nopen", 19), 19);
    Port->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes.empty(); }));
    Port = Api.AddPort("COM2");
    Settings.SetComText("COM2");
    Connect();
    Receive("\nfour\n", 8);
    Capture.Answers.push_back(folder.FilePath("saved.log"));
    Form->Button9Click();
    Form.reset();

    EXPECT_EQ(ReadLog(folder.FilePath("saved.log")), "one\r\ntwothree\r\nopen\r\nfour\r\n");
    // The same bytes between the markers; the loss marker ends the device's open line first.
    EXPECT_EQ(
        Undated(ReadLog(folder.FilePath("COM1.log"))),
        "old\r\n--- log started T ---\r\n--- connected to COM1, 9600 8N1, T ---\r\none\r\ntwothree\r\nopen"
        "\r\n--- connection lost: Input/output error, T ---\r\n--- connected to COM2, 9600 8N1, T ---\r\n"
        "\r\nfour\r\n--- disconnected T ---\r\n");
}

TEST_F(Form1Test, EveryConnectionGetsItsOwnLogFile) {
    Settings.CheckBox2->setChecked(false);
    test::CurrentFolder folder;
    Settings.CheckBox3->setChecked(true);
    Settings.CheckBox5->setChecked(false);
    Settings.Edit1->setText(folder.FilePath("logs"));
    Settings.Edit2->setText(QStringLiteral("%p.log"));
    for (const char* text : {"first\n", "second\n"}) {
        Connect();
        Receive(text, std::strlen(text) + 1);
        Form->Button1Click();
    }
    Form.reset();
    for (const auto& [file, text] : {std::pair{"logs/COM1.log", "first"}, {"logs/COM1 (2).log", "second"}}) {
        EXPECT_EQ(Undated(ReadLog(folder.FilePath(file))), "--- connected to COM1, 9600 8N1, T ---\r\n" +
                                                               std::string(text) +
                                                               "\r\n--- disconnected T ---\r\n");
        // A console's output can hold passwords.
        EXPECT_EQ(QFile(folder.FilePath(file)).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
    }
}

// A log file that cannot be made or written: one box, no file logging, the log text whole.
TEST_F(Form1Test, AFailingLogFileShowsOneBoxAndTheLogTextKeepsEverything) {
    Settings.CheckBox2->setChecked(false);
    test::CurrentFolder folder;
    // File, its size limit, the box.
    const std::tuple<const char*, rlim_t, const char*> cases[] = {
        {"missing/x.log", RLIM_INFINITY, "Cannot create the log file %1: Path not found."},
        {"full.log", 4096, "Cannot write the log file %1: File too large."},
    };
    std::signal(SIGXFSZ, SIG_IGN);
    Connect();
    for (const auto& [file, sizeLimit, box] : cases) {
        SCOPED_TRACE(file);
        Boxes.clear();
        Form->Button3Click();
        const rlimit limit{sizeLimit, RLIM_INFINITY}, none{RLIM_INFINITY, RLIM_INFINITY};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        Form->LogFiles->StartFile(folder.FilePath(file), "COM1");
        const std::string line(1000, 'x');
        // Batches go on arriving while the box is up and after it.
        for (int i = 0; i < 20; ++i) {
            Receive(line + "\n", line.size() + 2);
            if (i == 9) WaitUntil([&] { return !Boxes.empty(); });
        }
        WaitUntil([] { return false; }, 300);
        ::setrlimit(RLIMIT_FSIZE, &none);
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, QString::fromLatin1(box).arg(folder.FilePath(file)));
        EXPECT_FALSE(Form->LogFiles->LogToFile1->isChecked());
        EXPECT_EQ(Form->Terminal.Size(), 20 * (line.size() + 2));
    }
}

// ---- Losing the device

TEST_F(Form1Test, DeviceLostDisconnectsNamesThePortAndKeepsTheLog) {
    struct TSilent {}; // an exception that carries no message
    const struct {
        const char* Port;
        std::function<void(platform::TFakePort&, TXComm&)> Lose;
        const char* Box;
    } cases[] = {
        {"COM1", [](platform::TFakePort& P, TXComm&) { P.HangUp(); },
         "Connection to COM1 lost: Input/output error."},
        // The event thread ends on an exception without a message.
        {"COM7",
         [](platform::TFakePort& P, TXComm& C) {
             C.SetOnData([](TCustomComm*, std::uint32_t) { throw TSilent{}; });
             P.PushInput("x");
         },
         "Connection to COM7 lost."},
    };
    test::CurrentFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Port);
        Port = Api.AddPort(c.Port);
        Settings.SetComText(c.Port);
        Connect();
        Receive("before\n", 8);
        Boxes.clear();
        c.Lose(*Port, *Form->COM);
        ASSERT_TRUE(WaitUntil([&] { return !Boxes.empty(); }));
        EXPECT_EQ(Boxes.back().Kind, TMessageKind::Error);
        EXPECT_EQ(Boxes.back().Text, c.Box);
        EXPECT_EQ(Form->Button1->text(), "Connect");
        EXPECT_FALSE(Form->COM->Opened());
        for (QWidget* w : std::initializer_list<QWidget*>{Form->Button5, Form->Grid, Form->ComboBox3})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        // What came before the loss is still there to save.
        EXPECT_EQ(Form->Terminal.ToString(), "before\r\n");
        Capture.Answers.push_back(folder.FilePath("lost.log"));
        Form->Button9Click();
        std::ifstream saved(folder.FilePath("lost.log").toStdString(), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "before\r\n");
    }
}

TEST_F(Form1Test, DeviceLostWhileTheConnectedBoxIsOpen) {
    AddCom1();
    Capture.OnBox = [&](const test::Box& Box) {
        if (!Box.Text.startsWith("Connected to")) return;
        // The box is open: the device goes and the news arrives while it waits for OK.
        Port->HangUp();
        WaitUntil([&] { return Boxes.back().Kind == TMessageKind::Error; });
    };
    Form->Button1Click();
    Capture.OnBox = nullptr;
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "Connection to COM1 lost: Input/output error.");
    EXPECT_EQ(Form->Button1->text(), "Connect");
    for (QWidget* w : std::initializer_list<QWidget*>{
             Form->Button5, Form->Button6, Form->Button7, Form->Button8, Form->Button10, Form->Label5,
             Form->Label6, Form->SpinEdit1, Form->ComboBox3, Form->ComboBox4, Form->Grid})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(Form->OpenFile1->isEnabled());
}

TEST_F(Form1Test, ErrorsStopAtTheHandlerThatRaisedThem) {
    // Each trigger is pulled directly, the way the toolkit's button, menu and timer code calls the
    // handler: the error box shows and nothing unwinds into the caller.
    test::CurrentFolder folder;
    const QString missing = folder.FilePath("no/such/folder/x.log");
    const struct {
        const char* Name;
        std::function<void()> Pull;
        const char* Box;
    } cases[] = {
        {"Send button", [&] { Form->Button5->click(); }, "Device not opened."},
        {"Send Code button", [&] { Form->Button10->click(); }, "Device not opened."},
        {"timer tick during a batch",
         [&] {
             Form->GridClick();
             Form->Button6Click();
             ASSERT_TRUE(QMetaObject::invokeMethod(Form->Timer, "timeout", Qt::DirectConnection));
         },
         "Device not opened."},
        {"Save Log menu item",
         [&] {
             Capture.Answers.push_back(missing);
             Form->SaveLog1->trigger();
         },
         "Path not found."},
        {"Save Log button",
         [&] {
             Capture.Answers.push_back(missing);
             Form->Button9->click();
         },
         "Path not found."},
    };
    AddCom1();
    Settings.ComboBox2->setEditText("abc");
    EXPECT_NO_THROW(Form->Button1->click());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'abc' is not a valid integer value.");
    Settings.Button1Click();
    Connect();
    Form->Grid->SetCells(1, 1, "row");
    Form->COM->CloseDevice(); // the port goes away under the enabled controls
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Boxes.clear();
        EXPECT_NO_THROW(c.Pull());
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
        EXPECT_EQ(Boxes[0].Text, c.Box);
    }
    EXPECT_EQ(Form->LinesLeft(), 0); // the failed tick ended the batch
}

TEST_F(Form1Test, ErrorInAHandlerShowsTheBoxAndTheLoopGoesOn) {
    // Send while Disconnected, as the script sender may do directly: the driver's error reaches the box.
    RunAsEvent(Form.get(), [&] { Form->Button5Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Device not opened.");
    EXPECT_EQ(Boxes[0].Caption, "Qorvel Terminal V 1.3");
    bool later = false;
    RunAsEvent(Form.get(), [&] { later = true; });
    EXPECT_TRUE(later);
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
