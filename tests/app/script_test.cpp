// The script sender, the prompt list, Save Log, Clear Terminal, Help and About of the main window,
// headless, with a real pseudo-terminal as the device. The test drives the timer itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_text.h"
#include "app/string_grid.h"
#include "emulvt/emul_vt.h"
#include "serial/xcomm.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

using test::RunAsEvent;
using test::WaitUntil;

std::string ReadFile(const QString& Name) {
    std::ifstream in(Name.toStdString(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const QString& Name, std::string_view Bytes) {
    std::ofstream(Name.toStdString(), std::ios::binary)
        .write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override { NewForm(); }
    void TearDown() override { Form.reset(); }
    void NewForm() {
        Form = std::make_unique<TForm1>();
        Form->AttachDialogs(&Settings, &About);
        Form->Timer->stop(); // ticks come from the test, one at a time
    }

    // Shows the window; its start-up connects to the pseudo-terminal.
    void Connect() {
        Settings.SetComText(QString::fromStdString(Device.Name()));
        Form->show();
        ASSERT_TRUE(WaitUntil([&] { return Form->Button1->text() == "Disconnect"; }));
        Boxes.clear();
    }
    QString Path(const QString& Name) const { return Dir.FilePath(Name); }
    // Writes a script and loads it through the "..." button.
    void LoadScript(std::string_view Bytes) {
        const QString name = Path("script.txt");
        WriteFile(name, Bytes);
        Answers.push_back(name);
        Form->Button7Click();
    }
    std::vector<std::string> GridTexts() const {
        std::vector<std::string> rows;
        for (int r = 1; r < Form->Grid->RowCount(); ++r)
            rows.push_back(Form->Grid->Cells(0, r) + "|" + Form->Grid->Cells(1, r));
        return rows;
    }
    // What the device has received, once Bytes more have come (or the limit has passed).
    std::string ReceivedAfter(std::size_t Before, std::size_t Bytes) {
        WaitUntil([&] { return Device.Received().size() >= Before + Bytes; }, 5000);
        return Device.Received();
    }
    void DeviceSends(std::string_view Bytes) {
        const std::size_t target = Form->Terminal.Size() + Bytes.size();
        Device.Write(Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Form->Terminal.Size() >= target; }));
    }
    int SelectedRow() const { return Form->Grid->Selection().Top; }

    test::CurrentFolder Dir;
    test::Pty Device;
    TForm2 Settings;
    TForm3 About;
    test::DesktopCapture Capture;
    std::vector<test::Box>& Boxes = Capture.Boxes;
    std::deque<std::optional<QString>>& Answers = Capture.Answers;
    std::vector<QFileDialog*>& Dialogs = Capture.Dialogs;
    std::unique_ptr<TForm1> Form;
};

// ---- Reading script files into the grid

