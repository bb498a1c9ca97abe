// SerialPort against the simulator over a real pseudo-terminal.

#include "device/serialport.h"
#include "tables/error.h"
#include "tables/paths.h"
#include "tests/device/receiver.h"
#include "tests/support/errors.h"
#include "tests/support/testfolders.h"
#include "tools/sim/simulator.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensTheLineAndTalks();
    void sendsInOrderAndCloseDeliversTheLastCommand();
    void unreadBytesStayPendingUntilNewOnesArrive();
    void bytesArrivingDuringAHandlerGetAnEvent();
    void everyByteValuePassesUnchanged();
    void refusesWhileOpen();
    void deviceName_data();
    void deviceName();
    void openErrors_data();
    void openErrors();
    void aSecondOpenerIsRefused();
    void opensThroughALongLinkPath();
    void vanishedDeviceIsReportedOnce();
    void closesInsideTheReceiveHandler();

private:
    QString install() const { return m_folders->install(); }

    std::unique_ptr<TestFolders> m_folders;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<SerialPort> m_port;
};

void TestSerialPort::init()
{
    m_folders = std::make_unique<TestFolders>();
    m_sim = std::make_unique<Simulator>();
    m_sim->start(1);
    m_port = std::make_unique<SerialPort>();
}

void TestSerialPort::cleanup()
{
    m_port.reset();
    m_sim.reset();
    m_folders.reset();
}

void TestSerialPort::opensTheLineAndTalks()
{
    QCOMPARE(m_port->DeviceName(), install() + "COM1");
    m_port->OpenPort();
    QVERIFY(m_port->isOpen());

    // The line settings live in the pseudo-terminal, shared by both ends.
    const int fd = ::open(QFile::encodeName(m_sim->ptyPath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios tio{};
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR), tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO), tcflag_t(0));

    QSignalSpy received(m_port.get(), &SerialPort::OnRxChar);
    QVERIFY(m_port->SendText(QStringLiteral("A")));
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received[0][0].value<QObject*>(), m_port.get());
    QCOMPARE(received[0][1].toInt(), 1);
    QCOMPARE(m_port->ReadPending(), QStringLiteral("B"));

    m_port->ClosePort();
    QVERIFY(!m_port->isOpen());
    m_port->ClosePort(); // closing a closed port does nothing

    // Reopening works: nothing of the last session (its lock, bytes sent to a closed port) is in the way.
    m_sim->sendNow("3");
    QTest::qWait(100);
    m_port->OpenPort();
    QVERIFY(m_port->SendText(QStringLiteral("A")));
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(m_port->ReadPending(), QStringLiteral("B"));
}

void TestSerialPort::sendsInOrderAndCloseDeliversTheLastCommand()
{
    QVERIFY(!m_port->SendText(QStringLiteral("A"))); // closed: nothing sent, no error
    m_port->OpenPort();
    for (const char* command : {"R", "4", "3", "2", "1", "Y", "E"})
        QVERIFY(m_port->SendText(QString::fromLatin1(command)));
    QVERIFY(m_port->SendText(QStringLiteral("X")));
    m_port->ClosePort();
    QTRY_COMPARE(m_sim->commandText(), QByteArray("R4321YEX"));

    QVERIFY(!m_port->SendText(QStringLiteral("A")));
    QTest::qWait(50);
    QCOMPARE(m_sim->commandText(), QByteArray("R4321YEX"));
}

void TestSerialPort::unreadBytesStayPendingUntilNewOnesArrive()
{
    m_port->OpenPort();
    QCOMPARE(m_port->ReadPending(), QString());

    QSignalSpy received(m_port.get(), &SerialPort::OnRxChar);
    m_sim->sendNow("1");
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received[0][1].toInt(), 1);
    QTest::qWait(100);
    QCOMPARE(received.count(), 1); // no event for bytes already announced

    m_sim->sendNow("2");
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received[1][1].toInt(), 2);
    QCOMPARE(m_port->ReadPending(), QStringLiteral("12"));
    QCOMPARE(m_port->ReadPending(), QString());

    m_port->ClosePort();
    QCOMPARE(m_port->ReadPending(), QString());
}

