#include "tools/sim/simulator.h"

#include "tables/error.h"
#include "tables/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#endif

#include <functional>

Q_LOGGING_CATEGORY(lcSim, "quintara.sim", QtInfoMsg)

namespace {

// 10 bits (start, 8 data, stop) at 9600 baud.
constexpr qint64 kCharTimeNs = 1'000'000'000LL * 10 / 9600;

QString systemError(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, qt_error_string(errno));
}

} // namespace

qint64 monotonicNowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

std::optional<AnswerMode> answerModeFromText(const QString& text)
{
    const QString mode = text.toLower();
    if (mode == QLatin1String("normal"))
        return AnswerMode::Normal;
    if (mode == QLatin1String("silent"))
        return AnswerMode::Silent;
    if (mode == QLatin1String("late"))
        return AnswerMode::Late;
    if (mode == QLatin1String("b1"))
        return AnswerMode::B1;
    return std::nullopt;
}

// Fires once at an absolute time on the monotonic clock. A timerfd keeps passages and paced bytes to within
// microseconds; QTimer only knows whole milliseconds.
class DeadlineTimer
{
public:
    DeadlineTimer(QObject* owner, std::function<void()> onExpired) : m_onExpired(std::move(onExpired))
    {
#ifdef Q_OS_LINUX
        m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_fd < 0)
            throw AppError(systemError(QStringLiteral("timerfd_create")));
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, owner);
        QObject::connect(m_notifier, &QSocketNotifier::activated, owner, [this] {
            quint64 expirations = 0;
            if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations)
                m_onExpired();
        });
#else
        m_timer = new QTimer(owner);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, owner, [this] { m_onExpired(); });
#endif
    }

    // Deleting the notifier is deferred: the simulator may be closed from inside this timer's own callback.
    ~DeadlineTimer()
    {
#ifdef Q_OS_LINUX
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        ::close(m_fd);
#else
        m_timer->stop();
        m_timer->deleteLater();
#endif
    }

    DeadlineTimer(const DeadlineTimer&) = delete;
    DeadlineTimer& operator=(const DeadlineTimer&) = delete;

    void arm(qint64 dueNs)
    {
#ifdef Q_OS_LINUX
        // A zero it_value would disarm the timer: a due time already past fires at the next nanosecond.
        dueNs = std::max<qint64>(dueNs, 1);
        itimerspec due{};
        due.it_value.tv_sec = static_cast<time_t>(dueNs / 1'000'000'000LL);
        due.it_value.tv_nsec = static_cast<long>(dueNs % 1'000'000'000LL);
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &due, nullptr);
#else
        const qint64 waitNs = std::max<qint64>(0, dueNs - monotonicNowNs());
        m_timer->start(static_cast<int>((waitNs + 999'999) / 1'000'000));
#endif
    }

    void disarm()
    {
#ifdef Q_OS_LINUX
        const itimerspec disarmed{};
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &disarmed, nullptr);
        quint64 expirations = 0;
        [[maybe_unused]] const auto ignored = ::read(m_fd, &expirations, sizeof expirations);
#else
        m_timer->stop();
#endif
    }

private:
    std::function<void()> m_onExpired;
#ifdef Q_OS_LINUX
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
#else
    QTimer* m_timer = nullptr;
#endif
};

Simulator::Simulator(QObject* parent) : QObject(parent) {}

Simulator::~Simulator()
{
    stop();
}

void Simulator::setCars(const CarsSettings& settings)
{
    checkCarsSettings(settings);
    m_cars = settings;
    m_script.reset();
}

void Simulator::setScript(const QList<Passage>& passages)
{
    m_script = passages;
}

void Simulator::start(int port, const QString& folder)
{
    if (isRunning())
        throw AppError(QStringLiteral("The simulator is already running on %1").arg(m_linkPath));

    QString dir = QDir::fromNativeSeparators(folder.isEmpty() ? paths::installFolder() : folder);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    if (!QDir().mkpath(dir))
        throw AppError(QStringLiteral("Cannot create the folder %1").arg(dir));

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        throw AppError(systemError(QStringLiteral("Cannot open a pseudo-terminal")));
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const AppError error(systemError(QStringLiteral("Cannot set up the pseudo-terminal")));
        ::close(master);
        throw error;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const AppError error(systemError(QStringLiteral("Cannot open %1").arg(QString::fromLocal8Bit(name))));
        ::close(master);
        throw error;
    }
    // Raw, like the real line: no echo, no CR/LF translation, no XON/XOFF eating bytes 0x11 and 0x13.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    const QString link = dir + QStringLiteral("COM%1").arg(port);
    m_ptyPath = QString::fromLocal8Bit(name);
    try {
        placeLink(link);
    } catch (...) {
        ::close(slave);
        ::close(master);
        m_ptyPath.clear();
        throw;
    }
    m_master = master;
    m_slave = slave;
    m_linkPath = link;
    ++m_deviceGeneration;
    m_state = DeviceState::Idle;
    m_greenLights.clear();

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Simulator::readCommands);
    m_passageTimer = std::make_unique<DeadlineTimer>(this, [this] { sendDuePassages(); });
    m_paceTimer = std::make_unique<DeadlineTimer>(this, [this] { sendPaced(); });
    qCDebug(lcSim).noquote() << "timing device on" << m_linkPath << "->" << m_ptyPath;
}

