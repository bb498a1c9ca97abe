#include "tests/robustness/bigtable.h"

#include "tables/datapacket.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/timetext.h"

void fillBigTable(Table& table, int rows, int variant)
{
    layouts::defineQualification(table);
    table.createTable();
    const QString name = variant == 0 ? QStringLiteral("Pilota %1") : QStringLiteral("Concorrente n. %1 «bis»");
    for (int i = 0; i < rows; ++i) {
        const int laps = (i * 7 + variant * 3) % 40;
        const double best = (15000.0 + (i * 37 + variant * 101) % 9000) / timetext::msPerDay;
        const double total = 300000.0 / timetext::msPerDay + best;
        table.appendRecord({i / 5 + 1, i % 5 + 1, name.arg(i + 1), laps, best, timetext::lapText(best), total,
                            timetext::totalText(total), best, timetext::lapText(best)});
    }
}

QByteArray bigTableBytes(int rows, int variant)
{
    Table table;
    fillBigTable(table, rows, variant);
    QList<QVariantList> values;
    for (int r = 0; r < table.recordCount(); ++r) {
        QVariantList row;
        for (int f = 0; f < table.fieldCount(); ++f)
            row.append(table.valueAt(r, f));
        values.append(row);
    }
    return writeDatapacket(table.fields(), values);
}
