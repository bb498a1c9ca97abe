#pragma once

#include "race/laprules.h"

#include <QList>
#include <QString>

#include <optional>

class Table;

// What a race needs to be rebuilt: its settings and starting values, the race clock's ticks and every
// passage, each stamped on the monotonic clock where it arrived. The race window keeps one for the race on
// track and the passage journal holds a copy on disk, so a race is rebuilt the same way after a crash or a
// lap correction.
namespace racerecord {

enum class EventKind
{
    Passage,   // sent by the device
    Added,     // added by the race director
    TakenBack, // the channel's last passage taken back by the race director
};

struct Event
{
    EventKind kind = EventKind::Passage;
    int channel = 0;
    qint64 stampNs = 0;

    bool operator==(const Event&) const = default;
};

// A tick of the race clock: when it ran, and the elapsed race time it left.
struct Tick
{
    qint64 stampNs = 0;
    double elapsed = 0;

    bool operator==(const Tick&) const = default;
};

struct RaceRecord
{
    laprules::RaceMode mode = laprules::RaceMode::Idle;
    int heat = 0;        // qualifications: the heat raced
    int round = 0;       // qualifications: the round it belongs to
    QString finalLetter; // finals: the final raced
    double minLapTime = 0;
    double wallStart = 0; // the time of day at the start signal, read once
    qint64 monoStart = 0; // the monotonic clock at the same moment
    laprules::PerChannel<laprules::ChannelState> channels{};
    // The car's row on each channel at the start signal; none when the race table has no row for it.
    laprules::PerChannel<std::optional<laprules::CarTimes>> cars{};
    double elapsedStart = 0; // the elapsed race time before the first tick
    QList<Tick> ticks;
    bool timeUp = false; // the last tick found the race time run out
    QList<Event> events;

    // The time of day of a stamp: the start's reading plus the monotonic time since, back to 0 at midnight.
    double timeOfDay(qint64 stampNs) const;
    // The race clock's elapsed time as it stood at a stamp: what the last tick before it left, or `current`
    // when no tick came after it.
    double elapsedAt(qint64 stampNs, double current) const;
    double elapsedAt(qint64 stampNs) const
    {
        return elapsedAt(stampNs, ticks.isEmpty() ? elapsedStart : ticks.last().elapsed);
    }
    // Whether the race time had run out at a stamp, by the tick that found it out; `timeUpNow` when no tick did.
    bool timeUpAt(qint64 stampNs, bool timeUpNow) const;
    bool timeUpAt(qint64 stampNs) const { return timeUpAt(stampNs, false); }
    // "batteria 2 della qualifica 1", "finale B".
    QString description() const;
    // Passages of the device and added by hand.
    int passageCount() const;
};

struct Replay
{
    laprules::PerChannel<laprules::ChannelState> channels{};
    laprules::PerChannel<std::optional<laprules::CarTimes>> cars{};
    bool complete = false; // every channel finished
};

// The passages that stand once every take-back has removed the passage it names, in stamp order.
QList<Event> standingPassages(const RaceRecord& record);

// The race as the lap rules make it of the record's passages, from its starting values.
Replay replay(const RaceRecord& record);

// The car's row on a channel, from the race table's visible rows; none when there is none.
std::optional<laprules::CarTimes> carTimes(const RaceRecord& record, const Table& raceTable, int channel);

// Writes the cars' times into their rows of the race table (qualification or finals table, by the record's
// mode); each row is posted. Rows of other heats or finals are untouched.
void writeCars(const RaceRecord& record, const Replay& replay, Table& raceTable);

} // namespace racerecord
