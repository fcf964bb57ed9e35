#include "capture/devtoolssession.h"

#include <QTimer>

namespace Capture {

DevToolsSession::DevToolsSession(DevToolsConnection* connection, const QString& sessionId, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_id(sessionId)
{
    m_connection->registerSession(this);
}

DevToolsSession::~DevToolsSession()
{
    if (m_connection)
        m_connection->unregisterSession(this);
}

QString DevToolsSession::id() const { return m_id; }

bool DevToolsSession::isOpen() const { return m_connection && m_connection->isOpen(); }

quint64 DevToolsSession::call(const QString& method, const QJsonObject& params, std::chrono::milliseconds timeout,
    DevToolsConnection::Callback callback)
{
    if (!m_connection) {
        QTimer::singleShot(0, this, [callback = std::move(callback)] {
            callback(Common::Error {
                CallError::ConnectionClosed, QStringLiteral("DevTools"), QStringLiteral("The browser is gone") });
        });
        return 0;
    }
    return m_connection->call(m_id, method, params, timeout, this, std::move(callback));
}

void DevToolsSession::post(const QString& method, const QJsonObject& params)
{
    if (m_connection)
        m_connection->post(m_id, method, params);
}

void DevToolsSession::dropCalls()
{
    if (m_connection)
        m_connection->dropSessionCalls(m_id);
}

void DevToolsSession::cancel(quint64 callId)
{
    if (m_connection)
        m_connection->cancel(callId);
}

} // namespace Capture
