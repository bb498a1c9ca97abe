#pragma once

#include "tests/support/program.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <atomic>

class Simulator;
class Table;

// The program with a race set up the way a user sets one up: competitor list, heat settings, generated
// heats, "Crea Nuove Qualifiche", and for a final "Estrai Finalisti" and the finals settings. The start-up
// dialogue check is over once the fixture is made. The race clock only ticks when the test says so. With the
// fake clock (the default) passages are stamped at the time the test sets, on both the wall clock and the
// monotonic clock; with the real one they are stamped where they really arrive.
class RaceFixture
{
public:
    enum class Clock { Fake, Real };

    explicit RaceFixture(ProgramSession::Device kind = ProgramSession::Device::Simulator, Clock clock = Clock::Fake);
    ~RaceFixture();

    ProgramSession& session() { return m_session; }
    Simulator& device() { return m_session.device(); }

    // Competitors "Pilota 1".."Pilota n" with distinct frequencies, in heats of heatSize, with the rounds and
    // the race length in minutes of the heat settings window.
    bool buildQualifications(int competitors, int heatSize, int rounds = 1, int minutes = 1);
    // After the qualifications: one final "A" of `cars` finalists, `minutes` long.
    bool buildFinal(int cars, int minutes = 1);

    // Start with the minimum lap entry, "Pronti ... Via" and the start lights up to the start signal. The start
    // lights are ticked by hand, and the race clock is left enabled but ticks only through tick().
    bool startRace(const QString& minLapEntry = QStringLiteral("5"));
    // Clock ticks while the race clock is enabled, as the timer would deliver them; the number delivered.
    int tick(int count = 1);
    // Clock ticks up to the one that finds the time run out; the number delivered.
    int tickToTimeUp() { return tick(10000); }

    // One reception at `atMs` after the race's base time: the device sends `bytes`, and the receive handler reads
    // them all in one piece. An empty text is a reception with nothing to read.
    bool receive(const QByteArray& bytes, qint64 atMs);
    // The same at the clock's current time.
    bool receive(const QByteArray& bytes);
    // Bytes sent one part after the other, each at its own time in nanoseconds, and read in one reception.
    bool receiveTogether(const QList<std::pair<QByteArray, qint64>>& parts);
    // The device sends the digit of `channel`, `seconds` after the previous passage, and the program handles it
    // as it arrives, in its own reception event.
    bool passage(int channel, int seconds = 20);
    // Sets both clocks; a passage sent now arrives at this time.
    void setTime(qint64 atMs);
    void setTimeNs(qint64 atNs);
    // Sets the wall clock alone, as a change of the system clock does.
    void setTimeOfDay(double dayFraction) { m_now = dayFraction; }
    // The time of day atMs after 10:00:00, as the clock gives it.
    static double timeOfDay(qint64 atMs);

    // The race table and a value of the car's row on a channel ("num" in the current heat, "nr." in the final).
    static Table& raceTable();
    static QVariant value(int channel, const QString& field);

    // What the user does after the end of a race: close the STOP and one-minute windows.
    static void closeEndWindows();

private:
    ProgramSession m_session;
    double m_now = 0;
    std::atomic<qint64> m_monoNs{0};
    bool m_deviceAnswered = false;
};
