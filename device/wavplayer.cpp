#include "device/wavplayer.h"

#include "device/serialport.h"

#include <QFile>
#include <QtEndian>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace {

struct Wave
{
    pa_sample_spec sampleFormat{};
    QByteArray samples;
    qint64 durationMs = 0;
};

bool parseWave(const QByteArray& bytes, Wave& wave)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return false;
    int channels = 0, rate = 0, bits = 0, format = 0;
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (body + qsizetype(size) > bytes.size() && id != "data")
            return false;
        if (id == "fmt " && size >= 16) {
            const char* f = bytes.constData() + body;
            format = qFromLittleEndian<quint16>(f);
            channels = qFromLittleEndian<quint16>(f + 2);
            rate = int(qFromLittleEndian<quint32>(f + 4));
            bits = qFromLittleEndian<quint16>(f + 14);
        } else if (id == "data") {
            wave.samples = bytes.mid(body, qMin<qsizetype>(size, bytes.size() - body));
            break;
        }
        pos = body + size + (size & 1);
    }
    if (format != 1 || channels < 1 || channels > 2 || rate <= 0 || (bits != 8 && bits != 16) || wave.samples.isEmpty())
        return false;
    wave.sampleFormat.format = bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    wave.sampleFormat.channels = uint8_t(channels);
    wave.sampleFormat.rate = uint32_t(rate);
    const qint64 bytesPerSecond = qint64(rate) * channels * (bits / 8);
    wave.durationMs = wave.samples.size() * 1000 / bytesPerSecond;
    return true;
}

bool play(const Wave& wave)
{
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "Quintara", PA_STREAM_PLAYBACK, nullptr, "stop", &wave.sampleFormat, nullptr, nullptr, &error);
    if (!stream)
        return false;
    const bool ok = pa_simple_write(stream, wave.samples.constData(), size_t(wave.samples.size()), &error) == 0 &&
                    pa_simple_drain(stream, &error) == 0;
    pa_simple_free(stream);
    return ok;
}

} // namespace

WavPlayer::WavPlayer(QObject* parent) : QObject(parent) {}

bool WavPlayer::playAndWait(const QString& path) noexcept
{
    try {
        ++m_attempts;
        m_lastFile = path;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCInfo(lcDevice) << "no sound file" << path;
            return false;
        }
        auto wave = std::make_shared<Wave>();
        if (!parseWave(file.readAll(), *wave)) {
            qCWarning(lcDevice) << "not a PCM wave file" << path;
            return false;
        }
        // Played on a worker, so a sound server that never answers cannot hold the program.
        auto task = std::make_shared<std::packaged_task<bool()>>([wave] { return play(*wave); });
        std::future<bool> result = task->get_future();
        std::thread([task] { (*task)(); }).detach();
        const auto bound = std::chrono::milliseconds(wave->durationMs + 1000);
        if (result.wait_for(bound) != std::future_status::ready) {
            qCWarning(lcDevice) << "the sound did not end in time";
            return false;
        }
        return result.get();
    } catch (...) {
        return false;
    }
}
