#include "competitors/concorrenti.h"
#include "device/allineam_laser.h"
#include "device/serialport.h"
#include "finals/finali.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/support/racefixture.h"
#include "tools/sim/simulator.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// Closing the program keeps what was typed and timed, and device checks keep out of a race.
class TestShutdown : public QObject
{
    Q_OBJECT
private slots:
    void titleBarCloseRefusedWhenATableCannotBeWritten();
    void firstCompetitorListIsSavedOnClose();
    void finalWaitingForItsLastCarsIsWrittenBack();
    void deviceChecksRefusedDuringARace_data();
    void deviceChecksRefusedDuringARace();
};

namespace {

// A directory where a table's file goes: no save can replace it, not even as root.
void blockFile(const QString& path)
{
    QFile::remove(path);
    QVERIFY(QDir().mkdir(path));
}

int lapsIn(const QString& file, const QString& lapsField, int channel, const QString& keyField)
{
    Table t;
    t.setFileName(file);
    t.open();
    for (int row = 0; row < t.recordCount(); ++row) {
        if (t.valueAt(row, t.fieldIndexOrThrow(keyField)).toInt() == channel)
            return t.valueAt(row, t.fieldIndexOrThrow(lapsField)).toInt();
    }
    return -1;
}

} // namespace

void TestShutdown::titleBarCloseRefusedWhenATableCannotBeWritten()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    Gestione_gare->Bitb_Stop->click(); // saves the laps so far
    // A change after the last save, and a file that can no longer be written.
    Table& table = *Gestione_gare->CDS_Gara;
    table.first();
    table.edit();
    table.setValue(layouts::giri, 7);
    table.post();
    const QString file = paths::programFile(layouts::qualificationFile);
    blockFile(file);
    Gestione_gare->show();
    dialogs::clearShown();

    QVERIFY(!Gestione_gare->close()); // the title bar's close box
    QCOMPARE(dialogs::shownTexts().size(), 1);
    QVERIFY(dialogs::shownTexts().first().contains(QStringLiteral("sit_conc.xml")));
    QVERIFY(Gestione_gare->isVisible());
    QVERIFY(table.isOpen());
    QCOMPARE(table.recordCount(), 2);

    // Once the file can be written again, the close goes through and the change is kept.
    QVERIFY(QDir().rmdir(file));
    QVERIFY(Gestione_gare->close());
    table.close();
    QCOMPARE(lapsIn(file, layouts::giri, 1, layouts::num), 7);
}

void TestShutdown::firstCompetitorListIsSavedOnClose()
{
    ProgramSession program(ProgramSession::Device::None);
    program.start();
    const QString file = paths::programFile(layouts::competitorListFile);
    QVERIFY(!QFile::exists(file));
    Gestione_gare->show();
    Gestione_gare->Inserimento1->trigger();
    QVERIFY(Frm_concorrenti->isVisible());
    Frm_concorrenti->CDS_lista_conc->appendRecord({QStringLiteral("Rossi"), 27.145, QStringLiteral("A")});

    // The program closes while the list's window is still open.
    QVERIFY(Gestione_gare->close());
    QVERIFY(!Frm_concorrenti->isVisible());
    Table saved;
    saved.setFileName(file);
    saved.open();
    QCOMPARE(saved.recordCount(), 1);
    QCOMPARE(saved.valueAt(0, 0).toString(), QStringLiteral("Rossi"));
}

void TestShutdown::finalWaitingForItsLastCarsIsWrittenBack()
{
    RaceFixture race;
    QVERIFY(race.buildQualifications(3, 3));
    QVERIFY(race.buildFinal(3));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 10000));
    QVERIFY(race.receive("2", 11000));
    race.tickToTimeUp();
    QVERIFY(Gestione_gare->timeUp);
    QVERIFY(race.receive("1", 70000)); // car 1 is in; cars 2 and 3 are still out

    Gestione_gare->show();
    QVERIFY(Gestione_gare->close());
    const QString file = paths::programFile(layouts::finalsFile);
    QCOMPARE(lapsIn(file, layouts::nGiri, 1, layouts::nr), 3);
    QCOMPARE(lapsIn(file, layouts::nGiri, 2, layouts::nr), 1);
}

void TestShutdown::deviceChecksRefusedDuringARace_data()
{
    QTest::addColumn<QString>("check");
    QTest::newRow("dialogue check") << "Verificadialogoseriale1";
    QTest::newRow("double click on the port") << "Lbl_Comm";
    QTest::newRow("laser alignment") << "Allineamentolaser1";
    QTest::newRow("end of the alignment") << "Button1";
}

void TestShutdown::deviceChecksRefusedDuringARace()
{
    QFETCH(QString, check);
    RaceFixture race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    race.device().clearRecords();

    if (check == QLatin1String("Lbl_Comm"))
        Gestione_gare->Lbl_CommDblClick();
    else if (check == QLatin1String("Button1"))
        Form_All_Laser->Button1->click();
    else
        Gestione_gare->findChild<QAction*>(check)->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Operazione non consentita durante la gara in corso"});
    // The race goes on: the port is still open, nothing was sent, and passages still count.
    QVERIFY(Gestione_gare->VaComm1->isOpen());
    QTest::qWait(50);
    QCOMPARE(race.device().commandText(), QByteArray());
    QVERIFY(race.receive("1", 10000));
    QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 2);
}

QTEST_MAIN(TestShutdown)
#include "test_shutdown.moc"
