#include "race/journal.h"
#include "race/racerecord.h"
#include "tables/timetext.h"
#include "tests/support/testfolders.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace racerecord;
using laprules::RaceMode;

// The passage journal on disk and the race rebuilt from it, without a window.
class TestJournal : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void cutShort();
    void damagedLinesAreSkipped();
    void takeBacks_data();
    void takeBacks();
    void replayFinishesCarsAfterTimeUp();
    void clockOfTheRace();
};

namespace {

constexpr qint64 second = 1'000'000'000;

RaceRecord sampleRace()
{
    RaceRecord r;
    r.mode = RaceMode::Qualifications;
    r.heat = 2;
    r.round = 1;
    r.minLapTime = 5.0 / 86400;
    r.wallStart = 10.0 / 24;
    r.monoStart = 1000 * second;
    for (int ch = 1; ch <= 5; ++ch) {
        r.channels[ch].awaitingFirstPassage = true;
        r.channels[ch].channelFinished = ch > 3;
        r.channels[ch].lastPassageTime = ch == 2 ? 0.25 : 0;
        r.channels[ch].lapStartTime = ch == 2 ? 0.2 : 0;
    }
    laprules::CarTimes earlier;
    earlier.laps = 7;
    earlier.lap = 0.0001;
    earlier.best = 0.0001;
    earlier.total = 0.002;
    earlier.lapText = QStringLiteral("0.8.640");
    earlier.bestText = QStringLiteral("00.00.00");
    earlier.totalText = QStringLiteral("2.52");
    r.cars[1] = laprules::CarTimes{};
    r.cars[2] = earlier;
    for (int t = 1; t <= 3; ++t)
        r.ticks.append({r.monoStart + t * second, t * timetext::clockStep});
    r.events = {{EventKind::Passage, 1, r.monoStart + 1500 * 1000 * 1000},
                {EventKind::Passage, 2, r.monoStart + 1600 * 1000 * 1000},
                {EventKind::Added, 1, r.monoStart + 12 * second},
                {EventKind::TakenBack, 2, r.monoStart + 13 * second}};
    return r;
}

void compareRecords(const RaceRecord& a, const RaceRecord& b)
{
    QCOMPARE(a.mode, b.mode);
    QCOMPARE(a.heat, b.heat);
    QCOMPARE(a.round, b.round);
    QCOMPARE(a.finalLetter, b.finalLetter);
    QCOMPARE(a.minLapTime, b.minLapTime);
    QCOMPARE(a.wallStart, b.wallStart);
    QCOMPARE(a.monoStart, b.monoStart);
    QCOMPARE(a.elapsedStart, b.elapsedStart);
    QVERIFY(a.channels == b.channels);
    QVERIFY(a.cars == b.cars);
    QCOMPARE(a.ticks, b.ticks);
    QCOMPARE(a.timeUp, b.timeUp);
    QCOMPARE(a.events, b.events);
}

QString write(const QTemporaryDir& dir, const RaceRecord& r)
{
    const QString path = dir.filePath(QStringLiteral("passaggi.journal"));
    PassageJournal journal;
    journal.begin(path, r);
    for (const Tick& t : r.ticks)
        journal.appendTick(t, r.timeUp && t == r.ticks.last());
    for (const Event& e : r.events)
        journal.appendEvent(e);
    journal.close();
    return path;
}

} // namespace

void TestJournal::roundTrip()
{
    QTemporaryDir dir;
    RaceRecord r = sampleRace();
    r.timeUp = true;
    const auto read = PassageJournal::read(write(dir, r));
    QVERIFY(read);
    compareRecords(*read, r);

    RaceRecord final = sampleRace();
    final.mode = RaceMode::Finals;
    final.finalLetter = QStringLiteral("B");
    final.cars[2]->lapText = QStringLiteral("a - b =%"); // texts from elsewhere survive
    const auto readFinal = PassageJournal::read(write(dir, final));
    QVERIFY(readFinal);
    compareRecords(*readFinal, final);
}

void TestJournal::cutShort()
{
    // Cut at every byte: a journal killed mid-write restores the passages it holds whole, and never more.
    QTemporaryDir dir;
    const RaceRecord r = sampleRace();
    const QByteArray whole = readFile(write(dir, r));
    const qsizetype headerEnd = whole.indexOf("\nT ") + 1;
    QVERIFY(headerEnd > 0);
    const QString path = dir.filePath(QStringLiteral("cut.journal"));
    for (qsizetype size = 0; size <= whole.size(); ++size) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(size));
        f.close();
        const auto read = PassageJournal::read(path);
        if (!read)
            continue; // the race line itself is incomplete
        QVERIFY(size > whole.indexOf("\nR "));
        const QByteArray kept = whole.left(size);
        const qsizetype wholeLines = kept.count('\n');
        // Every event read is one of the race's, in order, and only those of whole lines.
        QVERIFY(read->events.size() <= r.events.size());
        QCOMPARE(read->events, r.events.mid(0, read->events.size()));
        if (size == whole.size())
            QCOMPARE(read->events.size(), r.events.size());
        QVERIFY(wholeLines >= 2);
    }
    QVERIFY(!PassageJournal::read(dir.filePath(QStringLiteral("none.journal"))));
}

