#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "emulvt/emul_vt.h"
#include "emulvt/emul_vt_internal.h"

namespace qorvel {

using view_detail::kLastVisibleRow;

namespace {

constexpr QRgb kMonoGrey = 0xFF7F7F7F;
constexpr QRgb kMonoWhite = 0xFFFFFFFF;
constexpr QRgb kMonoBlack = 0xFF000000;

} // namespace

// --- painting ------------------------------------------------------------------------------------

QRgb TCustomEmulVT::PaletteColor(int Index) const {
    return FPaletteHandle[std::size_t(Index) & 15];
}

// Fills like a borderless rectangle from (Left, Top) to (Right, Bottom): the right and bottom
// lines of that rectangle are left out.
void TCustomEmulVT::FillMargin(QPainter& DC, const QBrush& Brush, int Left, int Top, int Right, int Bottom) {
    if (Right - 1 > Left && Bottom - 1 > Top)
        DC.fillRect(QRect(Left, Top, Right - 1 - Left, Bottom - 1 - Top), Brush);
}

void TCustomEmulVT::paintEvent(QPaintEvent* Event) {
    AdjustScrollBar();
    if (Event->region().isEmpty()) return;

    const QRect p = Event->rect();
    const int pLeft = p.left(), pTop = p.top();
    const int pRight = p.x() + p.width(), pBottom = p.y() + p.height(); // exclusive
    const int W = width(), H = height();
    QPainter dc(this);

    // Any negative margin colour other than -1 wraps into the palette like positive ones do.
    const int marginIndex = FMarginColor == -1 ? (FScreen->FAttribute >> 4) : ((FMarginColor % 16) + 16) % 16;
    const QBrush margin(QColor::fromRgb(FMonoChrome ? kMonoWhite : PaletteColor(marginIndex)));

    if (FLineHeight <= 0 || FCharWidth <= 0) {
        // No cells can be laid out: the whole area is margin.
        dc.fillRect(p, margin);
        return;
    }
    FGlyphs.Prepare(FViewFont, FCharWidth, FLineHeight, FInternalLeading);

    const int f = std::max(PixelToRow(pTop) - 1, 0);
    int y0 = RowPos(f) + FTopMargin;
    int y1 = RowPos(f + 1) + FTopMargin;

    if (FTopMargin >= pTop)
        FillMargin(dc, margin, pLeft, pTop, pRight + 1, FTopMargin + FInternalLeading + 1);
    if (f == 0 && FInternalLeading > 0)
        FillMargin(dc, margin, pLeft, pTop, pRight + 1, y0 + FInternalLeading + 1);

    const int cols = std::min(Cols(), kColumnPositions - 1);
    for (int s = FTopLine + f; s < Rows();) {
        if (H - FBottomMargin < y0 + FLineHeight) {
            // A row that does not fit is not drawn; margin colour covers it to the edges.
            dc.fillRect(QRect(0, y0, W, H - y0), margin);
            break;
        }
        if (s >= -BackRows()) {
            const TLine& line = *FScreen->GetLine(s);
            int selFrom = 0, selTo = 0;
            const bool selected = SelectedColumns(s, selFrom, selTo);
            for (int a = 0; a < cols;) {
                int b = a + 1;
                while (b < cols && line.Att[b] == line.Att[a])
                    ++b;
                // Runs also break where the selection begins and ends.
                bool inverted = false;
                if (selected) {
                    if (a < selFrom)
                        b = std::min(b, selFrom);
                    else if (a < selTo) {
                        b = std::min(b, selTo);
                        inverted = true;
                    }
                }
                PaintRun(dc, y0, y1, line, a, b, inverted);
                a = b;
            }
        } else {
            dc.fillRect(QRect(0, y0 + FInternalLeading, W, FLineHeight), margin);
        }
        ++s;
        const int next = s - FTopLine;
        if (next > kLastVisibleRow) break; // rows past the position table are not shown
        y0 = RowPos(next) + FTopMargin;
        y1 = RowPos(next + 1) + FTopMargin;
        if (y0 > pBottom) break;
    }

    const int shownRows = Rows() - FTopLine;
    FillMargin(dc, margin, 0, RowPos(std::min(shownRows, kRowPositions - 1)) + FTopMargin, W + 1, H + 1);
    const int columnsEnd = ColumnPos(cols) + FLeftMargin;
    if (columnsEnd < W - 2) FillMargin(dc, margin, columnsEnd, FTopMargin, pRight + 1, H + 1);

    if (FCaretCreated && FCaretShown && FCaretBlinkOn && !FCaretRect.isEmpty()) {
        dc.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        dc.fillRect(FCaretRect, Qt::white);
    }
}

void TCustomEmulVT::PaintRun(QPainter& DC, int Y, int Y2, const TLine& Line, int StartCol, int EndCol,
                             bool Inverted) {
    const uint8_t a = Line.Att[StartCol];
    QRgb background, foreground;
    if (!FMonoChrome) {
        background = PaletteColor(a >> 4);
        foreground = PaletteColor(a & 15);
    } else {
        background = a >= 15 ? kMonoGrey : kMonoWhite;
        foreground = (a & 15) != 0 ? kMonoBlack : kMonoWhite;
    }
    if (Inverted) std::swap(foreground, background);
    const QImage& glyphs = FGlyphs.Colored(foreground, background);
    const int top = Y + FInternalLeading;
    const int height = Y2 - Y;
    const int lastCol = std::min(Cols(), kColumnPositions - 1) - 1;
    for (int k = StartCol; k < EndCol; ++k) {
        const int x = FColumnPos[k] + FLeftMargin;
        // The first column's cell covers the left margin, the last one's the right margin.
        if (k == 0 && x > 0) DC.fillRect(QRect(0, top, x, height), background);
        if (k == lastCol && FRightMargin > 0)
            DC.fillRect(QRect(FColumnPos[k + 1] + FLeftMargin, top, FRightMargin, height), background);
        DC.drawImage(QPoint(x, top), glyphs, FGlyphs.Source(Line.Txt[k]));
    }
}
} // namespace qorvel
