#include "tests/printing/pdftext.h"

#include <QProcess>
#include <QStandardPaths>

namespace pdftext {

bool available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

QList<QStringList> pages(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-enc"),
                                                QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    QList<QStringList> result;
    QStringList pageTexts = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pageTexts.isEmpty() && pageTexts.last().trimmed().isEmpty())
        pageTexts.removeLast(); // the form feed after the last page
    for (const QString& text : pageTexts) {
        QStringList page;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            const QString folded = line.simplified();
            if (!folded.isEmpty())
                page.append(folded);
        }
        result.append(page);
    }
    return result;
}

QStringList lines(const QString& pdf)
{
    QStringList all;
    for (const QStringList& page : pages(pdf))
        all += page;
    return all;
}

bool inOrder(const QStringList& lines, const QStringList& expected, QString* why)
{
    qsizetype from = 0;
    for (const QString& line : expected) {
        const qsizetype at = lines.indexOf(line, from);
        if (at < 0) {
            if (why)
                *why = QStringLiteral("\"%1\" not found in order in:\n%2").arg(line, lines.join(QLatin1Char('\n')));
            return false;
        }
        from = at + 1;
    }
    return true;
}

} // namespace pdftext
