#include "race/laprules.h"

#include "tables/table.h"
#include "tables/timetext.h"

Q_LOGGING_CATEGORY(lcRace, "quintara.race", QtInfoMsg)

namespace laprules {

RaceMode raceMode(bool qualificationsActive, bool finalsActive)
{
    if (qualificationsActive)
        return RaceMode::Qualifications;
    return finalsActive ? RaceMode::Finals : RaceMode::Idle;
}

int channelOf(char byte)
{
    return byte >= '1' && byte <= '5' ? byte - '0' : 0;
}

void startLap(ChannelState& channel, double passageTime)
{
    if (!channel.awaitingFirstPassage)
        channel.lapStartTime = channel.lastPassageTime;
    channel.lastPassageTime = passageTime;
}

bool countsAsLap(const ChannelState& channel, double minLapTime)
{
    return channel.lastPassageTime - channel.lapStartTime > minLapTime || channel.lapStartTime == 0;
}

WrittenTime lapTime(ChannelState& channel)
{
    if (channel.awaitingFirstPassage) {
        channel.awaitingFirstPassage = false;
        return {0, true};
    }
    return {channel.lastPassageTime - channel.lapStartTime, false};
}

std::optional<WrittenTime> bestLap(RaceMode mode, const QVariant& best, double lap)
{
    if (mode == RaceMode::Qualifications) {
        // A later round's first passage (lap 0) leaves the best lap alone, so it spans every round.
        if (best.isNull())
            return WrittenTime{0, true};
        if (best.toDouble() == 0 || (lap != 0 && best.toDouble() > lap))
            return WrittenTime{lap, false};
        return std::nullopt;
    }
    // The finals have no rule for a zero lap: a never written best lap becomes 0 and at once takes the lap.
    if (best.isNull() || best.toDouble() == 0 || best.toDouble() > lap)
        return WrittenTime{lap, false};
    return std::nullopt;
}

WrittenTime totalTime(double elapsedRaceTime)
{
    return {elapsedRaceTime, false};
}

QString lapTextOf(const WrittenTime& time)
{
    return time.placeholder ? timetext::zeroText : timetext::lapText(Table::roundTime(time.value));
}

bool applyPassage(RaceMode mode, ChannelState& channel, CarTimes& row, double passageTime, double minLapTime,
                  double elapsedRaceTime)
{
    startLap(channel, passageTime);
    const WrittenTime lap = lapTime(channel);
    row.lap = Table::roundTime(lap.value);
    row.lapText = lapTextOf(lap);
    if (!countsAsLap(channel, minLapTime))
        return false;
    row.laps += 1;
    if (const auto best = bestLap(mode, row.best, row.lap.toDouble())) {
        row.best = Table::roundTime(best->value);
        row.bestText = lapTextOf(*best);
    }
    const WrittenTime total = totalTime(elapsedRaceTime);
    row.total = Table::roundTime(total.value);
    row.totalText = timetext::totalText(total.value);
    return true;
}

} // namespace laprules
