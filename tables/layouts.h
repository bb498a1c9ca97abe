#pragma once

#include <QList>
#include <QString>

class Table;

// The four competition tables: files, fields in table order, and the finals index.
namespace layouts {

inline const QString competitorListFile = QStringLiteral("lista_conc.xml");
inline const QString heatsFile = QStringLiteral("Batterie.xml");
inline const QString qualificationFile = QStringLiteral("sit_conc.xml");
inline const QString finalsFile = QStringLiteral("Finali.xml");

// Competitor list
inline const QString concorrente = QStringLiteral("concorrente");
inline const QString frequenza = QStringLiteral("frequenza");
inline const QString gruppo = QStringLiteral("gruppo");
// Heats table (also concorrente, frequenza, gruppo)
inline const QString nBatteria = QStringLiteral("n. batteria");
// Qualification table
inline const QString batteria = QStringLiteral("batteria");
inline const QString num = QStringLiteral("num");
inline const QString nomeConc = QStringLiteral("nome conc.");
inline const QString giri = QStringLiteral("giri");
inline const QString tempoSGiroTtime = QStringLiteral("tempo s.giro ttime");
inline const QString tempoSGiro = QStringLiteral("tempo s.giro");
inline const QString tempoTotTtime = QStringLiteral("tempo tot. ttime");
inline const QString tempoTot = QStringLiteral("tempo tot.");
inline const QString tempoMiglTtime = QStringLiteral("tempo migl. ttime");
inline const QString tempoMigl = QStringLiteral("tempo migl.");
// Finals table
inline const QString nr = QStringLiteral("nr.");
inline const QString finale = QStringLiteral("finale");
inline const QString nomeCon = QStringLiteral("nome con.");
inline const QString nGiri = QStringLiteral("n.giri");
inline const QString tempoSGiroTime = QStringLiteral("tempo s.giro time");
inline const QString tempoSGiroText = QStringLiteral("tempo s-giro");
inline const QString tempoTotTime = QStringLiteral("tempo tot. time");
inline const QString tempoTotText = QStringLiteral("tempo-tot.");
inline const QString tempoMiglTime = QStringLiteral("tempo migl. time");
inline const QString tempoMiglText = QStringLiteral("tempo-migl.");
inline const QString posiz = QStringLiteral("posiz.");

inline const QString finalsIndexName = QStringLiteral("InidiceDiscIdx");

// The fields a race writes, and the file it is saved to, in the qualification table or the finals table.
struct RaceFields
{
    QString file;
    QString key;  // the car's channel within its heat or final: "num", "nr."
    QString race; // its heat or final: "batteria", "finale"
    QString name;
    QString laps;
    QString lapTime, lapText, bestTime, bestText, totalTime, totalText;
};
const RaceFields& raceFields(bool finals);

// The time texts of both race tables hold at most this many characters.
constexpr int timeTextSize = 8;

// Each empties the field list and adds the table's fields in order (the finals also its index
// definition); the caller creates or opens the table afterwards.
void defineCompetitorList(Table& table);
void defineHeats(Table& table);
void defineQualification(Table& table);
void defineFinals(Table& table);

// Index definitions are not stored in the file: the finals index is defined again after opening.
void openFinals(Table& table, const QString& path);

// The qualification ranking: best lap ascending. Competitors without a timed best lap (an empty
// value, or the 0 that a first passage stores) come after every timed competitor.
void orderByRanking(Table& qualification);

// Grid columns of the day-fraction time fields (and the position), hidden in the race window.
QList<int> qualificationHiddenColumns();
QList<int> finalsHiddenColumns();

} // namespace layouts
