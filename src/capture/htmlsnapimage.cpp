#include "capture/htmlsnap.h"

#include <algorithm>

#include <QFont>
#include <QPainter>

#include "imaging/imagebytes.h"

// The engine's image methods: on the captured picture, and on image files.

namespace Capture {

namespace {

    const QString kSource = QStringLiteral("HtmlSnap");

} // namespace

Common::Result<QByteArray> HtmlSnap::GetThumbImageBytes(
    const QString& formatMask, int width, int height, int keepRatio) const
{
    if (m_code != SnapCode::Captured || m_image.isEmpty())
        return Common::Error { m_code, kSource, QStringLiteral("No captured image") };
    return capturedImage().thumbnailBytes(formatMask, width, height, keepRatio != 0);
}

CapturedImage HtmlSnap::capturedImage() const
{
    if (m_code != SnapCode::Captured)
        return {};
    return CapturedImage { m_image, m_imageFormat.toLatin1(), m_imageSize, m_jpegQuality, m_reduced };
}

Common::Status HtmlSnap::SaveImage(const QString& pictureFile) const
{
    if (m_image.isEmpty())
        return Common::Error { m_code, kSource, QStringLiteral("No captured image") };
    const QImage image = Imaging::decodeImage(m_image, m_imageFormat.toLatin1());
    if (image.isNull())
        return Common::Error { 0, kSource, QStringLiteral("The captured image cannot be read") };
    return Imaging::writeImageFile(image, pictureFile, m_jpegQuality);
}

Common::Status HtmlSnap::DrawTxt(int x, int y, const QString& text, int fontSize, int color, const QString& fontName)
{
    if (m_image.isEmpty())
        return Common::Error { m_code, kSource, QStringLiteral("No captured image") };
    QImage image = Imaging::decodeImage(m_image, m_imageFormat.toLatin1()).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return Common::Error { 0, kSource, QStringLiteral("The captured image cannot be read") };
    {
        QPainter painter(&image);
        QFont font(fontName.isEmpty() ? QStringLiteral("Liberation Sans") : fontName);
        font.setPixelSize(std::max(1, fontSize));
        painter.setFont(font);
        painter.setPen(QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
        painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
    }
    const auto bytes = Imaging::encodeInWriterFormat(image, "png", m_jpegQuality);
    if (!bytes)
        return Common::Error { 0, kSource, QStringLiteral("Cannot encode the image") };
    m_image = bytes.value();
    m_reduced = {};
    m_imageFormat = QStringLiteral("png");
    return Common::success();
}

Common::Status HtmlSnap::GetThumbnailImage(
    const QString& inputFile, const QString& outputFile, int width, int height, int keepRatio)
{
    const auto image = Imaging::readImageFile(inputFile);
    if (!image)
        return image.error();
    const QSize target = Imaging::scaledSize(image.value().size(), width, height, keepRatio != 0);
    return Imaging::writeImageFile(
        image.value().scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), outputFile, 90);
}

Common::Status HtmlSnap::ReduceColor(const QString& inputFile, const QString& outputFile, int colors)
{
    const auto image = Imaging::readImageFile(inputFile);
    if (!image)
        return image.error();
    const auto reduced = Imaging::reduceColors(image.value(), colors);
    if (!reduced)
        return reduced.error();
    return Imaging::writeImageFile(reduced.value(), outputFile, 90);
}

Common::Status HtmlSnap::MakeGrayImage(const QString& inputFile, const QString& outputFile, int grayOrBlackWhite)
{
    const auto image = Imaging::readImageFile(inputFile);
    if (!image)
        return image.error();
    const QImage converted = grayOrBlackWhite == 0
        ? image.value().convertToFormat(QImage::Format_Grayscale8)
        : image.value().convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    return Imaging::writeImageFile(converted, outputFile, 90);
}

} // namespace Capture
