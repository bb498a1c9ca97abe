#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "device/serialport.h"
#include "device/via.h"
#include "race/stop.h"
#include "tests/support/racefixture.h"
#include "widgets/controls.h"
#include "tools/sim/simulator.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>

// The qualification table, the heat chooser and the qualification rounds raced against the simulated device.
class TestQualifiche : public QObject
{
    Q_OBJECT
private slots:
    void qualificationTableFromTheHeats();
    void answeringNoChangesNothing();
    void buildStops_data();
    void buildStops();
    void newHeatsAfterAFailedBuild();
    void heatChooser_data();
    void heatChooser();
    void threeHeatsTwoRounds();
    void chosenHeatRacesFirst();
};

namespace {

using HeatEntry = QPair<QVariant, QVariant>; // heat number, name

void writeHeats(const QList<HeatEntry>& entries)
{
    Table heats;
    layouts::defineHeats(heats);
    heats.createTable();
    for (const HeatEntry& e : entries)
        heats.appendRecord({e.first, e.second, 27.1, QStringLiteral("g")});
    heats.saveToFile(paths::programFile(layouts::heatsFile));
}

QString qualificationPath()
{
    return paths::programFile(layouts::qualificationFile);
}

// "batteria|num|nome conc.|giri" of each visible row, plus "|times" when a time field holds a value.
QStringList qualificationRows(const Table& t)
{
    QStringList rows;
    for (int r = 0; r < t.recordCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << Table::displayText(t.valueAt(r, c), t.fields().at(c).type);
        for (int c = 4; c < t.fieldCount(); ++c) {
            if (t.valueAt(r, c).isValid()) {
                cells << QStringLiteral("times");
                break;
            }
        }
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList savedQualification()
{
    Table t;
    t.setFileName(qualificationPath());
    t.open();
    return qualificationRows(t);
}

void buildQualification()
{
    Gestione_gare->abilitomenQualifiche1->trigger();
    dialogs::queueAnswer(true);
    Gestione_gare->CreaNuoveQualifiche1->trigger();
}

// Competitors with distinct frequencies, heats of `heatSize`, `rounds` rounds of one minute, and the
// qualification table, all through the windows.
void setUpQualifications(int competitors, int heatSize, int rounds)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (int i = 1; i <= competitors; ++i)
        list.appendRecord({QStringLiteral("Pilota %1").arg(i), 27.0 + i, QStringLiteral("G")});
    list.saveToFile(paths::programFile(layouts::competitorListFile));
    Gestione_gare->Inserimento1->trigger();
    Frm_concorrenti->Button2->click();
    Gestione_gare->Crea1->trigger();
    Form_batterie->Lbe_nr_conc_batt->setText(QString::number(heatSize));
    Form_batterie->Lbe_Nr_Qualif->setText(QString::number(rounds));
    Form_batterie->Lbe_Durata_Qualif->setText(QStringLiteral("1"));
    Form_batterie->Button2->click();
    Frm_lista_batterie->Button1->click();
    dialogs::queueAnswer(true);
    Gestione_gare->CreaNuoveQualifiche1->trigger();
    QVERIFY(Form_Qualifica->qualificationsActive);
    QVERIFY(Gestione_gare->Bitb_Start->isEnabled());
}

// One qualification race: Start, both cars cross the line, the time runs out, and each car's next
// passage is its last.
void raceHeat(RaceFixture& race, int expectedHeat)
{
    TGestione_gare* g = Gestione_gare;
    dialogs::clearShown();
    QVERIFY2(race.startRace(QStringLiteral("1")), qPrintable(dialogs::shownTexts().join(QLatin1Char('/'))));
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QString::number(expectedHeat));
    // The grid shows the heat's cars only.
    const TableModel* shown = g->DS_Gara;
    QCOMPARE(g->DBGr_sit_conc->model(), shown);
    QCOMPARE(shown->rowCount(), 2);
    for (int r = 0; r < shown->rowCount(); ++r)
        QCOMPARE(shown->index(r, 0).data().toInt(), expectedHeat);

    const auto lapsOf = [g](int channel) {
        for (int r = 0; r < g->CDS_Gara->recordCount(); ++r) {
            if (g->CDS_Gara->valueAt(r, 1).toInt() == channel)
                return g->CDS_Gara->valueAt(r, 3).toInt();
        }
        return -1;
    };
    const int lapsBefore = lapsOf(1);
    QVERIFY(race.passage(1));
    QVERIFY(race.passage(2));
    QCOMPARE(lapsOf(1), lapsBefore + 1);
    QCOMPARE(race.tickToTimeUp(), 62);
    QVERIFY(g->timeUp);
    race.device().clearRecords();
    QVERIFY(race.passage(1, 25));
    QVERIFY(race.passage(2, 30 + expectedHeat));
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QVERIFY(!g->VaComm1->isOpen());
    QCOMPARE(lapsOf(1), lapsBefore + 2);
    QCOMPARE(savedQualification().size(), 6); // written when the last car has passed
    RaceFixture::closeEndWindows();
}

} // namespace

