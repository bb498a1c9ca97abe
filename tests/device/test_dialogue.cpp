#include "device/allineam_laser.h"
#include "device/datiseriale.h"
#include "device/serialport.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "settings/scelta_comm.h"
#include "settings/tempo_min.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(AnswerMode)

namespace {

const QColor red(255, 0, 0);
const QColor green(0, 128, 0);

QColor light()
{
    return Gestione_gare->Sh_Ok_Com->brushColor();
}

bool checkRunning()
{
    return Gestione_gare->TimerDialogoCom->isActive();
}

// Ends the start-up check as soon as the device has answered it, and forgets what the device received so far.
bool endStartupCheck(ProgramSession& program)
{
    if (!QTest::qWaitFor([] { return light() == green; }, 5000))
        return false;
    Gestione_gare->TimerDialogoComTimer();
    if (!QTest::qWaitFor([&] { return program.device().commandText() == "AY"; }, 5000))
        return false;
    program.device().clearRecords();
    return true;
}

// The device sends `bytes`; true once the receive handler has run for them.
bool deviceSends(ProgramSession& program, const QByteArray& bytes)
{
    QSignalSpy receptions(Gestione_gare->VaComm1, &SerialPort::OnRxChar);
    program.device().sendNow(bytes);
    return QTest::qWaitFor([&] { return !receptions.isEmpty(); }, 5000);
}

} // namespace

// The race window's side of the serial link: the dialogue check with its status light, where receptions go, the
// serial data monitor and the laser alignment, against the simulated device on a pseudo-terminal.
class TestDialogue : public QObject
{
    Q_OBJECT
private slots:
    void startupCheck_data();
    void startupCheck();
    void userCheckClearsTheRaceModes_data();
    void userCheckClearsTheRaceModes();
    void checkDuringARace();
    void chooserCheckLeavesTheRaceModesOn();
    void portThatNamesNoDevice();
    void receptionsAndTheSerialMonitor_data();
    void receptionsAndTheSerialMonitor();
    void laserAlignment();
    void laserAlignmentRefused_data();
    void laserAlignmentRefused();
};

void TestDialogue::startupCheck_data()
{
    QTest::addColumn<AnswerMode>("mode");
    QTest::addColumn<QByteArray>("answer"); // sent on "A" instead, when not empty
    QTest::addColumn<bool>("green");

    // clang-format off
    QTest::newRow("B within the second") << AnswerMode::Normal << QByteArray() << true;
    QTest::newRow("no answer") << AnswerMode::Silent << QByteArray() << false;
    QTest::newRow("B after the second") << AnswerMode::Late << QByteArray() << false;
    QTest::newRow("B1") << AnswerMode::B1 << QByteArray() << false;
    QTest::newRow("1B") << AnswerMode::Silent << QByteArray("1B") << false;
    QTest::newRow("BB") << AnswerMode::Silent << QByteArray("BB") << false;
    QTest::newRow("lower-case b") << AnswerMode::Silent << QByteArray("b") << false;
    // clang-format on
}

void TestDialogue::startupCheck()
{
    QFETCH(AnswerMode, mode);
    QFETCH(QByteArray, answer);
    QFETCH(bool, green);
    ProgramSession program;
    Simulator& device = program.device();
    device.setAnswerMode(mode);
    device.setLateMs(1300);
    QObject context;
    if (!answer.isEmpty()) {
        connect(&device, &Simulator::commandReceived, &context, [&](const ReceivedCommand& c) {
            if (c.command == 'A')
                device.sendNow(answer);
        });
    }
    program.start();
    QVERIFY(Gestione_gare->dialogueCheckActive);
    QCOMPARE(light(), red);
    QVERIFY(Gestione_gare->VaComm1->isOpen());

    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QVERIFY(!Gestione_gare->dialogueCheckActive);
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QTRY_COMPARE(device.commandText(), QByteArray("AY"));
    if (mode == AnswerMode::Late)
        QTest::qWait(600); // the late answer finds the port closed
    QCOMPARE(light(), green ? ::green : red);
    QVERIFY(dialogs::shown().isEmpty());
}

void TestDialogue::userCheckClearsTheRaceModes_data()
{
    QTest::addColumn<bool>("fromLabel");
    // clang-format off
    QTest::newRow("Verifica dialogo seriale") << false;
    QTest::newRow("double click on the port label") << true;
    // clang-format on
}