void TestSerialPort::bytesArrivingDuringAHandlerGetAnEvent()
{
    // A handler that spins an event loop (a message box, say) while the device sends again.
    QStringList reads;
    connect(m_port.get(), &SerialPort::OnRxChar, this, [&] {
        reads.append(m_port->ReadPending());
        if (reads.size() == 1) {
            m_sim->sendNow("2");
            QTest::qWait(200);
        }
    });
    m_port->OpenPort();
    m_sim->sendNow("1");
    QTRY_COMPARE(reads, QStringList({QStringLiteral("1"), QStringLiteral("2")}));
}

void TestSerialPort::everyByteValuePassesUnchanged()
{
    // Raw in both directions: no XON/XOFF swallowing 0x11 and 0x13, no CR/LF translation, no echo.
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(static_cast<char>(byte));
    // Commands among them ("A", "E") must not make the device answer.
    m_sim->setAnswerMode(AnswerMode::Silent);
    m_sim->setScript({});
    Receiver receiver(*m_port);
    m_port->OpenPort();

    m_sim->sendNow(all);
    QTRY_COMPARE(receiver.text.size(), 256);
    QCOMPARE(receiver.text, QString::fromLatin1(all));

    QVERIFY(m_port->SendText(QString::fromLatin1(all)));
    QTRY_COMPARE(m_sim->commandText(), all);
    QCOMPARE(receiver.text.size(), 256);
}

void TestSerialPort::refusesWhileOpen()
{
    const QString refused = QStringLiteral("Can't perform this operation while port is open");
    m_port->OpenPort();
    QCOMPARE(errorOf([&] { m_port->setPortNum(2); }), refused);
    QCOMPARE(m_port->PortNum(), 1);
    QCOMPARE(errorOf([&] { m_port->OpenPort(); }), refused);

    // The open port is unharmed.
    Receiver receiver(*m_port);
    QVERIFY(m_port->SendText(QStringLiteral("A")));
    QTRY_COMPARE(receiver.text, QStringLiteral("B"));

    m_port->ClosePort();
    m_port->setPortNum(2);
    QCOMPARE(m_port->PortNum(), 2);
}

void TestSerialPort::deviceName_data()
{
    QTest::addColumn<int>("portNum");
    QTest::addColumn<QString>("entry"); // what is at <install>/COMn: "link", "dangling", "none"
    QTest::addColumn<QString>("expected");

    QTest::newRow("link in the installation folder") << 1 << "link"
                                                     << "%1COM1";
    QTest::newRow("dangling link still names the port") << 6 << "dangling"
                                                        << "%1COM6";
    QTest::newRow("no link: the n-1th serial device") << 2 << "none"
                                                      << "/dev/ttyS1";
    QTest::newRow("no link, COM10") << 10 << "none"
                                    << "/dev/ttyS9";
}

void TestSerialPort::deviceName()
{
    QFETCH(int, portNum);
    QFETCH(QString, entry);
    QFETCH(QString, expected);
    if (entry == QLatin1String("dangling"))
        QVERIFY(QFile::link(install() + "gone", install() + QStringLiteral("COM%1").arg(portNum)));
    m_port->setPortNum(portNum);
    QCOMPARE(m_port->DeviceName(), expected.contains(QLatin1String("%1")) ? expected.arg(install()) : expected);
}

void TestSerialPort::openErrors_data()
{
    QTest::addColumn<int>("portNum");
    QTest::addColumn<QString>("entry");    // what COMn is: "dangling", "file", "link-to-file", "directory", "none"
    QTest::addColumn<QString>("expected"); // %1: the installation folder

    QTest::newRow("dangling link") << 7 << "dangling"
                                   << "Specified device not found (%1COM7).";
    QTest::newRow("no link and no such serial device") << 200 << "none"
                                                       << "Specified device not found (/dev/ttyS199).";
    QTest::newRow("link to a plain file")
        << 3 << "link-to-file"
        << "Can't open specified device %1COM3 (Error 25, Inappropriate ioctl for device)";
    QTest::newRow("plain file") << 4 << "file"
                                << "Can't open specified device %1COM4 (Error 25, Inappropriate ioctl for device)";
    QTest::newRow("directory") << 5 << "directory"
                               << "Can't open specified device %1COM5 (Error 21, Is a directory)";
}

