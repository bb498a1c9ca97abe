#pragma once

#include <QObject>
#include <QString>

#include <memory>

// A voice the announcer drives. The announcer creates it on its own thread and only calls it
// there, so an engine may block in say() without holding up anyone else.
class SpeechEngine : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Empty while the engine can speak; otherwise why not, in words for the log.
    virtual QString unavailableReason() const = 0;
    // Starts saying `text`; finished() follows once it is said or has failed.
    virtual void say(const QString& text) = 0;
    // Cuts short what is being said.
    virtual void stop() = 0;

signals:
    void finished();
};

// Qt's text-to-speech with its default engine (speech-dispatcher on Linux), speaking Italian.
// Returns null when no text-to-speech engine is installed.
std::unique_ptr<SpeechEngine> createSystemSpeechEngine();