void TestDialogue::userCheckClearsTheRaceModes()
{
    QFETCH(bool, fromLabel);
    ProgramSession program;
    program.start();
    QVERIFY(endStartupCheck(program));
    Form_Qualifica->qualificationsActive = true;
    Form_Finali->finalsActive = true;
    program.device().setAnswerMode(AnswerMode::Silent);
    QVERIFY(!checkRunning());

    Gestione_gare->show();
    if (fromLabel)
        QTest::mouseDClick(Gestione_gare->Lbl_Comm, Qt::LeftButton);
    else
        Gestione_gare->Verificadialogoseriale1->trigger();
    QVERIFY(!Form_Qualifica->qualificationsActive);
    QVERIFY(!Form_Finali->finalsActive);
    QVERIFY(Gestione_gare->dialogueCheckActive);
    QCOMPARE(light(), red);
    QTRY_COMPARE(program.device().commandText(), QByteArray("A"));
    // Without a race mode, the answer goes to the check.
    QVERIFY(deviceSends(program, "B"));
    QCOMPARE(light(), green);
    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QTRY_COMPARE(program.device().commandText(), QByteArray("AY"));
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QCOMPARE(light(), green);
}

void TestDialogue::checkDuringARace()
{
    ProgramSession program;
    program.start();
    QVERIFY(endStartupCheck(program));
    // A race holds the port.
    Form_Qualifica->qualificationsActive = true;
    Gestione_gare->VaComm1->OpenPort();

    // Refused: the check would take the port from the race and stop its lap counting.
    Gestione_gare->Verificadialogoseriale1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{"Operazione non consentita durante la gara in corso"});
    QVERIFY(Form_Qualifica->qualificationsActive);
    QVERIFY(!Gestione_gare->dialogueCheckActive);
    QVERIFY(Gestione_gare->VaComm1->isOpen());
    QTest::qWait(1200);
    QVERIFY(Gestione_gare->VaComm1->isOpen());
    QCOMPARE(program.device().commandText(), QByteArray());
    QCOMPARE(dialogs::shown().size(), 1);
}

void TestDialogue::chooserCheckLeavesTheRaceModesOn()
{
    ProgramSession program;
    program.start();
    QVERIFY(endStartupCheck(program));
    Form_Qualifica->qualificationsActive = true; // between two heats: the port is closed
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Gestione_gare->Impostazioni1->trigger();
    Form_Scelta_Comm->Button1->click();
    QVERIFY(Form_Qualifica->qualificationsActive);
    QVERIFY(Gestione_gare->dialogueCheckActive);
    // The answer goes to passage processing, which takes it for no channel.
    QTRY_COMPARE(Form_Dati_Seriale->Me_Dati_Ser->text(), QStringLiteral("B"));
    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QCOMPARE(light(), red);
    QCOMPARE(program.device().commandText(), QByteArray("AY"));
    QVERIFY(dialogs::shown().isEmpty());
}

void TestDialogue::portThatNamesNoDevice()
{
    ProgramSession program(ProgramSession::Device::None);
    // COM1 links to an adapter that is no longer plugged in.
    const QString com1 = program.folders().install() + QStringLiteral("COM1");
    QFile::remove(com1);
    QVERIFY(QFile::link(program.folders().install() + QStringLiteral("ttyUSB-gone"), com1));
    program.start();
    QCOMPARE(dialogs::shownTexts(), QStringList{QStringLiteral("Specified device not found (%1).").arg(com1)});
    QCOMPARE(light(), red);
    QVERIFY(Gestione_gare->dialogueCheckActive);
    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QCOMPARE(dialogs::shown().size(), 1);
    QCOMPARE(light(), red);

    // The rest of the program works: the user picks the port the device really hangs on.
    Simulator device;
    device.start(2, program.folders().install());
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    Form_Scelta_Comm->Ed_Comm->setText(QStringLiteral("2"));
    Form_Scelta_Comm->Button1->click();
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 2);
    QTRY_COMPARE(light(), green);
    QCOMPARE(dialogs::shown().size(), 1);
    Gestione_gare->TimerDialogoComTimer(); // let go of COM2 before its device goes
}

