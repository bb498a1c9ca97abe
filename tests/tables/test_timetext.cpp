#include "tables/convert.h"
#include "tables/error.h"
#include "tables/timetext.h"

#include <QTest>

using namespace timetext;

// Time texts, decoding, and the text conversions with their runtime messages.
class TestTimeText : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void clockTicks();
    void strToTime_data();
    void strToTime();
    void strToInt_data();
    void strToInt();
    void wholeNumberDuration();
    void replaceableClock();
};

static double seconds(double s)
{
    return s / 86400.0;
}

void TestTimeText::texts_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("lap");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("clock");

    QTest::newRow("12.345 s") << seconds(12.345) << "0.12.345"
                              << "0.12"
                              << "0:12";
    QTest::newRow("61.5 s") << seconds(61.5) << "1.1.500"
                            << "1.1"
                            << "1:1";
    QTest::newRow("7 ms") << seconds(0.007) << "0.0.7"
                          << "0.0"
                          << "0:0";
    QTest::newRow("3 min 5 s") << seconds(185) << "3.5.0"
                               << "3.5"
                               << "3:5";
    QTest::newRow("0.5 s") << seconds(0.5) << "0.0.500"
                           << "0.0"
                           << "0:0";
    QTest::newRow("10 min 15.25 s") << seconds(615.25) << "10.15.250"
                                    << "10.15"
                                    << "10:15";
    QTest::newRow("five-minute race") << 5 / 24.0 * minuteScale << "5.0.0"
                                      << "5.0"
                                      << "5:0";
    QTest::newRow("nine seconds") << seconds(9) << "0.9.0"
                                  << "0.9"
                                  << "0:9";
    QTest::newRow("negative keeps its magnitude") << -seconds(9.5) << "0.9.500"
                                                  << "0.9"
                                                  << "0:9";
    QTest::newRow("hours are dropped") << seconds(3600 + 62) << "1.2.0"
                                       << "1.2"
                                       << "1:2";
    QTest::newRow("rounded to the millisecond") << seconds(1.2345678) << "0.1.235"
                                                << "0.1"
                                                << "0:1";
}

void TestTimeText::texts()
{
    QFETCH(double, time);
    QFETCH(QString, lap);
    QFETCH(QString, total);
    QFETCH(QString, clock);
    QCOMPARE(lapText(time), lap);
    QCOMPARE(totalText(time), total);
    QCOMPARE(clockText(time), clock);
}

void TestTimeText::clockTicks()
{
    // The clock step is a little shorter than a second: after 1421 ticks the elapsed time decodes
    // to 23 min 40.999 s.
    double elapsed = 0;
    for (int i = 0; i < 1421; ++i)
        elapsed += clockStep;
    QCOMPARE(totalText(elapsed), QStringLiteral("23.40"));
    const DecodedTime t = decode(elapsed);
    QCOMPARE(t.minutes, 23);
    QCOMPARE(t.seconds, 40);
    QCOMPARE(t.milliseconds, 999);

    // A one-minute countdown reads 0:59 after the first tick.
    QCOMPARE(clockText(1 / 24.0 * minuteScale - clockStep), QStringLiteral("0:59"));
    QCOMPARE(zeroText, QStringLiteral("00.00.00"));
}

void TestTimeText::strToTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // negative: refused

    QTest::newRow("bare number is hours") << "5" << 5 / 24.0;
    QTest::newRow("zero") << "0" << 0.0;
    QTest::newRow("23 is the largest hour") << "23" << 23 / 24.0;
    QTest::newRow("h:m") << "1:30" << 1.5 / 24.0;
    QTest::newRow("h:m:s") << "0:0:30" << 30 / 86400.0;
    QTest::newRow("blanks around") << " 7 " << 7 / 24.0;
    QTest::newRow("24 refused") << "24" << -1.0;
    QTest::newRow("25 refused") << "25" << -1.0;
    QTest::newRow("empty refused") << "" << -1.0;
    QTest::newRow("letters refused") << "abc" << -1.0;
    QTest::newRow("minutes out of range") << "1:60" << -1.0;
    QTest::newRow("decimal refused") << "5.5" << -1.0;
    QTest::newRow("negative refused") << "-1" << -1.0;
}

void TestTimeText::strToTime()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    if (expected >= 0) {
        QCOMPARE(convert::strToTime(text), expected);
        return;
    }
    try {
        convert::strToTime(text);
        QFAIL("accepted");
    } catch (const AppError& e) {
        QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid time").arg(text));
    }
}

void TestTimeText::strToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");

    QTest::newRow("plain") << "42" << true << 42;
    QTest::newRow("negative") << "-3" << true << -3;
    QTest::newRow("leading blank") << " 5" << true << 5;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << " " << false << 0;
    QTest::newRow("decimal") << "5.5" << false << 0;
    QTest::newRow("letters") << "Ed_Nr_Batterie" << false << 0;
    QTest::newRow("too large") << "99999999999" << false << 0;
}

void TestTimeText::strToInt()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, expected);
    if (valid) {
        QCOMPARE(convert::strToInt(text), expected);
        return;
    }
    try {
        convert::strToInt(text);
        QFAIL("accepted");
    } catch (const AppError& e) {
        QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
}

void TestTimeText::wholeNumberDuration()
{
    // A minimum lap entry of 5 is just under five seconds; a 3-minute race shows 3:0.
    const double minLap = convert::wholeNumberDuration(QStringLiteral("5"), minLapScale);
    QVERIFY(minLap < seconds(5));
    QVERIFY(minLap > seconds(4.9999998));
    const double race = convert::wholeNumberDuration(QStringLiteral("3"), minuteScale);
    QCOMPARE(clockText(race), QStringLiteral("3:0"));
    QCOMPARE(clockText(convert::wholeNumberDuration(QStringLiteral("2"), minuteScale)), QStringLiteral("2:0"));
}

void TestTimeText::replaceableClock()
{
    setClock([] { return 0.25; });
    QCOMPARE(timeOfDayNow(), 0.25);
    setClock({});
    const double now = timeOfDayNow();
    QVERIFY(now >= 0 && now < 1);
}

QTEST_GUILESS_MAIN(TestTimeText)
#include "test_timetext.moc"
