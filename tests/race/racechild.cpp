// Runs one qualification heat of three cars against the simulated device, with the real clocks, until it is
// killed or the script is over:
//   quintara_racechild <program folder> <script: "ms:channel ms:channel ...">
// Prints "racing" once the race is on, and "sent <monotonic ns> <bytes>" for every write of the device.
#include "race/gestione_gare.h"
#include "tests/support/racefixture.h"
#include "tables/paths.h"
#include "tools/sim/simulator.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: quintara_racechild <program folder> <script>\n");
        return 2;
    }
    QList<Passage> script;
    for (const QString& item : args[2].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList p = item.split(QLatin1Char(':'));
        script.append({p.value(0).toLongLong(), p.value(1).toInt()});
    }

    RaceFixture race(ProgramSession::Device::Simulator, RaceFixture::Clock::Real);
    paths::setProgramFolder(args[1]);
    if (!race.buildQualifications(3, 3))
        return 3;
    QObject::connect(&race.device(), &Simulator::bytesSent, &app, [](const SentBytes& s) {
        std::printf("sent %lld %s\n", static_cast<long long>(s.monotonicNs), s.bytes.constData());
        std::fflush(stdout);
    });
    race.device().setScript(script);
    if (!race.startRace(QStringLiteral("1")))
        return 4;
    std::printf("racing\n");
    std::fflush(stdout);
    // Bounded, so that a child whose test died does not run on.
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
