#include "data/seed.h"
#include "printing/about.h"
#include "printing/help.h"
#include "printing/reportproject.h"
#include "printing/reports.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/error.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "tests/printing/pdftext.h"
#include "tests/support/program.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The race window's print commands over a small known meeting, the manual and the about box.
class TestPrintCommands : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void seedsProjectsAndManual();
    void heatsReportReadsTheLatestHeats();
    void qualificationReportFollowsTheRaceTable();
    void finalsReportInPositionOrder();
    void finalsReportWithoutFinalsTable();
    void missingProjectFile();
    void heatsTableThatCannotBeOpened();
    void aboutTwiceShowsOneAboutBox();
    void manualOpensFromHelp();
};

namespace {

#define REQUIRE_PDFTOTEXT()                                                                                            \
    if (!pdftext::available())                                                                                         \
    QSKIP("pdftotext (poppler-utils) is not installed")

struct Heat
{
    int heat;
    QString name;
    double frequency;
    QString group;
};

// Heats as the generator leaves them: in frequency order, the heats interleaved.
const QList<Heat> firstHeats = {
    {1, "Anna", 27.095, "Club Nord"}, {2, "Dario", 27.095, "Club Est"},  {1, "Bruno", 27.145, "Club Sud"},
    {2, "Elena", 27.145, "Club Sud"}, {1, "Carla", 27.195, "Club Nord"}, {2, "Franco", 27.245, " "},
};

void writeHeats(const QList<Heat>& heats)
{
    Table t;
    layouts::defineHeats(t);
    t.createTable();
    for (const Heat& h : heats)
        t.appendRecord({h.heat, h.name, h.frequency, h.group});
    t.saveToFile(paths::programFile(layouts::heatsFile));
}

double ms(int milliseconds)
{
    return milliseconds / timetext::msPerDay;
}

struct Result
{
    QString name;
    int laps;
    int bestMs; // 0: no timed lap
    int totalMs;
};

// Qualification results after the rounds: ranking Elena, Bruno, Dario, Anna, Franco, Carla (untimed).
const QList<Result> results = {
    {"Anna", 4, 12500, 61000},  {"Bruno", 5, 11900, 60500}, {"Carla", 0, 0, 0},
    {"Dario", 5, 12100, 62000}, {"Elena", 5, 11700, 60100}, {"Franco", 4, 13000, 63000},
};

QString resultLine(int position, int heat, const QString& name)
{
    for (const Result& r : results) {
        if (r.name != name)
            continue;
        QStringList parts{QString::number(position), QString::number(heat), name, QString::number(r.laps)};
        if (r.bestMs > 0)
            parts << timetext::lapText(ms(r.bestMs)) << timetext::totalText(ms(r.totalMs));
        return parts.join(QLatin1Char(' '));
    }
    return QString();
}

// "Crea Nuove Qualifiche" over the heats file, then the results written into the race table.
void buildQualifications()
{
    TGestione_gare* g = Gestione_gare;
    g->abilitomenQualifiche1->trigger();
    dialogs::queueAnswer(true);
    g->CreaNuoveQualifiche1->trigger();
    Table* gara = g->CDS_Gara;
    QVERIFY(gara->isOpen());
    for (int row = 0; row < gara->recordCount(); ++row) {
        gara->moveTo(row);
        for (const Result& r : results) {
            if (r.name != gara->asString(layouts::nomeConc))
                continue;
            gara->edit();
            gara->setValue(layouts::giri, r.laps);
            if (r.bestMs > 0) {
                gara->setValue(layouts::tempoMiglTtime, ms(r.bestMs));
                gara->setValue(layouts::tempoMigl, timetext::lapText(ms(r.bestMs)));
                gara->setValue(layouts::tempoTotTtime, ms(r.totalMs));
                gara->setValue(layouts::tempoTot, timetext::totalText(ms(r.totalMs)));
            }
            gara->post();
        }
    }
    dialogs::clearShown(); // the confirmation
}

struct Session
{
    ProgramSession program;
    QTemporaryDir output;

    explicit Session(bool seed = true)
    {
        if (seed)
            seedInstallFolder();
        program.start();
        dialogs::clearShown(); // the start-up dialogue check may report a missing port
        ReportProject::setOutputPdf(pdf());
    }
    QString pdf() const { return output.filePath(QStringLiteral("report.pdf")); }
    QStringList printed()
    {
        const QStringList lines = pdftext::lines(pdf());
        QFile::remove(pdf());
        return lines;
    }
};

} // namespace

void TestPrintCommands::cleanup()
{
    ReportProject::setOutputPdf(QString());
    help::setUrlOpener({});
}

void TestPrintCommands::seedsProjectsAndManual()
{
    ProgramSession program;
    const QStringList copied = seedInstallFolder();
    for (const QString& name :
         {reports::heatsProject, reports::qualificationProject, reports::finalsProject, help::manualFile}) {
        QVERIFY2(copied.contains(name), qPrintable(name));
        QVERIFY(QFile::exists(program.folders().install() + name));
    }
}

