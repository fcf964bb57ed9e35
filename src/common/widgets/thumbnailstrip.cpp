#include "common/widgets/thumbnailstrip.h"

#include <QPalette>

#include "common/thumbnailmodel.h"

namespace Common {

ThumbnailStrip::ThumbnailStrip(QWidget* parent)
    : QListView(parent)
{
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

} // namespace Common
