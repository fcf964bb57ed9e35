#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <QColor>
#include <QCoreApplication>
#include <QTransform>

#include "imaging/imagefile.h"
#include "imaging/pixelops.h"
#include "imaging/pixtwix.h"

namespace Imaging {

namespace {

    using PixelOps::clampByte;
    using PixelOps::edgeDistance;
    using PixelOps::error;
    using PixelOps::mix;

    QString tr(const char* text) { return QCoreApplication::translate("Imaging", text); }

    constexpr float DegreesToRadians = std::numbers::pi_v<float> / 180.0f;

    Common::Status checkSize(int size)
    {
        if (size < 0 || size > MaxImageSide)
            return error(tr("The size %1 is outside 0..%2.").arg(size).arg(MaxImageSide));
        return Common::success();
    }

    // Validates the colour and the working picture together, the common preamble of every effect.
    Common::Status prepare(const QImage& picture, int red, int green, int blue)
    {
        if (auto bad = PixelOps::checkColour(red, green, blue))
            return *bad;
        if (picture.isNull())
            return error(tr("There is no working picture."));
        return Common::success();
    }

    std::uint32_t seedFor(const QImage& image, std::uint32_t salt)
    {
        return std::uint32_t(image.width()) * 73856093u ^ std::uint32_t(image.height()) * 19349663u ^ salt;
    }

    // Which side of the image a border pixel belongs to; the top and left sides win at the mitres.
    enum class Side { Top, Right, Bottom, Left };

    Side sideOf(int x, int y, int width, int height)
    {
        const int top = y;
        const int left = x;
        const int bottom = height - 1 - y;
        const int right = width - 1 - x;
        const int nearest = std::min({ top, left, bottom, right });
        if (nearest == top)
            return Side::Top;
        if (nearest == left)
            return Side::Left;
        if (nearest == bottom)
            return Side::Bottom;
        return Side::Right;
    }

    QPointF rotateAbout(float x, float y, float centreX, float centreY, float radians)
    {
        // Maps an output position to the source position for a counter-clockwise turn as seen on
        // screen, where y grows downwards.
        const float dx = x - centreX;
        const float dy = y - centreY;
        const float c = std::cos(radians);
        const float s = std::sin(radians);
        return { double(centreX + dx * c - dy * s), double(centreY + dx * s + dy * c) };
    }

    // A random walk of depths between low and high, one per position along a side.
    std::vector<int> raggedEdge(int length, int low, int high, PixelOps::Noise& noise)
    {
        std::vector<int> depths(static_cast<size_t>(std::max(length, 0)));
        int depth = noise.between(low, high);
        for (auto& d : depths) {
            depth = std::clamp(depth + noise.between(-2, 2), low, high);
            d = depth;
        }
        return depths;
    }

    // Offsets spanning at most size pixels (half of it either way) at a few control points along the
    // side, joined by straight segments, so the picture bends in a few places rather than tearing.
    std::vector<float> shearOffsets(int length, int size, PixelOps::Noise& noise)
    {
        const int spacing = std::max(4, length / 4);
        const int points = length / spacing + 2;
        std::vector<float> controls(static_cast<size_t>(points));
        for (auto& c : controls)
            c = float(noise.between(0, size)) - float(size) / 2.0f;
        std::vector<float> offsets(static_cast<size_t>(std::max(length, 0)));
        for (int i = 0; i < length; ++i) {
            const int k = i / spacing;
            const float t = float(i % spacing) / float(spacing);
            offsets[size_t(i)] = controls[size_t(k)] * (1 - t) + controls[size_t(k + 1)] * t;
        }
        return offsets;
    }

} // namespace

Common::Status PixTwix::erodeBorder(int size, int red, int green, int blue)
{
    trace("erodeBorder", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    const QRgb fill = qRgb(red, green, blue);
    PixelOps::Noise noise(seedFor(m_picture, 0xe0de));
    const int width = m_picture.width();
    const int height = m_picture.height();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int d = edgeDistance(x, y, width, height);
            if (d >= size)
                continue;
            // The chance of being eaten falls off with the distance to the edge.
            const float chance = std::pow(1.0f - float(d) / float(size), 1.5f);
            if (noise.unit() < chance)
                line[x] = fill;
        }
    }
    return Common::success();
}

