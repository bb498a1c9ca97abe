#include "speech/callouts.h"
#include "tables/timetext.h"

#include <QTest>

// What is said at a lap: the Italian wording and the cut of the lap time.
class TestCallouts : public QObject
{
    Q_OBJECT
private slots:
    void lap_data();
    void lap();
    void dayFractionToMs_data();
    void dayFractionToMs();
};

void TestCallouts::lap_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("lap");
    QTest::addColumn<qint64>("lapMs");
    QTest::addColumn<QString>("said");

    QTest::newRow("first passage has no time") << "Rossi" << 1 << qint64(0) << "Rossi, giro 1";
    QTest::newRow("negative time is left out") << "Rossi" << 1 << qint64(-40) << "Rossi, giro 1";
    QTest::newRow("seconds and tenths") << "Rossi" << 12 << qint64(14300) << "Rossi, giro 12, 14 e 3";
    QTest::newRow("tenth is cut, not rounded") << "Rossi" << 12 << qint64(14399) << "Rossi, giro 12, 14 e 3";
    QTest::newRow("whole second keeps its tenth") << "Rossi" << 4 << qint64(14000) << "Rossi, giro 4, 14 e 0";
    QTest::newRow("under a second") << "Rossi" << 2 << qint64(900) << "Rossi, giro 2, 0 e 9";
    QTest::newRow("just under a minute stays seconds") << "Rossi" << 3 << qint64(59999) << "Rossi, giro 3, 59 e 9";
    QTest::newRow("exactly a minute") << "Rossi" << 3 << qint64(60000) << "Rossi, giro 3, un minuto 0 e 0";
    QTest::newRow("one minute") << "Rossi" << 3 << qint64(62500) << "Rossi, giro 3, un minuto 2 e 5";
    QTest::newRow("minutes are plural") << "Rossi" << 3 << qint64(125790) << "Rossi, giro 3, 2 minuti 5 e 7";
    QTest::newRow("seconds past the minute are not carried")
        << "Rossi" << 3 << qint64(119999) << "Rossi, giro 3, un minuto 59 e 9";
    QTest::newRow("name is trimmed") << "  Bianchi " << 7 << qint64(15100) << "Bianchi, giro 7, 15 e 1";
    QTest::newRow("blank name is left out") << "   " << 7 << qint64(15100) << "giro 7, 15 e 1";
    QTest::newRow("blank name, first passage") << "" << 1 << qint64(0) << "giro 1";
}

void TestCallouts::lap()
{
    QFETCH(QString, name);
    QFETCH(int, lap);
    QFETCH(qint64, lapMs);
    QFETCH(QString, said);
    QCOMPARE(callouts::lap(name, lap, lapMs), said);
}

void TestCallouts::dayFractionToMs_data()
{
    QTest::addColumn<double>("dayFraction");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("spoken");

    // Day fractions of tenths are not exact in binary; a cut without rounding first would say 14 e 2.
    QTest::newRow("14.3 s") << 14.3 / 86400 << qint64(14300) << "14 e 3";
    QTest::newRow("0.1 s") << 0.1 / 86400 << qint64(100) << "0 e 1";
    QTest::newRow("62.5 s") << 62.5 / 86400 << qint64(62500) << "un minuto 2 e 5";
    QTest::newRow("one clock tick") << timetext::clockStep << qint64(1000) << "1 e 0";
    QTest::newRow("a difference of two times of day")
        << (36000.0 + 14.3) / 86400 - 36000.0 / 86400 << qint64(14300) << "14 e 3";
}

void TestCallouts::dayFractionToMs()
{
    QFETCH(double, dayFraction);
    QFETCH(qint64, ms);
    QFETCH(QString, spoken);
    QCOMPARE(callouts::dayFractionToMs(dayFraction), ms);
    QCOMPARE(callouts::lapTime(callouts::dayFractionToMs(dayFraction)), spoken);
}

QTEST_GUILESS_MAIN(TestCallouts)
#include "test_callouts.moc"
