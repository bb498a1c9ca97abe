#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class Table;

// JSON documents of the live results pages, built from the competition tables. They read rows by
// index and never move a table's cursor, so a grid bound to the table does not follow them.
namespace web {

// The race being run, from the race table (the qualification or the finals table, told apart by
// their fields) in the order the race window shows it:
// {"race": text, "remaining": text, "cars": [{"position", "channel", "name", "laps", "last",
// "best", "total", "heat" | "final", "finalPosition"?}]}.
// An empty race title is made from the rows: "Batteria 3", "Finale A", or "Qualifiche"/"Finali"
// when the rows belong to several. A null or closed table gives no cars.
QJsonObject raceJson(const Table* raceTable, const QString& race, const QString& remaining);

// The qualification ranking over every heat, whatever filter the table has: best lap fastest
// first, competitors without a timed lap after the others in table order.
// {"cars": [{"position", "heat", "channel", "name", "laps", "last", "best", "total", "timed"}]}.
QJsonObject qualificationJson(const Table* qualification);

// Every final, "A" first, each car by position ("posiz."; unplaced cars after the placed ones,
// most laps first): {"finals": [{"final": "A", "cars": [{"position" (null when unplaced),
// "channel", "name", "laps", "last", "best", "total"}]}]}.
QJsonObject finalsJson(const Table* finals);

// What the server hands out: three compact JSON documents, built on the thread that owns the tables
// and shared read-only afterwards.
struct LiveSnapshot
{
    QByteArray race;
    QByteArray qualifiche;
    QByteArray finali;
};

QByteArray compactJson(const QJsonObject& object);

// The snapshot the race window hands over: the race table of the race in progress (qualification
// or finals table; null when none), its title (empty: made from the rows) and the remaining-time
// text; the qualification and finals tables for the two result pages (null when closed).
LiveSnapshot snapshotFromTables(const Table* raceTable, const QString& race, const QString& remaining,
                                const Table* qualification, const Table* finals);

} // namespace web
