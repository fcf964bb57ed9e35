#include "imaging/watermark.h"

#include "imaging/pictureviewerpro.h"

namespace Imaging {

Common::Status applyColourConversions(PictureViewerPro& viewer, const WatermarkOptions& options)
{
    if (options.WatermarkGray != 0) {
        if (auto ok = viewer.convertToGray(); !ok)
            return ok;
    }
    if (options.WatermarkBlackWhite != 0)
        return viewer.convertToBlackWhite();
    return Common::success();
}

Common::Status applyImageWatermark(PictureViewerPro& viewer, const WatermarkOptions& options)
{
    if (options.WatermarkImage.isEmpty())
        return Common::success();
    return viewer.stampImage(options.WatermarkImage, options.WatermarkImageLeft, options.WatermarkImageTop,
        options.WatermarkImageWidth, options.WatermarkImageHeight);
}

Common::Status applyTextWatermark(PictureViewerPro& viewer, const WatermarkOptions& options)
{
    if (options.WatermarkText.isEmpty())
        return Common::success();
    viewer.setFontName(options.WatermarkFontname);
    viewer.setFontSize(options.WatermarkFontSize);
    viewer.setFontBold(options.WatermarkFontBold);
    viewer.setFontItalic(options.WatermarkFontItalic);
    viewer.setTextColor(options.WatermarkForeColor);
    const int x = options.WatermarkX;
    const int y = options.WatermarkY;
    const QString& text = options.WatermarkText;
    switch (options.WatermarkStyle) {
    case 0:
        return viewer.drawText(x, y, text);
    case 1:
        return viewer.drawOutlineText(x, y, text);
    case 2:
        return viewer.drawFillOutlineText(x, y, text, options.WatermarkStyleColor);
    case 3:
        return viewer.drawShadowText(x, y, text, options.WatermarkStyleColor);
    case 4:
        return viewer.drawWatermarkText(x, y, text);
    default:
        // A style written into the store by hand: the font is set, but there is no drawing for it.
        return Common::success();
    }
}

Common::Status ApplyWatermark(PictureViewerPro& viewer, const WatermarkOptions& options)
{
    if (auto ok = applyColourConversions(viewer, options); !ok)
        return ok;
    if (auto ok = applyImageWatermark(viewer, options); !ok)
        return ok;
    return applyTextWatermark(viewer, options);
}

} // namespace Imaging
