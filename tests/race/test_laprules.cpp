#include "race/laprules.h"
#include "tables/table.h"
#include "tables/timetext.h"

#include <QTest>

using namespace laprules;

// The lap rules on plain values, without a window.
class TestLapRules : public QObject
{
    Q_OBJECT
private slots:
    void channelOfByte_data();
    void channelOfByte();
    void counting_data();
    void counting();
    void bestLap_data();
    void bestLap();
    void raceOfPassages_data();
    void raceOfPassages();
    void totalIsOverwrittenInALaterRound();
    void modeIsDecidedByTheFlags();
};

namespace {

double seconds(double s)
{
    return s / 86400.0;
}

// "laps/lap/best/total" in milliseconds, "-" for a null field.
QString describe(const CarTimes& row)
{
    auto ms = [](const QVariant& v) {
        return v.isNull() ? QStringLiteral("-") : QString::number(qRound64(v.toDouble() * timetext::msPerDay));
    };
    return QStringLiteral("%1/%2/%3/%4").arg(row.laps).arg(ms(row.lap), ms(row.best), ms(row.total));
}

ChannelState armed()
{
    ChannelState channel;
    channel.awaitingFirstPassage = true;
    channel.channelFinished = false;
    return channel;
}

} // namespace

void TestLapRules::channelOfByte_data()
{
    QTest::addColumn<char>("byte");
    QTest::addColumn<int>("channel");
    QTest::newRow("one") << '1' << 1;
    QTest::newRow("five") << '5' << 5;
    QTest::newRow("zero") << '0' << 0;
    QTest::newRow("six") << '6' << 0;
    QTest::newRow("line end") << '\n' << 0;
    QTest::newRow("nul") << '\0' << 0;
    QTest::newRow("dialogue answer") << 'B' << 0;
}

void TestLapRules::channelOfByte()
{
    QFETCH(char, byte);
    QFETCH(int, channel);
    QCOMPARE(channelOf(byte), channel);
}

void TestLapRules::counting_data()
{
    // Day fractions with exact binary values, so that "exactly the minimum" is exact.
    QTest::addColumn<double>("lapStart");
    QTest::addColumn<double>("passage");
    QTest::addColumn<bool>("counts");
    const double min = 1.0 / 1024;
    QTest::newRow("lap start never set") << 0.0 << 1.0 / 4096 << true;
    QTest::newRow("longer than the minimum") << 0.5 << 0.5 + 2 * min << true;
    QTest::newRow("exactly the minimum") << 0.5 << 0.5 + min << false;
    QTest::newRow("shorter than the minimum") << 0.5 << 0.5 + min / 2 << false;
    // A race just after midnight, with the lap start left from before it.
    QTest::newRow("across midnight") << 0.999 << 0.001 << false;
}

void TestLapRules::counting()
{
    QFETCH(double, lapStart);
    QFETCH(double, passage);
    QFETCH(bool, counts);
    ChannelState channel;
    channel.lastPassageTime = lapStart;
    startLap(channel, passage);
    QCOMPARE(channel.lapStartTime, lapStart);
    QCOMPARE(channel.lastPassageTime, passage);
    QCOMPARE(countsAsLap(channel, 1.0 / 1024), counts);
}

void TestLapRules::bestLap_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVariant>("best");
    QTest::addColumn<double>("lap");
    QTest::addColumn<QString>("written"); // "-" nothing, "zero" the placeholder, else the value in seconds
    const auto q = int(RaceMode::Qualifications);
    const auto f = int(RaceMode::Finals);
    QTest::newRow("qualifications: never written") << q << QVariant() << 9.8 << "zero";
    QTest::newRow("qualifications: zero takes the lap") << q << QVariant(0.0) << 9.8 << "9.8";
    QTest::newRow("qualifications: a later round's zero lap") << q << QVariant(seconds(9.5)) << 0.0 << "-";
    QTest::newRow("qualifications: shorter") << q << QVariant(seconds(9.8)) << 9.5 << "9.5";
    QTest::newRow("qualifications: equal") << q << QVariant(seconds(9.5)) << 9.5 << "-";
    QTest::newRow("qualifications: longer") << q << QVariant(seconds(9.5)) << 9.9 << "-";
    QTest::newRow("finals: never written takes the lap") << f << QVariant() << 0.0 << "0";
    QTest::newRow("finals: a zero lap replaces a best lap") << f << QVariant(seconds(9.5)) << 0.0 << "0";
    QTest::newRow("finals: shorter") << f << QVariant(seconds(9.8)) << 9.5 << "9.5";
    QTest::newRow("finals: longer") << f << QVariant(seconds(9.5)) << 9.9 << "-";
}

