#include "widgets/navigator.h"

#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

namespace {
struct ButtonInfo
{
    const char* name;
    const char* glyph;
    const char* hint;
};
constexpr ButtonInfo buttonInfo[] = {
    {"First", "|\u25c0", "First record"}, {"Prior", "\u25c0", "Prior record"}, {"Next", "\u25b6", "Next record"},
    {"Last", "\u25b6|", "Last record"},   {"Insert", "+", "Insert record"},    {"Delete", "\u2212", "Delete record"},
    {"Edit", "\u25b3", "Edit record"},    {"Post", "\u2714", "Post edit"},     {"Cancel", "\u2716", "Cancel edit"},
};
} // namespace

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < int(std::size(buttonInfo)); ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(buttonInfo[i].name));
        b->setText(QString::fromUtf8(buttonInfo[i].glyph));
        b->setToolTip(QString::fromLatin1(buttonInfo[i].hint));
        b->setFocusPolicy(Qt::NoFocus);
        b->setMinimumSize(24, 24);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
        m_buttons.append(b);
        connect(b, &QToolButton::clicked, this, [this, i] { click(Button(i)); });
    }
    updateButtons();
}

QToolButton* DBNavigator::button(Button b) const
{
    return m_buttons.at(int(b));
}

void DBNavigator::setDataSource(TableModel* source)
{
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_source = source;
    if (source) {
        Table* t = source->table();
        m_connections.append(connect(t, &Table::cursorMoved, this, &DBNavigator::updateButtons));
        m_connections.append(connect(t, &Table::stateChanged, this, &DBNavigator::updateButtons));
        m_connections.append(connect(t, &Table::reset, this, &DBNavigator::updateButtons));
        m_connections.append(connect(t, &Table::rowInserted, this, &DBNavigator::updateButtons));
        m_connections.append(connect(t, &Table::rowRemoved, this, &DBNavigator::updateButtons));
    }
    updateButtons();
}

void DBNavigator::click(Button b)
{
    if (!m_source)
        return;
    Table* t = m_source->table();
    // The buttons take no focus: a cell being typed in a grid over the same table is still open, and
    // what was typed there belongs to the row before the command acts on it.
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        if (auto* grid = qobject_cast<DataGrid*>(w)) {
            if (grid->dataSource() == m_source)
                grid->commitEdit();
            break;
        }
    }
    guard([&] {
        switch (b) {
        case Button::First:
            t->first();
            break;
        case Button::Prior:
            t->prior();
            break;
        case Button::Next:
            t->next();
            break;
        case Button::Last:
            t->last();
            break;
        case Button::Insert:
            t->insert();
            break;
        case Button::Delete:
            if (dialogs::confirm(QStringLiteral("Delete record?")))
                t->deleteRecord();
            break;
        case Button::Edit:
            t->edit();
            break;
        case Button::Post:
            t->post();
            break;
        case Button::Cancel:
            t->cancel();
            break;
        }
    });
    updateButtons();
}

void DBNavigator::updateButtons()
{
    Table* t = m_source ? m_source->table() : nullptr;
    const bool open = t && t->isOpen();
    const bool editing = open && (t->state() == Table::State::Edit || t->state() == Table::State::Insert);
    const bool hasRows = open && t->recordCount() > 0;
    const int row = open ? t->currentRow() : -1;
    const bool atFirst = !hasRows || row <= 0;
    const bool atLast = !hasRows || row >= t->recordCount() - 1;
    button(Button::First)->setEnabled(open && !atFirst);
    button(Button::Prior)->setEnabled(open && !atFirst);
    button(Button::Next)->setEnabled(open && !atLast);
    button(Button::Last)->setEnabled(open && !atLast);
    button(Button::Insert)->setEnabled(open);
    button(Button::Delete)->setEnabled(hasRows);
    button(Button::Edit)->setEnabled(hasRows && !editing);
    button(Button::Post)->setEnabled(editing);
    button(Button::Cancel)->setEnabled(editing);
}
