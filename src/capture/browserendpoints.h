#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include "common/result.h"

namespace Capture {

// One browser a batch run may capture on.
struct BrowserEndpoint final {
    enum class Kind {
        // The program's own headless browser, started and stopped by it.
        Local,
        // A remote browser's DevTools WebSocket (ws:// or wss://), used as it stands.
        WebSocket,
        // A remote browser's DevTools HTTP port (http:// or https://): its /json/version reply names
        // the WebSocket to use.
        Discovery,
    };

    Kind kind = Kind::Local;
    QUrl url;

    // For status lines: "the local browser", or the address without any user name or password.
    QString displayName() const;

    friend bool operator==(const BrowserEndpoint&, const BrowserEndpoint&) = default;
};

// The word that puts the local browser into a list of endpoints.
inline constexpr char LocalEndpointWord[] = "local";
// The most a /json/version reply may hold; a real one is well under 1 KB.
inline constexpr qsizetype MaxVersionReplyBytes = 64 * 1024;

// Parses the BrowserEndpoints setting: entries separated by commas, semicolons, blanks or line breaks,
// each "local" (any case), a ws:// or wss:// address, or http(s)://host:port. An empty text gives an
// empty list (the local browser alone, as without the setting). A bad entry fails the whole list with
// a message that names the entry and what is wrong with it; an entry listed twice is an error too.
Common::Result<QList<BrowserEndpoint>> parseBrowserEndpoints(const QString& text);

// The WebSocket address in a browser's /json/version reply, which comes from the network and is
// checked as such: at most MaxVersionReplyBytes, a JSON object whose webSocketDebuggerUrl is a ws://
// or wss:// address with a host.
Common::Result<QUrl> debuggerUrlFromVersionReply(const QByteArray& reply);

} // namespace Capture
