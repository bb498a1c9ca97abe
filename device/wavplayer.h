#pragma once

#include <QObject>
#include <QString>

// Plays a PCM wave file and waits until it has ended, but never longer than the sound plus one
// second. Without a sound file, a readable PCM wave or an audio output it returns at once. It never
// raises: the end of a race goes on whatever happens to the sound.
class WavPlayer : public QObject
{
    Q_OBJECT
public:
    explicit WavPlayer(QObject* parent = nullptr);

    bool playAndWait(const QString& path) noexcept;

    // What was tried last, for tests and the log.
    QString lastFile() const { return m_lastFile; }
    int attempts() const { return m_attempts; }

private:
    QString m_lastFile;
    int m_attempts = 0;
};
