// Construction, properties, the write path's invalidation, the scroll bar, the caret, and
// geometry that falls outside the position tables.
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

#include "view_test_support.h"

namespace qorvel::test {
namespace {

void FocusIn(QWidget& W) {
    QFocusEvent e(QEvent::FocusIn);
    QApplication::sendEvent(&W, &e);
}

void FocusOut(QWidget& W) {
    QFocusEvent e(QEvent::FocusOut);
    QApplication::sendEvent(&W, &e);
}

// Shows the view and waits until its first paints are over; no blinking caret repaints it.
void ShowSettled(TProbeVT& V) {
    V.setFocusPolicy(Qt::NoFocus);
    V.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&V));
    QTRY_VERIFY(V.Paints > 0);
    QTest::qWait(2 * kMinPaintIntervalMs);
}

TEST(ViewConstruction, BannerCursorAndScrollBar) {
    TProbeVT v;
    EXPECT_EQ(RowText(*v.Screen(), 0, 8), "EmulVT  ");
    EXPECT_EQ(v.Screen()->FRow, 1);
    EXPECT_EQ(v.Screen()->FCol, 0);
    EXPECT_EQ(v.Screen()->FInputTable, NormalCharTable);
    EXPECT_EQ(v.Screen()->FOutputTable, NormalCharTable);
    EXPECT_TRUE(v.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(v.ScrollBar()->orientation(), Qt::Vertical);
    EXPECT_EQ(v.ScrollBar()->width(), kScrollBarWidth);
    EXPECT_EQ(v.ScrollBar()->geometry().right(), v.width() - 1);
}

// --- invalidation ----------------------------------------------------------------------------

TEST(ViewInvalidation, OneCharacterInvalidatesItsCellAndTheCursorCell) {
    struct TCase {
        const char* Name;
        QFont Font;
    };
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(12);
    const TCase cases[] = {{"terminal font", QFont(QStringLiteral("Terminal"), 12)},
                           {"font with leading", mono}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TProbeVT v;
        v.SetFont(c.Font);
        v.UpdateScreen();
        v.Invalidated.clear();
        v.WriteText("x");
        const int cw = v.CharWidth(), lh = v.LineHeight(), il = v.InternalLeading();
        const std::vector<QRect> expected = {
            QRect(6, 4 + lh + il, cw, lh), // the changed cell (row 1, column 0), leading added
            QRect(6 + cw, 4 + lh, cw, lh), // the cursor's cell, no leading
        };
        EXPECT_EQ(v.Invalidated, expected);
    }
}

TEST(ViewInvalidation, ClearScreenPaintsNothingUntilTheNextUpdate) {
    TProbeVT v;
    ASSERT_NO_FATAL_FAILURE(ShowSettled(v));
    v.Invalidated.clear();
    v.Paints = 0;

    v.ClearScreen();
    QTest::qWait(4 * kMinPaintIntervalMs);
    EXPECT_TRUE(v.Invalidated.empty());
    EXPECT_EQ(v.Paints, 0);

    v.WriteText("");
    EXPECT_NE(std::find(v.Invalidated.begin(), v.Invalidated.end(), v.rect()), v.Invalidated.end());
    QTRY_VERIFY(v.Paints > 0);
}

TEST(ViewInvalidation, ScrollingTextRepaintsTheTextButNotTheScrollBar) {
    // The scroll bar repainted with every flood frame cost as much as the text itself.
    struct TPaintCount : QObject {
        int Paints = 0;
        bool eventFilter(QObject*, QEvent* E) override {
            if (E->type() == QEvent::Paint) ++Paints;
            return false;
        }
    } scrollBarPaints;
    TProbeVT v;
    ASSERT_NO_FATAL_FAILURE(ShowSettled(v));
    v.ScrollBar()->installEventFilter(&scrollBarPaints);
    v.Paints = 0;

    for (const char* text : {"\x1b[2J", "line\r\n", "\x1b[25;1H\r\nscrolled\r\n\r\n\r\n"}) {
        v.WriteText(text);
        QTest::qWait(2 * kMinPaintIntervalMs);
    }
    EXPECT_GT(v.Paints, 0);
    EXPECT_EQ(scrollBarPaints.Paints, 0);
}

TEST(ViewInvalidation, AutoRepaintOffDefersUntilUpdateScreen) {
    TProbeVT v;
    v.UpdateScreen();
    v.SetAutoRepaint(false);
    v.Invalidated.clear();
    v.WriteText("abc");
    v.WriteChar('d');
    EXPECT_EQ(RowText(*v.Screen(), 1, 4), "abcd");
    EXPECT_TRUE(v.Invalidated.empty());
    v.UpdateScreen();
    ASSERT_FALSE(v.Invalidated.empty());
    EXPECT_EQ(v.Invalidated.front(), QRect(6, 4 + 14, 4 * 7, 14));
}

TEST(ViewInvalidation, ChangesOutsideTheShownRowsAreClipped) {
    TProbeVT v;
    v.SetLineHeight(12);
    v.AdjustScrollBar();
    v.ScrollBarScroll(17); // rows 17.. shown; the cursor (row 1) is above the first shown row
    v.UpdateScreen();
    v.Invalidated.clear();
    v.WriteText("x");
    EXPECT_TRUE(v.Invalidated.empty());
    EXPECT_TRUE(v.CaretRect().isEmpty());
    v.Screen()->GotoXY(0, 20);
    v.WriteText("\x1b[1;1Hxyz\x1b[21;5Hx");
    for (const QRect& r : v.Invalidated)
        EXPECT_GE(r.top(), v.TopMargin()) << r.top();
}

// --- scroll bar --------------------------------------------------------------------------------

TEST(ViewScrollBar, VisibleRowsRoundHalfToEven) {
    struct TCase {
        int Height;
        int Maximum; // 25 rows minus the rounded number of rows that fit
    };
    const TCase cases[] = {{100, 17}, {92, 18}, {98, 17}, {104, 17}, {110, 17}, {122, 15}, {400, 0}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Height);
        TProbeVT v;
        v.SetLineHeight(12);
        v.resize(250, c.Height);
        v.AdjustScrollBar();
        EXPECT_EQ(v.ScrollBar()->minimum(), 0);
        EXPECT_EQ(v.ScrollBar()->maximum(), c.Maximum);
        EXPECT_EQ(v.ScrollBar()->isEnabled(), c.Maximum > 0);
        EXPECT_EQ(v.ScrollBar()->singleStep(), 1);
    }
}