void TestSerialPort::openErrors()
{
    QFETCH(int, portNum);
    QFETCH(QString, entry);
    QFETCH(QString, expected);

    const QString com = install() + QStringLiteral("COM%1").arg(portNum);
    if (entry == QLatin1String("none") && QFile::exists(QStringLiteral("/dev/ttyS%1").arg(portNum - 1)))
        QSKIP("this machine has that serial device");
    if (entry == QLatin1String("dangling"))
        QVERIFY(QFile::link(install() + "gone", com));
    if (entry == QLatin1String("file") || entry == QLatin1String("link-to-file")) {
        QFile file(entry == QLatin1String("file") ? com : install() + "plain.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a serial device\n");
    }
    if (entry == QLatin1String("link-to-file"))
        QVERIFY(QFile::link(install() + "plain.txt", com));
    if (entry == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(com));

    m_port->setPortNum(portNum);
    QCOMPARE(errorOf([&] { m_port->OpenPort(); }),
             expected.contains(QLatin1String("%1")) ? expected.arg(install()) : expected);
    QVERIFY(!m_port->isOpen());
    QVERIFY(!m_port->SendText(QStringLiteral("A")));
    QCOMPARE(m_port->ReadPending(), QString());
}

void TestSerialPort::aSecondOpenerIsRefused()
{
    m_port->OpenPort();
    SerialPort other;
    QCOMPARE(errorOf([&] { other.OpenPort(); }),
             QStringLiteral("Can't open specified device %1COM1 (Error 16, Device or resource busy)").arg(install()));
    QVERIFY(!other.isOpen());

    m_port->ClosePort();
    other.OpenPort(); // free again
    QVERIFY(other.isOpen());
}

void TestSerialPort::opensThroughALongLinkPath()
{
    // QSerialPort's lock file is named after the path opened: one named after this link would be too long.
    const QString deep = install() + QString(120, QLatin1Char('a')) + "/" + QString(120, QLatin1Char('b')) + "/";
    Simulator sim;
    sim.start(1, deep);
    paths::setInstallFolder(deep);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    QVERIFY(m_port->SendText(QStringLiteral("A")));
    QTRY_COMPARE(receiver.text, QStringLiteral("B"));
}

void TestSerialPort::vanishedDeviceIsReportedOnce()
{
    QSignalSpy errors(m_port.get(), &SerialPort::portError);
    m_port->OpenPort();
    m_sim->closeDevice();

    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(errors[0][0].toString(), QStringLiteral("Read error (5), Input/output error"));
    QVERIFY(!m_port->isOpen());
    QTest::qWait(200);
    QCOMPARE(errors.count(), 1);

    // Everything after is harmless; the link stays behind, dangling.
    QVERIFY(!m_port->SendText(QStringLiteral("X")));
    QCOMPARE(m_port->ReadPending(), QString());
    m_port->ClosePort();
    // Unless a parallel process got the same pseudo-terminal number meanwhile.
    if (!QFile::exists(m_sim->ptyPath())) {
        QCOMPARE(errorOf([&] { m_port->OpenPort(); }),
                 QStringLiteral("Specified device not found (%1COM1).").arg(install()));
    }
    QCOMPARE(errors.count(), 1);
}

void TestSerialPort::closesInsideTheReceiveHandler()
{
    // The end of a race: the last passage's handler sends "X" and closes the port.
    QStringList reads;
    const auto connection = connect(m_port.get(), &SerialPort::OnRxChar, this, [&] {
        reads.append(m_port->ReadPending());
        m_port->SendText(QStringLiteral("X"));
        m_port->ClosePort();
    });
    m_port->OpenPort();
    m_sim->sendNow("4");
    QTRY_COMPARE(reads, QStringList{QStringLiteral("4")});
    QVERIFY(!m_port->isOpen());
    QTRY_COMPARE(m_sim->commandText(), QByteArray("X"));

    m_sim->sendNow("5");
    QTest::qWait(100);
    QCOMPARE(reads.size(), 1);

    disconnect(connection);
    Receiver receiver(*m_port);
    m_port->OpenPort();
    QVERIFY(m_port->SendText(QStringLiteral("A")));
    QTRY_COMPARE(receiver.text, QStringLiteral("B"));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
