#include "race/gestione_gare.h"
#include "race/standings.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tests/support/program.h"

#include <QTest>

// Positions of a final by laps: the plain function over laps in walk order, and the race window's
// standings written into the finals table.
class TestStandings : public QObject
{
    Q_OBJECT
private slots:
    void positions_data();
    void positions();
    void finalsTable_data();
    void finalsTable();
};

namespace {

void addLapPatterns()
{
    QTest::addColumn<QList<int>>("laps"); // in the order of the laps-descending index
    QTest::addColumn<QList<int>>("expected");

    // clang-format off
    QTest::newRow("all different") << QList<int>{12, 11, 10, 9} << QList<int>{1, 2, 3, 4};
    QTest::newRow("single car") << QList<int>{7} << QList<int>{1};
    QTest::newRow("all equal: reverse walk order") << QList<int>{5, 5, 5, 5} << QList<int>{4, 3, 2, 1};
    QTest::newRow("tie at the top") << QList<int>{10, 10, 9, 8} << QList<int>{2, 1, 3, 4};
    QTest::newRow("tie at the bottom") << QList<int>{10, 9, 9, 9} << QList<int>{1, 4, 3, 2};
    QTest::newRow("two runs") << QList<int>{10, 10, 8, 8, 8, 7} << QList<int>{2, 1, 5, 4, 3, 6};
    QTest::newRow("no records") << QList<int>{} << QList<int>{};
    // clang-format on
}

} // namespace

void TestStandings::positions_data()
{
    addLapPatterns();
}

void TestStandings::positions()
{
    QFETCH(QList<int>, laps);
    QFETCH(QList<int>, expected);
    QCOMPARE(Standings::positions(laps), expected);
}

void TestStandings::finalsTable_data()
{
    addLapPatterns();
}

void TestStandings::finalsTable()
{
    QFETCH(QList<int>, laps);
    QFETCH(QList<int>, expected);
    ProgramSession program;
    program.start();
    // Final "A" with the pattern, appended in index order; final "B" around it must stay untouched.
    Table& finals = *Gestione_gare->CDS_Finali;
    layouts::defineFinals(finals);
    finals.setIndexName(layouts::finalsIndexName);
    finals.createTable();
    finals.appendRecord({1, QStringLiteral("B"), QStringLiteral("Bruno"), 30});
    for (int i = 0; i < laps.size(); ++i)
        finals.appendRecord({i + 1, QStringLiteral("A"), QStringLiteral("R%1").arg(i + 1), laps[i]});
    finals.appendRecord({2, QStringLiteral("B"), QStringLiteral("Bice"), 1});
    finals.setFilter(QStringLiteral("finale = 'A'"));
    finals.setFiltered(true);
    QCOMPARE(finals.recordCount(), laps.size());

    Gestione_gare->OrdinaStessiGirixTempo();

    QCOMPARE(finals.recordCount(), laps.size()); // no record created, none lost
    QCOMPARE(finals.state(), Table::State::Browse);
    QList<int> positions(laps.size(), 0);
    for (finals.first(); !finals.eof(); finals.next())
        positions[finals.asInteger(layouts::nr) - 1] = finals.asInteger(layouts::posiz);
    QCOMPARE(positions, expected);
    finals.setFiltered(false);
    QCOMPARE(finals.recordCount(), laps.size() + 2);
    for (finals.first(); !finals.eof(); finals.next()) {
        if (finals.asString(layouts::finale) == QLatin1String("B"))
            QVERIFY(finals.value(layouts::posiz).isNull());
    }
}

QTEST_MAIN(TestStandings)
#include "test_standings.moc"
