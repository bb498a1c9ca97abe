#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tests/support/racefixture.h"
#include "web/liveserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

const QString chromium = QStringLiteral("/usr/bin/chromium");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

QByteArray httpGet(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
    QByteArray data;
    while (socket.waitForReadyRead(5000))
        data += socket.readAll();
    data += socket.readAll();
    return data.mid(data.indexOf("\r\n\r\n") + 4);
}

// A DevTools session with one page of a headless browser.
class DevTools : public QObject
{
public:
    bool open(const QUrl& url)
    {
        QSignalSpy connected(&m_socket, &QWebSocket::connected);
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(QStringLiteral("id")))
                m_replies.insert(message[QStringLiteral("id")].toInt(), message);
        });
        m_socket.open(url);
        return connected.wait(10000);
    }

    QJsonObject call(const QString& method, const QJsonObject& params)
    {
        const int id = ++m_lastId;
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{
            {QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}})
                                                       .toJson(QJsonDocument::Compact)));
        QElapsedTimer clock;
        clock.start();
        while (!m_replies.contains(id) && clock.elapsed() < 10000)
            QTest::qWait(5);
        return m_replies.take(id)[QStringLiteral("result")].toObject();
    }

    QString evaluate(const QString& expression)
    {
        const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                        {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}});
        return result[QStringLiteral("result")].toObject()[QStringLiteral("value")].toString();
    }

    // Keeps what the page looks like; the path goes into the failure message.
    QString screenshot(const QString& name)
    {
        const QJsonObject result = call(QStringLiteral("Page.captureScreenshot"), {{QStringLiteral("format"), QStringLiteral("png")}});
        const QString path = QDir::current().absoluteFilePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::fromBase64(result[QStringLiteral("data")].toString().toLatin1()));
        return path;
    }

private:
    QWebSocket m_socket;
    int m_lastId = 0;
    QHash<int, QJsonObject> m_replies;
};

// The race table as the page shows it: one line per car, "position|name|laps|best".
const QString rowsScript = QStringLiteral(
    "Array.from(document.querySelectorAll('#cars tbody tr')).map(function (r) {"
    "  return [r.cells[0].textContent, r.cells[1].firstChild.textContent, r.cells[2].textContent,"
    "          r.cells[4].textContent].join('|'); }).join('\\n') + '#' +"
    " document.getElementById('race').textContent + '#' + document.getElementById('remaining').textContent");

// The race as the race window's grid holds it, the way the page shows it: "position|name|laps|best" per car,
// then the race and the remaining time.
QString shownByTheTable()
{
    const Table& t = *Gestione_gare->CDS_Gara;
    QStringList rows;
    for (int row = 0; row < t.recordCount(); ++row) {
        auto at = [&](const QString& f) { return t.valueAt(row, t.fieldIndexOrThrow(f)); };
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(row + 1)
                    .arg(at(layouts::nomeConc).toString())
                    .arg(at(layouts::giri).toInt())
                    .arg(at(layouts::tempoMigl).toString());
    }
    return rows.join(QLatin1Char('\n')) + QStringLiteral("#Batteria 1#") + Gestione_gare->Ed_Durata_Gara->text();
}

// A heat with its page served on a free port of this machine.
struct ServedHeat
{
    quint16 port = freePort();
    std::unique_ptr<RaceFixture> race;

    ServedHeat()
    {
        ProgramSession::setWebPort(port);
        race = std::make_unique<RaceFixture>();
        ProgramSession::setWebPort(0);
    }
};

} // namespace

class TestLiveBrowser : public QObject
{
    Q_OBJECT
private slots:
    void jsonFollowsAHeat();
    void pageFollowsTheRace();
};

