#include "capture/websockettransport.h"

#include <QWebSocket>

namespace Capture {

WebSocketTransport::WebSocketTransport(const QUrl& url, QObject* parent)
    : DevToolsTransport(parent)
    , m_socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this))
{
    // Without an Origin header: the browser refuses handshakes from any origin it was not told to allow.
    m_socket->setMaxAllowedIncomingFrameSize(QWebSocket::maxIncomingFrameSize());
    m_socket->setMaxAllowedIncomingMessageSize(QWebSocket::maxIncomingMessageSize());
    // One frame per message, whatever its size: the browser's server is not obliged to join fragments.
    m_socket->setOutgoingFrameSize(QWebSocket::maxOutgoingFrameSize());
    connect(m_socket, &QWebSocket::connected, this, &WebSocketTransport::handleConnected);
    connect(m_socket, &QWebSocket::disconnected, this, &WebSocketTransport::handleDisconnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &WebSocketTransport::handleText);
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
        [this](QAbstractSocket::SocketError) { closeFromPeer(m_socket->errorString()); });
    m_socket->open(url);
}

WebSocketTransport::~WebSocketTransport() { close(); }

bool WebSocketTransport::isOpen() const { return m_open; }

bool WebSocketTransport::isConnected() const { return m_open && m_connected; }

QString WebSocketTransport::errorString() const { return m_error; }

void WebSocketTransport::sendMessage(const QByteArray& message)
{
    if (!m_open)
        return;
    if (!m_connected) {
        m_queued.append(message);
        return;
    }
    m_socket->sendTextMessage(QString::fromUtf8(message));
}

void WebSocketTransport::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_connected = false;
    m_queued.clear();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
}

void WebSocketTransport::handleConnected()
{
    m_connected = true;
    const QList<QByteArray> queued = std::exchange(m_queued, {});
    for (const QByteArray& message : queued)
        m_socket->sendTextMessage(QString::fromUtf8(message));
}

void WebSocketTransport::handleDisconnected()
{
    closeFromPeer(m_socket->closeReason().isEmpty() ? QStringLiteral("The browser closed the connection")
                                                    : m_socket->closeReason());
}

void WebSocketTransport::handleText(const QString& message)
{
    if (m_open)
        Q_EMIT messageReceived(message.toUtf8());
}

void WebSocketTransport::closeFromPeer(const QString& reason)
{
    if (!m_open)
        return;
    m_error = reason;
    close();
    Q_EMIT closed();
}

} // namespace Capture
