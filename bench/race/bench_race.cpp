// Timing a heat of a 40-heat qualification table against the simulated device on a pseudo-terminal: how long a
// passage takes from the device's write() to its row being posted, how far the stored lap times are from the
// device's own send times, when the start lights' commands reach the device, and (with --clock) how far the race
// clock of a five-minute race drifts from the wall clock. The simulator runs in a thread of its own; the program runs
// on the main thread as it does for real.
//
//   bench_race [--passages N] [--clock] [--minutes M]

#include "competitors/batterie.h"
#include "competitors/lista_batterie.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/program.h"
#include "settings/tempo_min.h"
#include "tables/error.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kHeats = 40;
constexpr int kHeatSize = 5;
constexpr int kRacedHeat = 20;
constexpr int kSpacingMs = 5; // between passages on average, each channel in turn
constexpr double kLatencyTargetMs = 0.5;
constexpr double kLapErrorTargetMs = 1.0;
constexpr double kDriftTargetMs = 10.0;

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::max(1.0, std::ceil(fraction * double(values.size()))));
    return values[rank - 1];
}

// A target of 0: figures only.
void printFigures(const char* what, const std::vector<double>& ms, double target)
{
    if (ms.empty()) {
        std::printf("  %-36s no samples\n", what);
        return;
    }
    const double p99 = percentile(ms, 0.99);
    std::printf("  %-36s p50 %6.3f ms  p99 %6.3f ms  max %7.3f ms  (%zu samples)", what, percentile(ms, 0.50), p99,
                *std::max_element(ms.begin(), ms.end()), ms.size());
    if (target > 0)
        std::printf("  target p99 < %.1f ms: %s", target, p99 < target ? "met" : "MISSED");
    std::printf("\n");
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (condition())
        return true;
    poll.start();
    loop.exec();
    return condition();
}

void onSimulator(Simulator* simulator, const std::function<void()>& call)
{
    QMetaObject::invokeMethod(simulator, call, Qt::BlockingQueuedConnection);
}

// The row of the car on a channel in the heat the race table shows.
int rowOfChannel(const Table& race, int channel)
{
    const int num = race.fieldIndex(layouts::num);
    for (int row = 0; row < race.recordCount(); ++row) {
        if (race.valueAt(row, num).toInt() == channel)
            return row;
    }
    return -1;
}

// Competitor list, heat settings, generated heats, "Crea Nuove Qualifiche", and heat 20 chosen.
void buildQualifications(int minutes)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (int i = 1; i <= kHeats * kHeatSize; ++i)
        list.appendRecord({QStringLiteral("Pilota %1").arg(i), 27.0 + i / 1000.0, QStringLiteral("G")});
    list.saveToFile(paths::programFile(layouts::competitorListFile));
    Form_batterie->Lbe_nr_conc_batt->setText(QString::number(kHeatSize));
    Form_batterie->Lbe_Nr_Qualif->setText(QStringLiteral("1"));
    Form_batterie->Lbe_Durata_Qualif->setText(QString::number(minutes));
    Form_batterie->Button2->click();
    Frm_lista_batterie->Button1->click();
    dialogs::queueAnswer(true);
    Gestione_gare->CreaNuoveQualifiche1->trigger();
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QString::number(kRacedHeat));
    Form_Qualifica->Button1Click();
}

// Start and "Pronti ... Via"; the start lights run in real time when asked, otherwise they are ticked at once.
bool startHeat(const QString& minLapEntry, bool realStartLights)
{
    Form_tempo_min->Ed_tempo_min->setText(minLapEntry);
    Gestione_gare->Bitb_Start->click();
    if (!Form_Via->isVisible())
        return false;
    Form_Via->Btn_ProntiVia->click();
    if (!realStartLights) {
        for (int second = 1; second <= 7; ++second)
            Form_Semaforo->Timer_SemaforoTimer();
    }
    return true;
}

