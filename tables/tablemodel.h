#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class Table;

// Adapts one Table to a grid: rows are the table's visible rows in order, columns its fields in field
// order, titled with the field names. Edits go through the table's cursor, as in a data-aware grid.
class TableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TableModel(Table* table, QObject* parent = nullptr);

    Table* table() const { return m_table; }
    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // An edit the table refused; exceptions must not cross Qt's event handling.
    void errorOccurred(const QString& message);

private:
    enum class Pending { None, Insert, Remove, Move };

    int tableRow(int row) const;
    void onReset();
    void onRowInserted(int row);
    void onRowRemoved(int row);
    void onRowMoved(int from, int to);
    void onRowChanged(int row);

    QPointer<Table> m_table;
    bool m_readOnly = false;
    int m_rowCount = 0;
    int m_columnCount = 0;
    // The table signals after it changed; between begin...() and end...() the model still presents
    // the layout before the change, as Qt requires.
    Pending m_pending = Pending::None;
    int m_pendingFrom = -1;
    int m_pendingTo = -1;
};
