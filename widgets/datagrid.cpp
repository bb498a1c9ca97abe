#include "widgets/datagrid.h"

#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QHeaderView>
#include <QKeyEvent>

DataGrid::DataGrid(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    verticalHeader()->setDefaultSectionSize(18);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(12);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
}

Table* DataGrid::table() const
{
    return m_source ? m_source->table() : nullptr;
}

void DataGrid::setDataSource(TableModel* source)
{
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_source = source;
    setModel(source);
    if (source) {
        source->setReadOnly(m_readOnly);
        m_connections.append(connect(source->table(), &Table::cursorMoved, this, &DataGrid::followCursor));
        m_connections.append(connect(source, &QAbstractItemModel::modelReset, this, [this] {
            applyHiddenColumns();
            if (Table* t = table())
                followCursor(t->currentRow());
        }));
        followCursor(source->table()->currentRow());
    }
    applyHiddenColumns();
}

void DataGrid::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    if (m_source)
        m_source->setReadOnly(readOnly);
    setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                             : QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                   QAbstractItemView::EditKeyPressed);
}

void DataGrid::hideColumns(const QList<int>& columns)
{
    m_hidden = columns;
    applyHiddenColumns();
}

void DataGrid::applyHiddenColumns()
{
    if (!model())
        return;
    for (int c = 0; c < model()->columnCount(); ++c)
        setColumnHidden(c, m_hidden.contains(c));
}

void DataGrid::followCursor(int row)
{
    if (!m_source || row < 0 || row >= m_source->rowCount())
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    if (currentIndex().row() == row)
        return;
    m_syncing = true;
    setCurrentIndex(m_source->index(row, column));
    m_syncing = false;
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid() || current.row() == previous.row())
        return;
    Table* t = table();
    if (t && t->isOpen() && t->currentRow() != current.row())
        guard([t, &current] { t->moveTo(current.row()); });
}

void DataGrid::keyPressEvent(QKeyEvent* event)
{
    Table* t = table();
    if (!t || !t->isOpen() || state() == QAbstractItemView::EditingState) {
        QTableView::keyPressEvent(event);
        return;
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    if (event->key() == Qt::Key_Down && event->modifiers() == Qt::NoModifier && !m_readOnly &&
        (t->recordCount() == 0 || currentIndex().row() == m_source->rowCount() - 1)) {
        // Down on the last row appends a new row, unless that row is itself a new, untouched one.
        if (t->state() == Table::State::Insert && !t->editModified())
            return;
        guard([t] { t->append(); });
        setCurrentIndex(m_source->index(t->currentRow(), column));
        return;
    }
    if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier && !m_readOnly) {
        guard([t] { t->insert(); });
        setCurrentIndex(m_source->index(t->currentRow(), column));
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier && !m_readOnly) {
        if (t->recordCount() > 0 && dialogs::confirm(QStringLiteral("Delete record?")))
            guard([t] { t->deleteRecord(); });
        return;
    }
    if (event->key() == Qt::Key_Escape && t->state() != Table::State::Browse) {
        guard([t] { t->cancel(); });
        return;
    }
    QTableView::keyPressEvent(event);
}
