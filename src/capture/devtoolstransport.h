#pragma once

#include <QByteArray>
#include <QObject>

namespace Capture {

// A channel that carries DevTools protocol messages (one JSON text each) to a browser and back.
// The protocol layer above it does not know whether the browser is a local process on a pipe or a
// remote endpoint. Implementations emit closed() once, when the channel can carry nothing more; no
// messageReceived() follows it. Lives on the thread that created it.
class DevToolsTransport : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DevToolsTransport)

public:
    using QObject::QObject;
    ~DevToolsTransport() override = default;

    // Queues one message; it goes out without blocking. Ignored once the channel is closed.
    virtual void sendMessage(const QByteArray& message) = 0;
    virtual bool isOpen() const = 0;
    // Closes the channel without emitting closed().
    virtual void close() = 0;

Q_SIGNALS:
    void messageReceived(const QByteArray& message);
    void closed();
};

} // namespace Capture
