#pragma once
// The widget that shows a THexDump in place of the terminal view: it paints only the rows in view,
// follows new data unless the operator scrolled up, selects whole rows with the mouse and copies
// their text.
#include <QAbstractScrollArea>
#include <cstdint>

namespace qorvel {

class THexDump;

class THexDumpView : public QAbstractScrollArea {
    Q_OBJECT
public:
    THexDumpView(const THexDump& Dump, QWidget* Parent = nullptr);

    // The dump's rows changed (appended, dropped or cleared): the scroll range follows.
    void DataChanged();
    // The time stamp column, as "Time stamp each line" of the log settings.
    void SetStamped(bool On);
    bool Stamped() const noexcept { return FStamped; }
    void SelectAll();
    // The selected rows' text joined by '\n'; empty without a selection.
    QString SelectedText() const;
    void Copy() const;
    int RowHeight() const;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    int VisibleRows() const;
    // The row under a viewport y, as the dump numbers it from its start (dropped rows included).
    std::uint64_t RowAt(int Y) const;
    void UpdateRange();
    // The horizontal scroll range, from the width of a full row.
    void UpdateWidth();

    const THexDump& FDump;
    bool FStamped = false;
    // Selection ends, numbered from the dump's start so rows dropped meanwhile do not move it;
    // FAnchor < 0 is no selection.
    std::int64_t FAnchor = -1;
    std::int64_t FEnd = -1;
    // The top row in view, numbered the same way, kept while the operator reads older rows.
    std::uint64_t FTop = 0;
    bool FFollow = true;
};

} // namespace qorvel
