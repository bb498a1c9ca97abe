#include "web/liveserver.h"

#include "web/liveworker.h"

#include <QNetworkInterface>
#include <QThread>

#include <exception>

Q_LOGGING_CATEGORY(lcWeb, "quintara.web")

namespace web {

int webPortFromArguments(const QStringList& arguments)
{
    static const QString option = QStringLiteral("--web-port");
    int port = defaultPort;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == option && i + 1 < arguments.size())
            value = arguments[++i];
        else if (arguments[i].startsWith(option + QLatin1Char('=')))
            value = arguments[i].mid(option.size() + 1);
        else
            continue;
        bool ok = false;
        const int n = value.toInt(&ok);
        if (ok && n >= 0 && n <= 65535)
            port = n;
        else
            qCWarning(lcWeb) << "ignoring --web-port" << value << "(not a port 0..65535)";
    }
    return port;
}

QStringList liveAddresses(quint16 port)
{
    QStringList ipv4;
    QStringList ipv6;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.isLoopback() || address.isLinkLocal())
                continue; // a link-local IPv6 address needs a zone that a phone cannot type
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                ipv4.append(QStringLiteral("http://%1:%2/").arg(address.toString()).arg(port));
            else if (address.protocol() == QAbstractSocket::IPv6Protocol)
                ipv6.append(QStringLiteral("http://[%1]:%2/").arg(address.toString()).arg(port));
        }
    }
    return ipv4 + ipv6;
}

LiveServer::LiveServer(Provider provider, QObject* parent)
    : QObject(parent)
    , m_provider(std::move(provider))
{
    setObjectName(QStringLiteral("liveServer"));
    m_coalesce.setObjectName(QStringLiteral("liveUpdateTimer"));
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(coalesceMs);
    connect(&m_coalesce, &QTimer::timeout, this, &LiveServer::publish);
    m_status = tr("Pagina web disattivata");
}

LiveServer::~LiveServer()
{
    stop();
}

bool LiveServer::start(quint16 port)
{
    stop();
    if (port == 0) {
        setStatus(tr("Pagina web disattivata"));
        return false;
    }
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("liveServerThread"));
    m_worker = new LiveWorker;
    m_worker->moveToThread(m_thread);
    m_thread->start();

    QString error;
    bool inUse = false;
    quint16 listening = 0;
    // Blocks only while the socket is opened, once at start-up.
    QMetaObject::invokeMethod(
        m_worker, [&] { listening = m_worker->listen(port, &error, &inUse); }, Qt::BlockingQueuedConnection);
    if (listening == 0) {
        qCWarning(lcWeb).noquote() << "live results page off: cannot listen on port" << port << "-" << error;
        stop();
        setStatus(inUse ? tr("Pagina web non attiva: la porta %1 è già in uso").arg(port)
                        : tr("Pagina web non attiva sulla porta %1: %2").arg(port).arg(error));
        return false;
    }
    m_port = listening;
    qCInfo(lcWeb) << "live results page on port" << m_port;
    setStatus(tr("Pagina web attiva sulla porta %1").arg(m_port));
    publish();
    return true;
}

void LiveServer::stop()
{
    m_coalesce.stop();
    if (m_thread) {
        // The worker's sockets and servers belong to its thread: they are closed there.
        QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->shutdown(); }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        delete m_worker;
        delete m_thread;
        m_worker = nullptr;
        m_thread = nullptr;
    }
    if (m_port != 0) {
        m_port = 0;
        setStatus(tr("Pagina web disattivata"));
    }
}

void LiveServer::changed()
{
    if (m_worker && !m_coalesce.isActive())
        m_coalesce.start();
}

int LiveServer::webSocketClients() const
{
    return m_worker ? m_worker->webSocketClients() : 0;
}

void LiveServer::publish()
{
    if (!m_worker || !m_provider)
        return;
    LiveSnapshot snapshot;
    try {
        snapshot = m_provider();
    } catch (const std::exception& e) {
        // A table in a state the builders cannot read: the pages keep the previous values.
        qCWarning(lcWeb) << "live results not updated:" << e.what();
        return;
    }
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, s = std::move(snapshot)] { w->publish(s); }, Qt::QueuedConnection);
}

void LiveServer::setStatus(const QString& text)
{
    if (text == m_status)
        return;
    m_status = text;
    emit statusChanged(text);
}

} // namespace web
