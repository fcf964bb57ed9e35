#pragma once

#include <QString>
#include <QtGlobal>

#include "common/result.h"

namespace Imaging {

class PictureViewerPro;

// The watermark settings (colours 0x00BBGGRR), named as the live settings and defaulting as they do;
// read afresh for every image.
struct WatermarkOptions final {
    qint32 WatermarkGray = 0;
    qint32 WatermarkBlackWhite = 0;
    QString WatermarkImage;
    qint32 WatermarkImageLeft = 1;
    qint32 WatermarkImageTop = 1;
    qint32 WatermarkImageWidth = 30;
    qint32 WatermarkImageHeight = 25;
    QString WatermarkText = QStringLiteral("Corvane");
    qint32 WatermarkX = 4;
    qint32 WatermarkY = 4;
    QString WatermarkFontname = QStringLiteral("Arial");
    qint32 WatermarkFontSize = 9;
    qint32 WatermarkForeColor = 255;
    bool WatermarkFontBold = true;
    bool WatermarkFontItalic = false;
    qint32 WatermarkStyle = 4;
    qint32 WatermarkStyleColor = 65535;
};

// The steps one after the other; each returns the first error of its viewer operations.
// Grey when WatermarkGray is not 0, then black and white when WatermarkBlackWhite is not 0.
Common::Status applyColourConversions(PictureViewerPro& viewer, const WatermarkOptions& options);
// Stamps WatermarkImage into its rectangle when the path is not empty (the file is not tested first).
Common::Status applyImageWatermark(PictureViewerPro& viewer, const WatermarkOptions& options);
// With a text: sets font name, size, bold, italic and colour, then draws in style 0..4; any other
// style draws nothing.
Common::Status applyTextWatermark(PictureViewerPro& viewer, const WatermarkOptions& options);

// The thumbnail order: conversions, then the image stamp, then the text on top of it. The first
// failing step ends the rest.
Common::Status ApplyWatermark(PictureViewerPro& viewer, const WatermarkOptions& options);

template <typename Settings> WatermarkOptions watermarkOptionsFrom(const Settings& s)
{
    WatermarkOptions o;
    o.WatermarkGray = s.WatermarkGray;
    o.WatermarkBlackWhite = s.WatermarkBlackWhite;
    o.WatermarkImage = s.WatermarkImage;
    o.WatermarkImageLeft = s.WatermarkImageLeft;
    o.WatermarkImageTop = s.WatermarkImageTop;
    o.WatermarkImageWidth = s.WatermarkImageWidth;
    o.WatermarkImageHeight = s.WatermarkImageHeight;
    o.WatermarkText = s.WatermarkText;
    o.WatermarkX = s.WatermarkX;
    o.WatermarkY = s.WatermarkY;
    o.WatermarkFontname = s.WatermarkFontname;
    o.WatermarkFontSize = s.WatermarkFontSize;
    o.WatermarkForeColor = s.WatermarkForeColor;
    o.WatermarkFontBold = s.WatermarkFontBold;
    o.WatermarkFontItalic = s.WatermarkFontItalic;
    o.WatermarkStyle = s.WatermarkStyle;
    o.WatermarkStyleColor = s.WatermarkStyleColor;
    return o;
}

} // namespace Imaging
