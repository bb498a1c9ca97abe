#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "device/wavplayer.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "tests/support/racefixture.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

double msToDay(qint64 ms)
{
    return double(ms) / timetext::msPerDay;
}

// "giri" (qualifications) or "n.giri" (finals) of channels 1..cars.
QList<int> laps(int cars)
{
    const QString field = Form_Qualifica->qualificationsActive ? layouts::giri : layouts::nGiri;
    QList<int> list;
    for (int ch = 1; ch <= cars; ++ch)
        list.append(RaceFixture::value(ch, field).toInt());
    return list;
}

} // namespace

// Lap-time texts, the race clock with its windows, Start, Interrompi, "Fine manche", the start lights and the
// standings of a final at its time up.
class TestRaceClock : public QObject
{
    Q_OBJECT
private slots:
    void bestLap_data();
    void bestLap();
    void bestLapSpansTheRounds();
    void longLapAndTotalTexts();
    void clockOfARace_data();
    void clockOfARace();
    void minimumLapEntry_data();
    void minimumLapEntry();
    void startRefused_data();
    void startRefused();
    void stopWindowLeftOpen();
    void fineMancheCompletesARaceMissingOneCar();
    void interrompiWritesNothing();
    void finalStandingsAtTimeUp();
    void startLightsInRealTime();
    void startLightsWhenThePortIsHeld();
};

void TestRaceClock::bestLap_data()
{
    QTest::addColumn<bool>("finals");
    QTest::addColumn<QStringList>("bestTexts"); // after each counted lap of 0, 9.8, 9.5, 9.5 and 9.9 s
    QTest::addColumn<QList<qint64>>("bestMs");

    // clang-format off
    QTest::newRow("qualifications") << false
                                    << QStringList{"00.00.00", "0.9.800", "0.9.500", "0.9.500", "0.9.500"}
                                    << QList<qint64>{0, 9800, 9500, 9500, 9500};
    QTest::newRow("finals") << true << QStringList{"0.0.0", "0.9.800", "0.9.500", "0.9.500", "0.9.500"}
                            << QList<qint64>{0, 9800, 9500, 9500, 9500};
    // clang-format on
}

void TestRaceClock::bestLap()
{
    QFETCH(bool, finals);
    QFETCH(QStringList, bestTexts);
    QFETCH(QList<qint64>, bestMs);
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    if (finals)
        QVERIFY(race.buildFinal(2));
    QVERIFY(race.startRace());
    const QString bestTime = finals ? layouts::tempoMiglTime : layouts::tempoMiglTtime;
    const QString bestText = finals ? layouts::tempoMiglText : layouts::tempoMigl;
    QVERIFY(RaceFixture::value(1, bestTime).isNull());

    const QList<qint64> passages = {0, 9800, 19300, 28800, 38700};
    for (int i = 0; i < passages.size(); ++i) {
        QVERIFY(race.receive("1", passages[i]));
        QCOMPARE(RaceFixture::value(1, bestTime).toDouble(), Table::roundTime(msToDay(bestMs[i])));
        QCOMPARE(RaceFixture::value(1, bestText).toString(), bestTexts[i]);
    }
    QCOMPARE(laps(2), (QList<int>{5, 0}));
}

void TestRaceClock::bestLapSpansTheRounds()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1, 2));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 9800));
    race.tick(100);
    QVERIFY(race.receive("1", 70000)); // the last passage ends the heat
    QCOMPARE(Gestione_gare->qualificationsDone, 1);
    QCOMPARE(RaceFixture::value(1, layouts::tempoMigl).toString(), QStringLiteral("0.9.800"));

    // The next round: its first passage counts with a lap time of 0, which leaves the best lap alone.
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 200000));
    QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 4);
    QCOMPARE(RaceFixture::value(1, layouts::tempoSGiro).toString(), QStringLiteral("00.00.00"));
    QCOMPARE(RaceFixture::value(1, layouts::tempoMigl).toString(), QStringLiteral("0.9.800"));
    QVERIFY(race.receive("1", 209900));
    QCOMPARE(RaceFixture::value(1, layouts::tempoMigl).toString(), QStringLiteral("0.9.800"));
    QVERIFY(race.receive("1", 219400));
    QCOMPARE(RaceFixture::value(1, layouts::tempoMigl).toString(), QStringLiteral("0.9.500"));
}