void Simulator::placeLink(const QString& link)
{
    const QFileInfo info(link);
    if (info.isSymLink()) {
        // A link to a device that is still there is the user's real device: never take it away.
        const QString target = info.symLinkTarget();
        if (info.exists() && !target.startsWith(QLatin1String("/dev/pts/")))
            throw AppError(QStringLiteral("%1 links to %2, which is not a simulator's: remove it or choose another "
                                          "port")
                               .arg(link, target));
        if (!QFile::remove(link))
            throw AppError(systemError(QStringLiteral("Cannot remove the old link %1").arg(link)));
    } else if (info.exists()) {
        throw AppError(QStringLiteral("%1 exists and is not a link: remove it or choose another port").arg(link));
    }
    if (::symlink(QFile::encodeName(m_ptyPath).constData(), QFile::encodeName(link).constData()) != 0)
        throw AppError(systemError(QStringLiteral("Cannot link %1 to %2").arg(link, m_ptyPath)));
}

void Simulator::closeDevice()
{
    if (!isRunning())
        return;
    stopRace();
    m_pacedQueue.clear();
    m_passageTimer.reset();
    m_paceTimer.reset();
    // Deferred: this may run inside the notifier's own signal.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    ::close(m_slave);
    ::close(m_master);
    m_slave = -1;
    m_master = -1;
    ++m_deviceGeneration;
    m_state = DeviceState::Idle;
    qCDebug(lcSim).noquote() << "device closed:" << m_ptyPath;
}

void Simulator::stop()
{
    closeDevice();
    if (m_linkPath.isEmpty())
        return;
    // Another simulator may have taken the name over since.
    if (QFileInfo(m_linkPath).symLinkTarget() == m_ptyPath)
        QFile::remove(m_linkPath);
    m_linkPath.clear();
    m_ptyPath.clear();
}

void Simulator::readCommands()
{
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0) {
            const qint64 receivedNs = monotonicNowNs();
            const QDateTime wallClock = QDateTime::currentDateTime();
            for (ssize_t i = 0; i < count && isRunning(); ++i) {
                const ReceivedCommand command{buffer[i], receivedNs, wallClock};
                {
                    const QMutexLocker lock(&m_recordsMutex);
                    m_commands.append(command);
                }
                emit commandReceived(command);
                handleCommand(buffer[i], receivedNs);
            }
            if (!isRunning())
                return;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        // Cannot happen while the slave end is held open; stop listening rather than spin on it.
        qCWarning(lcSim).noquote() << systemError(QStringLiteral("Reading the pseudo-terminal failed"));
        m_notifier->setEnabled(false);
        return;
    }
}

void Simulator::handleCommand(char command, qint64 receivedNs)
{
    switch (command) {
    case 'A':
        switch (m_answerMode) {
        case AnswerMode::Normal:
            send("B");
            break;
        case AnswerMode::B1:
            send("B1");
            break;
        case AnswerMode::Late: {
            const quint64 generation = m_deviceGeneration;
            QTimer::singleShot(m_lateMs, Qt::PreciseTimer, this, [this, generation] {
                if (generation == m_deviceGeneration)
                    send("B");
            });
            break;
        }
        case AnswerMode::Silent:
            break;
        }
        break;
    case 'R':
        stopRace();
        m_state = DeviceState::StartLights;
        m_greenLights.clear();
        break;
    case '4':
    case '3':
    case '2':
    case '1':
        if (m_state == DeviceState::StartLights)
            m_greenLights.append(command - '0');
        else
            qCDebug(lcSim) << "start light" << command << "outside the start sequence";
        break;
    case 'Y':
        break;
    case 'E':
        startRace(receivedNs);
        break;
    case 'X':
        if (m_state == DeviceState::Racing) {
            stopRace();
            // Passages still waiting for the line stop with the race.
            m_pacedQueue.clear();
            m_state = DeviceState::Idle;
            m_greenLights.clear();
        }
        break;
    case 'C':
        stopRace();
        m_state = DeviceState::Aligning;
        break;
    case 'W':
        if (m_state == DeviceState::Aligning)
            m_state = DeviceState::Idle;
        break;
    default:
        qCDebug(lcSim) << "unknown command" << QByteArray(1, command).toHex();
        break;
    }
}

