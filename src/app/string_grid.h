#pragma once
// A string grid addressed like the script grid of the main window: row 0 is the fixed header row and
// column 0 the fixed line-number column, both part of the index space (the first text row is row 1).
// The fixed row and column are drawn as the view's headers, so they stay put while the rows scroll.
#include <QTableWidget>
#include <string>
#include <string_view>

namespace qorvel {

struct TGridRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);

    int ColCount() const { return columnCount() + 1; }
    int RowCount() const { return rowCount() + 1; }
    // At least one row below the fixed row always remains.
    void SetRowCount(int Rows);

    // Cell texts as byte strings; the fixed column's cells are the line-number labels.
    std::string Cells(int Col, int Row) const;
    // The same as the operator sees it, with characters that have no byte value.
    QString CellText(int Col, int Row) const;
    void SetCells(int Col, int Row, std::string_view Text);

    void SetColWidth(int Col, int Width);

    // The current cell's row (1 when the grid has no current cell) and the selected range.
    int Row() const;
    TGridRect Selection() const;
    // Selects the cells of Rect (clamped to the non-fixed cells) and makes its top-left cell current.
    void SetSelection(const TGridRect& Rect);

    int TopRow() const;
    void SetTopRow(int Row);
    // Number of non-fixed rows that are fully visible.
    int VisibleRowCount() const;

signals:
    // A character typed while the grid or its open cell editor has the focus, before either handles
    // the key (Enter is 0x0D).
    void KeyPress(char& Key);
    void MouseDown();

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void EnsureHeaderItem(int Row);
};

} // namespace qorvel
