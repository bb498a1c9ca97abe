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
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

// The finals settings, the finalist extraction and the finals raced against the simulated device.
class TestFinali : public QObject
{
    Q_OBJECT
private slots:
    void settingsLeftAfterTenQualifiers_data();
    void settingsLeftAfterTenQualifiers();
    void refusedTextAppendsNothing_data();
    void refusedTextAppendsNothing();
    void emptyQualificationTable();
    void countOfFinalsIsTheHighestLetter();
    void finalsRaceFromTheLastLetterBackToA();
    void interruptedFinalIsNotRacedAgain();
    void fineMancheBeforeTimeUp();
};

namespace {

// A qualification table of `count` qualifiers written in scrambled order; the ranking by best lap is
// names[0] (fastest) to names[count - 1].
void writeQualifiers(const QStringList& names)
{
    Table t;
    layouts::defineQualification(t);
    t.createTable();
    for (int i = int(names.size()) - 1; i >= 0; i -= 2)
        t.appendRecord({i % 3 + 1, i / 3 + 1, names[i], 5, QVariant(), QVariant(), QVariant(), QVariant(),
                        (30.0 + i) / 86400, QVariant()});
    for (int i = int(names.size()) - 2; i >= 0; i -= 2)
        t.appendRecord({i % 3 + 1, i / 3 + 1, names[i], 5, QVariant(), QVariant(), QVariant(), QVariant(),
                        (30.0 + i) / 86400, QVariant()});
    t.saveToFile(paths::programFile(layouts::qualificationFile));
}

QStringList qualifiers(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("Q%1").arg(i);
    return names;
}

void extractFinalists(bool yes)
{
    Gestione_gare->Impostazfinali1->trigger();
    dialogs::queueAnswer(yes);
    Gestione_gare->EstraiFinalisti1->trigger();
}

// "A:1=Q1 2=Q2|B:1=Q3" over the visible rows in their order, one group per run of equal letters.
QString finalsLayout(const Table& t)
{
    QStringList groups;
    QString letter;
    QStringList members;
    for (int r = 0; r < t.recordCount(); ++r) {
        const QString rowLetter = t.valueAt(r, 1).toString();
        if (rowLetter != letter && !members.isEmpty()) {
            groups << letter + QLatin1Char(':') + members.join(QLatin1Char(' '));
            members.clear();
        }
        letter = rowLetter;
        members << QStringLiteral("%1=%2").arg(t.valueAt(r, 0).toInt()).arg(t.valueAt(r, 2).toString());
    }
    if (!members.isEmpty())
        groups << letter + QLatin1Char(':') + members.join(QLatin1Char(' '));
    return groups.join(QLatin1Char('|'));
}

QString savedFinals()
{
    Table t;
    t.setFileName(paths::programFile(layouts::finalsFile));
    t.open();
    return finalsLayout(t);
}

// A value of the current final's car on `channel`.
QVariant carValue(int channel, const QString& field)
{
    const Table& t = *Gestione_gare->CDS_Finali;
    for (int r = 0; r < t.recordCount(); ++r) {
        if (t.valueAt(r, 0).toInt() == channel)
            return t.valueAt(r, t.fieldIndexOrThrow(field));
    }
    return {};
}

// Finals of `perFinal` from `count` qualifiers, one minute long, set up through the windows.
void setUpFinals(int count, int perFinal, bool single)
{
    writeQualifiers(qualifiers(count));
    extractFinalists(true);
    Form_Finali->Lbe_Nr_Conc_Finale->setText(QString::number(perFinal));
    Form_Finali->Lbe_Nr_Min_Finale->setText(QStringLiteral("1"));
    Form_Finali->Chb_Finale_Singola_SN->setChecked(single);
    Form_Finali->Button1->click();
    QVERIFY(Form_Finali->finalsActive);
    QVERIFY(!Form_Finali->isVisible());
}

// Starts the next final and checks that it is `letter` and that the grid shows its cars only.
void startFinal(RaceFixture& race, const QString& letter, int cars)
{
    TGestione_gare* g = Gestione_gare;
    dialogs::clearShown();
    QVERIFY2(race.startRace(QStringLiteral("1")), qPrintable(dialogs::shownTexts().join(QLatin1Char('/'))));
    QCOMPARE(g->currentFinal, letter);
    QCOMPARE(g->DBGr_sit_conc->model(), g->DS_Finali);
    QCOMPARE(g->DS_Finali->rowCount(), cars);
    for (int r = 0; r < cars; ++r)
        QCOMPARE(g->DS_Finali->index(r, 1).data().toString(), letter);
}

} // namespace

