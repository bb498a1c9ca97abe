// Passage processing: a channel digit from the device becomes a lap in the race table.
#include "device/datiseriale.h"
#include "device/semaforo.h"
#include "device/wavplayer.h"
#include "device/serialport.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"

#include <QLineEdit>

namespace {

// The channel named by a reception: exactly one digit "1".."5", otherwise 0.
int channelOf(const QString& text)
{
    if (text.size() == 1 && text[0] >= QLatin1Char('1') && text[0] <= QLatin1Char('5'))
        return text[0].digitValue();
    return 0;
}

// An integer field as the row shows it: a null reads as 0.
int intValue(const Table& table, const QString& field)
{
    return table.value(field).toInt();
}

} // namespace

bool TGestione_gare::qualificationsRunning() const
{
    return Form_Qualifica->qualificationsActive;
}

bool TGestione_gare::finalsRunning() const
{
    return !Form_Qualifica->qualificationsActive && Form_Finali->finalsActive;
}

void TGestione_gare::GestioneQualifiche()
{
    lapCount = 0;
    currentHeat = convert::strToInt(Form_Qualifica->Lbe_Nr_Bat_Qual->text());
    receivedText = VaComm1->ReadPending();
    Form_Dati_Seriale->appendReceived(receivedText);
    currentChannel = channelOf(receivedText);
    for (int ch = 1; ch <= 5; ++ch) {
        if (!channelFinished[ch] && currentChannel == ch)
            Aggiorno_CDS_Gara();
    }
    if (timeUp)
        GestioneUltimoPassaggio();
}

void TGestione_gare::GestioneFinali()
{
    lapCount = 0;
    receivedText = VaComm1->ReadPending();
    currentChannel = channelOf(receivedText);
    for (int ch = 1; ch <= 5; ++ch) {
        if (!channelFinished[ch] && currentChannel == ch)
            Aggiorno_CDS_Gara_Finali();
    }
    if (timeUp)
        GestioneUltimoPassaggio();
}

void TGestione_gare::CalcoloInizioGiro()
{
    const int ch = currentChannel;
    if (!awaitingFirstPassage[ch])
        lapStartTime[ch] = lastPassageTime[ch];
    lastPassageTime[ch] = timetext::timeOfDayNow();
}

namespace {

// One row update of either race table; a row that is not counted stays in edit with its lap time
// and is posted when the walk moves on.
template <typename IsCarsRow>
void updateCarsRow(TGestione_gare& g, Table& table, const QString& lapsField, IsCarsRow isCarsRow)
{
    const int ch = g.currentChannel;
    table.first();
    while (!table.eof()) {
        if (isCarsRow(table)) {
            table.edit();
            g.lapCount = intValue(table, lapsField);
            g.CalcoloInizioGiro();
            g.CalcoloTempoSGiro();
            const bool counts =
                g.lastPassageTime[ch] - g.lapStartTime[ch] > g.minLapTime || g.lapStartTime[ch] == 0;
            if (counts) {
                g.lapCount += 1;
                g.CalcoloTempoMigl();
                g.CalcoloTempoTot();
                table.setValue(lapsField, g.lapCount);
                table.post();
            }
        }
        table.next();
    }
}

} // namespace

void TGestione_gare::Aggiorno_CDS_Gara()
{
    updateCarsRow(*this, *CDS_Gara, layouts::giri, [this](const Table& t) {
        return intValue(t, layouts::num) == currentChannel && intValue(t, layouts::batteria) == currentHeat;
    });
}

void TGestione_gare::Aggiorno_CDS_Gara_Finali()
{
    updateCarsRow(*this, *CDS_Finali, layouts::nGiri,
                  [this](const Table& t) { return intValue(t, layouts::nr) == currentChannel; });
}

void TGestione_gare::GestioneUltimoPassaggio()
{
    if (currentChannel >= 1 && currentChannel <= 5)
        channelFinished[currentChannel] = true;
    bool allFinished = true;
    for (int ch = 1; ch <= 5; ++ch)
        allFinished = allFinished && channelFinished[ch];
    if (!allFinished)
        return;

    VaComm1->SendText(QStringLiteral("X"));
    VaComm1->ClosePort();
    // The sound never raises: whatever happens to it, the race table is saved below.
    Form_Semaforo->MediaPlayer1->playAndWait(paths::installFile(QStringLiteral("stop.wav")));
    Imposta_Nr_Batteria();
    if (Form_Qualifica->qualificationsActive)
        CDS_Gara->saveToFile(paths::programFile(layouts::qualificationFile));
    if (Form_Finali->finalsActive)
        CDS_Finali->saveToFile(paths::programFile(layouts::finalsFile));
}

void TGestione_gare::Imposta_Nr_Batteria()
{
    if (remainingTime <= 0 && heatsRunInRound == heatCount) {
        Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("0"));
        heatsRunInRound = 0;
    }
}
