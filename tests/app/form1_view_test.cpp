// The main window's View menu, the splitter between the "File" and "Terminal" groups, and the
// terminal view's features reached through them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <tuple>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/hex_dump_view.h"
#include "emulvt/emul_vt.h"
#include "platform/comm_fake.h"
#include "serial/xcomm.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

using test::WaitUntil;

class Form1ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm1>(Api);
        Form->AttachDialogs(&Settings, &About);
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    int GridHeight() const { return Form->GroupBox2->height(); }
    int TerminalHeight() const { return Form->GroupBox1->height(); }

    platform::TFakeCommApi Api;
    TForm2 Settings;
    TForm3 About;
    test::DesktopCapture Capture; // the start-up's "Cannot open" box
    std::unique_ptr<TForm1> Form;
};

TEST_F(Form1ViewTest, ViewMenuComesAfterSettingsAndTheStatusBarShowsTheState) {
    QStringList titles;
    for (QAction* a : Form->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Settings", "&View", "&Line", "&Transfer", "&Help"}));
    QStringList items;
    for (QAction* a : Form->View1->actions())
        items << a->text();
    EXPECT_EQ(items, (QStringList{"Follow Cursor", "Scroll-back", "Show All Rows", "Text Size", "Hex Dump",
                                  "", "Keys to Device", "Reset Counters"}));
    EXPECT_TRUE(Form->FollowCursor1->isCheckable());
    EXPECT_FALSE(Form->FollowCursor1->isChecked() || Form->ScrollBack1->isChecked() ||
                 Form->KeysToDevice1->isChecked());
    QStringList sizes;
    for (QAction* a : Form->TextSize1->actions())
        if (a->isChecked()) sizes << a->text();
    EXPECT_EQ(sizes, QStringList{"5 x 12"});
    EXPECT_TRUE(Form->StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(Form->StatusBar1->findChild<QLabel*>("StateText")->text(), "Disconnected");
}

TEST_F(Form1ViewTest, SplitterDefaultDragAndGrowth) {
    // Default: today's geometry, the grid takes what the window gains.
    EXPECT_EQ(Form->GroupBox1->geometry(), QRect(0, 433 - 89 - 132, 721, 132));
    EXPECT_TRUE(Form->SplitHandle->geometry().contains(QPoint(360, Form->GroupBox1->y())));
    EXPECT_EQ(Form->Terminal2->VisibleRows(), 8);

    // Dragged up by 60 pixels: the terminal gains what the grid loses.
    const int grid = GridHeight(), terminal = TerminalHeight();
    Form->DragSplit(Form->GroupBox1->y() - 60);
    EXPECT_EQ(GridHeight(), grid - 60);
    EXPECT_EQ(TerminalHeight(), terminal + 60);
    EXPECT_EQ(Form->Terminal2->VisibleRows(), 13);

    // After a drag, a taller window grows the terminal.
    Form->resize(Form->width(), Form->height() + 48);
    ASSERT_TRUE(WaitUntil([&] { return TerminalHeight() == terminal + 108; }));
    EXPECT_EQ(GridHeight(), grid - 60);

    // The grid keeps a few rows; the terminal never grows past all its rows.
    Form->DragSplit(0);
    EXPECT_EQ(GridHeight(), 40);
    Form->resize(Form->width(), Form->height() + 400);
    ASSERT_TRUE(WaitUntil([&] { return Form->centralWidget()->height() == 433 + 448; }));
    EXPECT_EQ(TerminalHeight(), Form->TerminalFullHeight());
    EXPECT_EQ(Form->Terminal2->VisibleRows(), 25);
    Form->DragSplit(10000);
    EXPECT_GE(TerminalHeight(), 0);
    EXPECT_EQ(Form->GroupBox2->geometry().bottom() + 1, Form->GroupBox1->y());
}

TEST_F(Form1ViewTest, ShowAllRowsAndTextSize) {
    Form->Terminal2->ScrollTo(12); // as four notches of the wheel do
    Form->ShowAllRows1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal2->VisibleRows() == 25; }));
    EXPECT_GE(GridHeight(), 40);
    EXPECT_EQ(Form->Terminal2->TopLine(), 0); // all rows in view, none left out of reach
    for (QAction* a : Form->TextSize1->actions()) {
        SCOPED_TRACE(a->text().toStdString());
        a->trigger();
        const QStringList wh = a->text().split(QStringLiteral(" x "));
        EXPECT_EQ(Form->Terminal2->CharWidth(), wh[0].toInt());
        EXPECT_EQ(Form->Terminal2->LineHeight(), wh[1].toInt());
    }
}

TEST_F(Form1ViewTest, FollowCursorShowsTheNewestRowWholeWhereverTheBorderIs) {
    TEmulVT* v = Form->Terminal2;
    Form->FollowCursor1->setChecked(true);
    const int border = Form->GroupBox1->y() - 60;
    for (int offset = 0; offset < v->LineHeight(); ++offset) { // some leave over half a row spare
        Form->DragSplit(border - offset);
        v->WriteText("\x1b[2J\x1b[H" + std::string(24, '\n'));
        EXPECT_LE(v->TopMargin() + (25 - v->TopLine()) * v->LineHeight(), v->height() - v->BottomMargin());
    }
}

