// The script-file sender of the main window: loading a file into the grid and sending its lines,
// paced by the timer and gated by the prompt.
#include <QAbstractItemDelegate>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <exception>
#include <string>

#include "app/application.h"
#include "app/form1.h"
#include "app/string_grid.h"
#include "app/text_file.h"

namespace qorvel {

namespace {

constexpr char kEnter = 0x0D;
// Column 0 holds the line numbers, column 1 the text that is sent.
constexpr int kNumberColumn = 0;
constexpr int kScriptColumn = 1;

int SelectedRow(const TStringGrid* Grid) {
    return Grid->Selection().Top;
}

// Stores the text of a cell being edited, so what the operator sees in the editor is what is sent.
void CommitCellEditor(TStringGrid* Grid) {
    const QModelIndex index = Grid->currentIndex();
    if (!index.isValid()) return;
    if (QWidget* editor = Grid->indexWidget(index))
        Grid->itemDelegateForIndex(index)->setModelData(editor, Grid->model(), index);
}

} // namespace

// ---- Loading a script

void TForm1::Button7Click() {
    const std::optional<QString> chosen = ExecFileDialog(OpenDialog());
    if (chosen) {
        Edit2->setText(*chosen);
        // The grid's own signals would run the row pick for every row added; it runs once below.
        QSignalBlocker quiet(Grid);
        Grid->SetRowCount(2);
        Grid->SetCells(kNumberColumn, 1, "");
        Grid->SetCells(kScriptColumn, 1, "");
        Grid->SetSelection({kScriptColumn, 1, kScriptColumn, 1});
        if (QFileInfo::exists(*chosen)) {
            ForEachTextLine(QFile::encodeName(*chosen).toStdString(), [this](std::string_view Line) {
                Grid->SetRowCount(Grid->RowCount() + 1);
                const int row = Grid->RowCount() - 2;
                Grid->SetCells(kNumberColumn, row, std::to_string(row));
                Grid->SetCells(kScriptColumn, row, Line);
            });
            if (Grid->RowCount() > 2) Grid->SetRowCount(Grid->RowCount() - 1);
        }
        // The view lays out new rows lazily; the scrolling rule needs the scroll range of all of them.
        Grid->doItemsLayout();
        quiet.unblock();
        GridClick();
    }
    Grid->setFocus();
}

// ---- Row pick and the "Lines" box

void TForm1::GridClick() {
    const int row = SelectedRow(Grid);
    SpinEdit1->setValue(Grid->RowCount() - row - 1);
    // Setting the value it already has raises no change, and the box must not stay below 1.
    SpinEdit1Change();
    Edit1->setEditText(Grid->CellText(kScriptColumn, row));
}

void TForm1::GridMouseDown() {
    GridClick();
}

void TForm1::GridSelectCell() {
    GridClick();
}

void TForm1::SpinEdit1Change() {
    try {
        bool whole = false;
        const int typed = SpinEdit1->cleanText().toInt(&whole);
        const int value = whole ? typed : 0;
        if (value <= 0) SpinEdit1->setValue(1);
    } catch (const std::exception&) {
        // The "Lines" box corrects itself silently; it has nothing to report.
    }
}

void TForm1::SelectGridRow(int Row) {
    Row = std::min(Row, Grid->RowCount() - 1);
    const int top = Grid->TopRow();
    int newTop = top;
    if (Row > top + Grid->VisibleRowCount() - 1 || Row < top) newTop = Row;
    Grid->SetSelection({0, Row, Grid->ColCount() - 1, Row});
    // Selecting scrolls the row into view by itself, but only just; the row goes to the top instead.
    Grid->SetTopRow(newTop);
}

// ---- Batches

void TForm1::Button8Click() {
    SelectGridRow(1);
    GridClick();
    Button5Click();
    FLinesLeft = SpinEdit1->value();
    Gauge->setMaximum(FLinesLeft);
    Gauge->setValue(0);
    Grid->setFocus();
}

void TForm1::Button6Click() {
    FLinesLeft = SpinEdit1->value();
    Gauge->setMaximum(FLinesLeft);
    Gauge->setValue(0);
    Grid->setFocus();
}

void TForm1::TimerTimer() {
    if (FLinesLeft <= 0) return;
    TimerButton->show();
    Gauge->show();
    if (!Button5->isEnabled()) return;
    SelectGridRow(SelectedRow(Grid) + 1);
    GridClick();
    try {
        Button5Click();
    } catch (...) {
        // The error box runs its own event loop, where the next tick would fail again and stack box
        // upon box: the batch ends with the first failure.
        EndBatch();
        throw;
    }
    --FLinesLeft;
    if (FLinesLeft == 0) {
        TimerButton->hide();
        Gauge->hide();
    }
    Grid->setFocus();
    Gauge->setValue(Gauge->maximum() - FLinesLeft);
}

void TForm1::TimerButtonClick() {
    EndBatch();
}

void TForm1::EndBatch() {
    FLinesLeft = 0;
    Gauge->hide();
    TimerButton->hide();
}

// ---- Walking through the script with Enter

void TForm1::GridKeyPress(char& Key) {
    if (!Button5->isEnabled()) return;
    if (Key == kEnter) CommitCellEditor(Grid);
    Edit1->setEditText(Grid->CellText(kScriptColumn, SelectedRow(Grid)));
    if (Key == kEnter) {
        Button5Click();
        SelectGridRow(SelectedRow(Grid) + 1);
        Grid->setFocus();
    }
    GridClick();
}

} // namespace qorvel
