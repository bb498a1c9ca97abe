#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>

// The window toolkit's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcWidgets)

// Every message box of the program goes through here, so tests can pre-answer and read them.
namespace dialogs {

enum class Kind { Message, Error, Confirm };

struct Box
{
    Kind kind;
    QString text;
};

void message(const QString& text);  // plain box with its fixed sentence and OK
void error(const QString& text);    // the standard error box: critical icon, OK
bool confirm(const QString& text);  // Yes/No; true for Yes

// Test mode: no box is shown; each box is recorded, and confirm() takes the next queued answer
// (No when none is queued).
void setTestMode(bool on);
bool testMode();
void queueAnswer(bool yes);
QList<Box> shown();
QStringList shownTexts();
void clearShown();

} // namespace dialogs
