// Selecting with the mouse, the selected text, its inverted drawing, and following the cursor.
#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "view_test_support.h"

namespace qorvel::test {
namespace {

// A 10-row view at the main window's cells that shows 4 rows, with 20 back rows.
class ViewSelection : public ::testing::Test {
protected:
    void SetUp() override {
        View.SetRows(10);
        View.SetCols(40);
        View.SetBackRows(20);
        View.SetCharWidth(5);
        View.SetLineHeight(12);
        View.resize(40 * 5 + 12 + kScrollBarWidth, 4 * 12 + 8);
        View.ClearScreen();
        View.Screen()->GotoXY(0, 0);
        View.UpdateScreen();
    }
    // Writes "line N" rows 0..Count-1, the cursor left on the next row.
    void WriteLines(int From, int Count) {
        std::string s;
        for (int i = From; i < From + Count; ++i)
            s += "line " + std::to_string(i) + "\r\n";
        View.WriteText(s);
    }
    QPoint CellCentre(int VisibleRow, int Col) const { return View.Cell(VisibleRow, Col).center(); }
    void Mouse(QEvent::Type Type, QPoint At, Qt::MouseButton Button, Qt::MouseButtons Buttons) {
        QMouseEvent e(Type, At, View.mapToGlobal(At), Button, Buttons, Qt::NoModifier);
        QApplication::sendEvent(&View, &e);
    }
    TProbeVT View;
};

TEST_F(ViewSelection, SelectedTextAcrossRowsAndBackRows) {
    struct TCase {
        const char* Name;
        TCellPos From, To;
        const char* Text;
    };
    // 14 lines and the cursor's empty row in 10 rows: "line 0".."line 4" went into the back rows
    // (-5..-1), "line 5" is on row 0.
    const TCase cases[] = {
        {"part of one row", {1, 5}, {1, 5}, "6"},
        {"rows joined, trailing blanks trimmed", {1, 2}, {2, 39}, "ne 6\nline 7"},
        {"ends given backwards", {2, 39}, {1, 2}, "ne 6\nline 7"},
        {"from the back rows onto the screen", {-2, 0}, {0, 5}, "line 3\nline 4\nline 5"},
        {"blank rows stay as empty lines", {8, 4}, {9, 39}, " 13\n"},
        {"held inside the columns", {0, -5}, {0, 99}, "line 5"},
    };
    WriteLines(0, 14);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Select(c.From, c.To);
        EXPECT_EQ(View.SelectedText().toStdString(), c.Text);
    }
}

TEST_F(ViewSelection, CodePage437IsCopiedAsUnicode) {
    View.WriteText("\x82t\x82 \xC4\xC4\xB3 \xE0\xF8   ");
    View.Select({0, 0}, {0, 39});
    EXPECT_EQ(View.SelectedText(), QStringLiteral(u"été ──│ α°"));
    View.CopySelection();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral(u"été ──│ α°"));
}

TEST_F(ViewSelection, FollowsItsTextWhileTheScreenScrolls) {
    WriteLines(0, 5);
    View.Select({2, 0}, {3, 5});
    const QString text = View.SelectedText();
    WriteLines(5, 8); // 13 lines: the screen scrolled by 4
    EXPECT_TRUE(View.HasSelection());
    EXPECT_EQ(View.SelectionStart(), (TCellPos{-2, 0}));
    EXPECT_EQ(View.SelectedText(), text);
    // Scrolled out of the back rows, the lines are reused: the selection goes, even when the
    // reuse went once round all 30 lines before the view looked again.
    WriteLines(13, 30);
    EXPECT_FALSE(View.HasSelection());
}

