#include "imaging/lookhash.h"

#include <algorithm>
#include <bit>
#include <vector>

#include <QImage>

namespace Imaging {

namespace {

    constexpr int Cells = 16;
    constexpr int CellSide = 8;
    constexpr int Side = Cells * CellSide;
    // A grey level this far from the median is drawn on, not background.
    constexpr int InkContrast = 12;
    constexpr int MinInkPixels = Side * Side / 100;
    // Average grey levels; JPEG noise on a plain area stays well under this.
    constexpr int EdgeContrast = 3;
    // Odd, so bit i goes to a distinct place (i * Scatter) % Bits; neighbours end up far apart.
    constexpr int Scatter = 167;

    void setBit(LookHash& hash, int index)
    {
        const int at = (index * Scatter) % LookHash::Bits;
        hash.words[size_t(at / 64)] |= quint64(1) << (at % 64);
    }

} // namespace

int LookHash::distance(const LookHash& other) const
{
    int bits = 0;
    for (size_t i = 0; i < words.size(); ++i)
        bits += std::popcount(words[i] ^ other.words[i]);
    return bits;
}

std::optional<LookHash> lookHash(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    // Qt's smooth reduction averages whole areas, whatever the picture's size.
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8)
                            .scaled(Side, Side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::vector<uchar> levels;
    levels.reserve(Side * Side);
    for (int y = 0; y < Side; ++y)
        levels.insert(levels.end(), grey.constScanLine(y), grey.constScanLine(y) + Side);
    std::vector<uchar> sorted = levels;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int background = sorted[sorted.size() / 2];
    const auto ink = std::count_if(
        levels.begin(), levels.end(), [background](uchar level) { return std::abs(level - background) > InkContrast; });
    if (ink < MinInkPixels)
        return std::nullopt;

    LookHash hash;
    constexpr int Half = CellSide * CellSide / 2;
    for (int cy = 0; cy < Cells; ++cy) {
        for (int cx = 0; cx < Cells; ++cx) {
            int left = 0, right = 0, top = 0, bottom = 0;
            for (int y = 0; y < CellSide; ++y) {
                for (int x = 0; x < CellSide; ++x) {
                    const int level = levels[size_t((cy * CellSide + y) * Side + cx * CellSide + x)];
                    (x < CellSide / 2 ? left : right) += level;
                    (y < CellSide / 2 ? top : bottom) += level;
                }
            }
            const int cell = cy * Cells + cx;
            if (std::abs(right - left) > EdgeContrast * Half)
                setBit(hash, 2 * cell);
            if (std::abs(bottom - top) > EdgeContrast * Half)
                setBit(hash, 2 * cell + 1);
        }
    }
    if (hash.structure() < MinStructure)
        return std::nullopt;
    return hash;
}

} // namespace Imaging
