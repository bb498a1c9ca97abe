#pragma once

// The server side of LiveServer, living on the server's own thread. Not for use by other code.

#include "web/livejson.h"

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <atomic>
#include <memory>

class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
class QWebSocket;

namespace web {

class ConnectionGuard;

// A TCP server that admits at most maxClients connections (HTTP and WebSocket alike) and puts a
// ConnectionGuard on each one before the HTTP server reads from it.
class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit GuardedTcpServer(QObject* parent = nullptr);
    int openConnections() const { return m_open; }
    void markUpgraded(const QHostAddress& peer, quint16 peerPort);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class ConnectionGuard;
    static QString key(const QHostAddress& peer, quint16 peerPort);

    int m_open = 0;
    QHash<QString, QPointer<ConnectionGuard>> m_guards;
};

// Watches one connection: a request head larger than maxRequestBytes gets 431 and the connection is
// closed (so does a request body, which this server never accepts); an HTTP connection that sends
// nothing for idleMs is closed. A connection upgraded to a WebSocket is left alone.
class ConnectionGuard : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxRequestBytes = 16 * 1024;
    static constexpr int idleMs = 20000;

    ConnectionGuard(QTcpSocket* socket, GuardedTcpServer* server);
    ~ConnectionGuard() override;
    void watchAfterServer(); // call once the HTTP server has connected to the socket
    void markUpgraded();

private:
    void beforeServerReads();
    void afterServerRead();
    void reject();

    QTcpSocket* m_socket;
    QPointer<GuardedTcpServer> m_server;
    QString m_key;
    QTimer m_idle;
    qint64 m_unread = 0;    // bytes the HTTP server left in the socket's buffer, already scanned
    qint64 m_headBytes = 0; // bytes of the request head being received
    int m_matched = 0;      // characters of "\r\n\r\n" matched at the end of what was scanned
    bool m_upgraded = false;
};

class LiveHttpServer;

class LiveWorker : public QObject
{
    Q_OBJECT
public:
    LiveWorker();
    ~LiveWorker() override;

    // Run on the worker's thread.
    quint16 listen(quint16 port, QString* error, bool* addressInUse);
    void shutdown();
    void publish(const LiveSnapshot& snapshot);

    int webSocketClients() const { return m_webSocketCount.load(); }

private:
    struct Client
    {
        qint64 pending = 0; // bytes queued and not yet written to the network
        bool behind = false; // skipped updates while too far behind; gets the latest when drained
    };

    friend class LiveHttpServer;
    void answer(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void acceptWebSockets();
    void send(QWebSocket* socket, const QString& message);
    void sendAll(QWebSocket* socket);
    static QString message(const char* type, const QByteArray& json);

    std::unique_ptr<LiveHttpServer> m_http;
    QPointer<GuardedTcpServer> m_tcp;
    QHash<QWebSocket*, Client> m_clients;
    std::atomic<int> m_webSocketCount{0};
    LiveSnapshot m_snapshot;
    QString m_raceMessage;
    QString m_qualificationMessage;
    QString m_finalsMessage;
};

} // namespace web