void TestFinali::settingsLeftAfterTenQualifiers_data()
{
    QTest::addColumn<bool>("single");
    QTest::addColumn<QString>("finals");
    QTest::addColumn<QString>("count");
    QTest::newRow("Finale singola") << true << "A:1=Q1 2=Q2 3=Q3 4=Q4"
                                    << "1";
    QTest::newRow("all finals") << false << "A:1=Q1 2=Q2 3=Q3 4=Q4|B:1=Q5 2=Q6 3=Q7 4=Q8|C:1=Q9 2=Q10"
                                << "3";
}

void TestFinali::settingsLeftAfterTenQualifiers()
{
    QFETCH(bool, single);
    QFETCH(QString, finals);
    QFETCH(QString, count);
    ProgramSession session(ProgramSession::Device::None);
    writeQualifiers(qualifiers(10));
    session.start();
    TGestione_gare* g = Gestione_gare;
    Form_Qualifica->qualificationsActive = true;
    dialogs::clearShown();

    extractFinalists(true);
    QCOMPARE(dialogs::shownTexts(), QStringList{"Questo cancellerà le precedenti finali.  Continuo?"});
    QVERIFY(!Form_Qualifica->qualificationsActive);
    QVERIFY(Form_Finali->isVisible());
    QVERIFY(g->CDS_Gara->isOpen());
    QCOMPARE(g->CDS_Finali->recordCount(), 0);
    QVERIFY(g->Bitb_Start->isEnabled());
    QVERIFY(!g->Bitb_Stop->isEnabled());
    // The defaults.
    QCOMPARE(Form_Finali->Lbe_Nr_Conc_Finale->text(), QStringLiteral("4"));
    QCOMPARE(Form_Finali->Lbe_Nr_Min_Finale->text(), QStringLiteral("2"));
    QVERIFY(Form_Finali->Chb_Finale_Singola_SN->isChecked());

    Form_Finali->Chb_Finale_Singola_SN->setChecked(single);
    Form_Finali->Button1->click();
    QCOMPARE(dialogs::shownTexts().size(), 1); // the question only
    QVERIFY(!Form_Finali->isVisible());
    QCOMPARE(finalsLayout(*g->CDS_Finali), finals);
    QCOMPARE(savedFinals(), finals);
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("2:0"));
    QCOMPARE(g->Ed_Finali_Fatte->text(), count);
    QVERIFY(Form_Finali->finalsActive);
    QVERIFY(g->currentFinal.isEmpty());
    QCOMPARE(g->remainingTime, g->raceDuration);
    QVERIFY(!g->CDS_Gara->isOpen());
    for (QWidget* blanked : std::initializer_list<QWidget*>{g->Label2, g->Label3})
        QCOMPARE(qobject_cast<QLabel*>(blanked)->text(), QStringLiteral(" "));
    QCOMPARE(g->Mem_qual_da_fare->text(), QStringLiteral(" "));
    QCOMPARE(g->Mem_Qualif_fatte->text(), QStringLiteral(" "));
    QVERIFY(!g->Bitb_Stop->isEnabled());
    QCOMPARE(g->DBGr_sit_conc->model(), g->DS_Finali);
    for (int c = 0; c < g->CDS_Finali->fieldCount(); ++c)
        QCOMPARE(g->DBGr_sit_conc->isColumnHidden(c), c == 4 || c == 6 || c == 8 || c == 10);
    for (int r = 0; r < g->CDS_Finali->recordCount(); ++r) {
        QCOMPARE(g->CDS_Finali->valueAt(r, 3).toInt(), 0);
        QVERIFY(!g->CDS_Finali->valueAt(r, 10).isValid());
    }
}

void TestFinali::refusedTextAppendsNothing_data()
{
    QTest::addColumn<QString>("perFinal");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<QString>("error");
    QTest::newRow("25 minutes") << "4"
                                << "25"
                                << "'25' is not a valid time";
    QTest::newRow("no minutes") << "4"
                                << ""
                                << "'' is not a valid time";
    QTest::newRow("competitors not a number") << "quattro"
                                              << "2"
                                              << "'quattro' is not a valid integer value";
}

