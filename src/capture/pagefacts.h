#pragma once

#include <QString>
#include <QtGlobal>

namespace Capture {

// What a capture learnt about the page besides its image, complete when the final event is emitted.
struct PageFacts final {
    // The main document's HTTP status, 0 when no response came (a refused connection, say).
    int httpStatus = 0;
    // The address the main document came from after redirects; empty when none came.
    QString finalUrl;
    QString title;
    // The browser's network error when the page could not be opened ("net::ERR_CONNECTION_REFUSED").
    QString netError;
    // From SnapUrl() to the final event.
    qint64 elapsedMs = 0;
};

} // namespace Capture
