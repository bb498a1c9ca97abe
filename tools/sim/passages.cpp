#include "tools/sim/passages.h"

#include "tables/error.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

void checkCarsSettings(const CarsSettings& settings)
{
    if (settings.cars < 1 || settings.cars > 5)
        throw AppError(QStringLiteral("The number of cars must be 1 to 5, not %1").arg(settings.cars));
    if (settings.lapMs < 1)
        throw AppError(QStringLiteral("The lap time must be at least 1 ms, not %1").arg(settings.lapMs));
    if (settings.spreadMs < 0 || settings.spreadMs >= settings.lapMs)
        throw AppError(
            QStringLiteral("The lap spread must be 0 to %1 ms, not %2").arg(settings.lapMs - 1).arg(settings.spreadMs));
}

PassageGenerator::PassageGenerator(const CarsSettings& settings) : m_settings(settings), m_random(settings.seed)
{
    checkCarsSettings(settings);
    const qint64 half = std::max<qint64>(1, settings.lapMs / 2);
    for (int car = 0; car < settings.cars; ++car)
        m_nextMs.append(static_cast<qint64>(m_random.bounded(static_cast<quint64>(half))));
}

qint64 PassageGenerator::drawLap()
{
    const qint64 spread = m_settings.spreadMs;
    return m_settings.lapMs - spread + static_cast<qint64>(m_random.bounded(static_cast<quint64>(2 * spread + 1)));
}

Passage PassageGenerator::next()
{
    // The lowest channel goes first on a tie, so the order never depends on anything but the seed.
    const auto earliest = std::min_element(m_nextMs.cbegin(), m_nextMs.cend());
    const int index = static_cast<int>(earliest - m_nextMs.cbegin());
    const Passage passage{*earliest, index + 1};
    m_nextMs[index] += drawLap();
    return passage;
}

QList<Passage> generatePassages(const CarsSettings& settings, int count)
{
    PassageGenerator generator(settings);
    QList<Passage> passages;
    passages.reserve(count);
    for (int i = 0; i < count; ++i)
        passages.append(generator.next());
    return passages;
}

QList<Passage> parsePassageScript(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    QList<Passage> passages;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const auto fail = [&](const QString& why) {
            return AppError(
                QStringLiteral("Passage script line %1: %2: \"%3\"").arg(i + 1).arg(why, lines[i].trimmed()));
        };
        const QStringList fields = line.split(separators, Qt::SkipEmptyParts);
        if (fields.size() != 2)
            throw fail(QStringLiteral("expected <time-ms> <channel>"));
        bool timeOk = false;
        bool channelOk = false;
        const qint64 timeMs = fields[0].toLongLong(&timeOk);
        const int channel = fields[1].toInt(&channelOk);
        if (!timeOk || timeMs < 0)
            throw fail(QStringLiteral("the time must be a whole number of milliseconds, 0 or more"));
        if (!channelOk || channel < 1 || channel > 5)
            throw fail(QStringLiteral("the channel must be 1 to 5"));
        passages.append(Passage{timeMs, channel});
    }
    std::stable_sort(passages.begin(), passages.end(),
                     [](const Passage& a, const Passage& b) { return a.timeMs < b.timeMs; });
    return passages;
}

QList<Passage> loadPassageScript(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw AppError(QStringLiteral("Cannot read the passage script %1: %2").arg(fileName, file.errorString()));
    return parsePassageScript(QString::fromUtf8(file.readAll()));
}
