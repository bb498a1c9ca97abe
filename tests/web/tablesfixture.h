#pragma once

#include "tables/layouts.h"
#include "tables/table.h"

#include <QVariant>

// Small in-memory competition tables for the live results tests.
namespace fixture {

inline double seconds(double s)
{
    return s / 86400.0;
}

// One qualification row: heat, channel, name, laps, best lap in seconds (< 0: null), texts made up.
struct QualRow
{
    int heat;
    int channel;
    QString name;
    int laps;
    double best;
};

inline void fillQualification(Table& t, const QList<QualRow>& rows)
{
    layouts::defineQualification(t);
    t.createTable();
    for (const QualRow& r : rows) {
        const QVariant best = r.best < 0 ? QVariant() : QVariant(seconds(r.best));
        const QVariant bestText = r.best < 0 ? QVariant() : QVariant(QStringLiteral("0.%1.0").arg(int(r.best)));
        t.appendRecord({r.heat, r.channel, r.name, r.laps, best, bestText, seconds(r.laps * 20.0),
                        QStringLiteral("%1.0").arg(r.laps / 3), best, bestText});
    }
}

// One finals row: final, channel, name, laps, position (0: null).
struct FinalRow
{
    QString final;
    int channel;
    QString name;
    int laps;
    int position;
};

inline void fillFinals(Table& t, const QList<FinalRow>& rows)
{
    layouts::defineFinals(t);
    t.createTable();
    for (const FinalRow& r : rows)
        t.appendRecord({r.channel, r.final, r.name, r.laps, seconds(21), QStringLiteral("0.21.0"),
                        seconds(r.laps * 21.0), QStringLiteral("%1.0").arg(r.laps / 3), seconds(20),
                        QStringLiteral("0.20.0"), r.position > 0 ? QVariant(r.position) : QVariant()});
}

} // namespace fixture
