#pragma once
// The windows are designed in pixels for the reference desktop font (9 points). A larger desktop font
// makes their text larger, and the whole layout grows with it by the factor the texts grew, so that
// nothing is clipped and nothing that was apart comes to overlap. At the reference font the factor is
// exactly 1 and every position stays as designed.
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace qorvel {

// Base with its pixel size set to ReferencePixels, grown in proportion to the desktop font.
QFont WindowFont(QFont Base, int ReferencePixels);

class TLayoutScale {
public:
    TLayoutScale() = default;
    explicit TLayoutScale(double Factor);

    // How much wider or taller the captions of Root and its children are in Root's font than in the
    // same family at ReferencePixels; never below 1.
    static TLayoutScale Of(const QWidget* Root, int ReferencePixels);

    double Factor() const { return FFactor; }
    int operator()(int Pixels) const;
    QPoint operator()(const QPoint& Point) const;
    // Edges are scaled, not sizes, so that rectangles apart at the reference stay apart.
    QRect operator()(const QRect& Rect) const;
    QSize operator()(const QSize& Size) const;

    // Scales the designed geometry of the named children of Parent; a label keeps the size of its text.
    void ScaleChildren(QWidget* Parent) const;

private:
    double FFactor = 1.0;
};

} // namespace qorvel
