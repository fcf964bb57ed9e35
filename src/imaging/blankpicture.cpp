#include "imaging/blankpicture.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace Imaging {

namespace {

    constexpr double kBlankShare = 0.998;
    constexpr int kTolerance = 16;
    constexpr int kMaxSamplesPerSide = 512;

    // Colours are counted in boxes of 8 levels a channel; the commonest box's mean is the colour
    // the other pixels are measured against, so a background that straddles two boxes still counts whole.
    int boxOf(QRgb pixel) { return (qRed(pixel) >> 3) << 10 | (qGreen(pixel) >> 3) << 5 | (qBlue(pixel) >> 3); }

    struct Samples {
        QImage image;
        int stepX = 1;
        int stepY = 1;

        template <typename Visit> void each(Visit visit) const
        {
            for (int y = stepY / 2; y < image.height(); y += stepY) {
                const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int x = stepX / 2; x < image.width(); x += stepX)
                    visit(row[x]);
            }
        }
    };

    Samples samplesOf(const QImage& picture)
    {
        Samples samples;
        samples.image = picture.convertToFormat(QImage::Format_RGB32);
        samples.stepX = std::max(1, (picture.width() + kMaxSamplesPerSide - 1) / kMaxSamplesPerSide);
        samples.stepY = std::max(1, (picture.height() + kMaxSamplesPerSide - 1) / kMaxSamplesPerSide);
        return samples;
    }

} // namespace

double commonestColourShare(const QImage& picture)
{
    if (picture.isNull())
        return 1.0;
    const Samples samples = samplesOf(picture);

    struct Box {
        qint64 count = 0;
        qint64 red = 0;
        qint64 green = 0;
        qint64 blue = 0;
    };
    std::vector<Box> boxes(1 << 15);
    qint64 total = 0;
    samples.each([&](QRgb pixel) {
        Box& box = boxes[static_cast<size_t>(boxOf(pixel))];
        ++box.count;
        box.red += qRed(pixel);
        box.green += qGreen(pixel);
        box.blue += qBlue(pixel);
        ++total;
    });
    const Box& top
        = *std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.count < b.count; });
    if (total == 0 || top.count == 0)
        return 1.0;
    const std::array<int, 3> colour { int(top.red / top.count), int(top.green / top.count), int(top.blue / top.count) };

    qint64 near = 0;
    samples.each([&](QRgb pixel) {
        if (std::abs(qRed(pixel) - colour[0]) <= kTolerance && std::abs(qGreen(pixel) - colour[1]) <= kTolerance
            && std::abs(qBlue(pixel) - colour[2]) <= kTolerance)
            ++near;
    });
    return double(near) / double(total);
}

bool isBlankPicture(const QImage& picture) { return commonestColourShare(picture) >= kBlankShare; }

} // namespace Imaging
