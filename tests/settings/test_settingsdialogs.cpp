#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "race/program.h"
#include "settings/scelta_comm.h"
#include "settings/settingsfile.h"
#include "settings/tempo_min.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

QByteArray settingsBytes()
{
    return readFile(Gestione_gare->settingsPath);
}

// Ends the start-up check once the device has answered, so the port is free.
bool endStartupCheck(ProgramSession& program)
{
    const bool answered =
        QTest::qWaitFor([] { return Gestione_gare->Sh_Ok_Com->brushColor() == QColor(0, 128, 0); }, 5000);
    Gestione_gare->TimerDialogoComTimer();
    const bool ended = QTest::qWaitFor([&] { return program.device().commandText().endsWith('Y'); }, 5000);
    program.device().clearRecords();
    return answered && ended;
}

// Replaces the chooser's field as typing does: select all, then each key.
void typeIntoPortField(const QString& text)
{
    ExitEdit* field = Form_Scelta_Comm->Ed_Comm;
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
}

} // namespace

// The settings file as the port chooser and the minimum lap time dialog write it, and as the program reads it
// at start-up.
class TestSettingsDialogs : public QObject
{
    Q_OBJECT
private slots:
    void minimumLapDialogWritesTheFile();
    void noSettingsFile();
    void restartWithPort2And5Seconds();
    void portTypedIntoTheChooser();
    void portChangeRefusedWhileTheCheckHoldsThePort();
    void portFieldAppliesOnlyWhenLeftWithinItsWindow();
};

void TestSettingsDialogs::minimumLapDialogWritesTheFile()
{
    ProgramSession program;
    program.start();
    Gestione_gare->Impostazionetempominimo1->trigger();
    QVERIFY(Form_tempo_min->isVisible());
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Form_tempo_min->Btn_ok->click();
    QCOMPARE(settingsBytes(), QByteArray("[settings]\r\nCom\r\n1\r\nTmin\r\n5\r\n"));
    QVERIFY(!Form_tempo_min->isVisible());
    QVERIFY(dialogs::shown().isEmpty());
}

void TestSettingsDialogs::noSettingsFile()
{
    ProgramSession program;
    program.start();
    QVERIFY(dialogs::shown().isEmpty());
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 1);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("1"));
    QCOMPARE(Form_Scelta_Comm->Ed_Comm->text(), QStringLiteral("1"));
    QCOMPARE(Form_tempo_min->Ed_tempo_min->text(), QString());
    // Filling the chooser at start-up saved nothing, and no save works before a minimum lap time is typed.
    QVERIFY(!QFile::exists(Gestione_gare->settingsPath));
    Gestione_gare->Impostazionetempominimo1->trigger();
    Form_tempo_min->Btn_ok->click();
    QCOMPARE(dialogs::shownTexts(), QStringList{"'' is not a valid integer value"});
    QVERIFY(Form_tempo_min->isVisible());
    QVERIFY(!QFile::exists(Gestione_gare->settingsPath));
}

void TestSettingsDialogs::restartWithPort2And5Seconds()
{
    ProgramSession program;
    Simulator com2;
    com2.start(2, program.folders().install());
    program.start();
    QVERIFY(endStartupCheck(program));
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Gestione_gare->Impostazioni1->trigger();
    // The up arrow applies and saves at once.
    Form_Scelta_Comm->UpDown1->findChild<QToolButton*>(QStringLiteral("up"))->click();
    QCOMPARE(Form_Scelta_Comm->Ed_Comm->text(), QStringLiteral("2"));
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 2);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("2"));
    QCOMPARE(settingsBytes(), settingsfile::contents(2, 5));

    destroyWindows();
    createWindows();
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 2);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("2"));
    QCOMPARE(Form_Scelta_Comm->Ed_Comm->text(), QStringLiteral("2"));
    QCOMPARE(Form_tempo_min->Ed_tempo_min->text(), QStringLiteral("5"));
    // The start-up check talks to the device on COM2.
    QTRY_COMPARE(Gestione_gare->Sh_Ok_Com->brushColor(), QColor(0, 128, 0));
    QCOMPARE(com2.commandText(), QByteArray("A"));

    // Saving the minimum lap time after the restart keeps the port.
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("7"));
    Form_tempo_min->Btn_ok->click();
    QCOMPARE(settingsBytes(), settingsfile::contents(2, 7));
    QVERIFY(dialogs::shown().isEmpty());
    Gestione_gare->TimerDialogoComTimer(); // let go of COM2 before its device goes
}

