#include "device/serialport.h"

#include "tables/error.h"
#include "tables/paths.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTimer>

#include <cerrno>
#include <limits>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

Q_LOGGING_CATEGORY(lcDevice, "quintara.device", QtInfoMsg)

namespace {

const char* const kPortIsOpen = "Can't perform this operation while port is open";

// How long ClosePort may wait for the kernel to take the last queued command.
constexpr int kCloseFlushMs = 100;

QString notFound(const QString& path)
{
    return QStringLiteral("Specified device not found (%1).").arg(path);
}

QString cantOpen(const QString& path, int code)
{
    return QStringLiteral("Can't open specified device %1 (Error %2, %3)")
        .arg(path)
        .arg(code)
        .arg(qt_error_string(code));
}

#ifdef Q_OS_UNIX
// QSerialPort keeps only the text of the system error: open the device once more to learn its code.
int probeOpenError(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    termios tio{};
    const int code = ::tcgetattr(fd, &tio) == 0 ? 0 : errno;
    ::close(fd);
    return code;
}

bool isHungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
#endif

} // namespace

SerialPort::SerialPort(QObject* parent) : QObject(parent), m_port(new QSerialPort(this))
{
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(static_cast<int>(error)); });
}

SerialPort::~SerialPort()
{
    ClosePort();
}

void SerialPort::setPortNum(int portNum)
{
    if (isOpen())
        throw AppError(QString::fromLatin1(kPortIsOpen));
    m_portNum = portNum;
}

QString SerialPort::DeviceName() const
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(m_portNum);
#else
    // A link left dangling (adapter unplugged, simulator stopped) still names the port the user set up:
    // falling back to /dev/ttyS<n-1> then would talk to another device without a word.
    const QString link = paths::installFolder() + QStringLiteral("COM%1").arg(m_portNum);
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink())
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(m_portNum - 1);
#endif
}

bool SerialPort::isOpen() const
{
    return m_port->isOpen();
}

void SerialPort::OpenPort()
{
    if (isOpen())
        throw AppError(QString::fromLatin1(kPortIsOpen));

    const QString path = DeviceName();
#ifdef Q_OS_WIN
    const QString device = path;
#else
    const QFileInfo info(path);
    if (!info.exists())
        throw AppError(notFound(path));
    // QSerialPort names its lock file after the path it opens; the real device's name makes the lock the one
    // other serial programs take, and keeps it valid when the link is replaced.
    const QString device = info.canonicalFilePath();
#endif

    m_opening = true;
    m_port->setPortName(device);
    const bool opened = m_port->open(QIODevice::ReadWrite);
    if (opened)
        configureOpenedLine();
    m_opening = false;
    if (!opened)
        throwOpenError(path, device);

    ++m_openGeneration;
    qCDebug(lcDevice) << "opened" << path << "on" << device;
}

void SerialPort::throwOpenError(const QString& path, const QString& device)
{
#ifdef Q_OS_WIN
    const int windowsError = static_cast<int>(::GetLastError());
#endif
    qCWarning(lcDevice) << "cannot open" << path << m_port->error() << m_port->errorString();
#ifdef Q_OS_UNIX
    int code = probeOpenError(device);
    if (code == ENOENT || code == ENODEV || code == ENXIO)
        throw AppError(notFound(path));
    // The device itself opens: QSerialPort's lock file or exclusive mode says another program holds it.
    if (code == 0)
        code = EBUSY;
    throw AppError(cantOpen(path, code));
#else
    Q_UNUSED(device);
    if (m_port->error() == QSerialPort::DeviceNotFoundError)
        throw AppError(notFound(path));
    throw AppError(cantOpen(path, windowsError));
#endif
}

void SerialPort::configureOpenedLine()
{
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(m_port->handle());
    // The device needs no handshake lines; a pseudo-terminal has none and refuses, which is fine.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
#ifdef Q_OS_LINUX
    // USB-serial adapters otherwise hold a received byte for up to 16 ms. Not every driver knows the flag.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
#else
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
#endif
    // Bytes the device sent while the port was closed are not for this session.
    m_port->clear(QSerialPort::Input);
    m_port->clearError();
}

