#include "data/seed.h"
#include "device/datiseriale.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/wavplayer.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tables/timetext.h"
#include "tests/device/mutesoundserver.h"
#include "tests/support/racefixture.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

double msToDay(qint64 ms)
{
    return double(ms) / timetext::msPerDay;
}

// The qualification table as saved in the program folder: "giri" by channel of heat 1.
QList<int> savedLaps(int cars)
{
    Table saved;
    saved.setFileName(paths::programFile(layouts::qualificationFile));
    saved.open();
    QList<int> laps(cars, -1);
    for (saved.first(); !saved.eof(); saved.next()) {
        const int num = saved.asInteger(layouts::num);
        if (saved.asInteger(layouts::batteria) == 1 && num >= 1 && num <= cars)
            laps[num - 1] = saved.asInteger(layouts::giri);
    }
    return laps;
}

QList<int> lapsInMemory(int cars)
{
    QList<int> laps;
    for (int ch = 1; ch <= cars; ++ch)
        laps.append(RaceFixture::value(ch, layouts::giri).toInt());
    return laps;
}

// One reception through the real path: the device sends, the port notifies, the handler reads.
bool passLine(RaceFixture& race, const QByteArray& digit, qint64 atMs)
{
    QSignalSpy receptions(Gestione_gare->VaComm1, &SerialPort::OnRxChar);
    race.setTime(atMs);
    race.device().sendNow(digit);
    return QTest::qWaitFor([&] { return !receptions.isEmpty(); }, 5000);
}

} // namespace

// Passage processing: a channel digit from the device becomes a lap of the car's row in the race table.
class TestPassages : public QObject
{
    Q_OBJECT
private slots:
    void lapCounting_data();
    void lapCounting();
    void lapEqualToTheMinimumDoesNotCount();
    void ignoredTexts_data();
    void ignoredTexts();
    void timeUpCompletesTheRaceAtTheLastCar();
    void raceTableIsSavedWhateverTheStopSound_data();
    void raceTableIsSavedWhateverTheStopSound();
    void untimedCompetitorsRankLastInTheHeatView();
    void deviceVanishesMidRace();
    void emptyHeatFieldLeavesTheDigitsUnread();
};

void TestPassages::lapCounting_data()
{
    QTest::addColumn<QList<qint64>>("passagesMs"); // channel 3, minimum lap entry "5"
    QTest::addColumn<QList<int>>("laps");
    QTest::addColumn<QList<qint64>>("lapMs");
    QTest::addColumn<QStringList>("lapTexts");

    // clang-format off
    QTest::newRow("first passage") << QList<qint64>{0} << QList<int>{1} << QList<qint64>{0} << QStringList{"00.00.00"};
    QTest::newRow("0.5 s later is no lap; the next lap runs from it")
        << QList<qint64>{0, 500, 10000} << QList<int>{1, 1, 2} << QList<qint64>{0, 500, 9500}
        << QStringList{"00.00.00", "0.0.500", "0.9.500"};
    // The entry 5 is just under 5 s.
    QTest::newRow("a 5 s lap counts") << QList<qint64>{0, 5000} << QList<int>{1, 2} << QList<qint64>{0, 5000}
                                      << QStringList{"00.00.00", "0.5.0"};
    QTest::newRow("4.999 s does not") << QList<qint64>{0, 4999, 12000} << QList<int>{1, 1, 2}
                                      << QList<qint64>{0, 4999, 7001} << QStringList{"00.00.00", "0.4.999", "0.7.1"};
    // clang-format on
}

void TestPassages::lapCounting()
{
    QFETCH(QList<qint64>, passagesMs);
    QFETCH(QList<int>, laps);
    QFETCH(QList<qint64>, lapMs);
    QFETCH(QStringList, lapTexts);
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    QVERIFY(race.startRace(QStringLiteral("5")));

    for (int i = 0; i < passagesMs.size(); ++i) {
        QVERIFY(race.receive("3", passagesMs[i]));
        QCOMPARE(RaceFixture::value(3, layouts::giri).toInt(), laps[i]);
        QCOMPARE(RaceFixture::value(3, layouts::tempoSGiroTtime).toDouble(), Table::roundTime(msToDay(lapMs[i])));
        QCOMPARE(RaceFixture::value(3, layouts::tempoSGiro).toString(), lapTexts[i]);
    }
    QCOMPARE(Gestione_gare->channels[3].lastPassageTime, RaceFixture::timeOfDay(passagesMs.last()));
    // The other cars are untouched.
    QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 0);
    QCOMPARE(RaceFixture::value(2, layouts::giri).toInt(), 0);
    QVERIFY(dialogs::shown().isEmpty());
}