TEST_F(ScriptTest, ScriptFilesFillTheGridOneRowPerLine) {
    const struct {
        const char* Name;
        std::string Bytes;
        std::vector<std::string> Rows;
    } cases[] = {
        // The reading rules themselves are covered by the text-file unit tests.
        {"file reading rules apply",
         std::string("a\rb\r\ncd\x1A"
                     "ef\ngh\n"),
         {"1|ab", "2|cd"}},
        {"empty lines are rows", "\n\nx\n", {"1|", "2|", "3|x"}},
        {"empty file", "", {"|"}},
        {"one line", "only", {"1|only"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        LoadScript(c.Bytes);
        EXPECT_EQ(GridTexts(), c.Rows);
        EXPECT_EQ(Form->Edit2->text(), Path("script.txt"));
        // The row pick ran on row 1: its text in the command line, the rows below it in "Lines".
        EXPECT_EQ(SelectedRow(), 1);
        EXPECT_EQ(Form->Edit1->currentText().toStdString(), c.Rows[0].substr(c.Rows[0].find('|') + 1));
        EXPECT_EQ(Form->SpinEdit1->value(), std::max<int>(static_cast<int>(c.Rows.size()) - 1, 1));
    }
}

TEST_F(ScriptTest, OpenFailuresAndCancel) {
    LoadScript("ab\ncd\n");
    // Cancel changes nothing.
    Answers.push_back(std::nullopt);
    Form->Button7Click();
    EXPECT_EQ(GridTexts(), (std::vector<std::string>{"1|ab", "2|cd"}));
    ASSERT_EQ(Dialogs.back(), Form->OpenDialog1);

    // A name that does not exist: one empty row, the row pick runs, no error.
    Answers.push_back(Path("missing.txt"));
    RunAsEvent(Form.get(), [&] { Form->Button7Click(); });
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(GridTexts(), std::vector<std::string>{"|"});
    EXPECT_EQ(Form->SpinEdit1->value(), 1);

    // A file that cannot be read: the error box, the name shown, the grid reset.
    LoadScript("ab\ncd\n");
    Answers.push_back(Dir.Path());
    RunAsEvent(Form.get(), [&] { Form->Button7Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Form->Edit2->text(), Dir.Path());
    EXPECT_EQ(GridTexts(), std::vector<std::string>{"|"});
}

TEST_F(ScriptTest, SelectGridRowClampsAndBringsTheRowToTheTop) {
    Connect();
    std::string script;
    for (int i = 1; i <= 100; ++i)
        script += "line " + std::to_string(i) + "\n";
    LoadScript(script);
    const int visible = Form->Grid->VisibleRowCount();
    ASSERT_GT(visible, 1);
    ASSERT_LT(visible, 40);

    Form->SelectGridRow(50);
    EXPECT_EQ(SelectedRow(), 50);
    EXPECT_EQ(Form->Grid->TopRow(), 50);
    // A row in view does not scroll.
    Form->SelectGridRow(50 + visible - 1);
    EXPECT_EQ(Form->Grid->TopRow(), 50);
    // Above the top row: it becomes the top row.
    Form->SelectGridRow(10);
    EXPECT_EQ(Form->Grid->TopRow(), 10);
    // Past the end: the last row.
    Form->SelectGridRow(1000);
    EXPECT_EQ(SelectedRow(), 100);
    EXPECT_GE(100, Form->Grid->TopRow());
    EXPECT_LE(100, Form->Grid->TopRow() + visible - 1);
}

// ---- Batches

struct BatchCase {
    const char* Name;
    std::optional<std::string> Script; // nothing: the 7 design rows
    int StartRow;                      // 0: Send ALL; otherwise Send Next from this row
    int RaiseLinesTo;                  // 0: keep what the row pick set
    int Ticks;
    std::string Sent;
};

TEST_F(ScriptTest, BatchesSendTheRowsOnePerTick) {
    const BatchCase cases[] = {
        {"one-line file, Send ALL", "only\n", 0, 0, 1, "only\nonly\n"},
        {"empty file, Send ALL", "", 0, 0, 1, "\n\n"},
        {"no file, Send ALL", std::nullopt, 0, 0, 5, "\n\n\n\n\n\n"},
        {"Send Next on the last row", "a\nb\nc\n", 3, 0, 1, "c\n"},
        {"Send Next from row 1", "a\nb\nc\n", 1, 0, 2, "b\nc\n"},
        {"raised Lines repeat the last row", "a\nb\n", 1, 3, 3, "b\nb\nb\n"},
    };
    for (const BatchCase& c : cases) {
        SCOPED_TRACE(c.Name);
        NewForm();
        Connect();
        if (c.Script) LoadScript(*c.Script);
        const std::size_t before = Device.Received().size();
        if (c.StartRow == 0) {
            Form->Button8Click();
        } else {
            Form->SelectGridRow(c.StartRow);
            Form->GridClick();
            if (c.RaiseLinesTo) Form->SpinEdit1->setValue(c.RaiseLinesTo);
            Form->Button6Click();
        }
        EXPECT_EQ(Form->LinesLeft(), c.Ticks);
        for (int t = 0; t < c.Ticks; ++t)
            Form->TimerTimer();
        EXPECT_EQ(Form->LinesLeft(), 0);
        Form->TimerTimer();
        EXPECT_EQ(ReceivedAfter(before, c.Sent.size()).substr(before), c.Sent);
        EXPECT_TRUE(Form->Gauge->isHidden());
        EXPECT_TRUE(Form->TimerButton->isHidden());
    }
}

TEST_F(ScriptTest, SendAllWithoutPromptOneLinePerTickWithProgress) {
    Connect();
    LoadScript("one\ntwo\nthree\n");
    Form->Button8Click();
    EXPECT_EQ(ReceivedAfter(0, 4), "one\n");
    EXPECT_EQ(Form->LinesLeft(), 2);
    EXPECT_TRUE(Form->Gauge->isHidden());

    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 8), "one\ntwo\n");
    EXPECT_FALSE(Form->Gauge->isHidden());
    EXPECT_FALSE(Form->TimerButton->isHidden());
    EXPECT_EQ(Form->Gauge->value(), 1);
    EXPECT_EQ(Form->Gauge->maximum(), 2);
    EXPECT_EQ(Form->Gauge->text(), "50%");
    EXPECT_EQ(SelectedRow(), 2);

    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 14), "one\ntwo\nthree\n");
    EXPECT_TRUE(Form->Gauge->isHidden());
    EXPECT_TRUE(Form->TimerButton->isHidden());
    EXPECT_EQ(Form->Edit1->count(), 3);
}