void TestJournal::damagedLinesAreSkipped()
{
    QTemporaryDir dir;
    const RaceRecord r = sampleRace();
    QByteArray data = readFile(write(dir, r));
    data.replace("\nT ", "\nX garbage\nP 9 12\nP 1 notanumber\n\x01\x02\nT ");
    const QString path = dir.filePath(QStringLiteral("damaged.journal"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    const auto read = PassageJournal::read(path);
    QVERIFY(read);
    compareRecords(*read, r);
}

void TestJournal::takeBacks_data()
{
    QTest::addColumn<QString>("events"); // "P1@10 D1@12": kind, channel, second
    QTest::addColumn<QString>("standing");
    QTest::newRow("none") << "P1@10 P2@11" << "1@10 2@11";
    QTest::newRow("the channel's last") << "P1@10 P1@20 D1@21" << "1@10";
    QTest::newRow("only its own channel") << "P1@10 P2@15 D1@21" << "2@15";
    QTest::newRow("down to nothing, and one more") << "P1@10 D1@11 D1@12" << "";
    QTest::newRow("an added passage") << "P1@10 A1@20 D1@25 A1@30" << "1@10 1@30";
    QTest::newRow("journal order is not stamp order") << "P1@20 D1@25 P1@10" << "1@10";
}

void TestJournal::takeBacks()
{
    QFETCH(QString, events);
    QFETCH(QString, standing);
    RaceRecord r;
    for (const QString& e : events.split(QLatin1Char(' '))) {
        const EventKind kind = e[0] == QLatin1Char('D')   ? EventKind::TakenBack
                               : e[0] == QLatin1Char('A') ? EventKind::Added
                                                          : EventKind::Passage;
        r.events.append({kind, e.mid(1, 1).toInt(), e.mid(3).toLongLong() * second});
    }
    QStringList result;
    for (const Event& e : standingPassages(r))
        result.append(QStringLiteral("%1@%2").arg(e.channel).arg(e.stampNs / second));
    QCOMPARE(result.join(QLatin1Char(' ')), standing);
}

void TestJournal::replayFinishesCarsAfterTimeUp()
{
    RaceRecord r;
    r.mode = RaceMode::Finals;
    r.minLapTime = 5.0 / 86400;
    r.wallStart = 0.5;
    for (int ch = 1; ch <= 5; ++ch) {
        r.channels[ch].awaitingFirstPassage = true;
        r.channels[ch].channelFinished = ch > 2;
        if (ch <= 2)
            r.cars[ch] = laprules::CarTimes{};
    }
    double elapsed = 0;
    for (int t = 1; t <= 30; ++t) {
        elapsed += timetext::clockStep;
        r.ticks.append({t * second, elapsed});
    }
    r.timeUp = true;
    r.events = {{EventKind::Passage, 1, 1 * second}, {EventKind::Passage, 2, 2 * second},
                {EventKind::Passage, 1, 31 * second}, {EventKind::Passage, 1, 40 * second},
                {EventKind::Passage, 2, 41 * second}, {EventKind::Passage, 2, 50 * second}};
    const Replay done = replay(r);
    QVERIFY(done.complete);
    QCOMPARE(done.cars[1]->laps, 2); // the passage after its last is ignored
    QCOMPARE(done.cars[2]->laps, 2); // nothing arrives after the race is over
    QCOMPARE(done.cars[1]->totalText, QStringLiteral("0.30")); // the clock's 30 ticks at its last passage
    QCOMPARE(done.cars[2]->lapText, QStringLiteral("0.39.0"));

    // Taking back car 2's last passage: its passage at 50 s, ignored before, becomes its last.
    r.events.append({EventKind::TakenBack, 2, 45 * second});
    const Replay corrected = replay(r);
    QVERIFY(corrected.complete);
    QCOMPARE(corrected.cars[2]->laps, 2);
    QCOMPARE(corrected.cars[2]->lapText, QStringLiteral("0.48.0"));
    // And with that one taken back too, car 2 is on track again.
    r.events.append({EventKind::TakenBack, 2, 55 * second});
    const Replay reopened = replay(r);
    QVERIFY(!reopened.complete);
    QVERIFY(!reopened.channels[2].channelFinished);
    QCOMPARE(reopened.cars[2]->laps, 1);
}

void TestJournal::clockOfTheRace()
{
    RaceRecord r;
    r.wallStart = 23.0 / 24 + 59.0 / 1440; // 23:59:00
    r.monoStart = 5 * second;
    QCOMPARE(r.timeOfDay(r.monoStart), r.wallStart);
    // Past midnight the time of day starts again from 0, as the system clock's does.
    QVERIFY(qAbs(r.timeOfDay(r.monoStart + 90 * second) - 30.0 / 86400) < 1e-12);
    // The elapsed time is what the last tick up to the stamp left.
    r.ticks = {{6 * second, 1.5}, {7 * second, 2.5}, {8 * second, 3.5}};
    QCOMPARE(r.elapsedAt(6 * second - 1), 0.0);
    QCOMPARE(r.elapsedAt(7 * second), 2.5);
    QCOMPARE(r.elapsedAt(9 * second), 3.5);
    QCOMPARE(r.elapsedAt(9 * second, 4.5), 4.5); // no tick after it: the clock as it stands
    QVERIFY(!r.timeUpAt(9 * second));
    QVERIFY(r.timeUpAt(9 * second, true)); // ended by hand, not by a tick
    r.timeUp = true;
    QVERIFY(!r.timeUpAt(8 * second - 1));
    QVERIFY(r.timeUpAt(8 * second));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
