#include "emulvt/view_glyphs.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

#include "emulvt/char_tables.h"

namespace qorvel {

namespace {

constexpr const char* kTerminalFontName = "Terminal";
constexpr const char* kWideFixedFamily = "DejaVu Sans Mono";
constexpr const char* kNarrowFixedFiles[] = {
    "/usr/share/fonts/X11/misc/5x8.pcf.gz",
    "/usr/share/fonts/X11/misc/5x8.pcf",
};
constexpr int kNarrowFixedWidth = 5;
constexpr int kNarrowFixedHeight = 8;
constexpr int kNarrowCellMaxWidth = 6; // cells up to this width take a 5-pixel bitmap font
constexpr int kBitmapCellMaxHeight = kBitmapFontHeight + 1;
constexpr int kSmallestPixelSize = 6;

// The terminal font's size in points is taken as its pixel size: 12 gives 7 x 14 cells.
int TerminalPixelSize(const QFont& Font) {
    if (Font.pixelSize() > 0) return Font.pixelSize();
    return std::max(kSmallestPixelSize, int(std::lround(Font.pointSizeF())));
}

QFont WideFixedFont(int PixelSize) {
    QFont f(kWideFixedFamily);
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(PixelSize);
    return f;
}

// Arms of a box-drawing character: 0 none, 1 single line, 2 double line.
struct TBoxArms {
    uint8_t Left, Right, Up, Down;
};

// Code page 437 0xB3..0xDA.
constexpr std::array<TBoxArms, 0xDA - 0xB3 + 1> kBoxArms = {{
    {0, 0, 1, 1}, // B3 vertical
    {1, 0, 1, 1}, // B4
    {2, 0, 1, 1}, // B5
    {1, 0, 2, 2}, // B6
    {1, 0, 0, 2}, // B7
    {2, 0, 0, 1}, // B8
    {2, 0, 2, 2}, // B9
    {0, 0, 2, 2}, // BA double vertical
    {2, 0, 0, 2}, // BB
    {2, 0, 2, 0}, // BC
    {1, 0, 2, 0}, // BD
    {2, 0, 1, 0}, // BE
    {1, 0, 0, 1}, // BF
    {0, 1, 1, 0}, // C0
    {1, 1, 1, 0}, // C1
    {1, 1, 0, 1}, // C2
    {0, 1, 1, 1}, // C3
    {1, 1, 0, 0}, // C4 horizontal
    {1, 1, 1, 1}, // C5
    {0, 2, 1, 1}, // C6
    {0, 1, 2, 2}, // C7
    {0, 2, 2, 0}, // C8
    {0, 2, 0, 2}, // C9
    {2, 2, 2, 0}, // CA
    {2, 2, 0, 2}, // CB
    {0, 2, 2, 2}, // CC
    {2, 2, 0, 0}, // CD double horizontal
    {2, 2, 2, 2}, // CE
    {2, 2, 1, 0}, // CF
    {1, 1, 2, 0}, // D0
    {2, 2, 0, 1}, // D1
    {1, 1, 0, 2}, // D2
    {0, 1, 2, 0}, // D3
    {0, 2, 1, 0}, // D4
    {0, 2, 0, 1}, // D5
    {0, 1, 0, 2}, // D6
    {1, 1, 2, 2}, // D7
    {2, 2, 1, 1}, // D8
    {1, 0, 1, 0}, // D9
    {0, 1, 0, 1}, // DA
}};

// How far past the centre (in rail offsets, -1..1) a single line arm runs: through when the
// opposite arm continues it, to the near rail of a double line crossing it, to the far rail of
// a double line it turns into.
int SingleArmEnd(uint8_t Opposite, uint8_t SideA, uint8_t SideB) {
    if (Opposite != 0) return 0;
    if (SideA == 2 || SideB == 2) return (SideA != 0 && SideB != 0) ? -1 : 1;
    return 0;
}

// The same for one rail of a double arm; Side is the arm on the rail's side, Other the arm
// on the far side.
int DoubleRailEnd(uint8_t Opposite, uint8_t Side, uint8_t Other) {
    if (Side == 2) return -1;
    if (Side == 1) return 0;
    if (Opposite != 0) return 0;
    return Other == 2 ? 1 : 0;
}

class TCoverageCanvas {
public:
    TCoverageCanvas(int W, int H) : FW(W), FH(H), FPixels(std::size_t(W) * H, 0) {}
    void Set(int X, int Y) {
        if (X >= 0 && X < FW && Y >= 0 && Y < FH) FPixels[std::size_t(Y) * FW + X] = 255;
    }
    void HLine(int X0, int X1, int Y) {
        for (int x = X0; x <= X1; ++x)
            Set(x, Y);
    }
    void VLine(int X, int Y0, int Y1) {
        for (int y = Y0; y <= Y1; ++y)
            Set(X, y);
    }
    void Fill(int X0, int Y0, int X1, int Y1) {
        for (int y = Y0; y < Y1; ++y)
            HLine(X0, X1 - 1, y);
    }
    std::vector<uint8_t> Take() { return std::move(FPixels); }

private:
    int FW, FH;
    std::vector<uint8_t> FPixels;
};

void DrawBox(TCoverageCanvas& C, const TBoxArms& A, int W, int H) {
    const int cx = (W - 1) / 2;
    const int cy = (H - 1) / 2;
    auto horizontal = [&](uint8_t style, uint8_t opposite, bool left) {
        if (style == 0) return;
        auto draw = [&](int offset, int end) {
            if (left)
                C.HLine(0, cx + end, cy + offset);
            else
                C.HLine(cx - end, W - 1, cy + offset);
        };
        if (style == 1) {
            draw(0, SingleArmEnd(opposite, A.Up, A.Down));
        } else {
            draw(-1, DoubleRailEnd(opposite, A.Up, A.Down));
            draw(1, DoubleRailEnd(opposite, A.Down, A.Up));
        }
    };
    auto vertical = [&](uint8_t style, uint8_t opposite, bool up) {
        if (style == 0) return;
        auto draw = [&](int offset, int end) {
            if (up)
                C.VLine(cx + offset, 0, cy + end);
            else
                C.VLine(cx + offset, cy - end, H - 1);
        };
        if (style == 1) {
            draw(0, SingleArmEnd(opposite, A.Left, A.Right));
        } else {
            draw(-1, DoubleRailEnd(opposite, A.Left, A.Right));
            draw(1, DoubleRailEnd(opposite, A.Right, A.Left));
        }
    };
    horizontal(A.Left, A.Right, true);
    horizontal(A.Right, A.Left, false);
    vertical(A.Up, A.Down, true);
    vertical(A.Down, A.Up, false);
}

// Dither patterns of the three shades, 2 x 4 pixels each.
bool ShadePixel(uint8_t Code, int X, int Y) {
    const bool light = (X % 2 == 0 && Y % 4 == 0) || (X % 2 == 1 && Y % 4 == 2);
    switch (Code) {
    case 0xB0: return light;                                                     // light shade
    case 0xB1: return (X + Y) % 2 == 0;                                          // medium shade
    default: return !((X % 2 == 1 && Y % 4 == 1) || (X % 2 == 0 && Y % 4 == 3)); // dark shade
    }
}

} // namespace

bool IsTerminalFontName(const QFont& Font) {
    return Font.family().compare(QLatin1String(kTerminalFontName), Qt::CaseInsensitive) == 0;
}

QString NarrowFixedFamily() {
    // Debian hides bitmap fonts from fontconfig, so the file is registered with Qt directly.
    static const QString family = [] {
        for (const char* path : kNarrowFixedFiles) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(path));
            if (id < 0) continue;
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty()) return families.front();
        }
        return QString();
    }();
    return family;
}

