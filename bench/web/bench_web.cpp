// What the live results page costs the race window: the time of a simulated passage (the race
// table's row edited and posted, as the passage handler does) plus LiveServer::changed(), with the
// server off, with no client and with 20 WebSocket clients on another thread; the time to build a
// snapshot (done later by the coalescing timer, also on the race window's thread); and the time
// from changed() until all clients have the update. Loopback only.

#include "tables/layouts.h"
#include "tables/table.h"
#include "web/liveserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>
#include <QWebSocket>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int heats = 8;
constexpr int carsPerHeat = 5;
constexpr int passages = 3000;
constexpr int pushRounds = 60;

QElapsedTimer g_clock; // shared monotonic clock of both threads

struct Figures
{
    std::vector<double> values;
    double at(double q)
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(q * double(values.size())))];
    }
};

// 20 WebSocket clients on their own thread, counting race updates.
class Clients : public QObject
{
public:
    std::atomic<int> connected{0};
    std::atomic<int> updates{0};
    std::atomic<qint64> lastUpdateNs{0};

    void open(quint16 port, int count)
    {
        for (int i = 0; i < count; ++i) {
            auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
            connect(socket, &QWebSocket::connected, this, [this] { ++connected; });
            connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
                if (text.startsWith(QLatin1String("{\"type\":\"race\""))) {
                    ++updates;
                    lastUpdateNs = g_clock.nsecsElapsed();
                }
            });
            socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        }
    }
};

void fill(Table& t)
{
    layouts::defineQualification(t);
    t.createTable();
    for (int h = 1; h <= heats; ++h)
        for (int c = 1; c <= carsPerHeat; ++c)
            t.appendRecord({h, c, QStringLiteral("Pilota %1-%2").arg(h).arg(c), 0});
    layouts::orderByRanking(t);
    t.setFilter(QStringLiteral("batteria = 3"));
    t.setFiltered(true);
}

// What the passage handler does to the race table.
void passage(Table& t, int n)
{
    t.moveTo(n % carsPerHeat);
    t.edit();
    const int laps = t.value(layouts::giri).toInt() + 1;
    const double lap = (20.0 + (n % 7) * 0.1) / 86400.0;
    t.setValue(layouts::giri, laps);
    t.setValue(layouts::tempoSGiroTtime, lap);
    t.setValue(layouts::tempoSGiro, QStringLiteral("0.20.%1").arg(n % 1000));
    t.setValue(layouts::tempoMiglTtime, lap);
    t.setValue(layouts::tempoMigl, QStringLiteral("0.20.%1").arg(n % 1000));
    t.setValue(layouts::tempoTot, QStringLiteral("%1.0").arg(laps / 3));
    t.post();
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void measureHandler(const char* label, Table& t, web::LiveServer* server)
{
    Figures us;
    for (int i = 0; i < passages; ++i) {
        const qint64 start = g_clock.nsecsElapsed();
        passage(t, i);
        if (server)
            server->changed();
        us.values.push_back(double(g_clock.nsecsElapsed() - start) / 1e3);
        // Passages come a few milliseconds apart at most; the coalescing timer fires in between.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (i % 50 == 0)
            QThread::msleep(20);
    }
    std::printf("%-34s p50 %7.1f us   p99 %7.1f us   max %8.1f us\n", label, us.at(0.5), us.at(0.99), us.at(1.0));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    Table table;
    Table finals;
    fill(table);
    layouts::defineFinals(finals);
    finals.createTable();
    const auto provider = [&] { return web::snapshotFromTables(&table, QString(), QStringLiteral("3:21"), &table, &finals); };

    std::printf("Live results, %d cars in %d heats, %d passages per figure\n", heats * carsPerHeat, heats, passages);
    measureHandler("passage, page off:", table, nullptr);

    Figures build;
    for (int i = 0; i < 2000; ++i) {
        const qint64 start = g_clock.nsecsElapsed();
        const web::LiveSnapshot s = provider();
        build.values.push_back(double(g_clock.nsecsElapsed() - start) / 1e3);
    }
    std::printf("%-34s p50 %7.1f us   p99 %7.1f us   max %8.1f us\n", "snapshot build (timer, later):", build.at(0.5),
                build.at(0.99), build.at(1.0));

    web::LiveServer server(provider);
    if (!server.start(freePort())) {
        std::printf("cannot start the server: %s\n", qPrintable(server.statusText()));
        return 1;
    }
    measureHandler("passage + changed(), 0 clients:", table, &server);

    QThread clientThread;
    clientThread.start();
    Clients clients;
    clients.moveToThread(&clientThread);
    const int clientCount = 20;
    QMetaObject::invokeMethod(&clients, [&] { clients.open(server.port(), clientCount); });
    QElapsedTimer wait;
    wait.start();
    while (server.webSocketClients() < clientCount && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (server.webSocketClients() < clientCount) {
        std::printf("only %d clients connected\n", server.webSocketClients());
        return 1;
    }
    measureHandler("passage + changed(), 20 clients:", table, &server);

    // changed() until every client has the update: the coalescing interval plus build and send.
    Figures push;
    int missed = 0;
    for (int round = 0; round < pushRounds; ++round) {
        const int before = clients.updates.load();
        passage(table, round);
        const qint64 start = g_clock.nsecsElapsed();
        server.changed();
        wait.restart();
        while (clients.updates.load() < before + clientCount && wait.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (clients.updates.load() < before + clientCount)
            ++missed;
        else
            push.values.push_back(double(clients.lastUpdateNs.load() - start) / 1e6);
    }
    std::printf("%-34s p50 %7.1f ms   p99 %7.1f ms   max %8.1f ms   (coalescing %d ms, %d of %d late)\n",
                "changed() to all 20 clients:", push.at(0.5), push.at(0.99), push.at(1.0), web::LiveServer::coalesceMs,
                missed, pushRounds);

    QMetaObject::invokeMethod(&clients, [&] { qDeleteAll(clients.children()); }, Qt::BlockingQueuedConnection);
    clientThread.quit();
    clientThread.wait();
    return 0;
}
