#include "tablesfixture.h"
#include "web/liveserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>

using namespace fixture;

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

struct Reply
{
    int status = 0; // 0: no status line before the connection closed or the time ran out
    QByteArray head;
    QByteArray body;
};

// One request over a fresh loopback connection. The server runs on its own thread, so blocking here
// does not hold it up.
Reply request(quint16 port, const QByteArray& raw, int timeoutMs = 5000)
{
    Reply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return reply;
    socket.write(raw);
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    qsizetype headEnd = -1;
    qsizetype length = -1;
    while (clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100)) {
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
            continue;
        }
        data += socket.readAll();
        if (headEnd < 0 && (headEnd = data.indexOf("\r\n\r\n")) >= 0) {
            reply.head = data.left(headEnd);
            for (const QByteArray& line : reply.head.split('\n'))
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
        }
        if (headEnd >= 0 && data.size() - headEnd - 4 >= std::max<qsizetype>(length, 0))
            break;
    }
    if (headEnd >= 0) {
        reply.body = data.mid(headEnd + 4);
        const QList<QByteArray> statusLine = reply.head.left(reply.head.indexOf('\r')).split(' ');
        if (statusLine.size() >= 2)
            reply.status = statusLine[1].toInt();
    }
    return reply;
}

QByteArray get(const QByteArray& path, const QByteArray& method = "GET")
{
    return method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

QByteArray header(const Reply& reply, const QByteArray& name)
{
    for (const QByteArray& line : reply.head.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

} // namespace

class TestLiveServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void portFromArguments_data();
    void portFromArguments();
    void portZeroIsOff();
    void portInUseIsReportedAndSurvived();
    void addressesAreReachableOnes();
    void requests_data();
    void requests();
    void apiRaceHasTheCars();
    void curlSeesTheSameServer();
    void oversizedRequestsAreRefused_data();
    void oversizedRequestsAreRefused();
    void thousandQuickConnections();
    void clientLimit();
    void webSocketGetsUpdateAfterChange();
    void webSocketOnOtherPathIsClosed();
    void stopClosesWebSockets();

private:
    web::LiveSnapshot snapshot() const
    {
        return web::snapshotFromTables(m_qualification.get(), QString(), m_remaining, m_qualification.get(),
                                       m_finals.get());
    }

    std::unique_ptr<Table> m_qualification;
    std::unique_ptr<Table> m_finals;
    QString m_remaining = QStringLiteral("4:59");
    std::unique_ptr<web::LiveServer> m_server;
    quint16 m_port = 0;
};

void TestLiveServer::init()
{
    m_qualification = std::make_unique<Table>();
    fillQualification(*m_qualification, {{1, 1, QStringLiteral("Rossi"), 3, 21.5}, {1, 2, QStringLiteral("Bianchi"), 4, 20.25}});
    layouts::orderByRanking(*m_qualification);
    m_qualification->setFilter(QStringLiteral("batteria = 1"));
    m_qualification->setFiltered(true);
    m_finals = std::make_unique<Table>();
    fillFinals(*m_finals, {{QStringLiteral("A"), 1, QStringLiteral("Neri"), 12, 1}});
    m_server = std::make_unique<web::LiveServer>([this] { return snapshot(); });
    m_port = freePort();
    QVERIFY(m_server->start(m_port));
    QCOMPARE(m_server->port(), m_port);
}

void TestLiveServer::cleanup()
{
    m_server.reset();
}

void TestLiveServer::portFromArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("port");
    QTest::newRow("none") << QStringList{"quintara"} << 8080;
    QTest::newRow("separate") << QStringList{"quintara", "--web-port", "9000"} << 9000;
    QTest::newRow("joined") << QStringList{"quintara", "--web-port=8181"} << 8181;
    QTest::newRow("off") << QStringList{"quintara", "--web-port", "0"} << 0;
    QTest::newRow("last wins") << QStringList{"quintara", "--web-port=1", "--web-port", "2"} << 2;
    QTest::newRow("not a number") << QStringList{"quintara", "--web-port", "abc"} << 8080;
    QTest::newRow("too large") << QStringList{"quintara", "--web-port=70000"} << 8080;
    QTest::newRow("negative") << QStringList{"quintara", "--web-port=-1"} << 8080;
    QTest::newRow("missing value") << QStringList{"quintara", "--web-port"} << 8080;
}

void TestLiveServer::portFromArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, port);
    QCOMPARE(web::webPortFromArguments(arguments), port);
}

