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
    // On, thumbnails added while the strip shows its end scroll it on to the newest, once per turn of the
    // event loop; a strip scrolled back to earlier thumbnails stays there until scrolled to the end again.
    void setFollowsNewest(bool on);

Q_SIGNALS:
    void captionActivated(const QString& caption);

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    bool showsEnd() const;
    void showNewest();

    bool m_followsNewest = false;
    bool m_followPending = false;
};

} // namespace Common