void TestFinali::refusedTextAppendsNothing()
{
    QFETCH(QString, perFinal);
    QFETCH(QString, minutes);
    QFETCH(QString, error);
    ProgramSession session(ProgramSession::Device::None);
    writeQualifiers(qualifiers(10));
    session.start();
    extractFinalists(true);
    Form_Finali->Lbe_Nr_Conc_Finale->setText(perFinal);
    Form_Finali->Lbe_Nr_Min_Finale->setText(minutes);
    dialogs::clearShown();
    Form_Finali->Exit1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{error});
    QVERIFY(Form_Finali->isVisible());
    QCOMPARE(Gestione_gare->CDS_Finali->recordCount(), 0);
    QVERIFY(!Form_Finali->finalsActive);
    QVERIFY(!QFile::exists(paths::programFile(layouts::finalsFile)));

    // Corrected, the finalists are loaded once.
    Form_Finali->Lbe_Nr_Conc_Finale->setText(QStringLiteral("4"));
    Form_Finali->Lbe_Nr_Min_Finale->setText(QStringLiteral("2"));
    Form_Finali->Exit1->trigger();
    QCOMPARE(finalsLayout(*Gestione_gare->CDS_Finali), QStringLiteral("A:1=Q1 2=Q2 3=Q3 4=Q4"));
    QCOMPARE(Gestione_gare->Ed_Finali_Fatte->text(), QStringLiteral("1"));
}

void TestFinali::emptyQualificationTable()
{
    ProgramSession session(ProgramSession::Device::None);
    writeQualifiers({});
    session.start();
    extractFinalists(true);
    dialogs::clearShown();
    Form_Finali->Button1->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Could not convert variant of type (Null) into type (String)"});
    QVERIFY(Form_Finali->isVisible());
    QCOMPARE(Gestione_gare->Ed_Finali_Fatte->text(), QStringLiteral("Ed_Finali_Fatte"));
    QVERIFY(QFile::exists(paths::programFile(layouts::finalsFile))); // the empty table was saved
}

void TestFinali::countOfFinalsIsTheHighestLetter()
{
    ProgramSession session(ProgramSession::Device::None);
    // The fastest qualifier's name sorts last, so that a finals table ordered by name ends in final "A".
    QStringList names = qualifiers(10);
    names[0] = QStringLiteral("Zeno");
    writeQualifiers(names);
    session.start();
    extractFinalists(true);
    Gestione_gare->CDS_Finali->setIndexFieldNames(layouts::nomeCon);
    Form_Finali->Chb_Finale_Singola_SN->setChecked(false);
    Form_Finali->Button1->click();
    Gestione_gare->CDS_Finali->last();
    QCOMPARE(Gestione_gare->CDS_Finali->value(layouts::finale).toString(), QStringLiteral("A"));
    QCOMPARE(Gestione_gare->Ed_Finali_Fatte->text(), QStringLiteral("3"));
}