struct Samples
{
    std::vector<double> handlerMs;
    std::vector<double> latencyMs;
    std::vector<double> lapErrorMs;
    std::vector<double> clockResolutionErrorMs;
    int receptions = 0;
    int merged = 0;
    int lost = 0;
};

// When the race window's receive handler was entered last.
qint64 handlerEntryNs = 0;

// One received text and the time it was taken, with the car's stored lap time right after (day fraction).
struct Reception
{
    qint64 atNs = 0;
    qint64 handlerNs = 0;
    QString text;
    double lap = 0;
};

// Sends `passages` channel digits from the simulator's thread, 4 to 6 ms apart at random, so that passages fall
// anywhere within the millisecond of the time of day, as real cars do.
void sendPassages(Simulator* simulator, int passages, quint32 seed)
{
    QMetaObject::invokeMethod(
        simulator,
        [simulator, passages, seed] {
            QRandomGenerator random(seed);
            for (int i = 0; i < passages; ++i) {
                QThread::usleep(static_cast<unsigned long>(kSpacingMs * 1000 - 1000 + int(random.bounded(2000))));
                simulator->sendNow(QByteArray(1, char('1' + i % kHeatSize)));
            }
        },
        Qt::QueuedConnection);
}

// The simulator records a write right after it returns, so the reader may be a little ahead of the record.
QList<SentBytes> sentRecords(const Simulator* simulator, int bytes)
{
    QList<SentBytes> sent;
    const qint64 deadlineNs = monotonicNowNs() + 1'000'000'000;
    for (;;) {
        sent = simulator->sent();
        int recorded = 0;
        for (const SentBytes& s : sent)
            recorded += int(s.bytes.size());
        if (recorded >= bytes || monotonicNowNs() > deadlineNs)
            return sent;
        QThread::usleep(200);
    }
}

// Pairs the n-th byte written with the n-th byte read; a text of more than one byte is passages lost.
void addSamples(Samples& samples, const QList<SentBytes>& sent, const std::vector<Reception>& receptions, bool lapTimes)
{
    std::vector<SentBytes> bytes;
    for (const SentBytes& s : sent) {
        for (char c : s.bytes)
            bytes.push_back(SentBytes{QByteArray(1, c), s.monotonicNs, s.wallClock});
    }
    std::vector<const SentBytes*> previous(kHeatSize + 1, nullptr);
    std::size_t next = 0;
    for (const Reception& r : receptions) {
        ++samples.receptions;
        if (next + std::size_t(r.text.size()) > bytes.size())
            break;
        if (r.text.size() != 1) {
            samples.merged += int(r.text.size());
            for (QChar c : r.text)
                previous[std::size_t(qBound(0, c.digitValue(), kHeatSize))] = nullptr;
            next += std::size_t(r.text.size());
            continue;
        }
        const SentBytes& write = bytes[next++];
        const qint64 writeNs = write.monotonicNs;
        samples.latencyMs.push_back(double(r.atNs - writeNs) / 1e6);
        if (r.handlerNs > 0)
            samples.handlerMs.push_back(double(r.handlerNs) / 1e6);
        const int channel = r.text[0].digitValue();
        if (!lapTimes || channel < 1 || channel > kHeatSize)
            continue;
        if (const SentBytes* before = previous[std::size_t(channel)]) {
            const double deviceLapMs = double(writeNs - before->monotonicNs) / 1e6;
            samples.lapErrorMs.push_back(std::abs(r.lap * timetext::msPerDay - deviceLapMs));
            // The same lap between the device's own time stamps to the millisecond, as the time of day gives them.
            const double wallLapMs = double(before->wallClock.msecsTo(write.wallClock));
            samples.clockResolutionErrorMs.push_back(std::abs(wallLapMs - deviceLapMs));
        }
        previous[std::size_t(channel)] = &write;
    }
    samples.lost += int(bytes.size() - std::min(bytes.size(), next));
}

