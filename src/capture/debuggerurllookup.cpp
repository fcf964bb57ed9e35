#include "capture/debuggerurllookup.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "capture/browserendpoints.h"

namespace Capture {

namespace {
    const QString kSource = QStringLiteral("BrowserEndpoints");
}

DebuggerUrlLookup::DebuggerUrlLookup(const QUrl& endpoint, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    QUrl url = endpoint;
    url.setPath(QStringLiteral("/json/version"));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    m_reply = m_network->get(request);
    // What the server sends beyond the cap waits in its socket rather than in our memory.
    m_reply->setReadBufferSize(MaxVersionReplyBytes + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &DebuggerUrlLookup::handleReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &DebuggerUrlLookup::handleFinished);
}

DebuggerUrlLookup::~DebuggerUrlLookup()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void DebuggerUrlLookup::handleReadyRead()
{
    if (m_tooLarge)
        return;
    m_body.append(m_reply->read(MaxVersionReplyBytes + 1 - m_body.size()));
    if (m_body.size() > MaxVersionReplyBytes) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void DebuggerUrlLookup::handleFinished()
{
    QNetworkReply* reply = m_reply;
    reply->deleteLater();
    if (!m_tooLarge)
        handleReadyRead();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString address = reply->url().toString(QUrl::RemoveUserInfo);
    if (m_tooLarge) {
        Q_EMIT done(debuggerUrlFromVersionReply(m_body));
    } else if (status != 0 && status != 200) {
        Q_EMIT done(Common::Error { 0, kSource, QStringLiteral("%1 answered HTTP %2").arg(address).arg(status) });
    } else if (reply->error() != QNetworkReply::NoError) {
        Q_EMIT done(
            Common::Error { 0, kSource, QStringLiteral("Cannot read %1: %2").arg(address, reply->errorString()) });
    } else {
        Q_EMIT done(debuggerUrlFromVersionReply(m_body));
    }
}

} // namespace Capture