void TestQualifiche::qualificationTableFromTheHeats()
{
    ProgramSession session(ProgramSession::Device::None);
    // In generation order: the heats' records are numbered in the order the heats table keeps them.
    writeHeats({{1, "Anna"}, {2, "Dario"}, {1, "Bruno"}, {2, "Elena"}, {1, "Carla"}});
    session.start();
    TGestione_gare* g = Gestione_gare;
    Form_Finali->finalsActive = true;
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("2"));
    dialogs::clearShown();

    buildQualification();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Questo cancellerà le precedenti qualifiche.  Continuo?"});
    const QStringList expected{"1|1|Anna|0", "1|2|Bruno|0", "1|3|Carla|0", "2|1|Dario|0", "2|2|Elena|0"};
    QCOMPARE(savedQualification(), expected);
    QVERIFY(g->CDS_Gara->isOpen());
    QVERIFY(!g->CDS_Gara->filtered());
    QCOMPARE(qualificationRows(*g->CDS_Gara), expected);
    QCOMPARE(g->DBGr_sit_conc->model(), g->DS_Gara);
    QVERIFY(g->DBGr_sit_conc->isReadOnly());
    for (int c = 0; c < g->CDS_Gara->fieldCount(); ++c)
        QCOMPARE(g->DBGr_sit_conc->isColumnHidden(c), c == 4 || c == 6 || c == 8);
    QVERIFY(!g->CDS_Batterie->isOpen());
    QVERIFY(!g->CDS_sit_conc->isOpen());
    QVERIFY(Form_Qualifica->qualificationsActive);
    QVERIFY(!Form_Finali->finalsActive);
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QStringLiteral("0"));
    QVERIFY(g->ScegliBatteria1->isEnabled());
    QVERIFY(g->StampaBatterie1->isEnabled());
    QVERIFY(g->Bitb_Start->isEnabled());

    // Built again, the table starts afresh: the laps of the first build are gone.
    g->CDS_Gara->first();
    g->CDS_Gara->edit();
    g->CDS_Gara->setValue(layouts::giri, 4);
    g->CDS_Gara->post();
    buildQualification();
    QCOMPARE(qualificationRows(*g->CDS_Gara), expected);
    QCOMPARE(savedQualification(), expected);
}

void TestQualifiche::answeringNoChangesNothing()
{
    ProgramSession session(ProgramSession::Device::None);
    writeHeats({{1, "Anna"}, {1, "Bruno"}, {1, "Carla"}, {2, "Dario"}, {2, "Elena"}});
    session.start();
    TGestione_gare* g = Gestione_gare;
    buildQualification();
    g->CDS_Gara->first();
    g->CDS_Gara->edit();
    g->CDS_Gara->setValue(layouts::giri, 3);
    g->CDS_Gara->post();
    const QByteArray before = readFile(qualificationPath());
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("2"));
    Form_Finali->finalsActive = true;
    g->StampaBatterie1->setEnabled(false);

    dialogs::queueAnswer(false);
    g->CreaNuoveQualifiche1->trigger();
    QCOMPARE(readFile(qualificationPath()), before);
    QCOMPARE(g->CDS_Gara->value(layouts::giri).toInt(), 3);
    QVERIFY(Form_Qualifica->qualificationsActive);
    QVERIFY(Form_Finali->finalsActive);
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QStringLiteral("2"));
    QVERIFY(!g->StampaBatterie1->isEnabled());
}

