#include "device/serialport.h"

#include "tables/error.h"
#include "tables/paths.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QScopeGuard>
#include <QSerialPort>
#include <QThread>

#include <cerrno>
#include <exception>
#include <limits>
#include <utility>

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

// What the line's thread hands to the port's thread.
struct ReceiveQueue
{
    QMutex mutex;
    QList<StampedByte> pending;
    // Bytes received since the port was last opened.
    quint64 arrived = 0;
    // One notification in flight at a time, however many reads happen before the port's thread takes it.
    bool notifyPosted = false;

    // Held while the sink runs, so that replacing it waits for a running call.
    QMutex sinkMutex;
    SerialPort::ArrivalSink sink;
};

// The QSerialPort and everything that touches it, on the line's thread. Its owner calls it only through queued
// or blocking-queued calls; it answers only with queued calls, so neither thread ever waits for the other twice.
class SerialLine : public QObject
{
public:
    SerialLine(SerialPort& owner, ReceiveQueue& queue);

    // An empty text on success, else the open error's message.
    QString open(const QString& path, const QString& device, quint64 generation);
    void close();
    void write(const QByteArray& bytes);

private:
    void onReadyRead();
    void onPortError(QSerialPort::SerialPortError kind);
    QString openError(const QString& path, const QString& device, int windowsError);
    void configureOpenedLine();
    void drainOutput();

    SerialPort& m_owner;
    ReceiveQueue& m_queue;
    // One QSerialPort for the object's lifetime: closing it inside its own readyRead is safe, deleting it is not.
    QSerialPort* m_port = nullptr;
    quint64 m_generation = 0;
    bool m_opening = false;
    bool m_closing = false;
};

SerialLine::SerialLine(SerialPort& owner, ReceiveQueue& queue)
    : m_owner(owner), m_queue(queue), m_port(new QSerialPort(this))
{
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    connect(m_port, &QSerialPort::readyRead, this, &SerialLine::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialLine::onPortError);
}

QString SerialLine::open(const QString& path, const QString& device, quint64 generation)
{
    m_opening = true;
    m_port->setPortName(device);
    const bool opened = m_port->open(QIODevice::ReadWrite);
    int windowsError = 0;
#ifdef Q_OS_WIN
    // Per thread: taken here, where the open failed.
    if (!opened)
        windowsError = static_cast<int>(::GetLastError());
#endif
    if (opened)
        configureOpenedLine();
    m_opening = false;
    if (!opened)
        return openError(path, device, windowsError);
    m_generation = generation;
    return {};
}

QString SerialLine::openError(const QString& path, const QString& device, int windowsError)
{
    qCWarning(lcDevice) << "cannot open" << path << m_port->error() << m_port->errorString();
#ifdef Q_OS_UNIX
    Q_UNUSED(windowsError);
    int code = probeOpenError(device);
    if (code == ENOENT || code == ENODEV || code == ENXIO)
        return notFound(path);
    // The device itself opens: QSerialPort's lock file or exclusive mode says another program holds it.
    if (code == 0)
        code = EBUSY;
    return cantOpen(path, code);
#else
    Q_UNUSED(device);
    if (m_port->error() == QSerialPort::DeviceNotFoundError)
        return notFound(path);
    return cantOpen(path, windowsError);
#endif
}

void SerialLine::configureOpenedLine()
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

void SerialLine::close()
{
    if (!m_port->isOpen())
        return;
    m_closing = true;
    drainOutput();
    m_port->close();
    m_closing = false;
    qCDebug(lcDevice) << "closed";
}

void SerialLine::drainOutput()
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

void SerialLine::write(const QByteArray& bytes)
{
    // Closed by a vanished device since the owner queued this: portError tells the owner.
    if (!m_port->isOpen())
        return;
    m_port->write(bytes);
    // Hand the bytes to the kernel now rather than at the next event loop pass; this never blocks.
    if (m_port->bytesToWrite() > 0)
        m_port->flush();
}

void SerialLine::onReadyRead()
{
    // QSerialPort has just read the bytes from the kernel: this is their arrival. A 9600-baud line delivers one
    // byte per read; bytes that come in one read arrived together and share the stamp.
    const qint64 stampNs = monotonicNs();
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;

    {
        QMutexLocker lock(&m_queue.sinkMutex);
        if (m_queue.sink) {
            try {
                for (const char byte : bytes)
                    m_queue.sink(StampedByte{byte, stampNs});
            } catch (const std::exception& error) {
                // Nothing on this thread could show it; the bytes still go to the owner.
                qCWarning(lcDevice) << "arrival sink failed:" << error.what();
            } catch (...) {
                qCWarning(lcDevice) << "arrival sink failed";
            }
        }
    }

    bool post = false;
    {
        QMutexLocker lock(&m_queue.mutex);
        m_queue.pending.reserve(m_queue.pending.size() + bytes.size());
        for (const char byte : bytes)
            m_queue.pending.append(StampedByte{byte, stampNs});
        m_queue.arrived += static_cast<quint64>(bytes.size());
        post = !std::exchange(m_queue.notifyPosted, true);
    }
    if (post)
        QMetaObject::invokeMethod(
            &m_owner, [owner = &m_owner] { owner->onBytesArrived(); }, Qt::QueuedConnection);
}