void TestPassages::lapEqualToTheMinimumDoesNotCount()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    // Binary fractions, so the difference of the passage times is exactly the minimum.
    const double minimum = 1.0 / 16384; // about 5.27 s
    Gestione_gare->minLapTime = minimum;
    race.setTimeOfDay(0.5);
    QVERIFY(race.receive("2"));
    race.setTimeOfDay(0.5 + minimum);
    QVERIFY(race.receive("2"));
    QCOMPARE(Gestione_gare->channels[2].lastPassageTime - Gestione_gare->channels[2].lapStartTime, minimum);
    QCOMPARE(RaceFixture::value(2, layouts::giri).toInt(), 1);
    race.setTimeOfDay(0.5 + 2 * minimum + 1.0 / (1 << 30));
    QVERIFY(race.receive("2"));
    QCOMPARE(RaceFixture::value(2, layouts::giri).toInt(), 2);
}

void TestPassages::ignoredTexts_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("monitor"); // what the serial data monitor shows of it

    // clang-format off
    QTest::newRow("two passages read together") << QByteArray("12") << "12";
    QTest::newRow("0") << QByteArray("0") << "0";
    QTest::newRow("6") << QByteArray("6") << "6";
    QTest::newRow("nothing to read") << QByteArray() << "";
    QTest::newRow("1 and a line end") << QByteArray("1\r\n") << "1\r\n";
    QTest::newRow("answer to a check") << QByteArray("B") << "B";
    // clang-format on
}

void TestPassages::ignoredTexts()
{
    QFETCH(QByteArray, received);
    QFETCH(QString, monitor);
    RaceFixture race;
    QVERIFY(race.buildQualifications(5, 5));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QCOMPARE(Form_Dati_Seriale->receivedText(), QStringLiteral("1"));
    const auto channels = Gestione_gare->channels;

    QVERIFY(race.receive(received, 20000));
    QCOMPARE(Gestione_gare->currentChannel, 0);
    for (int ch = 1; ch <= 5; ++ch)
        QCOMPARE(RaceFixture::value(ch, layouts::giri).toInt(), ch == 1 ? 1 : 0);
    QVERIFY(Gestione_gare->channels == channels);
    QCOMPARE(Form_Dati_Seriale->receivedText(), QStringLiteral("1") + monitor);
    // Nothing is left pending for the next reception.
    QCOMPARE(Gestione_gare->VaComm1->ReadPending(), QString());
}

void TestPassages::timeUpCompletesTheRaceAtTheLastCar()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3, 1, 1));
    QVERIFY(race.startRace());
    for (int ch = 1; ch <= 3; ++ch)
        QVERIFY(passLine(race, QByteArray::number(ch), ch * 1000));
    QVERIFY(passLine(race, "1", 30000));
    QCOMPARE(lapsInMemory(3), (QList<int>{2, 1, 1}));
    QCOMPARE(race.tick(100), 62);
    QVERIFY(Gestione_gare->timeUp);
    const int soundsBefore = Form_Semaforo->MediaPlayer1->attempts();

    // Each car's next passage is its last: counted when long enough, and the car is finished.
    QVERIFY(passLine(race, "1", 65000));
    QVERIFY(passLine(race, "2", 66000));
    QVERIFY(Gestione_gare->channels[1].channelFinished && Gestione_gare->channels[2].channelFinished);
    QVERIFY(!Gestione_gare->channels[3].channelFinished);
    QVERIFY(passLine(race, "1", 75000));
    QCOMPARE(lapsInMemory(3), (QList<int>{3, 2, 1}));
    QCOMPARE(race.device().commandText(), QByteArray());
    QVERIFY(Gestione_gare->VaComm1->isOpen());

    QVERIFY(passLine(race, "3", 76000));
    QCOMPARE(lapsInMemory(3), (QList<int>{3, 2, 2}));
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QCOMPARE(Form_Semaforo->MediaPlayer1->attempts(), soundsBefore + 1);
    QCOMPARE(Form_Semaforo->MediaPlayer1->lastFile(), paths::installFile(QStringLiteral("stop.wav")));
    QCOMPARE(savedLaps(3), (QList<int>{3, 2, 2}));
    // The only heat of the round has run: the next heat proposed is heat 1 again.
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QStringLiteral("0"));
    QCOMPARE(Gestione_gare->heatsRunInRound, 0);
    QCOMPARE(dialogs::shownTexts(), QStringList());
}

void TestPassages::raceTableIsSavedWhateverTheStopSound_data()
{
    QTest::addColumn<QString>("sound");  // what stands in the installation folder as "stop.wav"
    QTest::addColumn<QString>("server"); // PULSE_SERVER: "none" for a server that is not there, "mute" for one that
                                         // accepts and never answers

    // clang-format off
    QTest::newRow("no sound file") << "" << "none";
    QTest::newRow("not a wave file") << "garbage" << "none";
    QTest::newRow("no audio output") << "stop.wav" << "none";
    QTest::newRow("a sound server that never answers") << "stop.wav" << "mute";
    // clang-format on
}