Common::Status PixTwix::fadeBorder(int size, int red, int green, int blue)
{
    trace("fadeBorder", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    const QRgb fill = qRgb(red, green, blue);
    const int width = m_picture.width();
    const int height = m_picture.height();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int d = edgeDistance(x, y, width, height);
            if (d < size)
                line[x] = mix(fill, line[x], (float(d) + 0.5f) / float(size));
        }
    }
    return Common::success();
}

Common::Status PixTwix::fishEye(int red, int green, int blue)
{
    trace("fishEye", { double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const float rx = float(m_picture.width()) / 2;
    const float ry = float(m_picture.height()) / 2;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            const float nx = (x - rx) / rx;
            const float ny = (y - ry) / ry;
            const float r = std::hypot(nx, ny);
            if (r > 1.0f)
                return std::nullopt;
            // Twice the magnification at the centre, none at the rim.
            const float scale = 0.5f + 0.5f * r;
            return QPointF(double(rx + nx * scale * rx), double(ry + ny * scale * ry));
        });
    return Common::success();
}

Common::Status PixTwix::frameSolid(int size, int red, int green, int blue, int red1, int green1, int blue1)
{
    trace("frameSolid",
        { double(size), double(red), double(green), double(blue), double(red1), double(green1), double(blue1) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto bad = PixelOps::checkColour(red1, green1, blue1))
        return *bad;
    if (auto ok = checkSize(size); !ok)
        return ok;
    const QRgb first = qRgb(red, green, blue);
    const QRgb second = qRgb(red1, green1, blue1);
    const int width = m_picture.width();
    const int height = m_picture.height();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int d = edgeDistance(x, y, width, height);
            if (d >= size)
                continue;
            const Side side = sideOf(x, y, width, height);
            QRgb colour = side == Side::Top || side == Side::Left ? first : second;
            // A thin line of the other colour on the outer and inner rims gives the bevel.
            if (size >= 4 && (d == 0 || d == size - 1))
                colour = mix(colour, side == Side::Top || side == Side::Left ? second : first, 0.5f);
            line[x] = colour;
        }
    }
    return Common::success();
}

