#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

// The finals subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcFinals)

struct FinalistRow
{
    int number = 0; // "nr.", the channel within the final
    QString letter; // "finale"
    QString name;
};

// The letter of final 1..26 ("A".."Z"); any other number leaves `letter` as it was.
void finalLetter(int number, QString& letter);
// The number 1..26 of a final's letter "A".."Z"; 0 for any other text.
int finalNumberOf(const QString& letter);

// Distributes the qualification ranking (best first) over the finals. A single final takes the
// `perFinal` best. All finals take everyone: `perFinal` to a final from "A" on, the last holding the
// rest; finals after the 26th keep the letter "Z", numbered from 1 again. With `perFinal` 0 a single
// final is empty and all finals put everyone into "A".
QList<FinalistRow> distributeFinalists(const QStringList& ranking, int perFinal, bool singleFinal);
