#include "finals/distribution.h"

Q_LOGGING_CATEGORY(lcFinals, "quintara.finals", QtInfoMsg)

void finalLetter(int number, QString& letter)
{
    if (number >= 1 && number <= 26)
        letter = QString(QChar(u'A' + number - 1));
}

int finalNumberOf(const QString& letter)
{
    if (letter.size() == 1 && letter[0] >= QLatin1Char('A') && letter[0] <= QLatin1Char('Z'))
        return letter[0].unicode() - u'A' + 1;
    return 0;
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
        qCDebug(lcFinals) << rows.size() << "finalists in a single final";
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
