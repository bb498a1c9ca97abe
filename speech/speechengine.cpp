#include "speech/speechengine.h"

#include "speech/logging.h"

#include <QTextToSpeech>
#include <QTimer>

namespace {

// A call-out lasts a few seconds; an engine that has said nothing by then has lost it.
constexpr int watchdogMs = 15000;

class SystemSpeechEngine : public SpeechEngine
{
public:
    SystemSpeechEngine() : m_tts(new QTextToSpeech(this))
    {
        m_watchdog.setObjectName(QStringLiteral("speechWatchdog"));
        m_watchdog.setSingleShot(true);
        m_watchdog.setInterval(watchdogMs);
        connect(&m_watchdog, &QTimer::timeout, this, &SystemSpeechEngine::onWatchdog);
        connect(m_tts, &QTextToSpeech::stateChanged, this, &SystemSpeechEngine::onStateChanged);
        if (m_tts->state() == QTextToSpeech::Error)
            return;
        bool hasItalian = false;
        for (const QLocale& locale : m_tts->availableLocales())
            hasItalian = hasItalian || locale.language() == QLocale::Italian;
        if (hasItalian)
            m_tts->setLocale(QLocale(QLocale::Italian, QLocale::Italy));
        else
            qCInfo(lcSpeech).noquote() << "No Italian voice in" << m_tts->engine()
                                       << "- speaking with its default voice";
    }

    QString unavailableReason() const override
    {
        if (m_silent)
            return QStringLiteral("%1 said nothing in %2 s; is there an audio output?")
                .arg(m_tts->engine())
                .arg(watchdogMs / 1000);
        if (m_tts->state() != QTextToSpeech::Error)
            return {};
        QString why = m_tts->errorString();
        if (why.isEmpty())
            why = QStringLiteral("the engine reports an error");
        return QStringLiteral("%1: %2").arg(m_tts->engine(), why);
    }

    void say(const QString& text) override
    {
        m_active = true;
        m_watchdog.start();
        m_tts->say(text);
    }

    void stop() override { m_tts->stop(QTextToSpeech::BoundaryHint::Immediate); }

private:
    void onStateChanged(QTextToSpeech::State state)
    {
        if (state == QTextToSpeech::Speaking || state == QTextToSpeech::Paused)
            return;
        finish();
    }

    // speech-dispatcher without a working audio output takes the text and never reports back.
    void onWatchdog()
    {
        m_silent = true;
        finish();
    }

    void finish()
    {
        if (!m_active)
            return;
        m_active = false;
        m_watchdog.stop();
        emit finished();
    }

    QTextToSpeech* m_tts;
    QTimer m_watchdog;
    bool m_active = false;
    bool m_silent = false;
};

} // namespace

std::unique_ptr<SpeechEngine> createSystemSpeechEngine()
{
    if (QTextToSpeech::availableEngines().isEmpty())
        return nullptr;
    return std::make_unique<SystemSpeechEngine>();
}
