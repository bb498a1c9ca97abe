#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

// The race subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcRace)

// The lap rules on plain values: which passages count, and the last-lap, best-lap and total times they
// write. Times are day fractions (1 second = 1/86400). The race window applies them to the race table's
// rows; restoring a race and lap corrections apply them to values they rebuild.
namespace laprules {

// Qualifications win when both race modes are set; with neither the program is idle.
enum class RaceMode { Idle, Qualifications, Finals };
RaceMode raceMode(bool qualificationsActive, bool finalsActive);

// The timing state of one channel.
struct ChannelState
{
    double lastPassageTime = 0; // the latest handled passage
    double lapStartTime = 0;    // the handled passage before it: the start of the lap it ends
    bool awaitingFirstPassage = false;
    bool channelFinished = true; // passages are ignored: no car, or its car has finished

    bool operator==(const ChannelState&) const = default;
};

// Indexed by channel 1..5; index 0 is unused.
template <typename T>
using PerChannel = std::array<T, 6>;

// The channel a received byte names: a digit "1".."5", otherwise 0.
int channelOf(char byte);

// Lap start step: the previous passage becomes the lap start, unless this is the first passage since
// Start; the passage becomes the latest.
void startLap(ChannelState& channel, double passageTime);

// A passage counts as a lap when it comes strictly more than the minimum lap time after the lap start,
// or when the lap start was never set.
bool countsAsLap(const ChannelState& channel, double minLapTime);

// A time written into a row: its value, and whether its text is the placeholder of a time set to zero
// by rule rather than the time's own text.
struct WrittenTime
{
    double value = 0;
    bool placeholder = false;

    bool operator==(const WrittenTime&) const = default;
};

// Lap time step: the first passage since Start writes the placeholder zero and clears the waiting flag;
// later ones write the time since the lap start.
WrittenTime lapTime(ChannelState& channel);

// Best lap step on a counted lap: `best` is the row's best lap as stored (null when never written), `lap`
// its last lap as stored. Returns what to write, or nothing when the best lap stays.
std::optional<WrittenTime> bestLap(RaceMode mode, const QVariant& best, double lap);

// Total time step: the race clock's elapsed time at the lap, overwritten at every counted lap.
WrittenTime totalTime(double elapsedRaceTime);

// The timed fields of one car's row, as stored (times rounded to the millisecond; null when never written),
// with their texts.
struct CarTimes
{
    int laps = 0;
    QVariant lap;
    QVariant best;
    QVariant total;
    QString lapText;
    QString bestText;
    QString totalText;

    bool operator==(const CarTimes&) const = default;
};

// The text written beside a time: the placeholder, or the lap text of the time as stored.
QString lapTextOf(const WrittenTime& time);

// One handled passage on a car's row: lap start, lap time, and when it counts the lap count, best lap
// and total. Returns whether it counted.
bool applyPassage(RaceMode mode, ChannelState& channel, CarTimes& row, double passageTime, double minLapTime,
                  double elapsedRaceTime);

} // namespace laprules
