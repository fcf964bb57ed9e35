#include "capture/devtoolsconnection.h"

#include <algorithm>
#include <vector>

#include <QJsonDocument>
#include <QJsonValue>
#include <QTimer>
#include <QTimerEvent>

#include "capture/devtoolssession.h"
#include "capture/devtoolstransport.h"

namespace Capture {

namespace {

    const QString kSource = QStringLiteral("DevTools");

    Common::Error localError(int number, const QString& message) { return Common::Error { number, kSource, message }; }

} // namespace

DevToolsConnection::DevToolsConnection(DevToolsTransport* transport, QObject* parent)
    : QObject(parent)
    , m_transport(transport)
{
    m_transport->setParent(this);
    m_open = m_transport->isOpen();
    connect(m_transport, &DevToolsTransport::messageReceived, this, &DevToolsConnection::handleMessage);
    connect(m_transport, &DevToolsTransport::closed, this, &DevToolsConnection::handleTransportClosed);
}

DevToolsConnection::~DevToolsConnection()
{
    for (DevToolsSession* session : std::as_const(m_sessions))
        session->m_connection = nullptr;
}

bool DevToolsConnection::isOpen() const { return m_open; }

void DevToolsConnection::close()
{
    if (!m_open)
        return;
    m_transport->close();
    handleTransportClosed();
}

quint64 DevToolsConnection::call(const QString& sessionId, const QString& method, const QJsonObject& params,
    std::chrono::milliseconds timeout, QObject* context, Callback callback)
{
    const quint64 id = m_nextId++;
    if (!m_open) {
        QPointer<QObject> guard(context);
        QTimer::singleShot(0, this, [guard, hasContext = context != nullptr, callback = std::move(callback), method] {
            if (hasContext && !guard)
                return;
            if (callback)
                callback(
                    localError(CallError::ConnectionClosed, QStringLiteral("The browser is gone (%1)").arg(method)));
        });
        return 0;
    }

    QJsonObject message { { QStringLiteral("id"), static_cast<qint64>(id) }, { QStringLiteral("method"), method },
        { QStringLiteral("params"), params } };
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);

    Pending pending;
    pending.sessionId = sessionId;
    pending.context = context;
    pending.hasContext = context != nullptr;
    pending.callback = std::move(callback);
    pending.timerId = startTimer(std::max<std::chrono::milliseconds>(timeout, std::chrono::milliseconds(1)));
    m_timers.emplace(pending.timerId, id);
    m_pending.emplace(id, std::move(pending));

    m_transport->sendMessage(QJsonDocument(message).toJson(QJsonDocument::Compact));
    return id;
}

void DevToolsConnection::post(const QString& sessionId, const QString& method, const QJsonObject& params)
{
    if (!m_open)
        return;
    // An id the pending map never holds: the reply is read and dropped.
    QJsonObject message { { QStringLiteral("id"), static_cast<qint64>(m_nextId++) },
        { QStringLiteral("method"), method }, { QStringLiteral("params"), params } };
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    m_transport->sendMessage(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

void DevToolsConnection::cancel(quint64 callId)
{
    const auto it = m_pending.find(callId);
    if (it == m_pending.end())
        return;
    killTimer(it->second.timerId);
    m_timers.erase(it->second.timerId);
    m_pending.erase(it);
}

void DevToolsConnection::finish(quint64 callId, const Reply& reply)
{
    const auto it = m_pending.find(callId);
    if (it == m_pending.end())
        return;
    Pending pending = std::move(it->second);
    m_pending.erase(it);
    killTimer(pending.timerId);
    m_timers.erase(pending.timerId);
    if (pending.hasContext && !pending.context)
        return;
    if (pending.callback)
        pending.callback(reply);
}

void DevToolsConnection::timerEvent(QTimerEvent* event)
{
    const auto it = m_timers.find(event->timerId());
    if (it == m_timers.end()) {
        killTimer(event->timerId());
        return;
    }
    finish(it->second, localError(CallError::TimedOut, QStringLiteral("The browser did not answer in time")));
}

void DevToolsConnection::failSession(const QString& sessionId, const Common::Error& error)
{
    std::vector<quint64> ids;
    for (const auto& [id, pending] : m_pending) {
        if (pending.sessionId == sessionId)
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    for (const quint64 id : ids)
        finish(id, error);
}

void DevToolsConnection::dropSessionCalls(const QString& sessionId)
{
    std::vector<quint64> ids;
    for (const auto& [id, pending] : m_pending) {
        if (pending.sessionId == sessionId)
            ids.push_back(id);
    }
    for (const quint64 id : ids)
        cancel(id);
}

void DevToolsConnection::registerSession(DevToolsSession* session) { m_sessions.insert(session->id(), session); }

void DevToolsConnection::unregisterSession(DevToolsSession* session)
{
    const auto it = m_sessions.find(session->id());
    if (it != m_sessions.end() && it.value() == session)
        m_sessions.erase(it);
    dropSessionCalls(session->id());
}

void DevToolsConnection::handleMessage(const QByteArray& message)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message, &parseError);
    if (!document.isObject())
        return;
    const QJsonObject object = document.object();

    const QJsonValue idValue = object.value(QLatin1String("id"));
    if (!idValue.isUndefined()) {
        const auto id = static_cast<quint64>(idValue.toInteger());
        const QJsonValue errorValue = object.value(QLatin1String("error"));
        if (errorValue.isObject()) {
            const QJsonObject error = errorValue.toObject();
            finish(id,
                Common::Error { error.value(QLatin1String("code")).toInt(), kSource,
                    error.value(QLatin1String("message")).toString() });
        } else {
            finish(id, object.value(QLatin1String("result")).toObject());
        }
        return;
    }

    const QString method = object.value(QLatin1String("method")).toString();
    const QJsonObject params = object.value(QLatin1String("params")).toObject();
    const QString sessionId = object.value(QLatin1String("sessionId")).toString();

    // A crashed or detached renderer never answers what it was asked: end those calls now, before
    // anyone sees the event, so no callback is left waiting on a dead session.
    if (method == QLatin1String("Inspector.targetCrashed") && !sessionId.isEmpty())
        failSession(sessionId, localError(CallError::SessionLost, QStringLiteral("The page's renderer crashed")));
    else if (method == QLatin1String("Target.detachedFromTarget"))
        failSession(params.value(QLatin1String("sessionId")).toString(),
            localError(CallError::SessionLost, QStringLiteral("The page was detached")));

    if (sessionId.isEmpty()) {
        Q_EMIT browserEvent(method, params);
        return;
    }
    if (DevToolsSession* session = m_sessions.value(sessionId))
        Q_EMIT session->eventReceived(method, params);
}

void DevToolsConnection::handleTransportClosed()
{
    if (!m_open)
        return;
    m_open = false;
    std::vector<quint64> ids;
    ids.reserve(m_pending.size());
    for (const auto& entry : m_pending)
        ids.push_back(entry.first);
    std::sort(ids.begin(), ids.end());
    QPointer<DevToolsConnection> self(this);
    for (const quint64 id : ids) {
        finish(id, localError(CallError::ConnectionClosed, QStringLiteral("The browser closed the connection")));
        if (!self)
            return;
    }
    Q_EMIT closed();
}

} // namespace Capture
