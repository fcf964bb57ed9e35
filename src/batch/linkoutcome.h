#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "capture/pagefacts.h"
#include "imaging/lookhash.h"

namespace Batch {

// How one link of a run ended, in words that stay the same from release to release: the run report
// and the command line's output carry them, and scripts match on them.
namespace Outcome {
    inline const QString Captured = QStringLiteral("captured");
    inline const QString Exists = QStringLiteral("exists");
    inline const QString Skipped = QStringLiteral("skipped");
    inline const QString Ignored = QStringLiteral("ignored");
    inline const QString BadId = QStringLiteral("bad-id");
    inline const QString ImageFailed = QStringLiteral("image-failed");
    inline const QString CaptureFailed = QStringLiteral("capture-failed");
    inline const QString WriteFailed = QStringLiteral("write-failed");
    inline const QString OpenFailed = QStringLiteral("open-failed");
    inline const QString Refused = QStringLiteral("refused");
    inline const QString Unresolved = QStringLiteral("unresolved");
    inline const QString TimedOut = QStringLiteral("timed-out");
    // The page came out one colour, also when captured again.
    inline const QString Blank = QStringLiteral("blank");
    // Collected by the watchdog, or abandoned when the run stopped waiting for it.
    inline const QString Unfinished = QStringLiteral("unfinished");
} // namespace Outcome

// One link of a run once it has ended, whatever the end.
struct LinkOutcome final {
    qint32 line = 0;
    QString id;
    QString url;
    QString outcome;
    // The links list's status text for the link.
    QString statusText;
    // Empty for links that were never captured.
    Capture::PageFacts page;
    // What the page has become (PageWord); empty for links whose page was never captured.
    QString pageWord;
    // From its capture's start to its outcome; -1 for links that were never captured.
    qint64 spentMs = -1;
    // How the captured page looks, when it has a look to compare (Imaging::lookHash).
    std::optional<Imaging::LookHash> look {};
    // SHA-1 of the thumbnail file as written; empty when none was.
    QByteArray thumbnailHash {};
    // What changed since the link's earlier runs (SinceWord; empty when nothing did or the run has no
    // history), the first run of its present state and its last good capture, in seconds since the
    // epoch (0 when unknown). Set by RunHistory for the links the run tried.
    QString change {};
    qint64 since = 0;
    qint64 lastWorked = 0;
};

// The outcome of a capture from the engine's code, whether the completion made a thumbnail of it,
// and the browser's network error.
QString captureOutcome(int code, bool thumbnailMade, const QString& netError);

// True for the outcomes that leave a link without a thumbnail it could have had; links that are
// skipped, ignored or already there are not failures.
bool isFailure(const QString& outcome);

// A link the directory should drop: its server refuses connections, its name does not resolve, or
// its page is gone (404, 410).
bool isDeadLink(const QString& outcome, int httpStatus);

} // namespace Batch