TEST_F(ScriptTest, SendAllWithPromptWaitsForThePrompt) {
    Connect();
    Form->ComboBox4->setEditText("QLX7400>");
    LoadScript("one\ntwo\nthree\n");
    Form->Button8Click();
    EXPECT_EQ(ReceivedAfter(0, 4), "one\n");
    EXPECT_FALSE(Form->Button5->isEnabled());

    Form->TimerTimer();
    EXPECT_EQ(Form->LinesLeft(), 2);
    EXPECT_FALSE(Form->TimerButton->isHidden());
    EXPECT_EQ(SelectedRow(), 1);
    // The prompt split over two blocks still opens the gate when its last byte arrives.
    DeviceSends("one\r\nQLX7");
    Form->TimerTimer();
    EXPECT_EQ(Form->LinesLeft(), 2);
    DeviceSends("400>");
    EXPECT_TRUE(Form->Button5->isEnabled());
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 8), "one\ntwo\n");
    EXPECT_EQ(Form->Gauge->text(), "50%");
    DeviceSends("two\r\nQLX7400>");
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 14), "one\ntwo\nthree\n");
    EXPECT_EQ(Form->LinesLeft(), 0);
    EXPECT_TRUE(Form->TimerButton->isHidden());
}

TEST_F(ScriptTest, PromptThatNeverArrivesBreakAndPromptChange) {
    Connect();
    Form->ComboBox4->setEditText("QLX7400>");
    LoadScript("one\ntwo\nthree\n");
    Form->Button8Click();
    for (int t = 0; t < 3; ++t)
        Form->TimerTimer();
    EXPECT_EQ(Form->LinesLeft(), 2);
    EXPECT_FALSE(Form->TimerButton->isHidden());
    EXPECT_FALSE(Form->Gauge->isHidden());

    Form->TimerButton->click();
    EXPECT_EQ(Form->LinesLeft(), 0);
    EXPECT_TRUE(Form->TimerButton->isHidden());
    EXPECT_TRUE(Form->Gauge->isHidden());
    EXPECT_FALSE(Form->Button5->isEnabled());

    // A new batch waits again; the operator changing the prompt releases it.
    Form->Button8Click();
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 8), "one\none\n");
    // The program's own changes of the box do not count.
    Form->ComboBox4->setEditText("QLX7400");
    EXPECT_FALSE(Form->Button5->isEnabled());
    Form->ComboBox4->lineEdit()->setFocus();
    QTest::keyClick(Form->ComboBox4->lineEdit(), Qt::Key_Greater);
    EXPECT_EQ(Form->ComboBox4->currentText(), "QLX7400>");
    EXPECT_TRUE(Form->Button5->isEnabled());
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 12), "one\none\ntwo\n");
    EXPECT_EQ(Form->LinesLeft(), 1);
}

TEST_F(ScriptTest, DisconnectHoldsTheBatchAndReconnectResumesIt) {
    Connect();
    LoadScript("one\ntwo\nthree\n");
    Form->Button8Click();
    // Read before the port closes: closing a pseudo-terminal drops what the peer has not read.
    EXPECT_EQ(ReceivedAfter(0, 4), "one\n");
    Form->Button1Click();
    EXPECT_TRUE(Form->TimerButton->isHidden());
    Form->TimerTimer();
    EXPECT_FALSE(Form->TimerButton->isHidden());
    EXPECT_EQ(Form->LinesLeft(), 2);
    Form->Button1Click();
    ASSERT_EQ(Form->Button1->text(), "Disconnect");
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 8), "one\ntwo\n");
    EXPECT_EQ(Form->LinesLeft(), 1);
}

