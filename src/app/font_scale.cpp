#include "app/font_scale.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace qorvel {

namespace {

constexpr double kReferencePointSize = 9.0;
constexpr char kDesignFamily[] = "DejaVu Sans";

QStringList Captions(const QWidget* Widget) {
    if (auto* label = qobject_cast<const QLabel*>(Widget)) return {label->text()};
    if (auto* button = qobject_cast<const QAbstractButton*>(Widget)) return {button->text()};
    if (auto* group = qobject_cast<const QGroupBox*>(Widget)) return {group->title()};
    if (auto* box = qobject_cast<const QComboBox*>(Widget)) {
        QStringList items{box->currentText()};
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }
    if (auto* tabs = qobject_cast<const QTabWidget*>(Widget)) {
        QStringList texts;
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
        return texts;
    }
    return {};
}

} // namespace

QFont WindowFont(QFont Base, int ReferencePixels) {
    const double points = QApplication::font().pointSizeF();
    const double grow = points > kReferencePointSize ? points / kReferencePointSize : 1.0;
    Base.setPixelSize(static_cast<int>(std::lround(ReferencePixels * grow)));
    return Base;
}

TLayoutScale::TLayoutScale(double Factor) : FFactor(std::max(Factor, 1.0)) {}

TLayoutScale TLayoutScale::Of(const QWidget* Root, int ReferencePixels) {
    const QFont font = Root->font();
    // The reference layout was fitted to the default sans-serif face of the reference desktop; with
    // that face missing, the window's own face at the reference size stands in for it.
    QFont reference(QString::fromLatin1(kDesignFamily));
    reference.setPixelSize(ReferencePixels);
    if (!QFontInfo(reference).exactMatch()) {
        reference = font;
        reference.setPixelSize(ReferencePixels);
    }
    const QFontMetricsF now(font);
    const QFontMetricsF was(reference);
    double factor = now.height() / was.height();
    // The window's own controls only: dialogs and menus it owns lay themselves out.
    QList<const QWidget*> pending{Root};
    while (!pending.isEmpty()) {
        const QWidget* widget = pending.takeLast();
        for (const QString& caption : Captions(widget)) {
            const double width = was.horizontalAdvance(caption);
            if (width > 0) factor = std::max(factor, now.horizontalAdvance(caption) / width);
        }
        for (const QWidget* child : widget->findChildren<const QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->isWindow()) pending << child;
    }
    return TLayoutScale(factor);
}

int TLayoutScale::operator()(int Pixels) const {
    return static_cast<int>(std::lround(Pixels * FFactor));
}

QPoint TLayoutScale::operator()(const QPoint& Point) const {
    return {(*this)(Point.x()), (*this)(Point.y())};
}

QRect TLayoutScale::operator()(const QRect& Rect) const {
    const QPoint topLeft = (*this)(Rect.topLeft());
    const QPoint end = (*this)(Rect.topLeft() + QPoint(Rect.width(), Rect.height()));
    return {topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())};
}

QSize TLayoutScale::operator()(const QSize& Size) const {
    return {(*this)(Size.width()), (*this)(Size.height())};
}

void TLayoutScale::ScaleChildren(QWidget* Parent) const {
    if (FFactor == 1.0) return;
    for (QWidget* child : Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // Unnamed and qt_ children are the parts of a compound control, which lays them out itself.
        if (child->isWindow() || child->objectName().isEmpty() || child->objectName().startsWith("qt_"))
            continue;
        auto* label = qobject_cast<QLabel*>(child);
        if (label && label->pixmap().isNull()) {
            label->move((*this)(label->pos()));
            label->adjustSize();
        } else {
            child->setGeometry((*this)(child->geometry()));
            // A picture fills its grown place.
            if (label) label->setScaledContents(true);
        }
    }
}

} // namespace qorvel
