#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tables/timetext.h"
#include "tests/support/program.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

// The heat settings window, the generated-heats window with its hand-over to the race window, and the
// channels armed for a heat.
class TestBatterie : public QObject
{
    Q_OBJECT
private slots:
    void heatsFromTheSavedListThroughTheWindows();
    void noListFile();
    void handOverRefused_data();
    void handOverRefused();
    void handEditInTheHeatsGridCounts();
    void settingsValidation_data();
    void settingsValidation();
    void settingsExitEnablesNewQualifications();
    void upDownStaysWithinRange();
    void channelsOfAHeat_data();
    void channelsOfAHeat();
};

namespace {

struct Entry
{
    QString name;
    QVariant frequency;
    QVariant group;
};

void writeList(const QList<Entry>& entries)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (const Entry& e : entries)
        list.appendRecord({e.name, e.frequency, e.group});
    list.saveToFile(paths::programFile(layouts::competitorListFile));
}

// Ten competitors in entry order; sorted by frequency, Piero (none) comes first and goes to heat 2.
const QList<Entry> tenCompetitors{
    {"Ugo", 27.095, "g"},  {"Anna", 26.995, "g"}, {"Piero", {}, {}},     {"Bea", 27.045, "g"},  {"Carlo", 27.145, "g"},
    {"Dora", 27.195, "g"}, {"Elio", 27.255, "g"}, {"Fede", 40.665, "g"}, {"Gino", 40.675, "g"}, {"Ivo", 40.685, "g"},
};
const QStringList tenCompetitorsHeats{
    "1|Anna|26.995|g", "1|Bea|27.045|g",  "1|Ugo|27.095|g",  "1|Carlo|27.145|g", "2|Piero|0| ",
    "2|Dora|27.195|g", "2|Elio|27.255|g", "2|Fede|40.665|g", "3|Gino|40.675|g",  "3|Ivo|40.685|g",
};

QString heatsPath()
{
    return paths::programFile(layouts::heatsFile);
}