void TestPrintCommands::heatsReportReadsTheLatestHeats()
{
    REQUIRE_PDFTOTEXT();
    Session s;
    writeHeats(firstHeats);
    buildQualifications();
    TGestione_gare* g = Gestione_gare;
    QVERIFY(g->StampaBatterie1->isEnabled());
    QVERIFY(!g->CDS_Batterie->isOpen());

    g->StampaBatterie1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    QStringList lines = s.printed();
    QString why;
    QVERIFY2(
        pdftext::inOrder(lines,
                         {"Batteria 1", "Batteria Concorrente Frequenza Gruppo", "1 Anna 27.095 Club Nord",
                          "1 Bruno 27.145 Club Sud", "1 Carla 27.195 Club Nord", "Batteria 2",
                          "Batteria Concorrente Frequenza Gruppo", "2 Dario 27.095 Club Est", "2 Elena 27.145 Club Sud",
                          "2 Franco 27.245", "Quintara - cronometraggio RC Pagina 1 di 1"},
                         &why),
        qPrintable(why));
    QVERIFY(lines.first().startsWith(QStringLiteral("Batterie Data: ")));
    QVERIFY(!g->CDS_Batterie->isOpen()); // opened for the run, closed again

    // New heats handed over; the project file gone from disk: the loaded project prints the new file.
    writeHeats({{1, "Gino", 27.095, "Club Est"}, {1, "Ilaria", 27.145, "Club Nord"}, {2, "Luca", 27.095, "Club Sud"}});
    QVERIFY(QFile::remove(paths::installFile(reports::heatsProject)));
    g->StampaBatterie1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    lines = s.printed();
    QVERIFY2(pdftext::inOrder(lines,
                              {"Batteria 1", "1 Gino 27.095 Club Est", "1 Ilaria 27.145 Club Nord", "Batteria 2",
                               "2 Luca 27.095 Club Sud"},
                              &why),
             qPrintable(why));
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("Anna")));
    QVERIFY(!g->CDS_Batterie->isOpen());
}

void TestPrintCommands::qualificationReportFollowsTheRaceTable()
{
    REQUIRE_PDFTOTEXT();
    Session s;
    writeHeats(firstHeats);
    buildQualifications();
    TGestione_gare* g = Gestione_gare;
    Table* gara = g->CDS_Gara;

    // Heat 2 chosen in the heat chooser: its cars in ranking order, and nothing else.
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("2"));
    Form_Qualifica->Button1->click();
    gara->moveTo(1);
    const QString current = gara->asString(layouts::nomeConc);
    g->Stampaqualifiche1->setEnabled(true); // as at the end of a heat
    g->Stampaqualifiche1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    QStringList lines = s.printed();
    const QString header = QStringLiteral("Pos. Batteria Concorrente Giri Miglior giro Tempo totale");
    QString why;
    QVERIFY2(
        pdftext::inOrder(
            lines, {header, resultLine(1, 2, "Elena"), resultLine(2, 2, "Dario"), resultLine(3, 2, "Franco")}, &why),
        qPrintable(why));
    for (const char* other : {"Anna", "Bruno", "Carla"})
        QVERIFY2(!lines.join(QLatin1Char('\n')).contains(QLatin1String(other)), other);
    // The race table keeps its filter and its current row.
    QVERIFY(gara->isOpen());
    QVERIFY(gara->filtered());
    QCOMPARE(gara->filter(), QStringLiteral("batteria = 2"));
    QCOMPARE(gara->currentRow(), 1);
    QCOMPARE(gara->asString(layouts::nomeConc), current);

    // "Visualizza risultati Qualifiche": the whole ranking.
    g->VisualizzarisultatiQualifiche1->setEnabled(true);
    g->VisualizzarisultatiQualifiche1->trigger();
    g->Stampaqualifiche1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    lines = s.printed();
    QVERIFY2(pdftext::inOrder(lines,
                              {header, resultLine(1, 2, "Elena"), resultLine(2, 1, "Bruno"), resultLine(3, 2, "Dario"),
                               resultLine(4, 1, "Anna"), resultLine(5, 2, "Franco"), resultLine(6, 1, "Carla")},
                              &why),
             qPrintable(why));
    QVERIFY(!gara->filtered());
}

