#pragma once

#include <QString>

#include <functional>

// Times and durations are day fractions: 1 second = 1/86400.
namespace timetext {

// Race clock and duration constants, with the precision the program has always used.
constexpr double clockStep = 1.157407E-5;        // one tick, 0.99999965 s
constexpr double oneMinute = .00069444444;       // threshold of the one-minute warning
constexpr double minLapScale = .00027777777;     // seconds entry to day fraction
constexpr double minuteScale = 0.01666666666;    // minutes entry to day fraction
constexpr double msPerDay = 86400000.0;

struct DecodedTime
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
};

// Rounds to the millisecond, drops the sign and whole days.
DecodedTime decode(double dayFraction);

QString lapText(double dayFraction);   // "m.s.ms": 0.12.345
QString totalText(double dayFraction); // "m.s": 3.5
QString clockText(double dayFraction); // "m:s": 5:0
inline const QString zeroText = QStringLiteral("00.00.00"); // a time set to zero by rule

// The time of day now, to the millisecond; tests replace the clock to make lap times exact.
double timeOfDayNow();
void setClock(std::function<double()> clock); // an empty function restores the system clock

// A monotonic clock in nanoseconds, untouched by changes of the system clock: passages are stamped with it
// where they arrive, and lap times are differences of its readings. Tests replace it before any thread
// reads it; an empty function restores the steady clock.
qint64 monotonicNs();
void setMonotonicClock(std::function<qint64()> clock);
// A day fraction as nanoseconds and back, unrounded.
constexpr double nsPerDay = 86400e9;

} // namespace timetext
