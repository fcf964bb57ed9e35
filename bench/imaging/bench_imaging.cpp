// Times the thumbnail post-processing: a 1024 x 768 capture to a finished 120 x 90 thumbnail with no
// filter or effect, with every filter, with every effect, with both; and each final save format.
// Targets: under 5 ms without filters and effects, under 50 ms with all of them.
//
// Usage: pictavo-bench-imaging [resources folder] [iterations]
// The resources folder supplies FrameEffectSlice.jpg and VignetteEffect.jpg for the frame and
// vignette effects; without it those two effects are skipped, as the program skips them.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include "imaging/effects.h"
#include "imaging/filters.h"
#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
#include "imaging/watermark.h"

namespace {

using Clock = std::chrono::steady_clock;

// Something like a page: bands, blocks and fine detail, so the encoders have real work.
QImage capture()
{
    QImage image(1024, 768, QImage::Format_RGB32);
    image.fill(QColor(248, 248, 245));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, 1024, 90), QColor(24, 62, 120));
    for (int i = 0; i < 40; ++i)
        painter.fillRect(QRect(30, 120 + i * 15, 600 - (i * 37) % 200, 6), QColor(150, 150, 160));
    QLinearGradient gradient(660, 120, 1000, 500);
    gradient.setColorAt(0, QColor(70, 140, 220));
    gradient.setColorAt(1, QColor(60, 130, 70));
    painter.fillRect(QRect(660, 120, 340, 380), gradient);
    for (int y = 520; y < 760; y += 4) {
        for (int x = 660; x < 1000; x += 4)
            painter.fillRect(QRect(x, y, 3, 3), QColor((x * 7) % 256, (y * 3) % 256, (x + y) % 256));
    }
    return image;
}

struct Figures {
    double median = 0;
    double mean = 0;
    double worst = 0;
};

Figures measure(int iterations, const std::function<void()>& work)
{
    work();
    std::vector<double> times;
    times.reserve(size_t(iterations));
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    Figures figures;
    figures.median = times[times.size() / 2];
    double sum = 0;
    for (double t : times)
        sum += t;
    figures.mean = sum / double(times.size());
    figures.worst = times.back();
    return figures;
}

void report(const char* name, const Figures& figures)
{
    std::printf(
        "%-44s median %8.3f ms   mean %8.3f ms   worst %8.3f ms\n", name, figures.median, figures.mean, figures.worst);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir resources(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    const QImage source = capture();
    const QString intermediate = work.filePath(QStringLiteral("1.jpg"));
    const QString final = work.filePath(QStringLiteral("1-final.jpg"));

    Imaging::EffectParameters parameters;
    if (argc > 1) {
        parameters.FrameEffectSliceFile = resources.filePath(QStringLiteral("FrameEffectSlice.jpg"));
        parameters.VignetteEffectFile = resources.filePath(QStringLiteral("VignetteEffect.jpg"));
    }
    std::array<qint32, Imaging::EffectCount> allEffects;
    allEffects.fill(1);
    const Imaging::FilterFlags allFilters { 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1 };
    const Imaging::WatermarkOptions watermark;

    // The completion's path: picture, resize, filters, effects, save (code 12), viewer load, watermark,
    // final save as JPEG at the default quality.
    const auto thumbnail
        = [&](bool filters, bool effects, Imaging::Durability durability = Imaging::Durability::Synced) {
              return [&, filters, effects, durability] {
                  Imaging::PixTwix pixTwix;
                  pixTwix.setPicture(source);
                  (void)pixTwix.resize(120, 90, 4);
                  if (filters)
                      (void)Imaging::ProcessFilters(pixTwix, allFilters);
                  if (effects) {
                      Imaging::EffectsState state;
                      Imaging::PrepareEffects(state, allEffects);
                      Imaging::applyEffectsToImage(pixTwix, state, false, parameters);
                  }
                  (void)pixTwix.save(QString(), intermediate, 12);
                  Imaging::PictureViewerPro viewer;
                  (void)viewer.load(intermediate, Imaging::FileOrigin::Own);
                  (void)Imaging::ApplyWatermark(viewer, watermark);
                  viewer.setJpegQuality(80);
                  (void)viewer.save(final, Imaging::ViewerFormat::Jpeg, durability);
              };
          };

    std::printf("1024 x 768 capture to a 120 x 90 thumbnail, %d iterations\n", iterations);
    report("no filter or effect", measure(iterations, thumbnail(false, false)));
    report("all filters", measure(iterations, thumbnail(true, false)));
    report("all effects", measure(iterations, thumbnail(false, true)));
    report("all filters and all effects", measure(iterations, thumbnail(true, true)));
    // The final save waits for the disk; how long depends on the disk and what else uses it.
    report("no filter or effect, final save not waiting",
        measure(iterations, thumbnail(false, false, Imaging::Durability::Flushed)));
    report("all filters and effects, final save not waiting",
        measure(iterations, thumbnail(true, true, Imaging::Durability::Flushed)));

    std::printf("\nsteps of the path without filters and effects\n");
    {
        Imaging::PixTwix small;
        small.setPicture(source);
        (void)small.resize(120, 90, 4);
        report("resize 1024 x 768 to 120 x 90 (mode 4)", measure(iterations, [&] {
            Imaging::PixTwix resized;
            resized.setPicture(source);
            (void)resized.resize(120, 90, 4);
        }));
        report("save with format code 12", measure(iterations, [&] { (void)small.save(QString(), intermediate, 12); }));
        report("viewer load through FreeImage", measure(iterations, [&] {
            Imaging::PictureViewerPro viewer;
            (void)viewer.load(intermediate, Imaging::FileOrigin::Own);
        }));
        report("default watermark (\"Corvane\", Water Mark)", measure(iterations, [&] {
            Imaging::PictureViewerPro viewer;
            viewer.setImage(small.picture());
            (void)Imaging::ApplyWatermark(viewer, watermark);
        }));
    }

    std::printf("\nfinal save of a 120 x 90 thumbnail\n");
    Imaging::PictureViewerPro viewer;
    Imaging::PixTwix pixTwix;
    pixTwix.setPicture(source);
    (void)pixTwix.resize(120, 90, 4);
    viewer.setImage(pixTwix.picture());
    viewer.setJpegQuality(80);
    const struct {
        const char* name;
        Imaging::ViewerFormat format;
    } formats[] = { { "JPEG", Imaging::ViewerFormat::Jpeg }, { "GIF", Imaging::ViewerFormat::Gif },
        { "PNG", Imaging::ViewerFormat::Png }, { "BMP", Imaging::ViewerFormat::Bmp },
        { "TIFF", Imaging::ViewerFormat::Tiff }, { "PDF", Imaging::ViewerFormat::Pdf },
        { "EMF", Imaging::ViewerFormat::Emf }, { "WMF", Imaging::ViewerFormat::Wmf } };
    report("JPEG, encoding only (no file)",
        measure(iterations, [&] { (void)Imaging::encodeImage(viewer.image(), Imaging::ImageFormat::Jpeg, 80); }));
    report("JPEG, decoding only (no file)",
        measure(iterations, [&, bytes = Imaging::encodeImage(viewer.image(), Imaging::ImageFormat::Jpeg, 80).value()] {
            (void)Imaging::decodeOwnImage(bytes, QString());
        }));
    for (const auto& format : formats) {
        const QString path = work.filePath(QStringLiteral("save.") + QString::fromLatin1(format.name));
        report(format.name, measure(iterations, [&] { (void)viewer.save(path, format.format); }));
    }
    return 0;
}