void TestRaceClock::longLapAndTotalTexts()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1));
    // Longer than the heat settings allow (23 minutes), to reach 1421 ticks.
    Gestione_gare->raceDuration = 1500.0 / 86400;
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QCOMPARE(race.tick(1421), 1421);
    QVERIFY(race.receive("1", 615250)); // 10 min 15.25 s

    QCOMPARE(RaceFixture::value(1, layouts::tempoSGiroTtime).toDouble(), Table::roundTime(msToDay(615250)));
    QCOMPARE(RaceFixture::value(1, layouts::tempoSGiro).toString(), QStringLiteral("10.15.25"));
    // 1421 clock steps fall just short of 1421 s.
    QCOMPARE(timetext::decode(Gestione_gare->elapsedRaceTime).milliseconds, 999);
    QCOMPARE(RaceFixture::value(1, layouts::tempoTot).toString(), QStringLiteral("23.40"));
    QCOMPARE(Gestione_gare->Ed_Durata_Gara->text(), QStringLiteral("1:19"));
}

void TestRaceClock::clockOfARace_data()
{
    QTest::addColumn<int>("minutes");
    // clang-format off
    QTest::newRow("one minute") << 1;
    QTest::newRow("two minutes") << 2;
    QTest::newRow("five minutes") << 5;
    // clang-format on
}

void TestRaceClock::clockOfARace()
{
    QFETCH(int, minutes);
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1, 1, minutes));
    QVERIFY(race.startRace());
    TGestione_gare* g = Gestione_gare;
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("%1:0").arg(minutes));
    QVERIFY(!g->Bitb_Start->isEnabled());
    QVERIFY(g->Bitb_Stop->isEnabled());

    const int warningTick = 60 * (minutes - 1) + 1;
    QCOMPARE(race.tick(warningTick - 1), warningTick - 1);
    QVERIFY(!Form_1min->isVisible());
    race.tick();
    QVERIFY(Form_1min->isVisible());
    QVERIFY(g->oneMinuteWarned);
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("0:59"));

    race.tick(60 * minutes - warningTick);
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("0:0"));
    QVERIFY(g->remainingTime > 0);
    race.tick();
    QCOMPARE(g->remainingTime, 0.0);
    QVERIFY(!g->timeUp);
    QVERIFY(!FormStop->isVisible());

    // The tick that finds no time left declares it up, once.
    QCOMPARE(race.tick(10), 1);
    QVERIFY(g->timeUp);
    QVERIFY(!g->Timer1->isActive());
    double elapsed = 0;
    for (int i = 0; i < 60 * minutes + 2; ++i)
        elapsed += timetext::clockStep;
    QCOMPARE(g->elapsedRaceTime, elapsed);
    QVERIFY(FormStop->isVisible());
    QVERIFY(g->Bitb_Start->isEnabled());
    QVERIFY(!g->Bitb_Stop->isEnabled());
    // The only heat of the only round has run.
    QCOMPARE(g->heatsRunInRound, 1);
    QCOMPARE(g->qualificationsDone, 1);
    QCOMPARE(g->Mem_Qualif_fatte->text(), QStringLiteral("1"));
    QVERIFY(g->EstraiFinalisti1->isEnabled());
    QVERIFY(g->Stampaqualifiche1->isEnabled());
    QVERIFY(g->VisualizzarisultatiQualifiche1->isEnabled());
}

void TestRaceClock::minimumLapEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<double>("hours"); // the entry read as a time of day; negative: refused
    QTest::addColumn<QString>("error");

    // clang-format off
    QTest::newRow("5") << "5" << 5.0 << "";
    QTest::newRow("0") << "0" << 0.0 << "";
    QTest::newRow("23, the largest") << "23" << 23.0 << "";
    QTest::newRow("a minutes part adds sixtieths") << "0:30" << 0.5 << "";
    QTest::newRow("24") << "24" << -1.0 << "'24' is not a valid time";
    QTest::newRow("empty") << "" << -1.0 << "'' is not a valid time";
    QTest::newRow("not a number") << "5s" << -1.0 << "'5s' is not a valid time";
    // clang-format on
}

