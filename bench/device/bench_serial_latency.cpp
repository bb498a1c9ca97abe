// How far from the device's write() a passage is timed, over a pseudo-terminal; the simulator sends from a thread of
// its own. Two ways of timing through SerialPort, measured in the same rounds: the arrival stamp its line thread
// takes, and the old way, reading the clock when the receive handler runs on the user-interface thread. Each with an
// idle user-interface thread and with a busy one (stalls of 20-50 ms every 300 ms, as repaints, printing and message
// boxes cause). A bare poll() and read() loop on the same line gives the floor that the kernel and the scheduler set.
// The kinds of round alternate, so all see the same load from whatever else runs on the machine.

#include "device/serialport.h"
#include "tables/error.h"
#include "tables/paths.h"
#include "tools/sim/simulator.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kRounds = 10;
constexpr int kPassagesPerRound = 100; // so 1000 passages through SerialPort
constexpr int kSpacingMs = 3;
constexpr int kRoundTimeoutMs = 30'000;
constexpr double kCharTimeMs = 10.0 / 9600 * 1000;
constexpr double kTargetP99Ms = 0.3;
constexpr int kStallEveryMs = 300;
constexpr int kStallMinMs = 20;
constexpr int kStallMaxMs = 50;

struct Samples
{
    std::vector<qint64> latencyNs;
    int reads = 0;
    int readsOfMoreThanOne = 0;
    int lost = 0;
};

// Pairs the n-th byte written with the n-th byte received.
void addLatencies(Samples& samples, const QList<SentBytes>& sent, const std::vector<qint64>& receivedNs)
{
    std::vector<qint64> writeNs;
    for (const SentBytes& record : sent)
        writeNs.insert(writeNs.end(), static_cast<std::size_t>(record.bytes.size()), record.monotonicNs);
    const std::size_t count = std::min(writeNs.size(), receivedNs.size());
    for (std::size_t i = 0; i < count; ++i)
        samples.latencyNs.push_back(receivedNs[i] - writeNs[i]);
    samples.lost += static_cast<int>(writeNs.size() - count);
}

// The simulator records a write right after it returns, so the reader may be a little ahead of the record.
QList<SentBytes> sentRecords(const Simulator& simulator, std::size_t received)
{
    const qint64 deadlineNs = monotonicNowNs() + 1'000'000'000;
    for (;;) {
        const QList<SentBytes> sent = simulator.sent();
        std::size_t bytes = 0;
        for (const SentBytes& record : sent)
            bytes += static_cast<std::size_t>(record.bytes.size());
        if (bytes >= received || monotonicNowNs() > deadlineNs)
            return sent;
        QThread::usleep(200);
    }
}

double percentileMs(const std::vector<qint64>& sortedNs, double fraction)
{
    // Nearest rank.
    const auto rank = static_cast<std::size_t>(std::max(1.0, std::ceil(fraction * double(sortedNs.size()))));
    return double(sortedNs[rank - 1]) / 1e6;
}

double print(const char* what, Samples& samples)
{
    std::vector<qint64>& ns = samples.latencyNs;
    if (ns.empty()) {
        std::printf("  %-36s no passages received\n", what);
        return 1e9;
    }
    std::sort(ns.begin(), ns.end());
    const double p99 = percentileMs(ns, 0.99);
    const auto overOneMs = std::count_if(ns.begin(), ns.end(), [](qint64 v) { return v > 1'000'000; });
    std::printf("  %-36s p50 %6.3f ms  p99 %6.3f ms  max %7.3f ms  (%zu passages, %ld over 1 ms)\n", what,
                percentileMs(ns, 0.50), p99, double(ns.back()) / 1e6, ns.size(), long(overOneMs));
    return p99;
}

// One round through a bare file descriptor.
std::vector<qint64> receiveRaw(const QString& device)
{
    std::vector<qint64> receivedNs;
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return receivedNs;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcflush(fd, TCIFLUSH);
    [[maybe_unused]] auto written = ::write(fd, "E", 1);
    const qint64 deadlineNs = monotonicNowNs() + qint64(kRoundTimeoutMs) * 1'000'000;
    while (receivedNs.size() < std::size_t(kPassagesPerRound) && monotonicNowNs() < deadlineNs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        const qint64 entryNs = monotonicNowNs();
        char buffer[64];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            receivedNs.insert(receivedNs.end(), static_cast<std::size_t>(count), entryNs);
    }
    written = ::write(fd, "X", 1);
    ::tcdrain(fd);
    ::close(fd);
    return receivedNs;
}

// One per byte received through SerialPort.
struct PortRound
{
    std::vector<qint64> handlerEntryNs;
    std::vector<qint64> stampNs;
};

