#pragma once
// A terminal view that records what it invalidates and how often it paints, with its
// internals reachable from the tests.
#include <QImage>
#include <QPaintEvent>
#include <QRect>
#include <string>
#include <vector>

#include "emulvt/emul_vt.h"

namespace qorvel::test {

class TProbeVT : public TEmulVT {
public:
    TProbeVT() = default;

    std::vector<QRect> Invalidated;
    int Paints = 0;

    using TCustomEmulVT::AdjustScrollBar;
    using TCustomEmulVT::PixelToRow;
    using TCustomEmulVT::ScrollBarScroll;

    // Cell (visible row, column) as painted: shifted down by the internal leading.
    QRect Cell(int Row, int Col) const {
        return QRect(Col * CharWidth() + LeftMargin(), Row * LineHeight() + TopMargin() + InternalLeading(),
                     CharWidth(), LineHeight());
    }
    QImage Grab() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }

protected:
    void InvalidateRect(const QRect& R) override {
        if (!R.isEmpty()) Invalidated.push_back(R);
        TEmulVT::InvalidateRect(R);
    }
    void paintEvent(QPaintEvent* Event) override {
        ++Paints;
        TEmulVT::paintEvent(Event);
    }
};

inline QRgb Palette(int Index) {
    const TPaletteEntry& e = kViewColorTable[std::size_t(Index)];
    return qRgb(e.Red, e.Green, e.Blue);
}

inline QRgb PixelAt(const QImage& Image, int X, int Y) {
    return Image.pixel(X, Y) | 0xFF000000u;
}

// True when every pixel of R in Image has colour C.
inline bool AllPixels(const QImage& Image, const QRect& R, QRgb C) {
    for (int y = R.top(); y <= R.bottom(); ++y)
        for (int x = R.left(); x <= R.right(); ++x)
            if (PixelAt(Image, x, y) != (C | 0xFF000000u)) return false;
    return true;
}

inline std::string RowText(const TScreen& Screen, int Row, int Cols) {
    const TLine* line = Screen.GetLine(Row);
    return std::string(reinterpret_cast<const char*>(line->Txt), std::size_t(Cols));
}

} // namespace qorvel::test