QStringList rowsOf(const Table& t)
{
    QStringList rows;
    for (int r = 0; r < t.recordCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < t.fieldCount(); ++c)
            cells << Table::displayText(t.valueAt(r, c), t.fields().at(c).type);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// The saved heats in heat order, as the qualification table reads them.
QStringList savedHeats()
{
    Table heats;
    heats.setFileName(heatsPath());
    heats.open();
    heats.setIndexFieldNames(layouts::nBatteria);
    return rowsOf(heats);
}

// What the generated-heats grid shows.
QStringList gridRows()
{
    const TableModel* m = Frm_lista_batterie->DS_Batterie;
    QStringList rows;
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

QString armed()
{
    QString s;
    for (int ch = 1; ch <= 5; ++ch)
        s += Gestione_gare->channels[ch].channelFinished ? QLatin1Char('-') : QLatin1Char('x');
    return s;
}

// The competitor list saved through its window, which unlocks "Batterie" > "Gestione".
void saveListThroughItsWindow()
{
    Gestione_gare->Inserimento1->trigger();
    Frm_concorrenti->Button2->click();
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

void openHeatSettings(const QString& rounds, const QString& minutes)
{
    Gestione_gare->Crea1->trigger();
    QVERIFY(Form_batterie->isVisible());
    Form_batterie->Lbe_Nr_Qualif->setText(rounds);
    Form_batterie->Lbe_Durata_Qualif->setText(minutes);
}

} // namespace

void TestBatterie::heatsFromTheSavedListThroughTheWindows()
{
    ProgramSession session(ProgramSession::Device::None);
    writeList(tenCompetitors);
    QFile old(session.folders().program() + "batterie.XML"); // another spelling of the same file
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    session.start();
    TGestione_gare* g = Gestione_gare;
    g->heatsRunInRound = 2;
    g->Mem_Qualif_fatte->setText(QStringLiteral("1"));
    saveListThroughItsWindow();

    Gestione_gare->Crea1->trigger();
    QCOMPARE(Form_batterie->Lbe_nr_conc_batt->text(), QStringLiteral("4"));
    QCOMPARE(Form_batterie->Lbe_Nr_Qualif->text(), QStringLiteral("1"));
    QCOMPARE(Form_batterie->Lbe_Durata_Qualif->text(), QStringLiteral("1"));
    openHeatSettings(QStringLiteral("2"), QStringLiteral("3"));
    dialogs::clearShown();
    Form_batterie->Button2->click();

    // Generated on showing; handed over only when the window is left.
    QVERIFY(Frm_lista_batterie->isVisible());
    QVERIFY(!Form_batterie->isVisible());
    QVERIFY(dialogs::shown().isEmpty());
    QCOMPARE(gridRows(), tenCompetitorsHeats);
    QVERIFY(!QFile::exists(old.fileName()));
    QVERIFY(!QFile::exists(heatsPath()));
    QVERIFY(g->CreaNuoveQualifiche1->isEnabled());
    QVERIFY(g->Mem_Qualif_fatte->text().isEmpty());
    QCOMPARE(g->heatsRunInRound, 0);
    QCOMPARE(g->Ed_Nr_Batterie->text(), QStringLiteral("Ed_Nr_Batterie"));

    Frm_lista_batterie->Button1->click();
    QVERIFY(!Frm_lista_batterie->isVisible());
    QVERIFY(dialogs::shown().isEmpty());
    QCOMPARE(savedHeats(), tenCompetitorsHeats);
    QCOMPARE(g->Ed_Nr_Batterie->text(), QStringLiteral("3"));
    QCOMPARE(g->Ed_Qual_da_fare->text(), QStringLiteral("2"));
    QCOMPARE(g->Mem_qual_da_fare->text(), QStringLiteral("2"));
    QCOMPARE(g->Ed_Durata_Gara->text(), QStringLiteral("3:0"));
    QCOMPARE(g->raceDuration, convert::strToTime(QStringLiteral("3")) * timetext::minuteScale);
    QCOMPARE(g->remainingTime, g->raceDuration);
    QCOMPARE(armed(), QStringLiteral("xxxx-"));
}

void TestBatterie::noListFile()
{
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    QFile old(heatsPath());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    Gestione_gare->Crea1Click();
    dialogs::clearShown();
    Form_batterie->Button2->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Lista concorrenti vuota - prima immetti lista concorrenti"});
    QVERIFY(Frm_lista_batterie->isVisible());
    QVERIFY(!QFile::exists(heatsPath()));
    QVERIFY(Frm_lista_batterie->CDS_Batterie->isOpen());
    QCOMPARE(gridRows(), QStringList());
    QVERIFY(!Form_batterie->isVisible()); // "Crea Batterie" still completes
}

void TestBatterie::handOverRefused_data()
{
    QTest::addColumn<int>("competitors");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("roundsText"); // Ed_Qual_da_fare after the refusal

    // The rounds are handed over before the empty heats table is found.
    QTest::newRow("empty list: no heat number to hand over")
        << 0 << "1"
        << "Could not convert variant of type (Null) into type (String)"
        << "2";
    // A duration is read as a time of day: 24 hours do not exist.
    QTest::newRow("duration 24") << 10 << "24"
                                 << "'24' is not a valid time"
                                 << "Ed_Qual_da_fare";
}

void TestBatterie::handOverRefused()
{
    QFETCH(int, competitors);
    QFETCH(QString, minutes);
    QFETCH(QString, error);
    QFETCH(QString, roundsText);
    ProgramSession session(ProgramSession::Device::None);
    writeList(tenCompetitors.mid(0, competitors));
    session.start();
    saveListThroughItsWindow();
    openHeatSettings(QStringLiteral("2"), minutes);
    Form_batterie->Button2->click();
    dialogs::clearShown();

    Frm_lista_batterie->Button1->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{error});
    QVERIFY(Frm_lista_batterie->isVisible());
    QVERIFY(!QFile::exists(heatsPath()));
    QCOMPARE(Gestione_gare->Ed_Nr_Batterie->text(), QStringLiteral("Ed_Nr_Batterie"));
    QCOMPARE(Gestione_gare->Ed_Qual_da_fare->text(), roundsText);
    QCOMPARE(armed(), QStringLiteral("-----")); // no channel assigned

    if (competitors == 0)
        return;
    // A duration of 1 to 23 set in the heat settings completes the hand-over.
    Form_batterie->Lbe_Durata_Qualif->setText(QStringLiteral("23"));
    Frm_lista_batterie->Exut1->trigger();
    QVERIFY(!Frm_lista_batterie->isVisible());
    QCOMPARE(savedHeats(), tenCompetitorsHeats);
    QCOMPARE(Gestione_gare->Ed_Durata_Gara->text(), QStringLiteral("23:0"));
    QCOMPARE(Gestione_gare->Ed_Nr_Batterie->text(), QStringLiteral("3"));
}

void TestBatterie::handEditInTheHeatsGridCounts()
{
    ProgramSession session(ProgramSession::Device::None);
    writeList(tenCompetitors);
    session.start();
    saveListThroughItsWindow();
    openHeatSettings(QStringLiteral("1"), QStringLiteral("1"));
    Form_batterie->Button2->click();
    QApplication::setActiveWindow(Frm_lista_batterie);
    QVERIFY(QTest::qWaitForWindowActive(Frm_lista_batterie));

    // Ivo moved to heat 7 by hand, the cell editor still open when "Esci" is pressed.
    DataGrid* grid = Frm_lista_batterie->DBG_batterie;
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(9, 0));
    QTest::keyClick(grid, Qt::Key_7);
    Frm_lista_batterie->Button1->click();
    QCOMPARE(Gestione_gare->Ed_Nr_Batterie->text(), QStringLiteral("7"));
    QCOMPARE(savedHeats().last(), QStringLiteral("7|Ivo|40.685|g"));
}