bool UsesBitmapFont(const QFont& ViewFont, int CellWidth, int CellHeight) {
    return IsTerminalFontName(ViewFont) && CellWidth >= kBitmapFontWidth &&
           CellWidth <= kNarrowCellMaxWidth && CellHeight >= kBitmapFontHeight &&
           CellHeight <= kBitmapCellMaxHeight;
}

TCellMetrics FontCellMetrics(const QFont& Font) {
    TCellMetrics m;
    if (IsTerminalFontName(Font)) {
        const QFontMetrics fm(WideFixedFont(TerminalPixelSize(Font)));
        m.CharWidth = fm.horizontalAdvance(QLatin1Char('M'));
        m.LineHeight = fm.height();
        m.InternalLeading = 0;
        return m;
    }
    const QFontMetrics fm(Font);
    m.CharWidth = fm.horizontalAdvance(QLatin1Char('M'));
    m.LineHeight = fm.height();
    m.InternalLeading = std::max(0, fm.height() - QFontInfo(Font).pixelSize());
    return m;
}

TGlyphFace ChooseGlyphFace(const QFont& ViewFont, int CellWidth, int CellHeight, int InternalLeading) {
    if (!IsTerminalFontName(ViewFont)) {
        QFont f = ViewFont;
        f.setKerning(false);
        return {f, QPoint(0, -InternalLeading)};
    }
    if (CellWidth <= kNarrowCellMaxWidth) {
        const QString narrow = NarrowFixedFamily();
        if (!narrow.isEmpty()) {
            QFont f(narrow);
            f.setPixelSize(kNarrowFixedHeight);
            f.setStyleStrategy(QFont::NoAntialias);
            return {f, QPoint(std::max(0, (CellWidth - kNarrowFixedWidth) / 2),
                              std::max(0, (CellHeight - kNarrowFixedHeight) / 2))};
        }
    }
    // The largest size of the wide font whose cells fit, centred in the cell.
    int px = TerminalPixelSize(ViewFont);
    QFont f = WideFixedFont(px);
    while (px > kSmallestPixelSize) {
        const QFontMetrics fm(f);
        if (fm.horizontalAdvance(QLatin1Char('M')) <= CellWidth && fm.height() <= CellHeight) break;
        f = WideFixedFont(--px);
    }
    const QFontMetrics fm(f);
    return {f, QPoint(std::max(0, (CellWidth - fm.horizontalAdvance(QLatin1Char('M'))) / 2),
                      std::max(0, (CellHeight - fm.height()) / 2))};
}

