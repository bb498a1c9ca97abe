// Timing a heat of a 40-heat qualification table against the simulated device on a pseudo-terminal: how long a
// passage takes from the device's write() to its row being posted, how far the lap times are from the device's own
// send times and how many passages are lost, with the user-interface thread idle and then busy (stalls of 20 to
// 50 ms every 300 ms, pairs of cars crossing within 1 ms), next to a bare read() of the same line; what the passage
// journal costs; when the start lights' commands reach the device; and (with --clock) how far the race clock of a
// five-minute race drifts from the wall clock, beside a bare precise 1 s timer. The simulator runs in a thread of its
// own; the program runs on the main thread as it does for real.
//
//   bench_race [--passages N] [--clock] [--minutes M]

#include "competitors/batterie.h"
#include "competitors/lista_batterie.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/journal.h"
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
constexpr double kLapErrorTargetMs = 0.6;
constexpr double kBusyLapErrorTargetMs = 1.0;
constexpr double kJournalTargetMs = 0.05;
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
        std::printf("  target p99 < %.2g ms: %s", target, p99 < target ? "met" : "MISSED");
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
    int receptions = 0;
    int merged = 0;
    int lost = 0;
};

// When the race window's receive handler was entered last.
qint64 handlerEntryNs = 0;

// One received text and the time it was taken.
struct Reception
{
    qint64 atNs = 0;
    qint64 handlerNs = 0;
    QString text;
};

