#pragma once

#include <array>

#include <QDateTime>
#include <QImage>
#include <QString>

#include "imaging/effects.h"
#include "imaging/filters.h"

namespace Settings {

struct LiveSettings;

// The sample pictures of the settings window: each starts again from the shipped sample photograph
// and shows the options of one tab only, drawn by the same imaging code as the thumbnails. An image
// that cannot be made (no sample file, a size that cannot be drawn) gives an empty picture.
class SettingsPreviews final {
public:
    // The sample is read from sampleFolder (ending in "/"). The effects and filters samples pass through
    // a JPEG file in the program folder, as a thumbnail does, or in workFolder when the program folder
    // cannot be written.
    SettingsPreviews(QString sampleFolder, QString programFolder, QString workFolder);

    QString samplePath() const;

    // Resized to the thumbnail size, then grey, then black and white.
    QImage thumbnailSample(const LiveSettings& live) const;
    // Resized, the text drawn, grey and black and white applied to both, then the stamp image on top in
    // its own colours, at its own pixel size, which is kept in WatermarkImageWidth and -Height.
    QImage watermarkSample(LiveSettings& live) const;
    // Resized to the thumbnail size, then every ticked effect (flags by effect index) in the preview's
    // order.
    QImage effectsSample(
        const std::array<qint32, Imaging::EffectCount>& flags, const Imaging::EffectParameters& parameters) const;
    // Filtered at the sample's own size, then shown at the thumbnail size.
    QImage filterSample(const Imaging::FilterFlags& flags, int width, int height) const;

private:
    // The sample photograph, decoded once for each version of its file.
    QImage sample() const;
    QImage throughFile(const QImage& picture, const QString& name) const;

    mutable QImage m_sample;
    mutable QDateTime m_sampleModified;
    mutable qint64 m_sampleSize = -1;

    QString m_sampleFolder;
    QString m_programFolder;
    QString m_workFolder;
};

} // namespace Settings