void TestDialogue::receptionsAndTheSerialMonitor_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("monitor");
    QTest::addColumn<QString>("pending"); // left unread by the receive handler

    // clang-format off
    QTest::newRow("qualifications") << "qualifications" << "31" << "";
    QTest::newRow("finals") << "finals" << "" << "";
    QTest::newRow("dialogue check") << "check" << "" << "";
    QTest::newRow("idle") << "idle" << "" << "31";
    // clang-format on
}

void TestDialogue::receptionsAndTheSerialMonitor()
{
    QFETCH(QString, mode);
    QFETCH(QString, monitor);
    QFETCH(QString, pending);
    ProgramSession program;
    program.start();
    QVERIFY(endStartupCheck(program));

    // Showing the monitor starts nothing.
    Gestione_gare->Verificadatiseriale1->trigger();
    QVERIFY(Form_Dati_Seriale->isVisible());
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QCOMPARE(Form_Dati_Seriale->Me_Dati_Ser->text(), QString());

    if (mode == QLatin1String("check")) {
        Gestione_gare->Verificadialogoseriale1->trigger();
        QTRY_COMPARE(program.device().commandText(), QByteArray("A"));
        QTRY_COMPARE(light(), green);
    } else {
        Form_Qualifica->qualificationsActive = mode == QLatin1String("qualifications");
        Form_Finali->finalsActive = mode == QLatin1String("finals");
        Gestione_gare->VaComm1->OpenPort();
    }
    QVERIFY(deviceSends(program, "3"));
    QVERIFY(deviceSends(program, "1"));
    QCOMPARE(Form_Dati_Seriale->receivedText(), monitor);
    QCOMPARE(Gestione_gare->VaComm1->ReadPending(), pending);
    // The memo itself catches up within moments.
    QTRY_COMPARE(Form_Dati_Seriale->Me_Dati_Ser->text(), monitor);
    QVERIFY(dialogs::shown().isEmpty());
}

void TestDialogue::laserAlignment()
{
    ProgramSession program;
    program.start();
    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QCOMPARE(light(), green);
    QTRY_COMPARE(program.device().commandText(), QByteArray("AY"));
    program.device().clearRecords();

    Gestione_gare->Allineamentolaser1->trigger();
    QTRY_COMPARE(program.device().commandText(), QByteArray("C"));
    QCOMPARE(program.device().state(), DeviceState::Aligning);
    QVERIFY(Form_All_Laser->isVisible());
    QVERIFY(Gestione_gare->VaComm1->isOpen());

    Form_All_Laser->Button1->click();
    QTRY_COMPARE(program.device().commandText(), QByteArray("CW"));
    QCOMPARE(program.device().state(), DeviceState::Idle);
    QVERIFY(!Form_All_Laser->isVisible());
    QVERIFY(!Gestione_gare->VaComm1->isOpen());
    QVERIFY(dialogs::shown().isEmpty());
}

void TestDialogue::laserAlignmentRefused_data()
{
    QTest::addColumn<AnswerMode>("mode");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("red light") << AnswerMode::Silent << "Porta Seriale non funzionante";
    QTest::newRow("within the second of a check") << AnswerMode::Normal
                                                  << "Can't perform this operation while port is open";
    // clang-format on
}

void TestDialogue::laserAlignmentRefused()
{
    QFETCH(AnswerMode, mode);
    QFETCH(QString, message);
    ProgramSession program;
    program.device().setAnswerMode(mode);
    program.start();
    if (mode == AnswerMode::Silent) {
        QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
        QCOMPARE(light(), red);
    } else {
        QTRY_COMPARE(light(), green); // answered, but the check still holds the port
        QVERIFY(checkRunning());
    }
    QTRY_VERIFY(program.device().commandText().startsWith("A"));
    const bool wasOpen = Gestione_gare->VaComm1->isOpen();

    Gestione_gare->Allineamentolaser1->trigger();
    QCOMPARE(dialogs::shownTexts(), QStringList{message});
    QVERIFY(!Form_All_Laser->isVisible());
    QCOMPARE(Gestione_gare->VaComm1->isOpen(), wasOpen);
    QTRY_VERIFY_WITH_TIMEOUT(!checkRunning(), 3000);
    QTest::qWait(50);
    QVERIFY(!program.device().commandText().contains('C'));
}

QTEST_MAIN(TestDialogue)
#include "test_dialogue.moc"
