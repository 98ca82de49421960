// What the view paints: palette colours, monochrome mapping, margins, partial rows, clipping
// of glyphs to their cells and the caret.
#include <QApplication>
#include <QFocusEvent>
#include <QFont>
#include <QScrollBar>
#include <gtest/gtest.h>

#include "view_test_support.h"

namespace qorvel::test {
namespace {

constexpr int kCw = 8;
constexpr int kLh = 16;
constexpr uint8_t kFullBlock = 0xDB;

// A view with fixed 8 x 16 cells, tall enough for Rows rows.
void PrepareView(TProbeVT& V, int Rows = 6, int Cols = 20) {
    V.SetCharWidth(kCw);
    V.SetLineHeight(kLh);
    V.SetRows(Rows);
    V.SetCols(Cols);
    V.resize(Cols * kCw + V.LeftMargin() + V.RightMargin() + kScrollBarWidth + 24,
             Rows * kLh + V.TopMargin() + V.BottomMargin());
}

void WriteAt(TProbeVT& V, int Row, int Col, uint8_t Attr, std::string_view Text) {
    V.Screen()->GotoXY(Col, Row);
    V.Screen()->FAttribute = Attr;
    V.WriteText(Text);
}

struct TColourCase {
    const char* Name;
    bool MonoChrome;
    uint8_t Attr;
    QRgb Foreground;
    QRgb Background;
};

const TColourCase kColourCases[] = {
    {"bright cyan on red", false, 0x1E, Palette(14), Palette(1)},
    {"default grey on black", false, 0x07, Palette(7), Palette(0)},
    {"entry 6 is the blue cyan", false, 0x60, Palette(0), Palette(6)},
    {"entry 9 is pink", false, 0x09, Palette(9), Palette(0)},
    {"blink bit brightens background", false, 0xC3, Palette(3), Palette(12)},
    {"mono 0x07 black on white", true, 0x07, qRgb(0, 0, 0), qRgb(255, 255, 255)},
    {"mono 0x70 white on grey", true, 0x70, qRgb(255, 255, 255), qRgb(127, 127, 127)},
    {"mono 0x0F black on grey", true, 0x0F, qRgb(0, 0, 0), qRgb(127, 127, 127)},
    {"mono 0x0E black on white", true, 0x0E, qRgb(0, 0, 0), qRgb(255, 255, 255)},
};

TEST(ViewPaint, CellColours) {
    for (const TColourCase& c : kColourCases) {
        SCOPED_TRACE(c.Name);
        TProbeVT v;
        PrepareView(v);
        v.SetMonoChrome(c.MonoChrome);
        WriteAt(v, 2, 0, c.Attr, std::string{char(kFullBlock), ' '});
        const QImage img = v.Grab();
        EXPECT_TRUE(AllPixels(img, v.Cell(2, 0), c.Foreground));
        EXPECT_TRUE(AllPixels(img, v.Cell(2, 1), c.Background));
        // The first column's cell covers the left margin in its background colour.
        EXPECT_TRUE(AllPixels(img, QRect(0, v.Cell(2, 0).top(), v.LeftMargin(), kLh), c.Background));
    }
}

TEST(ViewPaint, EveryAttributeChangeStartsANewRun) {
    TProbeVT v;
    PrepareView(v);
    const uint8_t attrs[] = {0x10, 0x10, 0x20, 0x30, 0x30, 0x30, 0x40, 0x10, 0x50, 0x60};
    v.Screen()->GotoXY(0, 1);
    for (uint8_t a : attrs) {
        v.Screen()->FAttribute = a;
        v.WriteText(" ");
    }
    const QImage img = v.Grab();
    for (int k = 0; k < int(std::size(attrs)); ++k)
        EXPECT_TRUE(AllPixels(img, v.Cell(1, k), Palette(attrs[k] >> 4))) << "column " << k;
}

struct TMarginCase {
    const char* Name;
    bool MonoChrome;
    int MarginColor;
    uint8_t Attr;
    QRgb Expected;
};

const TMarginCase kMarginCases[] = {
    {"colour mode, entry 0", false, 0, 0x07, Palette(0)},
    {"monochrome is white", true, 0, 0x07, qRgb(255, 255, 255)},
    {"entry 12", false, 12, 0x07, Palette(12)},
    {"-1 follows attribute 0x47", false, -1, 0x47, Palette(4)},
    {"-1 follows attribute 0xF0", false, -1, 0xF0, Palette(15)},
    {"20 wraps to 4", false, 20, 0x07, Palette(4)},
    {"-17 wraps to 15", false, -17, 0x07, Palette(15)},
};

TEST(ViewPaint, MarginColour) {
    for (const TMarginCase& c : kMarginCases) {
        SCOPED_TRACE(c.Name);
        TProbeVT v;
        PrepareView(v, 3);
        v.resize(v.width(), v.height() + 30); // room below the rows
        v.SetMonoChrome(c.MonoChrome);
        v.SetMarginColor(c.MarginColor);
        v.Screen()->FAttribute = c.Attr;
        const QImage img = v.Grab();
        const int W = v.width() - kScrollBarWidth, H = v.height();
        const int rowsEnd = v.TopMargin() + 3 * kLh;
        const int colsEnd = v.LeftMargin() + 20 * kCw;
        EXPECT_TRUE(AllPixels(img, QRect(0, 0, W, v.TopMargin()), c.Expected)) << "top";
        EXPECT_TRUE(AllPixels(img, QRect(0, rowsEnd, W, H - rowsEnd), c.Expected)) << "below the rows";
        EXPECT_TRUE(
            AllPixels(img, QRect(colsEnd, v.TopMargin(), W - colsEnd, rowsEnd - v.TopMargin()), c.Expected))
            << "right of the columns";
    }
}

TEST(ViewPaint, PartialLastRowIsMarginColoured) {
    TProbeVT v;
    PrepareView(v, 25);
    v.resize(v.width(), v.TopMargin() + 7 * kLh + kLh / 2 + v.BottomMargin()); // 7.5 rows
    v.SetMarginColor(4);
    for (int r = 0; r < 9; ++r)
        WriteAt(v, r, 0, 0x0A, std::string(10, char(kFullBlock)));
    const QImage img = v.Grab();
    EXPECT_TRUE(AllPixels(img, v.Cell(6, 3), Palette(10)));
    const int y7 = v.TopMargin() + 7 * kLh;
    EXPECT_TRUE(AllPixels(img, QRect(0, y7, v.width() - kScrollBarWidth, v.height() - y7), Palette(4)));
}

TEST(ViewPaint, GlyphsStayInsideTheirCells) {
    TProbeVT v;
    PrepareView(v);
    QFont big(QStringLiteral("DejaVu Sans Mono"));
    big.setPixelSize(40); // glyphs far larger than the 8 x 16 cells
    v.SetFont(big);
    v.SetCharWidth(kCw);
    v.SetLineHeight(kLh);
    WriteAt(v, 2, 3, 0x1F, "W");
    WriteAt(v, 2, 2, 0x20, " ");
    WriteAt(v, 2, 4, 0x20, " ");
    WriteAt(v, 1, 3, 0x20, " ");
    WriteAt(v, 3, 3, 0x20, " ");
    const QImage img = v.Grab();
    for (auto [r, k] : {std::pair{2, 2}, {2, 4}, {1, 3}, {3, 3}})
        EXPECT_TRUE(AllPixels(img, v.Cell(r, k), Palette(2))) << r << "," << k;
}

TEST(ViewPaint, BoxLinesJoinAcrossCells) {
    TProbeVT v;
    PrepareView(v);
    v.SetXlat(false); // received line-drawing letters are translated to box characters
    WriteAt(v, 1, 0, 0x07, "\x1b(0lqk\r\nx x\r\nmqj\x1b(B");
    const QImage img = v.Grab();
    // The horizontal line of the top row runs through all three cells without a gap ...
    bool joined = false;
    for (int y = v.Cell(1, 0).top(); y <= v.Cell(1, 0).bottom() && !joined; ++y) {
        joined = true;
        for (int x = v.Cell(1, 0).center().x(); x <= v.Cell(1, 2).center().x(); ++x)
            joined = joined && PixelAt(img, x, y) == Palette(7);
    }
    EXPECT_TRUE(joined);
    // ... and the vertical line of the left column through all three rows.
    joined = false;
    for (int x = v.Cell(1, 0).left(); x <= v.Cell(1, 0).right() && !joined; ++x) {
        joined = true;
        for (int y = v.Cell(1, 0).center().y(); y <= v.Cell(3, 0).center().y(); ++y)
            joined = joined && PixelAt(img, x, y) == Palette(7);
    }
    EXPECT_TRUE(joined);
}

TEST(ViewPaint, CaretIsDrawnInvertedAtItsCell) {
    TProbeVT v;
    PrepareView(v);
    v.Screen()->FAttribute = 0x07;
    v.ClearScreen();
    v.WriteText("ab");
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&v, &in);
    ASSERT_TRUE(v.CaretShown());
    const QRect caret(2 * kCw + v.LeftMargin() + 2, v.TopMargin() + 3, kCaretWidth, kLh);
    EXPECT_EQ(v.CaretRect(), caret);
    const QImage img = v.Grab();
    EXPECT_TRUE(AllPixels(img, caret.intersected(QRect(0, 0, v.width(), v.height())), qRgb(255, 255, 255)));
}

TEST(ViewPaint, ScrolledViewShowsBackRows) {
    struct TCase {
        const char* Name;
        TScreenOptions Options;
        int Expected[4]; // background of visible rows 0..3 at scroll position -3
    };
    const TCase cases[] = {
        {"back rows keep their colours", TScreenOptions{}, {1, 2, 3, 4}},
        {"back colour replaces the background", TScreenOptions{vtoBackColor}, {4, 4, 4, 4}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TProbeVT v;
        PrepareView(v, 4);
        v.SetBackRows(10);
        v.SetOptions(c.Options);
        v.SetBackColor(vtsBlue);
        // Lines with backgrounds 1..6 are written on the bottom row, each pushed up by a line feed.
        for (int i = 1; i <= 6; ++i)
            WriteAt(v, 3, 0, uint8_t(i << 4), "    \n");
        v.ScrollBarScroll(-3);
        EXPECT_EQ(v.TopLine(), -3);
        const QImage img = v.Grab();
        for (int r = 0; r < 3; ++r)
            EXPECT_TRUE(AllPixels(img, v.Cell(r, 1), Palette(c.Expected[r]))) << "row " << r;
        EXPECT_TRUE(AllPixels(img, v.Cell(3, 1), Palette(4))) << "screen row 0";
    }
}

} // namespace
} // namespace qorvel::test
