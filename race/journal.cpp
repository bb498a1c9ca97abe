#include "race/journal.h"

#include "tables/error.h"
#include "tables/paths.h"

#include <QFile>
#include <QUrl>

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <unistd.h>

namespace {

// How often the journal reaches the disk while passages come: a power cut loses no more than this.
constexpr auto kSyncInterval = std::chrono::milliseconds(100);

QByteArray number(double v)
{
    return QByteArray::number(v, 'g', 17);
}

QByteArray timeField(const QVariant& v)
{
    return v.isNull() ? QByteArrayLiteral("-") : number(v.toDouble());
}

QByteArray textField(const QString& s)
{
    // "-" is null; an encoded text never is "-", since the encoding takes '-' too.
    return s.isNull() ? QByteArrayLiteral("-") : QByteArray("=") + QUrl::toPercentEncoding(s, {}, "-=");
}

// The fields of one journal line, read by position; ok() turns false for good once one of them cannot be read,
// and the line is then skipped as damaged.
class LineFields
{
public:
    explicit LineFields(const QList<QByteArray>& fields) : m_fields(fields) {}

    int integer(int i) { return check(m_fields[i].toInt(&m_read)); }
    qint64 stamp(int i) { return check(m_fields[i].toLongLong(&m_read)); }
    double real(int i) { return check(m_fields[i].toDouble(&m_read)); }
    bool flag(int i)
    {
        m_ok = m_ok && (m_fields[i] == "0" || m_fields[i] == "1");
        return m_fields[i] == "1";
    }
    // "-" is null.
    QVariant time(int i) { return m_fields[i] == "-" ? QVariant() : QVariant(real(i)); }
    QString text(int i)
    {
        if (m_fields[i] == "-")
            return {};
        m_ok = m_ok && m_fields[i].startsWith('=');
        return QString::fromUtf8(QByteArray::fromPercentEncoding(m_fields[i].mid(1)));
    }
    bool ok() const { return m_ok; }

private:
    template <typename T>
    T check(T value)
    {
        m_ok = m_ok && m_read;
        return value;
    }

    const QList<QByteArray>& m_fields;
    bool m_read = false;
    bool m_ok = true;
};

char kindLetter(racerecord::EventKind kind)
{
    switch (kind) {
    case racerecord::EventKind::Added:
        return 'A';
    case racerecord::EventKind::TakenBack:
        return 'D';
    case racerecord::EventKind::Passage:
        break;
    }
    return 'P';
}

} // namespace

PassageJournal::~PassageJournal()
{
    close();
}

QString PassageJournal::defaultPath()
{
    return paths::programFile(QStringLiteral("passaggi.journal"));
}

void PassageJournal::begin(const QString& path, const racerecord::RaceRecord& record)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw IoError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, qt_error_string(errno)));
    m_path = path;
    m_fd = fd;

    using laprules::RaceMode;
    QByteArray head = "QJ 1\n";
    head += "R " + QByteArray(record.mode == RaceMode::Finals ? "F" : "Q") + ' ' + QByteArray::number(record.heat) +
            ' ' + QByteArray::number(record.round) + ' ' + textField(record.finalLetter) + ' ' +
            number(record.minLapTime) + ' ' + number(record.wallStart) + ' ' + QByteArray::number(record.monoStart) +
            ' ' + number(record.elapsedStart) + '\n';
    for (int ch = 1; ch <= 5; ++ch) {
        const laprules::ChannelState& c = record.channels[ch];
        head += "C " + QByteArray::number(ch) + ' ' + number(c.lastPassageTime) + ' ' + number(c.lapStartTime) + ' ' +
                QByteArray::number(int(c.awaitingFirstPassage)) + ' ' + QByteArray::number(int(c.channelFinished)) +
                '\n';
    }
    for (int ch = 1; ch <= 5; ++ch) {
        if (const auto& car = record.cars[ch]) {
            head += "K " + QByteArray::number(ch) + ' ' + QByteArray::number(car->laps) + ' ' + timeField(car->lap) +
                    ' ' + timeField(car->best) + ' ' + timeField(car->total) + ' ' + textField(car->lapText) + ' ' +
                    textField(car->bestText) + ' ' + textField(car->totalText) + '\n';
        }
    }
    appendLine(head);
    // The race's starting values are on disk before its first passage.
    ::fdatasync(fd);

    m_stop = false;
    m_syncer = std::thread([this] { syncLoop(); });
}

