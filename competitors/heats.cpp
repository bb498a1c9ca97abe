#include "competitors/heats.h"

#include "tables/error.h"

Q_LOGGING_CATEGORY(lcCompetitors, "quintara.competitors", QtInfoMsg)

void generateHeats(const QList<Competitor>& byFrequency, int heatSize, const std::function<void(const HeatRow&)>& append)
{
    int heat = 1;         // H
    int counted = 0;      // K: competitors counted in heat H
    int pushed = 0;       // P: competitors already placed in heat H + 1
    double previous = 0;  // F: starts at 0, so competitors without a frequency at the head go to heat 2
    for (const Competitor& c : byFrequency) {
        if (!c.name.isValid() || c.name.isNull())
            throw EngineError(QStringLiteral("Could not convert variant of type (Null) into type (String)"));
        const double frequency = c.frequency.isValid() && !c.frequency.isNull() ? c.frequency.toDouble() : 0.0;
        QString group = c.group.isValid() ? c.group.toString() : QString();
        if (group.isEmpty())
            group = QStringLiteral(" ");
        if (frequency == previous) {
            append({heat + 1, c.name.toString(), frequency, group});
            ++pushed;
        } else {
            append({heat, c.name.toString(), frequency, group});
            ++counted;
        }
        previous = frequency;
        if (counted >= heatSize) {
            // The competitors already pushed into the new heat count towards its size.
            ++heat;
            counted = pushed;
            pushed = 0;
        }
    }
    qCDebug(lcCompetitors) << byFrequency.size() << "competitors placed in heats of" << heatSize;
}

QList<HeatRow> generateHeats(const QList<Competitor>& byFrequency, int heatSize)
{
    QList<HeatRow> rows;
    generateHeats(byFrequency, heatSize, [&rows](const HeatRow& row) { rows.append(row); });
    return rows;
}
