// Generated box-drawing, shade and block glyphs, and the text glyphs of the narrow cells.
#include <QSet>
#include <gtest/gtest.h>

#include "emulvt/view_glyphs.h"

namespace qorvel {
namespace {

// Which pixels of one cell edge are lit: the pattern a neighbour's line must meet.
enum class TEdge { None, Single, Double };

struct TBoxCase {
    uint8_t Code;
    const char* Name;
    TEdge Left, Right, Top, Bottom;
};

constexpr TEdge N = TEdge::None, S = TEdge::Single, D = TEdge::Double;
const TBoxCase kBoxCases[] = {
    {0xB3, "vertical", N, N, S, S},
    {0xC4, "horizontal", S, S, N, N},
    {0xBA, "double vertical", N, N, D, D},
    {0xCD, "double horizontal", D, D, N, N},
    {0xC9, "double down right", N, D, N, D},
    {0xBC, "double up left", D, N, D, N},
    {0xC5, "cross", S, S, S, S},
    {0xCE, "double cross", D, D, D, D},
    {0xB5, "single vertical, double left", D, N, S, S},
    {0xD2, "double down, single horizontal", S, S, N, D},
    {0xD6, "double down, single right", N, S, N, D},
    {0xD8, "single vertical, double horizontal", D, D, S, S},
    {0xDA, "down right", N, S, N, S},
    {0xD9, "up left", S, N, S, N},
};

// Lit pixels along the top (Vertical false: left) edge relative to the centre line.
TEdge EdgePattern(const std::vector<uint8_t>& G, int W, int H, bool Horizontal, bool Far) {
    const int cx = (W - 1) / 2, cy = (H - 1) / 2;
    std::vector<int> lit;
    if (Horizontal) {
        const int y = Far ? H - 1 : 0;
        for (int x = 0; x < W; ++x)
            if (G[std::size_t(y) * W + x]) lit.push_back(x - cx);
    } else {
        const int x = Far ? W - 1 : 0;
        for (int y = 0; y < H; ++y)
            if (G[std::size_t(y) * W + x]) lit.push_back(y - cy);
    }
    if (lit.empty()) return TEdge::None;
    if (lit == std::vector<int>{0}) return TEdge::Single;
    if (lit == std::vector<int>{-1, 1}) return TEdge::Double;
    return TEdge(-1);
}

TEST(ViewGlyphs, BoxLinesMeetTheCellEdgesWhereNeighboursContinueThem) {
    for (auto [w, h] : {std::pair{5, 12}, {7, 14}, {8, 16}, {10, 20}}) {
        for (const TBoxCase& c : kBoxCases) {
            SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(w) + "x" + std::to_string(h));
            const std::vector<uint8_t> g = GeneratedGlyph(c.Code, w, h);
            ASSERT_EQ(g.size(), std::size_t(w * h));
            EXPECT_EQ(EdgePattern(g, w, h, false, false), c.Left);
            EXPECT_EQ(EdgePattern(g, w, h, false, true), c.Right);
            EXPECT_EQ(EdgePattern(g, w, h, true, false), c.Top);
            EXPECT_EQ(EdgePattern(g, w, h, true, true), c.Bottom);
        }
    }
}

TEST(ViewGlyphs, DoubleCornersLeaveTheirInsideOpen) {
    // In the double cross the four inner corners are separate: the centre pixel stays dark.
    const int w = 7, h = 14, cx = 3, cy = 6;
    for (uint8_t code : {uint8_t(0xCE), uint8_t(0xC9), uint8_t(0xBB), uint8_t(0xC8), uint8_t(0xBC)}) {
        const std::vector<uint8_t> g = GeneratedGlyph(code, w, h);
        EXPECT_EQ(g[std::size_t(cy) * w + cx], 0) << std::hex << int(code);
    }
}

TEST(ViewGlyphs, ShadesAndBlocksFillTheirShareOfTheCell) {
    struct TCase {
        uint8_t Code;
        double Share;
    };
    const TCase cases[] = {{0xB0, 0.25}, {0xB1, 0.5}, {0xB2, 0.75}, {0xDB, 1.0},
                           {0xDC, 0.5},  {0xDD, 0.5}, {0xDE, 0.5},  {0xDF, 0.5}};
    for (auto [w, h] : {std::pair{5, 12}, {8, 16}}) {
        for (const TCase& c : cases) {
            const std::vector<uint8_t> g = GeneratedGlyph(c.Code, w, h);
            const double lit = double(std::count(g.begin(), g.end(), 255)) / double(w * h);
            EXPECT_NEAR(lit, c.Share, 0.11) << std::hex << int(c.Code) << " in " << w << "x" << h;
        }
    }
    // Halves complement each other.
    const std::vector<uint8_t> left = GeneratedGlyph(0xDD, 5, 12), right = GeneratedGlyph(0xDE, 5, 12);
    const std::vector<uint8_t> top = GeneratedGlyph(0xDF, 5, 12), bottom = GeneratedGlyph(0xDC, 5, 12);
    for (std::size_t i = 0; i < left.size(); ++i) {
        EXPECT_EQ(left[i] + right[i], 255);
        EXPECT_EQ(top[i] + bottom[i], 255);
    }
}

TEST(ViewGlyphs, NarrowCellTextIsDistinctAndInsideTheCell) {
    TGlyphAtlas atlas;
    atlas.Prepare(QFont(QStringLiteral("Terminal"), 12), 5, 12, 0);
    QSet<QByteArray> seen;
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789<>[]{}|/\\";
    for (char ch : chars) {
        QByteArray bits;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 5; ++x)
                bits.append(char(atlas.Coverage(uint8_t(ch), x, y) > 127));
        EXPECT_TRUE(bits.contains(char(1))) << ch;
        EXPECT_FALSE(seen.contains(bits)) << ch << " looks like another character";
        seen.insert(bits);
    }
    // The blank and the zero byte draw nothing.
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(atlas.Coverage(' ', x, y), 0);
            EXPECT_EQ(atlas.Coverage(0, x, y), 0);
        }
}

