#pragma once

#include <QList>
#include <QTableView>

class GridDelegate;
class Table;
class TableModel;

// A grid bound to a table through its model, behaving like the data-aware grids users know:
// typing edits the current cell, Tab moves between cells and from the last cell of a row to the next
// row, moving to another row posts it, Down on the last row (or Tab on its last cell) appends a new row,
// which is dropped again when left untouched, Insert inserts one, Ctrl+Delete asks "Delete record?".
// Columns come from the fields, titled with the field names.
class DataGrid : public QTableView
{
    Q_OBJECT
public:
    explicit DataGrid(QWidget* parent = nullptr);

    void setDataSource(TableModel* source);
    TableModel* dataSource() const { return m_source; }
    Table* table() const;

    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }
    // Hides the columns at these positions (0-based), shows the others.
    void hideColumns(const QList<int>& columns);
    // Widths of the first columns in pixels, applied again whenever the table's layout is reset.
    void setColumnWidths(const QList<int>& widths);

    // Writes the text of an open cell editor into the row and closes the editor, so a save or a
    // navigator command sees what was typed.
    void commitEdit();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void followCursor(int row);
    void followCursorNow(int row);
    void applyColumns();
    int firstVisibleColumn() const;
    int lastVisibleColumn() const;
    // Appends a new row unless the current one is a new, untouched row; returns the row's index.
    QModelIndex appendRow(int column);

    TableModel* m_source = nullptr;
    GridDelegate* m_delegate;
    QList<QMetaObject::Connection> m_connections;
    QList<int> m_hidden;
    QList<int> m_widths;
    bool m_readOnly = false;
    bool m_syncing = false; // the view follows the table's cursor
    bool m_driving = false; // the table follows the view's current row
    // A read-only grid follows the cursor once the handler that walks the table has returned:
    // a passage walks the race table, and only where the cursor ends up matters.
    bool m_followPending = false;
    bool m_byKey = false;   // a cursor move asked for by a key, not by the view itself
};
