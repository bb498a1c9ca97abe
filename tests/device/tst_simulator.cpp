// The timing-device simulator, driven through a real SerialPort as the program drives it.

#include "device/serialport.h"
#include "tables/error.h"
#include "tests/device/receiver.h"
#include "tests/support/errors.h"
#include "tests/support/testfolders.h"
#include "tools/sim/simulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

Q_DECLARE_METATYPE(AnswerMode)
Q_DECLARE_METATYPE(Passage)

namespace {

void send(SerialPort& port, const QString& commands)
{
    for (const QChar command : commands)
        port.SendText(command);
}

qint64 msBetween(qint64 fromNs, qint64 toNs)
{
    return (toNs - fromNs) / 1'000'000;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersTheDialogueCheck_data();
    void answersTheDialogueCheck();
    void followsTheCommands();
    void sendsScriptedPassagesOnTime();
    void stopsSendingAtX();
    void logsEveryCommandWithItsTime();
    void pacesBytesAtTheCharacterTime();
    void generatedPassages_data();
    void generatedPassages();
    void rejectsBadCars_data();
    void rejectsBadCars();
    void parsesScripts_data();
    void parsesScripts();
    void loadsAScriptFile();
    void managesItsLink();
    void runsInItsOwnThread();

private:
    QString install() const { return m_folders->install(); }

    std::unique_ptr<TestFolders> m_folders;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<SerialPort> m_port;
};

void TestSimulator::init()
{
    m_folders = std::make_unique<TestFolders>();
    m_sim = std::make_unique<Simulator>();
    m_port = std::make_unique<SerialPort>();
}

void TestSimulator::cleanup()
{
    m_port.reset();
    m_sim.reset();
    m_folders.reset();
}

void TestSimulator::answersTheDialogueCheck_data()
{
    QTest::addColumn<AnswerMode>("mode");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("delayMs");

    QTest::newRow("normal") << AnswerMode::Normal << "B" << 0;
    QTest::newRow("B1") << AnswerMode::B1 << "B1" << 0;
    QTest::newRow("late") << AnswerMode::Late << "B" << 300;
    QTest::newRow("silent") << AnswerMode::Silent << "" << 0;
}

void TestSimulator::answersTheDialogueCheck()
{
    QFETCH(AnswerMode, mode);
    QFETCH(QString, answer);
    QFETCH(int, delayMs);

    m_sim->setAnswerMode(mode);
    m_sim->setLateMs(delayMs);
    m_sim->start(1);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    m_port->SendText(QStringLiteral("A"));
    if (answer.isEmpty()) {
        QTest::qWait(300);
        QCOMPARE(receiver.text, QString());
        QCOMPARE(m_sim->commandText(), QByteArray("A"));
        return;
    }
    QTRY_COMPARE(receiver.text, answer);
    // Sent as one write, so the program reads it as one text.
    QCOMPARE(m_sim->sent().size(), 1);
    QVERIFY(msBetween(m_sim->commands().first().monotonicNs, m_sim->sent().first().monotonicNs) >= delayMs);
}

void TestSimulator::followsTheCommands()
{
    m_sim->start(1);
    m_port->OpenPort();
    QCOMPARE(m_sim->state(), DeviceState::Idle);

    send(*m_port, QStringLiteral("R43"));
    QTRY_COMPARE(m_sim->commandText(), QByteArray("R43"));
    QCOMPARE(m_sim->state(), DeviceState::StartLights);
    QCOMPARE(m_sim->greenLights(), QList<int>({4, 3}));

    // A new start sequence begins with four red lights again.
    send(*m_port, QStringLiteral("R4321Y"));
    QTRY_COMPARE(m_sim->commandText().size(), 9);
    QCOMPARE(m_sim->state(), DeviceState::StartLights);
    QCOMPARE(m_sim->greenLights(), QList<int>({4, 3, 2, 1}));

    m_sim->setScript({});
    send(*m_port, QStringLiteral("E"));
    QTRY_COMPARE(m_sim->state(), DeviceState::Racing);
    send(*m_port, QStringLiteral("X"));
    QTRY_COMPARE(m_sim->state(), DeviceState::Idle);
    QCOMPARE(m_sim->greenLights(), QList<int>());

    send(*m_port, QStringLiteral("C"));
    QTRY_COMPARE(m_sim->state(), DeviceState::Aligning);
    send(*m_port, QStringLiteral("W"));
    QTRY_COMPARE(m_sim->state(), DeviceState::Idle);
    QCOMPARE(m_sim->commandText(), QByteArray("R43R4321YEXCW"));
    QVERIFY(m_sim->sent().isEmpty());
}

void TestSimulator::sendsScriptedPassagesOnTime()
{
    const QList<Passage> script{{50, 1}, {120, 3}, {120, 2}, {300, 5}, {310, 4}};
    m_sim->setScript(script);
    m_sim->start(1);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    send(*m_port, QStringLiteral("YE"));
    QTRY_COMPARE(receiver.text, QStringLiteral("13254"));

    const qint64 startNs = m_sim->commands().last().monotonicNs;
    const QList<SentBytes> sent = m_sim->sent();
    QCOMPARE(sent.size(), script.size());
    for (qsizetype i = 0; i < script.size(); ++i) {
        QCOMPARE(sent[i].bytes, QByteArray(1, char('0' + script[i].channel)));
        // Never early; late only by what a loaded machine may add.
        const qint64 atMs = msBetween(startNs, sent[i].monotonicNs);
        QVERIFY2(atMs >= script[i].timeMs && atMs < script[i].timeMs + 1000,
                 qPrintable(QStringLiteral("passage %1 at %2 ms").arg(i).arg(atMs)));
    }
}

void TestSimulator::stopsSendingAtX()
{
    m_sim->setCars({2, 40, 10, 7});
    m_sim->start(1);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    send(*m_port, QStringLiteral("E"));
    QTRY_VERIFY(receiver.text.size() >= 4);
    for (const QChar channel : std::as_const(receiver.text))
        QVERIFY(channel == QLatin1Char('1') || channel == QLatin1Char('2'));

    send(*m_port, QStringLiteral("X"));
    QTRY_COMPARE(m_sim->state(), DeviceState::Idle);
    const qint64 stopNs = m_sim->commands().last().monotonicNs;
    const qsizetype sentAtStop = m_sim->sent().size();
    QTest::qWait(200);
    QCOMPARE(m_sim->sent().size(), sentAtStop);
    QVERIFY(m_sim->sent().last().monotonicNs < stopNs);
}

void TestSimulator::logsEveryCommandWithItsTime()
{
    m_sim->setAnswerMode(AnswerMode::Silent);
    m_sim->start(1);
    QSignalSpy logged(m_sim.get(), &Simulator::commandReceived);
    m_port->OpenPort();
    const qint64 beforeNs = monotonicNowNs();
    const QDateTime before = QDateTime::currentDateTime();
    send(*m_port, QStringLiteral("AY"));
    m_port->SendText(QStringLiteral("?")); // unknown commands are logged too
    QTRY_COMPARE(m_sim->commandText(), QByteArray("AY?"));
    const qint64 afterNs = monotonicNowNs();
    QCOMPARE(logged.count(), 3);

    const QList<ReceivedCommand> commands = m_sim->commands();
    qint64 previousNs = beforeNs;
    for (const ReceivedCommand& command : commands) {
        QVERIFY(command.monotonicNs >= previousNs && command.monotonicNs <= afterNs);
        QVERIFY(command.wallClock >= before.addMSecs(-1) && command.wallClock <= QDateTime::currentDateTime());
        previousNs = command.monotonicNs;
    }

    m_sim->clearRecords();
    QVERIFY(m_sim->commands().isEmpty());
    QVERIFY(m_sim->sent().isEmpty());
}

void TestSimulator::pacesBytesAtTheCharacterTime()
{
    m_sim->setPaced(true);
    m_sim->start(1);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    m_sim->sendNow("12345");
    QTRY_COMPARE(receiver.text, QStringLiteral("12345"));

    const QList<SentBytes> sent = m_sim->sent();
    QCOMPARE(sent.size(), 5);
    for (qsizetype i = 1; i < sent.size(); ++i) {
        QCOMPARE(sent[i].bytes.size(), 1);
        QVERIFY2(sent[i].monotonicNs - sent[i - 1].monotonicNs >= 1'041'666,
                 qPrintable(QStringLiteral("%1 ns").arg(sent[i].monotonicNs - sent[i - 1].monotonicNs)));
    }
}

void TestSimulator::generatedPassages_data()
{
    QTest::addColumn<int>("cars");
    QTest::addColumn<int>("lapMs");
    QTest::addColumn<int>("spreadMs");

    QTest::newRow("five cars") << 5 << 8000 << 1000;
    QTest::newRow("one car, no spread") << 1 << 5000 << 0;
    QTest::newRow("three cars, wide spread") << 3 << 1000 << 999;
}

void TestSimulator::generatedPassages()
{
    QFETCH(int, cars);
    QFETCH(int, lapMs);
    QFETCH(int, spreadMs);

    const CarsSettings settings{cars, lapMs, spreadMs, 42};
    const QList<Passage> passages = generatePassages(settings, 200);
    QCOMPARE(generatePassages(settings, 200), passages);
    if (spreadMs > 0)
        QVERIFY(generatePassages({cars, lapMs, spreadMs, 43}, 200) != passages);

    QList<qint64> lastMs(cars, -1);
    for (qsizetype i = 0; i < passages.size(); ++i) {
        const Passage& p = passages[i];
        QVERIFY(p.channel >= 1 && p.channel <= cars);
        if (i > 0)
            QVERIFY(p.timeMs >= passages[i - 1].timeMs);
        qint64& last = lastMs[p.channel - 1];
        if (last < 0) {
            QVERIFY(p.timeMs < lapMs / 2 + 1);
        } else {
            QVERIFY(p.timeMs - last >= lapMs - spreadMs);
            QVERIFY(p.timeMs - last <= lapMs + spreadMs);
        }
        last = p.timeMs;
    }
    QVERIFY(!lastMs.contains(-1)); // every car laps
}

void TestSimulator::rejectsBadCars_data()
{
    QTest::addColumn<int>("cars");
    QTest::addColumn<int>("lapMs");
    QTest::addColumn<int>("spreadMs");
    QTest::addColumn<QString>("error");

    QTest::newRow("no car") << 0 << 8000 << 0 << "The number of cars must be 1 to 5, not 0";
    QTest::newRow("six cars") << 6 << 8000 << 0 << "The number of cars must be 1 to 5, not 6";
    QTest::newRow("zero lap") << 1 << 0 << 0 << "The lap time must be at least 1 ms, not 0";
    QTest::newRow("spread as long as the lap") << 1 << 1000 << 1000 << "The lap spread must be 0 to 999 ms, not 1000";
    QTest::newRow("negative spread") << 1 << 1000 << -1 << "The lap spread must be 0 to 999 ms, not -1";
}

void TestSimulator::rejectsBadCars()
{
    QFETCH(int, cars);
    QFETCH(int, lapMs);
    QFETCH(int, spreadMs);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { m_sim->setCars({cars, lapMs, spreadMs, 1}); }), error);
}

