#pragma once

#include <chrono>
#include <functional>

#include <QObject>
#include <QPointer>
#include <QUrl>

#include "common/result.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace Capture {

// Asks a browser's DevTools HTTP port for the WebSocket address of its browser target
// (GET /json/version). The reply is read as untrusted input: no redirects are followed, a reply past
// MaxVersionReplyBytes is cut off and fails, and the address must be ws:// or wss://. done() comes
// once, from the event loop, unless the lookup is destroyed first. GUI thread only.
class DebuggerUrlLookup final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DebuggerUrlLookup)

public:
    DebuggerUrlLookup(const QUrl& endpoint, std::chrono::milliseconds timeout, QObject* parent = nullptr);
    ~DebuggerUrlLookup() override;

Q_SIGNALS:
    void done(const Common::Result<QUrl>& result);

private:
    void handleReadyRead();
    void handleFinished();

    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    bool m_tooLarge = false;
};

} // namespace Capture
