#include "web/liveworker.h"

#include "web/liveserver.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QWebSocket>

// Resources of a static library are registered by hand; Q_INIT_RESOURCE cannot stand in a namespace.
static void initWebResources()
{
    Q_INIT_RESOURCE(web);
}

namespace web {

namespace {

constexpr qint64 maxPendingBytes = 256 * 1024; // a WebSocket client further behind skips updates
constexpr qint64 drainedBytes = 16 * 1024;

struct Resource
{
    QByteArray path;
    QByteArray mimeType;
    QByteArray body;
};

QByteArray readResource(const QString& name)
{
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qCCritical(lcWeb) << "missing page resource" << name;
    return file.readAll();
}

// The pages and their files, read once: requests are matched against these paths exactly and never
// reach the file system.
const QList<Resource>& pages()
{
    static const QList<Resource> list = [] {
        initWebResources();
        const QByteArray html = "text/html; charset=utf-8";
        return QList<Resource>{
            {"/", html, readResource(QStringLiteral("index.html"))},
            {"/qualifiche", html, readResource(QStringLiteral("qualifiche.html"))},
            {"/finali", html, readResource(QStringLiteral("finali.html"))},
            {"/live.css", "text/css; charset=utf-8", readResource(QStringLiteral("live.css"))},
            {"/live.js", "text/javascript; charset=utf-8", readResource(QStringLiteral("live.js"))},
        };
    }();
    return list;
}

const QByteArray jsonType = "application/json";

} // namespace

// ---------------------------------------------------------------------------------------------

class LiveHttpServer : public QAbstractHttpServer
{
public:
    explicit LiveHttpServer(LiveWorker* worker)
        : m_worker(worker)
    {
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        // An upgrade is taken over by the WebSocket server when this returns true without an answer;
        // false sends it to missingHandler, which refuses it.
        if (request.value(QByteArrayLiteral("upgrade")).compare("websocket", Qt::CaseInsensitive) == 0)
            return request.method() == QHttpServerRequest::Method::Get && request.url().path() == QLatin1String("/ws");
        QHttpServerResponder responder = makeResponder(request, socket);
        m_worker->answer(request, responder);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    LiveWorker* m_worker;
};

// ---------------------------------------------------------------------------------------------

GuardedTcpServer::GuardedTcpServer(QObject* parent)
    : QTcpServer(parent)
{
    setObjectName(QStringLiteral("liveTcpServer"));
}

QString GuardedTcpServer::key(const QHostAddress& peer, quint16 peerPort)
{
    return peer.toString() + QLatin1Char('#') + QString::number(peerPort);
}

void GuardedTcpServer::markUpgraded(const QHostAddress& peer, quint16 peerPort)
{
    if (ConnectionGuard* guard = m_guards.value(key(peer, peerPort)))
        guard->markUpgraded();
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (m_open >= maxClients) {
        // Full: say so and hang up, without involving the HTTP server.
        socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(2000, socket, &QObject::deleteLater);
        return;
    }
    auto* guard = new ConnectionGuard(socket, this);
    addPendingConnection(socket); // the HTTP server takes it from here, connecting its own readers
    guard->watchAfterServer();
}

// ---------------------------------------------------------------------------------------------

ConnectionGuard::ConnectionGuard(QTcpSocket* socket, GuardedTcpServer* server)
    : QObject(socket)
    , m_socket(socket)
    , m_server(server)
    , m_key(GuardedTcpServer::key(socket->peerAddress(), socket->peerPort()))
{
    ++server->m_open;
    server->m_guards.insert(m_key, this);
    // The HTTP server keeps a request's bytes in the socket's buffer until the request is complete:
    // room for one request of the largest size allowed and a bit more, so that the guard sees the
    // excess arrive rather than the socket stalling with a full buffer.
    socket->setReadBufferSize(2 * maxRequestBytes);
    m_idle.setObjectName(QStringLiteral("liveIdleTimer"));
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_upgraded)
            m_socket->abort();
    });
    m_idle.start();
    // Connected before the HTTP server connects: sees each chunk before it is parsed.
    connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::beforeServerReads);
}

ConnectionGuard::~ConnectionGuard()
{
    // The guard is a child of its socket: it goes when the connection object goes, whoever deletes it.
    if (m_server) {
        --m_server->m_open;
        if (m_server->m_guards.value(m_key) == this)
            m_server->m_guards.remove(m_key);
    }
}

void ConnectionGuard::watchAfterServer()
{
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::afterServerRead);
}

void ConnectionGuard::markUpgraded()
{
    m_upgraded = true;
    m_idle.stop();
    disconnect(m_socket, nullptr, this, nullptr);
}

void ConnectionGuard::beforeServerReads()
{
    if (m_upgraded)
        return;
    m_idle.start();
    const QByteArray chunk = m_socket->peek(m_socket->bytesAvailable());
    static constexpr char terminator[] = "\r\n\r\n";
    for (qsizetype i = m_unread; i < chunk.size(); ++i) {
        const char ch = chunk[i];
        ++m_headBytes;
        if (ch == terminator[m_matched]) {
            if (++m_matched == 4) {
                m_matched = 0;
                m_headBytes = 0;
            }
        } else {
            m_matched = ch == '\r' ? 1 : 0;
        }
        if (m_headBytes > maxRequestBytes) {
            reject();
            return;
        }
    }
}

void ConnectionGuard::afterServerRead()
{
    if (!m_upgraded)
        m_unread = m_socket->bytesAvailable();
}

