// The main window's View menu, the splitter between the "File" and "Terminal" groups, and the
// terminal view's features reached through them.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
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

TEST_F(Form1ViewTest, ViewMenuComesAfterSettingsAndTheStatusBarStaysEmpty) {
    QStringList titles;
    for (QAction* a : Form->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{"File", "Settings", "View", "Help"}));
    QStringList items;
    for (QAction* a : Form->View1->actions())
        items << a->text();
    EXPECT_EQ(items, (QStringList{"Follow Cursor", "Scroll-back", "Show All Rows", "Text Size", "",
                                  "Keys to Device"}));
    for (QAction* a : {Form->FollowCursor1, Form->ScrollBack1, Form->KeysToDevice1}) {
        EXPECT_TRUE(a->isCheckable());
        EXPECT_FALSE(a->isChecked());
    }
    QStringList sizes;
    for (QAction* a : Form->TextSize1->actions())
        if (a->isChecked()) sizes << a->text();
    EXPECT_EQ(sizes, QStringList{"5 x 12"});
    EXPECT_TRUE(Form->StatusBar1->currentMessage().isEmpty());
    EXPECT_TRUE(Form->StatusBar1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size() <= 1);
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
    ASSERT_EQ(Form->Terminal2->TopLine(), 12);
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

TEST_F(Form1ViewTest, FollowCursorShowsTheCursorRowWholeWhereverTheBorderIs) {
    TEmulVT* view = Form->Terminal2;
    Form->FollowCursor1->setChecked(true);
    const int border = Form->GroupBox1->y() - 60;
    // Every pixel of one row's height: some borders leave more than half a row below the last whole one.
    for (int offset = 0; offset < view->LineHeight(); ++offset) {
        SCOPED_TRACE(offset);
        Form->DragSplit(border - offset);
        view->WriteText("\x1b[2J\x1b[H" + std::string(24, '\n'));
        auto wholeRowShown = [&](int Row) {
            const int bottom = view->TopMargin() + (Row - view->TopLine() + 1) * view->LineHeight();
            return Row >= view->TopLine() && bottom <= view->height() - view->BottomMargin();
        };
        EXPECT_TRUE(wholeRowShown(view->Screen()->FRow));
        view->ScrollTo(view->ScrollBar()->maximum()); // the end of the scroll range shows the last row
        EXPECT_TRUE(wholeRowShown(24));
    }
}

TEST_F(Form1ViewTest, ScrollBackKeepsTheNewestRowsUpToItsCount) {
    TEmulVT* view = Form->Terminal2;
    EXPECT_EQ(Form->ScrollBackRows(), 10000);
    EXPECT_EQ(view->BackRows(), 0);
    Form->ScrollBack1->setChecked(true);
    EXPECT_EQ(view->BackRows(), 10000);
    const struct {
        int Asked, Setting, Kept;
    } counts[] = {
        {10, 1000, 1000},
        {200000, 100000, kMaxTotalRows - 25}, // as many as the model holds besides the screen
        {2500, 2500, 2500},
    };
    for (const auto& c : counts) {
        SCOPED_TRACE(c.Asked);
        Form->SetScrollBackRows(c.Asked);
        EXPECT_EQ(Form->ScrollBackRows(), c.Setting);
        EXPECT_EQ(view->BackRows(), c.Kept);
    }

    // 4000 lines: 3976 leave the screen, the newest 2499 of them stay (one back row is the spare).
    std::string text = "\x1b[2J\x1b[H";
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    view->WriteText(text);
    auto rowText = [&](int Row) {
        const std::string row(reinterpret_cast<const char*>(view->Screen()->GetLine(Row)->Txt), 10);
        return row.substr(0, row.find_last_not_of(' ') + 1);
    };
    EXPECT_EQ(view->Screen()->FFirstBackRow, -2499);
    EXPECT_EQ(rowText(-2499), "line 1477");
    EXPECT_EQ(rowText(-1), "line 3975");
    EXPECT_EQ(view->Screen()->FLines.Count(), 25 + 2500);
    EXPECT_TRUE(WaitUntil([&] { return view->ScrollBar()->minimum() == -2499; })); // at the next paint

    view->ScrollTo(-2000);
    Form->ScrollBack1->setChecked(false);
    EXPECT_EQ(view->BackRows(), 0);
    EXPECT_EQ(view->TopLine(), 0);
}

TEST_F(Form1ViewTest, KeysToDeviceSendsTypedKeysWhileConnected) {
    const auto port = Api.AddPort("COM1");
    ASSERT_TRUE(WaitUntil([&] { return !Capture.Boxes.empty(); })); // the start-up's connect is over
    if (!Form->COM->Opened()) Form->Button1Click();
    ASSERT_TRUE(Form->COM->Opened());
    Form->Terminal2->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Form->Terminal2->hasFocus(); }));
    constexpr Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const struct {
        const char* Name;
        bool On;
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        std::string Sent;
    } cases[] = {
        {"off: a letter", false, Qt::Key_A, Qt::NoModifier, ""},
        {"off: Ctrl+C", false, Qt::Key_C, Qt::ControlModifier, ""},
        {"a letter", true, Qt::Key_A, Qt::NoModifier, "a"},
        {"Enter", true, Qt::Key_Return, Qt::NoModifier, "\r"},
        {"Ctrl+C", true, Qt::Key_C, Qt::ControlModifier, "\x03"},
        {"an arrow key", true, Qt::Key_Up, Qt::NoModifier, "\x1b[A"},
        {"Ctrl+Shift+C is Copy", true, Qt::Key_C, ctrlShift, ""},
        {"Alt+Shift+F is Follow Cursor", true, Qt::Key_F, Qt::AltModifier | Qt::ShiftModifier, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form->KeysToDevice1->setChecked(c.On);
        const std::size_t before = port->Output().size();
        QTest::keyClick(Form->Terminal2, c.Key, c.Modifiers);
        EXPECT_EQ(port->Output().substr(before), c.Sent);
    }
    EXPECT_TRUE(Form->FollowCursor1->isChecked());

    // Disconnected, typed keys are dropped without a word.
    const std::size_t boxes = Capture.Boxes.size();
    Form->Button1Click();
    ASSERT_FALSE(Form->COM->Opened());
    const std::string sent = port->Output();
    QTest::keyClick(Form->Terminal2, Qt::Key_A);
    EXPECT_EQ(port->Output(), sent);
    EXPECT_EQ(Capture.Boxes.size(), boxes);
}

TEST_F(Form1ViewTest, ShortcutsReachTheMenuFromTheTerminalAndTheCommandLine) {
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

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
