#include "common/thumbnailmodel.h"

#include <algorithm>

#include <QFutureWatcher>
#include <QImageReader>
#include <QThread>
#include <QtConcurrent>

namespace Common {

namespace {

    // No thumbnail is ever made from a picture this large: a header claiming it is damaged or hostile.
    constexpr qint64 MaxDecodedPixels = 128LL * 1024 * 1024;

    QImage decodeScaled(const QString& path, QSize box)
    {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize full = reader.size();
        if (full.isValid() && qint64(full.width()) * full.height() > MaxDecodedPixels)
            return {};
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
        if (item.failed && !m_placeholder.isNull())
            return m_placeholder;
        return item.thumbnail.isNull() ? QVariant() : QVariant(item.thumbnail);
    case FilePathRole:
        return item.filePath;
    default:
        return {};
    }
}

void ThumbnailModel::setThumbnailSize(QSize size) { m_thumbnailSize = size.expandedTo(QSize(1, 1)); }

void ThumbnailModel::setPlaceholder(const QImage& placeholder) { m_placeholder = placeholder; }

void ThumbnailModel::addImage(const QString& filePath, const QString& caption) { addImages({ filePath }, { caption }); }

void ThumbnailModel::addImages(const QStringList& filePaths, const QStringList& captions)
{
    const qsizetype count = std::min(filePaths.size(), captions.size());
    if (count == 0)
        return;
    const int first = static_cast<int>(m_items.size());
    beginInsertRows({}, first, first + static_cast<int>(count) - 1);
    for (qsizetype i = 0; i < count; ++i) {
        const quint64 serial = m_nextSerial++;
        // Not decoding, an item is as done as it will ever be.
        m_items.push_back(Item { serial, filePaths.at(i), captions.at(i), {}, !m_decoding, false });
        if (m_decoding)
            m_queue.push_back(Job { serial, filePaths.at(i) });
    }
    if (m_decoding)
        m_undecoded += static_cast<int>(count);
    endInsertRows();
    startDecoding();
}

void ThumbnailModel::startDecoding()
{
    // A few decodes at a time, so that leaving a page of hundreds costs at most those few, and the pool
    // stays free for other work.
    const int limit = std::max(2, QThread::idealThreadCount());
    while (m_inFlight < limit && !m_queue.empty()) {
        const Job job = std::move(m_queue.front());
        m_queue.pop_front();
        auto* watcher = new QFutureWatcher<QImage>(this);
        const quint64 serial = job.serial;
        connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, serial] {
            --m_inFlight;
            handleDecoded(serial, watcher->result());
            watcher->deleteLater();
            startDecoding();
        });
        ++m_inFlight;
        watcher->setFuture(QtConcurrent::run(decodeScaled, job.filePath, m_thumbnailSize));
    }
}

void ThumbnailModel::handleDecoded(quint64 serial, const QImage& image)
{
    const int row = rowOfSerial(serial);
    if (row < 0)
        return;
    Item& item = m_items[static_cast<size_t>(row)];
    item.thumbnail = image;
    item.failed = image.isNull();
    item.decoded = true;
    --m_undecoded;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, { Qt::DecorationRole });
    Q_EMIT thumbnailReady(row);
    if (m_undecoded == 0)
        Q_EMIT allThumbnailsReady();
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
    if (!m_items.front().decoded) {
        --m_undecoded;
        // Its job, if still queued, is the oldest one.
        if (!m_queue.empty() && m_queue.front().serial == m_items.front().serial)
            m_queue.pop_front();
    }
    m_items.pop_front();
    endRemoveRows();
}

void ThumbnailModel::clear()
{
    beginResetModel();
    m_items.clear();
    m_queue.clear();
    m_undecoded = 0;
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