void SerialPort::ClosePort()
{
    if (!isOpen())
        return;
    m_closing = true;
    drainOutput();
    m_port->close();
    m_closing = false;
    qCDebug(lcDevice) << "closed";
}

void SerialPort::drainOutput()
{
    // Every close follows a command ("Y", "X", "W") that must still reach the device; QSerialPort::close()
    // would drop it from its buffer. The kernel takes a few bytes at once, so this rarely waits at all.
    const QDeadlineTimer deadline(kCloseFlushMs);
    while (m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        m_port->flush();
        if (m_port->bytesToWrite() == 0)
            break;
#ifdef Q_OS_UNIX
        pollfd p{static_cast<int>(m_port->handle()), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.remainingTime())) <= 0 || (p.revents & (POLLERR | POLLHUP)))
            break;
#else
        m_port->waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
#endif
    }
    if (m_port->bytesToWrite() > 0)
        qCWarning(lcDevice) << "closing with" << m_port->bytesToWrite() << "bytes unsent";
}

bool SerialPort::SendText(const QString& text)
{
    if (!isOpen())
        return false;
    const QByteArray bytes = text.toLatin1();
    const qint64 accepted = m_port->write(bytes);
    // Hand the bytes to the kernel now rather than at the next event loop pass; this never blocks.
    if (m_port->bytesToWrite() > 0)
        m_port->flush();
    return accepted == bytes.size() && isOpen();
}

QString SerialPort::ReadPending()
{
    if (!isOpen())
        return {};
    const QByteArray bytes = m_port->readAll();
    m_readInHandler += bytes.size();
    return QString::fromLatin1(bytes);
}

void SerialPort::onReadyRead()
{
    if (m_inNotification)
        return;
    m_inNotification = true;
    // Reset even when a handler throws.
    const auto done = qScopeGuard([this] { m_inNotification = false; });

    const quint64 generation = m_openGeneration;
    qint64 waiting = m_port->bytesAvailable();
    while (waiting > 0) {
        m_readInHandler = 0;
        emit OnRxChar(this, static_cast<int>(qMin<qint64>(waiting, std::numeric_limits<int>::max())));
        if (!isOpen() || generation != m_openGeneration)
            break;
        // QSerialPort stays silent about bytes that arrive while a handler runs (one that shows a message box,
        // say); they are new bytes all the same and get their own event. Bytes left unread do not.
        const qint64 leftUnread = qMax<qint64>(0, waiting - m_readInHandler);
        const qint64 now = m_port->bytesAvailable();
        if (now <= leftUnread)
            break;
        waiting = now;
    }
}

void SerialPort::onPortError(int error)
{
    // Taken first: the failed read() or write() set it just before QSerialPort reported.
    const int savedErrno = errno;
    const auto kind = static_cast<QSerialPort::SerialPortError>(error);
    if (kind != QSerialPort::ReadError && kind != QSerialPort::WriteError && kind != QSerialPort::ResourceError)
        return;
    if (m_opening || m_closing || !isOpen())
        return;

#ifdef Q_OS_UNIX
    int code = savedErrno;
    // A hung-up line (device end closed, USB adapter pulled) reads as end of file and leaves errno stale.
    if (isHungUp(static_cast<int>(m_port->handle()))) {
        code = EIO;
    } else if (code == 0 || code == EAGAIN || code == EINTR) {
        if (kind != QSerialPort::ResourceError) {
            qCDebug(lcDevice) << "transient port error ignored" << m_port->errorString();
            m_port->clearError();
            return;
        }
        code = EIO;
    }
    const QString text = qt_error_string(code);
#else
    const int code = savedErrno;
    const QString text = m_port->errorString();
#endif
    const QString message = (kind == QSerialPort::WriteError ? QStringLiteral("Write error (%1), %2")
                                                             : QStringLiteral("Read error (%1), %2"))
                                .arg(code)
                                .arg(text);
    qCWarning(lcDevice) << message;

    // QSerialPort keeps reporting a dead line on every event loop pass: closing stops that. Nothing is left to
    // flush to a vanished device.
    m_closing = true;
    m_port->clear(QSerialPort::Output);
    m_port->close();
    m_closing = false;

    // Reported from the event loop: the failure may surface inside SendText, in the middle of a handler.
    QTimer::singleShot(0, this, [this, message] { emit portError(message); });
}