void TestRaceClock::minimumLapEntry()
{
    QFETCH(QString, entry);
    QFETCH(double, hours);
    QFETCH(QString, error);
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    TGestione_gare* g = Gestione_gare;
    // Left over from an earlier race.
    g->elapsedRaceTime = 0.01;
    g->timeUp = true;
    g->oneMinuteWarned = true;
    g->currentHeat = 4;
    g->receivedText = QStringLiteral("3");
    for (auto& channel : g->channels) {
        channel.awaitingFirstPassage = false;
        channel.channelFinished = true;
    }

    Form_tempo_min->Ed_tempo_min->setText(entry);
    g->Bitb_Start->click();

    // The race values are reset and the channels armed whatever the entry.
    QCOMPARE(g->elapsedRaceTime, 0.0);
    QVERIFY(!g->timeUp && !g->oneMinuteWarned);
    QCOMPARE(g->currentHeat, 0);
    QVERIFY(g->receivedText.isEmpty());
    for (int ch = 1; ch <= 5; ++ch)
        QVERIFY(g->channels[ch].awaitingFirstPassage);
    if (hours < 0) {
        QCOMPARE(dialogs::shownTexts(), QStringList{error});
        QVERIFY(g->Btn_Fine_Manche->isHidden());
        QVERIFY(!Form_Via->isVisible());
        for (int ch = 1; ch <= 5; ++ch)
            QVERIFY(g->channels[ch].channelFinished); // the heat's channels were not armed
        return;
    }
    // Hours times the seconds scale: an entry of 5 is just under 5 s, so a lap of exactly 5 s counts.
    QCOMPARE(g->minLapTime, hours / 24 * timetext::minLapScale);
    QVERIFY(g->minLapTime * 86400 <= hours);
    QVERIFY(hours == 0 || g->minLapTime * 86400 > hours - 1e-6);
    QVERIFY(dialogs::shown().isEmpty());
    QVERIFY(Form_Via->isVisible());
    QVERIFY(!g->Btn_Fine_Manche->isHidden());
}

void TestRaceClock::startRefused_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("rounds unknown") << "rounds" << "manca nr qualifiche da fare - lanciare gestione batterie";
    QTest::newRow("all rounds run") << "done" << "nr. di qualifiche già effettuate tutte";
    QTest::newRow("heats not handed over") << "heats" << "prima occorre valorizzare batterie in gestione batterie";
    QTest::newRow("all finals run") << "finals" << "nr. di finali già effettuate tutte";
    // clang-format on
}

void TestRaceClock::startRefused()
{
    QFETCH(QString, situation);
    QFETCH(QString, message);
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2, 1));
    TGestione_gare* g = Gestione_gare;
    if (situation == QLatin1String("rounds"))
        g->Mem_qual_da_fare->setText(QString());
    else if (situation == QLatin1String("done"))
        g->qualificationsDone = 1;
    else if (situation == QLatin1String("heats"))
        g->Ed_Nr_Batterie->setText(QStringLiteral("Ed_Nr_Batterie"));
    else if (situation == QLatin1String("finals")) {
        QVERIFY(race.buildFinal(2));
        g->Ed_Finali_Fatte->setText(QStringLiteral("0"));
    }
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    g->Bitb_Stop->setEnabled(false);
    g->Bitb_Start->click();

    QCOMPARE(dialogs::shownTexts(), QStringList{message});
    QVERIFY(!g->Btn_Fine_Manche->isHidden()); // shown before the checks
    QVERIFY(!Form_Via->isVisible());
    QVERIFY(!g->Bitb_Stop->isEnabled());
    QVERIFY(!g->VaComm1->isOpen());
}

void TestRaceClock::stopWindowLeftOpen()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 1));
    TGestione_gare* g = Gestione_gare;
    QVERIFY(race.startRace());
    race.tick(100);
    QVERIFY(FormStop->isVisible());
    QVERIFY(race.receive("1", 70000)); // the heat's only car ends the heat
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));

    // The next heat, with the STOP window still open.
    QVERIFY(g->Bitb_Start->isEnabled());
    QVERIFY(race.startRace());
    QCOMPARE(g->currentHeat, 0);
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QStringLiteral("2"));
    QVERIFY(!g->Bitb_Start->isEnabled());
    race.tick(100);
    QVERIFY(g->timeUp);
    QVERIFY(FormStop->isVisible());
    QVERIFY(!g->Bitb_Start->isEnabled());
    QVERIFY(g->Bitb_Stop->isEnabled());
    // Only "Fine manche" or "Interrompi" enable Start now.
    g->Btn_Fine_Manche->click();
    QVERIFY(g->Bitb_Start->isEnabled());
}

