#include "widgets/form.h"

#include "widgets/guard.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>

Form::Form(const QString& name, const QString& caption, QWidget* parent) : QMainWindow(parent), m_client(new QWidget(this))
{
    setObjectName(name);
    setWindowTitle(caption);
    m_client->setObjectName(name + QStringLiteral("_client"));
    setCentralWidget(m_client);
    applyFlags();
}

void Form::setClientSize(int width, int height)
{
    m_client->setMinimumSize(width, height);
    if (m_border == Border::Sizeable || m_border == Border::SizeableTool) {
        m_client->setMinimumSize(0, 0);
        m_client->resize(width, height);
        resize(width, height + (menuWidget() ? menuWidget()->sizeHint().height() : 0));
    } else {
        m_client->setFixedSize(width, height);
        layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
}

void Form::setOuterSize(int width, int height)
{
    // The sizes known for the program's windows include the frame: keep the client area a little smaller.
    constexpr int frameWidth = 8;
    constexpr int frameHeight = 27;
    const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    setClientSize(width - frameWidth, height - frameHeight - menuHeight);
}

void Form::setBorder(Border border, bool closeBox)
{
    m_border = border;
    m_closeBox = closeBox;
    applyFlags();
}

void Form::setStayOnTop(bool onTop)
{
    m_onTop = onTop;
    applyFlags();
}

void Form::applyFlags()
{
    Qt::WindowFlags flags = Qt::Window;
    switch (m_border) {
    case Border::Tool:
    case Border::SizeableTool:
        flags = Qt::Tool;
        break;
    case Border::Dialog:
        flags = Qt::Dialog;
        break;
    case Border::None:
        flags = Qt::Window | Qt::FramelessWindowHint;
        break;
    default:
        break;
    }
    if (m_border != Border::None) {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (m_closeBox)
            flags |= Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
        if (m_border == Border::Sizeable || m_border == Border::Fixed)
            flags |= Qt::WindowMinimizeButtonHint;
        if (m_border == Border::Sizeable)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    if (m_onTop)
        flags |= Qt::WindowStaysOnTopHint;
    const bool visible = isVisible();
    setWindowFlags(flags);
    if (visible)
        show();
}

QAction* Form::addFileExitMenu(const QString& exitName)
{
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction* exit = file->addAction(QStringLiteral("Exit"));
    exit->setObjectName(exitName);
    return exit;
}

void Form::showForm()
{
    show();
    raise();
    activateWindow();
}

void Form::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        guard([this] { FormShow(); });
}

void Form::closeEvent(QCloseEvent* event)
{
    if (guard([this] { FormClose(); }))
        event->accept();
    else
        event->ignore();
}
