#pragma once

#include <QList>
#include <QTableView>

class Table;
class TableModel;

// A grid bound to a table through its model, behaving like the data-aware grids users know:
// typing edits the current row, moving to another row posts it, Down on the last row appends a
// new row (dropped again when left untouched), Insert inserts one, Ctrl+Delete asks
// "Delete record?". Columns come from the fields, titled with the field names.
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

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followCursor(int row);
    void applyHiddenColumns();

    TableModel* m_source = nullptr;
    QList<QMetaObject::Connection> m_connections;
    QList<int> m_hidden;
    bool m_readOnly = false;
    bool m_syncing = false;
};
