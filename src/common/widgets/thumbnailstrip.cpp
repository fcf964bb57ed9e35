#include "common/widgets/thumbnailstrip.h"

#include <QPalette>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "common/thumbnailmodel.h"

namespace Common {

namespace {

    // Every item takes its whole grid cell, whether or not its thumbnail is decoded yet: an item laid
    // out while still without a picture would otherwise keep a text-only rectangle and clip the picture.
    class CellDelegate final : public QStyledItemDelegate {
    public:
        explicit CellDelegate(QListView* view)
            : QStyledItemDelegate(view)
            , m_view(view)
        {
        }
        QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
        {
            const QSize cell = m_view->gridSize();
            if (!cell.isValid())
                return QStyledItemDelegate::sizeHint(option, index);
            return cell - QSize(2 * m_view->spacing(), 2 * m_view->spacing());
        }

    private:
        QListView* m_view;
    };

} // namespace

ThumbnailStrip::ThumbnailStrip(QWidget* parent)
    : QListView(parent)
{
    setItemDelegate(new CellDelegate(this));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideMiddle);
    connect(this, &QListView::activated, this, [this](const QModelIndex& index) {
        const QString caption = index.data(Qt::DisplayRole).toString();
        if (!caption.isEmpty())
            Q_EMIT captionActivated(caption);
    });
}

void ThumbnailStrip::setThumbnailModel(ThumbnailModel* model) { setModel(model); }

void ThumbnailStrip::SetViewerOptions(QSize thumbnailSize)
{
    QPalette colours = palette();
    for (const QPalette::ColorRole role :
        { QPalette::Base, QPalette::Window, QPalette::AlternateBase, QPalette::Button })
        colours.setColor(role, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
    QFont captions(QStringLiteral("Arial"));
    captions.setPointSize(8);
    setFont(captions);
    setIconSize(thumbnailSize);
    setGridSize(thumbnailSize + QSize(24, 2 * fontMetrics().height() + 12));
    setSpacing(4);
}

void ThumbnailStrip::setFollowsNewest(bool on) { m_followsNewest = on; }

void ThumbnailStrip::rowsInserted(const QModelIndex& parent, int start, int end)
{
    // Judged before the new thumbnails widen the strip: the scroll bars still show where the user left it.
    const bool follow = m_followsNewest && !m_followPending && showsEnd();
    QListView::rowsInserted(parent, start, end);
    if (!follow)
        return;
    m_followPending = true;
    QMetaObject::invokeMethod(this, &ThumbnailStrip::showNewest, Qt::QueuedConnection);
}

bool ThumbnailStrip::showsEnd() const
{
    return horizontalScrollBar()->value() >= horizontalScrollBar()->maximum()
        && verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void ThumbnailStrip::showNewest()
{
    m_followPending = false;
    const int rows = model() ? model()->rowCount() : 0;
    if (rows == 0)
        return;
    // Lays the strip out first, so that the scroll bars' ends are the new thumbnails'.
    scrollTo(model()->index(rows - 1, 0));
    horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

} // namespace Common
