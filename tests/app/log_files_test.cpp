// The window's session log files on in-memory ports: Save Log's bytes, a file per connection, failures.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <csignal>
#include <fstream>
#include <regex>
#include <sys/resource.h>
#include <tuple>

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "platform/comm_fake.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

using test::WaitUntil;

std::string ReadFile(const QString& Name) {
    std::ifstream in(Name.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file with every date and time as "T".
std::string Undated(const std::string& File) {
    return std::regex_replace(File, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "T");
}

class LogFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm1>(Api);
        Form->AttachDialogs(&Settings, &About);
        Settings.CheckBox2->setChecked(false);
    }
    void Connect(const char* Name) {
        Port = Api.AddPort(Name);
        Settings.SetComText(QString::fromLatin1(Name));
        Form->Button1Click();
        ASSERT_EQ(Form->Button1->text(), "Disconnect");
    }
    void Receive(std::string_view Bytes, std::size_t Expect) {
        const std::size_t target = Form->Terminal.Size() + Expect;
        Port->PushInput(Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.Size() >= target && Port->InputWaiting() == 0; }));
    }

    platform::TFakeCommApi Api;
    std::shared_ptr<platform::TFakePort> Port;
    TForm2 Settings;
    TForm3 About;
    test::DesktopCapture Capture;
    test::CurrentFolder Folder;
    std::unique_ptr<TForm1> Form;
};

TEST_F(LogFilesTest, FileAgreesWithSaveLogAcrossStartLossAndANewConnection) {
    std::ofstream(Folder.FilePath("COM1.log").toStdString()) << "old\r\n"; // appended to
    Form->LogFiles->StartFile(Folder.FilePath("%p.log"), "COM1");
    Connect("COM1");
    Receive(std::string_view("one\ntwo\0three\nopen", 19), 19);
    Port->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !Capture.Boxes.empty(); }));
    Connect("COM2");
    Receive("\nfour\n", 8);
    Capture.Answers.push_back(Folder.FilePath("saved.log"));
    Form->Button9Click();
    Form.reset();

    EXPECT_EQ(ReadFile(Folder.FilePath("saved.log")), "one\r\ntwothree\r\nopen\r\nfour\r\n");
    // The same bytes between the markers; the loss marker ends the device's open line first.
    EXPECT_EQ(
        Undated(ReadFile(Folder.FilePath("COM1.log"))),
        "old\r\n--- log started T ---\r\n--- connected to COM1, 9600 8N1, T ---\r\none\r\ntwothree\r\nopen"
        "\r\n--- connection lost: Input/output error, T ---\r\n--- connected to COM2, 9600 8N1, T ---\r\n"
        "\r\nfour\r\n--- disconnected T ---\r\n");
}

TEST_F(LogFilesTest, EveryConnectionGetsItsOwnFile) {
    Settings.CheckBox3->setChecked(true);
    Settings.CheckBox5->setChecked(false);
    Settings.Edit1->setText(Folder.FilePath("logs"));
    Settings.Edit2->setText(QStringLiteral("%p.log"));
    for (const char* text : {"first\n", "second\n"}) {
        Connect("COM1");
        Receive(text, std::strlen(text) + 1);
        Form->Button1Click();
    }
    Form.reset();
    for (const auto& [file, text] : {std::pair{"logs/COM1.log", "first"}, {"logs/COM1 (2).log", "second"}}) {
        EXPECT_EQ(Undated(ReadFile(Folder.FilePath(file))), "--- connected to COM1, 9600 8N1, T ---\r\n" +
                                                                std::string(text) +
                                                                "\r\n--- disconnected T ---\r\n");
        // A console's output can hold passwords.
        EXPECT_EQ(QFile(Folder.FilePath(file)).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
    }
}

// A log file that cannot be made or written: one box, no file logging, the log text whole.
TEST_F(LogFilesTest, AFailingFileShowsOneBoxAndTheLogTextKeepsEverything) {
    // File, its size limit, the box.
    const std::tuple<const char*, rlim_t, const char*> cases[] = {
        {"missing/x.log", RLIM_INFINITY, "Cannot create the log file %1: Path not found."},
        {"full.log", 4096, "Cannot write the log file %1: File too large."},
    };
    std::signal(SIGXFSZ, SIG_IGN);
    Connect("COM1");
    for (const auto& [file, sizeLimit, box] : cases) {
        SCOPED_TRACE(file);
        Capture.Boxes.clear();
        Form->Button3Click();
        const rlimit limit{sizeLimit, RLIM_INFINITY}, none{RLIM_INFINITY, RLIM_INFINITY};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        Form->LogFiles->StartFile(Folder.FilePath(file), "COM1");
        const std::string line(1000, 'x');
        // Batches go on arriving while the box is up and after it.
        for (int i = 0; i < 20; ++i) {
            Receive(line + "\n", line.size() + 2);
            if (i == 9) WaitUntil([&] { return !Capture.Boxes.empty(); });
        }
        WaitUntil([] { return false; }, 300);
        ::setrlimit(RLIMIT_FSIZE, &none);
        ASSERT_EQ(Capture.Boxes.size(), 1u);
        EXPECT_EQ(Capture.Boxes[0].Text, QString::fromLatin1(box).arg(Folder.FilePath(file)));
        EXPECT_FALSE(Form->LogFiles->LogToFile1->isChecked());
        EXPECT_EQ(Form->Terminal.Size(), 20 * (line.size() + 2));
    }
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
