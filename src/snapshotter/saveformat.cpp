#include "snapshotter/saveformat.h"

#include <QFileInfo>

namespace Snapshotter {

QString saveFilter()
{
    return QStringLiteral("All Picture Types|*.bmp;*.dib;") + QStringLiteral("*.gif;*.png;*.jpg;*.jpe;*.jpeg;")
        + QStringLiteral("*.tif;*.tiff;*.wmf;*.emf|") + QStringLiteral("Bitmaps (*.bmp;*.dib)|*.bmp;*.dib|")
        + QStringLiteral("GIF Images (*.gif)|*.gif|") + QStringLiteral("PNG Images (*.png)|*.png|")
        + QStringLiteral("JPEG Images (*.jpg;*jpe;*.jpeg)|*.jpg;*.jpe;*.jpeg|")
        + QStringLiteral("TIFF Images(*.tif,*.tiff)|*.tif;*.tiff|")
        + QStringLiteral("Metafiles (*.wmf;*emf)|*.wmf;*emf|") + QStringLiteral("All Files (*.*)|*.*|");
}

Imaging::ViewerFormat saveFormatFor(const QString& fileName)
{
    using Imaging::ViewerFormat;
    // Only the name counts: a dot in a folder's name says nothing about the format.
    const QString name = QFileInfo(fileName).fileName().toUpper();
    if (!name.contains(QLatin1Char('.')))
        return ViewerFormat::Jpeg;
    if (name.endsWith(QLatin1String(".TIF")) || name.endsWith(QLatin1String(".TIFF")))
        return ViewerFormat::Tiff;
    if (name.endsWith(QLatin1String(".DIB")))
        return ViewerFormat::Bmp;
    const QString ending = name.right(3);
    const std::pair<const char*, ViewerFormat> formats[]
        = { { "BMP", ViewerFormat::Bmp }, { "EMF", ViewerFormat::Emf }, { "GIF", ViewerFormat::Gif },
              { "PDF", ViewerFormat::Pdf }, { "PNG", ViewerFormat::Png }, { "WMF", ViewerFormat::Wmf } };
    for (const auto& [letters, format] : formats) {
        if (ending == QLatin1String(letters))
            return format;
    }
    return ViewerFormat::Jpeg;
}

} // namespace Snapshotter
