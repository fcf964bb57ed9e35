#include "imaging/blankpicture.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace Imaging {

namespace {

    constexpr double kBlankShare = 0.998;
    constexpr int kTolerance = 16;

    // Colours are counted in boxes of 8 levels a channel; the commonest box's mean is the colour
    // the other pixels are measured against, so a background that straddles two boxes still counts whole.
    int boxOf(QRgb pixel) { return (qRed(pixel) >> 3) << 10 | (qGreen(pixel) >> 3) << 5 | (qBlue(pixel) >> 3); }

    template<typename Visit>
    void eachPixel(const QImage& image, Visit visit)
    {
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                visit(row[x]);
        }
    }

    QImage judgedPicture(const QImage& picture)
    {
        QImage image = picture.convertToFormat(QImage::Format_RGB32);
        if (image.width() > BlankJudgedExtent || image.height() > BlankJudgedExtent)
            image = image.scaled(BlankJudgedExtent, BlankJudgedExtent, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return image;
    }

} // namespace

double commonestColourShare(const QImage& picture)
{
    if (picture.isNull())
        return 1.0;
    const QImage image = judgedPicture(picture);

    struct Box {
        qint64 count = 0;
        qint64 red = 0;
        qint64 green = 0;
        qint64 blue = 0;
    };
    // Every box is kept per thread and only the boxes a picture touched are looked at and emptied
    // again: a judged picture has at most 16,384 pixels against 32,768 boxes.
    thread_local std::vector<Box> boxes(1 << 15);
    std::vector<int> touched;
    touched.reserve(1024);
    qint64 total = 0;
    eachPixel(image, [&](QRgb pixel) {
        const int index = boxOf(pixel);
        Box& box = boxes[static_cast<size_t>(index)];
        if (box.count++ == 0)
            touched.push_back(index);
        box.red += qRed(pixel);
        box.green += qGreen(pixel);
        box.blue += qBlue(pixel);
        ++total;
    });
    // The commonest box, the lowest-numbered among equals.
    std::sort(touched.begin(), touched.end());
    Box top;
    for (const int index : touched) {
        Box& box = boxes[static_cast<size_t>(index)];
        if (box.count > top.count)
            top = box;
        box = Box {};
    }
    if (total == 0 || top.count == 0)
        return 1.0;
    const std::array<int, 3> colour { int(top.red / top.count), int(top.green / top.count), int(top.blue / top.count) };

    qint64 near = 0;
    eachPixel(image, [&](QRgb pixel) {
        if (std::abs(qRed(pixel) - colour[0]) <= kTolerance && std::abs(qGreen(pixel) - colour[1]) <= kTolerance
            && std::abs(qBlue(pixel) - colour[2]) <= kTolerance)
            ++near;
    });
    return double(near) / double(total);
}

bool isBlankPicture(const QImage& picture) { return commonestColourShare(picture) >= kBlankShare; }

} // namespace Imaging
