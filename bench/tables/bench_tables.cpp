// Load and save times of a 10,000-row qualification table, against the target "load plus save under 100 ms".

#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/timetext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

constexpr int rowCount = 10000;
constexpr int runs = 15;
constexpr double targetMs = 100.0;

double milliseconds(const std::function<void()>& action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void buildQualification(Table& table)
{
    layouts::defineQualification(table);
    table.createTable();
    QRandomGenerator random(20240601);
    const char* first[] = {"Marco", "Luca", "Giulia", "Niccolò", "Francesca", "Andrea", "Chiara", "Matteo"};
    const char* last[] = {"Rossi", "Bianchi", "Esposito", "Ricci", "Marino", "Greco", "Bruno", "Galli"};
    const double second = 1.0 / 86400;
    for (int i = 0; i < rowCount; ++i) {
        const int laps = 10 + int(random.bounded(30));
        const double best = (8.0 + random.bounded(4.0)) * second;
        const double lastLap = best + random.bounded(2.0) * second;
        const double total = laps * (best + second);
        const QString name =
            QStringLiteral("%1 %2 %3")
                .arg(QString::fromUtf8(first[random.bounded(8)]), QString::fromUtf8(last[random.bounded(8)]))
                .arg(i);
        table.appendRecord({i / 5 + 1, i % 5 + 1, name, laps, lastLap, timetext::lapText(lastLap), total,
                            timetext::totalText(total), best, timetext::lapText(best)});
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
#ifndef __OPTIMIZE__
    std::printf("warning: built without optimisation; use RelWithDebInfo or Release for the figures\n");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sit_conc.xml"));

    Table table(QStringLiteral("CDS_sit_conc"));
    const double buildMs = milliseconds([&] { buildQualification(table); });
    table.saveToFile(path);

    std::vector<double> saves, loads, both;
    Table loaded(QStringLiteral("CDS_Gara"));
    for (int i = 0; i < runs; ++i) {
        saves.push_back(milliseconds([&] { table.saveToFile(path); }));
        loads.push_back(milliseconds([&] { loaded.loadFromFile(path); }));
        both.push_back(milliseconds([&] {
            loaded.loadFromFile(path);
            loaded.saveToFile(path);
        }));
    }

    // The floor of any reader built on QXmlStreamReader: one bare pass over the same bytes, every attribute touched.
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    std::vector<double> bare;
    qsizetype attributes = 0;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(milliseconds([&] {
            QXmlStreamReader xml(bytes);
            while (!xml.atEnd()) {
                if (xml.readNext() == QXmlStreamReader::StartElement)
                    attributes += xml.attributes().size();
            }
        }));
    }

    // Everyday operations on the loaded table, for reference.
    const double sortMs = milliseconds([&] { loaded.setIndexFieldNames(QStringLiteral("Tempo migl. ttime")); });
    loaded.setFilter(QStringLiteral("batteria = 1000"));
    const double filterMs = milliseconds([&] { loaded.setFiltered(true); });
    const double postMs = milliseconds([&] {
        for (loaded.first(); !loaded.eof(); loaded.next()) {
            loaded.edit();
            loaded.setValue(QStringLiteral("tempo migl. ttime"), 7.5 / 86400);
            loaded.post();
        }
    });

    const double total = median(both);
    std::printf("rows: %d, file: %lld bytes, runs: %d (median)\n", rowCount,
                static_cast<long long>(QFileInfo(path).size()), runs);
    std::printf("build by appendRecord: %8.2f ms\n", buildMs);
    std::printf("save:                  %8.2f ms\n", median(saves));
    std::printf("load:                  %8.2f ms   target < 2 x save: %s\n", median(loads),
                median(loads) < 2 * median(saves) ? "met" : "MISSED");
    std::printf("  bare XML pass:       %8.2f ms   (QXmlStreamReader alone, %lld attributes)\n", median(bare),
                static_cast<long long>(attributes / runs));
    std::printf("load + save:           %8.2f ms   target < %.0f ms: %s\n", total, targetMs,
                total < targetMs ? "met" : "MISSED");
    std::printf("sort 10,000 rows:      %8.2f ms\n", sortMs);
    std::printf("filter a heat:         %8.2f ms\n", filterMs);
    std::printf("post 5 keyed rows:     %8.3f ms\n", postMs);
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory:           %8.1f MB\n", usage.ru_maxrss / 1024.0);
#endif
    return total < targetMs ? 0 : 1;
}
