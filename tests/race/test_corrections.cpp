#include "device/datiseriale.h"
#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "race/journal.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/support/racefixture.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

// The race director adds and takes back passages, during a heat and after it.
class TestCorrections : public QObject
{
    Q_OBJECT
private slots:
    void duringAHeat_data();
    void duringAHeat();
    void takeBackTheBestLap();
    void nothingToTakeBack();
    void afterTheHeatTheTableIsSaved();
    void finalRankedAgain();
    void restoredAfterAKill();
};

namespace {

// "laps/last lap/best lap" of a car.
QString carRow(int channel)
{
    return QStringLiteral("%1/%2/%3")
        .arg(RaceFixture::value(channel, layouts::giri).toInt())
        .arg(RaceFixture::value(channel, layouts::tempoSGiro).toString(),
             RaceFixture::value(channel, layouts::tempoMigl).toString());
}

void press(const QString& action)
{
    Gestione_gare->findChild<QAction*>(action)->trigger();
}

} // namespace

void TestCorrections::duringAHeat_data()
{
    QTest::addColumn<QStringList>("steps"); // "1@0": passage of car 1 at 0 s; "+1@25", "-1@26": add, take back
    QTest::addColumn<QString>("row");       // car 1 afterwards
    QTest::newRow("add a lap") << QStringList{"1@0", "1@10", "+1@21"} << "3/0.11.0/0.10.0";
    QTest::newRow("take one back") << QStringList{"1@0", "1@10", "1@21", "-1@22"} << "2/0.10.0/0.10.0";
    QTest::newRow("take back down to zero")
        << QStringList{"1@0", "1@10", "-1@11", "-1@12", "-1@13"} << "0//"; // the row as it was at Start
    QTest::newRow("the next lap runs from the last passage that stands")
        << QStringList{"1@0", "1@10", "1@21", "-1@22", "1@30"} << "3/0.20.0/0.10.0";
    QTest::newRow("an added passage too soon is no lap") << QStringList{"1@0", "1@10", "+1@12"} << "2/0.2.0/0.10.0";
}

void TestCorrections::duringAHeat()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, row);
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    for (const QString& step : steps) {
        const qint64 atMs = step.mid(step.indexOf(QLatin1Char('@')) + 1).toLongLong() * 1000;
        if (step.startsWith(QLatin1Char('+')) || step.startsWith(QLatin1Char('-'))) {
            race.setTime(atMs);
            press(QStringLiteral("%1Giro%2").arg(step[0] == QLatin1Char('+') ? "Aggiungi" : "Togli").arg(step[1]));
        } else {
            QVERIFY(race.receive(step.left(1).toLatin1(), atMs));
        }
    }
    QCOMPARE(carRow(1), row);
    QCOMPARE(carRow(2), QStringLiteral("0//")); // the other car is untouched
    QVERIFY(dialogs::shown().isEmpty());
    // Each correction is a line of its own in the serial monitor, apart from what the device sent.
    QVERIFY(Form_Dati_Seriale->receivedText().contains(QStringLiteral("\n[correzione] ")));
}

void TestCorrections::takeBackTheBestLap()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1));
    QVERIFY(race.startRace());
    for (const qint64 s : {0, 12, 21, 35})
        QVERIFY(race.receive("1", s * 1000)); // laps of 12, 9 and 14 s
    QCOMPARE(carRow(1), QStringLiteral("4/0.14.0/0.9.0"));
    // A marshal's leg counted at 21 s: without it the lap from 12 s to 35 s is 23 s, and the best is 12 s.
    race.setTime(36000);
    press(QStringLiteral("TogliGiro1"));
    press(QStringLiteral("TogliGiro1"));
    QVERIFY(race.receive("1", 35000 + 2000));
    QCOMPARE(carRow(1), QStringLiteral("3/0.25.0/0.12.0"));
}

void TestCorrections::nothingToTakeBack()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    // Before any race there is nothing to correct.
    press(QStringLiteral("TogliGiro1"));
    press(QStringLiteral("AggiungiGiro1"));
    QVERIFY(race.startRace());
    press(QStringLiteral("TogliGiro2"));
    QVERIFY(dialogs::shown().isEmpty());
    QCOMPARE(carRow(2), QStringLiteral("0//"));
    QVERIFY(!Form_Dati_Seriale->receivedText().contains(QStringLiteral("[correzione]")));
}

