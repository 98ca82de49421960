#include "app/hex_dump_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "app/hex_dump.h"

namespace qorvel {

namespace {
constexpr int kTextInset = 3; // pixels between the frame and the text
} // namespace

THexDumpView::THexDumpView(const THexDump& Dump, QWidget* Parent) : QAbstractScrollArea(Parent), FDump(Dump) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int Value) {
        FTop = FDump.DroppedRows() + std::uint64_t(Value);
        FFollow = Value >= verticalScrollBar()->maximum();
        viewport()->update();
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), [this] { viewport()->update(); });
}

int THexDumpView::RowHeight() const {
    return std::max(fontMetrics().height(), 1);
}

int THexDumpView::VisibleRows() const {
    return std::max(viewport()->height() / RowHeight(), 1);
}

std::uint64_t THexDumpView::RowAt(int Y) const {
    const int row = verticalScrollBar()->value() + std::max(Y, 0) / RowHeight();
    return FDump.DroppedRows() + std::uint64_t(std::clamp(row, 0, std::max(FDump.RowCount() - 1, 0)));
}

void THexDumpView::DataChanged() {
    // Rows hidden behind the terminal are laid out when the view is shown again.
    if (!isVisible()) return;
    const std::int64_t dropped = std::int64_t(FDump.DroppedRows());
    if (FDump.RowCount() == 0 || FEnd < dropped)
        FAnchor = FEnd = -1;
    else
        FAnchor = std::max(FAnchor, dropped);
    UpdateRange();
    viewport()->update();
}

void THexDumpView::UpdateRange() {
    QScrollBar* bar = verticalScrollBar();
    const int maximum = std::max(FDump.RowCount() - VisibleRows(), 0);
    const int top = FFollow ? maximum
                            : int(std::clamp<std::int64_t>(
                                  std::int64_t(FTop) - std::int64_t(FDump.DroppedRows()), 0, maximum));
    const bool follow = FFollow;
    {
        const QSignalBlocker block(bar);
        bar->setRange(0, maximum);
        bar->setPageStep(VisibleRows());
        bar->setValue(top);
    }
    FTop = FDump.DroppedRows() + std::uint64_t(top);
    FFollow = follow || top >= maximum;
}

void THexDumpView::UpdateWidth() {
    const int textWidth = fontMetrics().horizontalAdvance(QString(THexDump::RowChars(FStamped), u'0'));
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(textWidth + 2 * kTextInset - viewport()->width(), 0));
    across->setPageStep(viewport()->width());
}

void THexDumpView::SetStamped(bool On) {
    if (FStamped == On) return;
    FStamped = On;
    UpdateWidth();
    DataChanged();
}

void THexDumpView::SelectAll() {
    if (FDump.RowCount() == 0) return;
    FAnchor = std::int64_t(FDump.DroppedRows());
    FEnd = FAnchor + FDump.RowCount() - 1;
    viewport()->update();
}

QString THexDumpView::SelectedText() const {
    if (FAnchor < 0) return {};
    const std::int64_t dropped = std::int64_t(FDump.DroppedRows());
    const auto [first, last] = std::minmax(FAnchor, FEnd);
    return QString::fromLatin1(
        FDump.Text(int(std::max(first, dropped) - dropped), int(last - dropped), FStamped));
}

void THexDumpView::Copy() const {
    const QString text = SelectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void THexDumpView::paintEvent(QPaintEvent* Event) {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(Event->rect(), colours.base());
    const int height = RowHeight();
    const int first = verticalScrollBar()->value() + Event->rect().top() / height;
    const int last =
        std::min(verticalScrollBar()->value() + Event->rect().bottom() / height, FDump.RowCount() - 1);
    const auto [low, high] = std::minmax(FAnchor, FEnd);
    const int x = kTextInset - horizontalScrollBar()->value();
    for (int row = first; row <= last; ++row) {
        const int y = (row - verticalScrollBar()->value()) * height;
        const std::int64_t number = std::int64_t(FDump.DroppedRows()) + row;
        const bool selected = FAnchor >= 0 && number >= low && number <= high;
        if (selected) painter.fillRect(QRect(0, y, viewport()->width(), height), colours.highlight());
        painter.setPen(selected ? colours.highlightedText().color() : colours.text().color());
        painter.drawText(QRect(x, y, viewport()->width() * 4, height), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(FDump.RowText(row, FStamped).c_str()));
    }
}

void THexDumpView::resizeEvent(QResizeEvent* Event) {
    QAbstractScrollArea::resizeEvent(Event);
    UpdateWidth();
    UpdateRange();
}

void THexDumpView::showEvent(QShowEvent* Event) {
    QAbstractScrollArea::showEvent(Event);
    FFollow = true; // shown with the newest rows, as the terminal shows its newest text
    DataChanged();
}

void THexDumpView::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton || FDump.RowCount() == 0)
        return QAbstractScrollArea::mousePressEvent(Event);
    const std::int64_t row = std::int64_t(RowAt(Event->position().toPoint().y()));
    // Shift extends the selection, as in a text editor.
    if (!(Event->modifiers() & Qt::ShiftModifier) || FAnchor < 0) FAnchor = row;
    FEnd = row;
    viewport()->update();
}

void THexDumpView::mouseMoveEvent(QMouseEvent* Event) {
    if (!(Event->buttons() & Qt::LeftButton) || FAnchor < 0) return;
    const int y = Event->position().toPoint().y();
    // Dragging past the edges scrolls a row at a time.
    if (y < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    if (y >= viewport()->height()) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    FEnd = std::int64_t(RowAt(std::min(y, viewport()->height() - 1)));
    viewport()->update();
}

void THexDumpView::keyPressEvent(QKeyEvent* Event) {
    // Ctrl+Shift+C as well, the terminal view's Copy.
    if (Event->matches(QKeySequence::Copy) ||
        (Event->key() == Qt::Key_C && Event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)))
        return Copy();
    if (Event->matches(QKeySequence::SelectAll)) return SelectAll();
    QAbstractScrollArea::keyPressEvent(Event);
}

void THexDumpView::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"), this, &THexDumpView::Copy);
    copy->setEnabled(FAnchor >= 0);
    menu.addAction(QStringLiteral("Select &All"), this, &THexDumpView::SelectAll);
    menu.exec(Event->globalPos());
}

} // namespace qorvel