void TestSettingsDialogs::portTypedIntoTheChooser()
{
    ProgramSession program;
    program.start();
    QVERIFY(endStartupCheck(program));
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Gestione_gare->Impostazioni1->trigger();
    QVERIFY(Form_Scelta_Comm->isVisible());

    // Clearing the field to type a new number is refused once; the port keeps its number.
    typeIntoPortField(QString());
    QCOMPARE(dialogs::shownTexts(), QStringList{"'' is not a valid integer value"});
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 1);
    QVERIFY(!QFile::exists(Gestione_gare->settingsPath));

    // Every whole number is applied and saved at once; "OK" then refuses it.
    typeIntoPortField(QStringLiteral("3"));
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 3);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("3"));
    QCOMPARE(settingsBytes(), settingsfile::contents(3, 5));
    Form_Scelta_Comm->Button1->click();
    QCOMPARE(dialogs::shownTexts().last(), QStringLiteral("Scegliere Com 1 o Com 2"));
    QVERIFY(Form_Scelta_Comm->isVisible());
    QVERIFY(!Gestione_gare->dialogueCheckActive);

    // Back to 1: "OK" starts a dialogue check on it and closes the chooser.
    typeIntoPortField(QStringLiteral("1"));
    Form_Scelta_Comm->Button1->click();
    QVERIFY(!Form_Scelta_Comm->isVisible());
    QVERIFY(Gestione_gare->dialogueCheckActive);
    QTRY_COMPARE(Gestione_gare->Sh_Ok_Com->brushColor(), QColor(0, 128, 0));
    QCOMPARE(settingsBytes(), settingsfile::contents(1, 5));
    QCOMPARE(dialogs::shown().size(), 2);
}

void TestSettingsDialogs::portChangeRefusedWhileTheCheckHoldsThePort()
{
    ProgramSession program;
    program.start();
    QVERIFY(Gestione_gare->VaComm1->isOpen());
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    typeIntoPortField(QStringLiteral("2"));
    QCOMPARE(dialogs::shownTexts(), QStringList{"Can't perform this operation while port is open"});
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 1);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("1"));
    QVERIFY(!QFile::exists(Gestione_gare->settingsPath));
}

void TestSettingsDialogs::portFieldAppliesOnlyWhenLeftWithinItsWindow()
{
    ProgramSession program;
    program.start();
    QVERIFY(Gestione_gare->VaComm1->isOpen()); // the start-up check holds the port
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Gestione_gare->show();
    Gestione_gare->Impostazioni1->trigger();
    Form_Scelta_Comm->activateWindow();
    QTRY_VERIFY(Form_Scelta_Comm->isActiveWindow());
    Form_Scelta_Comm->Ed_Comm->setFocus();
    QTRY_VERIFY(Form_Scelta_Comm->Ed_Comm->hasFocus());
    typeIntoPortField(QStringLiteral("2"));
    QCOMPARE(dialogs::shownTexts(), QStringList{"Can't perform this operation while port is open"});

    // The user clicks the race window: the field's window loses activation, which is no exit.
    Gestione_gare->activateWindow();
    QTRY_VERIFY(Gestione_gare->isActiveWindow());
    QTRY_VERIFY(!Form_Scelta_Comm->Ed_Comm->hasFocus());
    QCOMPARE(dialogs::shown().size(), 1);

    // Back in the chooser, with the port free: Tab leaves the field, which applies it.
    Gestione_gare->TimerDialogoComTimer();
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    Form_Scelta_Comm->activateWindow();
    QTRY_VERIFY(Form_Scelta_Comm->isActiveWindow());
    QTRY_VERIFY(Form_Scelta_Comm->Ed_Comm->hasFocus());
    QCOMPARE(dialogs::shown().size(), 1);
    QTest::keyClick(Form_Scelta_Comm->Ed_Comm, Qt::Key_Tab);
    QCOMPARE(dialogs::shown().size(), 1);
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 2);
    QCOMPARE(settingsBytes(), settingsfile::contents(2, 5));
}

QTEST_MAIN(TestSettingsDialogs)
#include "test_settingsdialogs.moc"
