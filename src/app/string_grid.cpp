#include "app/string_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>

#include "app/application.h"

namespace qorvel {

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
    setColumnCount(1);
    setRowCount(0);
    horizontalHeader()->setVisible(true);
    verticalHeader()->setVisible(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(24);
    horizontalHeader()->setFixedHeight(24);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    setHorizontalHeaderItem(0, new QTableWidgetItem(QString()));
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
}

void TStringGrid::SetRowCount(int Rows) {
    int old = rowCount();
    setRowCount(std::max(Rows, 2) - 1);
    for (int r = old; r < rowCount(); ++r)
        EnsureHeaderItem(r + 1);
}

void TStringGrid::EnsureHeaderItem(int Row) {
    if (!verticalHeaderItem(Row - 1)) setVerticalHeaderItem(Row - 1, new QTableWidgetItem(QString()));
}

std::string TStringGrid::Cells(int Col, int Row) const {
    return ToBytes(CellText(Col, Row));
}

QString TStringGrid::CellText(int Col, int Row) const {
    if (Row < 0 || Row >= RowCount() || Col < 0 || Col >= ColCount()) return {};
    const QTableWidgetItem* cell = nullptr;
    if (Row == 0)
        cell = Col == 0 ? nullptr : horizontalHeaderItem(Col - 1);
    else if (Col == 0)
        cell = verticalHeaderItem(Row - 1);
    else
        cell = item(Row - 1, Col - 1);
    return cell ? cell->text() : QString();
}

void TStringGrid::SetCells(int Col, int Row, std::string_view Text) {
    if (Row < 0 || Row >= RowCount() || Col < 0 || Col >= ColCount()) return;
    const QString text = FromBytes(Text);
    if (Row == 0) {
        if (Col > 0) horizontalHeaderItem(Col - 1)->setText(text);
    } else if (Col == 0) {
        EnsureHeaderItem(Row);
        verticalHeaderItem(Row - 1)->setText(text);
    } else if (QTableWidgetItem* cell = item(Row - 1, Col - 1)) {
        cell->setText(text);
    } else {
        setItem(Row - 1, Col - 1, new QTableWidgetItem(text));
    }
}

void TStringGrid::SetColWidth(int Col, int Width) {
    if (Col == 0)
        verticalHeader()->setFixedWidth(Width);
    else if (Col < ColCount())
        setColumnWidth(Col - 1, Width);
}

int TStringGrid::Row() const {
    int r = currentRow();
    return r < 0 ? 1 : r + 1;
}

TGridRect TStringGrid::Selection() const {
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty()) {
        int r = Row();
        int c = std::max(currentColumn(), 0) + 1;
        return {c, r, c, r};
    }
    const QTableWidgetSelectionRange& range = ranges.front();
    return {range.leftColumn() + 1, range.topRow() + 1, range.rightColumn() + 1, range.bottomRow() + 1};
}

void TStringGrid::SetSelection(const TGridRect& Rect) {
    auto clampRow = [&](int r) { return std::clamp(r, 1, std::max(RowCount() - 1, 1)) - 1; };
    auto clampCol = [&](int c) { return std::clamp(c, 1, std::max(ColCount() - 1, 1)) - 1; };
    const int top = clampRow(Rect.Top);
    const int left = clampCol(Rect.Left);
    // Moving the current cell first keeps the selection that follows from being replaced by it.
    setCurrentCell(top, left, QItemSelectionModel::NoUpdate);
    clearSelection();
    setRangeSelected(QTableWidgetSelectionRange(top, left, clampRow(Rect.Bottom), clampCol(Rect.Right)),
                     true);
}

int TStringGrid::TopRow() const {
    return std::max(rowAt(0), 0) + 1;
}

void TStringGrid::SetTopRow(int Row) {
    verticalScrollBar()->setValue(std::clamp(Row, 1, std::max(RowCount() - 1, 1)) - 1);
}

int TStringGrid::VisibleRowCount() const {
    const int pitch = std::max(verticalHeader()->defaultSectionSize(), 1);
    return std::max(viewport()->height() / pitch, 0);
}

namespace {

constexpr char kEnter = '\r';

// The character a key press stands for, 0 for none.
char KeyChar(const QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) return kEnter;
    if (Event->text().size() == 1 && Event->text().front().unicode() < 256)
        return static_cast<char>(Event->text().front().unicode());
    return 0;
}

} // namespace

bool TStringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (!QTableWidget::edit(index, trigger, event)) return false;
    // Watched from now on: the key that opened the editor has already been through keyPressEvent.
    if (QWidget* editor = indexWidget(index)) {
        editor->installEventFilter(this);
        if (editor->focusProxy()) editor->focusProxy()->installEventFilter(this);
    }
    return true;
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event) {
    // Enter is left out: the editor passes it on to the grid, whose keyPressEvent reports it.
    if (event->type() == QEvent::KeyPress && watched != viewport()) {
        char key = KeyChar(static_cast<QKeyEvent*>(event));
        if (key != 0 && key != kEnter) emit KeyPress(key);
    }
    return QTableWidget::eventFilter(watched, event);
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
    char key = KeyChar(event);
    if (key != 0) emit KeyPress(key);
    QTableWidget::keyPressEvent(event);
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    QTableWidget::mousePressEvent(event);
    emit MouseDown();
}

} // namespace qorvel
