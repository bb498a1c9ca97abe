#include "race/racerecord.h"

#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/timetext.h"

#include <algorithm>
#include <cmath>

namespace racerecord {

using laprules::CarTimes;
using laprules::RaceMode;

double RaceRecord::timeOfDay(qint64 stampNs) const
{
    const double t = wallStart + double(stampNs - monoStart) / timetext::nsPerDay;
    return t - std::floor(t);
}

double RaceRecord::elapsedAt(qint64 stampNs, double current) const
{
    const auto after = std::upper_bound(ticks.begin(), ticks.end(), stampNs,
                                        [](qint64 stamp, const Tick& tick) { return stamp < tick.stampNs; });
    if (after == ticks.end())
        return current;
    return after == ticks.begin() ? elapsedStart : std::prev(after)->elapsed;
}

bool RaceRecord::timeUpAt(qint64 stampNs, bool timeUpNow) const
{
    if (!timeUp)
        return timeUpNow;
    return ticks.last().stampNs <= stampNs;
}

QString RaceRecord::description() const
{
    if (mode == RaceMode::Finals)
        return QStringLiteral("finale %1").arg(finalLetter);
    return QStringLiteral("batteria %1 della qualifica %2").arg(heat).arg(round);
}

int RaceRecord::passageCount() const
{
    return int(std::count_if(events.begin(), events.end(),
                             [](const Event& e) { return e.kind != EventKind::TakenBack; }));
}

QList<Event> standingPassages(const RaceRecord& record)
{
    QList<Event> events = record.events;
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.stampNs < b.stampNs; });
    QList<Event> standing;
    for (const Event& e : events) {
        if (e.kind != EventKind::TakenBack) {
            standing.append(e);
            continue;
        }
        for (qsizetype i = standing.size() - 1; i >= 0; --i) {
            if (standing[i].channel == e.channel) {
                standing.removeAt(i);
                break;
            }
        }
    }
    return standing;
}

Replay replay(const RaceRecord& record)
{
    Replay r;
    r.channels = record.channels;
    r.cars = record.cars;
    for (const Event& e : standingPassages(record)) {
        const int ch = e.channel;
        // Once every car is in, the port is closed: only the race director adds passages after that.
        if (ch < 1 || ch > 5 || (r.complete && e.kind != EventKind::Added))
            continue;
        // A passage added by the race director counts even for a car that has finished.
        if ((!r.channels[ch].channelFinished || e.kind == EventKind::Added) && r.cars[ch]) {
            laprules::applyPassage(record.mode, r.channels[ch], *r.cars[ch], record.timeOfDay(e.stampNs),
                                   record.minLapTime, record.elapsedAt(e.stampNs));
        }
        if (record.timeUpAt(e.stampNs)) {
            // After the time is up a car's passage is its last; with every car in, the race is over and the
            // port closed, so nothing after it arrives.
            r.channels[ch].channelFinished = true;
            bool all = true;
            for (int c = 1; c <= 5; ++c)
                all = all && r.channels[c].channelFinished;
            r.complete = r.complete || all;
        }
    }
    return r;
}

namespace {

const layouts::RaceFields& fieldsOf(RaceMode mode)
{
    return layouts::raceFields(mode == RaceMode::Finals);
}

bool isCarsRow(const RaceRecord& record, const layouts::RaceFields& f, const Table& t, int row, int channel)
{
    if (t.valueAt(row, t.fieldIndexOrThrow(f.key)).toInt() != channel)
        return false;
    const QVariant race = t.valueAt(row, t.fieldIndexOrThrow(f.race));
    return record.mode == RaceMode::Finals ? race.toString() == record.finalLetter : race.toInt() == record.heat;
}

} // namespace

std::optional<CarTimes> carTimes(const RaceRecord& record, const Table& t, int channel)
{
    const layouts::RaceFields& f = fieldsOf(record.mode);
    for (int row = 0; row < t.recordCount(); ++row) {
        if (!isCarsRow(record, f, t, row, channel))
            continue;
        auto at = [&](const QString& field) { return t.valueAt(row, t.fieldIndexOrThrow(field)); };
        CarTimes c;
        c.laps = at(f.laps).toInt();
        c.lap = at(f.lapTime);
        c.best = at(f.bestTime);
        c.total = at(f.totalTime);
        c.lapText = at(f.lapText).toString();
        c.bestText = at(f.bestText).toString();
        c.totalText = at(f.totalText).toString();
        return c;
    }
    return std::nullopt;
}

void writeCars(const RaceRecord& record, const Replay& replay, Table& t)
{
    const layouts::RaceFields& f = fieldsOf(record.mode);
    for (int ch = 1; ch <= 5; ++ch) {
        const std::optional<CarTimes>& car = replay.cars[ch];
        if (!car)
            continue;
        // Rows move within the order when a key changes on post, so each car's row is looked up afresh.
        for (int row = 0; row < t.recordCount(); ++row) {
            if (!isCarsRow(record, f, t, row, ch))
                continue;
            t.moveTo(row);
            t.edit();
            // A text never written stays null.
            auto text = [](const QString& s) { return s.isNull() ? QVariant() : QVariant(s); };
            t.setValue(f.laps, car->laps);
            t.setValue(f.lapTime, car->lap);
            t.setValue(f.lapText, text(car->lapText));
            t.setValue(f.bestTime, car->best);
            t.setValue(f.bestText, text(car->bestText));
            t.setValue(f.totalTime, car->total);
            t.setValue(f.totalText, text(car->totalText));
            t.post();
            break;
        }
    }
}

} // namespace racerecord