void TestRaceClock::fineMancheCompletesARaceMissingOneCar()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    TGestione_gare* g = Gestione_gare;
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("2", 100));
    QVERIFY(race.receive("1", 9000));
    race.tick(100);
    QVERIFY(race.receive("1", 70000));
    QVERIFY(race.receive("2", 71000));
    QVERIFY(!g->channels[3].channelFinished); // car 3 never comes
    QVERIFY(g->VaComm1->isOpen());
    const int sounds = Form_Semaforo->MediaPlayer1->attempts();
    FormStop->close();

    g->Btn_Fine_Manche->click();
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QVERIFY(!g->VaComm1->isOpen());
    QCOMPARE(Form_Semaforo->MediaPlayer1->attempts(), sounds + 1);
    Table saved;
    saved.setFileName(paths::programFile(layouts::qualificationFile));
    saved.open();
    saved.setIndexFieldNames(layouts::num);
    QList<int> savedLaps;
    for (saved.first(); !saved.eof(); saved.next())
        savedLaps.append(saved.asInteger(layouts::giri));
    QCOMPARE(savedLaps, (QList<int>{3, 2, 0}));
    QVERIFY(g->Bitb_Start->isEnabled());
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("0:0"));
    QVERIFY(!g->Timer1->isActive());
    QVERIFY(g->EstraiFinalisti1->isEnabled());
    QVERIFY(!FormStop->isVisible()); // not the end-of-time step
    QCOMPARE(dialogs::shownTexts(), QStringList());
}

void TestRaceClock::interrompiWritesNothing()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    TGestione_gare* g = Gestione_gare;
    QVERIFY(race.startRace());
    const QString file = paths::programFile(layouts::qualificationFile);
    const QByteArray before = readFile(file);
    QVERIFY(!before.isEmpty());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 9000));
    QVERIFY(race.receive("3", 9500));
    race.tick(10);

    g->Bitb_Stop->click();
    // The command sent right before the port closes still reaches the device.
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QVERIFY(!g->VaComm1->isOpen());
    QVERIFY(!g->Timer1->isActive());
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("0:0"));
    QVERIFY(g->Btn_Fine_Manche->isHidden());
    QVERIFY(g->Bitb_Start->isEnabled());
    QVERIFY(g->Bitb_Stop->isEnabled());
    QVERIFY(!g->timeUp);
    QVERIFY(!FormStop->isVisible());
    for (int ch = 1; ch <= 5; ++ch)
        QCOMPARE(g->channels[ch].channelFinished, ch > 3);
    QCOMPARE(laps(3), (QList<int>{2, 0, 1}));
    QCOMPARE(readFile(file), before);
    QCOMPARE(dialogs::shownTexts(), QStringList());
}

void TestRaceClock::finalStandingsAtTimeUp()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    QVERIFY(race.buildFinal(3));
    TGestione_gare* g = Gestione_gare;
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("1"));
    QVERIFY(race.startRace());
    QCOMPARE(g->currentFinal, QStringLiteral("A"));
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("2", 100));
    QVERIFY(race.receive("3", 200));
    QVERIFY(race.receive("2", 9100));  // car 2 reaches two laps first
    QVERIFY(race.receive("1", 10000)); // car 1 draws level later
    QCOMPARE(laps(3), (QList<int>{2, 2, 1}));
    race.tick(100);

    auto positions = [] {
        QList<int> list;
        for (int ch = 1; ch <= 3; ++ch)
            list.append(RaceFixture::value(ch, layouts::posiz).toInt());
        return list;
    };
    QCOMPARE(positions(), (QList<int>{2, 1, 3}));
    QCOMPARE(g->CDS_Finali->indexFieldNames(), layouts::posiz);
    QCOMPARE(RaceFixture::raceTable().valueAt(0, RaceFixture::raceTable().fieldIndex(layouts::nr)).toInt(), 2);
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("0"));
    QVERIFY(FormStop->isVisible());
    QVERIFY(g->Visualizzarisultatifinali1->isEnabled());
    QVERIFY(g->Stampareportfinali1->isEnabled());

    // The last laps still count, the positions stay those of the time up.
    QVERIFY(race.receive("3", 70000));
    QVERIFY(race.receive("1", 71000));
    QVERIFY(race.receive("2", 72000));
    QCOMPARE(laps(3), (QList<int>{3, 3, 2}));
    QCOMPARE(positions(), (QList<int>{2, 1, 3}));
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));

    Table saved;
    layouts::openFinals(saved, paths::programFile(layouts::finalsFile));
    saved.setIndexFieldNames(layouts::nr);
    QList<int> savedPositions;
    for (saved.first(); !saved.eof(); saved.next())
        savedPositions.append(saved.asInteger(layouts::posiz));
    QCOMPARE(savedPositions, (QList<int>{2, 1, 3}));
}