void TestLiveServer::portZeroIsOff()
{
    web::LiveServer server([] { return web::LiveSnapshot(); });
    QVERIFY(!server.start(0));
    QVERIFY(!server.isListening());
    QVERIFY(server.addresses().isEmpty());
    QCOMPARE(server.statusText(), QStringLiteral("Pagina web disattivata"));
    server.changed(); // harmless while off
}

void TestLiveServer::portInUseIsReportedAndSurvived()
{
    web::LiveServer second([] { return web::LiveSnapshot(); });
    QSignalSpy status(&second, &web::LiveServer::statusChanged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot listen on port %1").arg(m_port)));
    QVERIFY(!second.start(m_port));
    QVERIFY(!second.isListening());
    QCOMPARE(status.count(), 1);
    QVERIFY2(second.statusText().contains(QStringLiteral("già in uso")), qPrintable(second.statusText()));
    QVERIFY(second.statusText().contains(QString::number(m_port)));
    second.changed();
    // The first server goes on serving.
    QCOMPARE(request(m_port, get("/api/race")).status, 200);
}

void TestLiveServer::addressesAreReachableOnes()
{
    const QStringList addresses = m_server->addresses();
    for (const QString& a : addresses) {
        QVERIFY2(a.startsWith(QStringLiteral("http://")) && a.endsWith(QStringLiteral(":%1/").arg(m_port)), qPrintable(a));
        QVERIFY2(!a.contains(QStringLiteral("127.0.0.1")) && !a.contains(QStringLiteral("[::1]")), qPrintable(a));
        QVERIFY2(!a.contains(QStringLiteral("[fe80")), qPrintable(a));
    }
    QCOMPARE(web::liveAddresses(m_port), addresses);
}

void TestLiveServer::requests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("contains");

    QTest::newRow("race page") << QByteArray("GET") << QByteArray("/") << 200 << QByteArray("text/html") << QByteArray("Tempo residuo");
    QTest::newRow("race page, query") << QByteArray("GET") << QByteArray("/?x=1") << 200 << QByteArray("text/html") << QByteArray("Tempo residuo");
    QTest::newRow("qualification page") << QByteArray("GET") << QByteArray("/qualifiche") << 200 << QByteArray("text/html") << QByteArray("Classifica qualifiche");
    QTest::newRow("finals page") << QByteArray("GET") << QByteArray("/finali") << 200 << QByteArray("text/html") << QByteArray("<h1>Finali</h1>");
    QTest::newRow("script") << QByteArray("GET") << QByteArray("/live.js") << 200 << QByteArray("text/javascript") << QByteArray("WebSocket");
    QTest::newRow("style") << QByteArray("GET") << QByteArray("/live.css") << 200 << QByteArray("text/css") << QByteArray("table");
    QTest::newRow("api race") << QByteArray("GET") << QByteArray("/api/race") << 200 << QByteArray("application/json") << QByteArray("\"Rossi\"");
    QTest::newRow("api qualifiche") << QByteArray("GET") << QByteArray("/api/qualifiche") << 200 << QByteArray("application/json") << QByteArray("\"Bianchi\"");
    QTest::newRow("api finali") << QByteArray("GET") << QByteArray("/api/finali") << 200 << QByteArray("application/json") << QByteArray("\"Neri\"");
    QTest::newRow("unknown") << QByteArray("GET") << QByteArray("/nope") << 404 << QByteArray() << QByteArray();
    QTest::newRow("trailing slash") << QByteArray("GET") << QByteArray("/finali/") << 404 << QByteArray() << QByteArray();
    QTest::newRow("resource name") << QByteArray("GET") << QByteArray("/index.html") << 404 << QByteArray() << QByteArray();
    QTest::newRow("dot dot") << QByteArray("GET") << QByteArray("/../../../../etc/passwd") << 404 << QByteArray() << QByteArray();
    QTest::newRow("dot dot to a page") << QByteArray("GET") << QByteArray("/api/../live.js") << 404 << QByteArray() << QByteArray();
    QTest::newRow("encoded dot dot") << QByteArray("GET") << QByteArray("/%2e%2e/%2e%2e/etc/passwd") << 404 << QByteArray() << QByteArray();
    QTest::newRow("qrc path") << QByteArray("GET") << QByteArray("/:/web/index.html") << 404 << QByteArray() << QByteArray();
    QTest::newRow("POST") << QByteArray("POST") << QByteArray("/") << 405 << QByteArray() << QByteArray();
    QTest::newRow("PUT api") << QByteArray("PUT") << QByteArray("/api/race") << 405 << QByteArray() << QByteArray();
    QTest::newRow("DELETE") << QByteArray("DELETE") << QByteArray("/api/finali") << 405 << QByteArray() << QByteArray();
    QTest::newRow("POST unknown") << QByteArray("POST") << QByteArray("/nope") << 405 << QByteArray() << QByteArray();
}

