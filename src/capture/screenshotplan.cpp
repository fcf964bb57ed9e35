#include "capture/screenshotplan.h"

#include <algorithm>
#include <cmath>

#include "capture/capturedimage.h"
#include "imaging/imagebytes.h"

namespace Capture {

namespace {

    constexpr int kLayoutWidth = 1024;
    constexpr int kLayoutHeight = 768;

} // namespace

QSize ScreenshotSettings::viewport() const
{
    return { snapWidth > 0 ? snapWidth : kLayoutWidth, snapHeight > 0 ? snapHeight : kLayoutHeight };
}

bool ScreenshotSettings::exactViewport() const { return dimensionAsImageSize && snapWidth > 0 && snapHeight > 0; }

bool ScreenshotSettings::forThumbnail() const
{
    return pictureFile.isEmpty() && thumbnailHint.isValid() && !thumbnailHint.isEmpty();
}

ScreenshotPlan planScreenshot(const ScreenshotSettings& settings, const QJsonObject& layoutMetrics)
{
    const QSize view = settings.viewport();
    int width = view.width();
    int height = view.height();
    if (!layoutMetrics.isEmpty()) {
        const QJsonObject content = layoutMetrics.value(QLatin1String("cssContentSize")).toObject();
        const int contentWidth = static_cast<int>(std::ceil(content.value(QLatin1String("width")).toDouble()));
        const int contentHeight = static_cast<int>(std::ceil(content.value(QLatin1String("height")).toDouble()));
        if (!(settings.dimensionAsImageSize && settings.snapWidth > 0))
            width = std::max(view.width(), contentWidth);
        if (!(settings.dimensionAsImageSize && settings.snapHeight > 0))
            height = std::max(view.height(), contentHeight);
        width = std::clamp(width, 1, ScreenshotSettings::MaxExtent);
        height = std::clamp(height, 1, ScreenshotSettings::MaxExtent);
    }

    ScreenshotPlan plan;
    plan.format = QStringLiteral("jpeg");
    if (!settings.pictureFile.isEmpty()) {
        const QByteArray fileFormat = Imaging::writerFormatFor(settings.pictureFile);
        plan.format
            = (fileFormat == "jpeg" || fileFormat == "webp") ? QString::fromLatin1(fileFormat) : QStringLiteral("png");
    }
    plan.params.insert(QStringLiteral("format"), plan.format);
    if (plan.format != QLatin1String("png"))
        plan.params.insert(QStringLiteral("quality"), settings.jpegQuality);
    double scale = settings.zoom;
    if (settings.forThumbnail()) {
        const QSize hint = settings.thumbnailHint;
        scale = std::clamp(std::max(double(hint.width()) / width, double(hint.height()) / height), 0.01, 1.0);
    }
    plan.imageSize = QSize(width, height);
    const bool beyondViewport = width > view.width() || height > view.height();
    if (beyondViewport || scale != 1.0) {
        plan.params.insert(QStringLiteral("captureBeyondViewport"), beyondViewport);
        plan.params.insert(QStringLiteral("clip"),
            QJsonObject { { QStringLiteral("x"), 0 }, { QStringLiteral("y"), 0 }, { QStringLiteral("width"), width },
                { QStringLiteral("height"), height }, { QStringLiteral("scale"), scale } });
        plan.imageSize = QSize(std::max(1, static_cast<int>(std::lround(width * scale))),
            std::max(1, static_cast<int>(std::lround(height * scale))));
    }
    return plan;
}

QSize reducedPictureSize(const ScreenshotSettings& settings, QSize imageSize)
{
    if (!settings.forThumbnail())
        return {};
    const QSize reduced
        = Imaging::scaledSize(imageSize, settings.thumbnailHint.width(), settings.thumbnailHint.height(), false);
    return withinDecodeLimit(reduced) ? reduced : QSize();
}

} // namespace Capture
