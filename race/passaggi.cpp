// Passage processing: a channel digit from the device becomes a lap in the race table.
#include "device/datiseriale.h"
#include "device/semaforo.h"
#include "device/wavplayer.h"
#include "device/serialport.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "speech/announcer.h"
#include "speech/callouts.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/dialogs.h"

#include <QLineEdit>

namespace {

// An integer field as the row shows it: a null reads as 0.
int intValue(const Table& table, const QString& field)
{
    return table.value(field).toInt();
}

} // namespace

laprules::RaceMode TGestione_gare::raceMode() const
{
    return laprules::raceMode(Form_Qualifica->qualificationsActive, Form_Finali->finalsActive);
}

bool TGestione_gare::raceRunning() const
{
    return raceMode() != laprules::RaceMode::Idle && VaComm1->isOpen() && !dialogueCheckActive;
}

bool TGestione_gare::refusedDuringRace() const
{
    if (!raceRunning())
        return false;
    dialogs::message(QStringLiteral("Operazione non consentita durante la gara in corso"));
    return true;
}

namespace {

QString textOf(const QList<StampedByte>& received)
{
    QByteArray bytes;
    bytes.reserve(received.size());
    for (const StampedByte& b : received)
        bytes.append(b.byte);
    return QString::fromLatin1(bytes);
}

} // namespace

void TGestione_gare::GestioneQualifiche()
{
    passageMode = laprules::RaceMode::Qualifications;
    lapCount = 0;
    // The heat set at Start: the chooser's field may be emptied or changed while the race runs.
    currentHeat = racedHeat;
    const QList<StampedByte> received = VaComm1->ReadPendingStamped();
    receivedText = textOf(received);
    Form_Dati_Seriale->appendReceived(receivedText);
    handlePassages(received);
}

void TGestione_gare::GestioneFinali()
{
    passageMode = laprules::RaceMode::Finals;
    lapCount = 0;
    const QList<StampedByte> received = VaComm1->ReadPendingStamped();
    receivedText = textOf(received);
    handlePassages(received);
}

void TGestione_gare::handlePassages(const QList<StampedByte>& received)
{
    currentChannel = 0;
    for (const StampedByte& b : received) {
        // Bytes that name no channel are noise and change nothing.
        const int channel = laprules::channelOf(b.byte);
        if (channel == 0)
            continue;
        handlePassage(channel, b.stampNs, racerecord::EventKind::Passage);
        // With every car in the port is closed: what was read with the last passage belongs to no race.
        if (!VaComm1->isOpen())
            break;
    }
    if (currentChannel != 0)
        emit raceChanged();
}

void TGestione_gare::handlePassage(int channel, qint64 stampNs, racerecord::EventKind kind)
{
    currentChannel = channel;
    passageStamp = stampNs;
    if (raceRecorded)
        raceRecord.events.append({kind, channel, stampNs});
    // A passage added by the race director counts even for a car that has finished.
    if (!channels[channel].channelFinished || kind == racerecord::EventKind::Added) {
        if (passageMode == laprules::RaceMode::Finals)
            Aggiorno_CDS_Gara_Finali();
        else
            Aggiorno_CDS_Gara();
    }
    // After the time is up, by the tick that found it, each car's passage is its last.
    if (raceRecord.timeUpAt(passageStamp, timeUp))
        GestioneUltimoPassaggio();
}

void TGestione_gare::CalcoloInizioGiro()
{
    // The passage's time of day: the race's one wall-clock reading plus the monotonic time since, so that a
    // change of the system clock changes no lap time.
    const double now = raceRecorded ? raceRecord.timeOfDay(passageStamp) : timetext::timeOfDayNow();
    laprules::startLap(channels[currentChannel], now);
}

namespace {

// One row update of either race table; a row that is not counted stays in edit with its lap time
// and is posted when the walk moves on.
template <typename IsCarsRow>
void updateCarsRow(TGestione_gare& g, Table& table, const layouts::RaceFields& f, IsCarsRow isCarsRow)
{
    const laprules::ChannelState& channel = g.channels[g.currentChannel];
    table.first();
    while (!table.eof()) {
        if (isCarsRow(table)) {
            table.edit();
            g.lapCount = intValue(table, f.laps);
            g.CalcoloInizioGiro();
            g.CalcoloTempoSGiro();
            if (laprules::countsAsLap(channel, g.minLapTime)) {
                g.lapCount += 1;
                g.CalcoloTempoMigl();
                g.CalcoloTempoTot();
                table.setValue(f.laps, g.lapCount);
                const QString name = table.value(f.name).toString();
                const double lap = table.value(f.lapTime).toDouble();
                table.post();
                g.announceLap(name, lap);
            }
        }
        table.next();
    }
}

} // namespace

void TGestione_gare::Aggiorno_CDS_Gara()
{
    updateCarsRow(*this, *CDS_Gara, layouts::raceFields(false), [this](const Table& t) {
        return intValue(t, layouts::num) == currentChannel && intValue(t, layouts::batteria) == currentHeat;
    });
}

void TGestione_gare::Aggiorno_CDS_Gara_Finali()
{
    updateCarsRow(*this, *CDS_Finali, layouts::raceFields(true),
                  [this](const Table& t) { return intValue(t, layouts::nr) == currentChannel; });
}

void TGestione_gare::GestioneUltimoPassaggio()
{
    if (currentChannel >= 1 && currentChannel <= 5)
        channels[currentChannel].channelFinished = true;
    bool allFinished = true;
    for (int ch = 1; ch <= 5; ++ch)
        allFinished = allFinished && channels[ch].channelFinished;
    if (!allFinished)
        return;

    VaComm1->SendText(QStringLiteral("X"));
    VaComm1->ClosePort();
    announcer->announce(callouts::endOfRace);
    // The sound never raises: whatever happens to it, the race table is saved below.
    Form_Semaforo->MediaPlayer1->playAndWait(paths::installFile(QStringLiteral("stop.wav")));
    Imposta_Nr_Batteria();
    if (Form_Qualifica->qualificationsActive)
        CDS_Gara->saveToFile(paths::programFile(layouts::qualificationFile));
    if (Form_Finali->finalsActive)
        CDS_Finali->saveToFile(paths::programFile(layouts::finalsFile));
    // Saved: the journal has done its work.
    endRaceRecord();
    emit raceChanged();
}

void TGestione_gare::Imposta_Nr_Batteria()
{
    if (remainingTime <= 0 && heatsRunInRound == heatCount) {
        Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("0"));
        heatsRunInRound = 0;
    }
}
