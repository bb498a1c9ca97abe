#include "competitors/heats.h"
#include "tables/error.h"

#include <QMap>
#include <QTest>

#include <cmath>

// Heat generation over a competitor list in frequency order.
class TestHeats : public QObject
{
    Q_OBJECT
private slots:
    void placement_data();
    void placement();
    void valuesCarriedOver();
    void nameMissingStopsAtThatCompetitor();
};

namespace {
// One competitor per frequency, named C1, C2, ... in list order; NaN stands for an empty frequency.
QList<Competitor> competitors(const QList<double>& frequencies)
{
    QList<Competitor> list;
    for (int i = 0; i < frequencies.size(); ++i) {
        const double f = frequencies[i];
        list.append({QStringLiteral("C%1").arg(i + 1), std::isnan(f) ? QVariant() : QVariant(f), QStringLiteral("g")});
    }
    return list;
}

// "heat:names" per heat in ascending heat order, e.g. "1:C1 C3|2:C2".
QString layout(const QList<HeatRow>& rows)
{
    QMap<int, QStringList> heats;
    for (const HeatRow& r : rows)
        heats[r.heat].append(r.name);
    QStringList parts;
    for (auto it = heats.cbegin(); it != heats.cend(); ++it)
        parts.append(QStringLiteral("%1:%2").arg(it.key()).arg(it.value().join(QLatin1Char(' '))));
    return parts.join(QLatin1Char('|'));
}
} // namespace

void TestHeats::placement_data()
{
    QTest::addColumn<QList<double>>("frequencies");
    QTest::addColumn<int>("heatSize");
    QTest::addColumn<QString>("expected");

    const double none = std::nan("");
    QTest::newRow("ten different, N = 4")
        << QList<double>{26.995, 27.005, 27.015, 27.025, 27.035, 27.045, 27.055, 27.065, 27.075, 27.085} << 4
        << "1:C1 C2 C3 C4|2:C5 C6 C7 C8|3:C9 C10";
    QTest::newRow("pairs of equal frequencies are split") << QList<double>{27.0, 27.0, 27.1, 27.1, 27.2, 27.3} << 4
                                                          << "1:C1 C3 C5 C6|2:C2 C4";
    QTest::newRow("N = 2, four equal then one") << QList<double>{27.0, 27.0, 27.0, 27.0, 27.1} << 2
                                                << "1:C1 C5|2:C2 C3 C4";
    QTest::newRow("eight different, N = 4: two heats") << QList<double>{1, 2, 3, 4, 5, 6, 7, 8} << 4
                                                       << "1:C1 C2 C3 C4|2:C5 C6 C7 C8";
    QTest::newRow("N = 2, heat 2 left empty") << QList<double>{27.0, 27.1, 27.1, 27.1} << 2 << "1:C1 C2|3:C3 C4";
    QTest::newRow("no frequencies: everyone in heat 2") << QList<double>{none, none, none} << 4 << "2:C1 C2 C3";
    QTest::newRow("zero frequency counts as empty") << QList<double>{0, 0, 27.1} << 4 << "1:C3|2:C1 C2";
    QTest::newRow("N larger than the list") << QList<double>{27.1, 27.2, 27.3} << 10 << "1:C1 C2 C3";
    QTest::newRow("no competitors") << QList<double>{} << 4 << "";
    QTest::newRow("N = 1") << QList<double>{1, 2, 3} << 1 << "1:C1|2:C2|3:C3";
}

void TestHeats::placement()
{
    QFETCH(QList<double>, frequencies);
    QFETCH(int, heatSize);
    QFETCH(QString, expected);
    QCOMPARE(layout(generateHeats(competitors(frequencies), heatSize)), expected);
}

void TestHeats::valuesCarriedOver()
{
    const QList<HeatRow> rows = generateHeats({{QStringLiteral("Anna"), QVariant(), QVariant()},
                                               {QStringLiteral("Bruno"), 27.1, QStringLiteral("")},
                                               {QStringLiteral("Carla"), 27.2, QStringLiteral("Junior")}},
                                              4);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].frequency, 0.0); // no frequency: 0
    QCOMPARE(rows[0].group, QStringLiteral(" ")); // no group: a blank
    QCOMPARE(rows[1].group, QStringLiteral(" "));
    QCOMPARE(rows[2].group, QStringLiteral("Junior"));
    QCOMPARE(rows[2].frequency, 27.2);
}

void TestHeats::nameMissingStopsAtThatCompetitor()
{
    QList<HeatRow> placed;
    const QList<Competitor> list{{QStringLiteral("Anna"), 27.1, QVariant()}, {QVariant(), 27.2, QVariant()},
                                 {QStringLiteral("Carla"), 27.3, QVariant()}};
    try {
        generateHeats(list, 4, [&placed](const HeatRow& r) { placed.append(r); });
        QFAIL("a competitor without a name was placed");
    } catch (const EngineError& e) {
        QCOMPARE(e.message(), QStringLiteral("Could not convert variant of type (Null) into type (String)"));
    }
    QCOMPARE(placed.size(), 1);
    QCOMPARE(placed[0].name, QStringLiteral("Anna"));
}

QTEST_GUILESS_MAIN(TestHeats)
#include "test_heats.moc"
