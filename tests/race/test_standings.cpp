#include "race/standings.h"

#include <QTest>

// Positions of a final by laps, records given in the laps-descending walk order.
class TestStandings : public QObject
{
    Q_OBJECT
private slots:
    void positions_data();
    void positions();
};

void TestStandings::positions_data()
{
    QTest::addColumn<QList<int>>("laps");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("all different") << QList<int>{12, 11, 10, 9} << QList<int>{1, 2, 3, 4};
    QTest::newRow("single car") << QList<int>{7} << QList<int>{1};
    QTest::newRow("all equal: reverse walk order") << QList<int>{5, 5, 5, 5} << QList<int>{4, 3, 2, 1};
    QTest::newRow("tie at the top") << QList<int>{10, 10, 9, 8} << QList<int>{2, 1, 3, 4};
    QTest::newRow("tie at the bottom") << QList<int>{10, 9, 9, 9} << QList<int>{1, 4, 3, 2};
    QTest::newRow("two runs") << QList<int>{10, 10, 8, 8, 8, 7} << QList<int>{2, 1, 5, 4, 3, 6};
    QTest::newRow("no records") << QList<int>{} << QList<int>{};
}

void TestStandings::positions()
{
    QFETCH(QList<int>, laps);
    QFETCH(QList<int>, expected);
    QCOMPARE(Standings::positions(laps), expected);
}

QTEST_GUILESS_MAIN(TestStandings)
#include "test_standings.moc"