Common::Status PixTwix::frameFromSlice(bool stretch)
{
    trace("frameFromSlice", { double(stretch) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    if (m_secondary.isNull())
        return error(tr("There is no frame slice picture."));
    QImage slice = m_secondary;
    if (slice.height() > slice.width())
        slice = normalizedImage(slice.transformed(QTransform().rotate(90)));
    const int width = m_picture.width();
    const int height = m_picture.height();
    const int thickness = std::min(slice.height(), std::max(1, std::min(width, height) / 4));
    const auto scaledFor = [&](int length) {
        const int tile = stretch
            ? length
            : std::max(1, int(std::lround(double(slice.width()) * thickness / std::max(1, slice.height()))));
        return normalizedImage(slice.scaled(tile, thickness, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    };
    const QImage horizontal = scaledFor(width);
    const QImage vertical = scaledFor(height);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (edgeDistance(x, y, width, height) >= thickness)
                continue;
            // The slice runs clockwise around the image with its first row on the outside.
            int along = 0;
            int depth = 0;
            const QImage* strip = &horizontal;
            switch (sideOf(x, y, width, height)) {
            case Side::Top:
                along = x;
                depth = y;
                break;
            case Side::Right:
                along = y;
                depth = width - 1 - x;
                strip = &vertical;
                break;
            case Side::Bottom:
                along = width - 1 - x;
                depth = height - 1 - y;
                break;
            case Side::Left:
                along = height - 1 - y;
                depth = x;
                strip = &vertical;
                break;
            }
            const QRgb p = reinterpret_cast<const QRgb*>(strip->constScanLine(depth))[along % strip->width()];
            line[x] = mix(line[x], qRgba(qRed(p), qGreen(p), qBlue(p), 255), float(qAlpha(p)) / 255.0f);
        }
    }
    return Common::success();
}

Common::Status PixTwix::irregularBorder(int size, int red, int green, int blue)
{
    trace("irregularBorder", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    if (size == 0)
        return Common::success();
    const QRgb fill = qRgb(red, green, blue);
    const int width = m_picture.width();
    const int height = m_picture.height();
    PixelOps::Noise noise(seedFor(m_picture, 0x1b0d));
    const int low = std::max(1, size / 3);
    const auto top = raggedEdge(width, low, size, noise);
    const auto bottom = raggedEdge(width, low, size, noise);
    const auto left = raggedEdge(height, low, size, noise);
    const auto right = raggedEdge(height, low, size, noise);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (y < top[size_t(x)] || height - 1 - y < bottom[size_t(x)] || x < left[size_t(y)]
                || width - 1 - x < right[size_t(y)])
                line[x] = fill;
        }
    }
    return Common::success();
}

Common::Status PixTwix::shadowCanvas(int canvasWidth, int canvasHeight, int imageLeft, int imageTop, int red, int green,
    int blue, int shadowX, int shadowY, int blur, int shadowRed, int shadowGreen, int shadowBlue)
{
    trace("shadowCanvas",
        { double(canvasWidth), double(canvasHeight), double(imageLeft), double(imageTop), double(red), double(green),
            double(blue), double(shadowX), double(shadowY), double(blur), double(shadowRed), double(shadowGreen),
            double(shadowBlue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto bad = PixelOps::checkColour(shadowRed, shadowGreen, shadowBlue))
        return *bad;
    if (canvasWidth < 1 || canvasHeight < 1 || canvasWidth > MaxImageSide || canvasHeight > MaxImageSide
        || qint64(canvasWidth) * canvasHeight > MaxImagePixels)
        return error(tr("Cannot make a canvas of %1 x %2 pixels.").arg(canvasWidth).arg(canvasHeight));
    if (blur < 0 || blur > 255)
        return error(tr("The shadow blur %1 is outside 0..255.").arg(blur));

    QImage canvas(canvasWidth, canvasHeight, QImage::Format_RGB32);
    canvas.fill(qRgb(red, green, blue));
    const QRect imageRect(imageLeft, imageTop, m_picture.width(), m_picture.height());
    const QRect canvasRect = canvas.rect();

    std::vector<std::uint8_t> mask(size_t(canvasWidth) * size_t(canvasHeight), 0);
    const QRect shadowRect = imageRect.translated(shadowX, shadowY).intersected(canvasRect);
    for (int y = shadowRect.top(); y <= shadowRect.bottom(); ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(m_picture.constScanLine(y - imageRect.top() - shadowY));
        for (int x = shadowRect.left(); x <= shadowRect.right(); ++x)
            mask[size_t(y) * size_t(canvasWidth) + size_t(x)]
                = std::uint8_t(qAlpha(source[x - imageRect.left() - shadowX]));
    }
    // Three box passes of a third of the blur spread the shadow's edge over about blur pixels.
    PixelOps::blurChannel(mask, canvasWidth, canvasHeight, (blur + 2) / 3);

    const QRgb shadow = qRgb(shadowRed, shadowGreen, shadowBlue);
    for (int y = 0; y < canvasHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < canvasWidth; ++x) {
            const std::uint8_t m = mask[size_t(y) * size_t(canvasWidth) + size_t(x)];
            if (m)
                line[x] = mix(line[x], shadow, float(m) / 255.0f);
        }
    }
    const QRect visible = imageRect.intersected(canvasRect);
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        const auto* source = reinterpret_cast<const QRgb*>(m_picture.constScanLine(y - imageRect.top()));
        for (int x = visible.left(); x <= visible.right(); ++x) {
            const QRgb p = source[x - imageRect.left()];
            line[x] = qAlpha(p) == 255 ? p : mix(line[x], p | 0xff000000u, float(qAlpha(p)) / 255.0f);
        }
    }
    m_picture = canvas;
    return Common::success();
}

Common::Status PixTwix::perspectiveHorizontal(int size, int red, int green, int blue)
{
    trace("perspectiveHorizontal", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    const float width = float(m_picture.width());
    const float height = float(m_picture.height());
    const float shrink = std::min(float(size), height - 1.0f) / height;
    const float centreY = height / 2;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            const float t = std::clamp(x / width, 0.0f, 1.0f);
            const float scale = 1.0f - shrink * t;
            return QPointF(double(x), double(centreY + (y - centreY) / scale));
        });
    return Common::success();
}

