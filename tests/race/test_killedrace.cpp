#include "race/gestione_gare.h"
#include "race/journal.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/support/program.h"
#include "widgets/dialogs.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>

#include <sys/types.h>

namespace {

constexpr int kills = 20;

qint64 monotonicNowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Three cars, laps of about 1.5 s with passages of two cars 0.3 ms apart now and then.
QString script()
{
    QStringList items;
    for (int lap = 0; lap < 12; ++lap) {
        items << QStringLiteral("%1:1").arg(100 + lap * 1500);
        items << QStringLiteral("%1:2").arg(100 + lap * 1500 + (lap % 3 == 0 ? 0 : 400));
        items << QStringLiteral("%1:3").arg(300 + lap * 1550);
    }
    return items.join(QLatin1Char(' '));
}

int lapsOf(const Table& t, int channel)
{
    for (int row = 0; row < t.recordCount(); ++row) {
        if (t.valueAt(row, t.fieldIndexOrThrow(layouts::num)).toInt() == channel &&
            t.valueAt(row, t.fieldIndexOrThrow(layouts::batteria)).toInt() == 1)
            return t.valueAt(row, t.fieldIndexOrThrow(layouts::giri)).toInt();
    }
    return -1;
}

} // namespace

// The program killed mid-heat, at random moments, loses no passage it had received.
class TestKilledRace : public QObject
{
    Q_OBJECT
private slots:
    void killedAndRestored();
};

void TestKilledRace::killedAndRestored()
{
    QRandomGenerator random(20261211);
    int restoredRaces = 0;
    for (int kill = 0; kill < kills; ++kill) {
        QTemporaryDir folder;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;*.info=false"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(QUINTARA_RACE_CHILD), {folder.path(), script()});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         out += child.readAllStandardOutput();
                         return out.contains("racing\n") || child.state() == QProcess::NotRunning;
                     },
                     20000),
                 "the child never got to race");
        QVERIFY2(out.contains("racing\n"), out.constData());
        QTest::qWait(int(random.bounded(50, 6000)));
        const qint64 killedAt = monotonicNowNs();
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        out += child.readAllStandardOutput();

        // What the device sent more than 10 ms before the kill must all be counted once.
        int expected[6] = {};
        int sentAtAll[6] = {};
        for (const QByteArray& line : out.split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() != 3 || f[0] != "sent")
                continue;
            for (const char c : f[2]) {
                if (c >= '1' && c <= '3') {
                    sentAtAll[c - '0'] += 1;
                    if (f[1].toLongLong() < killedAt - 10'000'000)
                        expected[c - '0'] += 1;
                }
            }
        }

        // A new start in the same folder, answering Yes.
        ProgramSession session(ProgramSession::Device::None);
        for (const QString& name : QDir(folder.path()).entryList(QDir::Files))
            QVERIFY(QFile::copy(folder.filePath(name), session.folders().program() + name));
        session.start();
        dialogs::clearShown(); // no device is plugged in
        const bool hadJournal = QFile::exists(PassageJournal::defaultPath());
        dialogs::queueAnswer(true);
        Gestione_gare->show();
        QVERIFY(!QFile::exists(PassageJournal::defaultPath()));
        if (hadJournal && (expected[1] + expected[2] + expected[3]) > 0) {
            QCOMPARE(dialogs::shown().size(), 1);
            QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Confirm);
            ++restoredRaces;
        }
        Table table;
        table.setFileName(paths::programFile(layouts::qualificationFile));
        table.open();
        for (int ch = 1; ch <= 3; ++ch) {
            const int laps = lapsOf(table, ch);
            QVERIFY2(laps >= expected[ch] && laps <= sentAtAll[ch],
                     qPrintable(QStringLiteral("kill %1, car %2: %3 laps, %4 sent before the kill, %5 in all")
                                    .arg(kill)
                                    .arg(ch)
                                    .arg(laps)
                                    .arg(expected[ch])
                                    .arg(sentAtAll[ch])));
        }
        Gestione_gare->hide();
    }
    QVERIFY(restoredRaces >= kills / 2);
}

QTEST_MAIN(TestKilledRace)
#include "test_killedrace.moc"
