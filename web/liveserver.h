#pragma once

#include "web/livejson.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcWeb)

class QThread;

namespace web {

class LiveWorker;

constexpr quint16 defaultPort = 8080;
constexpr int maxClients = 64;

// The port of the live results page: "--web-port N" or "--web-port=N" among the program's arguments,
// otherwise defaultPort; 0 turns the page off. A value that is not a port 0..65535 is ignored.
int webPortFromArguments(const QStringList& arguments);

// The page's addresses for a menu item: "http://<address>:<port>/" for each IPv4 and IPv6 address
// of the machine's network interfaces that are up, loopback and link-local IPv6 excluded.
QStringList liveAddresses(quint16 port);

// The live results page on the local network, read-only and without a login.
//
// The race window calls changed() after a passage or a clock tick; that only starts a coalescing
// timer. When it fires (on the caller's thread, after the handler that called changed() has
// returned) the provider builds the three JSON documents from the tables, and they are handed to
// the server's own thread as immutable byte arrays. Parsing requests, answering them and writing to
// WebSocket clients all happen on that thread, so a slow or hostile client never holds up timing.
class LiveServer : public QObject
{
    Q_OBJECT
public:
    using Provider = std::function<LiveSnapshot()>;

    explicit LiveServer(Provider provider, QObject* parent = nullptr);
    ~LiveServer() override;

    // Listens on every interface. Port 0 leaves the server off. A port that cannot be opened is
    // logged once and reported in statusText(); the caller goes on without the page.
    bool start(quint16 port = defaultPort);
    void stop();

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; } // the port listened on (start(0) never listens)
    QString statusText() const { return m_status; }
    QStringList addresses() const { return isListening() ? liveAddresses(m_port) : QStringList(); }

    // Cheap: marks the tables as changed. The pages have the new values within coalesceMs plus the
    // time to build and send them.
    void changed();
    static constexpr int coalesceMs = 100;

    // For tests and the benchmark: the number of WebSocket clients connected now.
    int webSocketClients() const;

signals:
    void statusChanged(const QString& text);

private:
    void publish();
    void setStatus(const QString& text);

    Provider m_provider;
    QTimer m_coalesce;
    QThread* m_thread = nullptr;
    LiveWorker* m_worker = nullptr;
    quint16 m_port = 0;
    QString m_status;
};

} // namespace web
