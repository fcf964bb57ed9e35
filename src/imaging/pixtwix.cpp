#include "imaging/pixtwix.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>

#include "imaging/imagefile.h"
#include "imaging/pixelops.h"

namespace Imaging {

namespace {

    using PixelOps::clampByte;
    using PixelOps::error;

    QString tr(const char* text) { return QCoreApplication::translate("Imaging", text); }

    constexpr int JpegFormatCode = 12;

    // Applies a per-pixel function to every pixel; the function gets and returns one QRgb.
    template <typename F> void forEachPixel(QImage& image, F f)
    {
        const int width = image.width();
        const int height = image.height();
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] = f(line[x]);
        }
    }

    // sum / divisor + bias as a byte, as clampByte gives it, for a whole row: four at a time with SSE2
    // (the same IEEE operations in the same order, so the same bytes), which the compiler does not do by
    // itself for the clamp.
    void clampRow(float* sums, int width, float divisor, float bias)
    {
        int x = 0;
#if defined(__SSE2__)
        const __m128 by = _mm_set1_ps(divisor);
        const __m128 plus = _mm_set1_ps(bias);
        const __m128 low = _mm_setzero_ps();
        const __m128 high = _mm_set1_ps(255.0f);
        const __m128 half = _mm_set1_ps(0.5f);
        for (; x + 4 <= width; x += 4) {
            __m128 v = _mm_add_ps(_mm_div_ps(_mm_loadu_ps(sums + x), by), plus);
            v = _mm_min_ps(_mm_max_ps(v, low), high);
            _mm_storeu_ps(sums + x, _mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(v, half))));
        }
#endif
        for (; x < width; ++x)
            sums[x] = float(clampByte(sums[x] / divisor + bias));
    }

    QRgb keepAlphaOf(QRgb original, QRgb changed, bool alphaToo)
    {
        return alphaToo ? changed : qRgba(qRed(changed), qGreen(changed), qBlue(changed), qAlpha(original));
    }

} // namespace

void PixTwix::trace(const char* name, std::initializer_list<double> arguments) const
{
    if (!m_observer)
        return;
    QStringList texts;
    for (double argument : arguments)
        texts.append(QString::number(argument));
    m_observer(QLatin1String(name) + QLatin1Char('(') + texts.join(QLatin1Char(',')) + QLatin1Char(')'));
}

Common::Status PixTwix::checkPicture() const
{
    if (m_picture.isNull())
        return error(tr("There is no working picture."));
    return Common::success();
}

const QImage& PixTwix::picture() const { return m_picture; }

const QImage& PixTwix::secondaryPicture() const { return m_secondary; }

void PixTwix::setOperationObserver(OperationObserver observer) { m_observer = std::move(observer); }

void PixTwix::setPicture(const QImage& picture) { m_picture = normalizedImage(picture); }

void PixTwix::setSecondaryPicture(const QImage& picture) { m_secondary = normalizedImage(picture); }

Common::Status PixTwix::load(const QString&, const QString& path)
{
    trace("load", {});
    auto image = loadOwnImage(path);
    if (!image)
        return image.error();
    m_picture = image.value();
    return Common::success();
}

