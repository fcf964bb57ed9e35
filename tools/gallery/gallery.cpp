// Applies every effect, every filter and every text style to the thumbnail sample and lays the
// results out on one contact sheet, so that a person can judge them at a glance.
//
// Usage: pictavo-gallery <resources folder> <contact sheet.png>
// The resources folder holds ThumbnailSample.jpg, FrameEffectSlice.jpg and VignetteEffect.jpg.

#include <cstdio>
#include <functional>

#include <QDir>
#include <QGuiApplication>
#include <QPainter>

#include "imaging/effects.h"
#include "imaging/filters.h"
#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
#include "imaging/watermark.h"

namespace {

constexpr int TileWidth = 200;
constexpr int TileHeight = 150;
constexpr int CaptionHeight = 22;
constexpr int Gap = 10;
constexpr int Columns = 6;

struct Tile {
    QString caption;
    QImage image;
    QString problem;
};

const char* const EffectCaptions[Imaging::EffectCount] = { "Erode Border", "Fade Border", "Fish Eye", "Frame Solid",
    "Frame Image", "Irregular Border", "Shadow Canvas", "Perspective Horizontal", "Perspective Vertical",
    "Random Shear", "Rotate", "Skew Horizontally", "Skew Vertically", "Tint", "Twirl", "Twist", "Vignette (Mask)" };

struct FilterEntry {
    const char* caption;
    qint32 Imaging::FilterFlags::*flag;
};

const FilterEntry Filters[] = {
    { "Antialias", &Imaging::FilterFlags::FilterAntialias },
    { "Color correct", &Imaging::FilterFlags::FilterColorCorrect },
    { "Color Emboss", &Imaging::FilterFlags::FilterColorEmboss },
    { "Enhance Edge", &Imaging::FilterFlags::FilterEnhanceEdge },
    { "High Pass", &Imaging::FilterFlags::FilterHighPass },
    { "Low Pass", &Imaging::FilterFlags::FilterLowPass },
    { "Melt", &Imaging::FilterFlags::FilterMelt },
    { "Negative", &Imaging::FilterFlags::FilterNegative },
    { "Sharpen", &Imaging::FilterFlags::FilterSharpen },
    { "Soften", &Imaging::FilterFlags::FilterSoften },
    { "Soften More", &Imaging::FilterFlags::FilterSoftenMore },
    { "Compress", &Imaging::FilterFlags::FilterCompress },
    { "Convolution", &Imaging::FilterFlags::FilterConvolution },
};

const char* const StyleCaptions[] = { "Normal", "Outline", "Fill Outline", "Shadow Text", "Water Mark" };

QImage thumbnail(const QImage& sample)
{
    Imaging::PixTwix pixTwix;
    pixTwix.setPicture(sample);
    (void)pixTwix.resize(TileWidth, TileHeight, 4);
    return pixTwix.picture();
}

QImage contactSheet(const QList<Tile>& tiles)
{
    const int rows = int((tiles.size() + Columns - 1) / Columns);
    QImage sheet(
        Gap + Columns * (TileWidth + Gap), Gap + rows * (TileHeight + CaptionHeight + Gap), QImage::Format_RGB32);
    sheet.fill(QColor(236, 236, 236));
    QPainter painter(&sheet);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    for (qsizetype i = 0; i < tiles.size(); ++i) {
        const Tile& tile = tiles[i];
        const QRect cell(Gap + int(i % Columns) * (TileWidth + Gap),
            Gap + int(i / Columns) * (TileHeight + CaptionHeight + Gap), TileWidth, TileHeight);
        painter.fillRect(cell, Qt::white);
        if (!tile.image.isNull()) {
            // Operations that grow the picture (the shadow canvas) are shown whole, scaled into the cell.
            const QSize fitted = tile.image.size().scaled(cell.size(), Qt::KeepAspectRatio);
            const QRect target(cell.topLeft(), fitted);
            painter.drawImage(target, tile.image);
        }
        painter.setPen(tile.problem.isEmpty() ? QColor(20, 20, 20) : QColor(200, 0, 0));
        const QString caption
            = tile.problem.isEmpty() ? tile.caption : tile.caption + QStringLiteral(": ") + tile.problem;
        painter.drawText(QRect(cell.left(), cell.bottom() + 1, TileWidth, CaptionHeight), Qt::AlignCenter, caption);
    }
    return sheet;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: pictavo-gallery <resources folder> <contact sheet.png>\n");
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    const QString output = QString::fromLocal8Bit(argv[2]);
    const auto sample = Imaging::loadOwnImage(resources.filePath(QStringLiteral("ThumbnailSample.jpg")));
    if (!sample) {
        std::fprintf(stderr, "%s\n", qPrintable(sample.error().message));
        return 1;
    }
    const QImage base = thumbnail(sample.value());

    QList<Tile> tiles;
    tiles.append({ QStringLiteral("Original"), base, {} });

    Imaging::EffectParameters parameters;
    parameters.ImageWidth = TileWidth;
    parameters.ImageHeight = TileHeight;
    parameters.FrameEffectSliceFile = resources.filePath(QStringLiteral("FrameEffectSlice.jpg"));
    parameters.VignetteEffectFile = resources.filePath(QStringLiteral("VignetteEffect.jpg"));
    for (int index = 0; index < Imaging::EffectCount; ++index) {
        Imaging::PixTwix pixTwix;
        pixTwix.setPicture(base);
        const auto applied = Imaging::applyEffect(pixTwix, index, parameters);
        tiles.append({ QString::fromLatin1(EffectCaptions[index]), pixTwix.picture(),
            applied ? QString() : applied.error().message });
    }

    for (const FilterEntry& filter : Filters) {
        Imaging::PixTwix pixTwix;
        pixTwix.setPicture(base);
        Imaging::FilterFlags flags;
        flags.*filter.flag = 1;
        const auto applied = Imaging::ProcessFilters(pixTwix, flags);
        tiles.append(
            { QString::fromLatin1(filter.caption), pixTwix.picture(), applied ? QString() : applied.error().message });
    }

    for (int style = 0; style < 5; ++style) {
        Imaging::PictureViewerPro viewer;
        viewer.setImage(base);
        Imaging::WatermarkOptions options;
        options.WatermarkText = QStringLiteral("Corvane");
        options.WatermarkStyle = style;
        options.WatermarkFontSize = 20;
        options.WatermarkX = 10;
        options.WatermarkY = 100;
        const auto applied = Imaging::ApplyWatermark(viewer, options);
        tiles.append({ QString::fromLatin1(StyleCaptions[style]), viewer.image(),
            applied ? QString() : applied.error().message });
    }

    Imaging::PictureViewerPro viewer;
    viewer.setImage(base);
    (void)viewer.convertToGray();
    tiles.append({ QStringLiteral("Convert to Gray"), viewer.image(), {} });
    viewer.setImage(base);
    (void)viewer.convertToBlackWhite();
    tiles.append({ QStringLiteral("Convert to Black and White"), viewer.image(), {} });

    const auto saved = Imaging::saveImage(contactSheet(tiles), output, Imaging::ImageFormat::Png);
    if (!saved) {
        std::fprintf(stderr, "%s\n", qPrintable(saved.error().message));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
