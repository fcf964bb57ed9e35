#pragma once

#include <chrono>
#include <functional>
#include <unordered_map>

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include "common/result.h"

namespace Capture {

class DevToolsSession;
class DevToolsTransport;

// Error numbers of calls that failed on this side; errors the browser returns keep its own
// (negative JSON-RPC) numbers.
namespace CallError {
    constexpr int TimedOut = 1;
    constexpr int ConnectionClosed = 2;
    constexpr int SessionLost = 3;
} // namespace CallError

// The DevTools protocol over one transport: numbers each call, keeps a deadline per call, hands
// replies to their callbacks and events to the session they belong to. Every call ends in exactly
// one callback: the reply, an error reply, its deadline, the loss of its session or of the
// connection. A callback whose context object has been destroyed is dropped silently.
// Single-threaded: use it on the thread that created it.
class DevToolsConnection final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DevToolsConnection)

public:
    using Reply = Common::Result<QJsonObject>;
    using Callback = std::function<void(const Reply&)>;

    // Takes ownership of the transport.
    explicit DevToolsConnection(DevToolsTransport* transport, QObject* parent = nullptr);
    ~DevToolsConnection() override;

    // Sends method with params to the browser (empty sessionId) or to a page session. Returns the
    // call's number, or 0 when the connection is closed (the callback then runs from the event loop).
    quint64 call(const QString& sessionId, const QString& method, const QJsonObject& params,
        std::chrono::milliseconds timeout, QObject* context, Callback callback);
    // Sends without waiting for the reply.
    void post(const QString& sessionId, const QString& method, const QJsonObject& params = {});
    // Drops a call: its callback never runs.
    void cancel(quint64 callId);
    // Ends every pending call of a session with error now (a crashed renderer never answers them).
    void failSession(const QString& sessionId, const Common::Error& error);

    bool isOpen() const;
    void close();

Q_SIGNALS:
    // An event without a session: the browser's own (targets created, crashed, destroyed).
    void browserEvent(const QString& method, const QJsonObject& params);
    void closed();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    friend class DevToolsSession;
    struct Pending {
        QString sessionId;
        QPointer<QObject> context;
        bool hasContext = false;
        Callback callback;
        int timerId = 0;
    };

    void registerSession(DevToolsSession* session);
    void unregisterSession(DevToolsSession* session);
    void handleMessage(const QByteArray& message);
    void handleTransportClosed();
    void finish(quint64 callId, const Reply& reply);
    void dropSessionCalls(const QString& sessionId);

    DevToolsTransport* m_transport = nullptr;
    quint64 m_nextId = 1;
    std::unordered_map<quint64, Pending> m_pending;
    std::unordered_map<int, quint64> m_timers;
    QHash<QString, DevToolsSession*> m_sessions;
    bool m_open = true;
};

} // namespace Capture