// Sends `passages` channel digits from the simulator's thread, 4 to 6 ms apart at random, so that passages fall
// anywhere within the millisecond of the time of day, as real cars do. With `pairs`, every other passage follows
// the one before within 1 ms, as two cars crossing the line together.
void sendPassages(Simulator* simulator, int passages, quint32 seed, bool pairs)
{
    QMetaObject::invokeMethod(
        simulator,
        [simulator, passages, seed, pairs] {
            QRandomGenerator random(seed);
            for (int i = 0; i < passages; ++i) {
                const bool second = pairs && i % 2 == 1;
                const int gapUs = second ? 100 + int(random.bounded(800)) : kSpacingMs * 1000 - 1000 + int(random.bounded(2000));
                QThread::usleep(static_cast<unsigned long>(gapUs));
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

// The device's bytes one by one, each with the time of the write() that sent it.
std::vector<SentBytes> sentBytes(const QList<SentBytes>& sent)
{
    std::vector<SentBytes> bytes;
    for (const SentBytes& s : sent) {
        for (char c : s.bytes)
            bytes.push_back(SentBytes{QByteArray(1, c), s.monotonicNs, s.wallClock});
    }
    return bytes;
}

// Lap times measured between the `stamps` of each channel's passages against the device's, in order: the n-th
// passage of a channel stamped is the n-th it sent.
void addLapErrors(std::vector<double>& errorsMs, const std::vector<SentBytes>& bytes,
                  const std::vector<std::pair<int, qint64>>& stamps)
{
    std::vector<std::vector<qint64>> sent(kHeatSize + 1);
    for (const SentBytes& b : bytes)
        sent[std::size_t(qBound(0, b.bytes[0] - '0', kHeatSize))].push_back(b.monotonicNs);
    std::vector<std::vector<qint64>> seen(kHeatSize + 1);
    for (const auto& [channel, stamp] : stamps)
        seen[std::size_t(qBound(0, channel, kHeatSize))].push_back(stamp);
    for (int ch = 1; ch <= kHeatSize; ++ch) {
        const auto& s = sent[std::size_t(ch)];
        const auto& m = seen[std::size_t(ch)];
        for (std::size_t k = 1; k < std::min(s.size(), m.size()); ++k)
            errorsMs.push_back(std::abs(double((m[k] - m[k - 1]) - (s[k] - s[k - 1]))) / 1e6);
    }
}

// Pairs the n-th byte written with the n-th byte read, for the latency of each reception's last byte.
void addLatencies(Samples& samples, const std::vector<SentBytes>& bytes, const std::vector<Reception>& receptions)
{
    std::size_t next = 0;
    for (const Reception& r : receptions) {
        ++samples.receptions;
        if (r.text.isEmpty() || next + std::size_t(r.text.size()) > bytes.size())
            continue;
        samples.merged += r.text.size() > 1 ? 1 : 0;
        next += std::size_t(r.text.size());
        samples.latencyMs.push_back(double(r.atNs - bytes[next - 1].monotonicNs) / 1e6);
        if (r.handlerNs > 0)
            samples.handlerMs.push_back(double(r.handlerNs) / 1e6);
    }
}

// One heat raced through the program: Start, the start signal, the passages, Interrompi. With `busy`, the
// user-interface thread stalls for 20 to 50 ms every 300 ms, and cars cross in pairs.
bool programRound(Simulator* simulator, int passages, quint32 seed, bool busy, Samples& samples)
{
    TGestione_gare* g = Gestione_gare;
    simulator->clearRecords();
    std::vector<Reception> receptions;
    receptions.reserve(std::size_t(passages));
    int bytes = 0;
    QObject context;
    // Connected after the race window's handler, so this runs once the rows have been posted.
    QObject::connect(g->VaComm1, &SerialPort::OnRxChar, &context, [&] {
        Reception r;
        r.atNs = monotonicNowNs();
        r.handlerNs = r.atNs - handlerEntryNs;
        r.text = g->receivedText;
        bytes += int(r.text.size());
        receptions.push_back(r);
    });
    QTimer stalls;
    QRandomGenerator random(seed * 7919);
    stalls.setInterval(300);
    QObject::connect(&stalls, &QTimer::timeout, &context,
                     [&] { QThread::usleep(static_cast<unsigned long>(20'000 + int(random.bounded(30'001)))); });
    if (!startHeat(QStringLiteral("0"), false) ||
        !waitFor([simulator] { return simulator->commandText().endsWith('E'); }, 5000))
        return false;
    if (busy)
        stalls.start();
    sendPassages(simulator, passages, seed, busy);
    const bool complete = waitFor([&] { return bytes >= passages; }, 60'000);
    stalls.stop();
    // The passages as the race recorded them, with their arrival stamps.
    std::vector<std::pair<int, qint64>> stamps;
    for (const racerecord::Event& e : g->raceRecord.events)
        stamps.emplace_back(e.channel, e.stampNs);
    g->Bitb_StopClick();
    waitFor([simulator] { return simulator->commandText().endsWith('X'); }, 5000);
    const std::vector<SentBytes> sent = sentBytes(sentRecords(simulator, bytes));
    addLatencies(samples, sent, receptions);
    addLapErrors(samples.lapErrorMs, sent, stamps);
    samples.lost += int(sent.size()) - int(stamps.size());
    return complete;
}

// The same passages read by a bare poll() and read() loop on the same line: the floor that the kernel and the
// scheduler set under whatever else runs on the machine.
bool bareRound(Simulator* simulator, const QString& device, int passages, quint32 seed, bool pairs, Samples& samples)
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
    sendPassages(simulator, passages, seed, pairs);
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
    const std::vector<SentBytes> sent = sentBytes(sentRecords(simulator, bytes));
    addLatencies(samples, sent, receptions);
    // Every byte of a read stamped when the read returned.
    std::vector<std::pair<int, qint64>> stamps;
    for (const Reception& r : receptions) {
        for (const QChar c : r.text)
            stamps.emplace_back(c.digitValue(), r.atNs);
    }
    addLapErrors(samples.lapErrorMs, sent, stamps);
    return bytes >= passages;
}

int runPassages(Simulator* simulator, int passages)
{
    onSimulator(simulator, [simulator] { simulator->setScript({}); });
    const QString device = paths::installFolder() + QStringLiteral("COM1");
    constexpr int rounds = 5;
    const int perRound = std::max(10, passages / rounds);
    // The race window's handler again, with a time stamp taken right before it.
    TGestione_gare* g = Gestione_gare;
    QObject context;
    QObject::disconnect(g->VaComm1, &SerialPort::OnRxChar, g, nullptr);
    QObject::connect(g->VaComm1, &SerialPort::OnRxChar, &context, [] { handlerEntryNs = monotonicNowNs(); });
    connectHandler(g->VaComm1, &SerialPort::OnRxChar, g, &TGestione_gare::VaComm1RxChar);

    std::printf("passages: heat %d of a %d-heat qualification table (%d rows), %d rounds of %d passages, %d +/- 1 ms "
                "apart on %d channels, minimum lap 0\n",
                kRacedHeat, kHeats, kHeats * kHeatSize, rounds, perRound, kSpacingMs, kHeatSize);
    bool complete = true;
    for (const bool busy : {false, true}) {
        Samples program;
        Samples bare;
        // Alternating, so that both see the same load from whatever else runs on the machine.
        for (int round = 0; round < rounds; ++round) {
            complete = programRound(simulator, perRound, quint32(round + 1), busy, program) && complete;
            complete = bareRound(simulator, device, perRound, quint32(round + 1), busy, bare) && complete;
        }
        std::printf("%s\n", busy ? "busy: the user-interface thread stalls 20-50 ms every 300 ms, cars cross in pairs "
                                   "within 1 ms"
                                 : "idle user-interface thread");
        printFigures("device write() -> rows posted", program.latencyMs, busy ? 0 : kLatencyTargetMs);
        printFigures("  of which the receive handler", program.handlerMs, 0);
        printFigures("lap time vs device's send times", program.lapErrorMs,
                     busy ? kBusyLapErrorTargetMs : kLapErrorTargetMs);
        std::printf("  %d receptions, %d of several passages, %d passages lost (target 0: %s)\n", program.receptions,
                    program.merged, program.lost, program.lost == 0 ? "met" : "MISSED");
        printFigures("bare poll() + read(): write() -> read", bare.latencyMs, 0);
        printFigures("bare poll() + read(): lap time", bare.lapErrorMs, 0);
    }
    return complete ? 0 : 1;
}

// What the passage journal costs: one line appended with write(), as the serial line's thread does for each
// passage; the user-interface thread itself only appends the passage to the race record in memory.
int runJournal()
{
    QTemporaryDir folder;
    racerecord::RaceRecord record;
    record.mode = laprules::RaceMode::Qualifications;
    PassageJournal journal;
    journal.begin(folder.filePath(QStringLiteral("passaggi.journal")), record);
    std::vector<double> appendMs;
    for (int i = 0; i < 5000; ++i) {
        const qint64 before = monotonicNowNs();
        journal.appendEvent({racerecord::EventKind::Passage, 1 + i % kHeatSize, before});
        appendMs.push_back(double(monotonicNowNs() - before) / 1e6);
    }
    journal.remove();
    std::printf("passage journal (synced to disk every 100 ms on its own thread):\n");
    printFigures("one passage appended", appendMs, kJournalTargetMs);
    std::printf("  on the user-interface thread per passage: the race record only; the line is written by the "
                "serial line's thread\n");
    return 0;
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
    // A bare precise 1 s timer started at the same moment, over the same span: what the event loop alone gives.
    QTimer bare;
    bare.setTimerType(Qt::PreciseTimer);
    bare.setInterval(1000);
    std::vector<qint64> bareNs;
    QObject context;
    QObject::connect(&bare, &QTimer::timeout, &context, [&] { bareNs.push_back(monotonicNowNs()); });
    QObject::connect(Form_Semaforo->Timer_Semaforo, &QTimer::timeout, &context, [&] {
        if (startNs == 0 && g->Timer1->isActive()) {
            startNs = monotonicNowNs();
            bare.start();
        }
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
    bare.stop();
    const std::size_t bareTicks = std::min(bareNs.size(), tickNs.size());
    double worstBareMs = 0;
    for (std::size_t k = 0; k < bareTicks; ++k)
        worstBareMs = std::max(worstBareMs, std::abs(double(bareNs[k] - startNs) / 1e6 - double(k + 1) * 1000.0));
    const double bareDriftMs =
        bareTicks == 0 ? NAN : double(bareNs[bareTicks - 1] - startNs) / 1e6 - double(bareTicks) * 1000.0;
    std::printf("  beside it, a bare precise 1 s timer: %zu ticks, drift %+.3f ms; worst single tick %.3f ms off\n",
                bareTicks, bareDriftMs, worstBareMs);
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
        result |= runJournal();
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
