#include "tables/tablemodel.h"

#include "tables/table.h"

TableModel::TableModel(Table* table, QObject* parent) : QAbstractTableModel(parent), m_table(table)
{
    if (!table)
        return;
    m_rowCount = table->recordCount();
    m_columnCount = table->fieldCount();
    connect(table, &Table::reset, this, &TableModel::onReset);
    connect(table, &Table::rowInserted, this, &TableModel::onRowInserted);
    connect(table, &Table::rowRemoved, this, &TableModel::onRowRemoved);
    connect(table, &Table::rowMoved, this, &TableModel::onRowMoved);
    connect(table, &Table::rowChanged, this, &TableModel::onRowChanged);
    connect(table, &QObject::destroyed, this, &TableModel::onReset);
}

void TableModel::setReadOnly(bool readOnly)
{
    if (m_readOnly == readOnly)
        return;
    m_readOnly = readOnly;
    if (m_rowCount > 0 && m_columnCount > 0)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1));
}

int TableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

int TableModel::tableRow(int row) const
{
    switch (m_pending) {
    case Pending::None:
        return row;
    case Pending::Insert:
        return row < m_pendingFrom ? row : row + 1;
    case Pending::Remove:
        return row < m_pendingFrom ? row : (row == m_pendingFrom ? -1 : row - 1);
    case Pending::Move: {
        if (row == m_pendingFrom)
            return m_pendingTo;
        const int withoutMoved = row < m_pendingFrom ? row : row - 1;
        return withoutMoved < m_pendingTo ? withoutMoved : withoutMoved + 1;
    }
    }
    return row;
}

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) || !m_table ||
        !m_table->isOpen())
        return QVariant();
    const int row = tableRow(index.row());
    const int column = index.column();
    if (row < 0 || row >= m_table->recordCount() || column >= m_table->fieldCount())
        return QVariant();
    const FieldType type = m_table->fields().at(column).type;
    switch (role) {
    case Qt::DisplayRole: {
        const QVariant value = m_table->valueAt(row, column);
        return value.isValid() ? QVariant(Table::displayText(value, type)) : QVariant();
    }
    case Qt::EditRole:
        return m_table->valueAt(row, column);
    case Qt::TextAlignmentRole:
        if (type == FieldType::Integer || type == FieldType::Float)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        if (m_table && section >= 0 && section < m_columnCount && section < m_table->fieldCount())
            return m_table->fields().at(section).name;
        return QVariant();
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (!m_readOnly)
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (m_readOnly || role != Qt::EditRole || !m_table ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    try {
        const bool editing = m_table->state() == Table::State::Edit || m_table->state() == Table::State::Insert;
        const QPersistentModelIndex target(index);
        // Leaving another row posts it (and may move rows), as a data-aware grid does.
        if (editing && m_table->currentRow() != index.row())
            m_table->finishEdit();
        if (!target.isValid())
            return false;
        if (m_table->currentRow() != target.row())
            m_table->moveTo(target.row());
        m_table->edit();
        m_table->setValue(m_table->fields().at(target.column()).name, value);
        return true;
    } catch (const AppError& e) {
        emit errorOccurred(e.message());
        return false;
    }
}

void TableModel::onReset()
{
    beginResetModel();
    m_pending = Pending::None;
    m_rowCount = m_table ? m_table->recordCount() : 0;
    m_columnCount = m_table ? m_table->fieldCount() : 0;
    endResetModel();
}

void TableModel::onRowInserted(int row)
{
    m_pending = Pending::Insert;
    m_pendingFrom = row;
    beginInsertRows(QModelIndex(), row, row);
    m_pending = Pending::None;
    ++m_rowCount;
    endInsertRows();
}

void TableModel::onRowRemoved(int row)
{
    m_pending = Pending::Remove;
    m_pendingFrom = row;
    beginRemoveRows(QModelIndex(), row, row);
    m_pending = Pending::None;
    --m_rowCount;
    endRemoveRows();
}

void TableModel::onRowMoved(int from, int to)
{
    if (from == to)
        return;
    m_pending = Pending::Move;
    m_pendingFrom = from;
    m_pendingTo = to;
    // Qt counts the destination before the move: one past the target when moving down.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    m_pending = Pending::None;
    endMoveRows();
}

void TableModel::onRowChanged(int row)
{
    if (row < 0 || row >= m_rowCount || m_columnCount == 0)
        return;
    emit dataChanged(index(row, 0), index(row, m_columnCount - 1));
}