// One heat raced through the program: Start, the start signal, the passages, Interrompi.
bool programRound(Simulator* simulator, int passages, quint32 seed, Samples& samples)
{
    TGestione_gare* g = Gestione_gare;
    simulator->clearRecords();
    std::vector<Reception> receptions;
    receptions.reserve(std::size_t(passages));
    int bytes = 0;
    QObject context;
    // Connected after the race window's handler, so this runs once the row has been posted.
    QObject::connect(g->VaComm1, &SerialPort::OnRxChar, &context, [&] {
        Reception r;
        r.atNs = monotonicNowNs();
        r.handlerNs = r.atNs - handlerEntryNs;
        r.text = g->receivedText;
        bytes += int(r.text.size());
        const Table& race = *g->CDS_Gara;
        const int row = g->currentChannel >= 1 ? rowOfChannel(race, g->currentChannel) : -1;
        if (row >= 0)
            r.lap = race.valueAt(row, race.fieldIndex(layouts::tempoSGiroTtime)).toDouble();
        receptions.push_back(r);
    });
    if (!startHeat(QStringLiteral("0"), false) ||
        !waitFor([simulator] { return simulator->commandText().endsWith('E'); }, 5000))
        return false;
    sendPassages(simulator, passages, seed);
    const bool complete = waitFor([&] { return bytes >= passages; }, 60'000);
    g->Bitb_StopClick();
    waitFor([simulator] { return simulator->commandText().endsWith('X'); }, 5000);
    addSamples(samples, sentRecords(simulator, bytes), receptions, true);
    return complete;
}

// The same passages read by a bare poll() and read() loop on the same line: the floor that the kernel and the
// scheduler set under whatever else runs on the machine.
bool bareRound(Simulator* simulator, const QString& device, int passages, quint32 seed, Samples& samples)
{
    simulator->clearRecords();
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcflush(fd, TCIFLUSH);
    std::vector<Reception> receptions;
    int bytes = 0;
    sendPassages(simulator, passages, seed);
    const qint64 deadlineNs = monotonicNowNs() + 60'000'000'000LL;
    while (bytes < passages && monotonicNowNs() < deadlineNs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        Reception r;
        r.atNs = monotonicNowNs();
        char buffer[64];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            continue;
        r.text = QString::fromLatin1(buffer, int(count));
        bytes += int(count);
        receptions.push_back(r);
    }
    ::close(fd);
    addSamples(samples, sentRecords(simulator, bytes), receptions, false);
    return bytes >= passages;
}

int runPassages(Simulator* simulator, int passages)
{
    onSimulator(simulator, [simulator] { simulator->setScript({}); });
    const QString device = paths::installFolder() + QStringLiteral("COM1");
    constexpr int rounds = 5;
    const int perRound = std::max(10, passages / rounds);
    Samples program;
    Samples bare;
    bool complete = true;
    // The race window's handler again, with a time stamp taken right before it.
    TGestione_gare* g = Gestione_gare;
    QObject context;
    QObject::disconnect(g->VaComm1, &SerialPort::OnRxChar, g, nullptr);
    QObject::connect(g->VaComm1, &SerialPort::OnRxChar, &context, [] { handlerEntryNs = monotonicNowNs(); });
    connectHandler(g->VaComm1, &SerialPort::OnRxChar, g, &TGestione_gare::VaComm1RxChar);
    // Alternating, so that both see the same load from whatever else runs on the machine.
    for (int round = 0; round < rounds; ++round) {
        complete = programRound(simulator, perRound, quint32(round + 1), program) && complete;
        complete = bareRound(simulator, device, perRound, quint32(round + 1), bare) && complete;
    }

    int laps = 0;
    const Table& race = *g->CDS_Gara;
    for (int row = 0; row < race.recordCount(); ++row)
        laps += race.valueAt(row, race.fieldIndex(layouts::giri)).toInt();

    std::printf("passages: heat %d of a %d-heat qualification table (%d rows), %d rounds of %d passages, %d +/- 1 ms "
                "apart on %d channels, minimum lap 0\n",
                kRacedHeat, kHeats, kHeats * kHeatSize, rounds, perRound, kSpacingMs, kHeatSize);
    printFigures("device write() -> row posted", program.latencyMs, kLatencyTargetMs);
    printFigures("  of which the receive handler", program.handlerMs, 0);
    printFigures("lap time stored vs device's", program.lapErrorMs, kLapErrorTargetMs);
    printFigures("  millisecond time stamps alone", program.clockResolutionErrorMs, 0);
    std::printf("  %d receptions, %d passages read together (lost), %d not received, %d laps counted%s\n",
                program.receptions, program.merged, program.lost, laps, complete ? "" : "; NOT ALL PASSAGES ARRIVED");
    printFigures("for reference, bare poll() + read()", bare.latencyMs, 0);
    return complete ? 0 : 1;
}

// The start lights in real time, from "Pronti ... Via": when each command reaches the device and when the race
// clock ticks first, against the second-by-second plan (R at once, 4 3 2 1 at 3 to 6 s, Y and E at 7 s, the first
// tick at 8 s).
int runStartLights(Simulator* simulator)
{
    TGestione_gare* g = Gestione_gare;
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QString::number(kRacedHeat + 2));
    Form_Qualifica->Button1Click();
    Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("5"));
    g->Bitb_Start->click();
    if (!Form_Via->isVisible())
        return 1;
    simulator->clearRecords();
    qint64 firstTickNs = 0;
    QObject context;
    QObject::connect(g->Timer1, &QTimer::timeout, &context, [&] {
        if (firstTickNs == 0)
            firstTickNs = monotonicNowNs();
    });
    const qint64 clickNs = monotonicNowNs();
    Form_Via->Btn_ProntiVia->click();
    const bool ticked = waitFor([&] { return firstTickNs != 0; }, 12'000);
    const QList<ReceivedCommand> commands = simulator->commands();
    g->Bitb_StopClick();
    waitFor([simulator] { return simulator->commandText().endsWith('X'); }, 5000);

    std::printf("start lights in real time, from the click on \"Pronti ... Via\":\n");
    const QByteArray plan = "R4321YE";
    const qint64 planMs[] = {0, 3000, 4000, 5000, 6000, 7000, 7000};
    bool inOrder = commands.size() >= plan.size();
    for (qsizetype i = 0; i < commands.size() && i < plan.size(); ++i) {
        const double atMs = double(commands[i].monotonicNs - clickNs) / 1e6;
        inOrder = inOrder && commands[i].command == plan[i];
        std::printf("  \"%c\" at %9.3f ms  (%+8.3f ms off the plan)\n", commands[i].command, atMs,
                    atMs - double(planMs[i]));
    }
    if (ticked) {
        const double tickMs = double(firstTickNs - clickNs) / 1e6;
        std::printf("  first clock tick at %9.3f ms  (%+8.3f ms off the plan)\n", tickMs, tickMs - 8000.0);
    } else {
        std::printf("  NO CLOCK TICK within 12 s\n");
    }
    if (!inOrder)
        std::printf("  commands received: \"%s\", expected \"%s\"\n", simulator->commandText().constData(),
                    plan.constData());
    return ticked && inOrder ? 0 : 1;
}

