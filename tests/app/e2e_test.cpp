// End to end on real pseudo-terminals: the main window with the system's serial layer, against a bare
// pty (the test plays the device) and against qorvel-devsim.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "emulvt/char_tables.h"
#include "emulvt/emul_vt.h"
#include "serial/xcomm.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

using test::Pty;
using test::WaitUntil;

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm1>();
        Form->AttachDialogs(&Settings, &About);
    }
    void TearDown() override { Form.reset(); }
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
    test::DesktopCapture Capture;
    std::vector<test::Box>& Boxes = Capture.Boxes;
    std::unique_ptr<TForm1> Form;
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

    // A megabyte of every byte value, faster than the window takes it, so batches merge: all but
    // the NULs arrive byte-exactly, LF expanded; the prompt opens the gate.
    std::string block;
    for (int round = 0; round < 4096; ++round)
        for (int b = 0; b < 256; ++b)
            block.push_back(static_cast<char>(b));
    block += "\r\nQLX7400>";
    pty.Write(block);
    std::string expected = Expand(block);
    std::erase(expected, '\0');
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.Size() >= expected.size(); }));
    EXPECT_EQ(Form->Terminal.ToString(), expected);
    EXPECT_TRUE(Form->Button5->isEnabled());

    // Unplugged: the other side goes away. The window disconnects but keeps the log.
    pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return Boxes.size() >= 2; }));
    EXPECT_EQ(Boxes[1].Kind, TMessageKind::Error);
    EXPECT_EQ(Boxes[1].Text,
              QString::fromStdString("Connection to " + pty.Name() + " lost: Input/output error."));
    EXPECT_EQ(Form->Button1->text(), "Connect");
    EXPECT_FALSE(Form->COM->Opened());
    EXPECT_FALSE(Form->Button5->isEnabled());
    EXPECT_EQ(Form->Terminal.ToString(), expected);
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

    // The demo's table arrives as box characters the terminal draws as lines, not as letters.
    Send("box");
    ASSERT_TRUE(WaitUntil([&] { return Form->Button5->isEnabled(); }));
    int top = -1;
    for (int row = 0; row < Form->Terminal2->Rows() && top < 0; ++row)
        if (std::string_view(reinterpret_cast<const char*>(Form->Terminal2->Screen()->GetLine(row)->Txt),
                             27) ==
            "\xDA" + std::string(14, '\xC4') + "\xC2" + std::string(10, '\xC4') + "\xBF")
            top = row;
    ASSERT_GE(top, 0);
    for (int column = 0; column < 27; ++column) {
        const char16_t shown = Cp437ToUnicode[Form->Terminal2->Screen()->GetLine(top)->Txt[column]];
        EXPECT_TRUE(shown >= 0x2500 && shown <= 0x257F) << column; // the Unicode box-drawing block
    }
    Form->Button1Click();

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    std::ifstream in(record, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "help\nbox\n");
    EXPECT_FALSE(std::filesystem::exists(link));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
