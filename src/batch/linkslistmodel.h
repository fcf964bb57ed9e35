#pragma once

#include <array>
#include <deque>

#include <QAbstractTableModel>
#include <QColor>
#include <QSet>

namespace Batch {

// The rows of the links list: line number, link ID, URL and the live status of each link of a run.
// Built for a million rows: rows live in a deque, appending and trimming the oldest row are cheap,
// and a row keeps a stable key (its serial number) while rows before it are trimmed away. A row holds
// its ID and URL as one UTF-8 block, and rows with the same status text share one copy of it: a run's
// list grows by a link's bytes and little more.
class LinksListModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinksListModel)

public:
    enum Column { NumberColumn = 0, IdColumn, UrlColumn, StatusColumn, ColumnCount };
    // The "#" header, the "ID" header...; their widths at start, in twips.
    static QString header(int column);
    static constexpr int NumberColumnTwips = 1000;
    static constexpr int IdColumnTwips = 1500;

    using RowKey = quint64;

    explicit LinksListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Adds a row at the bottom and returns its key.
    RowKey appendRow(qint32 lineNumber, const QString& id, const QString& url);
    // Removes the oldest row (the top one), if any.
    void removeFirstRow();
    void clear();

    // The row's current position, or -1 when it has been trimmed away or cleared.
    int rowOf(RowKey key) const;
    bool contains(RowKey key) const { return rowOf(key) >= 0; }

    // Changing a row that is gone is harmless: nothing happens.
    void setStatus(RowKey key, const QString& text);
    void setCellColor(RowKey key, int column, QColor color);

    QString status(RowKey key) const;
    QString url(int row) const;
    QColor cellColor(RowKey key, int column) const;

private:
    struct Row {
        QByteArray idAndUrl; // the ID's UTF-8 bytes, then the URL's
        qint32 number = 0;
        qint32 idBytes = 0;
        QString status;
        std::array<QRgb, ColumnCount> colors {}; // alpha 0: the view's own colour

        QString id() const;
        QString url() const;
    };

    const Row* rowFor(RowKey key) const;
    // The shared copy of a status text several rows show.
    QString shared(const QString& text);

    std::deque<Row> m_rows;
    QSet<QString> m_statusTexts;
    RowKey m_firstKey = 0; // key of m_rows.front()
};

// Sets the text colour of one cell of a row; a row that is gone is left alone.
void SetListItemColor(LinksListModel& rows, LinksListModel::RowKey row, int column, QColor color);

} // namespace Batch