void TestRaceClock::startLightsInRealTime()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    TGestione_gare* g = Gestione_gare;
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    g->Bitb_Start->click();
    QVERIFY(Form_Via->isVisible());
    race.device().clearRecords();

    QObject context;
    qint64 firstTickNs = 0;
    connect(g->Timer1, &QTimer::timeout, &context, [&] {
        if (firstTickNs == 0)
            firstTickNs = monotonicNowNs();
    });
    // At most one light turns green per tick, right to left.
    QList<int> greenPerTick;
    connect(Form_Semaforo->Timer_Semaforo, &QTimer::timeout, &context, [&] {
        int green = 0;
        for (Shape* s :
             {Form_Semaforo->Sh_sem1, Form_Semaforo->Sh_sem2, Form_Semaforo->Sh_sem3, Form_Semaforo->Sh_sem4})
            green += s->brushColor() == QColor(0, 255, 0) ? 1 : 0;
        greenPerTick.append(green);
    });

    const qint64 clickNs = monotonicNowNs();
    Form_Via->Btn_ProntiVia->click();
    QVERIFY(!Form_Via->isVisible());
    QVERIFY(Form_Semaforo->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(firstTickNs != 0, 12000);

    const QList<ReceivedCommand> commands = race.device().commands();
    QByteArray text;
    for (const ReceivedCommand& c : commands)
        text.append(c.command);
    QCOMPARE(text, QByteArray("R4321YE"));
    // Only the order here; how close each command comes to its second is measured by bench_race.
    QVERIFY(commands.constFirst().monotonicNs >= clickNs);
    for (int i = 1; i < commands.size(); ++i)
        QVERIFY(commands[i].monotonicNs >= commands[i - 1].monotonicNs);

    QCOMPARE(greenPerTick, (QList<int>{0, 0, 1, 2, 3, 4, 0}));
    QCOMPARE(race.device().greenLights(), (QList<int>{4, 3, 2, 1}));
    QVERIFY(!Form_Semaforo->isVisible());
    QVERIFY(!Form_Semaforo->Timer_Semaforo->isActive());
    QVERIFY(!g->Bitb_Start->isEnabled());
    QVERIFY(g->VaComm1->isOpen());
    QCOMPARE(dialogs::shownTexts(), QStringList());
}

void TestRaceClock::startLightsWhenThePortIsHeld()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    TGestione_gare* g = Gestione_gare;
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    g->Bitb_Start->click();
    // A dialogue check holds the port when the start lights appear.
    g->Inizio_Imposta_Cnt_Dialogo_Seriale();
    QTRY_COMPARE(race.device().commandText(), QByteArray("A"));
    race.device().clearRecords();

    Form_Via->Btn_ProntiVia->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Can't perform this operation while port is open"});
    QVERIFY(Form_Semaforo->isVisible());
    QCOMPARE(Form_Semaforo->lightCountdown, 8);
    QVERIFY(Form_Semaforo->Timer_Semaforo->isActive());
    // The countdown runs on to the start signal and the race clock; the commands go out while the port happens
    // to be open.
    for (int second = 1; second <= 7; ++second)
        Form_Semaforo->Timer_SemaforoTimer();
    QVERIFY(!Form_Semaforo->isVisible());
    QVERIFY(g->Timer1->isActive());
    QTRY_COMPARE(race.device().commandText(), QByteArray("4321YE"));
    g->TimerDialogoComTimer();
    QVERIFY(!g->VaComm1->isOpen());
}

QTEST_MAIN(TestRaceClock)
#include "test_raceclock.moc"