TEST(ViewGlyphs, ColouredCellsBlendForegroundOverBackground) {
    TGlyphAtlas atlas;
    atlas.Prepare(QFont(QStringLiteral("Terminal"), 12), 7, 14, 0);
    const QImage& img = atlas.Colored(qRgb(255, 255, 84), qRgb(0, 0, 168));
    const QRect full = atlas.Source(0xDB), blank = atlas.Source(' ');
    EXPECT_EQ(img.pixel(full.center()) | 0xFF000000u, qRgb(255, 255, 84));
    EXPECT_EQ(img.pixel(blank.center()) | 0xFF000000u, qRgb(0, 0, 168));
}

// The 5 x 12 cells of the main window draw from the hand-made bitmap font.
class BitmapFontCells : public ::testing::Test {
protected:
    void SetUp() override { Atlas.Prepare(QFont(QStringLiteral("Terminal"), 12), 5, 12, 0); }
    // Lit pixels of one glyph, row by row.
    QByteArray Bits(uint8_t Code) const {
        QByteArray bits;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 5; ++x)
                bits.append(Atlas.Coverage(Code, x, y) != 0 ? '#' : '.');
        return bits;
    }
    // Rows (top, bottom) holding lit pixels; (-1, -1) for a blank glyph.
    std::pair<int, int> RowSpan(uint8_t Code) const {
        const QByteArray bits = Bits(Code);
        const int first = int(bits.indexOf('#')), last = int(bits.lastIndexOf('#'));
        return first < 0 ? std::pair{-1, -1} : std::pair{first / 5, last / 5};
    }
    TGlyphAtlas Atlas;
};

TEST_F(BitmapFontCells, EveryGlyphIsCrispAndOnlyTheBlanksAreEmpty) {
    QSet<QByteArray> seen;
    for (int code = 0; code < kGlyphCount; ++code) {
        SCOPED_TRACE(code);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 5; ++x) {
                const uint8_t a = Atlas.Coverage(uint8_t(code), x, y);
                EXPECT_TRUE(a == 0 || a == 255) << "blurred pixel at " << x << "," << y;
            }
        const bool blank = code == 0 || code == ' ' || code == 0xFF;
        const QByteArray bits = Bits(uint8_t(code));
        EXPECT_EQ(!bits.contains('#'), blank);
        if (blank || (code >= kFirstGeneratedGlyph && code <= kLastGeneratedGlyph)) continue;
        EXPECT_FALSE(seen.contains(bits)) << "looks like another glyph";
        seen.insert(bits);
    }
}

TEST_F(BitmapFontCells, ConfusablesDifferInShape) {
    // Full stop and comma share the dot, the comma and semicolon reach below the baseline.
    EXPECT_EQ(RowSpan('.'), std::pair(7, 8));
    EXPECT_GT(RowSpan(',').second, 8);
    EXPECT_GT(RowSpan(';').second, 8);
    EXPECT_EQ(RowSpan(':'), std::pair(3, 8));
    // The colon's two dots are apart; the plus sign is no dot at all.
    EXPECT_EQ(Bits(':').mid(5 * 5, 10), QByteArray(10, '.'));
    EXPECT_NE(RowSpan('+'), RowSpan('.'));
    const std::pair<uint8_t, uint8_t> pairs[] = {{'0', 'O'}, {'1', 'l'}, {'1', 'I'}, {'l', 'I'},
                                                 {'l', '|'}, {'5', 'S'}, {'8', 'B'}, {'2', 'Z'}};
    for (auto [a, b] : pairs) {
        int differing = 0;
        const QByteArray x = Bits(a), y = Bits(b);
        for (int i = 0; i < x.size(); ++i)
            differing += x[i] != y[i];
        EXPECT_GE(differing, 3) << a << " and " << b;
    }
}

TEST_F(BitmapFontCells, BoxGlyphsStillJoinTheirNeighbours) {
    // A horizontal line runs through both side edges, a vertical one through top and bottom.
    for (int x : {0, 4})
        EXPECT_EQ(Atlas.Coverage(0xC4, x, 5), 255);
    for (int y : {0, 11})
        EXPECT_EQ(Atlas.Coverage(0xB3, 2, y), 255);
    EXPECT_EQ(Atlas.Coverage(0xDB, 4, 11), 255);
}

} // namespace
} // namespace qorvel
