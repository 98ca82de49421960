// Settings that stay: the saved default, sessions, the command line over them, files that cannot be
// used, and the port history; all in a configuration folder of the test's own.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/settings_store.h"
#include "app/startup.h"
#include "emulvt/emul_vt.h"
#include "emulvt/screen.h"
#include "platform/comm_fake.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

// The windows as main makes them, with $XDG_CONFIG_HOME in a fresh folder.
struct Program {
    Program() { qputenv("XDG_CONFIG_HOME", Config.path().toLocal8Bit()); }
    ~Program() { qunsetenv("XDG_CONFIG_HOME"); }
    void Start(const QStringList& Arguments = {}) {
        StartUp(Main, Settings, ParseStartOptions(QStringList{"qorvel-terminal"} + Arguments).value());
    }
    void Write(const QString& Path, const QByteArray& Text) {
        QDir().mkpath(QFileInfo(Path).absolutePath());
        QFile file(Path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Text);
    }
    TSettingsValues Values() const {
        TSettingsValues values;
        Settings.GetValues(values);
        Main.GetViewChoices(values);
        return values;
    }
    QTemporaryDir Config;
    test::DesktopCapture Capture;
    platform::TFakeCommApi Api;
    TForm2 Settings;
    TForm3 About;
    TForm1 Main{Api};
    bool Attached = (Main.AttachDialogs(&Settings, &About), true);
};

// Every setting away from its design value.
TSettingsValues Changed() {
    // clang-format off
    return {"/dev/ttyUSB7", "115200", "7", "Even", "2", "Hardware (Rts/Cts)", true, false, 3000, true, false,
            true, "/var/tmp/logs", "%p.log", true, false, true, true, "8 x 16", true, true, "ZMODEM"};
    // clang-format on
}

TEST(Settings, EverySettingRoundTripsThroughTheFileAndTheWindows) {
    Program program;
    TSettingsValues expected = Changed();
    ASSERT_NE(expected, TSettingsValues{});
    TSettingsStore::Save(TSettingsStore::DefaultsPath(), expected);
    TSettingsValues read;
    ASSERT_TRUE(TSettingsStore::Load(TSettingsStore::DefaultsPath(), read));
    EXPECT_EQ(read, expected);
    program.Start();
    EXPECT_EQ(program.Values(), expected);
    EXPECT_EQ(program.Main.ScrollBackRows(), 3000);
    EXPECT_TRUE(program.Main.SettingsNotices().isEmpty());
    // Load Defaults goes back to the saved default while there is one, to the design values after.
    program.Settings.SetComText("COM4");
    program.Settings.Button1Click();
    EXPECT_EQ(program.Settings.ComText(), expected.Com);
    program.Settings.ForgetDefault();
    program.Settings.Button1Click();
    EXPECT_EQ(program.Settings.ComText(), "COM1");
    EXPECT_FALSE(QFileInfo::exists(TSettingsStore::DefaultsPath()));
}

TEST(Settings, WithoutAFileTheStartIsTodays) {
    Program program, today;
    program.Start();
    EXPECT_EQ(program.Values(), today.Values());
    EXPECT_EQ(program.Values(), TSettingsValues{});
    EXPECT_EQ(program.Main.windowTitle(), today.Main.windowTitle());
    EXPECT_TRUE(program.Main.SettingsNotices().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(TSettingsStore::Folder()));
}

