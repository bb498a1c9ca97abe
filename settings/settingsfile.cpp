#include "settings/settingsfile.h"

#include "tables/error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

Q_LOGGING_CATEGORY(lcSettings, "quintara.settings", QtInfoMsg)

namespace settingsfile {

namespace {
class LineReader
{
public:
    explicit LineReader(const QByteArray& data) : m_data(data) {}
    // The next line without its end; an empty line at the end of the file.
    QString next()
    {
        if (m_pos >= m_data.size())
            return QString();
        qsizetype end = m_pos;
        while (end < m_data.size() && m_data[end] != '\r' && m_data[end] != '\n')
            ++end;
        const QString line = QString::fromLatin1(m_data.mid(m_pos, end - m_pos));
        if (end < m_data.size() && m_data[end] == '\r')
            ++end;
        if (end < m_data.size() && m_data[end] == '\n')
            ++end;
        m_pos = end;
        return line;
    }

private:
    QByteArray m_data;
    qsizetype m_pos = 0;
};
} // namespace

QString readValue(const QString& path, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw IoError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    LineReader lines(file.readAll());
    lines.next();
    for (;;) {
        const QString line = lines.next();
        if (line == key || line.isEmpty())
            break;
    }
    return lines.next();
}

QByteArray contents(int port, int minLapSeconds)
{
    return QByteArrayLiteral("[settings]\r\nCom\r\n") + QByteArray::number(port) + QByteArrayLiteral("\r\nTmin\r\n") +
           QByteArray::number(minLapSeconds) + QByteArrayLiteral("\r\n");
}

void write(const QString& path, int port, int minLapSeconds)
{
    if (!QFileInfo(QFileInfo(path).path()).isDir())
        throw IoError(QStringLiteral("Invalid filename"));
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable())
        throw IoError(QStringLiteral("File access denied"));
    // Written whole and atomically: a failed save leaves the old file as it was. Unbuffered and checked for a
    // short write, because a buffered QSaveFile drops a short write (full disk, file size limit) and still commits
    // the truncated file.
    const QByteArray data = contents(port, minLapSeconds);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcSettings) << "cannot write" << path << file.errorString();
        throw IoError(QStringLiteral("File access denied"));
    }
    qCDebug(lcSettings) << "written" << path << "port" << port << "minimum lap" << minLapSeconds;
}

} // namespace settingsfile
