#include "capture/browserendpoints.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace Capture {

namespace {

    const QString kSource = QStringLiteral("BrowserEndpoints");

    Common::Error entryError(int position, const QString& entry, const QString& problem)
    {
        return Common::Error { 0, kSource,
            QStringLiteral("Browser endpoint %1 (\"%2\"): %3").arg(position).arg(entry, problem) };
    }

    bool isWebSocketScheme(const QString& scheme)
    {
        return scheme == QLatin1String("ws") || scheme == QLatin1String("wss");
    }

} // namespace

QString BrowserEndpoint::displayName() const
{
    if (kind == Kind::Local)
        return QStringLiteral("the local browser");
    return url.toString(QUrl::RemoveUserInfo);
}

Common::Result<QList<BrowserEndpoint>> parseBrowserEndpoints(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
    QList<BrowserEndpoint> endpoints;
    int position = 0;
    for (const QString& entry : entries) {
        ++position;
        BrowserEndpoint endpoint;
        if (entry.compare(QLatin1String(LocalEndpointWord), Qt::CaseInsensitive) == 0) {
            endpoint.kind = BrowserEndpoint::Kind::Local;
        } else {
            if (!entry.contains(QLatin1String("://")))
                return entryError(position, entry,
                    QStringLiteral("not an address; write ws://host:port/..., wss://host/..., http://host:port or "
                                   "\"local\""));
            const QUrl url(entry, QUrl::StrictMode);
            const QString scheme = url.scheme().toLower();
            if (!url.isValid())
                return entryError(position, entry, QStringLiteral("not a valid address (%1)").arg(url.errorString()));
            if (isWebSocketScheme(scheme)) {
                endpoint.kind = BrowserEndpoint::Kind::WebSocket;
            } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
                endpoint.kind = BrowserEndpoint::Kind::Discovery;
            } else {
                return entryError(position, entry,
                    QStringLiteral("unknown scheme \"%1\"; use ws://, wss://, http:// or https://").arg(scheme));
            }
            if (url.host().isEmpty())
                return entryError(position, entry, QStringLiteral("the host is missing"));
            if (endpoint.kind == BrowserEndpoint::Kind::Discovery) {
                // A DevTools port has no standard number, so a missing one is a slip, not port 80.
                if (url.port() <= 0)
                    return entryError(position, entry, QStringLiteral("the port is missing (http://host:port)"));
                if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
                    return entryError(position, entry,
                        QStringLiteral("an http endpoint is the browser's host and port only, without a path"));
                if (url.hasQuery() || url.hasFragment())
                    return entryError(position, entry, QStringLiteral("an http endpoint takes no query or fragment"));
            } else if (url.port() == 0) {
                return entryError(position, entry, QStringLiteral("port 0 cannot be reached"));
            }
            endpoint.url = url;
        }
        if (endpoints.contains(endpoint))
            return entryError(position, entry, QStringLiteral("listed twice"));
        endpoints.append(endpoint);
    }
    return endpoints;
}

Common::Result<QUrl> debuggerUrlFromVersionReply(const QByteArray& reply)
{
    const auto fail = [](const QString& problem) {
        return Common::Error { 0, kSource, QStringLiteral("The browser's /json/version reply %1").arg(problem) };
    };
    if (reply.size() > MaxVersionReplyBytes)
        return fail(QStringLiteral("is larger than %1 bytes").arg(MaxVersionReplyBytes));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return fail(QStringLiteral("is not a JSON object"));
    const QJsonValue value = document.object().value(QLatin1String("webSocketDebuggerUrl"));
    if (!value.isString())
        return fail(QStringLiteral("names no webSocketDebuggerUrl"));
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || !isWebSocketScheme(url.scheme().toLower()) || url.host().isEmpty())
        return fail(QStringLiteral("gives no ws:// or wss:// address"));
    return url;
}

} // namespace Capture
