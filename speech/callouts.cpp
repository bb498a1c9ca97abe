#include "speech/callouts.h"

#include "tables/timetext.h"

#include <cmath>

namespace callouts {

QString lapTime(qint64 lapMs)
{
    const qint64 tenths = qMax<qint64>(lapMs, 0) / 100;
    const qint64 minutes = tenths / 600;
    const qint64 seconds = tenths / 10 % 60;
    const QString rest = QStringLiteral("%1 e %2").arg(seconds).arg(tenths % 10);
    if (minutes == 0)
        return rest;
    const QString unit = minutes == 1 ? QStringLiteral("minuto") : QStringLiteral("minuti");
    return QStringLiteral("%1 %2 %3").arg(minutes).arg(unit, rest);
}

QString lap(const QString& name, int lap, qint64 lapMs)
{
    QString text = QStringLiteral("giro %1").arg(lap);
    const QString trimmed = name.trimmed();
    if (!trimmed.isEmpty())
        text = trimmed + QStringLiteral(", ") + text;
    if (lapMs > 0)
        text += QStringLiteral(", ") + lapTime(lapMs);
    return text;
}

qint64 dayFractionToMs(double dayFraction)
{
    return std::llround(dayFraction * timetext::msPerDay);
}

} // namespace callouts
