// Lap-time calculations: each step writes a time value and the same time as text.
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/timetext.h"

namespace {

struct TimeFields
{
    Table* table;
    QString lapTime;
    QString lapText;
    QString bestTime;
    QString bestText;
    QString totalTime;
    QString totalText;
};

TimeFields qualificationFields(TGestione_gare& g)
{
    using namespace layouts;
    return {g.CDS_Gara, tempoSGiroTtime, tempoSGiro, tempoMiglTtime, tempoMigl, tempoTotTtime, tempoTot};
}

TimeFields finalsFields(TGestione_gare& g)
{
    using namespace layouts;
    return {g.CDS_Finali, tempoSGiroTime, tempoSGiroText, tempoMiglTime, tempoMiglText, tempoTotTime, tempoTotText};
}

// Writes a time and, read back as stored (to the millisecond), its lap text.
void writeLap(Table& t, const QString& timeField, const QString& textField, double value)
{
    t.setValue(timeField, value);
    t.setValue(textField, timetext::lapText(t.value(timeField).toDouble()));
}

void writeZero(Table& t, const QString& timeField, const QString& textField)
{
    t.setValue(timeField, 0.0);
    t.setValue(textField, timetext::zeroText);
}

void lapTimeStep(TGestione_gare& g, const TimeFields& f)
{
    const int ch = g.currentChannel;
    if (g.awaitingFirstPassage[ch]) {
        writeZero(*f.table, f.lapTime, f.lapText);
        g.awaitingFirstPassage[ch] = false;
        return;
    }
    writeLap(*f.table, f.lapTime, f.lapText, g.lastPassageTime[ch] - g.lapStartTime[ch]);
}

} // namespace

void TGestione_gare::CalcoloTempoSGiro()
{
    if (Form_Qualifica->qualificationsActive)
        CalcoloTempoSGiroQualifiche();
    else
        CalcoloTempoSGiroFinali();
}

void TGestione_gare::CalcoloTempoSGiroQualifiche()
{
    lapTimeStep(*this, qualificationFields(*this));
}

void TGestione_gare::CalcoloTempoSGiroFinali()
{
    lapTimeStep(*this, finalsFields(*this));
}

void TGestione_gare::CalcoloTempoMigl()
{
    if (Form_Qualifica->qualificationsActive)
        CalcoloTempoMiglQualifiche();
    else
        CalcoloTempoMiglFinali();
}

void TGestione_gare::CalcoloTempoMiglQualifiche()
{
    const TimeFields f = qualificationFields(*this);
    Table& t = *f.table;
    const QVariant best = t.value(f.bestTime);
    const double lap = t.value(f.lapTime).toDouble();
    if (best.isNull()) {
        writeZero(t, f.bestTime, f.bestText);
    } else if (best.toDouble() == 0) {
        writeLap(t, f.bestTime, f.bestText, lap);
    } else if (lap == 0) {
        // A later round's first passage leaves the best lap alone.
    } else if (best.toDouble() > lap) {
        writeLap(t, f.bestTime, f.bestText, lap);
    }
}

void TGestione_gare::CalcoloTempoMiglFinali()
{
    const TimeFields f = finalsFields(*this);
    Table& t = *f.table;
    const double lap = t.value(f.lapTime).toDouble();
    if (t.value(f.bestTime).isNull())
        writeZero(t, f.bestTime, f.bestText);
    const double best = t.value(f.bestTime).toDouble();
    if (best == 0)
        writeLap(t, f.bestTime, f.bestText, lap);
    else if (best > lap)
        writeLap(t, f.bestTime, f.bestText, lap);
}

void TGestione_gare::CalcoloTempoTot()
{
    const TimeFields f = Form_Qualifica->qualificationsActive ? qualificationFields(*this) : finalsFields(*this);
    f.table->setValue(f.totalTime, elapsedRaceTime);
    f.table->setValue(f.totalText, timetext::totalText(elapsedRaceTime));
}