void TestQualifiche::buildStops_data()
{
    QTest::addColumn<QList<HeatEntry>>("heats"); // none: no heats file
    QTest::addColumn<bool>("heatsFile");
    QTest::addColumn<QString>("error");
    QTest::newRow("no heats file") << QList<HeatEntry>{} << false
                                   << "Cannot perform this operation on a closed dataset";
    QTest::newRow("empty heats") << QList<HeatEntry>{} << true
                                 << "Could not convert variant of type (Null) into type (String)";
    QTest::newRow("a heat row without a name") << QList<HeatEntry>{{1, "Anna"}, {1, {}}, {2, "Carla"}} << true
                                               << "Could not convert variant of type (Null) into type (String)";
}

void TestQualifiche::buildStops()
{
    QFETCH(QList<HeatEntry>, heats);
    QFETCH(bool, heatsFile);
    QFETCH(QString, error);
    ProgramSession session(ProgramSession::Device::None);
    if (heatsFile)
        writeHeats(heats);
    QFile old(qualificationPath());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    session.start();
    dialogs::clearShown();
    buildQualification();
    QCOMPARE(dialogs::shownTexts().last(), error);
    // The previous results are kept: nothing is deleted before the heats are known to be readable.
    QVERIFY(QFile::exists(qualificationPath()));
    QVERIFY(!Gestione_gare->CDS_Gara->isOpen());
    QVERIFY(!Form_Qualifica->qualificationsActive);
    QVERIFY(!Gestione_gare->CDS_Batterie->isOpen());
}

void TestQualifiche::newHeatsAfterAFailedBuild()
{
    ProgramSession session(ProgramSession::Device::None);
    writeHeats({{1, "Anna"}, {1, {}}});
    session.start();
    dialogs::clearShown();
    buildQualification();
    QCOMPARE(dialogs::shownTexts().size(), 2); // the question, and the heat without a name

    // New heats are handed over: the next build reads them, not the heats of the failed one.
    writeHeats({{1, "Anna"}, {1, "Bruno"}, {2, "Carla"}});
    dialogs::clearShown();
    dialogs::queueAnswer(true);
    Gestione_gare->CreaNuoveQualifiche1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Questo cancellerà le precedenti qualifiche.  Continuo?"});
    QCOMPARE(savedQualification(), (QStringList{"1|1|Anna|0", "1|2|Bruno|0", "2|1|Carla|0"}));
}

void TestQualifiche::heatChooser_data()
{
    QTest::addColumn<bool>("esci"); // else "File" > "Exit"
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("heat"); // 0: refused
    QTest::newRow("Esci with 0") << true << "0" << 1;
    QTest::newRow("Esci with nothing") << true << "" << 1;
    QTest::newRow("Esci with a blank") << true << " " << 1;
    QTest::newRow("Esci with 2") << true << "2" << 2;
    QTest::newRow("Exit with 2") << false << "2" << 2;
    QTest::newRow("Exit with nothing: refused by the filter") << false << "" << 0;
    QTest::newRow("Esci with letters: refused by the filter") << true << "due" << 0;
}

