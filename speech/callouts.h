#pragma once

#include <QString>
#include <QtGlobal>

// What the announcer says, in Italian. Numbers stay digits: the Italian voice reads them as words.
namespace callouts {

inline const QString lastMinute = QStringLiteral("Ultimo minuto");
inline const QString endOfRace = QStringLiteral("Fine gara");

// A lap time as spoken: "14 e 3" (seconds and tenths), "un minuto 2 e 5", "2 minuti 0 e 7".
// The tenth is cut, not rounded, so the voice says the digit the lap column shows (0.14.399 is
// "14 e 3"). A whole second keeps its tenth, "14 e 0", so every time has the same shape and the ear
// finds the tenths in the same place.
QString lapTime(qint64 lapMs);

// "Rossi, giro 12, 14 e 3". A lap time of 0 or less (a car's first passage) leaves the time out:
// "Rossi, giro 1". A blank name leaves the name out: "giro 12, 14 e 3".
QString lap(const QString& name, int lap, qint64 lapMs);

// A day-fraction time (1 s = 1/86400) in whole milliseconds, for callers holding table times.
qint64 dayFractionToMs(double dayFraction);

} // namespace callouts
