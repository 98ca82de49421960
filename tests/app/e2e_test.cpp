// End to end on real pseudo-terminals: the main window with the system's serial layer, against a bare
// pty (the test plays the device) and against qorvel-devsim.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "serial/xcomm.h"

namespace qorvel {
namespace {

bool WaitUntil(const std::function<bool()>& Done, int LimitMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > LimitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

struct Box {
    TMessageKind Kind;
    QString Text;
};

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPrevHook = SetMessageBoxHook([this](TMessageKind Kind, const QString&, const QString& Text) {
            Boxes.push_back({Kind, Text});
        });
        Form = std::make_unique<TForm1>();
        Form->AttachDialogs(&Settings, &About);
    }
    void TearDown() override {
        Form.reset();
        SetMessageBoxHook(std::move(FPrevHook));
    }
    void Connect(const std::string& Port) {
        Settings.SetComText(QString::fromStdString(Port));
        Form->Button1Click();
        ASSERT_EQ(Form->Button1->text(), "Disconnect");
    }
    void Send(const QString& Line) {
        Form->Edit1->setEditText(Line);
        Form->Button5Click();
    }

    TForm2 Settings;
    TForm3 About;
    std::unique_ptr<TForm1> Form;
    std::vector<Box> Boxes;

private:
    TMessageBoxHook FPrevHook;
};

// The test is the device: it holds the master side of a pseudo-terminal.
class Pty {
public:
    Pty() {
        char name[256];
        if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        FName = name;
        // The terminal opens the slave by its name; this process keeps no handle on it.
        ::close(FSlave);
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { Close(); }
    const std::string& Name() const { return FName; }
    void Close() {
        if (FMaster >= 0) ::close(FMaster);
        FMaster = -1;
    }
    void Write(std::string_view Bytes) {
        while (!Bytes.empty()) {
            ssize_t n = ::write(FMaster, Bytes.data(), Bytes.size());
            if (n > 0) {
                Bytes.remove_prefix(static_cast<std::size_t>(n));
            } else {
                // The line is full until the terminal reads: let it.
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
        }
    }
    // Everything the terminal has written so far.
    std::string& Received() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(FMaster, buf, sizeof buf)) > 0)
            FReceived.append(buf, static_cast<std::size_t>(n));
        return FReceived;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FName;
    std::string FReceived;
};

std::string Expand(std::string_view Bytes) {
    std::string out;
    for (char c : Bytes) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

TEST_F(E2eTest, PseudoTerminalBothWaysPromptGateAndUnplug) {
    Pty pty;
    Connect(pty.Name());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, QString::fromStdString("Connected to " + pty.Name()));

    // The device receives exactly the command's bytes and one LF.
    Form->ComboBox4->setEditText("QLX7400>");
    Send("ver");
    ASSERT_TRUE(WaitUntil([&] { return pty.Received().size() >= 4; }));
    EXPECT_EQ(pty.Received(), "ver\n");
    EXPECT_FALSE(Form->Button5->isEnabled());

    // Every byte value but NUL, LF expanded, arrives byte-exactly; the prompt opens the gate.
    std::string block;
    for (int round = 0; round < 40; ++round)
        for (int b = 1; b < 256; ++b)
            block.push_back(static_cast<char>(b));
    block += "\r\nQLX7400>";
    pty.Write(block);
    const std::string expected = Expand(block);
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.Size() >= expected.size(); }));
    EXPECT_EQ(Form->Terminal.ToString(), expected);
    EXPECT_TRUE(Form->Button5->isEnabled());

    // Unplugged: the other side goes away.
    pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return Boxes.size() >= 2; }));
    EXPECT_EQ(Boxes[1].Kind, TMessageKind::Error);
    EXPECT_FALSE(Boxes[1].Text.isEmpty());
    EXPECT_EQ(Form->Button1->text(), "Connect");
    EXPECT_FALSE(Form->COM->Opened());
    EXPECT_FALSE(Form->Button5->isEnabled());
    EXPECT_EQ(Form->Terminal.Size(), 0u);
}

TEST_F(E2eTest, AgainstTheDeviceSimulator) {
    const auto dir = std::filesystem::temp_directory_path() / ("qorvel_e2e_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string link = (dir / "device").string();
    const std::string record = (dir / "record.bin").string();
    QProcess sim;
    sim.start(QStringLiteral(QORVEL_DEVSIM),
              {"--link", QString::fromStdString(link), "--record", QString::fromStdString(record)});
    ASSERT_TRUE(sim.waitForStarted(10000));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(link); }));

    Connect(link);
    Form->ComboBox4->setEditText("QLX7400>");
    // The banner ends with the prompt.
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.EndsWith("QLX7400>"); }));
    EXPECT_TRUE(Form->Button5->isEnabled());

    Send("help");
    EXPECT_FALSE(Form->Button5->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Form->Button5->isEnabled(); }));
    const std::string log = Form->Terminal.ToString();
    // The echo of the command, the device's answer with each LF expanded, and the prompt again.
    EXPECT_NE(log.find("QLX7400>help\r\n"), std::string::npos);
    EXPECT_NE(log.find("flood N"), std::string::npos);
    EXPECT_EQ(log.find('\n'), log.find("\r\n") + 1);
    EXPECT_TRUE(Form->Terminal.EndsWith("\r\nQLX7400>"));
    Form->Button1Click();

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    std::ifstream in(record, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "help\n");
    EXPECT_FALSE(std::filesystem::exists(link));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace qorvel

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qorvel::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