void PassageJournal::appendEvent(const racerecord::Event& event)
{
    appendLine(QByteArray(1, kindLetter(event.kind)) + ' ' + QByteArray::number(event.channel) + ' ' +
               QByteArray::number(event.stampNs) + '\n');
}

void PassageJournal::appendTick(const racerecord::Tick& tick, bool timeUp)
{
    appendLine("T " + QByteArray::number(tick.stampNs) + ' ' + number(tick.elapsed) + (timeUp ? " U\n" : "\n"));
}

void PassageJournal::appendLine(const QByteArray& line)
{
    const int fd = m_fd;
    if (fd < 0)
        return;
    // O_APPEND and one write() a line: lines of the reader thread and the user-interface thread never mix.
    ssize_t n;
    do {
        n = ::write(fd, line.constData(), size_t(line.size()));
    } while (n < 0 && errno == EINTR);
    m_dirty = true;
}

void PassageJournal::syncLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, kSyncInterval);
        if (m_dirty.exchange(false)) {
            lock.unlock();
            ::fdatasync(m_fd);
            lock.lock();
        }
    }
}

void PassageJournal::close()
{
    if (m_syncer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_syncer.join();
    }
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
}

void PassageJournal::remove()
{
    close();
    if (!m_path.isEmpty())
        QFile::remove(m_path);
    m_path.clear();
}

std::optional<racerecord::RaceRecord> PassageJournal::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    racerecord::RaceRecord r;
    bool haveRace = false;
    QList<QByteArray> lines = data.split('\n');
    // A whole line ends in '\n': what follows the last one is a line cut short by a kill or a power cut.
    lines.removeLast();
    for (const QByteArray& raw : lines) {
        const QList<QByteArray> f = raw.simplified().split(' ');
        if (f.isEmpty() || f[0].isEmpty())
            continue;
        const QByteArray kind = f[0];
        LineFields in(f);
        if (kind == "R" && f.size() == 9) {
            racerecord::RaceRecord race = r;
            race.mode = f[1] == "F" ? laprules::RaceMode::Finals : laprules::RaceMode::Qualifications;
            race.heat = in.integer(2);
            race.round = in.integer(3);
            race.finalLetter = in.text(4);
            race.minLapTime = in.real(5);
            race.wallStart = in.real(6);
            race.monoStart = in.stamp(7);
            race.elapsedStart = in.real(8);
            if (in.ok()) {
                r = race;
                haveRace = true;
            }
        } else if (kind == "C" && f.size() == 6) {
            const int ch = in.integer(1);
            laprules::ChannelState c;
            c.lastPassageTime = in.real(2);
            c.lapStartTime = in.real(3);
            c.awaitingFirstPassage = in.flag(4);
            c.channelFinished = in.flag(5);
            if (in.ok() && ch >= 1 && ch <= 5)
                r.channels[ch] = c;
        } else if (kind == "K" && f.size() == 9) {
            const int ch = in.integer(1);
            laprules::CarTimes c;
            c.laps = in.integer(2);
            c.lap = in.time(3);
            c.best = in.time(4);
            c.total = in.time(5);
            c.lapText = in.text(6);
            c.bestText = in.text(7);
            c.totalText = in.text(8);
            if (in.ok() && ch >= 1 && ch <= 5)
                r.cars[ch] = c;
        } else if (kind == "T" && (f.size() == 3 || f.size() == 4)) {
            const racerecord::Tick tick{in.stamp(1), in.real(2)};
            if (in.ok()) {
                r.ticks.append(tick);
                r.timeUp = f.size() == 4 && f[3] == "U";
            }
        } else if ((kind == "P" || kind == "A" || kind == "D") && f.size() == 3) {
            racerecord::Event e;
            e.kind = kind == "A"   ? racerecord::EventKind::Added
                     : kind == "D" ? racerecord::EventKind::TakenBack
                                   : racerecord::EventKind::Passage;
            e.channel = in.integer(1);
            e.stampNs = in.stamp(2);
            if (in.ok() && e.channel >= 1 && e.channel <= 5)
                r.events.append(e);
        }
    }
    if (!haveRace)
        return std::nullopt;
    return r;
}