void TestLiveBrowser::jsonFollowsAHeat()
{
    ServedHeat heat;
    RaceFixture& race = *heat.race;
    QVERIFY(race.buildQualifications(3, 3));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("123", 0));
    QVERIFY(race.receive("2", 9800));
    QVERIFY(race.receive("2", 19300));
    QVERIFY(race.receive("1", 20000));

    // Within a second of the passage the JSON has the cars as the race table holds them.
    const auto carsByChannel = [&] {
        const QJsonObject json = QJsonDocument::fromJson(httpGet(heat.port, "/api/race")).object();
        QStringList cars;
        for (const QJsonValue& car : json[QStringLiteral("cars")].toArray()) {
            cars << QStringLiteral("%1 %2 %3 %4 %5 %6")
                        .arg(car[QStringLiteral("channel")].toInt())
                        .arg(car[QStringLiteral("name")].toString())
                        .arg(car[QStringLiteral("laps")].toInt())
                        .arg(car[QStringLiteral("last")].toString(), car[QStringLiteral("best")].toString())
                        .arg(car[QStringLiteral("position")].toInt());
        }
        cars.sort();
        return cars.join(QLatin1Char(';')) + QLatin1Char('#') + json[QStringLiteral("remaining")].toString() +
               QLatin1Char('#') + json[QStringLiteral("race")].toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(carsByChannel(),
                              QStringLiteral("1 Pilota 1 2 0.20.0 0.20.0 2;2 Pilota 2 3 0.9.500 0.9.500 1;"
                                             "3 Pilota 3 1 00.00.00 00.00.00 3#") +
                                  Gestione_gare->Ed_Durata_Gara->text() + QStringLiteral("#Batteria 1"),
                              1000);
}

void TestLiveBrowser::pageFollowsTheRace()
{
    if (!QFile::exists(chromium))
        QSKIP("no /usr/bin/chromium");

    ServedHeat heat;
    RaceFixture& race = *heat.race;
    QVERIFY(race.buildQualifications(2, 2));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("2", 300));
    QVERIFY(race.receive("2", 9300));
    const quint16 port = heat.port;
    QTemporaryDir profile;
    QVERIFY(profile.isValid());
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    browser.start(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                             QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + profile.path(),
                             QStringLiteral("--remote-debugging-port=0"), QStringLiteral("--remote-allow-origins=*"),
                             QStringLiteral("--window-size=412,700"), QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    QVERIFY2(browser.waitForStarted(10000), qPrintable(browser.errorString()));
    const auto stopBrowser = qScopeGuard([&browser] {
        browser.terminate();
        if (!browser.waitForFinished(5000)) {
            browser.kill();
            browser.waitForFinished(5000);
        }
    });

    // The browser writes its DevTools port into the profile once it listens.
    QFile activePort(profile.filePath(QStringLiteral("DevToolsActivePort")));
    // Its second line (the browser's path) shows the first one, the port, is complete.
    const auto portLines = [&activePort] {
        if (!activePort.open(QIODevice::ReadOnly))
            return QList<QByteArray>();
        const QList<QByteArray> lines = activePort.readAll().split('\n');
        activePort.close();
        return lines;
    };
    QTRY_VERIFY_WITH_TIMEOUT(portLines().size() >= 2, 30000);
    const quint16 devToolsPort = quint16(portLines().constFirst().trimmed().toUInt());
    QVERIFY(devToolsPort > 0);
    QString pageSocket;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QJsonValue& target : QJsonDocument::fromJson(httpGet(devToolsPort, "/json/list")).array())
                if (target[QStringLiteral("type")].toString() == QLatin1String("page")
                    && target[QStringLiteral("url")].toString().contains(QString::number(port)))
                    pageSocket = target[QStringLiteral("webSocketDebuggerUrl")].toString();
            return !pageSocket.isEmpty();
        }(),
        20000);
    DevTools devTools;
    QVERIFY(devTools.open(QUrl(pageSocket)));

    const QString before = shownByTheTable();
    QString shown;
    QElapsedTimer loading;
    loading.start();
    while ((shown = devTools.evaluate(rowsScript)) != before && loading.elapsed() < 20000)
        QTest::qWait(50);
    if (shown != before)
        QFAIL(qPrintable(QStringLiteral("page shows \"%1\", the table \"%2\"; screenshot %3")
                             .arg(shown, before, devTools.screenshot(QStringLiteral("livebrowser-load.png")))));

    // A passage of car 1: its second lap, the best of the heat now, and first place.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(race.receive("1", 9000));
    const QString after = shownByTheTable();
    QVERIFY(after != before);
    while ((shown = devTools.evaluate(rowsScript)) != after && clock.elapsed() < 1000)
        QTest::qWait(10);
    const qint64 elapsed = clock.elapsed();
    if (shown != after)
        QFAIL(qPrintable(QStringLiteral("after %1 ms the page shows \"%2\", the table \"%3\"; screenshot %4")
                             .arg(elapsed)
                             .arg(shown, after, devTools.screenshot(QStringLiteral("livebrowser-update.png")))));
    qInfo() << "the page showed the passage after" << elapsed << "ms";
}

QTEST_MAIN(TestLiveBrowser)
#include "test_livebrowser.moc"