void SerialLine::onPortError(QSerialPort::SerialPortError kind)
{
    // Taken first: the failed read() or write() set it just before QSerialPort reported.
    const int savedErrno = errno;
    if (kind != QSerialPort::ReadError && kind != QSerialPort::WriteError && kind != QSerialPort::ResourceError)
        return;
    if (m_opening || m_closing || !m_port->isOpen())
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

    QMetaObject::invokeMethod(
        &m_owner, [owner = &m_owner, generation = m_generation, message] { owner->onLineFailed(generation, message); },
        Qt::QueuedConnection);
}

SerialPort::SerialPort(QObject* parent) : QObject(parent), m_queue(std::make_unique<ReceiveQueue>()) {}

SerialPort::~SerialPort()
{
    ClosePort();
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
    }
    // Its thread has stopped: nothing else touches it now.
    delete m_line;
}

void SerialPort::startLine()
{
    if (m_thread)
        return;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("serialLine"));
    m_line = new SerialLine(*this, *m_queue);
    m_line->moveToThread(m_thread);
    // The stamps are only as good as this thread's wake-up. Linux gives ordinary threads no priorities, so this
    // counts on Windows only; the thread sleeps in poll() nearly all the time either way.
    m_thread->start(QThread::TimeCriticalPriority);
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

    startLine();
    // Before the open: from then on the line may add bytes.
    dropPendingInput();
    const quint64 generation = m_openGeneration + 1;
    QString error;
    QMetaObject::invokeMethod(
        m_line, [&] { error = m_line->open(path, device, generation); }, Qt::BlockingQueuedConnection);
    if (!error.isEmpty())
        throw AppError(error);

    m_openGeneration = generation;
    m_open = true;
    qCDebug(lcDevice) << "opened" << path << "on" << device;
}

void SerialPort::ClosePort()
{
    if (!m_open)
        return;
    m_open = false;
    // Queued after every SendText, so the line sends them all before it drains and closes.
    QMetaObject::invokeMethod(
        m_line, [line = m_line] { line->close(); }, Qt::BlockingQueuedConnection);
    dropPendingInput();
}

void SerialPort::dropPendingInput()
{
    QMutexLocker lock(&m_queue->mutex);
    m_queue->pending.clear();
    m_queue->arrived = 0;
    m_announced = 0;
}

bool SerialPort::SendText(const QString& text)
{
    if (!m_open)
        return false;
    QMetaObject::invokeMethod(
        m_line, [line = m_line, bytes = text.toLatin1()] { line->write(bytes); }, Qt::QueuedConnection);
    return true;
}

QString SerialPort::ReadPending()
{
    QString text;
    for (const StampedByte& received : ReadPendingStamped())
        text.append(QLatin1Char(received.byte));
    return text;
}

QList<StampedByte> SerialPort::ReadPendingStamped()
{
    if (!m_open)
        return {};
    QMutexLocker lock(&m_queue->mutex);
    return std::exchange(m_queue->pending, {});
}

void SerialPort::setArrivalSink(ArrivalSink sink)
{
    ArrivalSink old;
    {
        QMutexLocker lock(&m_queue->sinkMutex);
        old = std::exchange(m_queue->sink, std::move(sink));
    }
    // The old one goes here, outside the lock: whatever it holds may take its time to let go.
}

void SerialPort::onBytesArrived()
{
    {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->notifyPosted = false;
    }
    // A running notification (its handler spinning an event loop) announces these bytes when the handler returns.
    if (m_inNotification || !m_open)
        return;
    m_inNotification = true;
    // Reset even when a handler throws.
    const auto done = qScopeGuard([this] { m_inNotification = false; });

    const quint64 generation = m_openGeneration;
    for (;;) {
        qsizetype waiting = 0;
        quint64 arrived = 0;
        {
            QMutexLocker lock(&m_queue->mutex);
            waiting = m_queue->pending.size();
            arrived = m_queue->arrived;
        }
        // Only new bytes raise an event; nothing when a handler has already read them all.
        const bool fresh = arrived > m_announced;
        m_announced = arrived;
        if (!fresh || waiting == 0)
            break;
        emit OnRxChar(this, static_cast<int>(qMin<qsizetype>(waiting, std::numeric_limits<int>::max())));
        if (!m_open || generation != m_openGeneration)
            break;
    }
}

void SerialPort::onLineFailed(quint64 generation, const QString& message)
{
    // A session closed and reopened since is not the one that failed.
    if (generation != m_openGeneration)
        return;
    m_open = false;
    dropPendingInput();
    emit portError(message);
}
