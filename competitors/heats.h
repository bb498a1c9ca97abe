#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QVariant>

#include <functional>

// The competitors subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcCompetitors)

// One competitor as the list holds it: any value may be null.
struct Competitor
{
    QVariant name;
    QVariant frequency;
    QVariant group;
};

struct HeatRow
{
    int heat = 0;
    QString name;
    double frequency = 0;
    QString group;
};

// Places the competitors, given in frequency order, into heats of `heatSize`: a competitor whose
// frequency equals the previous one goes into the next heat. Each row is handed to `append` as it is
// placed. A competitor without a name stops the placement with the conversion error; the rows before
// it stay placed. An empty frequency counts as 0 and an empty group as " ".
void generateHeats(const QList<Competitor>& byFrequency, int heatSize, const std::function<void(const HeatRow&)>& append);

// The same, collecting the rows.
QList<HeatRow> generateHeats(const QList<Competitor>& byFrequency, int heatSize);
