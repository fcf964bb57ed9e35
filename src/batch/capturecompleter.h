#pragma once

#include <QString>

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
};

// What the run needs from the step that turns an ended capture into its outcome: the thumbnail file,
// the row's outcome text and the strip. Kept apart from the run so that each is tested on its own.
class CaptureCompleter {
public:
    virtual ~CaptureCompleter() = default;

    // At the start of every run: the strip is emptied and set up, the enabled effects are frozen.
    virtual void prepareRun() = 0;
    // Handles one ended (or timed-out) slot; the slot's ListItem holds the row's key.
    virtual CompletedCapture CompleteCapture(Capture::HtmlSnapshot& slot) = 0;
    // Before every tenth dispatched link: fresh imaging and viewer elements.
    virtual void recreateElements() = 0;
    // Before each dispatch: the viewer element lets go of its picture.
    virtual void clearViewer() = 0;
};

} // namespace Batch
