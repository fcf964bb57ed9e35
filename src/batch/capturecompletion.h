#pragma once

#include <functional>

#include <QByteArray>
#include <QImage>
#include <QString>

#include "batch/capturecompleter.h"
#include "imaging/effects.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"

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

// Turns an ended capture into its outcome: the row's text and colour and, for a captured page, the
// thumbnail file (filters, effects, grey or black and white, image stamp, text, then the chosen
// format) and its place in the run's strip. The thumbnail only ever appears under the link's name
// complete and in its final format: the intermediate file has a name of its own.
//
// A failing step asks "Retry" or "Cancel" ("Error Processing"); Cancel leaves the link as it was.
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
    CompletedCapture CompleteCapture(Capture::HtmlSnapshot& slot) override;
    void recreateElements() override;
    void clearViewer() override;

    // Empties the strip, telling so in the status bar.
    void ClearThumbnailView();
    const Imaging::EffectsState& effectsState() const { return m_effects; }

private:
    Common::Status saveByFormat(const QString& outputFile);

    Services m_services;
    Imaging::PixTwix m_pixTwix;
    Imaging::PictureViewerPro m_viewer;
    Imaging::EffectsState m_effects;
};

} // namespace Batch
