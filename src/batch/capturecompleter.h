#pragma once

namespace Capture {
class HtmlSnapshot;
}

namespace Batch {

// What the run needs from the step that turns an ended capture into its outcome: the thumbnail file,
// the row's outcome text and the strip. Kept apart from the run so that each is tested on its own.
class CaptureCompleter {
public:
    virtual ~CaptureCompleter() = default;

    // At the start of every run: the strip is emptied and set up, the enabled effects are frozen.
    virtual void prepareRun() = 0;
    // Handles one ended (or timed-out) slot; the slot's ListItem holds the row's key. True when the
    // link counts as a success.
    virtual bool CompleteCapture(Capture::HtmlSnapshot& slot) = 0;
    // Before every tenth dispatched link: fresh imaging and viewer elements.
    virtual void recreateElements() = 0;
    // Before each dispatch: the viewer element lets go of its picture.
    virtual void clearViewer() = 0;
};

} // namespace Batch
