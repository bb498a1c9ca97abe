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
    // The voice reads a bare "1 minuto" as "uno minuto".
    if (minutes == 1)
        return QStringLiteral("un minuto ") + rest;
    return QStringLiteral("%1 minuti %2").arg(minutes).arg(rest);
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