void Simulator::startRace(qint64 startNs)
{
    stopRace();
    m_state = DeviceState::Racing;
    m_raceStartNs = startNs;
    m_scriptIndex = 0;
    if (!m_script)
        m_generator = std::make_unique<PassageGenerator>(m_cars);
    takeNextPassage();
    sendDuePassages();
}

void Simulator::stopRace()
{
    m_nextPassage.reset();
    m_generator.reset();
    if (m_passageTimer)
        m_passageTimer->disarm();
}

void Simulator::takeNextPassage()
{
    m_nextPassage.reset();
    if (m_script) {
        if (m_scriptIndex < m_script->size())
            m_nextPassage = m_script->at(m_scriptIndex++);
    } else if (m_generator) {
        m_nextPassage = m_generator->next();
    }
}

void Simulator::sendDuePassages()
{
    while (m_state == DeviceState::Racing && m_nextPassage) {
        const qint64 dueNs = m_raceStartNs + m_nextPassage->timeMs * 1'000'000LL;
        if (dueNs > monotonicNowNs()) {
            m_passageTimer->arm(dueNs);
            return;
        }
        send(QByteArray(1, static_cast<char>('0' + m_nextPassage->channel)));
        takeNextPassage();
    }
}

void Simulator::sendNow(const QByteArray& bytes)
{
    send(bytes);
}

void Simulator::send(const QByteArray& bytes)
{
    if (!isRunning() || bytes.isEmpty())
        return;
    if (!m_paced) {
        writeNow(bytes);
        return;
    }
    m_pacedQueue += bytes;
    sendPaced();
}

void Simulator::sendPaced()
{
    while (!m_pacedQueue.isEmpty() && isRunning()) {
        const qint64 now = monotonicNowNs();
        if (now < m_nextByteNs) {
            m_paceTimer->arm(m_nextByteNs);
            return;
        }
        const qint64 writtenNs = writeNow(m_pacedQueue.first(1));
        m_pacedQueue.remove(0, 1);
        m_nextByteNs = writtenNs + kCharTimeNs;
    }
}

qint64 Simulator::writeNow(const QByteArray& bytes)
{
    qint64 firstNs = 0;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 beforeNs = monotonicNowNs();
        if (done == 0)
            firstNs = beforeNs;
        const ssize_t count = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            // The line's buffer is full: nobody has read it for a long while. A real device would lose them too.
            qCWarning(lcSim).noquote() << systemError(QStringLiteral("%1 bytes dropped").arg(bytes.size() - done));
            break;
        }
        const SentBytes sent{bytes.mid(done, count), beforeNs, QDateTime::currentDateTime()};
        {
            const QMutexLocker lock(&m_recordsMutex);
            m_sent.append(sent);
        }
        emit bytesSent(sent);
        done += count;
    }
    return firstNs;
}

QList<ReceivedCommand> Simulator::commands() const
{
    const QMutexLocker lock(&m_recordsMutex);
    return m_commands;
}

QByteArray Simulator::commandText() const
{
    const QMutexLocker lock(&m_recordsMutex);
    QByteArray text;
    for (const ReceivedCommand& command : m_commands)
        text += command.command;
    return text;
}

QList<SentBytes> Simulator::sent() const
{
    const QMutexLocker lock(&m_recordsMutex);
    return m_sent;
}

QByteArray Simulator::sentText() const
{
    const QMutexLocker lock(&m_recordsMutex);
    QByteArray text;
    for (const SentBytes& sent : m_sent)
        text += sent.bytes;
    return text;
}

void Simulator::clearRecords()
{
    const QMutexLocker lock(&m_recordsMutex);
    m_commands.clear();
    m_sent.clear();
}
