#pragma once

#include <QImage>
#include <QWidget>

#include "imaging/pictureviewerpro.h"

namespace Imaging {

// Shows one image at a zoom factor on a white background, top left, and asks for exactly the room that
// takes, so a scroll area around it scrolls. It only displays: the image and its zoom come from the
// picture viewer's holder (PictureViewerPro::image() and zoom()), which owns every change.
class PictureDisplay final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PictureDisplay)

public:
    explicit PictureDisplay(QWidget* parent = nullptr);

    // An empty image shows only the background. Zoom 1.0 is 100%; it is kept within 0.01..100.
    void setPicture(const QImage& image, double zoom = 1.0);
    void clear();
    const QImage& picture() const;
    double zoom() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize displayedSize() const;

    QImage m_image;
    double m_zoom = 1.0;
};

// Puts copied images on the desktop clipboard; the shell hands it to PictureViewerPro::copyToClipboard.
class DesktopImageClipboard final : public ImageClipboard {
public:
    void setImage(const QImage& image) override;
};

} // namespace Imaging