void TestFinali::finalsRaceFromTheLastLetterBackToA()
{
    RaceFixture race;
    setUpFinals(12, 4, false);
    TGestione_gare* g = Gestione_gare;
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("3"));

    const QStringList letters{"C", "B", "A"};
    for (int i = 0; i < letters.size(); ++i) {
        startFinal(race, letters[i], 4);
        if (QTest::currentTestFailed())
            return;
        // Laps 3, 1, 2, 2 on channels 1 to 4.
        for (const int channel : {1, 2, 3, 4, 1, 3, 4, 1})
            QVERIFY(race.passage(channel));
        QCOMPARE(carValue(1, layouts::nGiri).toInt(), 3);
        QVERIFY(!carValue(1, layouts::posiz).isValid());
        QCOMPARE(race.tickToTimeUp(), 62);
        QCOMPARE(g->Ed_Finali_Fatte->text(), QString::number(2 - i));
        QVERIFY(FormStop->isVisible());
        const QList<int> atTimeUp{carValue(1, layouts::posiz).toInt(), carValue(2, layouts::posiz).toInt(),
                                  carValue(3, layouts::posiz).toInt(), carValue(4, layouts::posiz).toInt()};
        QCOMPARE(atTimeUp[0], 1);
        QCOMPARE(atTimeUp[1], 4);
        QCOMPARE(QSet<int>({atTimeUp[2], atTimeUp[3]}), QSet<int>({2, 3}));
        // The last passages still count laps, but the positions stay those of the time up.
        race.device().clearRecords();
        for (const int channel : {2, 1, 3, 4})
            QVERIFY(race.passage(channel));
        QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
        QCOMPARE(carValue(2, layouts::nGiri).toInt(), 2);
        QCOMPARE(carValue(2, layouts::posiz).toInt(), 4);
        QCOMPARE(carValue(3, layouts::posiz).toInt(), atTimeUp[2]);
        RaceFixture::closeEndWindows();
    }

    dialogs::clearShown();
    g->Bitb_Start->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"nr. di finali già effettuate tutte"});
    QVERIFY(!Form_Via->isVisible());

    // The results view shows every final, each with its own positions 1 to 4.
    g->Visualizzarisultatifinali1->trigger();
    QVERIFY(!g->CDS_Finali->filtered());
    QCOMPARE(g->DS_Finali->rowCount(), 12);
    QMap<QString, QList<int>> positions;
    for (int r = 0; r < g->CDS_Finali->recordCount(); ++r)
        positions[g->CDS_Finali->valueAt(r, 1).toString()] << g->CDS_Finali->valueAt(r, 10).toInt();
    QCOMPARE(positions.keys(), (QStringList{"A", "B", "C"}));
    for (QList<int>& p : positions) {
        std::sort(p.begin(), p.end());
        QCOMPARE(p, (QList<int>{1, 2, 3, 4}));
    }

    // Reopened from its file through the No answer, the finals table offers its index again.
    const QString saved = savedFinals();
    extractFinalists(false);
    QVERIFY(!Form_Finali->isVisible());
    QVERIFY(g->CDS_Finali->isOpen());
    QCOMPARE(g->CDS_Finali->recordCount(), 12);
    QVERIFY(g->DBGr_sit_conc->isReadOnly()); // the race table is written by the race only
    g->CDS_Finali->setIndexName(layouts::finalsIndexName);
    QCOMPARE(g->CDS_Finali->indexName(), layouts::finalsIndexName);
    QCOMPARE(g->CDS_Finali->valueAt(0, 3).toInt(), 4); // most laps first: 3 and the last lap
    QVERIFY(g->Bitb_Start->isEnabled());
    QVERIFY(g->Bitb_Stop->isEnabled());
    g->CDS_Finali->setIndexFieldNames(QString());
    QCOMPARE(finalsLayout(*g->CDS_Finali), saved);
}

void TestFinali::interruptedFinalIsNotRacedAgain()
{
    RaceFixture race;
    setUpFinals(8, 4, false);
    TGestione_gare* g = Gestione_gare;
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("2"));

    startFinal(race, QStringLiteral("B"), 4);
    g->Bitb_Stop->click();
    QVERIFY(!g->VaComm1->isOpen());
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("2"));

    startFinal(race, QStringLiteral("A"), 4);
    QCOMPARE(race.tickToTimeUp(), 62);
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("1"));
    g->Bitb_Stop->click();
    RaceFixture::closeEndWindows();
    // One final still counted as to run: the next Start races "A" once more.
    startFinal(race, QStringLiteral("A"), 4);
}

void TestFinali::fineMancheBeforeTimeUp()
{
    RaceFixture race;
    setUpFinals(10, 4, true);
    TGestione_gare* g = Gestione_gare;

    startFinal(race, QStringLiteral("A"), 4);
    QVERIFY(race.passage(1));
    QVERIFY(race.passage(2));
    for (int tick = 0; tick < 10; ++tick)
        g->Timer1Timer();
    race.device().clearRecords();
    g->Btn_Fine_Manche->click();

    // The race is complete, without standings, and it still counts as to run.
    QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
    QVERIFY(!g->Timer1->isActive());
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("0:0"));
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("1"));
    QVERIFY(!FormStop->isVisible());
    QVERIFY(g->Bitb_Start->isEnabled());
    for (int channel = 1; channel <= 4; ++channel)
        QVERIFY(!carValue(channel, layouts::posiz).isValid());
    QCOMPARE(carValue(1, layouts::nGiri).toInt(), 1);
    Table saved;
    saved.setFileName(paths::programFile(layouts::finalsFile));
    saved.open();
    saved.first();
    QCOMPARE(saved.value(layouts::nGiri).toInt(), 1);

    // The next Start still steps back from "A", which stays "A".
    startFinal(race, QStringLiteral("A"), 4);
}

QTEST_MAIN(TestFinali)
#include "test_finali.moc"