void TestPrintCommands::finalsReportInPositionOrder()
{
    REQUIRE_PDFTOTEXT();
    Session s;
    Table finals;
    layouts::defineFinals(finals);
    finals.createTable();
    auto finalist = [&finals](int nr, const QString& letter, const QString& name, int laps, int bestMs, int position) {
        finals.appendRecord({nr, letter, name, laps, QVariant(), QVariant(), QVariant(), QVariant(), ms(bestMs),
                             timetext::lapText(ms(bestMs)), position});
    };
    finalist(1, "A", "Elena", 12, 11500, 2);
    finalist(2, "A", "Bruno", 13, 11400, 1);
    finalist(3, "A", "Dario", 11, 12000, 3);
    finalist(1, "B", "Anna", 10, 12300, 1);
    finalist(2, "B", "Franco", 9, 12900, 2);
    finalist(3, "B", "Carla", 9, 13100, 3);
    finals.saveToFile(paths::programFile(layouts::finalsFile));

    TGestione_gare* g = Gestione_gare;
    g->Impostazfinali1->trigger();
    dialogs::queueAnswer(false); // reopen the saved finals
    g->EstraiFinalisti1->trigger();
    QVERIFY(g->CDS_Finali->isOpen());
    // As at the end of a final: all finals in the order of "posiz." alone.
    g->CDS_Finali->setIndexFieldNames(layouts::posiz);
    dialogs::clearShown();

    g->Stampareportfinali1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    const QStringList lines = s.printed();
    const QString header = QStringLiteral("Posizione Concorrente Giri Miglior giro");
    QString why;
    QVERIFY2(
        pdftext::inOrder(lines,
                         {"Finale A", header, "1 Bruno 13 " + timetext::lapText(ms(11400)),
                          "2 Elena 12 " + timetext::lapText(ms(11500)), "3 Dario 11 " + timetext::lapText(ms(12000)),
                          "Finale B", header, "1 Anna 10 " + timetext::lapText(ms(12300)),
                          "2 Franco 9 " + timetext::lapText(ms(12900)), "3 Carla 9 " + timetext::lapText(ms(13100))},
                         &why),
        qPrintable(why));
    QVERIFY(lines.first().startsWith(QStringLiteral("Risultati finali Data: ")));
    QVERIFY(g->CDS_Finali->isOpen());
    QCOMPARE(g->CDS_Finali->indexFieldNames(), layouts::posiz);
}

void TestPrintCommands::finalsReportWithoutFinalsTable()
{
    Session s;
    TGestione_gare* g = Gestione_gare;
    g->Impostazfinali1->trigger(); // "abilito menu' finali" before any finals table exists
    QVERIFY(g->Stampareportfinali1->isEnabled());
    g->Stampareportfinali1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList());
    QVERIFY(!QFile::exists(s.pdf()));
    QVERIFY(!g->CDS_Finali->isOpen());
}

void TestPrintCommands::missingProjectFile()
{
    Session s(false); // an installation folder without the projects
    writeHeats(firstHeats);
    buildQualifications();
    TGestione_gare* g = Gestione_gare;
    Table* gara = g->CDS_Gara;
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("2"));
    Form_Qualifica->Button1->click();
    gara->moveTo(2);
    dialogs::clearShown();

    g->Stampaqualifiche1->setEnabled(true);
    g->Stampaqualifiche1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{"The following reporting project does not exist:\n\"" +
                                                paths::installFolder() + "Qualifiche.rav\""});
    QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Error);
    QVERIFY(!QFile::exists(s.pdf()));
    QVERIFY(gara->filtered());
    QCOMPARE(gara->filter(), QStringLiteral("batteria = 2"));
    QCOMPARE(gara->currentRow(), 2);
}

void TestPrintCommands::heatsTableThatCannotBeOpened()
{
    Session s;
    TGestione_gare* g = Gestione_gare;
    // The heats table names its file, which is gone.
    const QString path = paths::programFile(layouts::heatsFile);
    g->CDS_Batterie->setFileName(path);
    Table probe(QStringLiteral("CDS_Batterie"));
    probe.setFileName(path);
    QString expected;
    try {
        probe.open();
    } catch (const EngineError& e) {
        expected = e.message();
    }
    QVERIFY(!expected.isEmpty());

    g->StampaBatterie1->setEnabled(true);
    g->StampaBatterie1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{expected});
    QVERIFY(!QFile::exists(s.pdf()));
    QVERIFY(!g->CDS_Batterie->isOpen());
}

void TestPrintCommands::aboutTwiceShowsOneAboutBox()
{
    ProgramSession program;
    program.start();
    Gestione_gare->About1->trigger();
    Gestione_gare->About1->trigger();
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<TForm_About*>(w) && w->isVisible())
            ++shown;
    }
    QCOMPARE(shown, 1);
    QVERIFY(Form_About->isVisible());
}

void TestPrintCommands::manualOpensFromHelp()
{
    Session s;
    QList<QUrl> opened;
    help::setUrlOpener([&opened](const QUrl& url) { opened.append(url); });
    Gestione_gare->Help2->trigger();
    const QString manual = s.program.folders().install() + help::manualFile;
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(manual)});
    QVERIFY(QFile::exists(manual));
    QCOMPARE(dialogs::shownTexts(), QStringList());
}

QTEST_MAIN(TestPrintCommands)
#include "test_printcommands.moc"
