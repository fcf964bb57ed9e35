#include "imaging/pixtwix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
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

    // One row of a filter's sums packed into pixels: each sum / divisor + bias as a byte, as clampByte
    // gives it, four pixels at a time with SSE2 (the same IEEE operations, so the same bytes), which the
    // compiler does not do by itself for the clamp. alpha null keeps the alpha byte of the pixel in kept,
    // or makes it opaque (0xff000000).
    inline __attribute__((always_inline)) void packRow(const float* red, const float* green, const float* blue,
        const float* alpha, const QRgb* kept, QRgb* out, int width, float divisor, float bias, QRgb opaque)
    {
        int x = 0;
#if defined(__SSE2__)
        const __m128 by = _mm_set1_ps(divisor);
        const __m128 plus = _mm_set1_ps(bias);
        const __m128 low = _mm_setzero_ps();
        const __m128 high = _mm_set1_ps(255.0f);
        const __m128 half = _mm_set1_ps(0.5f);
        const auto toBytes = [&](const float* sums) {
            __m128 v = _mm_add_ps(_mm_div_ps(_mm_loadu_ps(sums), by), plus);
            v = _mm_min_ps(_mm_max_ps(v, low), high);
            return _mm_cvttps_epi32(_mm_add_ps(v, half));
        };
        const __m128i alphaMask = _mm_set1_epi32(int(0xff000000u));
        const __m128i opaqueBits = _mm_set1_epi32(int(opaque));
        for (; x + 4 <= width; x += 4) {
            const __m128i alphaBits = alpha
                ? _mm_slli_epi32(toBytes(alpha + x), 24)
                : _mm_or_si128(
                    _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kept + x)), alphaMask), opaqueBits);
            const __m128i colour = _mm_or_si128(
                _mm_or_si128(_mm_slli_epi32(toBytes(red + x), 16), _mm_slli_epi32(toBytes(green + x), 8)),
                toBytes(blue + x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(alphaBits, colour));
        }