int runClock(Simulator* simulator, int minutes)
{
    onSimulator(simulator, [simulator] { simulator->setCars(CarsSettings{kHeatSize, 8000, 1000, 7}); });
    TGestione_gare* g = Gestione_gare;
    // A new heat of the same table: the heat chooser again.
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QString::number(kRacedHeat + 1));
    Form_Qualifica->Button1Click();

    const int expectedTicks = 60 * minutes + 2;
    qint64 startNs = 0;
    std::vector<qint64> tickNs;
    QObject context;
    QObject::connect(Form_Semaforo->Timer_Semaforo, &QTimer::timeout, &context, [&] {
        if (startNs == 0 && g->Timer1->isActive())
            startNs = monotonicNowNs();
    });
    QObject::connect(g->Timer1, &QTimer::timeout, &context, [&] { tickNs.push_back(monotonicNowNs()); });
    if (!startHeat(QStringLiteral("5"), true))
        return 1;
    std::printf("race clock: a %d-minute heat in real time, %d ticks expected (about %d s)...\n", minutes,
                expectedTicks, expectedTicks + 7);
    std::fflush(stdout);
    const bool timeUp = waitFor([&] { return g->timeUp; }, (expectedTicks + 30) * 1000);
    waitFor([&] { return !g->VaComm1->isOpen(); }, 30'000); // the cars' last passages end the heat

    double worstTickMs = 0;
    for (std::size_t k = 0; k < tickNs.size(); ++k) {
        const double offMs = double(tickNs[k] - startNs) / 1e6 - double(k + 1) * 1000.0;
        worstTickMs = std::max(worstTickMs, std::abs(offMs));
    }
    const double driftMs =
        tickNs.empty() ? NAN : double(tickNs.back() - startNs) / 1e6 - double(expectedTicks) * 1000.0;
    std::printf("  ticks delivered %zu (expected %d), time up %s\n", tickNs.size(), expectedTicks,
                timeUp ? "declared" : "NOT declared");
    std::printf("  time up after %.3f s of wall time: drift %+.3f ms; worst single tick %.3f ms off its second\n",
                tickNs.empty() ? 0.0 : double(tickNs.back() - startNs) / 1e9, driftMs, worstTickMs);
    std::printf("  target |drift| < %.0f ms: %s\n", kDriftTargetMs,
                std::abs(driftMs) < kDriftTargetMs ? "met" : "MISSED");
    return timeUp && int(tickNs.size()) == expectedTicks ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int passages = 1000;
    bool clock = false;
    int minutes = 5;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--clock"))
            clock = true;
        else if (args[i] == QLatin1String("--passages") && i + 1 < args.size())
            passages = std::max(10, args[++i].toInt());
        else if (args[i] == QLatin1String("--minutes") && i + 1 < args.size())
            minutes = qBound(1, args[++i].toInt(), 23);
        else {
            std::fprintf(stderr, "usage: bench_race [--passages N] [--clock] [--minutes M]\n");
            return 2;
        }
    }

    QTemporaryDir install;
    QTemporaryDir program;
    paths::setInstallFolder(install.path());
    paths::setProgramFolder(program.path());
    dialogs::setTestMode(true);

    QThread thread;
    thread.setObjectName(QStringLiteral("simulator"));
    auto* simulator = new Simulator;
    simulator->moveToThread(&thread);
    thread.start();
    QString startError;
    onSimulator(simulator, [&] {
        try {
            simulator->start(1);
        } catch (const AppError& error) {
            startError = error.message();
        }
    });
    int result = 0;
    if (!startError.isEmpty()) {
        std::fprintf(stderr, "bench_race: %s\n", qPrintable(startError));
        result = 1;
    } else {
        createWindows();
        // The start-up dialogue check holds the port for its second.
        waitFor([] { return !Gestione_gare->TimerDialogoCom->isActive(); }, 5000);
        buildQualifications(minutes);
        result = runPassages(simulator, passages);
        result |= runStartLights(simulator);
        if (clock)
            result |= runClock(simulator, minutes);
        else
            std::printf("race clock: skipped (--clock runs a %d-minute heat in real time)\n", minutes);
        for (const dialogs::Box& box : dialogs::shown()) {
            if (box.kind != dialogs::Kind::Confirm)
                std::printf("  message shown: %s\n", qPrintable(box.text));
        }
        destroyWindows();
    }
    onSimulator(simulator, [simulator] { simulator->stop(); });
    thread.quit();
    thread.wait();
    delete simulator;
    return result;
}