void TestLiveServer::requests()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, contains);

    const Reply reply = request(m_port, get(path, method));
    QCOMPARE(reply.status, status);
    if (!type.isEmpty())
        QVERIFY2(header(reply, "Content-Type").startsWith(type), header(reply, "Content-Type").constData());
    if (!contains.isEmpty())
        QVERIFY2(reply.body.contains(contains), reply.body.left(200).constData());
    if (status == 405)
        QCOMPARE(header(reply, "Allow"), QByteArray("GET"));
    if (status == 200) {
        QCOMPARE(header(reply, "Cache-Control"), QByteArray("no-store"));
        QVERIFY(!reply.body.contains("http://") && !reply.body.contains("https://")); // nothing from outside
    }
}

void TestLiveServer::apiRaceHasTheCars()
{
    const Reply reply = request(m_port, get("/api/race"));
    QCOMPARE(reply.status, 200);
    const QJsonObject race = QJsonDocument::fromJson(reply.body).object();
    QCOMPARE(race[QStringLiteral("race")].toString(), QStringLiteral("Batteria 1"));
    QCOMPARE(race[QStringLiteral("remaining")].toString(), QStringLiteral("4:59"));
    const QJsonArray cars = race[QStringLiteral("cars")].toArray();
    QCOMPARE(cars.size(), 2);
    const QJsonObject first = cars.at(0).toObject();
    for (const char* key : {"channel", "name", "laps", "last", "best", "total", "position"})
        QVERIFY2(first.contains(QLatin1String(key)), key);
    QCOMPARE(first[QStringLiteral("name")].toString(), QStringLiteral("Bianchi"));
    QCOMPARE(first[QStringLiteral("position")].toInt(), 1);
    QCOMPARE(first[QStringLiteral("laps")].toInt(), 4);
    QCOMPARE(first[QStringLiteral("channel")].toInt(), 2);
}

void TestLiveServer::curlSeesTheSameServer()
{
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty())
        QSKIP("curl is not installed");
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_port);
    const auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(curl, QStringList{"-s", "--max-time", "10", "-w", "\n%{http_code}"} + args);
        p.waitForFinished(15000);
        const QByteArray out = p.readAllStandardOutput();
        const qsizetype cut = out.lastIndexOf('\n');
        return std::make_pair(out.mid(cut + 1).toInt(), out.left(cut));
    };
    auto [status, body] = run({base + QStringLiteral("/api/qualifiche")});
    QCOMPARE(status, 200);
    const QJsonArray cars = QJsonDocument::fromJson(body).object()[QStringLiteral("cars")].toArray();
    QCOMPARE(cars.size(), 2);
    QCOMPARE(run({QStringLiteral("--path-as-is"), base + QStringLiteral("/../../etc/passwd")}).first, 404);
    QCOMPARE(run({QStringLiteral("-X"), QStringLiteral("POST"), QStringLiteral("-d"), QStringLiteral("x=1"), base + "/"}).first, 405);
    QCOMPARE(run({QStringLiteral("-I"), base + "/"}).first, 405); // HEAD is not GET
}

void TestLiveServer::oversizedRequestsAreRefused_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("64 KiB header") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(64 * 1024, 'a') + "\r\n\r\n");
    QTest::newRow("many headers") << [] {
        QByteArray r = "GET / HTTP/1.1\r\nHost: x\r\n";
        for (int i = 0; i < 4000; ++i)
            r += "X-H" + QByteArray::number(i) + ": v\r\n";
        return r + "\r\n";
    }();
    QTest::newRow("32 KiB URL") << QByteArray("GET /" + QByteArray(32 * 1024, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
    QTest::newRow("1 MiB body") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n"
                                              + QByteArray(1024 * 1024, 'b'));
    QTest::newRow("endless head") << QByteArray(256 * 1024, 'G');
}

void TestLiveServer::oversizedRequestsAreRefused()
{
    QFETCH(QByteArray, raw);
    const Reply reply = request(m_port, raw);
    // Refused with 431, or hung up on: never served, never held open.
    QVERIFY2(reply.status == 431 || reply.status == 0 || reply.status == 400, QByteArray::number(reply.status).constData());
    QCOMPARE(request(m_port, get("/api/race")).status, 200);
}

