#include "shell/linksview.h"

#include <QHeaderView>
#include <QPainter>

#include "batch/linkslistmodel.h"
#include "common/windowgeometry.h"

namespace Shell {

LinksView::LinksView(QWidget* parent)
    : QTableView(parent)
{
    setObjectName(QStringLiteral("lvwLinks"));
    // A table with fixed row heights and no row header: a long run's rows cost no layout at all.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void LinksView::setLinksModel(Batch::LinksListModel* model)
{
    using Batch::LinksListModel;
    setModel(model);
    horizontalHeader()->resizeSection(
        LinksListModel::NumberColumn, Common::toPixels(LinksListModel::NumberColumnTwips));
    horizontalHeader()->resizeSection(LinksListModel::IdColumn, Common::toPixels(LinksListModel::IdColumnTwips));
}

void LinksView::setSharedColumnsWidth(int width)
{
    horizontalHeader()->resizeSection(Batch::LinksListModel::UrlColumn, width);
    horizontalHeader()->resizeSection(Batch::LinksListModel::StatusColumn, width);
}

void LinksView::setPlaceholderText(const QString& text)
{
    m_placeholderText = text;
    viewport()->update();
}

void LinksView::followNewestRow()
{
    // A run adds rows in bursts; scrolling once per burst keeps the view from laying out every row.
    if (m_followPending)
        return;
    m_followPending = true;
    QMetaObject::invokeMethod(this, &LinksView::showNewestRow, Qt::QueuedConnection);
}

void LinksView::showNewestRow()
{
    m_followPending = false;
    if (const int rows = model() ? model()->rowCount() : 0; rows > 0)
        scrollTo(model()->index(rows - 1, 0));
}

void LinksView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (m_placeholderText.isEmpty() || (model() && model()->rowCount() > 0))
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int margin = fontMetrics().height();
    painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap,
        m_placeholderText);
}

} // namespace Shell
