#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include "batch/capturecompleter.h"
#include "imaging/effects.h"

namespace Common {
class MessageBox;
class ThumbnailModel;
}
namespace Settings {
struct LiveSettings;
}

namespace Batch {

class LinksListModel;

// Decodes an encoded image held in memory; a null image when the bytes are not an image.
QImage PictureFromByteArray(const QByteArray& bytes);
// The last index of a byte array, -1 when it is empty.
qint32 ArrayUpperBound(const QByteArray& bytes);

// The status text and colour of a capture that ended with one of the engine's failure codes
// (Capture::SnapCode); nothing for a code that is not a failure.
struct CaptureFailure final {
    QString text;
    QColor color;
};
std::optional<CaptureFailure> captureFailure(int code);

// Turns an ended capture into its outcome: the row's text and colour and, for a captured page, the
// thumbnail file (filters, effects, grey or black and white, image stamp, text, then the chosen
// format) and its place in the run's strip. The thumbnail only ever appears under the link's name
// complete and in its final format: the intermediate picture stays in memory.
//
// takeCapture() takes the captured picture as the browser sent it (its bytes are shared, not copied)
// and the settings the steps read, and chooses the image's effects, so the run's effect rotation
// follows the order captures are taken in. The steps themselves, from scaling the capture to the
// thumbnail's size on, run in PendingCapture::process() on any thread, each capture with imaging
// elements of its own. A step that fails there is not reported from that thread: finish() runs it again on the
// GUI thread, and if it fails again asks "Retry" or "Cancel" ("Error Processing"), as every step
// after it would; Cancel leaves the link as it was, except when the thumbnail could not be stored (its
// folder or file could not be written): that link ends failed, its row saying why.
class CaptureCompletion final : public CaptureCompleter {
public:
    struct Services {
        const Settings::LiveSettings& settings;
        LinksListModel& rows;
        Common::ThumbnailModel& strip;
        Common::MessageBox& boxes;
        QString appPath;
        std::function<void(const QString&)> status;
        // Gives the strip its appearance at the start of a run.
        std::function<void()> SetViewerOptions;
    };

    explicit CaptureCompletion(Services services);

    void prepareRun() override;
    std::unique_ptr<PendingCapture> takeCapture(Capture::HtmlSnapshot& slot) override;
    // The whole completion of one slot on the calling (GUI) thread.
    CompletedCapture CompleteCapture(Capture::HtmlSnapshot& slot);

    // Empties the strip, telling so in the status bar.
    void ClearThumbnailView();
    const Imaging::EffectsState& effectsState() const { return m_effects; }

private:
    Services m_services;
    Imaging::EffectsState m_effects;
};

} // namespace Batch
