#pragma once

#include <chrono>

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include "capture/devtoolsconnection.h"

namespace Capture {

// One attached page target on a connection (a flat-mode sessionId). Receives that page's events;
// its calls are dropped without a callback once the session object is destroyed, and fail at once
// when the page's renderer crashes or the page is detached.
class DevToolsSession final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DevToolsSession)

public:
    DevToolsSession(DevToolsConnection* connection, const QString& sessionId, QObject* parent = nullptr);
    ~DevToolsSession() override;

    QString id() const;
    bool isOpen() const;
    // The callback runs at most once, never after this session is destroyed.
    quint64 call(const QString& method, const QJsonObject& params, std::chrono::milliseconds timeout,
        DevToolsConnection::Callback callback);
    void post(const QString& method, const QJsonObject& params = {});
    void cancel(quint64 callId);
    // Drops every call still waiting for its reply, for a session that passes to a new owner.
    void dropCalls();

Q_SIGNALS:
    void eventReceived(const QString& method, const QJsonObject& params);

private:
    friend class DevToolsConnection;

    DevToolsConnection* m_connection = nullptr;
    QString m_id;
};

} // namespace Capture