std::vector<uint8_t> GeneratedGlyph(uint8_t Code, int Width, int Height) {
    TCoverageCanvas c(std::max(0, Width), std::max(0, Height));
    if (Code >= 0xB0 && Code <= 0xB2) {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (ShadePixel(Code, x, y)) c.Set(x, y);
    } else if (Code >= 0xB3 && Code <= 0xDA) {
        DrawBox(c, kBoxArms[Code - 0xB3], Width, Height);
    } else {
        switch (Code) {
        case 0xDB: c.Fill(0, 0, Width, Height); break;               // full block
        case 0xDC: c.Fill(0, Height / 2, Width, Height); break;      // lower half
        case 0xDD: c.Fill(0, 0, (Width + 1) / 2, Height); break;     // left half
        case 0xDE: c.Fill((Width + 1) / 2, 0, Width, Height); break; // right half
        case 0xDF: c.Fill(0, 0, Width, Height / 2); break;           // upper half
        default: break;
        }
    }
    return c.Take();
}

void TGlyphAtlas::Prepare(const QFont& ViewFont, int CellWidth, int CellHeight, int InternalLeading) {
    const QString key =
        QStringLiteral("%1|%2|%3|%4").arg(ViewFont.key()).arg(CellWidth).arg(CellHeight).arg(InternalLeading);
    if (key == FKey) return;
    FKey = key;
    FColored.clear();
    FCellWidth = std::max(0, CellWidth);
    FCellHeight = std::max(0, CellHeight);
    const std::size_t tileSize = std::size_t(FCellWidth) * FCellHeight;
    FCoverage.assign(tileSize * kGlyphCount, 0);
    if (tileSize == 0) return;

    for (int code = kFirstGeneratedGlyph; code <= kLastGeneratedGlyph; ++code) {
        const std::vector<uint8_t> g = GeneratedGlyph(uint8_t(code), FCellWidth, FCellHeight);
        std::copy(g.begin(), g.end(), FCoverage.begin() + std::ptrdiff_t(tileSize * code));
    }
    if (UsesBitmapFont(ViewFont, FCellWidth, FCellHeight))
        PrepareBitmap();
    else
        PrepareFromFont(ChooseGlyphFace(ViewFont, FCellWidth, FCellHeight, InternalLeading));
}

