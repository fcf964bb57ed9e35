#pragma once

#include <QJsonObject>
#include <QSize>
#include <QString>

namespace Capture {

// How a capture's picture is to come out of the browser: the engine's settings that shape it.
struct ScreenshotSettings final {
    // Pages taller or wider than this are captured up to it.
    static constexpr int MaxExtent = 16384;

    // The browser window in pixels; 0 lays the page out 1024 x 768 and takes its full extent.
    int snapWidth = 0;
    int snapHeight = 0;
    // The image is exactly the window in each direction the window is set.
    bool dimensionAsImageSize = false;
    // Empty: the picture stays in memory. Otherwise the file it goes to, whose ending picks the format.
    QString pictureFile;
    int jpegQuality = 100;
    double zoom = 1.0;
    // The thumbnail an in-memory picture is made for; invalid or empty for a full-size picture.
    QSize thumbnailHint;

    // The window the page is laid out in.
    QSize viewport() const;
    // The window set in both directions and taken as the image: the page's layout need not be measured.
    bool exactViewport() const;
    // An in-memory picture for a thumbnail of a known size.
    bool forThumbnail() const;
};

// One Page.captureScreenshot call and the picture it brings.
struct ScreenshotPlan final {
    QJsonObject params;
    // What the browser encodes: "jpeg", "png" or "webp".
    QString format;
    QSize imageSize;
};

// layoutMetrics: the page's Page.getLayoutMetrics reply, or empty when it was not measured (the window
// alone is then captured). A picture for a thumbnail is rendered at the smallest scale that still
// covers the thumbnail, which costs the browser a fraction of a full-size one.
ScreenshotPlan planScreenshot(const ScreenshotSettings& settings, const QJsonObject& layoutMetrics);

// The size at which a picture of imageSize is decoded once for its thumbnail and the blank check;
// invalid when the picture is not for a thumbnail or the size is beyond what may be decoded.
QSize reducedPictureSize(const ScreenshotSettings& settings, QSize imageSize);

} // namespace Capture
