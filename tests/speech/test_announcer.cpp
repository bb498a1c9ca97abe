#include "speech/announcer.h"
#include "speech/callouts.h"

#include <QMutex>
#include <QSemaphore>
#include <QTest>

#include <atomic>

namespace {

// A slow voice: say() blocks until the test lets it go, as a stuck speech engine would.
struct FakeVoice
{
    QSemaphore started; // one permit each time say() begins
    QSemaphore gate;    // say() takes one to finish
    std::atomic<bool> inSay{false};
    std::atomic<int> finishedCount{0};
    std::atomic<int> created{0};
    std::atomic<int> stops{0};
    std::atomic<bool> stuck{false}; // say() gave up waiting: the test never let it go
    QString reasonFromStart;        // the engine is in error as soon as it exists
    QString reasonAfterSay;         // the engine falls into error once it has said something

    QMutex mutex;
    QStringList said;

    QStringList saidSoFar()
    {
        QMutexLocker lock(&mutex);
        return said;
    }
};

class FakeEngine : public SpeechEngine
{
public:
    explicit FakeEngine(FakeVoice* voice) : m_voice(voice) { ++m_voice->created; }

    QString unavailableReason() const override { return m_failed ? m_voice->reasonAfterSay : m_voice->reasonFromStart; }

    void say(const QString& text) override
    {
        {
            QMutexLocker lock(&m_voice->mutex);
            m_voice->said << text;
        }
        m_voice->inSay = true;
        m_voice->started.release();
        if (!m_voice->gate.tryAcquire(1, 10000))
            m_voice->stuck = true;
        m_voice->inSay = false;
        ++m_voice->finishedCount;
        m_failed = !m_voice->reasonAfterSay.isEmpty();
        emit finished();
    }

    void stop() override { ++m_voice->stops; }

private:
    FakeVoice* m_voice;
    bool m_failed = false;
};

Announcer::EngineFactory fakeFactory(FakeVoice* voice)
{
    return [voice]() -> std::unique_ptr<SpeechEngine> { return std::make_unique<FakeEngine>(voice); };
}

// A call made while the voice is busy; channel 0 is a message (`name` is its text).
struct Call
{
    int channel;
    QString name;
    int lap = 0;
    qint64 lapMs = 0;
};

void place(Announcer& announcer, const Call& call)
{
    if (call.channel == 0)
        announcer.announce(call.name);
    else
        announcer.announceLap(call.channel, call.name, call.lap, call.lapMs);
}

// Everything logged in the speech category while the object lives.
class SpeechLog
{
public:
    SpeechLog()
    {
        s_lines.clear();
        s_previous = qInstallMessageHandler(&SpeechLog::handle);
    }
    ~SpeechLog() { qInstallMessageHandler(s_previous); }
    QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (context.category && qstrcmp(context.category, "quintara.speech") == 0) {
            QMutexLocker lock(&s_mutex);
            s_lines << text;
            return;
        }
        s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};

} // namespace

Q_DECLARE_METATYPE(QList<Call>)

// The announcer: calls never wait for the voice, stale laps give way to newer ones, and a missing
// voice is reported once and otherwise ignored.
class TestAnnouncer : public QObject
{
    Q_OBJECT
private slots:
    void callsReturnWhileTheVoiceIsBusy();
    void staleLapsAreDropped_data();
    void staleLapsAreDropped();
    void offSaysNothing();
    void noVoice_data();
    void noVoice();
};

void TestAnnouncer::callsReturnWhileTheVoiceIsBusy()
{
    FakeVoice voice;
    Announcer announcer(fakeFactory(&voice));
    announcer.setEnabled(true);
    announcer.announceLap(1, QStringLiteral("Rossi"), 1, 0);
    QVERIFY(voice.started.tryAcquire(1, 5000));

    // The voice is now stuck in say(); every call below must come back while it still is.
    for (int lap = 2; lap <= 30; ++lap) {
        announcer.announceLap(1 + lap % 5, QStringLiteral("Rossi"), lap, 14300 + lap);
        QVERIFY(voice.inSay);
    }
    announcer.announce(callouts::lastMinute);
    announcer.setEnabled(true);
    QVERIFY(voice.inSay);
    QCOMPARE(voice.finishedCount.load(), 0);
    QVERIFY(!announcer.isIdle());

    voice.gate.release(100);
    QTRY_VERIFY(announcer.isIdle());
    QVERIFY(!voice.stuck);
    // One call-out for each of the five cars, the newest lap each, then the message.
    QCOMPARE(voice.saidSoFar(), QStringList({
                                    "Rossi, giro 1",
                                    "Rossi, giro 26, 14 e 3",
                                    "Rossi, giro 27, 14 e 3",
                                    "Rossi, giro 28, 14 e 3",
                                    "Rossi, giro 29, 14 e 3",
                                    "Rossi, giro 30, 14 e 3",
                                    "Ultimo minuto",
                                }));
    QCOMPARE(voice.created.load(), 1);
}