void TestLiveServer::thousandQuickConnections()
{
    int served = 0;
    for (int i = 0; i < 1000; ++i)
        served += request(m_port, get(i % 2 ? "/api/race" : "/")).status == 200 ? 1 : 0;
    QCOMPARE(served, 1000);
}

void TestLiveServer::clientLimit()
{
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < web::maxClients; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(idle.back()->waitForConnected(5000));
    }
    // Connections are taken in order: the one after the limit is turned away.
    const Reply refused = request(m_port, get("/api/race"));
    QVERIFY2(refused.status == 503 || refused.status == 0, QByteArray::number(refused.status).constData());
    idle.front()->disconnectFromHost();
    idle.erase(idle.begin());
    // Freed once the server has seen the hang-up.
    QList<int> statuses;
    for (QElapsedTimer clock; (clock.isValid() || (clock.start(), true)) && clock.elapsed() < 10000;) {
        statuses.append(request(m_port, get("/api/race"), 1000).status);
        if (statuses.last() == 200)
            break;
        QTest::qWait(50);
    }
    QVERIFY2(statuses.last() == 200, qPrintable(QString::number(statuses.size()) + " tries, last " + QString::number(statuses.last())));
    idle.clear();
}

void TestLiveServer::webSocketGetsUpdateAfterChange()
{
    QWebSocket client;
    QList<QJsonObject> races;
    connect(&client, &QWebSocket::textMessageReceived, this, [&races](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message[QStringLiteral("type")].toString() == QLatin1String("race"))
            races.append(message[QStringLiteral("data")].toObject());
    });
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(m_port)));
    QTRY_COMPARE_WITH_TIMEOUT(races.size(), 1, 5000); // the current values on connecting
    QTRY_COMPARE(m_server->webSocketClients(), 1);

    // A passage: Rossi's lap and best lap, then the race window's cheap call.
    m_qualification->moveTo(1);
    m_qualification->edit();
    m_qualification->setValue(layouts::giri, 4);
    m_qualification->setValue(layouts::tempoMiglTtime, seconds(19.5));
    m_qualification->setValue(layouts::tempoMigl, QStringLiteral("0.19.500"));
    m_qualification->post();
    m_remaining = QStringLiteral("4:40");
    QElapsedTimer clock;
    clock.start();
    m_server->changed();
    m_server->changed(); // coalesced with the first
    QTRY_VERIFY_WITH_TIMEOUT(!races.isEmpty()
                                 && races.last()[QStringLiteral("cars")].toArray().at(0)[QStringLiteral("best")].toString()
                                        == QLatin1String("0.19.500"),
                             1000);
    qInfo() << "update arrived after" << clock.elapsed() << "ms";
    const QJsonObject race = races.last();
    QCOMPARE(race[QStringLiteral("remaining")].toString(), QStringLiteral("4:40"));
    QCOMPARE(race[QStringLiteral("cars")].toArray().at(0)[QStringLiteral("name")].toString(), QStringLiteral("Rossi"));
    QTest::qWait(2 * web::LiveServer::coalesceMs);
    QCOMPARE(races.size(), 2); // two calls, one update

    // Nothing changed: nothing is pushed.
    m_server->changed();
    QTest::qWait(3 * web::LiveServer::coalesceMs);
    QCOMPARE(races.size(), 2);
}

void TestLiveServer::webSocketOnOtherPathIsClosed()
{
    QWebSocket client;
    QSignalSpy closed(&client, &QWebSocket::disconnected);
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/other").arg(m_port)));
    QVERIFY(closed.wait(5000));
    QCOMPARE(m_server->webSocketClients(), 0);
}

void TestLiveServer::stopClosesWebSockets()
{
    QWebSocket client;
    QSignalSpy connected(&client, &QWebSocket::connected);
    QSignalSpy closed(&client, &QWebSocket::disconnected);
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(m_port)));
    QVERIFY(connected.wait(5000));
    m_server->stop();
    QVERIFY(!m_server->isListening());
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(request(m_port, get("/"), 1000).status, 0);
    QVERIFY(m_server->start(m_port)); // the port can be taken again at once
    QCOMPARE(request(m_port, get("/")).status, 200);
}

QTEST_GUILESS_MAIN(TestLiveServer)
#include "test_liveserver.moc"