// One round through SerialPort and the event loop, as the program receives passages; with a busy user-interface
// thread, a timer stalls it now and then.
PortRound receiveWithSerialPort(SerialPort& port, Samples& samples, bool busy)
{
    PortRound round;
    QEventLoop loop;
    const auto connection = QObject::connect(&port, &SerialPort::OnRxChar, &loop, [&] {
        const qint64 entryNs = monotonicNowNs();
        const QList<StampedByte> bytes = port.ReadPendingStamped();
        ++samples.reads;
        if (bytes.size() > 1)
            ++samples.readsOfMoreThanOne;
        round.handlerEntryNs.insert(round.handlerEntryNs.end(), static_cast<std::size_t>(bytes.size()), entryNs);
        for (const StampedByte& byte : bytes)
            round.stampNs.push_back(byte.stampNs);
        if (round.stampNs.size() >= std::size_t(kPassagesPerRound))
            loop.quit();
    });
    QTimer stall;
    stall.setObjectName(QStringLiteral("stall"));
    stall.setInterval(kStallEveryMs);
    QObject::connect(&stall, &QTimer::timeout, &loop, [] {
        QThread::msleep(static_cast<unsigned long>(QRandomGenerator::global()->bounded(kStallMinMs, kStallMaxMs + 1)));
    });
    if (busy)
        stall.start();
    QTimer::singleShot(kRoundTimeoutMs, &loop, &QEventLoop::quit);
    port.OpenPort();
    port.SendText(QStringLiteral("E"));
    loop.exec();
    port.SendText(QStringLiteral("X"));
    port.ClosePort();
    QObject::disconnect(connection);
    return round;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    paths::setInstallFolder(folder.path());
    const QString device = paths::installFolder() + QStringLiteral("COM1");

    QList<Passage> script;
    for (int i = 0; i < kPassagesPerRound; ++i)
        script.append(Passage{10 + qint64(i) * kSpacingMs, 1 + i % 5});

    QThread thread;
    thread.setObjectName(QStringLiteral("simulator"));
    auto* simulator = new Simulator;
    simulator->setScript(script);
    simulator->moveToThread(&thread);
    thread.start();
    QString startError;
    QMetaObject::invokeMethod(
        simulator,
        [&] {
            try {
                simulator->start(1);
            } catch (const AppError& error) {
                startError = error.message();
            }
        },
        Qt::BlockingQueuedConnection);
    if (!startError.isEmpty()) {
        std::fprintf(stderr, "bench_serial_latency: %s\n", qPrintable(startError));
        return 1;
    }

    SerialPort port;
    Samples viaPort;
    Samples stamps;
    Samples busyHandler;
    Samples busyStamps;
    Samples bare;
    try {
        for (int round = 0; round < kRounds; ++round) {
            // The round before has ended: all its passages are in, the simulator is idle.
            simulator->clearRecords();
            const PortRound received = receiveWithSerialPort(port, viaPort, false);
            const QList<SentBytes> sent = sentRecords(*simulator, received.stampNs.size());
            addLatencies(viaPort, sent, received.handlerEntryNs);
            addLatencies(stamps, sent, received.stampNs);

            simulator->clearRecords();
            const PortRound busyReceived = receiveWithSerialPort(port, busyHandler, true);
            const QList<SentBytes> busySent = sentRecords(*simulator, busyReceived.stampNs.size());
            addLatencies(busyHandler, busySent, busyReceived.handlerEntryNs);
            addLatencies(busyStamps, busySent, busyReceived.stampNs);

            simulator->clearRecords();
            const std::vector<qint64> rawReceived = receiveRaw(device);
            addLatencies(bare, sentRecords(*simulator, rawReceived.size()), rawReceived);
        }
    } catch (const AppError& error) {
        std::fprintf(stderr, "bench_serial_latency: %s\n", qPrintable(error.message()));
        return 1;
    }
    QMetaObject::invokeMethod(
        simulator, [simulator] { simulator->stop(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete simulator;

    std::printf("serial latency: simulator write() -> receive over a pseudo-terminal; %d rounds of %d passages, "
                "%d ms apart, of each kind\n",
                kRounds, kPassagesPerRound, kSpacingMs);
    std::printf(" idle user-interface thread:\n");
    print("arrival stamp (line thread)", stamps);
    const double p99 = print("OnRxChar handler entry (old stamp)", viaPort);
    std::printf(" busy user-interface thread (%d-%d ms stall every %d ms):\n", kStallMinMs, kStallMaxMs, kStallEveryMs);
    print("arrival stamp (line thread)", busyStamps);
    print("OnRxChar handler entry (old stamp)", busyHandler);
    std::printf(" reference:\n");
    print("bare poll() + read()", bare);
    std::printf("  SerialPort: %d receive events, %d with more than one byte, %d passages lost\n", viaPort.reads,
                viaPort.readsOfMoreThanOne, viaPort.lost);
    std::printf("  9600-baud character time %.3f ms\n", kCharTimeMs);
    std::printf("  target: p99 under %.1f ms on a pseudo-terminal: %s\n", kTargetP99Ms,
                p99 < kTargetP99Ms ? "met" : "MISSED");
    return 0;
}