void TestBatterie::settingsValidation_data()
{
    QTest::addColumn<QString>("rounds");
    QTest::addColumn<QString>("heatSize");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<QString>("shown");

    const QString below1 = "Campo nr. qualifiche, Durata qualifiche o nr. concorrenti non può essere inferiore a 1";
    QTest::newRow("no rounds") << "0"
                               << "4"
                               << "1" << below1;
    QTest::newRow("heat size 0") << "1"
                                 << "0"
                                 << "1" << below1;
    QTest::newRow("negative duration") << "1"
                                       << "4"
                                       << "-2" << below1;
    QTest::newRow("not a number") << "1"
                                  << "x"
                                  << "1"
                                  << "'x' is not a valid integer value";
    QTest::newRow("rounds read first, the rest not read") << "0"
                                                          << "x"
                                                          << "" << below1;
}

void TestBatterie::settingsValidation()
{
    QFETCH(QString, rounds);
    QFETCH(QString, heatSize);
    QFETCH(QString, minutes);
    QFETCH(QString, shown);
    ProgramSession session(ProgramSession::Device::None);
    writeList(tenCompetitors);
    session.start();
    saveListThroughItsWindow();
    openHeatSettings(rounds, minutes);
    Form_batterie->Lbe_nr_conc_batt->setText(heatSize);
    dialogs::clearShown();
    Form_batterie->Button2->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{shown});
    QVERIFY(Form_batterie->isVisible());
    QVERIFY(!Frm_lista_batterie->isVisible());
    QVERIFY(!Gestione_gare->CreaNuoveQualifiche1->isEnabled());
}

void TestBatterie::settingsExitEnablesNewQualifications()
{
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    Gestione_gare->Crea1Click();
    Form_batterie->Button1->click();
    QVERIFY(!Form_batterie->isVisible());
    QVERIFY(!Gestione_gare->CreaNuoveQualifiche1->isEnabled());
    Gestione_gare->Crea1Click();
    Form_batterie->Exit1->trigger();
    QVERIFY(!Form_batterie->isVisible());
    QVERIFY(Gestione_gare->CreaNuoveQualifiche1->isEnabled());
    QVERIFY(!Frm_lista_batterie->isVisible());
}

void TestBatterie::upDownStaysWithinRange()
{
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    QLineEdit* edit = Form_batterie->Lbe_nr_conc_batt;
    auto* up = Form_batterie->UpDown1->findChild<QToolButton*>(QStringLiteral("up"));
    auto* down = Form_batterie->UpDown1->findChild<QToolButton*>(QStringLiteral("down"));
    QVERIFY(up && down);
    up->click();
    QCOMPARE(edit->text(), QStringLiteral("5"));
    edit->setText(QStringLiteral("100"));
    up->click();
    QCOMPARE(edit->text(), QStringLiteral("100"));
    edit->setText(QStringLiteral("0"));
    down->click();
    QCOMPARE(edit->text(), QStringLiteral("0"));
}

void TestBatterie::channelsOfAHeat_data()
{
    QTest::addColumn<QString>("heatSize");
    QTest::addColumn<QString>("expected"); // x: counts passages, -: finished
    QTest::newRow("1") << "1"
                       << "x----";
    QTest::newRow("3") << "3"
                       << "xxx--";
    QTest::newRow("5") << "5"
                       << "xxxxx";
    QTest::newRow("0") << "0"
                       << "-----";
    QTest::newRow("6: more than the device has") << "6"
                                                 << "-----";
    QTest::newRow("not a number") << "tre"
                                  << "-----";
}

void TestBatterie::channelsOfAHeat()
{
    QFETCH(QString, heatSize);
    QFETCH(QString, expected);
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    for (int ch = 1; ch <= 5; ++ch)
        Gestione_gare->channels[ch].channelFinished = ch % 2 == 0;
    Form_batterie->Lbe_nr_conc_batt->setText(heatSize);
    guard([] { Frm_lista_batterie->ImpostoVarMacch(); });
    QCOMPARE(armed(), expected);
}

QTEST_MAIN(TestBatterie)
#include "test_batterie.moc"
