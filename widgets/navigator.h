#pragma once

#include <QWidget>

class QToolButton;
class Table;
class TableModel;

// Buttons first, prior, next, last, insert, delete, edit, post, cancel over a table.
class DBNavigator : public QWidget
{
    Q_OBJECT
public:
    enum class Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel };

    explicit DBNavigator(QWidget* parent = nullptr);
    void setDataSource(TableModel* source);
    QToolButton* button(Button b) const;
    void click(Button b);

private:
    void updateButtons();

    TableModel* m_source = nullptr;
    QList<QToolButton*> m_buttons;
    QList<QMetaObject::Connection> m_connections;
};
