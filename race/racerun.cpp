// The race record of the race on track: its journal on disk while it runs, and the rebuild of a race the
// program did not see to its end.
#include "device/serialport.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/dialogs.h"

#include <QDateTime>
#include <QFile>

Table& TGestione_gare::raceTable() const
{
    return raceTableOf(raceMode());
}

Table& TGestione_gare::raceTableOf(laprules::RaceMode mode) const
{
    return mode == laprules::RaceMode::Finals ? *CDS_Finali : *CDS_Gara;
}

void TGestione_gare::beginRaceRecord()
{
    // A race stopped with "Interrompi" still has its journal: its laps are saved before the journal goes.
    const bool finals = raceRecord.mode == laprules::RaceMode::Finals;
    Table& previous = raceTableOf(raceRecord.mode);
    if (journal.isOpen() && previous.isOpen())
        previous.saveToFile(paths::programFile(layouts::raceFields(finals).file));
    endRaceRecord();
    racerecord::RaceRecord r;
    r.mode = raceMode();
    r.heat = racedHeat;
    r.round = qualificationsDone + 1;
    r.finalLetter = currentFinal;
    r.minLapTime = minLapTime;
    r.wallStart = timetext::timeOfDayNow();
    r.monoStart = timetext::monotonicNs();
    r.elapsedStart = elapsedRaceTime;
    r.channels = channels;
    const Table& table = raceTable();
    for (int ch = 1; ch <= 5; ++ch)
        r.cars[ch] = racerecord::carTimes(r, table, ch);
    raceRecord = r;
    raceRecorded = true;
    try {
        journal.begin(PassageJournal::defaultPath(), raceRecord);
    } catch (const AppError& e) {
        // The race runs all the same; only a crash would lose its laps.
        qCWarning(lcRace) << "no passage journal for this race:" << e.message();
        return;
    }
    // Every channel digit goes into the journal as it arrives, before this window sees it.
    VaComm1->setArrivalSink([this](const StampedByte& b) {
        if (const int ch = laprules::channelOf(b.byte))
            journal.appendEvent({racerecord::EventKind::Passage, ch, b.stampNs});
    });
    qCInfo(lcRace) << "race started:" << raceRecord.description();
}

void TGestione_gare::recordTick(qint64 stampNs)
{
    if (!raceRecorded)
        return;
    const racerecord::Tick tick{stampNs, elapsedRaceTime};
    raceRecord.ticks.append(tick);
    raceRecord.timeUp = timeUp;
    journal.appendTick(tick, timeUp);
}

void TGestione_gare::endRaceRecord()
{
    // The sink goes first: once it is gone, the reader thread writes no more to the journal.
    VaComm1->setArrivalSink({});
    if (journal.isOpen()) {
        journal.remove();
        qCInfo(lcRace) << "race ended:" << raceRecord.description() << raceRecord.passageCount() << "passages";
    }
}

void TGestione_gare::FormShow()
{
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // Only a journal left by an earlier run: one this run began belongs to its own race.
    if (!raceRecorded && !journal.isOpen())
        restoreFromJournal();
}

namespace {

// Keeps a journal that was not used, beside the tables, under a name no race writes.
void setAside(const QString& path)
{
    const QString aside = path + QLatin1Char('.') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(path, aside))
        qCWarning(lcRace) << "cannot set the journal aside as" << aside;
}

} // namespace

void TGestione_gare::restoreFromJournal()
{
    const QString path = PassageJournal::defaultPath();
    if (!QFile::exists(path))
        return;
    const std::optional<racerecord::RaceRecord> record = PassageJournal::read(path);
    if (!record) {
        qCWarning(lcRace) << "a passage journal without a race, set aside:" << path;
        setAside(path);
        return;
    }
    if (record->passageCount() == 0) {
        QFile::remove(path); // a race that had no passage yet: nothing to rebuild
        return;
    }
    const QString question = QStringLiteral("La gara %1 non è terminata: il giornale dei passaggi ne contiene %2. "
                                            "Ripristino la gara dai passaggi?")
                                 .arg(record->description())
                                 .arg(record->passageCount());
    if (!dialogs::confirm(question)) {
        setAside(path);
        return;
    }
    // The table as saved when the race started, with the race's rows rebuilt from its passages.
    const QString tablePath =
        paths::programFile(layouts::raceFields(record->mode == laprules::RaceMode::Finals).file);
    Table table;
    table.setFileName(tablePath);
    try {
        table.open();
        racerecord::writeCars(*record, racerecord::replay(*record), table);
        table.saveToFile(tablePath);
    } catch (const AppError&) {
        setAside(path);
        throw;
    }
    table.close();
    QFile::remove(path);
    qCInfo(lcRace) << "race restored from its journal:" << record->description() << record->passageCount()
                   << "passages";
}
