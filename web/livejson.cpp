#include "web/livejson.h"

#include "tables/layouts.h"
#include "tables/table.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>

namespace web {

namespace {

// Field positions of one race table layout, looked up once per document.
struct Columns
{
    bool finals = false;
    int group = -1; // "batteria" or "finale"
    int channel = -1;
    int name = -1;
    int laps = -1;
    int last = -1;
    int best = -1;
    int total = -1;
    int bestTime = -1;
    int position = -1; // finals only

    explicit Columns(const Table& t)
    {
        finals = t.fieldIndex(layouts::nr) >= 0 && t.fieldIndex(layouts::finale) >= 0;
        if (finals) {
            group = t.fieldIndex(layouts::finale);
            channel = t.fieldIndex(layouts::nr);
            name = t.fieldIndex(layouts::nomeCon);
            laps = t.fieldIndex(layouts::nGiri);
            last = t.fieldIndex(layouts::tempoSGiroText);
            best = t.fieldIndex(layouts::tempoMiglText);
            total = t.fieldIndex(layouts::tempoTotText);
            bestTime = t.fieldIndex(layouts::tempoMiglTime);
            position = t.fieldIndex(layouts::posiz);
        } else {
            group = t.fieldIndex(layouts::batteria);
            channel = t.fieldIndex(layouts::num);
            name = t.fieldIndex(layouts::nomeConc);
            laps = t.fieldIndex(layouts::giri);
            last = t.fieldIndex(layouts::tempoSGiro);
            best = t.fieldIndex(layouts::tempoMigl);
            total = t.fieldIndex(layouts::tempoTot);
            bestTime = t.fieldIndex(layouts::tempoMiglTtime);
        }
    }
};

// One row's values, copied out of the table.
struct Row
{
    QVariantList values;

    QVariant at(int field) const { return field >= 0 && field < values.size() ? values[field] : QVariant(); }
    QString text(int field) const { return at(field).toString(); }
    int number(int field) const { return at(field).toInt(); }
};

bool usable(const Table* table)
{
    return table && table->isOpen();
}

// Every row of `count`, each field read through `value(row, field)`.
template <typename Value>
std::vector<Row> rowsOf(const Table& table, int count, Value value)
{
    std::vector<Row> rows;
    rows.reserve(count);
    for (int r = 0; r < count; ++r) {
        Row row;
        for (int f = 0; f < table.fieldCount(); ++f)
            row.values.append(value(r, f));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<Row> visibleRows(const Table& table)
{
    return rowsOf(table, table.recordCount(), [&table](int r, int f) { return table.valueAt(r, f); });
}

std::vector<Row> orderedRows(const Table& table)
{
    return rowsOf(table, table.orderedRowCount(), [&table](int r, int f) { return table.orderedValueAt(r, f); });
}

QJsonObject carJson(const Columns& c, const Row& row)
{
    QJsonObject car;
    car.insert(QStringLiteral("channel"), row.number(c.channel));
    car.insert(QStringLiteral("name"), row.text(c.name));
    car.insert(QStringLiteral("laps"), row.number(c.laps));
    car.insert(QStringLiteral("last"), row.text(c.last));
    car.insert(QStringLiteral("best"), row.text(c.best));
    car.insert(QStringLiteral("total"), row.text(c.total));
    return car;
}

// A best lap counts for the ranking once it is a real lap: the first passage stores 0.
bool timed(const Columns& c, const Row& row)
{
    const QVariant best = row.at(c.bestTime);
    return best.isValid() && best.toDouble() > 0;
}

} // namespace

QJsonObject raceJson(const Table* raceTable, const QString& race, const QString& remaining)
{
    QJsonArray cars;
    QString title = race;
    if (usable(raceTable)) {
        const Columns c(*raceTable);
        const std::vector<Row> rows = visibleRows(*raceTable);
        QString group;
        bool oneGroup = true;
        for (size_t i = 0; i < rows.size(); ++i) {
            QJsonObject car = carJson(c, rows[i]);
            // The place in the race window's grid, the number its position labels show.
            car.insert(QStringLiteral("position"), int(i) + 1);
            const QString g = rows[i].text(c.group);
            car.insert(c.finals ? QStringLiteral("final") : QStringLiteral("heat"),
                       c.finals ? QJsonValue(g) : QJsonValue(rows[i].number(c.group)));
            if (i == 0)
                group = g;
            else if (g != group)
                oneGroup = false;
            cars.append(car);
        }
        if (title.isEmpty() && !rows.empty()) {
            if (oneGroup)
                title = (c.finals ? QStringLiteral("Finale ") : QStringLiteral("Batteria ")) + group;
            else
                title = c.finals ? QStringLiteral("Finali") : QStringLiteral("Qualifiche");
        }
    }
    QJsonObject result;
    result.insert(QStringLiteral("race"), title);
    result.insert(QStringLiteral("remaining"), remaining);
    result.insert(QStringLiteral("cars"), cars);
    return result;
}

QJsonObject qualificationJson(const Table* qualification)
{
    QJsonArray cars;
    if (usable(qualification)) {
        const Columns c(*qualification);
        std::vector<Row> rows = orderedRows(*qualification);
        std::stable_sort(rows.begin(), rows.end(), [&c](const Row& a, const Row& b) {
            const bool ta = timed(c, a);
            const bool tb = timed(c, b);
            if (ta != tb)
                return ta;
            return ta && a.at(c.bestTime).toDouble() < b.at(c.bestTime).toDouble();
        });
        for (size_t i = 0; i < rows.size(); ++i) {
            QJsonObject car = carJson(c, rows[i]);
            car.insert(QStringLiteral("position"), int(i) + 1);
            car.insert(QStringLiteral("heat"), rows[i].number(c.group));
            car.insert(QStringLiteral("timed"), timed(c, rows[i]));
            cars.append(car);
        }
    }
    QJsonObject result;
    result.insert(QStringLiteral("cars"), cars);
    return result;
}

QJsonObject finalsJson(const Table* finals)
{
    QJsonArray list;
    if (usable(finals)) {
        const Columns c(*finals);
        std::map<QString, std::vector<Row>> byFinal; // ordered by letter: "A" first
        for (Row& row : orderedRows(*finals))
            byFinal[row.text(c.group)].push_back(std::move(row));
        for (auto& [letter, rows] : byFinal) {
            const auto placed = [&c](const Row& r) { return r.at(c.position).isValid() && r.number(c.position) > 0; };
            std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
                const bool pa = placed(a);
                const bool pb = placed(b);
                if (pa != pb)
                    return pa;
                if (pa)
                    return a.number(c.position) < b.number(c.position);
                return a.number(c.laps) > b.number(c.laps);
            });
            QJsonArray cars;
            for (const Row& row : rows) {
                QJsonObject car = carJson(c, row);
                car.insert(QStringLiteral("position"), placed(row) ? QJsonValue(row.number(c.position)) : QJsonValue());
                cars.append(car);
            }
            QJsonObject final;
            final.insert(QStringLiteral("final"), letter);
            final.insert(QStringLiteral("cars"), cars);
            list.append(final);
        }
    }
    QJsonObject result;
    result.insert(QStringLiteral("finals"), list);
    return result;
}

QByteArray compactJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

LiveSnapshot snapshotFromTables(const Table* raceTable, const QString& race, const QString& remaining,
                                const Table* qualification, const Table* finals)
{
    return LiveSnapshot{compactJson(raceJson(raceTable, race, remaining)),
                        compactJson(qualificationJson(qualification)), compactJson(finalsJson(finals))};
}

} // namespace web
