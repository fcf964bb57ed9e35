#include "common/thumbnailmodel.h"

#include <QFutureWatcher>
#include <QImageReader>
#include <QPointer>
#include <QtConcurrent>

namespace Common {

namespace {

    QImage decodeScaled(const QString& path, QSize box)
    {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize full = reader.size();
        // Scaling in the decoder keeps a tall capture from being decoded whole.
        if (full.isValid() && (full.width() > box.width() || full.height() > box.height()))
            reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (!image.isNull() && (image.width() > box.width() || image.height() > box.height()))
            image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return image;
    }

} // namespace

ThumbnailModel::ThumbnailModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

ThumbnailModel::~ThumbnailModel() = default;

int ThumbnailModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Item& item = m_items[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return item.caption;
    case Qt::DecorationRole:
        return item.thumbnail.isNull() ? QVariant() : QVariant(item.thumbnail);
    case FilePathRole:
        return item.filePath;
    default:
        return {};
    }
}

void ThumbnailModel::setThumbnailSize(QSize size) { m_thumbnailSize = size.expandedTo(QSize(1, 1)); }

void ThumbnailModel::addImage(const QString& filePath, const QString& caption)
{
    const int row = static_cast<int>(m_items.size());
    beginInsertRows({}, row, row);
    m_items.push_back(Item { m_nextSerial++, filePath, caption, {} });
    endInsertRows();
    decode(m_items.back());
}

void ThumbnailModel::decode(const Item& item)
{
    auto* watcher = new QFutureWatcher<QImage>(this);
    const quint64 serial = item.serial;
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, serial] {
        handleDecoded(serial, watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(decodeScaled, item.filePath, m_thumbnailSize));
}

void ThumbnailModel::handleDecoded(quint64 serial, const QImage& image)
{
    const int row = rowOfSerial(serial);
    if (row < 0)
        return;
    Item& item = m_items[static_cast<size_t>(row)];
    item.thumbnail = image;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, { Qt::DecorationRole });
    Q_EMIT thumbnailReady(row);
}

int ThumbnailModel::rowOfSerial(quint64 serial) const
{
    // Serials grow along the deque, so a binary search finds the row.
    const auto it = std::lower_bound(
        m_items.begin(), m_items.end(), serial, [](const Item& item, quint64 value) { return item.serial < value; });
    if (it == m_items.end() || it->serial != serial)
        return -1;
    return static_cast<int>(it - m_items.begin());
}

void ThumbnailModel::removeFirst()
{
    if (m_items.empty())
        return;
    beginRemoveRows({}, 0, 0);
    m_items.pop_front();
    endRemoveRows();
}

void ThumbnailModel::clear()
{
    beginResetModel();
    m_items.clear();
    endResetModel();
}

QString ThumbnailModel::caption(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_items.size() ? m_items[static_cast<size_t>(row)].caption
                                                                 : QString();
}

QString ThumbnailModel::filePath(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_items.size() ? m_items[static_cast<size_t>(row)].filePath
                                                                 : QString();
}

} // namespace Common
