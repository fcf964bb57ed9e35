#pragma once

#include <QListView>

namespace Common {

class ThumbnailModel;

// A scrolling strip (or grid) of thumbnails with their captions over a ThumbnailModel.
// Activating a thumbnail reports its caption (the run's strip shows each link's address there).
class ThumbnailStrip final : public QListView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThumbnailStrip)

public:
    explicit ThumbnailStrip(QWidget* parent = nullptr);

    void setThumbnailModel(ThumbnailModel* model);
    // The strip's fixed appearance: white colours, captions in "Arial", a fixed cell grid.
    void SetViewerOptions(QSize thumbnailSize);

Q_SIGNALS:
    void captionActivated(const QString& caption);
};

} // namespace Common
