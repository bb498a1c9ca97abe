#include "tables/timetext.h"

#include <QTime>

#include <chrono>
#include <cmath>

namespace timetext {

namespace {
std::function<double()>& clockFunction()
{
    static std::function<double()> clock;
    return clock;
}

std::function<qint64()>& monotonicFunction()
{
    static std::function<qint64()> clock;
    return clock;
}
} // namespace

DecodedTime decode(double dayFraction)
{
    long long ms = std::llround(dayFraction * msPerDay);
    if (ms < 0)
        ms = -ms;
    ms %= static_cast<long long>(msPerDay);
    DecodedTime t;
    t.hours = int(ms / 3600000);
    t.minutes = int((ms / 60000) % 60);
    t.seconds = int((ms % 60000) / 1000);
    t.milliseconds = int(ms % 1000);
    return t;
}

QString lapText(double dayFraction)
{
    const DecodedTime t = decode(dayFraction);
    return QStringLiteral("%1.%2.%3").arg(t.minutes).arg(t.seconds).arg(t.milliseconds);
}

QString totalText(double dayFraction)
{
    const DecodedTime t = decode(dayFraction);
    return QStringLiteral("%1.%2").arg(t.minutes).arg(t.seconds);
}

QString clockText(double dayFraction)
{
    const DecodedTime t = decode(dayFraction);
    return QStringLiteral("%1:%2").arg(t.minutes).arg(t.seconds);
}

double timeOfDayNow()
{
    if (clockFunction())
        return clockFunction()();
    return QTime::currentTime().msecsSinceStartOfDay() / msPerDay;
}

void setClock(std::function<double()> clock)
{
    clockFunction() = std::move(clock);
}

qint64 monotonicNs()
{
    if (monotonicFunction())
        return monotonicFunction()();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setMonotonicClock(std::function<qint64()> clock)
{
    monotonicFunction() = std::move(clock);
}

} // namespace timetext