TEST(Settings, AFileThatCannotBeUsedGivesTheDesignValuesAndOneNotice) {
    const struct {
        const char* Name;
        QByteArray Text; // empty: a folder in the file's place, which no one can read as a file
        const char* Reason;
    } cases[] = {
        {"corrupt", QByteArray("\x00\x01\xff[Port\nName", 12), "it is not an INI file"},
        {"unreadable", {}, "it is a folder"},
        {"future", "Version=2\n[Port]\nName=COM7\n", "newer version of the program (Version=2)"},
        {"bad value", "Version=1\n[Port]\nName=COM7\nBits=9\n", "Port/Bits is \"9\""},
        {"bad rate", "Version=1\n[Port]\nBaudrate=fast\n", "Port/Baudrate is \"fast\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Program program;
        const QString path = TSettingsStore::DefaultsPath();
        if (c.Text.isEmpty())
            QDir().mkpath(path);
        else
            program.Write(path, c.Text);
        program.Start();
        EXPECT_EQ(program.Values(), TSettingsValues{});
        EXPECT_EQ(program.Main.SettingsNotices().size(), 1);
        const QString notice = program.Main.SettingsNotices().value(0);
        EXPECT_TRUE(notice.startsWith("Settings file " + path + " ignored: ")) << notice.toStdString();
        EXPECT_TRUE(notice.contains(c.Reason)) << notice.toStdString();
        if (&c == &cases[0]) { // in the terminal too, once the window shows
            program.Main.show();
            const auto row = [&] {
                return std::string(
                    reinterpret_cast<const char*>(program.Main.Terminal2->Screen()->GetLine(0)->Txt), 20);
            };
            EXPECT_TRUE(test::WaitUntil([&] { return row().starts_with("*** Settings file"); }));
        }
        // A connect's history leaves the ignored file as the operator left it.
        program.Settings.PortConnected("COM9");
        if (c.Text.isEmpty()) {
            EXPECT_THROW(program.Settings.SaveDefault(), ETextError);
            continue;
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.Text);
        // Save as Default replaces it.
        program.Settings.SaveDefault();
        TSettingsValues saved;
        EXPECT_TRUE(TSettingsStore::Load(path, saved));
    }
}

TEST(Settings, SessionOverTheDefaultAndTheCommandLineOverBoth) {
    Program program;
    TSettingsValues base, lab = Changed();
    base.Com = "COM5";
    base.Baudrate = "19200";
    base.StopBits = "2";
    lab.StopBits = "1";
    TSettingsStore::Save(TSettingsStore::DefaultsPath(), base);
    program.Write(TSettingsStore::SessionPath("lab"), "[Port]\nName=/dev/ttyUSB3\nBaudrate=57600\n"
                                                      "[View]\nScrollBack=true\n");
    program.Start({"--port", "/dev/ttyACM0", "--session", "lab", "--hex-dump"});
    const TSettingsValues values = program.Values();
    EXPECT_EQ(values.Com, "/dev/ttyACM0");
    EXPECT_EQ(values.Baudrate, "57600");
    EXPECT_EQ(values.StopBits, "2"); // not in the session: the default's
    EXPECT_TRUE(program.Main.ScrollBack1->isChecked());
    EXPECT_TRUE(program.Main.HexDump1->isChecked());
    EXPECT_EQ(program.Main.windowTitle(), QString::fromUtf8("Qorvel Terminal \u2014 lab"));
    // Saved from the windows, opened again: the same settings.
    program.Main.SaveSession("bench");
    program.Settings.SetValues(TSettingsValues{});
    program.Main.OpenSession("bench");
    EXPECT_EQ(program.Values(), values);
    EXPECT_EQ(TSettingsStore::Sessions(), (QStringList{"bench", "lab"}));
    EXPECT_THROW(program.Main.SaveSession("../x"), ETextError);
    EXPECT_THROW(program.Main.SaveSession(".hidden"), ETextError);
    Program other;
    EXPECT_THROW(other.Start({"--session", "nowhere"}), ETextError);
    EXPECT_FALSE(ParseStartOptions({"qorvel-terminal", "--session"}));
}

TEST(Settings, TheComBoxOffersTheTenLastPortsConnectedTo) {
    Program program;
    program.Start();
    for (int i = 0; i < 12; ++i)
        program.Api.AddPort(QStringLiteral("/dev/ttyUSB%1").arg(i).toStdString());
    program.Api.AddPort("COM3");
    // Connected in this order, USB2 twice; COM3 is in the box already.
    for (const char* port :
         {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "COM3", "/dev/ttyUSB3", "/dev/ttyUSB4",
          "/dev/ttyUSB5", "/dev/ttyUSB6", "/dev/ttyUSB7", "/dev/ttyUSB8", "/dev/ttyUSB2", "/dev/ttyUSB9"}) {
        program.Settings.SetComText(port);
        program.Main.Button1Click();
        ASSERT_EQ(program.Main.Button1->text(), "Disconnect") << port;
        program.Main.Button1Click();
    }
    const QStringList recent{"/dev/ttyUSB9", "/dev/ttyUSB2", "/dev/ttyUSB8", "/dev/ttyUSB7", "/dev/ttyUSB6",
                             "/dev/ttyUSB5", "/dev/ttyUSB4", "/dev/ttyUSB3", "COM3",         "/dev/ttyUSB1"};
    EXPECT_EQ(program.Settings.PortHistory(), recent);
    QStringList offered;
    for (int i = 12; i < program.Settings.ComboBox1->count(); ++i)
        offered << program.Settings.ComboBox1->itemText(i);
    EXPECT_EQ(offered, QStringList{""} + recent.filter("/dev/"));
    // The next run has the history, and the history alone does not change its settings.
    Program next;
    qputenv("XDG_CONFIG_HOME", program.Config.path().toLocal8Bit());
    next.Start();
    EXPECT_EQ(next.Settings.PortHistory(), recent);
    EXPECT_EQ(next.Values(), TSettingsValues{});
}

// The program itself: the toolkit must not take "--session" for its own, and its options still work.
TEST(Settings, TheProgramStartsWithTheSessionOnItsCommandLine) {
    Program program;
    test::Pty pty;
    program.Write(TSettingsStore::SessionPath("bench"),
                  "[Port]\nName=" + QByteArray::fromStdString(pty.Name()) +
                      "\n[Terminal]\nConfirmConnections=false\n");
    QProcess terminal;
    terminal.start(QORVEL_TERMINAL, {"-platform", "offscreen", "--session", "bench"});
    // A Connect that succeeded is the one that goes into the history.
    const bool connected = test::WaitUntil([&] {
        QFile file(TSettingsStore::DefaultsPath());
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(pty.Name().c_str());
    });
    terminal.kill();
    terminal.waitForFinished();
    EXPECT_TRUE(connected) << terminal.readAllStandardError().toStdString();
    QProcess unknown;
    unknown.start(QORVEL_TERMINAL, {"-platform", "offscreen", "--session", "nowhere"});
    ASSERT_TRUE(unknown.waitForFinished(15000));
    EXPECT_EQ(unknown.exitCode(), 2);
    EXPECT_TRUE(unknown.readAllStandardError().contains("There is no session \"nowhere\""));
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
