#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QImage>
#include <QPointF>
#include <QString>

#include "common/result.h"

// Pixel helpers shared by the imaging operations. Images are RGB32 or ARGB32 (not premultiplied).
namespace Imaging::PixelOps {

Common::Error error(const QString& message);
std::optional<Common::Error> checkColour(int red, int green, int blue);

inline int clampByte(float value) { return value <= 0.0f ? 0 : value >= 255.0f ? 255 : int(value + 0.5f); }

// Distance of a pixel to the nearest image edge (0 on the outermost ring).
inline int edgeDistance(int x, int y, int width, int height)
{
    const int dx = x < width - 1 - x ? x : width - 1 - x;
    const int dy = y < height - 1 - y ? y : height - 1 - y;
    return dx < dy ? dx : dy;
}

QRgb mix(QRgb from, QRgb to, float amountOfTo);

// Samples the source at a real position (pixel centres at .5) with bilinear weights; neighbours outside
// the image count as the fill colour, which softens the edge against uncovered areas.
QRgb sampleBilinear(const QImage& source, float x, float y, QRgb fill);

// Builds an image of outputSize where each pixel is sampled from the source at the position the
// mapping gives for that pixel's centre; no position means the fill colour.
QImage remap(
    const QImage& source, QSize outputSize, QRgb fill, const std::function<std::optional<QPointF>(float, float)>& map);

// A box blur of the given radius applied three times (close to a Gaussian) to one 8-bit channel.
void blurChannel(std::vector<std::uint8_t>& channel, int width, int height, int radius);

// A small deterministic generator: the same seed gives the same sequence on every platform.
class Noise final {
public:
    explicit Noise(std::uint32_t seed)
        : m_state(seed * 2654435761u + 0x9e3779b9u)
    {
    }
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // Uniform in [0, 1).
    float unit() { return float(next() >> 8) / float(1u << 24); }
    // Uniform whole number in [low, high].
    int between(int low, int high) { return low + int(next() % std::uint32_t(high - low + 1)); }

private:
    std::uint32_t m_state;
};

} // namespace Imaging::PixelOps
