#include "device/datiseriale.h"
#include "device/serialport.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/raceday/meeting.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

// The line misbehaving during a heat: noise and merged readings, and the device pulled out.
class TestLineFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void randomBytesOnTheLine();
    void devicePulledMidHeat();

private:
    std::unique_ptr<ProgramSession> m_session;
};

namespace {

// One heat of four on channels 1..4.
void prepareHeat()
{
    meeting::prepareRaceWindow();
    meeting::enterCompetitors({QStringLiteral("Anna|27.1|A"), QStringLiteral("Bruno|27.2|A"),
                               QStringLiteral("Carla|27.3|A"), QStringLiteral("Dario|27.4|A")});
    meeting::createQualifications(QStringLiteral("0"), 4, 1, 1);
}

QList<Passage> lapping(int lapMs, int untilMs)
{
    QList<Passage> passages;
    for (int t = lapMs; t < untilMs; t += lapMs) {
        for (int c = 1; c <= 4; ++c)
            passages.append({t + 37 * c, c});
    }
    return passages;
}

int laps(int channel)
{
    Table& t = *Gestione_gare->CDS_Gara;
    for (int row = 0; row < t.recordCount(); ++row) {
        if (t.valueAt(row, t.fieldIndex(layouts::num)).toInt() == channel)
            return t.valueAt(row, t.fieldIndex(layouts::giri)).toInt();
    }
    return -1;
}

} // namespace

void TestLineFaults::init()
{
    m_session = std::make_unique<ProgramSession>();
    m_session->start();
}

void TestLineFaults::randomBytesOnTheLine()
{
    Simulator& device = m_session->device();
    prepareHeat();

    // What the program read at each reception, and whether the race time was over then.
    struct Reading
    {
        QString text;
        bool timeUp;
    };
    QList<Reading> readings;
    connect(Gestione_gare->VaComm1, &SerialPort::OnRxChar, this,
            [&readings] { readings.append({Gestione_gare->receivedText, Gestione_gare->timeUp}); });

    // Noise between the passages: random bytes, digits that are not channels, several characters at once,
    // often read together with a passage.
    QRandomGenerator random(20261210);
    QTimer noise;
    noise.setInterval(53);
    connect(&noise, &QTimer::timeout, this, [&] {
        // Channel digits are passages, whatever comes with them; the noise holds none.
        static const QList<QByteArray> tricky = {"0", "6", "9", "\r\n", "0\n", "B", "B0", "66", "\x00"};
        QByteArray bytes;
        if (random.bounded(2)) {
            bytes = tricky.at(random.bounded(int(tricky.size())));
        } else {
            for (int i = random.bounded(1, 4); i > 0; --i) {
                char c;
                do {
                    c = char(random.bounded(256));
                } while (c >= '1' && c <= '5');
                bytes.append(c);
            }
        }
        device.sendNow(bytes);
    });
    meeting::startRace(device, lapping(450, 12000));
    noise.start();
    QTRY_VERIFY_WITH_TIMEOUT(device.commandText().contains('X'), 30000);
    noise.stop();
    QTest::qWait(100);

    // Nothing was lost on the way: the program read exactly what the device sent while the port was open.
    QByteArray read;
    for (const Reading& r : readings)
        read += r.text.toLatin1();
    QVERIFY(device.sentText().startsWith(read) || device.sentText().contains(read));
    QCOMPARE(Form_Dati_Seriale->Me_Dati_Ser->text().size(), qsizetype(QString::fromLatin1(read).size()));

    // Every channel digit read was a passage, in the order read, and the laps are what the lap rules make of
    // them: none was lost in the noise around it.
    QList<int> digits;
    for (const QChar c : QString::fromLatin1(read)) {
        if (c >= QLatin1Char('1') && c <= QLatin1Char('5'))
            digits.append(c.digitValue());
    }
    QList<int> recorded;
    for (const racerecord::Event& e : Gestione_gare->raceRecord.events)
        recorded.append(e.channel);
    QCOMPARE(recorded, digits);
    const racerecord::Replay replayed = racerecord::replay(Gestione_gare->raceRecord);
    QVERIFY(replayed.complete);
    int merged = 0;
    for (int channel = 1; channel <= 4; ++channel) {
        QCOMPARE(laps(channel), replayed.cars[channel]->laps);
        QVERIFY(laps(channel) >= 5);
    }
    for (const Reading& r : readings)
        merged += r.text.size() > 1 ? 1 : 0;
    qInfo("%lld readings, %d of several characters", static_cast<long long>(readings.size()), merged);
    QVERIFY(dialogs::shown().size() <= 1); // the one question of "Crea Nuove Qualifiche"
}

void TestLineFaults::devicePulledMidHeat()
{
    Simulator& device = m_session->device();
    prepareHeat();
    meeting::startRace(device, lapping(400, 60000));
    QTRY_VERIFY_WITH_TIMEOUT(laps(1) >= 3 && laps(4) >= 3, 10000);

    dialogs::clearShown();
    device.closeDevice();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs::shown().size(), qsizetype(1), 5000);
    QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Error);
    QTest::qWait(300);
    QCOMPARE(dialogs::shown().size(), qsizetype(1)); // one box, not a stream of them
    QVERIFY(!Gestione_gare->VaComm1->isOpen());

    // The program goes on, and the laps counted so far stay in the table.
    QList<int> counted;
    for (int channel = 1; channel <= 4; ++channel)
        counted.append(laps(channel));
    Gestione_gare->Bitb_Stop->click();
    QVERIFY(Gestione_gare->Bitb_Start->isEnabled());
    for (int channel = 1; channel <= 4; ++channel)
        QCOMPARE(laps(channel), counted[channel - 1]);

    // ... and are written on exit, the race table having been opened from its file.
    Gestione_gare->Exit1->trigger();
    Table saved;
    saved.setFileName(paths::programFile(layouts::qualificationFile));
    saved.open();
    QList<int> written;
    for (saved.first(); !saved.eof(); saved.next())
        written.append(saved.value(layouts::giri).toInt());
    std::sort(counted.begin(), counted.end());
    std::sort(written.begin(), written.end());
    QCOMPARE(written, counted);
}

QTEST_MAIN(TestLineFaults)
#include "test_linefaults.moc"