void ConnectionGuard::reject()
{
    qCInfo(lcWeb) << "request too large from" << m_socket->peerAddress().toString() << "- connection closed";
    // Nobody reads this connection again; what the HTTP server has half-parsed goes with it.
    disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
    m_socket->write("HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    m_socket->disconnectFromHost();
    m_upgraded = true; // nothing more to watch
}

// ---------------------------------------------------------------------------------------------

LiveWorker::LiveWorker()
{
    setObjectName(QStringLiteral("liveWorker"));
    m_snapshot = LiveSnapshot{compactJson(raceJson(nullptr, QString(), QString())),
                              compactJson(qualificationJson(nullptr)), compactJson(finalsJson(nullptr))};
    m_raceMessage = message("race", m_snapshot.race);
    m_qualificationMessage = message("qualifiche", m_snapshot.qualifiche);
    m_finalsMessage = message("finali", m_snapshot.finali);
}

LiveWorker::~LiveWorker()
{
    shutdown();
}

quint16 LiveWorker::listen(quint16 port, QString* error, bool* addressInUse)
{
    pages(); // read the resources now rather than during the first request
    auto* tcp = new GuardedTcpServer;
    if (!tcp->listen(QHostAddress::Any, port)) {
        *error = tcp->errorString();
        *addressInUse = tcp->serverError() == QAbstractSocket::AddressInUseError;
        delete tcp;
        return 0;
    }
    m_http = std::make_unique<LiveHttpServer>(this);
    m_http->setObjectName(QStringLiteral("liveHttpServer"));
    connect(m_http.get(), &QAbstractHttpServer::newWebSocketConnection, this, &LiveWorker::acceptWebSockets);
    m_http->bind(tcp);
    m_tcp = tcp;
    return tcp->serverPort();
}

void LiveWorker::shutdown()
{
    const QList<QWebSocket*> sockets = m_clients.keys();
    m_clients.clear();
    m_webSocketCount = 0;
    qDeleteAll(sockets);
    m_http.reset(); // takes the TCP server and its connections with it
}

void LiveWorker::answer(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArray(), {{"Allow", "GET"}, {"Content-Type", "text/plain"}},
                        QHttpServerResponder::StatusCode::MethodNotAllowed);
        return;
    }
    const QByteArray* body = nullptr;
    QByteArray type;
    if (path == "/api/race") {
        body = &m_snapshot.race;
        type = jsonType;
    } else if (path == "/api/qualifiche") {
        body = &m_snapshot.qualifiche;
        type = jsonType;
    } else if (path == "/api/finali") {
        body = &m_snapshot.finali;
        type = jsonType;
    } else {
        for (const Resource& page : pages()) {
            if (page.path == path) {
                body = &page.body;
                type = page.mimeType;
                break;
            }
        }
    }
    if (!body) {
        responder.write(QByteArray("Pagina non trovata\n"), {{"Content-Type", "text/plain; charset=utf-8"}},
                        QHttpServerResponder::StatusCode::NotFound);
        return;
    }
    responder.write(*body,
                    {{"Content-Type", type},
                     {"Cache-Control", "no-store"},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Content-Security-Policy", "default-src 'self'; connect-src 'self' ws: wss:"}});
}

void LiveWorker::acceptWebSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        QWebSocket* socket = m_http->nextPendingWebSocketConnection().release();
        socket->setParent(this);
        if (m_tcp)
            m_tcp->markUpgraded(socket->peerAddress(), socket->peerPort());
        // Clients only listen; anything they send is read and dropped, in small pieces.
        socket->setMaxAllowedIncomingFrameSize(4096);
        socket->setMaxAllowedIncomingMessageSize(4096);
        m_clients.insert(socket, Client());
        m_webSocketCount = int(m_clients.size());
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            auto it = m_clients.find(socket);
            if (it == m_clients.end())
                return;
            it->pending = std::max<qint64>(0, it->pending - bytes);
            if (it->behind && it->pending < drainedBytes) {
                it->behind = false;
                sendAll(socket);
            }
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_clients.remove(socket);
            m_webSocketCount = int(m_clients.size());
            socket->deleteLater();
        });
        sendAll(socket);
    }
}

QString LiveWorker::message(const char* type, const QByteArray& json)
{
    return QString::fromUtf8(QByteArray("{\"type\":\"") + type + "\",\"data\":" + json + '}');
}

void LiveWorker::send(QWebSocket* socket, const QString& text)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    if (it->pending > maxPendingBytes) {
        it->behind = true; // the latest values go out once it has caught up
        return;
    }
    it->pending += socket->sendTextMessage(text);
}

void LiveWorker::sendAll(QWebSocket* socket)
{
    send(socket, m_raceMessage);
    send(socket, m_qualificationMessage);
    send(socket, m_finalsMessage);
}

void LiveWorker::publish(const LiveSnapshot& snapshot)
{
    QList<const QString*> changed;
    if (snapshot.race != m_snapshot.race) {
        m_raceMessage = message("race", snapshot.race);
        changed.append(&m_raceMessage);
    }
    if (snapshot.qualifiche != m_snapshot.qualifiche) {
        m_qualificationMessage = message("qualifiche", snapshot.qualifiche);
        changed.append(&m_qualificationMessage);
    }
    if (snapshot.finali != m_snapshot.finali) {
        m_finalsMessage = message("finali", snapshot.finali);
        changed.append(&m_finalsMessage);
    }
    m_snapshot = snapshot;
    if (changed.isEmpty())
        return;
    const QList<QWebSocket*> sockets = m_clients.keys();
    for (QWebSocket* socket : sockets)
        for (const QString* text : changed)
            send(socket, *text);
}

} // namespace web
