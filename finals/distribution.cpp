#include "finals/distribution.h"

void finalLetter(int number, QString& letter)
{
    if (number >= 1 && number <= 26)
        letter = QString(QChar(u'A' + number - 1));
}

QList<FinalistRow> distributeFinalists(const QStringList& ranking, int perFinal, bool singleFinal)
{
    QList<FinalistRow> rows;
    QString letter;
    int finalNumber = 1;
    finalLetter(finalNumber, letter);
    if (singleFinal) {
        for (int i = 0; i < ranking.size() && i < perFinal; ++i)
            rows.append({i + 1, letter, ranking[i]});
        return rows;
    }
    int number = 1;
    int placed = 0;
    for (const QString& name : ranking) {
        rows.append({number, letter, name});
        ++placed;
        if (placed == perFinal) {
            // The final is full; no final is opened for the letter after a full last final.
            ++finalNumber;
            finalLetter(finalNumber, letter);
            placed = 0;
            number = 0;
        }
        ++number;
    }
    return rows;
}
