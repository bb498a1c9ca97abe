#include "tables/convert.h"

#include "tables/error.h"

#include <QRegularExpression>

namespace convert {

int strToInt(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    // Leading blanks are accepted, as are trailing ones; inner blanks and a bare sign are not.
    const int value = trimmed.isEmpty() || trimmed.contains(QLatin1Char(' ')) ? 0 : trimmed.toInt(&ok, 10);
    if (!ok)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

double strToTime(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})(?::(\\d{1,2})(?::(\\d{1,2}))?)?\\s*$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (m.hasMatch()) {
        const int h = m.captured(1).toInt();
        const int min = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
        const int s = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
        if (h < 24 && min < 60 && s < 60)
            return (h * 3600 + min * 60 + s) / 86400.0;
    }
    throw AppError(QStringLiteral("'%1' is not a valid time").arg(text));
}

double wholeNumberDuration(const QString& text, double scale)
{
    return strToTime(text) * scale;
}

} // namespace convert