void TGlyphAtlas::PrepareFromFont(const TGlyphFace& Face) {
    const std::size_t tileSize = std::size_t(FCellWidth) * FCellHeight;
    QImage strip(FCellWidth * kGlyphCount, FCellHeight, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    {
        QPainter p(&strip);
        p.setFont(Face.Font);
        p.setPen(Qt::white);
        const int baseline = Face.Origin.y() + QFontMetrics(Face.Font).ascent();
        for (int code = 1; code < kGlyphCount; ++code) {
            if (code >= kFirstGeneratedGlyph && code <= kLastGeneratedGlyph) continue;
            const char16_t u = Cp437ToUnicode[code];
            if (u == u' ') continue;
            const int x = code * FCellWidth;
            p.setClipRect(QRect(x, 0, FCellWidth, FCellHeight));
            p.drawText(QPoint(x + Face.Origin.x(), baseline), QString(QChar(u)));
        }
    }
    for (int code = 0; code < kGlyphCount; ++code) {
        if (code >= kFirstGeneratedGlyph && code <= kLastGeneratedGlyph) continue;
        uint8_t* tile = FCoverage.data() + tileSize * code;
        for (int y = 0; y < FCellHeight; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(strip.constScanLine(y)) + code * FCellWidth;
            for (int x = 0; x < FCellWidth; ++x)
                tile[std::size_t(y) * FCellWidth + x] = uint8_t(qAlpha(line[x]));
        }
    }
}

void TGlyphAtlas::PrepareBitmap() {
    const TBitmapFont& font = BitmapFont5x12();
    const std::size_t tileSize = std::size_t(FCellWidth) * FCellHeight;
    // A cell one pixel wider or taller than the font keeps the glyph centred, the spare pixel right and
    // below.
    const int x0 = (FCellWidth - kBitmapFontWidth) / 2, y0 = (FCellHeight - kBitmapFontHeight) / 2;
    for (int code = 0; code < kGlyphCount; ++code) {
        if (code >= kFirstGeneratedGlyph && code <= kLastGeneratedGlyph) continue;
        uint8_t* tile = FCoverage.data() + tileSize * code;
        for (int y = 0; y < kBitmapFontHeight; ++y)
            for (int x = 0; x < kBitmapFontWidth; ++x)
                if (font[code][y] & (1u << (kBitmapFontWidth - 1 - x)))
                    tile[std::size_t(y0 + y) * FCellWidth + x0 + x] = 255;
    }
}

uint8_t TGlyphAtlas::Coverage(uint8_t Code, int X, int Y) const {
    if (X < 0 || Y < 0 || X >= FCellWidth || Y >= FCellHeight) return 0;
    return FCoverage[std::size_t(FCellWidth) * FCellHeight * Code + std::size_t(Y) * FCellWidth + X];
}

const QImage& TGlyphAtlas::Colored(QRgb Foreground, QRgb Background) {
    const uint64_t key = (uint64_t(Foreground & 0xFFFFFFu) << 32) | (Background & 0xFFFFFFu);
    auto it = FColored.find(key);
    if (it != FColored.end()) return it->second;
    if (FColored.size() >= kMaxColoredStrips) FColored.clear();

    QImage strip(std::max(1, FCellWidth * kGlyphCount), std::max(1, FCellHeight), QImage::Format_RGB32);
    strip.fill(Background);
    const int fr = qRed(Foreground), fg = qGreen(Foreground), fb = qBlue(Foreground);
    const int br = qRed(Background), bg = qGreen(Background), bb = qBlue(Background);
    auto mix = [](int f, int b, int a) { return (f * a + b * (255 - a) + 127) / 255; };
    const std::size_t tileSize = std::size_t(FCellWidth) * FCellHeight;
    for (int code = 0; code < kGlyphCount && tileSize != 0; ++code) {
        const uint8_t* tile = FCoverage.data() + tileSize * code;
        for (int y = 0; y < FCellHeight; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(strip.scanLine(y)) + code * FCellWidth;
            for (int x = 0; x < FCellWidth; ++x) {
                const int a = tile[std::size_t(y) * FCellWidth + x];
                if (a != 0) line[x] = qRgb(mix(fr, br, a), mix(fg, bg, a), mix(fb, bb, a));
            }
        }
    }
    return FColored.emplace(key, std::move(strip)).first->second;
}

} // namespace qorvel