void TestAnnouncer::staleLapsAreDropped_data()
{
    QTest::addColumn<QList<Call>>("calls");
    QTest::addColumn<QStringList>("said");

    // Each row starts while "Rossi, giro 1" (channel 1) is being said.
    QTest::newRow("newer lap of the same car replaces the waiting one")
        << QList<Call>{{1, "Rossi", 2, 14300}, {1, "Rossi", 3, 14100}}
        << QStringList{"Rossi, giro 1", "Rossi, giro 3, 14 e 1"};
    QTest::newRow("other cars keep their order")
        << QList<Call>{{2, "Bianchi", 1, 0}, {3, "Verdi", 1, 0}, {4, "Neri", 1, 0}}
        << QStringList{"Rossi, giro 1", "Bianchi, giro 1", "Verdi, giro 1", "Neri, giro 1"};
    QTest::newRow("the newer lap goes after cars that passed before it")
        << QList<Call>{{2, "Bianchi", 1, 0}, {1, "Rossi", 2, 14300}, {3, "Verdi", 1, 0}, {1, "Rossi", 3, 14100}}
        << QStringList{"Rossi, giro 1", "Bianchi, giro 1", "Verdi, giro 1", "Rossi, giro 3, 14 e 1"};
    QTest::newRow("cars are told apart by channel, not by name")
        << QList<Call>{{2, "Rossi", 2, 15000}, {3, "Rossi", 2, 16000}}
        << QStringList{"Rossi, giro 1", "Rossi, giro 2, 15 e 0", "Rossi, giro 2, 16 e 0"};
    QTest::newRow("messages are never replaced by laps")
        << QList<Call>{{1, "Rossi", 2, 14300}, {0, callouts::lastMinute}, {1, "Rossi", 3, 14100}}
        << QStringList{"Rossi, giro 1", "Ultimo minuto", "Rossi, giro 3, 14 e 1"};
    QTest::newRow("a message still waiting is said once")
        << QList<Call>{{0, callouts::lastMinute}, {0, callouts::lastMinute}, {0, callouts::endOfRace}}
        << QStringList{"Rossi, giro 1", "Ultimo minuto", "Fine gara"};
}

void TestAnnouncer::staleLapsAreDropped()
{
    QFETCH(QList<Call>, calls);
    QFETCH(QStringList, said);

    FakeVoice voice;
    Announcer announcer(fakeFactory(&voice));
    announcer.setEnabled(true);
    announcer.announceLap(1, QStringLiteral("Rossi"), 1, 0);
    QVERIFY(voice.started.tryAcquire(1, 5000));
    for (const Call& call : calls)
        place(announcer, call);

    voice.gate.release(100);
    QTRY_VERIFY(announcer.isIdle());
    QCOMPARE(voice.saidSoFar(), said);
}

void TestAnnouncer::offSaysNothing()
{
    FakeVoice voice;
    Announcer announcer(fakeFactory(&voice));
    QVERIFY(!announcer.isEnabled());
    announcer.announceLap(1, QStringLiteral("Rossi"), 1, 0);
    announcer.announce(callouts::lastMinute);
    QVERIFY(announcer.isIdle());

    // Switching off drops what waits and cuts short what is being said.
    announcer.setEnabled(true);
    announcer.announceLap(1, QStringLiteral("Rossi"), 2, 14300);
    QVERIFY(voice.started.tryAcquire(1, 5000));
    announcer.announceLap(2, QStringLiteral("Bianchi"), 2, 15300);
    announcer.announce(callouts::endOfRace);
    announcer.setEnabled(false);
    QVERIFY(!announcer.isEnabled());
    announcer.announceLap(3, QStringLiteral("Verdi"), 2, 16300);
    voice.gate.release(100);
    QTRY_VERIFY(announcer.isIdle());
    QTRY_COMPARE(voice.stops.load(), 1);

    // Back on, only what comes after is said.
    announcer.setEnabled(true);
    announcer.announce(callouts::endOfRace);
    QTRY_COMPARE(voice.finishedCount.load(), 2);
    QTRY_VERIFY(announcer.isIdle());
    QCOMPARE(voice.saidSoFar(), QStringList({"Rossi, giro 2, 14 e 3", "Fine gara"}));
    // The engine is made once, when speech is first switched on, never while it is off.
    QCOMPARE(voice.created.load(), 1);
}

void TestAnnouncer::noVoice_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("reasonFromStart");
    QTest::addColumn<QString>("reasonAfterSay");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("saidCount");

    QTest::newRow("no engine installed") << false << QString() << QString()
                                         << "Spoken call-outs are off: no text-to-speech engine is installed" << 0;
    QTest::newRow("engine in error from the start")
        << true << "speechd: cannot connect" << QString() << "Spoken call-outs are off: speechd: cannot connect" << 0;
    QTest::newRow("engine falls into error while speaking")
        << true << QString() << "speechd: connection lost"
        << "Spoken call-outs are off: speechd: connection lost" << 1;
}

void TestAnnouncer::noVoice()
{
    QFETCH(bool, installed);
    QFETCH(QString, reasonFromStart);
    QFETCH(QString, reasonAfterSay);
    QFETCH(QString, logged);
    QFETCH(int, saidCount);

    SpeechLog log;
    FakeVoice voice;
    voice.reasonFromStart = reasonFromStart;
    voice.reasonAfterSay = reasonAfterSay;
    voice.gate.release(100);
    Announcer announcer(installed ? fakeFactory(&voice)
                                  : Announcer::EngineFactory([] { return std::unique_ptr<SpeechEngine>(); }));

    announcer.setEnabled(true);
    for (int lap = 1; lap <= 5; ++lap) {
        announcer.announceLap(1, QStringLiteral("Rossi"), lap, 14300);
        announcer.announceLap(2, QStringLiteral("Bianchi"), lap, 15300);
    }
    announcer.announce(callouts::lastMinute);
    QTRY_COMPARE(log.lines().size(), 1);
    QTRY_VERIFY(announcer.isIdle());

    // Switching off and on again, and more call-outs, neither speak nor log again.
    announcer.setEnabled(false);
    announcer.setEnabled(true);
    announcer.announceLap(1, QStringLiteral("Rossi"), 6, 14300);
    announcer.announce(callouts::endOfRace);
    QTRY_VERIFY(announcer.isIdle());

    QCOMPARE(log.lines(), QStringList{logged});
    QCOMPARE(voice.saidSoFar().size(), saidCount);
    QCOMPARE(voice.created.load(), installed ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestAnnouncer)
#include "test_announcer.moc"
