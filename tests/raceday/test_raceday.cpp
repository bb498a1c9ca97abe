#include "competitors/batterie.h"
#include "data/seed.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "finals/finali.h"
#include "printing/reportproject.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/raceday/meeting.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

// A whole race day driven through the windows as a user would, with the simulated device on a
// pseudo-terminal: twelve competitors, heats of four, two qualification rounds of one minute, all
// finals of four at zero minutes, and every report printed. The clocks tick faster than once a
// second; the passages go through the real serial path.
class TestRaceDay : public QObject
{
    Q_OBJECT
private slots:
    void raceDay();
};

namespace {

constexpr int competitorCount = 12;

QString pilot(int k)
{
    return QStringLiteral("Pilota %1").arg(k, 2, 10, QLatin1Char('0'));
}

// Pilota 01 is the fastest; 60 ms between neighbours leaves room for the machine's jitter.
int lapMs(const QString& name)
{
    return 400 + 60 * (name.right(2).toInt() - 1);
}

// The first two share a frequency, so Pilota 02 is pushed into heat 2.
QString frequency(int k)
{
    return QString::number(k <= 2 ? 27.005 : 27.005 + 0.01 * (k - 2), 'f', 3);
}

struct Row
{
    QString name;
    int heat = 0;
    int number = 0;
    int laps = 0;
    double bestMs = 0;
    QString final;
    int position = 0;
};

QList<Row> readTable(const QString& file, const QString& nameField)
{
    Table t;
    t.setFileName(paths::programFile(file));
    t.open();
    QList<Row> rows;
    for (t.first(); !t.eof(); t.next()) {
        Row r;
        r.name = t.value(nameField).toString();
        if (t.fieldIndex(layouts::batteria) >= 0) {
            r.heat = t.value(layouts::batteria).toInt();
            r.number = t.value(layouts::num).toInt();
            r.laps = t.value(layouts::giri).toInt();
            r.bestMs = t.value(layouts::tempoMiglTtime).toDouble() * 86400000.0;
        } else if (t.fieldIndex(layouts::nBatteria) >= 0) {
            r.heat = t.value(layouts::nBatteria).toInt();
        } else {
            r.number = t.value(layouts::nr).toInt();
            r.final = t.value(layouts::finale).toString();
            r.laps = t.value(layouts::nGiri).toInt();
            r.position = t.value(layouts::posiz).toInt();
        }
        rows.append(r);
    }
    return rows;
}

QString pdfText(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Indexes of the names in the text, in the order given; -1 when missing.
QList<qsizetype> positionsIn(const QString& text, const QStringList& names)
{
    QList<qsizetype> at;
    for (const QString& n : names)
        at.append(text.indexOf(n));
    return at;
}

bool ascending(const QList<qsizetype>& at)
{
    for (int i = 0; i < at.size(); ++i) {
        if (at[i] < 0 || (i > 0 && at[i] < at[i - 1]))
            return false;
    }
    return true;
}

// Passages for the cars on channels 1..4 at their own lap times, measured from "E".
QList<Passage> script(const QStringList& carsByChannel)
{
    QList<Passage> passages;
    for (int c = 0; c < carsByChannel.size(); ++c) {
        const int lap = lapMs(carsByChannel[c]);
        for (int t = lap; t < 12000; t += lap)
            passages.append({t, c + 1});
    }
    std::sort(passages.begin(), passages.end(),
              [](const Passage& a, const Passage& b) { return a.timeMs < b.timeMs; });
    return passages;
}

} // namespace

void TestRaceDay::raceDay()
{
    QElapsedTimer wall;
    wall.start();
    ProgramSession session;
    Simulator& device = session.device();
    seedInstallFolder(); // as main() does before the windows are created
    session.start();
    TGestione_gare* g = Gestione_gare;
    meeting::prepareRaceWindow();
    QCOMPARE(g->Sh_Ok_Com->brushColor(), QColor(0, 128, 0)); // the device answered

    // Competitors typed into the list; minimum lap time 0, heats of four, two rounds of one minute.
    QStringList competitors;
    for (int k = 1; k <= competitorCount; ++k)
        competitors.append(pilot(k) + QLatin1Char('|') + frequency(k) + QLatin1Char('|') +
                           (k % 2 ? QStringLiteral("Junior") : QStringLiteral("Senior")));
    meeting::enterCompetitors(competitors);
    QVERIFY(g->Crea1->isEnabled());
    meeting::createQualifications(QStringLiteral("0"), 4, 2, 1);
    QCOMPARE(g->Ed_Nr_Batterie->text(), QStringLiteral("3"));

    const QList<Row> heats = readTable(layouts::heatsFile, layouts::concorrente);
    QCOMPARE(heats.size(), competitorCount);
    QMap<int, QStringList> heatMembers;
    for (const Row& r : heats)
        heatMembers[r.heat].append(r.name);
    QCOMPARE(heatMembers.value(1), (QStringList{pilot(1), pilot(3), pilot(4), pilot(5)}));
    QCOMPARE(heatMembers.value(2), (QStringList{pilot(2), pilot(6), pilot(7), pilot(8)}));
    QCOMPARE(heatMembers.value(3), (QStringList{pilot(9), pilot(10), pilot(11), pilot(12)}));

    // The qualifications: six races, heats 1, 2, 3, 1, 2, 3, each complete when every car made its
    // last passage after the time ran out.
    QVERIFY(Form_Qualifica->qualificationsActive);
    auto runRace = [&](const QStringList& carsByChannel) { meeting::runRace(device, script(carsByChannel)); };
    for (int race = 0; race < 6; ++race) {
        const int heat = race % 3 + 1;
        runRace(heatMembers.value(heat));
        QCOMPARE(Form_Qualifica->Lbe_Nr_Bat_Qual->text(), heat == 3 ? QStringLiteral("0") : QString::number(heat));
    }
    QCOMPARE(g->Mem_Qualif_fatte->text(), QStringLiteral("2"));
    QVERIFY(g->EstraiFinalisti1->isEnabled());

    // Every competitor lapped at his own speed; the ranking follows the speeds.
    const QList<Row> qualification = readTable(layouts::qualificationFile, layouts::nomeConc);
    QCOMPARE(qualification.size(), competitorCount);
    for (const Row& r : qualification) {
        QVERIFY2(r.laps >= 4, qPrintable(r.name));
        // The lap times' accuracy is measured by bench_race; the ranking below checks they follow the speeds.
        QVERIFY2(r.bestMs > 0, qPrintable(QStringLiteral("%1: best %2 ms").arg(r.name).arg(r.bestMs)));
    }
    g->VisualizzarisultatiQualifiche1->trigger();
    QStringList ranking;
    for (int k = 1; k <= competitorCount; ++k)
        ranking.append(pilot(k));
    QStringList ranked;
    for (g->CDS_Gara->first(); !g->CDS_Gara->eof(); g->CDS_Gara->next())
        ranked.append(g->CDS_Gara->value(layouts::nomeConc).toString());
    QCOMPARE(ranked, ranking);
    const QString pdfFolder = session.folders().program();
    ReportProject::setOutputPdf(pdfFolder + QStringLiteral("qualifiche.pdf"));
    g->Stampaqualifiche1->trigger();

    // All finals of four at zero minutes.
    dialogs::queueAnswer(true);
    g->EstraiFinalisti1->trigger();
    QVERIFY(Form_Finali->isVisible());
    Form_Finali->Chb_Finale_Singola_SN->setChecked(false);
    meeting::setField(Form_Finali->Lbe_Nr_Min_Finale, QStringLiteral("0"));
    Form_Finali->Button1->click();
    QVERIFY(!Form_Finali->isVisible());
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("3"));
    const QList<Row> built = readTable(layouts::finalsFile, layouts::nomeCon);
    QCOMPARE(built.size(), competitorCount);
    for (int i = 0; i < competitorCount; ++i) {
        QCOMPARE(built[i].name, pilot(i + 1));
        QCOMPARE(built[i].final, QString(QChar(u'A' + i / 4)));
        QCOMPARE(built[i].number, i % 4 + 1);
    }
    for (const QString& final : {QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}) {
        const int first = (final[0].unicode() - u'A') * 4 + 1;
        runRace({pilot(first), pilot(first + 1), pilot(first + 2), pilot(first + 3)});
        QCOMPARE(g->currentFinal, final);
    }
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("0"));

    // A zero-minute final ends at its first tick, before any car has lapped: all on equal laps, the
    // positions go in reverse order of the laps index, the last car listed first.
    const QList<Row> finals = readTable(layouts::finalsFile, layouts::nomeCon);
    QCOMPARE(finals.size(), competitorCount);
    for (const Row& r : finals) {
        QCOMPARE(r.laps, 1);
        QCOMPARE(r.position, 5 - r.number);
    }

    // Every report, printed to PDF.
    ReportProject::setOutputPdf(pdfFolder + QStringLiteral("batterie.pdf"));
    g->StampaBatterie1->trigger();
    ReportProject::setOutputPdf(pdfFolder + QStringLiteral("finali.pdf"));
    g->Visualizzarisultatifinali1->trigger();
    g->Stampareportfinali1->trigger();
    ReportProject::setOutputPdf(QString());
    // Nothing went wrong on the way: the only boxes were the two questions, answered Yes.
    QStringList boxes;
    for (const dialogs::Box& box : dialogs::shown()) {
        if (box.kind != dialogs::Kind::Confirm)
            boxes.append(box.text);
    }
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QLatin1Char('|'))));

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext is missing");
    const QString heatsText = pdfText(pdfFolder + QStringLiteral("batterie.pdf"));
    QVERIFY(ascending(positionsIn(heatsText, heatMembers.value(1) + heatMembers.value(2) + heatMembers.value(3))));
    QVERIFY(ascending(positionsIn(pdfText(pdfFolder + QStringLiteral("qualifiche.pdf")), ranking)));
    const QString finalsText = pdfText(pdfFolder + QStringLiteral("finali.pdf"));
    for (int f = 0; f < 3; ++f) {
        const int first = f * 4 + 1;
        // Position order within each final: the fourth finalist won.
        QVERIFY2(ascending(positionsIn(finalsText, {pilot(first + 3), pilot(first + 2), pilot(first + 1), pilot(first)})),
                 qPrintable(finalsText));
    }
    qInfo("race day: %lld ms of wall time", static_cast<long long>(wall.elapsed()));
}

QTEST_MAIN(TestRaceDay)
#include "test_raceday.moc"
