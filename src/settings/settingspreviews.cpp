#include "settings/settingspreviews.h"

#include <utility>

#include <QFileInfo>

#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
#include "imaging/watermark.h"
#include "settings/livesettings.h"
#include "settings/settingsform.h"

namespace Settings {

namespace {

    // PixTwix takes the library's path for its callers' sake only.
    const QString kLibrary = QStringLiteral("FreeImage");
    constexpr int kJpegFormat = 12;
    constexpr int kResampleSmooth = 4;

} // namespace

SettingsPreviews::SettingsPreviews(QString sampleFolder, QString programFolder, QString workFolder)
    : m_sampleFolder(std::move(sampleFolder))
    , m_programFolder(std::move(programFolder))
    , m_workFolder(std::move(workFolder))
{
    if (!m_workFolder.isEmpty() && !m_workFolder.endsWith(QLatin1Char('/')))
        m_workFolder += QLatin1Char('/');
}

QString SettingsPreviews::samplePath() const { return m_sampleFolder + QStringLiteral("ThumbnailSample.jpg"); }

QImage SettingsPreviews::sample() const
{
    const QFileInfo file(samplePath());
    if (!file.isFile()) {
        m_sample = QImage();
        return m_sample;
    }
    if (m_sample.isNull() || file.lastModified() != m_sampleModified || file.size() != m_sampleSize) {
        auto loaded = Imaging::loadOwnImage(samplePath());
        m_sample = loaded ? loaded.value() : QImage();
        m_sampleModified = file.lastModified();
        m_sampleSize = file.size();
    }
    return m_sample;
}

QImage SettingsPreviews::thumbnailSample(const LiveSettings& live) const
{
    Imaging::PictureViewerPro viewer;
    viewer.setImage(sample());
    if (viewer.isEmpty() || !viewer.resize(live.ImageWidth, live.ImageHeight))
        return {};
    (void)Imaging::applyColourConversions(viewer, Imaging::watermarkOptionsFrom(live));
    return viewer.image();
}

QImage SettingsPreviews::watermarkSample(LiveSettings& live) const
{
    Imaging::PictureViewerPro viewer;
    viewer.setImage(sample());
    if (viewer.isEmpty() || !viewer.resize(live.ImageWidth, live.ImageHeight))
        return {};
    Imaging::WatermarkOptions options = Imaging::watermarkOptionsFrom(live);
    // Unlike a thumbnail's, the text is converted with the picture and the stamp keeps its colours.
    (void)Imaging::applyTextWatermark(viewer, options);
    (void)Imaging::applyColourConversions(viewer, options);
    if (!live.WatermarkImage.isEmpty()) {
        Imaging::PictureViewerPro measure;
        if (measure.load(live.WatermarkImage)) {
            live.WatermarkImageWidth = measure.pixelWidth();
            live.WatermarkImageHeight = measure.pixelHeight();
            options.WatermarkImageWidth = live.WatermarkImageWidth;
            options.WatermarkImageHeight = live.WatermarkImageHeight;
            (void)Imaging::applyImageWatermark(viewer, options);
        }
    }
    return viewer.image();
}

QImage SettingsPreviews::effectsSample(
    const std::array<qint32, Imaging::EffectCount>& flags, const Imaging::EffectParameters& parameters) const
{
    Imaging::PixTwix pixTwix;
    pixTwix.setPicture(sample());
    if (pixTwix.picture().isNull() || !pixTwix.resize(parameters.ImageWidth, parameters.ImageHeight, kResampleSmooth))
        return {};
    for (const int index : kPreviewEffectOrder) {
        if (flags[std::size_t(index)] != 0)
            Imaging::ProcessEffect(pixTwix, index, parameters);
    }
    return throughFile(pixTwix.picture(), QStringLiteral("EffectsSample.jpg"));
}

QImage SettingsPreviews::filterSample(const Imaging::FilterFlags& flags, int width, int height) const
{
    Imaging::PixTwix pixTwix;
    pixTwix.setPicture(sample());
    if (pixTwix.picture().isNull())
        return {};
    (void)Imaging::ProcessFilters(pixTwix, flags);
    Imaging::PictureViewerPro viewer;
    viewer.setImage(throughFile(pixTwix.picture(), QStringLiteral("FilterSample.jpg")));
    if (!viewer.resize(width, height))
        return {};
    return viewer.image();
}

// The sample shows what the saved JPEG will look like, so it is read back from a file of its own.
QImage SettingsPreviews::throughFile(const QImage& picture, const QString& name) const
{
    Imaging::PixTwix writer;
    writer.setPicture(picture);
    for (const QString& folder : { m_programFolder, m_workFolder }) {
        if (folder.isEmpty())
            continue;
        const QString path = folder + name;
        if (!writer.save(kLibrary, path, kJpegFormat))
            continue;
        Imaging::PictureViewerPro viewer;
        if (viewer.load(path, Imaging::FileOrigin::Own))
            return viewer.image();
    }
    return picture;
}

} // namespace Settings