void TestPassages::raceTableIsSavedWhateverTheStopSound()
{
    QFETCH(QString, sound);
    QFETCH(QString, server);
    RaceFixture race;
    const QString wav = race.session().folders().install() + QStringLiteral("stop.wav");
    if (sound == QLatin1String("stop.wav"))
        QVERIFY(seedInstallFolder().contains(sound));
    else if (!sound.isEmpty()) {
        QFile f(wav);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF and then nothing a player could use");
    }
    MuteSoundServer mute;
    const QString socket = race.session().folders().install() + QStringLiteral("pulse-socket");
    if (server == QLatin1String("mute"))
        QVERIFY(mute.listen(socket));
    const SoundServerOverride soundServer(socket);

    QVERIFY(race.buildQualifications(1, 1));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 9000));
    race.tick(100);
    QVERIFY(race.receive("1", 70000));
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QCOMPARE(savedLaps(1), QList<int>{3});
    QVERIFY(dialogs::shown().isEmpty());
}

void TestPassages::untimedCompetitorsRankLastInTheHeatView()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(4, 4));
    QVERIFY(race.startRace(QStringLiteral("1")));
    // Car 4 never passes (no best lap), car 2 passes once (best lap 0); cars 1 and 3 are timed.
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("2", 100));
    QVERIFY(race.receive("3", 200));
    QVERIFY(race.receive("3", 9200));  // 9 s
    QVERIFY(race.receive("1", 10000)); // 10 s
    QVERIFY(race.receive("1", 21000)); // 11 s, the best stays 10 s

    QAbstractItemModel* heatView = Gestione_gare->DBGr_sit_conc->model();
    QCOMPARE(heatView, static_cast<QAbstractItemModel*>(Gestione_gare->DS_Gara));
    QCOMPARE(heatView->rowCount(), 4);
    const int nameColumn = Gestione_gare->CDS_Gara->fieldIndex(layouts::nomeConc);
    QStringList order;
    for (int row = 0; row < heatView->rowCount(); ++row)
        order.append(heatView->index(row, nameColumn).data().toString());
    QCOMPARE(order.mid(0, 2), (QStringList{"Pilota 3", "Pilota 1"}));
    QVERIFY(order.mid(2).contains(QStringLiteral("Pilota 2")));
    QVERIFY(order.mid(2).contains(QStringLiteral("Pilota 4")));
    QCOMPARE(RaceFixture::value(2, layouts::tempoMiglTtime).toDouble(), 0.0);
    QVERIFY(RaceFixture::value(4, layouts::tempoMiglTtime).isNull());
}

void TestPassages::deviceVanishesMidRace()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    QVERIFY(passLine(race, "1", 0));
    QVERIFY(passLine(race, "1", 9000));
    QVERIFY(passLine(race, "2", 9500));

    race.device().closeDevice(); // the adapter is pulled out
    QTRY_COMPARE(dialogs::shownTexts(), QStringList{QStringLiteral("Read error (5), Input/output error")});
    QTest::qWait(300);
    QCOMPARE(dialogs::shown().size(), 1);
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QCOMPARE(lapsInMemory(2), (QList<int>{2, 1}));

    // The program goes on: the clock runs out, and "Fine manche" ends the heat and saves what was counted.
    QCOMPARE(race.tick(100), 62);
    Gestione_gare->Btn_Fine_Manche->click();
    QCOMPARE(savedLaps(2), (QList<int>{2, 1}));
    QCOMPARE(dialogs::shown().size(), 1);
}

void TestPassages::emptyHeatFieldLeavesTheDigitsUnread()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    QVERIFY(passLine(race, "1", 0));
    // Opening the heat chooser mid-heat empties its heat field.
    Gestione_gare->ScegliBatteria1->trigger();
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QString());
    QVERIFY(passLine(race, "2", 9000));
    QVERIFY(passLine(race, "1", 9500));
    const QString notANumber = QStringLiteral("'' is not a valid integer value");
    QCOMPARE(dialogs::shownTexts(), (QStringList{notANumber, notANumber}));
    QCOMPARE(Form_Dati_Seriale->receivedText(), QStringLiteral("1"));

    // Back to the heat: the next reception reads the digits left unread with its own, which name no channel.
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("1"));
    Form_Qualifica->close();
    QVERIFY(passLine(race, "1", 10000));
    QCOMPARE(Form_Dati_Seriale->receivedText(), QStringLiteral("1211"));
    QCOMPARE(lapsInMemory(2), (QList<int>{1, 0}));
    QVERIFY(passLine(race, "1", 11000));
    QCOMPARE(lapsInMemory(2), (QList<int>{2, 0}));
    QCOMPARE(dialogs::shown().size(), 2);
}

QTEST_MAIN(TestPassages)
#include "test_passages.moc"
