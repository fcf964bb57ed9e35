#pragma once

#include <deque>

#include <QAbstractListModel>
#include <QImage>
#include <QSize>
#include <QStringList>

namespace Common {

// Image files shown as thumbnails with a caption each, for the run's strip and the viewer's grid.
// Files are decoded and scaled off the GUI thread, in the order they were added, a few at a time: items
// removed before their turn are never decoded, and results for items removed meanwhile are dropped.
// Until a thumbnail is ready the item shows no picture; a file that cannot be decoded shows the
// placeholder, if one is set.
class ThumbnailModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThumbnailModel)

public:
    enum Role { FilePathRole = Qt::UserRole + 1 };

    explicit ThumbnailModel(QObject* parent = nullptr);
    ~ThumbnailModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The largest size a thumbnail is scaled to, keeping its aspect ratio.
    void setThumbnailSize(QSize size);
    QSize thumbnailSize() const { return m_thumbnailSize; }

    // Off, items are listed with their captions but never decoded: a run that no window shows would
    // otherwise decode every thumbnail it makes and keep the last MaxViewerCount of them in memory.
    void setDecoding(bool on) { m_decoding = on; }

    // Shown instead of a thumbnail for files that cannot be decoded; none by default.
    void setPlaceholder(const QImage& placeholder);

    void addImage(const QString& filePath, const QString& caption);
    // Adds many items at once (one insertion for the views); captions pair with paths by position.
    void addImages(const QStringList& filePaths, const QStringList& captions);
    void removeFirst();
    void clear();

    QString caption(int row) const;
    QString filePath(int row) const;
    // Items whose decoding has not finished yet.
    int pendingCount() const { return m_undecoded; }

Q_SIGNALS:
    // A thumbnail finished decoding (or failed to); tests and views may wait on it.
    void thumbnailReady(int row);
    // Every item added so far has been decoded.
    void allThumbnailsReady();

private:
    struct Item {
        quint64 serial = 0;
        QString filePath;
        QString caption;
        QImage thumbnail;
        bool decoded = false;
        bool failed = false;
    };
    struct Job {
        quint64 serial = 0;
        QString filePath;
    };

    void startDecoding();
    void handleDecoded(quint64 serial, const QImage& image);
    int rowOfSerial(quint64 serial) const;

    std::deque<Item> m_items;
    std::deque<Job> m_queue;
    int m_inFlight = 0;
    int m_undecoded = 0;
    QImage m_placeholder;
    quint64 m_nextSerial = 1;
    QSize m_thumbnailSize { 120, 90 };
    bool m_decoding = true;
};

} // namespace Common
