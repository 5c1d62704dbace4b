#pragma once

// TDBGridPro: the data grid of a page. It shows the records of the open observation table in
// columns with two-line titles and a footer row, follows and moves the table's cursor, lets the
// user edit cells in place and mark rows, and draws one sort mark set by title clicks. The grid
// reads the table live, row by row, so a large table costs nothing until rows are painted.

#include "table/ObservationTable.h"
#include "ui/grid/GridCells.h"
#include "ui/grid/GridColumns.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QTableView;
class QModelIndex;

namespace ulen3 {

class GridModel;
class GridFooter;

// The widget: the view, the footer, the marks and the fitting of the columns. The grid is the
// table's listener and the source of its model's cells.
class TDBGridPro : public QWidget, private TableListener, private GridCells {
public:
    explicit TDBGridPro(QWidget* parent = nullptr);
    ~TDBGridPro() override;

    void SetDataSource(ObservationTable* table);
    ObservationTable* DataSource() const { return m_table; }

    // The columns; after changing their fields or widths through Columns(), call ColumnsChanged().
    TgpColumns& Columns() { return m_columns; }
    void SetColumns(std::vector<TgpColumn> columns);
    void ColumnsChanged();

    void SetBookmarkFields(const QString& fields); // "P;R"
    void SetMultiSelect(bool on);
    bool MultiSelect() const { return m_multiSelect; }
    void SetAutoColumnFit(bool on);
    bool AutoColumnFit() const { return m_autoFit; }
    void SetTitleLines(int lines);
    void SetShowFooters(bool on);

    int FocusedColumn() const;
    void SetTitleState(int column, TTitleState state); // no notification
    void SetFooterText(int column, const QString& text);
    void SetColumnColor(int column, ColourValue color);
    void SetColumnWidth(int column, int width);

    // The selected rows, with the bookmark field values kept for each.
    int SelectionCount() const;
    double SelectionValue(int item, int field) const;
    uint32_t SelectionRecord(int item) const;
    // The records of every selected row.
    std::vector<uint32_t> SelectionRecords() const;
    void SelectRows(const std::vector<int>& rows); // as the user's marks would

    // Deletes the selected rows, last first, then clears the selection.
    void DeleteSelectedRows();
    // Writes an open cell edit to the record, or drops it. Only these two calls, Enter and a
    // move to another cell end an edit: another window taking the focus ends nothing.
    // PostPendingEdit is false when the table refused the typed text (OnError has said why).
    bool PostPendingEdit();
    void CancelPendingEdit();
    bool Editing() const;

    // The user's title click, with or without Ctrl.
    void TitleClick(int column, bool ctrl);

    std::function<void(TDBGridPro*)> OnSelectionChange;
    std::function<void(TDBGridPro*, int column)> OnTitleStateChange;
    std::function<void(TDBGridPro*)> OnInitEdit;
    std::function<void(TDBGridPro*)> AfterDelete;
    // A cell edit reached the record.
    std::function<void(TDBGridPro*)> AfterPost;
    // A posted cell edit that the table refused: the message for the general error handler.
    std::function<void(const QString& message)> OnError;

    QTableView* view() const;
    // The text the grid shows in a cell, and the text an editor of it starts with: the stored
    // value in full precision.
    QString CellText(int row, int column) const;
    QString EditText(int row, int column) const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the model, the editor and the footer read and ask.
    const TgpColumns& columns() const override { return m_columns; }
    ObservationTable* table() const override { return m_table; }
    QString cellText(int row, int column) const override { return CellText(row, column); }
    QString editText(int row, int column) const override { return EditText(row, column); }
    bool writeCell(uint32_t record, int column, const QString& text) override;
    const QWidget& look() const override { return *this; }
    // What the table tells the grid.
    void CursorMoved() override { followCursor(); }
    void ViewReset(bool renumbered) override { viewReset(renumbered); }
    void RecordChanged(uint32_t recordId) override { recordChanged(recordId); }

    bool cellField(int row, int column, uint32_t& id, Field& field) const;
    QString recordEditText(uint32_t record, int column) const;
    void fitColumns();
    void setSectionWidth(int column, int width);
    void applyColumns();
    void userResizedColumn();
    void selectionChanged();
    void currentRowChanged(int row);
    void raiseSelectionChange();
    void viewReset(bool renumbered);
    void recordChanged(uint32_t recordId);
    void followCursor();
    void selectRecords(const std::vector<uint32_t>& records);
    void markCurrentRow(int row, bool inView);
    void readSelectionValues();

    ObservationTable* m_table = nullptr;
    TgpColumns m_columns;
    std::vector<Field> m_fields; // the field of each column
    std::vector<Field> m_bookmarks;
    struct SelectedRow {
        uint32_t record;
        std::vector<double> values;
    };
    std::vector<SelectedRow> m_selection;
    GridModel* m_model;
    QTableView* m_view;
    QWidget* m_viewport = nullptr; // the view's viewport and the header's, watched
    QWidget* m_headerViewport = nullptr;
    GridFooter* m_footer;
    bool m_multiSelect = false;
    bool m_autoFit = true;
    bool m_following = false;     // the grid is moving itself to the table's cursor
    bool m_settingWidths = false; // the program, not the user, sizes the columns
    bool m_userResized = false;   // the user dragged a column border; fit once the mouse is let go
    bool m_resetPending = false;  // a view reset waits for an open editor to close
    bool m_writeRefused = false;  // the last cell write was refused
    int m_titleLines = 2;
};

} // namespace ulen3
