#include "widgets/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QQueue>

Q_LOGGING_CATEGORY(lcWidgets, "quintara.widgets", QtInfoMsg)

namespace dialogs {

namespace {
struct State
{
    bool testMode = false;
    QQueue<bool> answers;
    QList<Box> shown;
};

State& state()
{
    static State s;
    return s;
}

QWidget* parentWindow()
{
    return QApplication::activeWindow();
}
} // namespace

void message(const QString& text)
{
    qCDebug(lcWidgets) << "message:" << text;
    state().shown.append({Kind::Message, text});
    if (state().testMode)
        return;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, parentWindow());
    box.exec();
}

void error(const QString& text)
{
    qCDebug(lcWidgets) << "error:" << text;
    state().shown.append({Kind::Error, text});
    if (state().testMode)
        return;
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok, parentWindow());
    box.exec();
}

bool confirm(const QString& text)
{
    qCDebug(lcWidgets) << "question:" << text;
    state().shown.append({Kind::Confirm, text});
    if (state().testMode)
        return state().answers.isEmpty() ? false : state().answers.dequeue();
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text, QMessageBox::Yes | QMessageBox::No,
                    parentWindow());
    return box.exec() == QMessageBox::Yes;
}

void setTestMode(bool on)
{
    state().testMode = on;
}

bool testMode()
{
    return state().testMode;
}

void queueAnswer(bool yes)
{
    state().answers.enqueue(yes);
}

QList<Box> shown()
{
    return state().shown;
}

QStringList shownTexts()
{
    QStringList texts;
    for (const Box& b : state().shown)
        texts.append(b.text);
    return texts;
}

void clearShown()
{
    state().shown.clear();
    state().answers.clear();
}

} // namespace dialogs