TEST(ViewScrollBar, PositionSeventeenShowsRowsSeventeenToTwentyThree) {
    TProbeVT v;
    v.SetLineHeight(12);
    v.SetCharWidth(8);
    v.SetMarginColor(9);
    for (int r = 0; r < 25; ++r) {
        v.Screen()->GotoXY(0, r);
        v.Screen()->FAttribute = uint8_t((r % 8) << 4);
        v.WriteText("   ");
    }
    v.AdjustScrollBar();
    EXPECT_EQ(v.ScrollBar()->pageStep(), 8);
    v.ScrollBarScroll(17);
    const QImage img = v.Grab();
    for (int j = 0; j < 7; ++j) {
        const QRect cell(6 + 8, 4 + 12 * j, 8, 12);
        EXPECT_TRUE(AllPixels(img, cell, Palette((17 + j) % 8))) << "visible row " << j;
    }
    EXPECT_TRUE(AllPixels(img, QRect(0, 4 + 7 * 12, 200, 100 - (4 + 7 * 12)), Palette(9)));
}

TEST(ViewScrollBar, BackRowsExtendTheRange) {
    TProbeVT v;
    v.SetBackRows(10);
    v.resize(250, 4 + 25 * 14 + 4);
    v.AdjustScrollBar();
    EXPECT_FALSE(v.ScrollBar()->isEnabled()); // all rows fit, no back rows in use
    v.Screen()->GotoXY(0, 24);
    v.WriteText(std::string(20, '\n'));
    EXPECT_EQ(v.Screen()->FFirstBackRow, -9);
    v.AdjustScrollBar();
    EXPECT_EQ(v.ScrollBar()->minimum(), -9);
    EXPECT_EQ(v.ScrollBar()->maximum(), 0);
    EXPECT_TRUE(v.ScrollBar()->isEnabled());
    // New data does not move the view back to the live screen.
    v.ScrollBarScroll(-5);
    v.WriteText("more\n");
    EXPECT_EQ(v.TopLine(), -5);
    // Dropping back rows the view is showing moves it to the oldest row still kept.
    v.SetBackRows(3);
    EXPECT_GE(v.TopLine(), v.Screen()->FFirstBackRow);
    EXPECT_GE(v.TopLine(), -3);
    v.Grab();
}

// --- properties ----------------------------------------------------------------------------------

TEST(ViewProperties, RowsAndColsClearOnlyWhenTheyChange) {
    TProbeVT v;
    v.SetRows(25);
    v.SetCols(80);
    EXPECT_EQ(RowText(*v.Screen(), 0, 6), "EmulVT");
    v.SetCols(132);
    EXPECT_EQ(v.Cols(), 132);
    EXPECT_EQ(RowText(*v.Screen(), 0, 6), "      ");
    v.WriteText("abc");
    v.SetRows(30);
    EXPECT_EQ(v.Rows(), 30);
    EXPECT_EQ(RowText(*v.Screen(), 0, 3), "   ");
    // Values the model cannot hold are brought into its limits.
    v.SetCols(500);
    EXPECT_EQ(v.Cols(), kLineCells);
    v.SetCols(0);
    EXPECT_EQ(v.Cols(), 1);
    v.SetRows(-3);
    EXPECT_EQ(v.Rows(), 1);
}

TEST(ViewProperties, XlatIsTheInverseOfInputTranslation) {
    struct TCase {
        bool Xlat;
        uint8_t Stored; // what a received 0xE9 becomes
    };
    for (const TCase& c : {TCase{true, 0xE9}, TCase{false, 0x82}}) {
        TProbeVT v;
        v.SetXlat(c.Xlat);
        EXPECT_EQ(v.Xlat(), c.Xlat);
        EXPECT_EQ(v.Screen()->FTranslateInput, !c.Xlat);
        EXPECT_EQ(v.Screen()->FTranslateInputDefault, !c.Xlat);
        v.WriteText("\xE9");
        EXPECT_EQ(v.Screen()->GetLine(1)->Txt[0], c.Stored);
    }
}

