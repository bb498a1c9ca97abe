// Lap-time calculations: each step writes a time value and the same time as text.
#include "race/gestione_gare.h"
#include "race/laprules.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/timetext.h"

namespace {

// The race table of a mode and the fields its time steps write.
struct TimeFields
{
    Table* table;
    const layouts::RaceFields& f;
};

TimeFields qualificationFields(TGestione_gare& g)
{
    return {g.CDS_Gara, layouts::raceFields(false)};
}

TimeFields finalsFields(TGestione_gare& g)
{
    return {g.CDS_Finali, layouts::raceFields(true)};
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

void write(Table& t, const QString& timeField, const QString& textField, const laprules::WrittenTime& time)
{
    if (time.placeholder)
        writeZero(t, timeField, textField);
    else
        writeLap(t, timeField, textField, time.value);
}

void lapTimeStep(TGestione_gare& g, const TimeFields& f)
{
    write(*f.table, f.f.lapTime, f.f.lapText, laprules::lapTime(g.channels[g.currentChannel]));
}

void bestLapStep(TGestione_gare& g, const TimeFields& f)
{
    Table& t = *f.table;
    const auto best = laprules::bestLap(g.passageMode, t.value(f.f.bestTime), t.value(f.f.lapTime).toDouble());
    if (best)
        write(t, f.f.bestTime, f.f.bestText, *best);
}

} // namespace

void TGestione_gare::CalcoloTempoSGiro()
{
    if (passageMode == laprules::RaceMode::Qualifications)
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
    if (passageMode == laprules::RaceMode::Qualifications)
        CalcoloTempoMiglQualifiche();
    else
        CalcoloTempoMiglFinali();
}

void TGestione_gare::CalcoloTempoMiglQualifiche()
{
    bestLapStep(*this, qualificationFields(*this));
}

void TGestione_gare::CalcoloTempoMiglFinali()
{
    bestLapStep(*this, finalsFields(*this));
}

void TGestione_gare::CalcoloTempoTot()
{
    const TimeFields f =
        passageMode == laprules::RaceMode::Qualifications ? qualificationFields(*this) : finalsFields(*this);
    // The race clock as it stood when the passage arrived, not when it was handled.
    const laprules::WrittenTime total = laprules::totalTime(raceRecord.elapsedAt(passageStamp, elapsedRaceTime));
    f.table->setValue(f.f.totalTime, total.value);
    f.table->setValue(f.f.totalText, timetext::totalText(total.value));
}
