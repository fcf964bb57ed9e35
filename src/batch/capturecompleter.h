#pragma once

#include <memory>

#include <optional>

#include <QByteArray>
#include <QString>

#include "imaging/lookhash.h"

namespace Capture {
class HtmlSnapshot;
}

namespace Batch {

// How the completion step ended a link.
struct CompletedCapture final {
    // The link counts as a success.
    bool success = false;
    // The outcome text it gave the link's row; empty when it left the row's live text alone.
    QString text;
    // How the captured page looks (before filters, effects and watermark), when it has a look to compare.
    std::optional<Imaging::LookHash> look {};
    // The thumbnail was made but could not be stored (a full disk, say); text says why.
    bool writeFailed = false;
    // SHA-1 of the thumbnail file as written; empty when none was.
    QByteArray thumbnailHash {};
};

// One ended capture on its way to its outcome. The heavy part (decoding, filters, effects, watermark,
// the thumbnail file) runs once, on any thread, and touches nothing but the capture's own data and its
// files; the end runs on the GUI thread afterwards: the row, the strip, and the box a failed step asks.
class PendingCapture {
public:
    virtual ~PendingCapture() = default;

    // Any thread, once.
    virtual void process() = 0;
    // GUI thread, once, after process() has returned.
    virtual CompletedCapture finish() = 0;
};

// What the run needs from the step that turns an ended capture into its outcome: the thumbnail file,
// the row's outcome text and the strip. Kept apart from the run so that each is tested on its own.
class CaptureCompleter {
public:
    virtual ~CaptureCompleter() = default;

    // At the start of every run: the strip is emptied and set up, the enabled effects are frozen.
    virtual void prepareRun() = 0;
    // GUI thread: takes all the completion needs from one ended (or timed-out) slot, whose ListItem
    // holds the row's key. The slot is reset and may be reused or deleted at once.
    virtual std::unique_ptr<PendingCapture> takeCapture(Capture::HtmlSnapshot& slot) = 0;
};

} // namespace Batch