Common::Status PixTwix::save(const QString&, const QString& path, int formatCode)
{
    trace("save", { double(formatCode) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    if (formatCode != JpegFormatCode)
        return error(tr("The image format code %1 is not supported.").arg(formatCode));
    // The program reads this file back at once and replaces it with the finished picture.
    return saveImage(m_picture, path, ImageFormat::Jpeg, 100, Durability::Flushed);
}

Common::Status PixTwix::resize(int width, int height, int mode)
{
    trace("resize", { double(width), double(height), double(mode) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    if (width < 1 || height < 1 || width > MaxImageSide || height > MaxImageSide
        || qint64(width) * height > MaxImagePixels)
        return error(tr("Cannot resize the picture to %1 x %2 pixels.").arg(width).arg(height));
    if (mode < 0 || mode > 4)
        return error(tr("The resize mode %1 is not supported.").arg(mode));
    if (m_picture.size() == QSize(width, height))
        return Common::success();
    const auto transform = mode == 4 ? Qt::SmoothTransformation : Qt::FastTransformation;
    m_picture = normalizedImage(m_picture.scaled(width, height, Qt::IgnoreAspectRatio, transform));
    return Common::success();
}

// A kernel of side x side (3 or 5) over every pixel; pixels beyond the border repeat the edge.
Common::Status PixTwix::applyKernel(const float* weights, int side, float divisor, float bias, bool alphaToo)
{
    return filterRows(weights, nullptr, side, divisor, bias, alphaToo);
}

Common::Status PixTwix::applySeparableKernel(
    const float* across, const float* down, int side, float divisor, float bias, bool alphaToo)
{
    return filterRows(down, across, side, divisor, bias, alphaToo);
}

namespace {

    // One tap of a kernel: the weight of the pixel dx across and dy down from the one being filtered.
    struct Tap {
        int dx;
        int dy;
        float weight;
    };

    // A kernel's pass over a picture, shared by the bands of rows that filter it side by side.
    struct KernelPass {
        const QImage* source;
        uchar* target;
        qsizetype stride;
        const Tap* taps;
        std::size_t tapCount;
        // Null, or the weights each source row is first filtered along with (then every tap has dx 0).
        const float* across;
        int side;
        float divisor;
        float bias;
        bool alphaToo;
        // 0xff000000 for a picture without an alpha channel, whose pixels come out opaque whatever their
        // alpha byte held; 0 otherwise.
        QRgb opaque;
    };

// Processors with wider vectors get a copy of the row loops built for them, picked when the program
// loads; both add up the same products in the same order, so they give the same bytes.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PICTAVO_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define PICTAVO_WIDE_VECTORS
#endif

    PICTAVO_WIDE_VECTORS void filterBand(const KernelPass& pass, int from, int to)
    {
        const QImage& source = *pass.source;
        const int width = source.width();
        const int height = source.height();
        const int side = pass.side;
        const int half = side / 2;
        const int channels = pass.alphaToo ? 4 : 3;
        const float* across = pass.across;
        // The source rows a kernel reaches, one float plane per channel, widened by the repeated edge
        // pixels: the sums then run along plain arrays, which the compiler turns into vector code.
        const qsizetype padded = qsizetype(width) + 2 * half;
        const std::size_t slots = std::size_t(side);
        std::vector<float> ring(slots * std::size_t(channels) * std::size_t(padded));
        std::vector<float> raw(across ? std::size_t(padded) : 0);
        std::vector<int> slotRow(slots, -1);
        const auto plane = [&](int row, int channel) {
            return ring.data()
                + (std::size_t(row) % slots * std::size_t(channels) + std::size_t(channel)) * std::size_t(padded);
        };
        const auto fetch = [&](int row) {
            if (slotRow[std::size_t(row) % slots] == row)
                return;
            slotRow[std::size_t(row) % slots] = row;
            const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(row));
            for (int c = 0; c < channels; ++c) {
                float* dst = across ? raw.data() : plane(row, c);
                const int shift = c == 0 ? 16 : c == 1 ? 8 : c == 2 ? 0 : 24;
                for (int i = 0; i < half; ++i) {
                    dst[i] = float((in[0] >> shift) & 0xff);
                    dst[padded - 1 - i] = float((in[width - 1] >> shift) & 0xff);
                }
                for (int x = 0; x < width; ++x)
                    dst[half + x] = float((in[x] >> shift) & 0xff);
                if (!across)
                    continue;
                float* along = plane(row, c) + half;
                std::fill(along, along + width, 0.0f);
                for (int k = 0; k < side; ++k) {
                    if (const float w = across[k]; w != 0.0f) {
                        const float* from = raw.data() + k;
                        for (int x = 0; x < width; ++x)
                            along[x] += w * from[x];
                    }
                }
            }
        };

        std::vector<float> sums(std::size_t(channels) * std::size_t(width));
        for (int y = from; y < to; ++y) {
            for (int ky = 0; ky < side; ++ky)
                fetch(std::clamp(y + ky - half, 0, height - 1));
            std::fill(sums.begin(), sums.end(), 0.0f);
            for (std::size_t t = 0; t < pass.tapCount; ++t) {
                const Tap& tap = pass.taps[t];
                const int row = std::clamp(y + tap.dy, 0, height - 1);
                for (int c = 0; c < channels; ++c) {
                    const float* in = plane(row, c) + half + tap.dx;
                    float* sum = sums.data() + std::size_t(c) * std::size_t(width);
                    const float w = tap.weight;
                    for (int x = 0; x < width; ++x)
                        sum[x] += w * in[x];
                }
            }
            auto* out = reinterpret_cast<QRgb*>(pass.target + pass.stride * y);
            for (int c = 0; c < channels; ++c)
                clampRow(sums.data() + std::size_t(c) * std::size_t(width), width, pass.divisor, pass.bias);
            const float* r = sums.data();
            const float* g = r + width;
            const float* b = g + width;
            // Every value is a whole number in 0..255 by now, so plain shifts pack it as qRgba would.
            if (pass.alphaToo) {
                const float* a = b + width;
                for (int x = 0; x < width; ++x)
                    out[x] = QRgb(int(a[x])) << 24 | QRgb(int(r[x])) << 16 | QRgb(int(g[x])) << 8 | QRgb(int(b[x]));
            } else {
                for (int x = 0; x < width; ++x)
                    out[x] = (out[x] & 0xff000000u) | pass.opaque | QRgb(int(r[x])) << 16 | QRgb(int(g[x])) << 8
                        | QRgb(int(b[x]));
            }
        }
    }

} // namespace

// With across null, weights is the side x side kernel. With across set, each source row is first
// filtered along by across and weights is the column of side weights down the rows.
Common::Status PixTwix::filterRows(
    const float* weights, const float* across, int side, float divisor, float bias, bool alphaToo)
{
    if (auto ok = checkPicture(); !ok)
        return ok;
    if (divisor == 0.0f || !std::isfinite(divisor))
        divisor = 1.0f;
    const QImage source = m_picture;
    const int width = source.width();
    const int height = source.height();
    const int half = side / 2;
    // Only the taps that count, in the kernel's order, so every sum adds up exactly as it always did.
    std::vector<Tap> taps;
    for (int ky = 0; ky < side; ++ky) {
        for (int kx = 0; kx < (across ? 1 : side); ++kx) {
            if (const float w = weights[across ? ky : ky * side + kx]; w != 0.0f)
                taps.push_back({ across ? 0 : kx - half, ky - half, w });
        }
    }
    // Written through one pointer taken before any row is: the image detaches once, and bands of rows
    // can be filtered side by side.
    const KernelPass pass { &source, m_picture.bits(), m_picture.bytesPerLine(), taps.data(), taps.size(), across, side,
        divisor, bias, alphaToo, m_picture.hasAlphaChannel() ? 0u : 0xff000000u };
    // Large pictures (the settings window filters its full-size sample while the user waits) are split
    // into bands, one per core; a thumbnail is done at once.
    constexpr qint64 kBandedPixels = qint64(1) << 18;
    const int bands = qint64(width) * height >= kBandedPixels ? std::min(QThread::idealThreadCount(), height) : 1;
    if (bands <= 1) {
        filterBand(pass, 0, height);
    } else {
        QList<std::pair<int, int>> ranges;
        for (int band = 0; band < bands; ++band)
            ranges.append({ height * band / bands, height * (band + 1) / bands });
        QtConcurrent::blockingMap(
            ranges, [&pass](const std::pair<int, int>& range) { filterBand(pass, range.first, range.second); });
    }
    if (alphaToo && !m_picture.hasAlphaChannel())
        forEachPixel(m_picture, [](QRgb p) { return p | 0xff000000u; });
    return Common::success();
}

Common::Status PixTwix::antialias(bool alphaToo)
{
    trace("antialias", { double(alphaToo) });
    static constexpr float k[9] = { 1, 2, 1, 2, 12, 2, 1, 2, 1 };
    return applyKernel(k, 3, 24, 0, alphaToo);
}

Common::Status PixTwix::colorCorrect(
    int redLow, int greenLow, int blueLow, int redHigh, int greenHigh, int blueHigh, bool alphaToo)
{
    trace("colorCorrect",
        { double(redLow), double(greenLow), double(blueLow), double(redHigh), double(greenHigh), double(blueHigh),
            double(alphaToo) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    const int lows[3] = { redLow, greenLow, blueLow };
    const int highs[3] = { redHigh, greenHigh, blueHigh };
    std::array<std::array<int, 256>, 3> tables {};
    for (int c = 0; c < 3; ++c) {
        if (lows[c] < 0 || highs[c] > 255 || lows[c] >= highs[c])
            return error(tr("The level range %1..%2 is not valid.").arg(lows[c]).arg(highs[c]));
        for (int v = 0; v < 256; ++v)
            tables[size_t(c)][size_t(v)] = clampByte(float(v - lows[c]) * 255.0f / float(highs[c] - lows[c]));
    }
    forEachPixel(m_picture, [&](QRgb p) {
        return qRgba(tables[0][size_t(qRed(p))], tables[1][size_t(qGreen(p))], tables[2][size_t(qBlue(p))], qAlpha(p));
    });
    return Common::success();
}

Common::Status PixTwix::colorEmboss(int depth, bool alphaToo)
{
    trace("colorEmboss", { double(depth), double(alphaToo) });
    if (depth < 0 || depth > 100)
        return error(tr("The emboss depth %1 is outside 0..100.").arg(depth));
    // Light from the top left; the kernel sums to 1, so the colours stay and only the relief shows.
    const auto d = float(depth);
    const float k[9] = { -d, -d, 0, -d, 1, d, 0, d, d };
    return applyKernel(k, 3, 1, 0, alphaToo);
}

Common::Status PixTwix::enhanceEdges(bool alphaToo)
{
    trace("enhanceEdges", { double(alphaToo) });
    static constexpr float k[9] = { -1, -1, -1, -1, 10, -1, -1, -1, -1 };
    return applyKernel(k, 3, 2, 0, alphaToo);
}

Common::Status PixTwix::highPass(int level, bool alphaToo)
{
    trace("highPass", { double(level), double(alphaToo) });
    if (level < 0 || level > 10)
        return error(tr("The filter level %1 is outside 0..10.").arg(level));
    if (auto ok = checkPicture(); !ok)
        return ok;
    // Detail = image minus its blur, shown around middle grey.
    const QImage original = m_picture;
    if (auto ok = blurGaussian(level + 1, true); !ok)
        return ok;
    // Every difference of two bytes looked up once instead of worked out four times per pixel.
    std::array<int, 511> details {};
    for (int d = -255; d <= 255; ++d)
        details[std::size_t(d + 255)] = clampByte(128.0f + 2.0f * float(d));
    const auto detail = [&details](int a, int b) { return details[std::size_t(a - b + 255)]; };
    for (int y = 0; y < m_picture.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(original.constScanLine(y));
        for (int x = 0; x < m_picture.width(); ++x) {
            const QRgb changed = qRgba(detail(qRed(in[x]), qRed(out[x])), detail(qGreen(in[x]), qGreen(out[x])),
                detail(qBlue(in[x]), qBlue(out[x])), detail(qAlpha(in[x]), qAlpha(out[x])));
            out[x] = keepAlphaOf(in[x], changed, alphaToo);
        }
    }
    return Common::success();
}

Common::Status PixTwix::lowPass(int level, bool alphaToo)
{
    trace("lowPass", { double(level), double(alphaToo) });
    if (level < 0 || level > 10)
        return error(tr("The filter level %1 is outside 0..10.").arg(level));
    return blurGaussian(level + 1, alphaToo);
}

Common::Status PixTwix::blurGaussian(int rounds, bool alphaToo)
{
    // The 5 x 5 binomial kernel (1 4 6 4 1 times itself), in two passes.
    static constexpr float k[5] = { 1, 4, 6, 4, 1 };
    for (int round = 0; round < rounds; ++round) {
        if (auto ok = applySeparableKernel(k, k, 5, 256, 0, alphaToo); !ok)
            return ok;
    }
    return Common::success();
}

Common::Status PixTwix::melt(bool alphaToo)
{
    trace("melt", { double(alphaToo) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    // Each column runs down by its own smoothly varying length: a pixel becomes the mean of the pixels
    // above it over that length, which smears colours downwards like wet paint.
    const QImage source = m_picture;
    const int width = source.width();
    const int height = source.height();
    PixelOps::Noise noise(std::uint32_t(width) * 7919u + std::uint32_t(height));
    const int longest = std::max(1, height / 10);
    std::vector<int> run(static_cast<size_t>(width));
    int level = noise.between(0, longest);
    for (int x = 0; x < width; ++x) {
        level = std::clamp(level + noise.between(-1, 1), 0, longest);
        run[size_t(x)] = level;
    }
    // Row by row, each column keeping its running sums: the same whole-number arithmetic as a walk
    // down each column, in the order the picture lies in memory.
    const auto row
        = [&](int y) { return reinterpret_cast<const QRgb*>(source.constScanLine(std::clamp(y, 0, height - 1))); };
    std::vector<int> sums(std::size_t(width) * 4, 0);
    for (int x = 0; x < width; ++x) {
        int* s = sums.data() + std::size_t(x) * 4;
        for (int k = 0; k <= run[size_t(x)]; ++k) {
            const QRgb p = row(-k)[x];
            s[0] += qRed(p);
            s[1] += qGreen(p);
            s[2] += qBlue(p);
            s[3] += qAlpha(p);
        }
    }
    for (int y = 0; y < height; ++y) {
        const QRgb* in = row(y);
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int length = run[size_t(x)] + 1;
            int* s = sums.data() + std::size_t(x) * 4;
            if (y > 0) {
                const QRgb out = row(y - length)[x];
                s[0] += qRed(in[x]) - qRed(out);
                s[1] += qGreen(in[x]) - qGreen(out);
                s[2] += qBlue(in[x]) - qBlue(out);
                s[3] += qAlpha(in[x]) - qAlpha(out);
            }
            const QRgb mean = qRgba(s[0] / length, s[1] / length, s[2] / length, s[3] / length);
            line[x] = keepAlphaOf(line[x], mean, alphaToo);
        }
    }
    return Common::success();
}

Common::Status PixTwix::negative(bool red, bool green, bool blue, bool alpha)
{
    trace("negative", { double(red), double(green), double(blue), double(alpha) });
    if (auto ok = checkPicture(); !ok)
        return ok;
    const bool invertAlpha = alpha && m_picture.hasAlphaChannel();
    forEachPixel(m_picture, [=](QRgb p) {
        return qRgba(red ? 255 - qRed(p) : qRed(p), green ? 255 - qGreen(p) : qGreen(p),
            blue ? 255 - qBlue(p) : qBlue(p), invertAlpha ? 255 - qAlpha(p) : qAlpha(p));
    });
    return Common::success();
}

Common::Status PixTwix::sharpen(bool alphaToo)
{
    trace("sharpen", { double(alphaToo) });
    static constexpr float k[9] = { -2, -2, -2, -2, 32, -2, -2, -2, -2 };
    return applyKernel(k, 3, 16, 0, alphaToo);
}

Common::Status PixTwix::soften(bool alphaToo)
{
    trace("soften", { double(alphaToo) });
    static constexpr float k[9] = { 1, 1, 1, 1, 8, 1, 1, 1, 1 };
    return applyKernel(k, 3, 16, 0, alphaToo);
}

Common::Status PixTwix::softenMore(bool alphaToo)
{
    trace("softenMore", { double(alphaToo) });
    // The 3 x 3 box twice, each in two passes.
    static constexpr float k[3] = { 1, 1, 1 };
    if (auto ok = applySeparableKernel(k, k, 3, 9, 0, alphaToo); !ok)
        return ok;
    return applySeparableKernel(k, k, 3, 9, 0, alphaToo);
}

Common::Status PixTwix::compress(int level, bool alphaToo)
{
    trace("compress", { double(level), double(alphaToo) });
    if (level < 0 || level > 5)
        return error(tr("The compression level %1 is outside 0..5.").arg(level));
    if (auto ok = checkPicture(); !ok)
        return ok;
    // Each channel keeps 2^bits evenly spaced levels from black to full.
    const int levels = 1 << (3 + level);
    std::array<int, 256> table {};
    for (int v = 0; v < 256; ++v) {
        const int step = (v * levels) / 256;
        table[size_t(v)] = levels == 1 ? 0 : step * 255 / (levels - 1);
    }
    const bool alpha = alphaToo && m_picture.hasAlphaChannel();
    forEachPixel(m_picture, [&](QRgb p) {
        return qRgba(table[size_t(qRed(p))], table[size_t(qGreen(p))], table[size_t(qBlue(p))],
            alpha ? table[size_t(qAlpha(p))] : qAlpha(p));
    });
    return Common::success();
}

Common::Status PixTwix::convolution(const std::array<float, 9>& weights, float divisor, int bias, bool alphaToo)
{
    trace("convolution",
        { double(weights[0]), double(weights[1]), double(weights[2]), double(weights[3]), double(weights[4]),
            double(weights[5]), double(weights[6]), double(weights[7]), double(weights[8]), double(divisor),
            double(bias), double(alphaToo) });
    for (float w : weights) {
        if (!std::isfinite(w))
            return error(tr("A convolution weight is not a number."));
    }
    return applyKernel(weights.data(), 3, divisor, float(bias), alphaToo);
}

} // namespace Imaging