TEST_F(ScriptTest, AFailingSendEndsTheBatchWithOneErrorBox) {
    Connect();
    LoadScript("one\ntwo\nthree\n");
    Form->Button8Click();
    // The port goes away under the window: Send is still enabled, but writing fails.
    Form->COM->CloseDevice();
    RunAsEvent(Form.get(), [&] { Form->TimerTimer(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Form->LinesLeft(), 0);
    EXPECT_TRUE(Form->TimerButton->isHidden());
    RunAsEvent(Form.get(), [&] { Form->TimerTimer(); });
    EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(ScriptTest, EnterInTheGridSendsAndMovesOnOnlyWhenReady) {
    Connect();
    Form->ComboBox4->setEditText("P>");
    LoadScript("one\ntwo\nthree\n");
    Form->Grid->setFocus();
    QTest::keyClick(Form->Grid, Qt::Key_Return);
    EXPECT_EQ(ReceivedAfter(0, 4), "one\n");
    EXPECT_EQ(SelectedRow(), 2);
    EXPECT_EQ(Form->Edit1->currentText(), "two");

    // Waiting for the prompt: Enter neither sends nor moves.
    QTest::keyClick(Form->Grid, Qt::Key_Return);
    EXPECT_EQ(SelectedRow(), 2);
    DeviceSends("P>");
    EXPECT_EQ(Device.Received(), "one\n");

    // An edited cell is sent as the operator sees it.
    Form->Grid->setFocus();
    QTest::keyClick(Form->Grid, Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    ASSERT_NE(editor, Form->Grid);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, "X");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(ReceivedAfter(0, 9), "one\ntwoX\n");
    EXPECT_EQ(SelectedRow(), 3);
}

TEST_F(ScriptTest, TypingInTheCellEditorRunsTheGridKeyHandler) {
    Connect();
    LoadScript("one\ntwo\n");
    Form->Grid->setFocus();
    QTest::keyClick(Form->Grid, Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    ASSERT_NE(editor, Form->Grid);
    // The handler puts the row's text on the command line, as it does for a key on the grid itself.
    Form->Edit1->setEditText("other");
    QTest::keyClicks(editor, "X");
    EXPECT_EQ(Form->Edit1->currentText(), "one");
    // While the prompt is awaited the handler does nothing.
    Form->ComboBox4->setEditText("P>");
    Form->Button5Click();
    Form->Edit1->setEditText("other");
    QTest::keyClicks(editor, "Y");
    EXPECT_EQ(Form->Edit1->currentText(), "other");
}

// ---- Prompt list

TEST_F(ScriptTest, PromptListReplacesTheItemsUnchanged) {
    Connect();
    Form->ComboBox4->setEditText("P>");
    Form->Edit1->setEditText("x");
    Form->Button5Click();
    ASSERT_FALSE(Form->Button5->isEnabled());

    WriteFile(Path("prompts.txt"), "QLX7400>\r\n\nOK \n");
    Answers.push_back(Path("prompts.txt"));
    Form->Button4Click();
    ASSERT_EQ(Form->ComboBox4->count(), 3);
    EXPECT_EQ(Form->ComboBox4->itemText(0), "QLX7400>");
    EXPECT_EQ(Form->ComboBox4->itemText(1), "");
    EXPECT_EQ(Form->ComboBox4->itemText(2), "OK ");
    EXPECT_EQ(Form->ComboBox4->currentText(), "");
    // Loading is the program's change, not the operator's.
    EXPECT_FALSE(Form->Button5->isEnabled());

    // Cancel and a missing file leave the list alone.
    Answers.push_back(std::nullopt);
    Form->Button4Click();
    Answers.push_back(Path("missing.txt"));
    Form->Button4Click();
    EXPECT_EQ(Form->ComboBox4->count(), 3);

    // Picking an item is the operator's change.
    QTest::keyClick(Form->ComboBox4, Qt::Key_Down);
    EXPECT_EQ(Form->ComboBox4->currentText(), "QLX7400>");
    EXPECT_TRUE(Form->Button5->isEnabled());
}

// ---- Save Log and Clear Terminal

TEST_F(ScriptTest, SaveLogWritesTheLogAndClears) {
    Connect();
    DeviceSends("A\nB\n");
    Answers.push_back(Path("first"));
    Form->Button9Click();
    ASSERT_EQ(Dialogs.back(), Form->SaveDialog1);
    EXPECT_EQ(ReadFile(Path("first.log")), "A\r\nB\r\n");
    EXPECT_EQ(Form->Terminal.Size(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Form->Terminal2->Screen()->GetLine(0)->Txt), 1), " ");

    // The second save finds the log emptied by the first; a name with an extension keeps it.
    Answers.push_back(Path("second.txt"));
    Form->Button9Click();
    EXPECT_TRUE(QFileInfo::exists(Path("second.txt")));
    EXPECT_EQ(ReadFile(Path("second.txt")), "");

    // An existing file is replaced.
    DeviceSends("C");
    Answers.push_back(Path("first.log"));
    Form->Button9Click();
    EXPECT_EQ(ReadFile(Path("first.log")), "C");

    // Cancel: nothing written, nothing cleared.
    DeviceSends("D");
    Answers.push_back(std::nullopt);
    Form->Button9Click();
    EXPECT_EQ(Form->Terminal.ToString(), "D");

    // After a Disconnect the log is empty.
    Form->Button1Click();
    Answers.push_back(Path("after.log"));
    Form->Button9Click();
    EXPECT_TRUE(QFileInfo::exists(Path("after.log")));
    EXPECT_EQ(ReadFile(Path("after.log")), "");
}

TEST_F(ScriptTest, SaveLogToAnUnwritableTargetClearsNothing) {
    Connect();
    DeviceSends("keep\n");
    Answers.push_back(Path("no/such/folder/x.log"));
    RunAsEvent(Form.get(), [&] { Form->Button9Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Path not found.");
    EXPECT_EQ(Form->Terminal.ToString(), "keep\r\n");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Form->Terminal2->Screen()->GetLine(0)->Txt), 4),
              "keep");
}

ssize_t NoRoomForTheLog(int, const iovec*, int, off_t) {
    errno = ENOSPC;
    return -1;
}

TEST_F(ScriptTest, LogBeyondItsMemoryLimitIsSavedWholeEvenWhenItsFileFails) {
    Form->Terminal.SetMemoryLimit(TLogText::kBlockSize);
    Connect();
    Form->ComboBox4->setEditText("QLX7400>");
    std::string sent, expected;
    for (int i = 0; sent.size() < 4 * TLogText::kBlockSize; ++i)
        sent += "line " + std::to_string(i) + "\n";
    for (char c : sent)
        expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Form->Button5->setEnabled(false);
    DeviceSends(sent);
    EXPECT_GT(Form->Terminal.SpilledBytes(), 0u);
    EXPECT_FALSE(Form->Button5->isEnabled());
    // The prompt is found at the end of a log whose older part is in the file.
    DeviceSends("QLX7400>");
    EXPECT_TRUE(Form->Button5->isEnabled());
    expected += "QLX7400>";
    Answers.push_back(Path("spilled.log"));
    Form->Button9Click();
    EXPECT_TRUE(ReadFile(Path("spilled.log")) == expected);
    EXPECT_EQ(Form->Terminal.Size(), 0u);

    // A file that cannot be written: one error box saying so, and nothing lost.
    Form->Terminal.SetSpillWrite(NoRoomForTheLog);
    DeviceSends(sent);
    ASSERT_TRUE(WaitUntil([&] { return !Boxes.empty(); }));
    EXPECT_EQ(Boxes[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Boxes[0].Text.contains("Disk full")) << Boxes[0].Text.toStdString();
    DeviceSends(sent);
    QTest::qWait(50);
    EXPECT_EQ(Boxes.size(), 1u);
    Answers.push_back(Path("kept.log"));
    Form->Button9Click();
    EXPECT_TRUE(ReadFile(Path("kept.log")) ==
                expected.substr(0, expected.size() - 8) + expected.substr(0, expected.size() - 8));
}

TEST_F(ScriptTest, ClearTerminalDuringABatch) {
    Connect();
    Form->ComboBox4->setEditText("P>");
    LoadScript("one\ntwo\n");
    Form->Button8Click();
    DeviceSends("xP");
    Form->Button3Click();
    EXPECT_EQ(Form->Terminal.Size(), 0u);
    EXPECT_EQ(Form->LinesLeft(), 1);
    // Only text after the clearing counts: ">" alone is no prompt.
    DeviceSends(">");
    EXPECT_FALSE(Form->Button5->isEnabled());
    DeviceSends("P>");
    Form->TimerTimer();
    EXPECT_EQ(ReceivedAfter(0, 8), "one\ntwo\n");
    EXPECT_EQ(Form->LinesLeft(), 0);
}

// ---- Help

TEST_F(ScriptTest, HelpShowsThePageInTheWorkingFolderOrNextToTheProgram) {
    const std::vector<QUrl>& opened = Capture.Opened;
    const QUrl besideProgram = QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/help.html");
    const QUrl inFolder = QUrl::fromLocalFile(QFileInfo(Path("help.html")).absoluteFilePath());
    // The program's own window needs no browser.
    Form->Help2Click();
    auto* browser = Form->findChild<QTextBrowser*>("HelpBrowser");
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->window()->isVisible());
    EXPECT_EQ(browser->source(), besideProgram);
    Form->HelpInBrowser1Click();
    WriteFile(Path("help.html"), "<html></html>");
    Form->Help2Click();
    EXPECT_EQ(browser->source(), inFolder);
    Form->HelpInBrowser1Click();
    EXPECT_EQ(opened, (std::vector<QUrl>{besideProgram, inFolder}));

    // Without a browser the operator is told, not left with a line on stderr.
    Capture.OpenResult = false;
    RunAsEvent(Form.get(), [&] { Form->HelpInBrowser1Click(); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.startsWith("No browser opened the help page")) << Boxes[0].Text.toStdString();
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