TEST_F(Form1ViewTest, ScrollBackSetsTheTerminalsBackRows) {
    Form->ScrollBack1->setChecked(true);
    EXPECT_EQ(Form->Terminal2->BackRows(), 10000);
    Settings.SpinEdit1->setValue(2500); // the settings dialog's count, kept with OK
    Settings.Button2Click();
    EXPECT_EQ(Form->Terminal2->BackRows(), 2500);
    Form->ScrollBack1->setChecked(false);
    EXPECT_EQ(Form->Terminal2->BackRows(), 0);
}

TEST_F(Form1ViewTest, KeysToDeviceSendsTypedKeysWhileConnected) {
    const auto port = Api.AddPort("COM1");
    ASSERT_TRUE(WaitUntil([&] { return !Capture.Boxes.empty(); })); // the start-up's connect is over
    if (!Form->COM->Opened()) Form->Button1Click();
    Form->Terminal2->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal2->hasFocus(); }));
    const std::tuple<bool, Qt::Key, Qt::KeyboardModifiers, std::string> cases[] = {
        {false, Qt::Key_A, {}, ""},
        {true, Qt::Key_A, {}, "a"},
        {true, Qt::Key_C, Qt::ControlModifier, "\x03"},
        {true, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, ""}}; // the last is Copy
    for (const auto& [on, key, modifiers, sent] : cases) {
        Form->KeysToDevice1->setChecked(on);
        const std::size_t before = port->Output().size();
        QTest::keyClick(Form->Terminal2, key, modifiers);
        EXPECT_EQ(port->Output().substr(before), sent) << key;
    }
}

TEST_F(Form1ViewTest, ShortcutsReachTheMenuFromTheTerminalAndTheCommandLine) {
    Form->KeysToDevice1->setChecked(true); // typing to the device leaves Alt+Shift+letter to the menu
    for (QWidget* focus : {static_cast<QWidget*>(Form->Terminal2), static_cast<QWidget*>(Form->Edit1)}) {
        SCOPED_TRACE(focus->objectName().toStdString());
        focus->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return focus->hasFocus(); }));
        const bool before = Form->FollowCursor1->isChecked();
        QTest::keyClick(focus, Qt::Key_F, Qt::AltModifier | Qt::ShiftModifier);
        EXPECT_NE(Form->FollowCursor1->isChecked(), before);
        EXPECT_EQ(Form->Terminal2->FollowCursor(), Form->FollowCursor1->isChecked());
    }
}

TEST_F(Form1ViewTest, HexDumpShowsEveryByteCopiesRowsAndLeavesTheTerminalAsItWas) {
    const auto port = Api.AddPort("COM1");
    ASSERT_TRUE(WaitUntil([&] { return !Capture.Boxes.empty(); }));
    if (!Form->COM->Opened()) Form->Button1Click();
    const auto receive = [&](std::string_view Bytes) {
        const std::uint64_t before = Form->HexDump.TotalBytes();
        port->PushInput(Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Form->HexDump.TotalBytes() == before + Bytes.size(); }));
    };
    const auto screen = [&] {
        std::string text;
        for (int row = 0; row < 3; ++row)
            text.append(reinterpret_cast<const char*>(Form->Terminal2->Screen()->GetLine(row)->Txt), 20);
        return text;
    };
    receive(std::string("hello\0\x01\xff\r\n", 10));
    // Switched on mid-stream, from the command line: the bytes before it are there, zero byte too.
    Form->Edit1->setFocus();
    QTest::keyClick(Form->Edit1, Qt::Key_H, Qt::AltModifier | Qt::ShiftModifier);
    ASSERT_TRUE(Form->HexDumpView->isVisible());
    EXPECT_FALSE(Form->Terminal2->isVisible());
    EXPECT_EQ(Form->HexDumpView->geometry(), Form->Terminal2->geometry());
    receive("\x1b[3;5Hend of a row\x1b[1;1H");
    EXPECT_EQ(Form->HexDump.RowText(0, false).substr(0, 40), "00000000  68 65 6C 6C 6F 00 01 FF 0D 0A ");
    const std::string shown = screen();

    // Rows 1 and 2 picked with the mouse, copied with Ctrl+C.
    QWidget* rows = Form->HexDumpView->viewport();
    const int h = Form->HexDumpView->RowHeight();
    QTest::mouseClick(rows, Qt::LeftButton, {}, QPoint(40, h / 2));
    QTest::mouseClick(rows, Qt::LeftButton, Qt::ShiftModifier, QPoint(40, h + h / 2));
    QTest::keyClick(Form->HexDumpView, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), Form->HexDump.Text(0, 1, false));
    EXPECT_EQ(QApplication::clipboard()->text().count(u'\n'), 1);

    Form->HexDump1->trigger();
    EXPECT_TRUE(Form->Terminal2->isVisible());
    EXPECT_EQ(screen(), shown);
    EXPECT_NE(shown.find("end of a row"), std::string::npos);
    Form->Button3Click(); // Clear Terminal: the offsets count from 0 again
    EXPECT_EQ(Form->HexDump.TotalBytes(), 0u);
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
