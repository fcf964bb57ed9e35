#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

#include "capture/browserhost.h"

namespace Capture {
class HtmlSnap;
}

namespace CaptureTest {

// Browser options for tests: no DNS look-up ever leaves the machine; names under .test reach
// 127.0.0.1.
Capture::BrowserOptions testBrowserOptions();

struct Outcome {
    int code = 0;
    QString text;
    QStringList progressTexts;
    // When each progress text arrived, in milliseconds from the start.
    QList<qint64> progressMs;
    int finalEvents = 0;
    qint64 elapsedMs = 0;
};

// Starts a capture and waits (event loop running) for its final status, or until waitMs has passed.
Outcome capture(
    Capture::HtmlSnap& snap, const QString& url, const QString& file = QStringLiteral("*"), int waitMs = 90000);

// The colour of the captured image at (x, y), decoded from the engine's bytes.
QImage capturedImage(const Capture::HtmlSnap& snap);
bool sameColour(QRgb actual, QColor expected, int tolerance = 12);

// How many pages the host's browser has open, or -1 when it does not tell within 20 s.
int pageTargetCount(Capture::BrowserHost& host);

// True when no process of the browser's process group is alive any more.
bool processGroupGone(qint64 pid);

} // namespace CaptureTest
