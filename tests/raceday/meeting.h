#pragma once

#include "tools/sim/passages.h"

#include <QList>
#include <QString>
#include <QStringList>

class QLineEdit;
class Simulator;

// Steps of a race meeting as a user takes them in the windows, for the end-to-end tests.
namespace meeting {

constexpr int clockTickMs = 100; // the race clock's tick, instead of 1000 ms
constexpr int lightTickMs = 30;  // the start lights' tick

// Waits for the start-up dialogue check to end and speeds up the clocks.
void prepareRaceWindow();
// Types a new value into an edit, as a user replacing its text.
void setField(QLineEdit* edit, const QString& text);
// Types the competitors into the competitor list ("name|frequency|group" each) and closes it.
void enterCompetitors(const QStringList& competitors);
// Minimum lap entry, heat settings, "Crea Batterie" and "Esci" of the generated heats, and
// "Crea Nuove Qualifiche" answered Yes.
void createQualifications(const QString& minLap, int heatSize, int rounds, int minutes);
// Sets the device's passages, presses Start and "Pronti ... Via" and lets the start lights run.
void startRace(Simulator& device, const QList<Passage>& passages);
// startRace(), then waits until the race is complete (the device received "X") and closes the
// STOP and one-minute windows as the user does.
void runRace(Simulator& device, const QList<Passage>& passages);

} // namespace meeting