void TestSimulator::parsesScripts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<Passage>>("expected");
    QTest::addColumn<QString>("error");

    QTest::newRow("empty") << "" << QList<Passage>() << "";
    QTest::newRow("separators, comments, blank lines") << "# heat 1\n100 1\n\n  250,2 # a lap\n300;\t3\r\n"
                                                       << QList<Passage>{{100, 1}, {250, 2}, {300, 3}} << "";
    QTest::newRow("sorted by time, ties in script order")
        << "500 1\n100 2\n500 3\n100 4" << QList<Passage>{{100, 2}, {100, 4}, {500, 1}, {500, 3}} << "";
    QTest::newRow("missing channel") << "100 1\n200\n"
                                     << QList<Passage>()
                                     << "Passage script line 2: expected <time-ms> <channel>: \"200\"";
    QTest::newRow("channel out of range")
        << "100 6" << QList<Passage>() << "Passage script line 1: the channel must be 1 to 5: \"100 6\"";
    QTest::newRow("negative time")
        << "\n\n-5 1" << QList<Passage>()
        << "Passage script line 3: the time must be a whole number of milliseconds, 0 or more: \"-5 1\"";
    QTest::newRow("not a number")
        << "1.5 2" << QList<Passage>()
        << "Passage script line 1: the time must be a whole number of milliseconds, 0 or more: \"1.5 2\"";
}

