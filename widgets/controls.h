#pragma once

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QWidget>

class QToolButton;

// Places a control at left, top, width, height in its parent and names it.
template <typename W> W* place(W* widget, const QString& name, int left, int top, int width = -1, int height = -1)
{
    widget->setObjectName(name);
    if (width < 0 || height < 0) {
        widget->adjustSize();
        widget->move(left, top);
    } else {
        widget->setGeometry(left, top, width, height);
    }
    return widget;
}

// A filled circle: the status light and the start lights.
class Shape : public QWidget
{
    Q_OBJECT
public:
    explicit Shape(QWidget* parent = nullptr);
    QColor brushColor() const { return m_color; }
    void setBrushColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color = Qt::white;
};

// A label that reports double-clicks.
class DblClickLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// An edit that reports when it loses the focus.
class ExitEdit : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

    // The window closes: an exit when the field was the one being edited.
    void exitIfCurrent();

signals:
    // The user left the field for another control of its window (Tab, a click).
    void exited();

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// A multi-line text box whose whole text is read and written as one string. The text is kept
// exactly as given (line ends and control characters included), whatever the display makes of it.
class Memo : public QTextEdit
{
    Q_OBJECT
public:
    explicit Memo(QWidget* parent = nullptr, Qt::Alignment alignment = Qt::AlignLeft);
    QString text() const { return m_text; }
    void setText(const QString& text);
    void appendText(const QString& text); // no separator

private:
    Qt::Alignment m_alignment;
    QString m_text;
    bool m_updating = false;
};

// Up and down arrows attached to an edit: each click steps the number in the edit by one within
// [min, max] and writes it back as text.
class UpDown : public QWidget
{
    Q_OBJECT
public:
    UpDown(QLineEdit* associate, const QString& name, int min, int max, int position, QWidget* parent);
    int position() const;
    void stepBy(int steps);

private:
    QLineEdit* m_associate;
    int m_min;
    int m_max;
    int m_position;
    QToolButton* m_up;
    QToolButton* m_down;
};

// An edit with its caption above it.
QLineEdit* labeledEdit(QWidget* parent, const QString& name, const QString& caption, const QString& text, int left,
                       int top, int width, int height = 21);
