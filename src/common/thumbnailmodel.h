#pragma once

#include <deque>

#include <QAbstractListModel>
#include <QImage>
#include <QSize>

namespace Common {

// Image files shown as thumbnails with a caption each, for the run's strip and the viewer's grid.
// Files are decoded and scaled off the GUI thread; until a thumbnail is ready the item shows no
// picture. Results for items removed meanwhile are dropped.
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

    void addImage(const QString& filePath, const QString& caption);
    void removeFirst();
    void clear();

    QString caption(int row) const;
    QString filePath(int row) const;

Q_SIGNALS:
    // A thumbnail finished decoding (or failed to); tests and views may wait on it.
    void thumbnailReady(int row);

private:
    struct Item {
        quint64 serial = 0;
        QString filePath;
        QString caption;
        QImage thumbnail;
    };

    void decode(const Item& item);
    void handleDecoded(quint64 serial, const QImage& image);
    int rowOfSerial(quint64 serial) const;

    std::deque<Item> m_items;
    quint64 m_nextSerial = 1;
    QSize m_thumbnailSize { 120, 90 };
};

} // namespace Common