void TestLapRules::bestLap()
{
    QFETCH(int, mode);
    QFETCH(QVariant, best);
    QFETCH(double, lap);
    QFETCH(QString, written);
    const auto result = laprules::bestLap(RaceMode(mode), best, seconds(lap));
    if (written == QLatin1String("-")) {
        QVERIFY(!result);
    } else if (written == QLatin1String("zero")) {
        QVERIFY(result);
        QCOMPARE(*result, (WrittenTime{0, true}));
    } else {
        QVERIFY(result);
        QCOMPARE(*result, (WrittenTime{seconds(written.toDouble()), false}));
    }
}

void TestLapRules::raceOfPassages_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<double>>("passages"); // seconds since midnight
    QTest::addColumn<QStringList>("rows");       // the row after each passage
    const auto q = int(RaceMode::Qualifications);
    const auto f = int(RaceMode::Finals);
    // Elapsed race time at each passage: the passage's second, as whole clock ticks.
    const QList<double> laps{10, 19.8, 29.3, 38.8, 48.7};
    QTest::newRow("qualifications: best lap over laps 0, 9.8, 9.5, 9.5, 9.9")
        << q << laps
        << QStringList{"1/0/0/10000", "2/9800/9800/19000", "3/9500/9500/29000", "4/9500/9500/38000",
                       "5/9900/9500/48000"};
    QTest::newRow("finals: the first lap's zero is the best, then the laps")
        << f << laps
        << QStringList{"1/0/0/10000", "2/9800/9800/19000", "3/9500/9500/29000", "4/9500/9500/38000",
                       "5/9900/9500/48000"};
    // 0.5 s after the first passage, with a 5 s minimum: the lap time is written but not counted, and
    // the next lap is measured from the rejected passage.
    QTest::newRow("a passage within the minimum moves the lap start")
        << q << QList<double>{10, 10.5, 20}
        << QStringList{"1/0/0/10000", "1/500/0/10000", "2/9500/9500/20000"};
    QTest::newRow("lap times keep the millisecond")
        << f << QList<double>{1, 8.2344, 15.5}
        << QStringList{"1/0/0/1000", "2/7234/7234/8000", "3/7266/7234/15000"};
}

void TestLapRules::raceOfPassages()
{
    QFETCH(int, mode);
    QFETCH(QList<double>, passages);
    QFETCH(QStringList, rows);
    ChannelState channel = armed();
    channel.lastPassageTime = 0; // no earlier race since start-up
    CarTimes row;
    for (int i = 0; i < passages.size(); ++i) {
        applyPassage(RaceMode(mode), channel, row, seconds(passages[i]), seconds(5), seconds(std::floor(passages[i])));
        QCOMPARE(describe(row), rows[i]);
    }
    QCOMPARE(channel.lastPassageTime, seconds(passages.last()));
    QVERIFY(!channel.awaitingFirstPassage);
}

void TestLapRules::totalIsOverwrittenInALaterRound()
{
    ChannelState channel = armed();
    CarTimes row;
    const double min = seconds(5);
    applyPassage(RaceMode::Qualifications, channel, row, seconds(100), min, seconds(0));
    applyPassage(RaceMode::Qualifications, channel, row, seconds(110), min, seconds(10));
    applyPassage(RaceMode::Qualifications, channel, row, seconds(121), min, seconds(21));
    QCOMPARE(describe(row), QStringLiteral("3/11000/10000/21000"));

    // The next round: Start arms the channel again, the lap count and best lap go on, the total is the new
    // race's elapsed time.
    channel.awaitingFirstPassage = true;
    applyPassage(RaceMode::Qualifications, channel, row, seconds(500), min, seconds(2));
    QCOMPARE(describe(row), QStringLiteral("4/0/10000/2000"));
    applyPassage(RaceMode::Qualifications, channel, row, seconds(509.5), min, seconds(12));
    QCOMPARE(describe(row), QStringLiteral("5/9500/9500/12000"));
}

void TestLapRules::modeIsDecidedByTheFlags()
{
    QCOMPARE(raceMode(false, false), RaceMode::Idle);
    QCOMPARE(raceMode(true, false), RaceMode::Qualifications);
    QCOMPARE(raceMode(false, true), RaceMode::Finals);
    QCOMPARE(raceMode(true, true), RaceMode::Qualifications);
}

QTEST_GUILESS_MAIN(TestLapRules)
#include "test_laprules.moc"