TEST(ViewProperties, CellSizeWritesMoveNothingFontAssignmentRecomputes) {
    TProbeVT v;
    ASSERT_NO_FATAL_FAILURE(ShowSettled(v));
    v.Paints = 0;
    v.Invalidated.clear();
    v.SetLineHeight(20);
    v.SetCharWidth(9);
    QTest::qWait(4 * kMinPaintIntervalMs);
    EXPECT_EQ(v.Paints, 0);
    EXPECT_EQ(v.LineHeight(), 20);
    EXPECT_EQ(v.CharWidth(), 9);

    QFont big(QStringLiteral("DejaVu Sans Mono"));
    big.setPixelSize(20);
    v.SetFont(big);
    const QFontMetrics fm(big);
    EXPECT_EQ(v.CharWidth(), fm.horizontalAdvance(QLatin1Char('M')));
    EXPECT_EQ(v.LineHeight(), fm.height());
    QTRY_VERIFY(v.Paints > 0);

    v.SetFont(QFont(QStringLiteral("Terminal"), 12));
    EXPECT_EQ(v.CharWidth(), 7);
    EXPECT_EQ(v.LineHeight(), 14);
}

// --- caret -----------------------------------------------------------------------------------------

TEST(ViewCaret, FollowsFocusWritesAndTheHostCursor) {
    TProbeVT v;
    EXPECT_FALSE(v.CaretCreated());
    v.WriteText("ab");
    EXPECT_FALSE(v.CaretShown()); // no focus, no caret

    FocusIn(v);
    EXPECT_TRUE(v.Screen()->FHasFocus);
    EXPECT_TRUE(v.CaretCreated());
    EXPECT_TRUE(v.CaretShown());
    EXPECT_EQ(v.CaretRect(), QRect(2 * 7 + 6 + 2, 14 + 4 + 3, 2, 14));

    v.WriteText("\x1b[?25l");
    EXPECT_FALSE(v.CaretShown());
    v.WriteText("cd");
    EXPECT_FALSE(v.CaretShown()); // stays hidden until the host shows it again
    v.WriteText("\x1b[?25h");
    EXPECT_TRUE(v.CaretShown());

    v.SetAutoRepaint(false);
    v.WriteText("e");
    EXPECT_FALSE(v.CaretShown()); // hidden while writing, shown again by UpdateScreen
    v.UpdateScreen();
    EXPECT_TRUE(v.CaretShown());

    FocusOut(v);
    EXPECT_FALSE(v.Screen()->FHasFocus);
    EXPECT_FALSE(v.CaretCreated());
    EXPECT_FALSE(v.CaretShown());
    v.WriteText("\x1b[?25h");
    EXPECT_FALSE(v.CaretShown());
}

TEST(ViewCaret, LeftClickTakesTheFocus) {
    TProbeVT v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    QTest::mouseClick(&v, Qt::LeftButton, {}, QPoint(20, 20));
    QTRY_VERIFY(v.CaretCreated());
}

// --- geometry outside the position tables ----------------------------------------------------

TEST(ViewGeometry, PositionsOutsideTheTablesAreSkipped) {
    struct TCase {
        const char* Name;
        std::function<void(TProbeVT&)> Setup;
    };
    const TCase cases[] = {
        {"60 rows in a tall view",
         [](TProbeVT& v) {
             v.SetRows(60);
             v.resize(400, 60 * 14 + 8);
             v.WriteText("\x1b[60;1Hbottom");
         }},
        {"cursor past the last cell",
         [](TProbeVT& v) {
             v.SetCols(161);
             v.WriteText("\x1b[1;160H" + std::string(30, '\t') + "xyz");
         }},
        {"line height zero", [](TProbeVT& v) { v.SetLineHeight(0); }},
        {"negative line height", [](TProbeVT& v) { v.SetLineHeight(-5); }},
        {"char width zero", [](TProbeVT& v) { v.SetCharWidth(0); }},
        {"view smaller than its margins", [](TProbeVT& v) { v.resize(5, 5); }},
        {"scrolled below the cursor",
         [](TProbeVT& v) {
             v.SetLineHeight(12);
             v.AdjustScrollBar();
             v.ScrollBarScroll(17);
         }},
        {"negative margin colour", [](TProbeVT& v) { v.SetMarginColor(-5); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TProbeVT v;
        FocusIn(v);
        c.Setup(v);
        v.WriteText("\x1b[2Jtext\r\n\x1b[31mred");
        v.AdjustScrollBar();
        EXPECT_FALSE(v.Grab().isNull());
        for (int y : {-10, 0, 50, 5000})
            EXPECT_GE(v.PixelToRow(y), 0);
    }
}

} // namespace
} // namespace qorvel::test
