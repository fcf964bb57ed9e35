#include "imaging/imagebytes.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include "imaging/imagefile.h"

#include <FreeImage.h>

namespace Imaging {

namespace {

    const QString kSource = QStringLiteral("Imaging");

    using Bitmap = std::unique_ptr<FIBITMAP, decltype([](FIBITMAP* bitmap) { FreeImage_Unload(bitmap); })>;

    Bitmap paletteBitmap(const QImage& image, int colors)
    {
        QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        const Bitmap bits32(FreeImage_ConvertFromRawBits(rgb.bits(), rgb.width(), rgb.height(),
            static_cast<int>(rgb.bytesPerLine()), 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE));
        const Bitmap bits24(bits32 ? FreeImage_ConvertTo24Bits(bits32.get()) : nullptr);
        return Bitmap(bits24 ? FreeImage_ColorQuantizeEx(bits24.get(), FIQ_WUQUANT, colors) : nullptr);
    }

} // namespace

QByteArray writerFormatFor(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < fileName.lastIndexOf(QLatin1Char('/')))
        return {};
    const QString suffix = fileName.mid(dot + 1).trimmed().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("jpe"))
        return "jpeg";
    if (suffix == QLatin1String("tif"))
        return "tiff";
    if (suffix == QLatin1String("dib"))
        return "bmp";
    const QByteArray format = suffix.toLatin1();
    if (format == "gif" || (!format.isEmpty() && QImageWriter::supportedImageFormats().contains(format)))
        return format;
    return {};
}

// A JPEG decoded at a reduced size averages 8 x 8 blocks in the decoder: a fraction of a full decode and a scale.
QImage decodeImage(const QByteArray& bytes, const QByteArray& format, QSize size)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAllocationLimit(DecodeLimitMb);
    if (size.isValid() && format == "jpeg") {
        reader.setQuality(100);
        reader.setScaledSize(size);
    }
    QImage image = reader.read();
    if (!image.isNull() && size.isValid() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

Common::Result<QImage> readImageFile(const QString& path)
{
    QImageReader reader(path);
    reader.setAllocationLimit(DecodeLimitMb);
    QImage image = reader.read();
    if (image.isNull())
        return Common::Error { 0, kSource, QStringLiteral("Cannot read %1: %2").arg(path, reader.errorString()) };
    return image;
}

Common::Result<QImage> reduceColors(const QImage& image, int colors)
{
    const Bitmap palette = paletteBitmap(image, std::clamp(colors, 2, 256));
    const Bitmap bits32(palette ? FreeImage_ConvertTo32Bits(palette.get()) : nullptr);
    if (!bits32)
        return Common::Error { 0, kSource, QStringLiteral("Cannot reduce the image's colours") };
    QImage result(image.size(), QImage::Format_RGB32);
    FreeImage_ConvertToRawBits(result.bits(), bits32.get(), static_cast<int>(result.bytesPerLine()), 32,
        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE);
    return result;
}

Common::Result<QByteArray> encodeInWriterFormat(const QImage& image, const QByteArray& format, int jpegQuality)
{
    if (format == "gif") {
        // Qt cannot write GIF; FreeImage can, from a 256-colour palette.
        const Bitmap palette = paletteBitmap(image, 256);
        const std::unique_ptr<FIMEMORY, void (*)(FIMEMORY*)> memory(FreeImage_OpenMemory(), FreeImage_CloseMemory);
        BYTE* data = nullptr;
        DWORD size = 0;
        if (!palette || !memory || !FreeImage_SaveToMemory(FIF_GIF, palette.get(), memory.get(), 0)
            || !FreeImage_AcquireMemory(memory.get(), &data, &size) || size == 0)
            return Common::Error { 0, kSource, QStringLiteral("Cannot encode the image as GIF") };
        return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
    const QImage output = (format == "jpeg" || format == "bmp") ? image.convertToFormat(QImage::Format_RGB32) : image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (format == "jpeg")
        writer.setQuality(jpegQuality);
    if (!writer.write(output))
        return Common::Error { 0, kSource, writer.errorString() };
    return bytes;
}

Common::Status writeImageFile(const QImage& image, const QString& path, int jpegQuality)
{
    const QByteArray format = writerFormatFor(path);
    const auto bytes = encodeInWriterFormat(image, format.isEmpty() ? QByteArray("png") : format, jpegQuality);
    if (!bytes)
        return bytes.error();
    return writeFileAtomically(path, bytes.value());
}

QSize scaledSize(QSize source, int width, int height, bool keepRatio)
{
    if (width <= 0 && height <= 0)
        return source;
    if (width <= 0)
        return { std::max(1, static_cast<int>(std::lround(double(source.width()) * height / source.height()))),
            height };
    if (height <= 0)
        return { width, std::max(1, static_cast<int>(std::lround(double(source.height()) * width / source.width()))) };
    if (!keepRatio)
        return { width, height };
    const double factor = std::min(double(width) / source.width(), double(height) / source.height());
    return { std::clamp(static_cast<int>(std::lround(source.width() * factor)), 1, width),
        std::clamp(static_cast<int>(std::lround(source.height() * factor)), 1, height) };
}

} // namespace Imaging