TEST_F(ViewSelection, MouseDragWordAndRow) {
    WriteLines(0, 3);
    View.WriteText("alpha beta/gamma; delta");
    View.show();
    // Drag from row 1 column 2 to row 3 column 4.
    Mouse(QEvent::MouseButtonPress, CellCentre(1, 2), Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(View.HasSelection()); // a click alone selects nothing
    Mouse(QEvent::MouseMove, CellCentre(3, 4), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, CellCentre(3, 4), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(View.SelectedText().toStdString(), "ne 1\nline 2\nalpha");
    // Double-click: the word, with the characters that join words in paths.
    Mouse(QEvent::MouseButtonPress, CellCentre(3, 8), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, CellCentre(3, 8), Qt::LeftButton, Qt::NoButton);
    Mouse(QEvent::MouseButtonDblClick, CellCentre(3, 8), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, CellCentre(3, 8), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(View.SelectedText().toStdString(), "beta/gamma");
    // A third click: the row.
    Mouse(QEvent::MouseButtonPress, CellCentre(3, 8), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, CellCentre(3, 8), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(View.SelectedText().toStdString(), "alpha beta/gamma; delta");
    // A new click clears it.
    Mouse(QEvent::MouseButtonPress, CellCentre(0, 0), Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(View.HasSelection());
}

TEST_F(ViewSelection, DragInTheScrollBackScrollsPastTheTop) {
    WriteLines(0, 14); // back rows -5..-1
    View.ScrollTo(-1);
    View.show();
    Mouse(QEvent::MouseButtonPress, CellCentre(1, 0), Qt::LeftButton, Qt::LeftButton);
    for (int i = 0; i < 5; ++i)
        Mouse(QEvent::MouseMove, QPoint(10, 0), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(10, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(View.TopLine(), -5);
    EXPECT_EQ(View.SelectedText().toStdString(), "line 0\nline 1\nline 2\nline 3\nline 4\nl");
}

TEST_F(ViewSelection, SelectedCellsAreDrawnInverted) {
    View.WriteText("\x1b[37;44mXXXX\x1b[0m");
    View.Select({0, 1}, {0, 2});
    const QImage img = View.Grab();
    const QRgb fg = Palette(7), bg = Palette(4);
    auto backgroundOf = [&](int Col) {
        return PixelAt(img, View.Cell(0, Col).left(), View.Cell(0, Col).bottom());
    };
    EXPECT_EQ(backgroundOf(0), bg);
    EXPECT_EQ(backgroundOf(1), fg);
    EXPECT_EQ(backgroundOf(2), fg);
    EXPECT_EQ(backgroundOf(3), bg);
    View.ClearSelection();
    EXPECT_EQ(PixelAt(View.Grab(), View.Cell(0, 1).left(), View.Cell(0, 1).bottom()), bg);
}

TEST_F(ViewSelection, FollowCursorKeepsTheCursorRowShownAndPausesWhileScrolledBack) {
    struct TStep {
        const char* Name;
        bool Follow;
        int ScrollBy; // by hand before writing, 0 for none
        int Lines;
        int TopLine;
        bool Paused;
    };
    // 4 rows shown of 10; the cursor runs down the screen, then the screen scrolls.
    const TStep steps[] = {
        {"off: the view stays", false, 0, 6, 0, false},
        {"on: cursor row 6 comes into view", true, 0, 0, 3, false},
        {"on: it stays in view as data arrives", true, 0, 2, 5, false},
        {"scrolled back by hand: paused", true, -5, 1, 0, true},
        {"back at the cursor row: following again", true, 6, 1, 6, false},
    };
    int lines = 0;
    for (const TStep& s : steps) {
        SCOPED_TRACE(s.Name);
        if (View.FollowCursor() != s.Follow) View.SetFollowCursor(s.Follow);
        if (s.ScrollBy != 0) View.ScrollTo(View.TopLine() + s.ScrollBy);
        WriteLines(lines, s.Lines);
        lines += s.Lines;
        EXPECT_EQ(View.TopLine(), s.TopLine);
        EXPECT_EQ(View.FollowPaused(), s.Paused);
        const int cursorRow = View.Screen()->FRow;
        if (s.Follow && !s.Paused) {
            EXPECT_GE(cursorRow, View.TopLine());
            EXPECT_LT(cursorRow, View.TopLine() + View.VisibleRows());
        }
    }
}

TEST_F(ViewSelection, TextSizeChangesCellsAndFontTogether) {
    for (auto [w, h] : {std::pair{7, 14}, {8, 16}, {10, 20}, {5, 12}}) {
        View.SetTextSize(w, h);
        EXPECT_EQ(View.CharWidth(), w);
        EXPECT_EQ(View.LineHeight(), h);
        EXPECT_EQ(View.Font().pixelSize(), h);
        View.Grab();
        EXPECT_EQ(View.GlyphAtlas().CellWidth(), w);
        EXPECT_EQ(View.GlyphAtlas().CellHeight(), h);
    }
}

} // namespace
} // namespace qorvel::test