#endif
        const auto byte = [&](float sum) { return QRgb(clampByte(sum / divisor + bias)); };
        for (; x < width; ++x) {
            const QRgb alphaBits = alpha ? byte(alpha[x]) << 24 : (kept[x] & 0xff000000u) | opaque;
            out[x] = alphaBits | byte(red[x]) << 16 | byte(green[x]) << 8 | byte(blue[x]);
        }
    }

    // Large pictures (the settings window filters its full-size sample while the user waits) are split
    // into bands of rows, one per core, each worked on by work(from, to); a thumbnail is done at once.
    template <typename Work> void inBands(int width, int height, const Work& work)
    {
        constexpr qint64 kBandedPixels = qint64(1) << 18;
        const int bands = qint64(width) * height >= kBandedPixels ? std::min(QThread::idealThreadCount(), height) : 1;
        if (bands <= 1)
            return work(0, height);
        QList<std::pair<int, int>> ranges;
        for (int band = 0; band < bands; ++band)
            ranges.append({ height * band / bands, height * (band + 1) / bands });
        QtConcurrent::blockingMap(
            ranges, [&work](const std::pair<int, int>& range) { work(range.first, range.second); });
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

QImage PixTwix::spareLike(const QImage& picture)
{
    if (m_spare.size() == picture.size() && m_spare.format() == picture.format() && m_spare.isDetached())
        return std::exchange(m_spare, QImage());
    return QImage(picture.size(), picture.format());
}

void PixTwix::keepAsSpare(const QImage& picture)
{
    // Shared with a caller's copy, it is theirs: writing to it would only copy it first.
    m_spare = picture.isDetached() ? picture : QImage();
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

    // sum[x] = 0 + w[0] * in[0][x] + w[1] * in[1][x] + ..., added in that order. With the count known
    // when compiling, each sum stays in a register through all its terms and the loop runs on vectors;
    // the products are added in the same order either way, so the bytes are the same.
    template <int Count>
    inline __attribute__((always_inline)) void weightedSum(
        const float* const* in, const float* weights, float* __restrict sum, int width)
    {
        const float* rows[Count];
        float w[Count];
        for (int t = 0; t < Count; ++t) {
            rows[t] = in[t];
            w[t] = weights[t];
        }
        for (int x = 0; x < width; ++x) {
            float total = 0.0f;
            for (int t = 0; t < Count; ++t)
                total += w[t] * rows[t][x];
            sum[x] = total;
        }
    }

    inline __attribute__((always_inline)) void weightedSum(
        const float* const* in, const float* weights, int count, float* sum, int width)
    {
        switch (count) {
        case 1:
            return weightedSum<1>(in, weights, sum, width);
        case 2:
            return weightedSum<2>(in, weights, sum, width);
        case 3:
            return weightedSum<3>(in, weights, sum, width);
        case 4:
            return weightedSum<4>(in, weights, sum, width);
        case 5:
            return weightedSum<5>(in, weights, sum, width);
        case 6:
            return weightedSum<6>(in, weights, sum, width);
        case 7:
            return weightedSum<7>(in, weights, sum, width);
        case 8:
            return weightedSum<8>(in, weights, sum, width);
        case 9:
            return weightedSum<9>(in, weights, sum, width);
        default:
            std::fill(sum, sum + width, 0.0f);
            for (int t = 0; t < count; ++t) {
                for (int x = 0; x < width; ++x)
                    sum[x] += weights[t] * in[t][x];
            }
        }
    }

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
        // Only the weights that count, with where each reads from along the row.
        std::vector<float> acrossWeights;
        std::vector<int> acrossOffsets;
        for (int k = 0; across && k < side; ++k) {
            if (across[k] != 0.0f) {
                acrossWeights.push_back(across[k]);
                acrossOffsets.push_back(k);
            }
        }
        std::vector<const float*> inputs(std::max(pass.tapCount, acrossWeights.size()));
        const auto fetch = [&](int row) __attribute__((always_inline))
        {
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
                for (std::size_t k = 0; k < acrossWeights.size(); ++k)
                    inputs[k] = raw.data() + acrossOffsets[k];
                weightedSum(
                    inputs.data(), acrossWeights.data(), int(acrossWeights.size()), plane(row, c) + half, width);
            }
        };

        std::vector<float> weights(pass.tapCount);
        for (std::size_t t = 0; t < pass.tapCount; ++t)
            weights[t] = pass.taps[t].weight;
        std::vector<float> sums(std::size_t(channels) * std::size_t(width));
        for (int y = from; y < to; ++y) {
            for (int ky = 0; ky < side; ++ky)
                fetch(std::clamp(y + ky - half, 0, height - 1));
            for (int c = 0; c < channels; ++c) {
                for (std::size_t t = 0; t < pass.tapCount; ++t) {
                    const Tap& tap = pass.taps[t];
                    inputs[t] = plane(std::clamp(y + tap.dy, 0, height - 1), c) + half + tap.dx;
                }
                weightedSum(inputs.data(), weights.data(), int(pass.tapCount),
                    sums.data() + std::size_t(c) * std::size_t(width), width);
            }
            const float* red = sums.data();
            const float* green = red + width;
            const float* blue = green + width;
            packRow(red, green, blue, pass.alphaToo ? blue + width : nullptr,
                reinterpret_cast<const QRgb*>(source.constScanLine(y)),
                reinterpret_cast<QRgb*>(pass.target + pass.stride * y), width, pass.divisor, pass.bias, pass.opaque);
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
    const QImage source = std::exchange(m_picture, spareLike(m_picture));
    if (m_picture.isNull()) {
        m_picture = source;
        return error(tr("Not enough memory to filter the picture."));
    }
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
    // Every pixel of the target is written. Written through one pointer taken before any row is, so
    // bands of rows can be filtered side by side.
    const KernelPass pass { &source, m_picture.bits(), m_picture.bytesPerLine(), taps.data(), taps.size(), across, side,
        divisor, bias, alphaToo, m_picture.hasAlphaChannel() ? 0u : 0xff000000u };
    inBands(width, height, [&pass](int from, int to) { filterBand(pass, from, to); });
    keepAsSpare(source);
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
    // 128 + 2 * difference is a whole number, so clampByte's rounding never changes it: a plain clamp
    // gives the same bytes and lets the compiler work on whole vectors of pixels.
    const auto detail = [](QRgb in, QRgb blurred, int shift) {
        const int difference = int((in >> shift) & 0xff) - int((blurred >> shift) & 0xff);
        return QRgb(std::clamp(128 + 2 * difference, 0, 255)) << shift;
    };
    const int width = m_picture.width();
    for (int y = 0; y < m_picture.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(original.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb alpha = alphaToo ? detail(in[x], out[x], 24) : in[x] & 0xff000000u;
            out[x] = alpha | detail(in[x], out[x], 16) | detail(in[x], out[x], 8) | detail(in[x], out[x], 0);
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
    const QImage source = std::exchange(m_picture, spareLike(m_picture));
    if (m_picture.isNull()) {
        m_picture = source;
        return error(tr("Not enough memory to filter the picture."));
    }
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
    // A sum over length pixels is a whole number s = q * length + r with q <= 255. (s + 0.5) / length
    // lies at least 0.5 / length inside (q, q + 1), far more than a float's rounding can move it while
    // length stays below 4096, so multiplying by a float reciprocal and truncating gives exactly
    // s / length, and does so on vectors; longer runs divide.
    constexpr int kLongestExactLength = 4096;
    const bool multiply = longest + 1 <= kLongestExactLength;
    std::vector<float> reciprocal(std::size_t(width), 0.0f);
    for (int x = 0; x < width; ++x)
        reciprocal[size_t(x)] = 1.0f / float(run[size_t(x)] + 1);
    // Row by row, each column keeping its running sums: the same whole-number arithmetic as a walk
    // down each column, in the order the picture lies in memory. A band starts with the sums its
    // first row would have had.
    const auto row
        = [&](int y) { return reinterpret_cast<const QRgb*>(source.constScanLine(std::clamp(y, 0, height - 1))); };
    uchar* const target = m_picture.bits();
    const qsizetype stride = m_picture.bytesPerLine();
    inBands(width, height, [&](int from, int to) {
        std::vector<int> sums(std::size_t(width) * 4, 0);
        for (int x = 0; x < width; ++x) {
            int* s = sums.data() + std::size_t(x) * 4;
            for (int k = 0; k <= run[size_t(x)]; ++k) {
                const QRgb p = row(from - k)[x];
                s[0] += qRed(p);
                s[1] += qGreen(p);
                s[2] += qBlue(p);
                s[3] += qAlpha(p);
            }
        }
        for (int y = from; y < to; ++y) {
            const QRgb* in = row(y);
            auto* line = reinterpret_cast<QRgb*>(target + stride * y);
            for (int x = 0; x < width; ++x) {
                const int length = run[size_t(x)] + 1;
                int* s = sums.data() + std::size_t(x) * 4;
                if (y > from) {
                    const QRgb out = row(y - length)[x];
                    s[0] += qRed(in[x]) - qRed(out);
                    s[1] += qGreen(in[x]) - qGreen(out);
                    s[2] += qBlue(in[x]) - qBlue(out);
                    s[3] += qAlpha(in[x]) - qAlpha(out);
                }
                const float by = reciprocal[size_t(x)];
                const auto mean = [&](int sum) { return multiply ? int((float(sum) + 0.5f) * by) : sum / length; };
                line[x] = keepAlphaOf(in[x], qRgba(mean(s[0]), mean(s[1]), mean(s[2]), mean(s[3])), alphaToo);
            }
        }
    });
    keepAsSpare(source);
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
