#include "widgets/datagrid.h"

#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QRegularExpressionValidator>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

// Cell editors: plain line edits that accept only what the field can hold, and that write back only
// what the user changed, so stepping through the cells of a new row leaves it untouched.
class GridDelegate : public QStyledItemDelegate
{
public:
    explicit GridDelegate(DataGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    QLineEdit* editor() const { return m_editor; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* edit = new QLineEdit(parent);
        edit->setFrame(false);
        const Table* t = m_grid->table();
        if (t && index.column() < t->fieldCount()) {
            static const QRegularExpression integer(QStringLiteral("[+-]?\\d{0,10}"));
            // The decimal separator may be typed as ',' (Italian keyboards) or '.'.
            static const QRegularExpression number(QStringLiteral("[+-]?\\d{0,12}([.,]\\d{0,12})?"));
            const FieldDef& field = t->fields().at(index.column());
            switch (field.type) {
            case FieldType::Integer:
                edit->setValidator(new QRegularExpressionValidator(integer, edit));
                edit->setAlignment(Qt::AlignRight);
                break;
            case FieldType::Float:
                edit->setValidator(new QRegularExpressionValidator(number, edit));
                edit->setAlignment(Qt::AlignRight);
                break;
            case FieldType::String:
                edit->setMaxLength(field.size);
                break;
            case FieldType::Time:
                break;
            }
        }
        // Typing puts the row in edit at once, as the navigator's Post and Cancel expect.
        connect(edit, &QLineEdit::textEdited, edit, [grid = m_grid] {
            if (Table* t = grid->table(); t && t->isOpen())
                guard([t] { t->edit(); });
        });
        m_editor = edit;
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        static_cast<QLineEdit*>(editor)->setText(index.data(Qt::DisplayRole).toString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        auto* edit = static_cast<QLineEdit*>(editor);
        if (!edit->isModified())
            return;
        if (model->setData(index, edit->text()))
            edit->setModified(false);
    }

private:
    DataGrid* m_grid;
    mutable QPointer<QLineEdit> m_editor;
};

namespace {

// The row indicator: a triangle beside the current row, a star beside a new row being entered.
class RowIndicator : public QHeaderView
{
public:
    explicit RowIndicator(DataGrid* grid) : QHeaderView(Qt::Vertical, grid), m_grid(grid) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override
    {
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = rect;
        option.section = logicalIndex;
        style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
        const Table* t = m_grid->table();
        if (!t || !t->isOpen() || t->currentRow() != logicalIndex)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->setBrush(palette().color(QPalette::ButtonText));
        const QPointF c = QRectF(rect).center();
        if (t->state() == Table::State::Insert) {
            painter->drawText(rect, Qt::AlignCenter, QStringLiteral("*"));
        } else {
            const qreal h = qMin<qreal>(4, rect.width() / 2.0 - 1);
            painter->drawPolygon(
                QPolygonF{{c.x() - h / 2, c.y() - h}, {c.x() - h / 2, c.y() + h}, {c.x() + h / 2, c.y()}});
        }
        painter->restore();
    }

private:
    DataGrid* m_grid;
};

} // namespace

DataGrid::DataGrid(QWidget* parent) : QTableView(parent), m_delegate(new GridDelegate(this))
{
    setItemDelegate(m_delegate);
    setVerticalHeader(new RowIndicator(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    setReadOnly(false);
    // Rows 18 pixels apart, level with the race window's position labels.
    verticalHeader()->setMinimumSectionSize(18);
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
        Table* t = source->table();
        m_connections.append(connect(t, &Table::cursorMoved, this, &DataGrid::followCursor));
        const auto repaintIndicator = [this] { verticalHeader()->viewport()->update(); };
        m_connections.append(connect(t, &Table::cursorMoved, this, repaintIndicator));
        m_connections.append(connect(t, &Table::stateChanged, this, repaintIndicator));
        m_connections.append(connect(source, &QAbstractItemModel::modelReset, this, [this] {
            applyColumns();
            if (Table* t = table())
                followCursor(t->currentRow());
        }));
        // Shown once the edit that failed has finished, not from inside the editor's commit.
        m_connections.append(connect(source, &TableModel::errorOccurred, this, &dialogs::error, Qt::QueuedConnection));
        followCursor(t->currentRow());
    }
    applyColumns();
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
    applyColumns();
}

void DataGrid::setColumnWidths(const QList<int>& widths)
{
    m_widths = widths;
    applyColumns();
}

void DataGrid::applyColumns()
{
    if (!model())
        return;
    for (int c = 0; c < model()->columnCount(); ++c) {
        setColumnHidden(c, m_hidden.contains(c));
        if (c < m_widths.size())
            horizontalHeader()->resizeSection(c, m_widths[c]);
    }
}

int DataGrid::firstVisibleColumn() const
{
    const int count = model() ? model()->columnCount() : 0;
    for (int c = 0; c < count; ++c) {
        if (!isColumnHidden(c))
            return c;
    }
    return 0;
}

int DataGrid::lastVisibleColumn() const
{
    for (int c = (model() ? model()->columnCount() : 0) - 1; c >= 0; --c) {
        if (!isColumnHidden(c))
            return c;
    }
    return 0;
}

void DataGrid::commitEdit()
{
    QLineEdit* editor = m_delegate->editor();
    if (!editor || state() != QAbstractItemView::EditingState)
        return;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void DataGrid::followCursor(int row)
{
    if (m_readOnly && !m_followPending) {
        m_followPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_followPending = false;
                if (Table* t = table())
                    followCursorNow(t->currentRow());
            },
            Qt::QueuedConnection);
    }
    if (!m_readOnly)
        followCursorNow(row);
}

void DataGrid::followCursorNow(int row)
{
    if (m_driving || !m_source || row < 0 || row >= m_source->rowCount())
        return;
    if (currentIndex().row() == row)
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : firstVisibleColumn();
    m_syncing = true;
    setCurrentIndex(m_source->index(row, column));
    m_syncing = false;
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // The base class writes an open editor of the previous cell into its row first.
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid() || current.row() == previous.row())
        return;
    Table* t = table();
    if (!t || !t->isOpen() || t->currentRow() == current.row())
        return;
    m_driving = true;
    guard([this, t] {
        // Leaving the row posts it, or drops it when it is a new, untouched row. Either may move rows,
        // and the view's current index moves with them, so it still names the row the user went to.
        t->finishEdit();
        const int row = currentIndex().row();
        if (row >= 0 && row != t->currentRow())
            t->moveTo(row);
    });
    m_driving = false;
    followCursor(t->currentRow());
}

QModelIndex DataGrid::appendRow(int column)
{
    Table* t = table();
    commitEdit();
    if (t->state() != Table::State::Insert || t->editModified()) {
        m_driving = true;
        const bool appended = guard([t] { t->append(); });
        m_driving = false;
        if (!appended)
            return currentIndex();
    }
    return m_source->index(t->currentRow(), column);
}

QModelIndex DataGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    Table* t = table();
    // The view also moves the cursor by itself, e.g. to the first cell when it gets the focus.
    if (m_byKey && t && t->isOpen() && !m_readOnly && (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        const int rows = m_source->rowCount();
        const bool onLastRow = rows == 0 || (current.isValid() && current.row() == rows - 1);
        // Down on the last row, or Tab on its last cell, goes on to a new row.
        if (action == MoveDown && onLastRow)
            return appendRow(current.isValid() ? current.column() : firstVisibleColumn());
        if (action == MoveNext && current.isValid() && onLastRow && current.column() >= lastVisibleColumn())
            return appendRow(firstVisibleColumn());
    }
    return QTableView::moveCursor(action, modifiers);
}

void DataGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Tab in a cell editor moves on to the next cell.
    const QScopedValueRollback byKey(m_byKey, true);
    QTableView::closeEditor(editor, hint);
}

void DataGrid::keyPressEvent(QKeyEvent* event)
{
    const QScopedValueRollback byKey(m_byKey, true);
    Table* t = table();
    if (!t || !t->isOpen() || state() == QAbstractItemView::EditingState) {
        QTableView::keyPressEvent(event);
        return;
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : firstVisibleColumn();
    if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier && !m_readOnly) {
        m_driving = true;
        guard([t] { t->insert(); });
        m_driving = false;
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
    // Typing into an empty grid starts its first row.
    const QString text = event->text();
    if (!m_readOnly && m_source->rowCount() == 0 && !text.isEmpty() && text.at(0).isPrint())
        setCurrentIndex(appendRow(column));
    QTableView::keyPressEvent(event);
}
