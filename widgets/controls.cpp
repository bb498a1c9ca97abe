#include "widgets/controls.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QToolButton>
#include <QVBoxLayout>

Shape::Shape(QWidget* parent) : QWidget(parent) {}

void Shape::setBrushColor(const QColor& color)
{
    m_color = color;
    update();
}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_color);
    const int d = qMin(width(), height()) - 1;
    p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

void DblClickLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

void ExitEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Only leaving the field within its window is an exit: not the window losing activation, a popup or a
    // menu opening, or a modal box taking the focus.
    switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        return;
    default:
        break;
    }
    if (const QWidget* next = QApplication::focusWidget(); next && next->window() != window())
        return;
    emit exited();
}

void ExitEdit::exitIfCurrent()
{
    if (window()->focusWidget() == this)
        emit exited();
}

Memo::Memo(QWidget* parent, Qt::Alignment alignment) : QTextEdit(parent), m_alignment(alignment)
{
    setAcceptRichText(false);
    setAlignment(m_alignment);
    // What the user types becomes the text.
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (!m_updating)
            m_text = toPlainText();
    });
}

void Memo::setText(const QString& text)
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    m_text = text;
    setPlainText(text);
    selectAll();
    setAlignment(m_alignment);
    moveCursor(QTextCursor::End);
}

void Memo::appendText(const QString& text)
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    m_text += text;
    moveCursor(QTextCursor::End);
    insertPlainText(text);
    moveCursor(QTextCursor::End);
}

UpDown::UpDown(QLineEdit* associate, const QString& name, int min, int max, int position, QWidget* parent)
    : QWidget(parent), m_associate(associate), m_min(min), m_max(max), m_position(position),
      m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    setObjectName(name);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    for (QToolButton* b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
    // Sit at the edit's right edge, as tall as the edit.
    const QRect g = associate->geometry();
    setGeometry(g.right() + 1, g.top(), 17, g.height());
}

int UpDown::position() const
{
    return m_position;
}

void UpDown::stepBy(int steps)
{
    bool ok = false;
    const int typed = m_associate->text().trimmed().toInt(&ok);
    if (ok)
        m_position = qBound(m_min, typed, m_max);
    m_position = qBound(m_min, m_position + steps, m_max);
    m_associate->setText(QString::number(m_position));
}

QLineEdit* labeledEdit(QWidget* parent, const QString& name, const QString& caption, const QString& text, int left,
                       int top, int width, int height)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name + QStringLiteral("_label"));
    label->adjustSize();
    label->move(left, top - label->height() - 3);
    auto* edit = new QLineEdit(text, parent);
    label->setBuddy(edit);
    return place(edit, name, left, top, width, height);
}
