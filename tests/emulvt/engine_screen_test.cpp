// Screen model: writing and wrap, scrolling and back rows, line and character operations,
// resizing, owner limits and the change record.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine_test_util.h"

namespace qorvel::test {
namespace {

TEST(ScreenWrite, WithoutWrapFillsHiddenCellsThenStaysOnTheLastCell) {
    TScreen s;
    Prepare(s);
    Feed(s, std::string(85, 'a'));
    EXPECT_EQ(s.FCol, 85);
    EXPECT_EQ(s.GetLine(0)->Txt[84], 'a');
    EXPECT_EQ(s.GetLine(0)->Txt[85], ' ');

    Feed(s, std::string(80, 'b') + "Z");
    EXPECT_EQ(s.FCol, 160);
    EXPECT_EQ(s.GetLine(0)->Txt[159], 'b');
    EXPECT_EQ(s.GetLine(0)->Txt[160], 'Z');
    EXPECT_EQ(s.GetLine(1)->Txt[0], ' ');
}

TEST(ScreenWrite, AutoWrapWaitsAtTheEdgeAndScrollsOnTheLastRow) {
    TScreen s;
    Prepare(s, 3, 10);
    s.FAutoWrap = true;
    Feed(s, "0123456789");
    EXPECT_EQ(s.FRow, 0);
    EXPECT_EQ(s.FCol, 10);
    Feed(s, "A");
    EXPECT_EQ(s.FRow, 1);
    EXPECT_EQ(s.FCol, 1);
    EXPECT_EQ(RowText(s, 1), "A");

    s.GotoXY(9, 2);
    Feed(s, "xY");
    EXPECT_EQ(s.FRow, 2);
    EXPECT_EQ(RowText(s, 0), "A");
    EXPECT_EQ(RowText(s, 1), "         x");
    EXPECT_EQ(RowText(s, 2), "Y");
}

TEST(ScreenWrite, ColumnBeyondTheLastCellWritesTheLastCellOnly) {
    TScreen s;
    Prepare(s);
    Feed(s, std::string(157, '.'));
    Feed(s, "\t");
    EXPECT_EQ(s.FCol, 160);
    Feed(s, "\t");
    EXPECT_EQ(s.FCol, 168);
    const TLine before = *s.GetLine(1);
    Feed(s, "Q");
    EXPECT_EQ(s.GetLine(0)->Txt[160], 'Q');
    EXPECT_EQ(0, memcmp(before.Txt, s.GetLine(1)->Txt, kLineCells));
    // Erase, insert and delete leave the line alone rather than reach past it.
    for (const char* seq : {"\x1b[K", "\x1b[5@", "\x1b[5P", "\x1b[J"})
        Feed(s, seq);
    EXPECT_EQ(s.GetLine(0)->Txt[160], 'Q');
    EXPECT_LE(s.FInvRect.Right, kLineCells);
}

TEST(ScreenScroll, LineFeedAtRegionBottomScrollsOnlyTheRegion) {
    TScreen s;
    Prepare(s, 12, 20);
    for (int r = 0; r < 12; ++r) {
        s.GotoXY(0, r);
        Feed(s, std::string(1, char('a' + r)));
    }
    Feed(s, "\x1b[5;10r\x1b[10;1H\x1b[33m\n");
    const char* expected[] = {"a", "b", "c", "d", "f", "g", "h", "i", "j", "", "k", "l"};
    for (int r = 0; r < 12; ++r)
        EXPECT_EQ(RowText(s, r), expected[r]) << "row " << r;
    EXPECT_EQ(s.GetLine(9)->Att[0], 7) << "new line is blank with attribute 7, not the current one";
    EXPECT_TRUE(s.FAllInvalid);
}

TEST(ScreenBackRows, KeepRecentLinesAndLeaveTheOldestUnused) {
    TScreen s;
    Prepare(s, 5, 20, 10);
    for (int i = 0; i < 25; ++i) {
        s.GotoXY(0, 4);
        Feed(s, "L" + std::to_string(i) + "\n");
    }
    EXPECT_EQ(s.FFirstBackRow, -9);
    // Rows 0..3 hold L21..L24; back row -1 holds L20, -9 holds L12; -10 was never used.
    EXPECT_EQ(RowText(s, 0), "L21");
    EXPECT_EQ(RowText(s, -1), "L20");
    EXPECT_EQ(RowText(s, -9), "L12");
    EXPECT_EQ(RowText(s, -10), "");
    EXPECT_TRUE(LinesAreDistinct(s));
}

TEST(ScreenBackRows, RegionNotAtTopSendsItsTopLineBackAndKeepsRowsAbove) {
    TScreen s;
    Prepare(s, 6, 20, 4);
    for (int r = 0; r < 6; ++r) {
        s.GotoXY(0, r);
        Feed(s, std::string(1, char('a' + r)));
    }
    Feed(s, "\x1b[3;5r\x1b[5;1H\n");
    const char* expected[] = {"a", "b", "d", "e", "", "f"};
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(RowText(s, r), expected[r]) << "row " << r;
    EXPECT_EQ(RowText(s, -1), "c");
    EXPECT_EQ(s.FFirstBackRow, -1);
    EXPECT_TRUE(LinesAreDistinct(s));
}

TEST(ScreenBackRows, BackColorReplacesOnlyTheBackgroundOfVisibleCells) {
    TScreen s;
    Prepare(s, 3, 10, 4);
    s.FBackColor = vtsRed;
    Feed(s, "\x1b[1;37;45m\x1b[5mX\x1b[0m");
    for (int c = 1; c < kLineCells; ++c)
        s.GetLine(0)->Att[c] = 0x0F;
    Feed(s, "\n\n\n");
    const TLine* back = s.GetLine(-1);
    EXPECT_EQ(back->Txt[0], 'X');
    EXPECT_EQ(back->Att[0], 0x9F);
    EXPECT_EQ(back->Att[9], 0x1F);
    EXPECT_EQ(back->Att[10], 0x0F) << "cells past the column count keep their attribute";

    TScreen plain;
    Prepare(plain, 3, 10, 4);
    plain.FOptions = {};
    plain.GetLine(0)->Att[0] = 0x0F;
    Feed(plain, "\n\n\n");
    EXPECT_EQ(plain.GetLine(-1)->Att[0], 0x0F);
}

// Column counts around the widths the colour is applied in at once, and past the cells.
TEST(ScreenBackRows, BackColorCoversExactlyTheColumnsForEveryWidth) {
    for (int cols : {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 80, 132, 145, 160, 161, 200}) {
        TScreen s;
        Prepare(s, 2, cols, 3);
        s.FBackColor = vtsCyan;
        for (int c = 0; c < kLineCells; ++c)
            s.GetLine(0)->Att[c] = uint8_t(c * 37); // every bit pattern, blink bit included
        Feed(s, "\n\n");
        const TLine* back = s.GetLine(-1);
        const int visible = std::min(cols, kLineCells);
        for (int c = 0; c < kLineCells; ++c) {
            const uint8_t was = uint8_t(c * 37);
            const uint8_t want = c < visible ? uint8_t((was & 0x8F) | 0x60) : was;
            ASSERT_EQ(back->Att[c], want) << "columns " << cols << ", cell " << c;
        }
    }
}

TEST(ScreenBackRows, OneBackRowNeverHoldsALineTwice) {
    TScreen s;
    Prepare(s, 4, 10, 1);
    for (int i = 0; i < 10; ++i)
        Feed(s, "x\n");
    EXPECT_EQ(s.FFirstBackRow, 0);
    EXPECT_TRUE(LinesAreDistinct(s));
    Feed(s, "abc");
    EXPECT_EQ(RowText(s, -1), "");
}

TEST(ScreenBackRows, ShrinkingBelowTheRowsInUseKeepsFirstBackRowInRange) {
    TScreen s;
    Prepare(s, 3, 10, 20);
    for (int i = 0; i < 30; ++i)
        Feed(s, "\n");
    ASSERT_EQ(s.FFirstBackRow, -19);
    s.SetBackRowCount(5);
    EXPECT_EQ(s.FFirstBackRow, -4);
    s.SetBackRowCount(1);
    EXPECT_EQ(s.FFirstBackRow, 0);
    s.SetBackRowCount(0);
    EXPECT_EQ(s.FFirstBackRow, 0);
    EXPECT_EQ(s.FLines.Count(), 3);
}

TEST(ScreenBackRows, ManyScrollsStayConsistent) {
    // Long enough to exercise the storage's recentring several times.
    TScreen s;
    Prepare(s, 25, 132, 500);
    for (int i = 0; i < 5000; ++i)
        Feed(s, "line " + std::to_string(i) + "\r\n");
    EXPECT_EQ(s.FFirstBackRow, -499);
    EXPECT_EQ(RowText(s, 23), "line 4999");
    EXPECT_EQ(RowText(s, -1), "line 4975");
    EXPECT_EQ(RowText(s, -499), "line 4477");
    EXPECT_TRUE(LinesAreDistinct(s));
}

TEST(ScreenCopyBack, ClearScreenCopiesIntoBackRowsWhenThereIsRoom) {
    TScreen s;
    Prepare(s, 3, 10, 8);
    s.FOptions = {vtoCopyBackOnClear};
    Feed(s, "one\r\ntwo\r\nsix\x1b[2J");
    EXPECT_EQ(RowText(s, -3), "one");
    EXPECT_EQ(RowText(s, -1), "six");
    EXPECT_EQ(RowText(s, 0), "");
    EXPECT_EQ(s.FFirstBackRow, -3);
    Feed(s, "ten\x1b[2J");
    EXPECT_EQ(RowText(s, -6), "one");
    EXPECT_EQ(RowText(s, -3), "ten");
    EXPECT_EQ(s.FFirstBackRow, -6);
    Feed(s, "\x1b[2J");
    EXPECT_EQ(s.FFirstBackRow, -7);
    EXPECT_TRUE(LinesAreDistinct(s));

    TScreen small;
    Prepare(small, 3, 10, 2);
    small.FOptions = {vtoCopyBackOnClear};
    Feed(small, "abc\x1b[2J");
    EXPECT_EQ(RowText(small, -1), "");
}

struct LineOpCase {
    const char* Name;
    const char* Input; // applied to rows "r00".."r09" on a 10 x 20 screen
    std::vector<const char*> Rows;
    bool AllInvalid;
};

TEST(ScreenLineOps, InsertAndDeleteLinesWithinTheRegion) {
    const LineOpCase cases[] = {
        {"IL moves rows down",
         "\x1b[3;1H\x1b[2L",
         {"r00", "r01", "", "", "r02", "r03", "r04", "r05", "r06", "r07"},
         true},
        {"IL too many clears to region bottom",
         "\x1b[2;8r\x1b[6;4H\x1b[3L",
         {"r00", "r01", "r02", "r03", "r04", "", "", "", "r08", "r09"},
         true},
        {"DL moves rows up",
         "\x1b[3;1H\x1b[2M",
         {"r00", "r01", "r04", "r05", "r06", "r07", "r08", "r09", "", ""},
         true},
        {"DL in region",
         "\x1b[2;5r\x1b[3;1H\x1bM\x1b[M",
         {"r00", "r02", "r03", "r04", "", "r05", "r06", "r07", "r08", "r09"},
         true},
        {"DL 0 is 1",
         "\x1b[10;1H\x1b[0M",
         {"r00", "r01", "r02", "r03", "r04", "r05", "r06", "r07", "r08", ""},
         true},
        {"RI at region top scrolls down",
         "\x1b[3;6r\x1b[3;1H\x1bM",
         {"r00", "r01", "", "r02", "r03", "r04", "r06", "r07", "r08", "r09"},
         true},
        {"SU scrolls once",
         "\x1b[5S",
         {"r01", "r02", "r03", "r04", "r05", "r06", "r07", "r08", "r09", ""},
         true},
    };
    for (const LineOpCase& c : cases) {
        TScreen s;
        Prepare(s, 10, 20);
        for (int r = 0; r < 10; ++r) {
            s.GotoXY(0, r);
            Feed(s, (r < 10 ? "r0" : "r") + std::to_string(r));
        }
        s.ClearInvalid();
        Feed(s, c.Input);
        for (int r = 0; r < 10; ++r)
            EXPECT_EQ(RowText(s, r), c.Rows[size_t(r)]) << c.Name << ", row " << r;
        EXPECT_EQ(s.FAllInvalid, c.AllInvalid) << c.Name;
        EXPECT_TRUE(LinesAreDistinct(s)) << c.Name;
    }
}

TEST(ScreenLineOps, DeletedLinesComeBackWithAttribute7InsertedWithTheCurrentOne) {
    TScreen s;
    Prepare(s, 5, 10);
    Feed(s, "\x1b[44m\x1b[2;1H\x1b[L");
    EXPECT_EQ(s.GetLine(1)->Att[0], 0x47);
    Feed(s, "\x1b[M");
    EXPECT_EQ(s.GetLine(4)->Att[0], 0x07);
}

struct CharOpCase {
    const char* Name;
    const char* Input; // after a full row "ABCDEFGHIJ" on 10 columns
    const char* Row;
    uint8_t LastAtt; // attribute of cell 9 afterwards
};

TEST(ScreenCharOps, InsertAndDeleteCharactersStayInTheVisibleColumns) {
    const CharOpCase cases[] = {
        {"DCH 1 at column 3", "\x1b[1;4H\x1b[P", "ABCEFGHIJ", 7},
        {"DCH more than left", "\x1b[1;8H\x1b[100P", "ABCDEFG", 7},
        {"DCH at column 0 ignores color", "\x1b[41m\x1b[1;1H\x1b[2P", "CDEFGHIJ", 7},
        {"ICH 2", "\x1b[45m\x1b[1;3H\x1b[2@", "AB  CDEFGH", 7},
        {"ICH 0 is 1", "\x1b[1;1H\x1b[0@", " ABCDEFGHI", 7},
        {"ICH past the end erases", "\x1b[46m\x1b[1;5H\x1b[99@", "ABCD", 0x67},
        {"EL keeps left part", "\x1b[1;6H\x1b[2K", "ABCDE", 7},
    };
    for (const CharOpCase& c : cases) {
        TScreen s;
        Prepare(s, 3, 10);
        Feed(s, "ABCDEFGHIJ");
        s.GetLine(0)->Txt[10] = '#';
        Feed(s, c.Input);
        EXPECT_EQ(RowText(s, 0, 10), c.Row) << c.Name;
        EXPECT_EQ(s.GetLine(0)->Att[9], c.LastAtt) << c.Name;
        EXPECT_EQ(s.GetLine(0)->Txt[10], '#') << c.Name << ": cells past the columns untouched";
    }
}

TEST(ScreenResize, GrowingAddsBlankRowsOnTopAndKeepsTheBottom) {
    TScreen s;
    Prepare(s);
    s.GotoXY(0, 24);
    Feed(s, "bottom");
    s.SetRowCount(30);
    EXPECT_EQ(s.FScrollBottom, 29);
    EXPECT_EQ(RowText(s, 29), "bottom");
    EXPECT_EQ(RowText(s, 0), "");
    EXPECT_EQ(s.GetLine(35), s.GetLine(29));
}

struct LimitCase {
    const char* Name;
    int Rows;
    int BackRows;
    int ExpectRows;
    int ExpectBack;
};

TEST(ScreenLimits, ValuesBreakingTheOwnerLimitsAreIgnored) {
    const LimitCase cases[] = {
        {"zero rows", 0, 0, 25, 0},
        {"negative rows", -3, 0, 25, 0},
        {"negative back rows", 25, -1, 25, 0},
        {"total too large", 16000, 500, 16000, 383},
        {"total at the limit", 1, 16382, 1, 16382},
    };
    for (const LimitCase& c : cases) {
        TScreen s;
        s.SetRowCount(c.Rows);
        s.SetBackRowCount(c.BackRows);
        if (s.FBackRowCount != c.BackRows) s.SetBackRowCount(c.ExpectBack);
        s.SetRowCount(c.Rows);
        EXPECT_EQ(s.FRowCount, c.ExpectRows) << c.Name;
        EXPECT_EQ(s.FBackRowCount, c.ExpectBack) << c.Name;
        EXPECT_LE(s.FRowCount + s.FBackRowCount, kMaxTotalRows) << c.Name;
        EXPECT_EQ(s.FLines.Count(), s.FRowCount + s.FBackRowCount) << c.Name;
        Feed(s, "x\r\n\x1b[2J\x1b[5L\x1b[5M");
    }
}

TEST(ScreenLimits, ColumnCountOutsideTheCellsCannotReachOutsideALine) {
    for (int cols : {0, -5, 162, 1000}) {
        TScreen s;
        Prepare(s, 4, cols, 4);
        s.FAutoWrap = true;
        Feed(s, std::string(400, 'w') + "\x1b[K\x1b[3@\x1b[3P\x1b[J\x1b[999C\n\n\n\n\x1b[1J");
        EXPECT_GE(s.FCol, 0) << cols;
        EXPECT_LE(s.FInvRect.Right, kLineCells) << cols;
    }
}

TEST(ScreenLimits, ShrinkingRowsBelowTheRegionTopKeepsTheRegionUsable) {
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[20;24r");
    s.SetRowCount(10);
    EXPECT_LE(s.FScrollTop, s.FScrollBottom);
    Feed(s, "\x1b[10;1H\n\n\x1bM\x1bM\x1b[3L\x1b[3M");
    EXPECT_TRUE(LinesAreDistinct(s));
}

TEST(ScreenChangeRecord, TracksTheSmallestRectangleOfChangedCells) {
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[3;5Hab\x1b[7;2Hc");
    EXPECT_EQ(s.FInvRect, (TRect{1, 2, 5, 6}));
    s.ClearInvalid();
    Feed(s, "\x1b[5;1H\x1b[J");
    EXPECT_EQ(s.FInvRect, (TRect{0, 4, 80, 25}));
    EXPECT_FALSE(s.FAllInvalid);
    Feed(s, "\x1b[1;1H\x1b[J");
    EXPECT_TRUE(s.FAllInvalid);
    const TRect before = s.FInvRect;
    s.InvalidateCell(30, 30);
    EXPECT_EQ(s.FInvRect, before) << "nothing recorded while all is invalid";
}

} // namespace
} // namespace qorvel::test