Common::Status PixTwix::perspectiveVertical(int size, int red, int green, int blue)
{
    trace("perspectiveVertical", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    const float width = float(m_picture.width());
    const float height = float(m_picture.height());
    const float shrink = std::min(float(size), width - 1.0f) / width;
    const float centreX = width / 2;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            const float t = std::clamp(y / height, 0.0f, 1.0f);
            const float scale = 1.0f - shrink * t;
            return QPointF(double(centreX + (x - centreX) / scale), double(y));
        });
    return Common::success();
}

Common::Status PixTwix::randomShearHorizontal(int size, int red, int green, int blue)
{
    trace("randomShearHorizontal", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    PixelOps::Noise noise(seedFor(m_picture, 0x5ea1));
    const auto offsets = shearOffsets(m_picture.height(), size, noise);
    m_picture = PixelOps::remap(m_picture, m_picture.size(), qRgb(red, green, blue),
        [&](float x, float y) -> std::optional<QPointF> { return QPointF(double(x - offsets[size_t(y)]), double(y)); });
    return Common::success();
}

Common::Status PixTwix::randomShearVertical(int size, int red, int green, int blue)
{
    trace("randomShearVertical", { double(size), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (auto ok = checkSize(size); !ok)
        return ok;
    PixelOps::Noise noise(seedFor(m_picture, 0x5ea2));
    const auto offsets = shearOffsets(m_picture.width(), size, noise);
    m_picture = PixelOps::remap(m_picture, m_picture.size(), qRgb(red, green, blue),
        [&](float x, float y) -> std::optional<QPointF> { return QPointF(double(x), double(y - offsets[size_t(x)])); });
    return Common::success();
}

Common::Status PixTwix::rotate(int centreX, int centreY, float angle, int red, int green, int blue)
{
    trace("rotate", { double(centreX), double(centreY), double(angle), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (!std::isfinite(angle))
        return error(tr("The rotation angle is not a number."));
    const float radians = std::fmod(angle, 360.0f) * DegreesToRadians;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            return rotateAbout(x, y, float(centreX), float(centreY), radians);
        });
    return Common::success();
}

Common::Status PixTwix::skewHorizontally(float angle, int red, int green, int blue)
{
    trace("skewHorizontally", { double(angle), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const float radians = std::fmod(angle, 360.0f) * DegreesToRadians;
    if (!std::isfinite(angle) || std::abs(std::cos(radians)) < 0.02f)
        return error(tr("Cannot skew by %1 degrees.").arg(double(angle)));
    const float slope = std::tan(radians);
    const float centreY = float(m_picture.height()) / 2;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            // Positive angles lean the top to the right.
            return QPointF(double(x - (centreY - y) * slope), double(y));
        });
    return Common::success();
}

Common::Status PixTwix::skewVertically(float angle, int red, int green, int blue)
{
    trace("skewVertically", { double(angle), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const float radians = std::fmod(angle, 360.0f) * DegreesToRadians;
    if (!std::isfinite(angle) || std::abs(std::cos(radians)) < 0.02f)
        return error(tr("Cannot skew by %1 degrees.").arg(double(angle)));
    const float slope = std::tan(radians);
    const float centreX = float(m_picture.width()) / 2;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            // Positive angles raise the right side.
            return QPointF(double(x), double(y + (x - centreX) * slope));
        });
    return Common::success();
}

Common::Status PixTwix::tint(int red, int green, int blue, bool blend)
{
    trace("tint", { double(red), double(green), double(blue), double(blend) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const QColor colour(red, green, blue);
    const float hue = std::max(0.0f, colour.hslHueF());
    const float saturation = colour.hslSaturationF();
    std::array<QRgb, 256> byLightness {};
    for (int l = 0; l < 256; ++l)
        byLightness[size_t(l)] = QColor::fromHslF(hue, saturation, float(l) / 255.0f).rgb();
    const int width = m_picture.width();
    for (int y = 0; y < m_picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb p = line[x];
            const QRgb tinted = (byLightness[size_t(qGray(p))] & 0x00ffffffu) | (p & 0xff000000u);
            line[x] = blend ? mix(p, tinted, 0.5f) : tinted;
        }
    }
    return Common::success();
}

Common::Status PixTwix::twirl(int centreX, int centreY, int angle, int red, int green, int blue)
{
    trace("twirl", { double(centreX), double(centreY), double(angle), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const float radius = float(std::min(m_picture.width(), m_picture.height())) / 2;
    const float turn = float(angle % 36000) * 10.0f * DegreesToRadians;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            const float r = std::hypot(x - float(centreX), y - float(centreY));
            if (r >= radius)
                return QPointF(double(x), double(y));
            const float falloff = 1.0f - r / radius;
            return rotateAbout(x, y, float(centreX), float(centreY), turn * falloff * falloff);
        });
    return Common::success();
}

Common::Status PixTwix::twist(int centreX, int centreY, int angle, int red, int green, int blue)
{
    trace("twist", { double(centreX), double(centreY), double(angle), double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    const float width = float(m_picture.width());
    const float height = float(m_picture.height());
    const float reach = std::max({ std::hypot(float(centreX), float(centreY)),
        std::hypot(width - float(centreX), float(centreY)), std::hypot(float(centreX), height - float(centreY)),
        std::hypot(width - float(centreX), height - float(centreY)), 1.0f });
    const float turn = float(angle % 360) * DegreesToRadians;
    m_picture = PixelOps::remap(
        m_picture, m_picture.size(), qRgb(red, green, blue), [&](float x, float y) -> std::optional<QPointF> {
            const float r = std::hypot(x - float(centreX), y - float(centreY));
            // Three half-waves from the centre to the farthest corner: neighbouring rings turn opposite ways.
            const float amount = std::sin(3.0f * std::numbers::pi_v<float> * r / reach);
            return rotateAbout(x, y, float(centreX), float(centreY), turn * amount);
        });
    return Common::success();
}

Common::Status PixTwix::vignetteMask(int red, int green, int blue)
{
    trace("vignetteMask", { double(red), double(green), double(blue) });
    if (auto ok = prepare(m_picture, red, green, blue); !ok)
        return ok;
    if (m_secondary.isNull())
        return error(tr("There is no vignette mask picture."));
    const QImage mask
        = normalizedImage(m_secondary.scaled(m_picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    const QRgb fill = qRgb(red, green, blue);
    for (int y = 0; y < m_picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < m_picture.width(); ++x) {
            const QRgb mixed = mix(fill, line[x], float(qGray(m[x])) / 255.0f);
            line[x] = (mixed & 0x00ffffffu) | (line[x] & 0xff000000u);
        }
    }
    return Common::success();
}

} // namespace Imaging