void TestCorrections::afterTheHeatTheTableIsSaved()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 10000));
    race.setTime(60000);
    race.tickToTimeUp();
    QVERIFY(race.receive("1", 70000)); // the car's last: the heat is over and saved
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    const QString file = paths::programFile(layouts::qualificationFile);
    auto savedLaps = [&] {
        Table t;
        t.setFileName(file);
        t.open();
        return t.valueAt(0, t.fieldIndexOrThrow(layouts::giri)).toInt();
    };
    QCOMPARE(savedLaps(), 3);

    race.setTime(90000);
    press(QStringLiteral("TogliGiro1"));
    QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 2);
    QCOMPARE(savedLaps(), 2);
    press(QStringLiteral("AggiungiGiro1"));
    QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 3);
    QCOMPARE(savedLaps(), 3);
    QVERIFY(dialogs::shown().isEmpty());

    // The next Start ends the corrections of this heat.
    Gestione_gare->Bitb_Start->click();
    dialogs::clearShown();
    press(QStringLiteral("TogliGiro1"));
    QCOMPARE(savedLaps(), 3);
}

void TestCorrections::finalRankedAgain()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    QVERIFY(race.buildFinal(2));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("2", 100));
    QVERIFY(race.receive("1", 10000));
    race.setTime(60000);
    race.tickToTimeUp();
    QVERIFY(race.receive("2", 65000));
    QVERIFY(race.receive("1", 66000));
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    auto positions = [] {
        Table t;
        t.setFileName(paths::programFile(layouts::finalsFile));
        t.open();
        QString result;
        for (int ch = 1; ch <= 2; ++ch) {
            for (int row = 0; row < t.recordCount(); ++row) {
                if (t.valueAt(row, t.fieldIndexOrThrow(layouts::nr)).toInt() == ch)
                    result += QStringLiteral("%1:%2 ").arg(t.valueAt(row, t.fieldIndexOrThrow(layouts::nGiri)).toInt())
                                  .arg(t.valueAt(row, t.fieldIndexOrThrow(layouts::posiz)).toInt());
            }
        }
        return result.trimmed();
    };
    QCOMPARE(positions(), QStringLiteral("3:1 2:2"));
    // Two missed laps of car 2 added: it wins the final.
    race.setTime(80000);
    press(QStringLiteral("AggiungiGiro2"));
    race.setTime(95000);
    press(QStringLiteral("AggiungiGiro2"));
    QCOMPARE(positions(), QStringLiteral("3:2 4:1"));
    QVERIFY(dialogs::shown().isEmpty());
}

void TestCorrections::restoredAfterAKill()
{
    QByteArray journal;
    QByteArray table;
    QString liveRow;
    {
        RaceFixture race;
        QVERIFY(race.buildQualifications(2, 2));
        QVERIFY(race.startRace());
        QVERIFY(race.receive("1", 0));
        QVERIFY(race.receive("2", 500));
        QVERIFY(race.receive("1", 10000));
        QVERIFY(race.receive("1", 12000));
        race.setTime(13000);
        press(QStringLiteral("TogliGiro1"));
        race.setTime(20000);
        press(QStringLiteral("AggiungiGiro2"));
        QVERIFY(race.receive("1", 21000));
        liveRow = carRow(1) + QLatin1Char(' ') + carRow(2);
        // The program dies here: its journal and its table files are what is left.
        journal = readFile(PassageJournal::defaultPath());
        table = readFile(paths::programFile(layouts::qualificationFile));
    }
    ProgramSession session(ProgramSession::Device::None);
    for (const auto& [name, bytes] : {std::pair{QStringLiteral("passaggi.journal"), journal},
                                      std::pair{layouts::qualificationFile, table}}) {
        QFile f(session.folders().program() + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    session.start();
    dialogs::clearShown(); // no device is plugged in
    dialogs::queueAnswer(true);
    Gestione_gare->show();
    QCOMPARE(dialogs::shown().size(), 1);
    QVERIFY(dialogs::shownTexts().first().contains(QStringLiteral("batteria 1 della qualifica 1")));
    QVERIFY(dialogs::shownTexts().first().contains(QStringLiteral("contiene 6.")));
    QVERIFY(!QFile::exists(PassageJournal::defaultPath()));

    // The restored rows are the rows the live race had, corrections included.
    Table restored;
    restored.setFileName(paths::programFile(layouts::qualificationFile));
    restored.open();
    auto rowOf = [&](int channel) {
        for (int r = 0; r < restored.recordCount(); ++r) {
            auto at = [&](const QString& f) { return restored.valueAt(r, restored.fieldIndexOrThrow(f)); };
            if (at(layouts::num).toInt() == channel)
                return QStringLiteral("%1/%2/%3")
                    .arg(at(layouts::giri).toInt())
                    .arg(at(layouts::tempoSGiro).toString(), at(layouts::tempoMigl).toString());
        }
        return QString();
    };
    QCOMPARE(rowOf(1) + QLatin1Char(' ') + rowOf(2), liveRow);
    QCOMPARE(liveRow, QStringLiteral("3/0.11.0/0.10.0 2/0.19.500/0.19.500"));
}

QTEST_MAIN(TestCorrections)
#include "test_corrections.moc"
