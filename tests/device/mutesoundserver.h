#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A sound server that takes connections and never answers them: point PULSE_SERVER at "unix:" + its path.
class MuteSoundServer
{
public:
    MuteSoundServer() = default;
    MuteSoundServer(const MuteSoundServer&) = delete;
    MuteSoundServer& operator=(const MuteSoundServer&) = delete;
    ~MuteSoundServer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool listen(const QString& path)
    {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        if (name.size() >= qsizetype(sizeof address.sun_path))
            return false;
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        address.sun_family = AF_UNIX;
        qstrcpy(address.sun_path, name.constData());
        return ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_fd, 4) == 0;
    }

private:
    int m_fd = -1;
};

// Points the sound client at `server` for the lifetime of the object.
class SoundServerOverride
{
public:
    explicit SoundServerOverride(const QString& socketPath) : m_old(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socketPath));
    }
    SoundServerOverride(const SoundServerOverride&) = delete;
    SoundServerOverride& operator=(const SoundServerOverride&) = delete;
    ~SoundServerOverride()
    {
        if (m_old.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", m_old);
    }

private:
    QByteArray m_old;
};