void TestQualifiche::heatChooser()
{
    QFETCH(bool, esci);
    QFETCH(QString, typed);
    QFETCH(int, heat);
    ProgramSession session(ProgramSession::Device::None);
    writeHeats({{1, "Anna"}, {1, "Bruno"}, {2, "Carla"}, {2, "Dario"}, {3, "Elena"}});
    session.start();
    TGestione_gare* g = Gestione_gare;
    buildQualification();
    Form_Qualifica->qualificationsActive = false;
    g->raceDuration = 2 * timetext::minuteScale / 24;
    g->remainingTime = 0;
    g->Label2->setText(QStringLiteral(" "));

    g->ScegliBatteria1->trigger();
    QVERIFY(Form_Qualifica->isVisible());
    QVERIFY(Form_Qualifica->Lbe_Nr_Bat_Qual->text().isEmpty());
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(typed);
    dialogs::clearShown();
    if (esci)
        Form_Qualifica->Button1->click();
    else
        Form_Qualifica->Exit1->trigger();

    if (heat == 0) {
        QCOMPARE(dialogs::shown().size(), 1);
        QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Error);
        QVERIFY(Form_Qualifica->isVisible());
        QVERIFY(!Form_Qualifica->qualificationsActive);
        return;
    }
    QVERIFY(dialogs::shown().isEmpty());
    QVERIFY(!Form_Qualifica->isVisible());
    QVERIFY(Form_Qualifica->qualificationsActive);
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), esci ? QString::number(heat) : typed);
    QCOMPARE(Form_Qualifica->heatFilter, QStringLiteral("batteria = ") + Form_Qualifica->Lbe_Nr_Bat_Qual->text());
    QVERIFY(g->CDS_Gara->filtered());
    QCOMPARE(g->DS_Gara->rowCount(), heat == 3 ? 1 : 2);
    for (int r = 0; r < g->DS_Gara->rowCount(); ++r)
        QCOMPARE(g->DS_Gara->index(r, 0).data().toInt(), heat);
    QCOMPARE(g->remainingTime, g->raceDuration);
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("2:0"));
    QCOMPARE(g->Label2->text(), QStringLiteral("Qualifiche da fare:"));
}

void TestQualifiche::threeHeatsTwoRounds()
{
    RaceFixture race;
    setUpQualifications(6, 2, 2);
    if (QTest::currentTestFailed())
        return;
    TGestione_gare* g = Gestione_gare;
    QCOMPARE(g->Ed_Nr_Batterie->text(), QStringLiteral("3"));

    const QStringList roundsShown{"", "", "1", "1", "1", "2"};
    for (int heat = 0; heat < 6; ++heat) {
        raceHeat(race, heat % 3 + 1);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(g->Mem_Qualif_fatte->text(), roundsShown[heat]);
        QCOMPARE(g->EstraiFinalisti1->isEnabled(), heat >= 2);
    }

    dialogs::clearShown();
    g->Bitb_Start->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"nr. di qualifiche già effettuate tutte"});
    QVERIFY(!Form_Via->isVisible());

    // The results view: every heat, fastest best lap first.
    g->VisualizzarisultatiQualifiche1->trigger();
    QVERIFY(!g->CDS_Gara->filtered());
    QCOMPARE(g->DS_Gara->rowCount(), 6);
    QVERIFY(g->Stampaqualifiche1->isEnabled());
    const int best = g->CDS_Gara->fieldIndex(layouts::tempoMiglTtime);
    QList<double> shownBest;
    for (int r = 0; r < g->CDS_Gara->recordCount(); ++r)
        shownBest << g->CDS_Gara->valueAt(r, best).toDouble();
    QList<double> ranked = shownBest;
    std::sort(ranked.begin(), ranked.end());
    QVERIFY(ranked.first() > 0); // every car has a timed lap
    QCOMPARE(shownBest, ranked);
}

void TestQualifiche::chosenHeatRacesFirst()
{
    RaceFixture race;
    setUpQualifications(6, 2, 1);
    if (QTest::currentTestFailed())
        return;
    TGestione_gare* g = Gestione_gare;
    g->ScegliBatteria1->trigger();
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("2"));
    Form_Qualifica->Button1->click();

    for (const int heat : {2, 2, 3}) {
        raceHeat(race, heat);
        if (QTest::currentTestFailed())
            return;
    }
    // The round is complete without heat 1; the chooser is back to "0" for the next round.
    QCOMPARE(g->Mem_Qualif_fatte->text(), QStringLiteral("1"));
    QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), QStringLiteral("0"));
    QCOMPARE(g->heatsRunInRound, 0);
}

QTEST_MAIN(TestQualifiche)
#include "test_qualifiche.moc"
