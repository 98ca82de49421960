// Selecting text in the view with the mouse, and copying it.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleHints>
#include <climits>

#include "emulvt/char_tables.h"
#include "emulvt/emul_vt.h"
#include "emulvt/emul_vt_internal.h"

namespace qorvel {

namespace {

// Characters a double-click takes as part of a word: letters, digits, the accented letters of
// code page 437 and what joins words in names, paths and numbers.
bool IsWordChar(uint8_t Ch) {
    if ((Ch >= '0' && Ch <= '9') || (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z')) return true;
    if (Ch >= 0x80 && Ch <= 0xA5) return true;
    switch (Ch) {
    case '_':
    case '-':
    case '.':
    case '/':
    case '@':
    case '~':
    case '+':
    case '%':
    case '#':
    case '$': return true;
    default: return false;
    }
}

} // namespace

TCellPos TCustomEmulVT::CellAt(QPoint P) const {
    TCellPos cell;
    if (FLineHeight <= 0 || FCharWidth <= 0) return cell;
    const int dy = P.y() - FTopMargin, dx = P.x() - FLeftMargin;
    const int shown = std::clamp(dy < 0 ? 0 : dy / FLineHeight, 0, std::max(0, VisibleRows() - 1));
    cell.Row = std::clamp(FTopLine + shown, -BackRows(), Rows() - 1);
    const int lastCol = std::min(Cols() - 1, view_detail::kLastCellColumn);
    cell.Col = std::clamp(dx < 0 ? 0 : dx / FCharWidth, 0, lastCol);
    return cell;
}

void TCustomEmulVT::SetSelection(TCellPos Anchor, TCellPos Caret) {
    const TSelection before = FSelection;
    FSelection.Active = true;
    FSelection.Anchor = Anchor;
    FSelection.Caret = Caret;
    FSelection.AnchorLine = FScreen->GetLine(Anchor.Row);
    FSelection.CaretLine = FScreen->GetLine(Caret.Row);
    FSelection.AnchorGeneration = FSelection.AnchorLine->Generation;
    FSelection.CaretGeneration = FSelection.CaretLine->Generation;
    // Through the rate-limited invalidation: a selection made while data floods in must not
    // repaint the view on every turn of the event loop.
    if (!before.Active || before.Anchor != Anchor || before.Caret != Caret) InvalidateRect(rect());
}

void TCustomEmulVT::Select(TCellPos From, TCellPos To) {
    auto clampCell = [this](TCellPos C) {
        return TCellPos{std::clamp(C.Row, -BackRows(), Rows() - 1), std::clamp(C.Col, 0, Cols() - 1)};
    };
    SetSelection(clampCell(From), clampCell(To));
}

void TCustomEmulVT::ClearSelection() {
    FDragging = false;
    if (!FSelection.Active) return;
    FSelection = TSelection{};
    InvalidateRect(rect());
}

bool TCustomEmulVT::SelectedColumns(int Row, int& From, int& To) const {
    if (!FSelection.Active) return false;
    const TCellPos start = SelectionStart(), end = SelectionEnd();
    if (Row < start.Row || Row > end.Row) return false;
    From = Row == start.Row ? start.Col : 0;
    To = Row == end.Row ? end.Col + 1 : kLineCells;
    return From < To;
}

QString TCustomEmulVT::SelectedText() const {
    QString text;
    if (!FSelection.Active) return text;
    const TCellPos start = SelectionStart(), end = SelectionEnd();
    const int cols = std::min(Cols(), kLineCells);
    for (int row = start.Row; row <= end.Row; ++row) {
        int from = 0, to = 0;
        if (!SelectedColumns(row, from, to)) continue;
        to = std::min(to, cols);
        const TLine& line = *FScreen->GetLine(row);
        while (to > from && (line.Txt[to - 1] == ' ' || line.Txt[to - 1] == 0))
            --to;
        if (row != start.Row) text += QLatin1Char('\n');
        for (int col = from; col < to; ++col)
            text += line.Txt[col] == 0 ? QChar(u' ') : QChar(Cp437ToUnicode[line.Txt[col]]);
    }
    return text;
}

void TCustomEmulVT::CopySelection() {
    if (!FSelection.Active) return;
    QGuiApplication::clipboard()->setText(SelectedText(), QClipboard::Clipboard);
    PublishPrimarySelection();
}

void TCustomEmulVT::PublishPrimarySelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (FSelection.Active && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

int TCustomEmulVT::FindLineRow(const TLine* Line, int Near) const {
    // Scrolling moves lines up, so the search runs upwards from where the line was first.
    Near = std::clamp(Near, -BackRows(), Rows() - 1);
    for (int row = Near; row >= -BackRows(); --row)
        if (FScreen->GetLine(row) == Line) return row;
    for (int row = Near + 1; row < Rows(); ++row)
        if (FScreen->GetLine(row) == Line) return row;
    return INT_MIN;
}

void TCustomEmulVT::TrackSelection() {
    if (!FSelection.Active) return;
    const int anchorRow = FindLineRow(FSelection.AnchorLine, FSelection.Anchor.Row);
    const int caretRow = FindLineRow(FSelection.CaretLine, FSelection.Caret.Row);
    const int shift = anchorRow - FSelection.Anchor.Row;
    // A cleared end line was blanked or reused for new text; ends that moved apart or down mean
    // lines were inserted or deleted inside the screen: either way the selected text is gone.
    if (anchorRow == INT_MIN || caretRow == INT_MIN ||
        FSelection.AnchorLine->Generation != FSelection.AnchorGeneration ||
        FSelection.CaretLine->Generation != FSelection.CaretGeneration || shift > 0 ||
        caretRow - FSelection.Caret.Row != shift) {
        ClearSelection();
        return;
    }
    FSelection.Anchor.Row += shift;
    FSelection.Caret.Row += shift;
    if (shift != 0 && FDragging) FPressCell.Row += shift;
}

void TCustomEmulVT::SelectWordAt(TCellPos Cell) {
    const TLine& line = *FScreen->GetLine(Cell.Row);
    const int cols = std::min(Cols(), kLineCells);
    int from = Cell.Col, to = Cell.Col;
    if (IsWordChar(line.Txt[Cell.Col])) {
        while (from > 0 && IsWordChar(line.Txt[from - 1]))
            --from;
        while (to + 1 < cols && IsWordChar(line.Txt[to + 1]))
            ++to;
    }
    SetSelection({Cell.Row, from}, {Cell.Row, to});
}

void TCustomEmulVT::mousePressEvent(QMouseEvent* Event) {
    QWidget::mousePressEvent(Event);
    if (Event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const TCellPos cell = CellAt(Event->position().toPoint());
    if (FLastDoubleClick.isValid() &&
        FLastDoubleClick.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval() &&
        FSelection.Active && cell.Row == FSelection.Anchor.Row) {
        // Third click: the whole row.
        FLastDoubleClick.invalidate();
        SetSelection({cell.Row, 0}, {cell.Row, Cols() - 1});
        PublishPrimarySelection();
        return;
    }
    ClearSelection();
    FPressCell = cell;
    FDragging = true;
}

void TCustomEmulVT::mouseMoveEvent(QMouseEvent* Event) {
    QWidget::mouseMoveEvent(Event);
    if (!FDragging || !(Event->buttons() & Qt::LeftButton)) return;
    // Dragging past the top or bottom of the cells scrolls, one row per move.
    const int y = Event->position().toPoint().y();
    if (y < FTopMargin)
        ScrollTo(FTopLine - 1);
    else if (y >= FTopMargin + VisibleRows() * FLineHeight)
        ScrollTo(FTopLine + 1);
    const TCellPos cell = CellAt(Event->position().toPoint());
    if (cell != FPressCell || FSelection.Active) SetSelection(FPressCell, cell);
}

void TCustomEmulVT::mouseReleaseEvent(QMouseEvent* Event) {
    QWidget::mouseReleaseEvent(Event);
    if (Event->button() != Qt::LeftButton || !FDragging) return;
    FDragging = false;
    PublishPrimarySelection();
}

void TCustomEmulVT::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(Event);
        return;
    }
    FDragging = false;
    SelectWordAt(CellAt(Event->position().toPoint()));
    FLastDoubleClick.start();
    PublishPrimarySelection();
}

void TCustomEmulVT::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("Copy"), this, &TCustomEmulVT::CopySelection);
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copy->setEnabled(FSelection.Active);
    menu.exec(Event->globalPos());
}

bool TCustomEmulVT::IsCopyChord(const QKeyEvent& Event) const {
    const Qt::KeyboardModifiers mods =
        Event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    return FSelection.Active && Event.key() == Qt::Key_C && mods == (Qt::ControlModifier | Qt::ShiftModifier);
}

} // namespace qorvel
