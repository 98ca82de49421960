#pragma once
// Fonts and pre-rendered glyphs of the terminal view. Cells hold code page 437 bytes; every
// glyph is rendered once per cell size into an atlas, box-drawing and block characters are
// generated to fill the whole cell so that lines join, and coloured copies are made per
// foreground/background pair so painting a cell is one clipped image copy.
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace qorvel {

constexpr int kGlyphCount = 256;
constexpr uint8_t kFirstGeneratedGlyph = 0xB0; // shades, box drawing and blocks ...
constexpr uint8_t kLastGeneratedGlyph = 0xDF;  // ... are generated, not taken from a font

// The hand-made bitmap font of the smallest cell: per glyph, one byte per pixel row, the left
// pixel in bit 4. Rows of the generated glyphs (kFirstGeneratedGlyph..kLastGeneratedGlyph) are 0.
constexpr int kBitmapFontWidth = 5;
constexpr int kBitmapFontHeight = 12;
using TBitmapFont = std::array<std::array<uint8_t, kBitmapFontHeight>, kGlyphCount>;
const TBitmapFont& BitmapFont5x12();

// True when the view draws text into cells of this size from the bitmap font (the terminal font
// name and a cell of 5 or 6 by 12 or 13 pixels).
bool UsesBitmapFont(const QFont& ViewFont, int CellWidth, int CellHeight);

// Pixel metrics a font gives the view: column pitch, row pitch and internal leading.
struct TCellMetrics {
    int CharWidth = 0;
    int LineHeight = 0;
    int InternalLeading = 0;
};

// True for the documented terminal font name, which stands for the fonts chosen below.
bool IsTerminalFontName(const QFont& Font);

// Family of the 5-pixel-wide bitmap font used for narrow cells; empty when it cannot be loaded.
QString NarrowFixedFamily();

// The metrics the view takes from a font when the font is assigned.
TCellMetrics FontCellMetrics(const QFont& Font);

// A font and the position of its glyph box (left, top of the ascent) inside a cell tile.
struct TGlyphFace {
    QFont Font;
    QPoint Origin;
};

// The face that draws text into cells of the given size: the terminal font name picks a legible
// fixed font for the cell; any other font is used as given, its glyph top at the row top (the
// tile starts InternalLeading pixels below it).
TGlyphFace ChooseGlyphFace(const QFont& ViewFont, int CellWidth, int CellHeight, int InternalLeading);

// Coverage (0..255) of one generated glyph (0xB0..0xDF) in a Width x Height cell, row-major.
std::vector<uint8_t> GeneratedGlyph(uint8_t Code, int Width, int Height);

class TGlyphAtlas {
public:
    // Renders all 256 glyphs for this font and cell; does nothing if nothing changed.
    void Prepare(const QFont& ViewFont, int CellWidth, int CellHeight, int InternalLeading);

    int CellWidth() const { return FCellWidth; }
    int CellHeight() const { return FCellHeight; }
    bool Empty() const { return FCellWidth <= 0 || FCellHeight <= 0; }

    // Opaque RGB32 strip of all 256 cells in these colours; cell Code is Source(Code).
    const QImage& Colored(QRgb Foreground, QRgb Background);
    QRect Source(uint8_t Code) const { return QRect(Code * FCellWidth, 0, FCellWidth, FCellHeight); }

    // Coverage of one cell pixel (tests and tools).
    uint8_t Coverage(uint8_t Code, int X, int Y) const;

private:
    static constexpr std::size_t kMaxColoredStrips = 64;

    // Fill the text tiles (all but the generated ones) from the bitmap font or a rendered font.
    void PrepareBitmap();
    void PrepareFromFont(const TGlyphFace& Face);

    QString FKey;
    int FCellWidth = 0;
    int FCellHeight = 0;
    std::vector<uint8_t> FCoverage; // kGlyphCount tiles, each row-major, tile after tile
    std::unordered_map<uint64_t, QImage> FColored;
};

} // namespace qorvel
