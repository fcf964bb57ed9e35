#include "imaging/pixelops.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QCoreApplication>

namespace Imaging::PixelOps {

Common::Error error(const QString& message) { return Common::Error { 0, QStringLiteral("PixTwix"), message }; }

std::optional<Common::Error> checkColour(int red, int green, int blue)
{
    const auto inRange = [](int c) { return c >= 0 && c <= 255; };
    if (inRange(red) && inRange(green) && inRange(blue))
        return std::nullopt;
    return error(QCoreApplication::translate("Imaging", "The colour %1, %2, %3 is outside 0..255.")
                     .arg(red)
                     .arg(green)
                     .arg(blue));
}

QRgb mix(QRgb from, QRgb to, float amountOfTo)
{
    const float keep = 1.0f - amountOfTo;
    return qRgba(clampByte(float(qRed(from)) * keep + float(qRed(to)) * amountOfTo),
        clampByte(float(qGreen(from)) * keep + float(qGreen(to)) * amountOfTo),
        clampByte(float(qBlue(from)) * keep + float(qBlue(to)) * amountOfTo),
        clampByte(float(qAlpha(from)) * keep + float(qAlpha(to)) * amountOfTo));
}

QRgb sampleBilinear(const QImage& source, float x, float y, QRgb fill)
{
    const int width = source.width();
    const int height = source.height();
    const float fx = x - 0.5f;
    const float fy = y - 0.5f;
    if (fx <= -1.0f || fy <= -1.0f || fx >= float(width) || fy >= float(height))
        return fill;
    const int x0 = int(std::floor(fx));
    const int y0 = int(std::floor(fy));
    const float tx = fx - float(x0);
    const float ty = fy - float(y0);
    const auto at = [&](int px, int py) -> QRgb {
        if (px < 0 || py < 0 || px >= width || py >= height)
            return fill;
        return reinterpret_cast<const QRgb*>(source.constScanLine(py))[px];
    };
    const QRgb p00 = at(x0, y0);
    const QRgb p10 = at(x0 + 1, y0);
    const QRgb p01 = at(x0, y0 + 1);
    const QRgb p11 = at(x0 + 1, y0 + 1);
    const float w00 = (1 - tx) * (1 - ty);
    const float w10 = tx * (1 - ty);
    const float w01 = (1 - tx) * ty;
    const float w11 = tx * ty;
    const auto channel = [&](auto get) {
        return clampByte(float(get(p00)) * w00 + float(get(p10)) * w10 + float(get(p01)) * w01 + float(get(p11)) * w11);
    };
    return qRgba(channel([](QRgb p) { return qRed(p); }), channel([](QRgb p) { return qGreen(p); }),
        channel([](QRgb p) { return qBlue(p); }), channel([](QRgb p) { return qAlpha(p); }));
}

QImage remap(
    const QImage& source, QSize outputSize, QRgb fill, const std::function<std::optional<QPointF>(float, float)>& map)
{
    QImage output(outputSize, source.format());
    for (int y = 0; y < outputSize.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(output.scanLine(y));
        for (int x = 0; x < outputSize.width(); ++x) {
            const std::optional<QPointF> from = map(float(x) + 0.5f, float(y) + 0.5f);
            line[x] = from ? sampleBilinear(source, float(from->x()), float(from->y()), fill) : fill;
        }
    }
    return output;
}

void blurChannel(std::vector<std::uint8_t>& channel, int width, int height, int radius)
{
    if (radius <= 0 || width <= 0 || height <= 0)
        return;
    std::vector<std::uint8_t> scratch(channel.size());
    const int window = 2 * radius + 1;
    const auto pass = [&](std::vector<std::uint8_t>& from, std::vector<std::uint8_t>& to, bool horizontal) {
        const int lines = horizontal ? height : width;
        const int length = horizontal ? width : height;
        const auto index = [&](int line, int i) {
            return horizontal ? size_t(line) * size_t(width) + size_t(i) : size_t(i) * size_t(width) + size_t(line);
        };
        for (int line = 0; line < lines; ++line) {
            // Edge pixels repeat beyond the border so that the image's own edge does not darken.
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += from[index(line, std::clamp(i, 0, length - 1))];
            for (int i = 0; i < length; ++i) {
                to[index(line, i)] = std::uint8_t((sum + window / 2) / window);
                sum += from[index(line, std::min(i + radius + 1, length - 1))];
                sum -= from[index(line, std::max(i - radius, 0))];
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(channel, scratch, true);
        pass(scratch, channel, false);
    }
}

} // namespace Imaging::PixelOps
