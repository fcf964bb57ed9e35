#include "imaging/widgets/picturedisplay.h"

#include <algorithm>
#include <cmath>

#include <QClipboard>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>

namespace Imaging {

PictureDisplay::PictureDisplay(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PictureDisplay::setPicture(const QImage& image, double zoom)
{
    m_image = image;
    m_zoom = std::isfinite(zoom) ? std::clamp(zoom, 0.01, 100.0) : 1.0;
    resize(sizeHint());
    updateGeometry();
    update();
}

void PictureDisplay::clear() { setPicture(QImage(), m_zoom); }

const QImage& PictureDisplay::picture() const { return m_image; }

double PictureDisplay::zoom() const { return m_zoom; }

QSize PictureDisplay::displayedSize() const
{
    if (m_image.isNull())
        return {};
    return QSize(std::max(1, int(std::lround(m_image.width() * m_zoom))),
        std::max(1, int(std::lround(m_image.height() * m_zoom))));
}

QSize PictureDisplay::sizeHint() const
{
    const QSize shown = displayedSize();
    return shown.isEmpty() ? QSize(1, 1) : shown;
}

void PictureDisplay::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    if (m_image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_zoom < 1.0);
    painter.drawImage(QRect(QPoint(0, 0), displayedSize()), m_image);
}

void DesktopImageClipboard::setImage(const QImage& image)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setImage(image);
}

} // namespace Imaging
