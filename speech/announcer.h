#pragma once

#include "speech/speechengine.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

// Speaks lap times and race messages without ever holding up timing: every call only puts a
// call-out in a small queue and returns; the speech engine lives on the announcer's own thread.
// When speech falls behind, a car's newer lap replaces its lap still waiting, so the voice never
// reads out old times; other cars' call-outs keep their order. Starts disabled.
class Announcer : public QObject
{
    Q_OBJECT
public:
    // Creates the engine; it is called once, on the announcer's thread, when speech is first
    // enabled. Null means there is no engine.
    using EngineFactory = std::function<std::unique_ptr<SpeechEngine>()>;

    explicit Announcer(QObject* parent = nullptr); // the system's text-to-speech
    explicit Announcer(EngineFactory factory, QObject* parent = nullptr);
    ~Announcer() override;

    // "Rossi, giro 12, 14 e 3" (see callouts::lap); `channel` identifies the car.
    void announceLap(int channel, const QString& name, int lap, qint64 lapMs);
    // Any other message, such as callouts::lastMinute or callouts::endOfRace. Never replaced by laps.
    void announce(const QString& text);

    // Disabling drops what is waiting and cuts short what is being said.
    void setEnabled(bool enabled);
    bool isEnabled() const;
    // Nothing is waiting and nothing is being said.
    bool isIdle() const;

private:
    struct Shared;
    class Worker;

    void enqueue(int channel, const QString& text);

    std::unique_ptr<Shared> m_shared;
    QThread m_thread;
    Worker* m_worker;
};
