#pragma once

#include <QList>
#include <QRandomGenerator>
#include <QString>

// One crossing of the line: the device sends the channel digit timeMs after it received "E".
struct Passage
{
    qint64 timeMs = 0;
    int channel = 1;

    friend bool operator==(const Passage&, const Passage&) = default;
};

// Cars lapping on channels 1..cars.
struct CarsSettings
{
    int cars = 5;
    int lapMs = 8000;
    int spreadMs = 1000;
    quint32 seed = 1;
};

// Raises AppError when a setting is out of range: 1 to 5 cars, a positive lap, a spread below the lap.
void checkCarsSettings(const CarsSettings& settings);

// Endless passages in time order. Each car crosses the line first within half a lap (the grid is behind it),
// then once per lap of lapMs +/- spreadMs, drawn evenly. The same settings give the same passages.
class PassageGenerator
{
public:
    explicit PassageGenerator(const CarsSettings& settings);
    Passage next();

private:
    qint64 drawLap();

    CarsSettings m_settings;
    QRandomGenerator m_random;
    QList<qint64> m_nextMs; // by channel - 1
};

// The first `count` passages of PassageGenerator(settings).
QList<Passage> generatePassages(const CarsSettings& settings, int count);

// A script: one "<time-ms> <channel>" per line (space, tab, comma or semicolon between), '#' starts a comment,
// blank lines are skipped. Returned in time order, equal times in script order. Raises AppError naming the line.
QList<Passage> parsePassageScript(const QString& text);
QList<Passage> loadPassageScript(const QString& fileName);
