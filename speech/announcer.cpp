#include "speech/announcer.h"

#include "speech/callouts.h"
#include "speech/logging.h"

#include <QMutex>
#include <QMutexLocker>

#include <deque>

Q_LOGGING_CATEGORY(lcSpeech, "quintara.speech", QtInfoMsg)

namespace {

constexpr int generalChannel = -1;

struct Pending
{
    int channel;
    QString text;
};

} // namespace

// What the caller and the speech thread share; the caller only ever holds the mutex briefly.
struct Announcer::Shared
{
    mutable QMutex mutex;
    std::deque<Pending> queue;
    bool enabled = false;
    bool speaking = false;
    bool unavailable = false;
};

// Lives on the announcer's thread and owns the engine there.
class Announcer::Worker : public QObject
{
public:
    Worker(Shared* shared, EngineFactory factory) : m_shared(shared), m_factory(std::move(factory)) {}

    // Creates the engine the first time; says once, in the log, why there is none.
    bool prepare()
    {
        if (m_engine)
            return true;
        if (m_failed)
            return false;
        m_engine = m_factory ? m_factory() : nullptr;
        const QString why =
            m_engine ? m_engine->unavailableReason() : QStringLiteral("no text-to-speech engine is installed");
        if (!why.isEmpty()) {
            giveUp(why);
            return false;
        }
        // Queued, so an engine that reports the end from inside say() does not recurse into it.
        connect(m_engine.get(), &SpeechEngine::finished, this, &Worker::onFinished, Qt::QueuedConnection);
        return true;
    }

    void speakNext()
    {
        if (m_saying)
            return;
        {
            QMutexLocker lock(&m_shared->mutex);
            if (m_shared->queue.empty() || !m_shared->enabled)
                return;
        }
        if (!prepare())
            return;
        QString text;
        {
            QMutexLocker lock(&m_shared->mutex);
            if (m_shared->queue.empty())
                return;
            text = m_shared->queue.front().text;
            m_shared->queue.pop_front();
            m_shared->speaking = true;
        }
        m_saying = true;
        qCDebug(lcSpeech).noquote() << "Saying" << text;
        m_engine->say(text);
    }

    void stop()
    {
        if (m_engine && m_saying)
            m_engine->stop();
    }

private:
    void onFinished()
    {
        m_saying = false;
        const QString why = m_engine->unavailableReason();
        if (!why.isEmpty()) {
            m_engine.release()->deleteLater();
            giveUp(why);
        }
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->speaking = false;
        }
        speakNext();
    }

    void giveUp(const QString& why)
    {
        m_failed = true;
        m_engine.reset();
        qCWarning(lcSpeech).noquote() << "Spoken call-outs are off:" << why;
        QMutexLocker lock(&m_shared->mutex);
        m_shared->unavailable = true;
        m_shared->queue.clear();
    }

    Shared* m_shared;
    EngineFactory m_factory;
    std::unique_ptr<SpeechEngine> m_engine;
    bool m_saying = false;
    bool m_failed = false;
};

Announcer::Announcer(QObject* parent) : Announcer(&createSystemSpeechEngine, parent) {}

Announcer::Announcer(EngineFactory factory, QObject* parent)
    : QObject(parent), m_shared(std::make_unique<Shared>()), m_worker(new Worker(m_shared.get(), std::move(factory)))
{
    m_thread.setObjectName(QStringLiteral("speechThread"));
    m_worker->moveToThread(&m_thread);
    // The engine must go on the thread it was made on: the worker is deleted there as the thread ends.
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::LowPriority);
}

Announcer::~Announcer()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->enabled = false;
        m_shared->queue.clear();
    }
    QMetaObject::invokeMethod(m_worker, &Worker::stop, Qt::QueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void Announcer::announceLap(int channel, const QString& name, int lap, qint64 lapMs)
{
    enqueue(channel, callouts::lap(name, lap, lapMs));
}

void Announcer::announce(const QString& text)
{
    enqueue(generalChannel, text);
}

void Announcer::enqueue(int channel, const QString& text)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        if (!m_shared->enabled || m_shared->unavailable)
            return;
        auto& queue = m_shared->queue;
        // A lap still waiting is stale once the same car has made another; a message is not said twice.
        std::erase_if(queue, [&](const Pending& p) {
            return p.channel == channel && (channel != generalChannel || p.text == text);
        });
        queue.push_back({channel, text});
    }
    QMetaObject::invokeMethod(m_worker, &Worker::speakNext, Qt::QueuedConnection);
}

void Announcer::setEnabled(bool enabled)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        if (m_shared->enabled == enabled)
            return;
        m_shared->enabled = enabled;
        if (!enabled)
            m_shared->queue.clear();
    }
    if (enabled)
        QMetaObject::invokeMethod(m_worker, &Worker::prepare, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(m_worker, &Worker::stop, Qt::QueuedConnection);
}

bool Announcer::isEnabled() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->enabled;
}

bool Announcer::isIdle() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->queue.empty() && !m_shared->speaking;
}
