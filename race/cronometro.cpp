// The race clock: Start, the clock tick with the end of the race time, Interrompi and "Fine manche".
#include "competitors/batterie.h"
#include "competitors/lista_batterie.h"
#include "device/serialport.h"
#include "device/via.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "speech/announcer.h"
#include "speech/callouts.h"
#include "race/standings.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void TGestione_gare::showRemainingTime()
{
    Ed_Durata_Gara->setText(timetext::clockText(remainingTime));
}

void TGestione_gare::Bitb_StartClick()
{
    // The race values are reset and the channels armed even when a check below refuses the start.
    elapsedRaceTime = 0;
    oneMinuteWarned = false;
    timeUp = false;
    currentHeat = 0;
    receivedText.clear();
    for (int ch = 1; ch <= 5; ++ch)
        channels[ch].awaitingFirstPassage = true;
    // The race just raced is done with: its record no longer takes corrections.
    raceRecorded = false;
    minLapTime = convert::wholeNumberDuration(Form_tempo_min->Ed_tempo_min->text(), timetext::minLapScale);
    if (Form_Qualifica->qualificationsActive)
        Frm_lista_batterie->ImpostoVarMacch();
    if (Form_Finali->finalsActive)
        ImpostoVarMacch_Finali();
    Btn_Fine_Manche->show();
    // Whether the race may run.
    if (Form_Qualifica->qualificationsActive && Mem_qual_da_fare->text().isEmpty()) {
        dialogs::message(QStringLiteral("manca nr qualifiche da fare - lanciare gestione batterie"));
        return;
    }
    if (Form_Qualifica->qualificationsActive && convert::strToInt(Mem_qual_da_fare->text()) == qualificationsDone) {
        dialogs::message(QStringLiteral("nr. di qualifiche già effettuate tutte"));
        return;
    }
    if (Form_Finali->finalsActive && convert::strToInt(Ed_Finali_Fatte->text()) <= 0) {
        dialogs::message(QStringLiteral("nr. di finali già effettuate tutte"));
        return;
    }
    remainingTime = raceDuration;
    showRemainingTime();
    // Filters the race table to the heat or final.
    if (Form_Qualifica->qualificationsActive)
        Preparo_Gestione_Qualifiche();
    else if (Form_Finali->finalsActive)
        Preparo_Gestione_Finali();
    // The preparation of a heat refuses with its own message when no heats were handed over.
    if (heatsTextLength <= 3 && roundsTextLength <= 3) {
        if (Form_Qualifica->qualificationsActive)
            racedHeat = convert::strToInt(Form_Qualifica->Lbe_Nr_Bat_Qual->text());
        Bitb_Stop->setEnabled(true);
        Form_Via->showForm();
    }
    emit raceChanged();
}

void TGestione_gare::Timer1Timer()
{
    // When the tick ran, so that a passage counts the ticks before its own arrival.
    const qint64 stamp = timetext::monotonicNs();
    if (Form_Qualifica->qualificationsActive)
        FineQualifiche();
    else if (Form_Finali->finalsActive)
        FineFinali();
    recordTick(stamp);
    emit raceChanged();
}

void TGestione_gare::FineQualifiche()
{
    heatCount = 0;
    if (remainingTime <= 0) {
        heatsRunInRound += 1;
        heatCount = convert::strToInt(Ed_Nr_Batterie->text());
        FormStop->showForm();
        Stampaqualifiche1->setEnabled(true);
        VisualizzarisultatiQualifiche1->setEnabled(true);
    }
    if (remainingTime <= 0 && heatsRunInRound == heatCount) {
        qualificationsDone += 1;
        Mem_Qualif_fatte->setText(QString::number(qualificationsDone));
        EstraiFinalisti1->setEnabled(true);
    }
    GestioneTempo();
}

void TGestione_gare::FineFinali()
{
    if (remainingTime <= 0) {
        OrdinaStessiGirixTempo();
        CDS_Finali->setIndexFieldNames(layouts::posiz);
        Ed_Finali_Fatte->setText(QString::number(convert::strToInt(Ed_Finali_Fatte->text()) - 1));
        FormStop->showForm();
        Visualizzarisultatifinali1->setEnabled(true);
        Stampareportfinali1->setEnabled(true);
    }
    GestioneTempo();
}

void TGestione_gare::GestioneTempo()
{
    if (remainingTime <= 0) {
        // From now on each car's next passage is its last.
        Timer1->stop();
        timeUp = true;
    }
    remainingTime -= timetext::clockStep;
    showRemainingTime();
    elapsedRaceTime += timetext::clockStep;
    if (remainingTime < 0) {
        remainingTime = 0;
        showRemainingTime();
    }
    if (remainingTime < timetext::oneMinute && !oneMinuteWarned) {
        oneMinuteWarned = true;
        Form_1min->showForm();
        announcer->announce(callouts::lastMinute);
    }
}

void TGestione_gare::Bitb_StopClick()
{
    Timer1->stop();
    remainingTime = 0;
    showRemainingTime();
    Frm_lista_batterie->ImpostoVarMacch();
    Btn_Fine_Manche->hide();
    VaComm1->SendText(QStringLiteral("X"));
    VaComm1->ClosePort();
    Bitb_Start->setEnabled(true);
    // The journal stays until the laps are saved: at the next race's start or when the program closes.
    VaComm1->setArrivalSink({});
    emit raceChanged();
}

void TGestione_gare::ForzoVarFinito()
{
    const int n = convert::strToInt(Form_batterie->Lbe_nr_conc_batt->text());
    if (n >= 1 && n <= 5) {
        for (int ch = 1; ch <= n; ++ch)
            channels[ch].channelFinished = true;
    }
}

void TGestione_gare::ForzoVarFinito_Finali()
{
    const int n = convert::strToInt(Form_Finali->Lbe_Nr_Conc_Finale->text());
    if (n >= 1 && n <= 5) {
        for (int ch = 1; ch <= n; ++ch)
            channels[ch].channelFinished = true;
    }
}

void TGestione_gare::Btn_Fine_MancheClick()
{
    if (Form_Qualifica->qualificationsActive)
        ForzoVarFinito();
    if (Form_Finali->finalsActive)
        ForzoVarFinito_Finali();
    timeUp = true;
    GestioneUltimoPassaggio();
    Timer1->stop();
    remainingTime = 0;
    showRemainingTime();
    Bitb_Start->setEnabled(true);
    VisualizzarisultatiQualifiche1->setEnabled(true);
    Stampaqualifiche1->setEnabled(true);
    if (heatsRunInRound == heatCount)
        EstraiFinalisti1->setEnabled(true);
}

void TGestione_gare::OrdinaStessiGirixTempo()
{
    // The walk order is the final's laps-descending index under its filter; "posiz." is not a key,
    // so writing it moves no record.
    Table& t = *CDS_Finali;
    QList<int> laps;
    for (t.first(); !t.eof(); t.next())
        laps.append(t.value(layouts::nGiri).toInt());
    const QList<int> positions = Standings::positions(laps);
    int i = 0;
    for (t.first(); !t.eof() && i < positions.size(); t.next(), ++i) {
        t.edit();
        t.setValue(layouts::posiz, positions[i]);
        t.post();
    }
}