void TestSimulator::parsesScripts()
{
    QFETCH(QString, text);
    QFETCH(QList<Passage>, expected);
    QFETCH(QString, error);

    QList<Passage> parsed;
    QCOMPARE(errorOf([&] { parsed = parsePassageScript(text); }), error);
    QCOMPARE(parsed, expected);
}

void TestSimulator::loadsAScriptFile()
{
    QCOMPARE(loadPassageScript(TestFolders::fixture(QStringLiteral("passages.txt"))),
             (QList<Passage>{{0, 1}, {1500, 2}, {1500, 3}, {3200, 1}, {9000, 2}}));
    const QString missing = install() + "missing.txt";
    QVERIFY(errorOf([&] { loadPassageScript(missing); }).startsWith("Cannot read the passage script " + missing));
}

void TestSimulator::managesItsLink()
{
    // A stale link left by a simulator that died is replaced.
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/99999"), install() + "COM2"));
    m_sim->start(2);
    QCOMPARE(m_sim->linkPath(), install() + "COM2");
    QCOMPARE(QFileInfo(install() + "COM2").symLinkTarget(), m_sim->ptyPath());
    QCOMPARE(errorOf([&] { m_sim->start(3); }),
             QStringLiteral("The simulator is already running on %1COM2").arg(install()));

    // A vanished device leaves its link dangling; stopping removes it.
    m_sim->closeDevice();
    QVERIFY(!m_sim->isRunning());
    QVERIFY(QFileInfo(install() + "COM2").isSymLink());
    m_sim->stop();
    QVERIFY(!QFileInfo(install() + "COM2").isSymLink());

    // Whatever else stands there is not the simulator's to replace.
    QFile file(install() + "COM1");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(errorOf([&] { m_sim->start(1); }),
             QStringLiteral("%1COM1 exists and is not a link: remove it or choose another port").arg(install()));
    QVERIFY(QFile::link(file.fileName(), install() + "COM3"));
    QCOMPARE(errorOf([&] { m_sim->start(3); }),
             QStringLiteral("%1COM3 links to %1COM1, which is not a simulator's: remove it or choose another port")
                 .arg(install()));
    QVERIFY(!m_sim->isRunning());
    QCOMPARE(QFileInfo(install() + "COM3").symLinkTarget(), file.fileName());

    // Another folder is made when missing.
    m_sim->start(4, install() + "new/folder");
    QCOMPARE(m_sim->linkPath(), install() + "new/folder/COM4");
    QVERIFY(QFileInfo(m_sim->linkPath()).isSymLink());
}

void TestSimulator::runsInItsOwnThread()
{
    QThread thread;
    auto* sim = new Simulator;
    sim->moveToThread(&thread);
    connect(&thread, &QThread::finished, sim, &QObject::deleteLater);
    thread.start();
    QString startError;
    QMetaObject::invokeMethod(
        sim, [&] { startError = errorOf([&] { sim->start(1); }); }, Qt::BlockingQueuedConnection);
    QCOMPARE(startError, QString());

    Receiver receiver(*m_port);
    m_port->OpenPort();
    m_port->SendText(QStringLiteral("A"));
    QTRY_COMPARE(receiver.text, QStringLiteral("B"));
    QCOMPARE(sim->commandText(), QByteArray("A")); // the records are read across threads

    QMetaObject::invokeMethod(
        sim, [sim] { sim->stop(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    QVERIFY(thread.wait(5000));
    QVERIFY(!QFileInfo(install() + "COM1").isSymLink());
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
