#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

#include "capture/devtoolstransport.h"

class QWebSocket;

namespace Capture {

// A browser's DevTools endpoint reached over a WebSocket (ws:// or wss://): one text frame per message.
// Connecting starts at construction; messages sent before the handshake ends are queued and go out in
// order once it has. A failed handshake, a dropped connection or a close from the browser ends the
// channel with closed(), once. Messages of any size the protocol produces are accepted (a full-page
// screenshot is a single message of many megabytes). Lives on the thread that created it.
class WebSocketTransport final : public DevToolsTransport {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebSocketTransport)

public:
    explicit WebSocketTransport(const QUrl& url, QObject* parent = nullptr);
    ~WebSocketTransport() override;

    void sendMessage(const QByteArray& message) override;
    // True while connecting and while connected.
    bool isOpen() const override;
    void close() override;
    // Whether the handshake has ended and the channel carries messages.
    bool isConnected() const;
    // Why the channel closed, empty while it is open.
    QString errorString() const;

private:
    void handleConnected();
    void handleDisconnected();
    void handleText(const QString& message);
    void closeFromPeer(const QString& reason);

    QWebSocket* m_socket = nullptr;
    QList<QByteArray> m_queued;
    QString m_error;
    bool m_open = true;
    bool m_connected = false;
};

} // namespace Capture
