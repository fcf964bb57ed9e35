#include "batch/linkslistmodel.h"

namespace Batch {

namespace {

    // Live texts carry a percentage and finished ones a reason: a few hundred kinds over a run. The
    // bound keeps a run of texts that never repeat from growing the set; rows keep what they hold.
    constexpr qsizetype MaxSharedTexts = 4096;

} // namespace

QString LinksListModel::Row::id() const { return QString::fromUtf8(idAndUrl.constData(), idBytes); }

QString LinksListModel::Row::url() const
{
    return QString::fromUtf8(idAndUrl.constData() + idBytes, idAndUrl.size() - idBytes);
}

QString LinksListModel::header(int column)
{
    switch (column) {
    case NumberColumn:
        return QStringLiteral("#");
    case IdColumn:
        return QStringLiteral("ID");
    case UrlColumn:
        return QStringLiteral("URL");
    case StatusColumn:
        return QStringLiteral("Status");
    default:
        return {};
    }
}

LinksListModel::LinksListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int LinksListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int LinksListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LinksListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case NumberColumn:
            return QString::number(row.number);
        case IdColumn:
            return row.id();
        case UrlColumn:
            return row.url();
        case StatusColumn:
            return row.status;
        default:
            return {};
        }
    }
    if (role == Qt::ForegroundRole) {
        const QRgb color = row.colors[static_cast<size_t>(index.column())];
        if (qAlpha(color) != 0)
            return QColor::fromRgba(color);
    }
    return {};
}

QVariant LinksListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return header(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

LinksListModel::RowKey LinksListModel::appendRow(qint32 lineNumber, const QString& id, const QString& url)
{
    const int at = static_cast<int>(m_rows.size());
    const QByteArray idBytes = id.toUtf8();
    beginInsertRows({}, at, at);
    m_rows.push_back(Row { idBytes + url.toUtf8(), lineNumber, qint32(idBytes.size()), {}, {} });
    endInsertRows();
    return m_firstKey + static_cast<RowKey>(at);
}

void LinksListModel::removeFirstRow()
{
    if (m_rows.empty())
        return;
    beginRemoveRows({}, 0, 0);
    m_rows.pop_front();
    ++m_firstKey;
    endRemoveRows();
}

void LinksListModel::clear()
{
    beginResetModel();
    // Keys go on counting, so a key handed out before the clear never finds a new row.
    m_firstKey += m_rows.size();
    m_rows.clear();
    m_statusTexts.clear();
    endResetModel();
}

int LinksListModel::rowOf(RowKey key) const
{
    if (key < m_firstKey || key - m_firstKey >= m_rows.size())
        return -1;
    return static_cast<int>(key - m_firstKey);
}

const LinksListModel::Row* LinksListModel::rowFor(RowKey key) const
{
    const int row = rowOf(key);
    return row < 0 ? nullptr : &m_rows[static_cast<size_t>(row)];
}

void LinksListModel::setStatus(RowKey key, const QString& text)
{
    const int row = rowOf(key);
    if (row < 0)
        return;
    QString& status = m_rows[static_cast<size_t>(row)].status;
    if (status == text)
        return;
    status = shared(text);
    const QModelIndex cell = index(row, StatusColumn);
    Q_EMIT dataChanged(cell, cell, { Qt::DisplayRole, Qt::ToolTipRole });
}

void LinksListModel::setCellColor(RowKey key, int column, QColor color)
{
    const int row = rowOf(key);
    if (row < 0 || column < 0 || column >= ColumnCount)
        return;
    m_rows[static_cast<size_t>(row)].colors[static_cast<size_t>(column)] = color.isValid() ? color.rgba() : QRgb(0);
    const QModelIndex cell = index(row, column);
    Q_EMIT dataChanged(cell, cell, { Qt::ForegroundRole });
}

QString LinksListModel::status(RowKey key) const
{
    const Row* row = rowFor(key);
    return row ? row->status : QString();
}

QString LinksListModel::url(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return {};
    return m_rows[static_cast<size_t>(row)].url();
}

QString LinksListModel::shared(const QString& text)
{
    if (const auto found = m_statusTexts.constFind(text); found != m_statusTexts.cend())
        return *found;
    if (m_statusTexts.size() >= MaxSharedTexts)
        m_statusTexts.clear();
    m_statusTexts.insert(text);
    return text;
}

QColor LinksListModel::cellColor(RowKey key, int column) const
{
    const Row* row = rowFor(key);
    if (!row || column < 0 || column >= ColumnCount)
        return {};
    const QRgb color = row->colors[static_cast<size_t>(column)];
    return qAlpha(color) ? QColor::fromRgba(color) : QColor();
}

void SetListItemColor(LinksListModel& rows, LinksListModel::RowKey row, int column, QColor color)
{
    rows.setCellColor(row, column, color);
}

} // namespace Batch
