#include "imaging/imagefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QTemporaryFile>

#include <FreeImage.h>

namespace Imaging {

namespace {

    static_assert(FREEIMAGE_COLORORDER == FREEIMAGE_COLORORDER_BGR,
        "the pixel copy below relies on FreeImage's BGRA byte order matching QImage::Format_ARGB32");

    const QString ErrorSource = QStringLiteral("Imaging");

    QString tr(const char* text) { return QCoreApplication::translate("Imaging", text); }

    Common::Error makeError(const QString& message) { return Common::Error { 0, ErrorSource, message }; }

    // FreeImage reports decoder complaints through one process-wide callback; each thread keeps the last
    // one it raised so that a failed call can say why.
    thread_local QString lastFreeImageMessage;

    void recordFreeImageMessage(FREE_IMAGE_FORMAT, const char* message)
    {
        lastFreeImageMessage = QString::fromLocal8Bit(message);
    }

    void installFreeImageHandler()
    {
        static std::once_flag once;
        std::call_once(once, [] { FreeImage_SetOutputMessage(recordFreeImageMessage); });
    }

    struct DibDeleter {
        void operator()(FIBITMAP* dib) const
        {
            if (dib)
                FreeImage_Unload(dib);
        }
    };
    using DibPtr = std::unique_ptr<FIBITMAP, DibDeleter>;

    struct MemoryDeleter {
        void operator()(FIMEMORY* memory) const
        {
            if (memory)
                FreeImage_CloseMemory(memory);
        }
    };
    using MemoryPtr = std::unique_ptr<FIMEMORY, MemoryDeleter>;

    bool sizeAcceptable(QSize size)
    {
        return size.width() > 0 && size.height() > 0 && size.width() <= MaxImageSide && size.height() <= MaxImageSide
            && qint64(size.width()) * size.height() <= MaxImagePixels;
    }

    // No format the program writes packs more than a few thousand pixels into one byte, even for a
    // single flat colour; a short file that claims a huge picture is damaged, and decoding it would
    // only allocate the memory for nothing.
    bool plausibleForLength(QSize size, qsizetype length)
    {
        return qint64(size.width()) * size.height() <= qint64(length) * 4096 + 1024 * 1024;
    }

    QString tooLargeMessage(const QString& name, QSize size)
    {
        return tr("The image %1 is too large to process (%2 x %3 pixels).")
            .arg(name)
            .arg(size.width())
            .arg(size.height());
    }

    // FreeImage keeps rows bottom-up in BGRA order, QImage top-down in 0xAARRGGBB words, which on a
    // little-endian machine are the same four bytes; only the row order flips.
    QImage fromFreeImage(FIBITMAP* source)
    {
        DibPtr converted;
        FIBITMAP* dib = source;
        const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
        if (type != FIT_BITMAP) {
            if (type == FIT_RGB16 || type == FIT_RGBA16) {
                converted.reset(FreeImage_ConvertTo32Bits(dib));
            } else {
                converted.reset(FreeImage_ConvertToStandardType(dib, TRUE));
            }
            if (!converted)
                return {};
            dib = converted.get();
        }
        const bool alpha = FreeImage_IsTransparent(dib);
        DibPtr bits32;
        if (FreeImage_GetBPP(dib) != 32 || FreeImage_GetImageType(dib) != FIT_BITMAP) {
            bits32.reset(FreeImage_ConvertTo32Bits(dib));
            if (!bits32)
                return {};
            dib = bits32.get();
        }
        const int width = int(FreeImage_GetWidth(dib));
        const int height = int(FreeImage_GetHeight(dib));
        QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (image.isNull())
            return {};
        for (int y = 0; y < height; ++y) {
            const BYTE* from = FreeImage_GetScanLine(dib, height - 1 - y);
            auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
            std::memcpy(to, from, size_t(width) * 4);
            if (!alpha) {
                for (int x = 0; x < width; ++x)
                    to[x] |= 0xff000000u;
            }
        }
        return image;
    }

    QRgb flattenOntoWhite(QRgb pixel)
    {
        const int a = qAlpha(pixel);
        if (a == 255)
            return pixel;
        const auto blend = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
        return qRgb(blend(qRed(pixel)), blend(qGreen(pixel)), blend(qBlue(pixel)));
    }

    DibPtr toFreeImage(const QImage& source, bool keepAlpha)
    {
        const QImage image = normalizedImage(source);
        const int width = image.width();
        const int height = image.height();
        const bool translucent = image.hasAlphaChannel();
        const bool alpha = keepAlpha && translucent;
        DibPtr dib(FreeImage_Allocate(
            width, height, alpha ? 32 : 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
        if (!dib)
            return dib;
        for (int y = 0; y < height; ++y) {
            const auto* from = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            BYTE* to = FreeImage_GetScanLine(dib.get(), height - 1 - y);
            if (alpha) {
                std::memcpy(to, from, size_t(width) * 4);
                continue;
            }
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = translucent ? flattenOntoWhite(from[x]) : from[x];
                to[FI_RGBA_BLUE] = BYTE(qBlue(pixel));
                to[FI_RGBA_GREEN] = BYTE(qGreen(pixel));
                to[FI_RGBA_RED] = BYTE(qRed(pixel));
                to += 3;
            }
        }
        return dib;
    }

    bool supportedOwnFormat(FREE_IMAGE_FORMAT format)
    {
        // Decoders of formats the program never writes are not exposed at all.
        switch (format) {
        case FIF_JPEG:
        case FIF_PNG:
        case FIF_BMP:
        case FIF_GIF:
        case FIF_TIFF:
            return true;
        default:
            return false;
        }
    }

    std::optional<QSize> headerSize(FIMEMORY* memory, FREE_IMAGE_FORMAT format, const QByteArray& bytes)
    {
        if (format == FIF_GIF) {
            // FreeImage has no header-only reading for GIF; the logical screen size is bytes 6 to 9.
            if (bytes.size() < 10)
                return std::nullopt;
            const auto byte = [&](int i) { return int(quint8(bytes[i])); };
            return QSize(byte(6) | byte(7) << 8, byte(8) | byte(9) << 8);
        }
        FreeImage_SeekMemory(memory, 0, SEEK_SET);
        DibPtr header(FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS));
        FreeImage_SeekMemory(memory, 0, SEEK_SET);
        if (!header)
            return std::nullopt;
        return QSize(int(FreeImage_GetWidth(header.get())), int(FreeImage_GetHeight(header.get())));
    }

    bool endsLikeComplete(const QByteArray& bytes, FREE_IMAGE_FORMAT format)
    {
        // FreeImage hands back a grey-padded picture for a cut-off JPEG or PNG and only mentions it as a
        // warning; a missing end marker is the reliable sign that the writer never finished.
        if (format == FIF_JPEG) {
            const qsizetype end = bytes.lastIndexOf("\xff\xd9");
            return end >= 0 && bytes.size() - end <= 4096;
        }
        if (format == FIF_PNG)
            return bytes.lastIndexOf("IEND") >= 0;
        return true;
    }

    // The JPEGs the program writes (colour or grey) come out of Qt's reader as the same pixels as out of
    // FreeImage, which decodes with the same library and method (accurate transform, smooth chroma
    // upsampling), in about half the time: FreeImage swaps the channels and widens the picture to 32
    // bits in passes of its own. Nothing: leave it to FreeImage, which then gives the error.
    std::optional<QImage> quickJpeg(const QByteArray& bytes, QSize expected)
    {
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "jpeg");
        reader.setAutoTransform(false);
        const QImage::Format format = reader.imageFormat();
        if (reader.size() != expected || (format != QImage::Format_RGB32 && format != QImage::Format_Grayscale8))
            return std::nullopt;
        QImage image = reader.read();
        if (image.isNull() || image.size() != expected)
            return std::nullopt;
        return normalizedImage(image);
    }

    FREE_IMAGE_FORMAT freeImageFormat(ImageFormat format)
    {
        switch (format) {
        case ImageFormat::Jpeg:
            return FIF_JPEG;
        case ImageFormat::Png:
            return FIF_PNG;
        case ImageFormat::Bmp:
            return FIF_BMP;
        case ImageFormat::Gif:
            return FIF_GIF;
        case ImageFormat::Tiff:
            return FIF_TIFF;
        }
        return FIF_UNKNOWN;
    }

} // namespace

QImage normalizedImage(const QImage& image)
{
    if (image.isNull())
        return image;
    if (image.hasAlphaChannel())
        return image.format() == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
    return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

QString formatSuffix(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return QStringLiteral("jpg");
    case ImageFormat::Png:
        return QStringLiteral("png");
    case ImageFormat::Bmp:
        return QStringLiteral("bmp");
    case ImageFormat::Gif:
        return QStringLiteral("gif");
    case ImageFormat::Tiff:
        return QStringLiteral("tiff");
    }
    return {};
}

Common::Result<QImage> decodeOwnImage(const QByteArray& bytes, const QString& nameForMessages)
{
    installFreeImageHandler();
    if (bytes.isEmpty())
        return makeError(tr("The image file %1 is empty.").arg(nameForMessages));

    // FreeImage's streams take a mutable pointer but only read through it.
    MemoryPtr memory(
        FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.constData())), DWORD(bytes.size())));
    if (!memory)
        return makeError(tr("Cannot read the image file %1.").arg(nameForMessages));
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory.get(), 0);
    if (!supportedOwnFormat(format))
        return makeError(tr("The file %1 is not a JPEG, PNG, BMP, GIF or TIFF image.").arg(nameForMessages));
    if (!endsLikeComplete(bytes, format))
        return makeError(tr("The image file %1 is truncated.").arg(nameForMessages));

    // The picture size comes from the header alone, so a file claiming a gigantic picture is refused
    // before anything is allocated for it.
    lastFreeImageMessage.clear();
    const std::optional<QSize> size = headerSize(memory.get(), format, bytes);
    if (!size) {
        const QString why = lastFreeImageMessage.isEmpty() ? tr("the header is damaged") : lastFreeImageMessage;
        return makeError(tr("Cannot read the image file %1: %2.").arg(nameForMessages, why));
    }
    if (!sizeAcceptable(*size))
        return makeError(tooLargeMessage(nameForMessages, *size));
    if (!plausibleForLength(*size, bytes.size()))
        return makeError(
            tr("The image file %1 is damaged: it is too short for its picture size.").arg(nameForMessages));

    if (format == FIF_JPEG) {
        if (std::optional<QImage> image = quickJpeg(bytes, *size))
            return *image;
    }
    lastFreeImageMessage.clear();
    const int flags = format == FIF_JPEG ? JPEG_ACCURATE : 0;
    DibPtr dib(FreeImage_LoadFromMemory(format, memory.get(), flags));
    if (!dib) {
        QString why = lastFreeImageMessage.isEmpty() ? tr("the data cannot be decoded") : lastFreeImageMessage;
        return makeError(tr("Cannot read the image file %1: %2.").arg(nameForMessages, why));
    }
    const QSize decodedSize(int(FreeImage_GetWidth(dib.get())), int(FreeImage_GetHeight(dib.get())));
    if (!sizeAcceptable(decodedSize))
        return makeError(tooLargeMessage(nameForMessages, decodedSize));
    QImage image = fromFreeImage(dib.get());
    if (image.isNull())
        return makeError(tr("Cannot convert the pixels of the image file %1.").arg(nameForMessages));
    return image;
}

Common::Result<QImage> loadOwnImage(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return makeError(tr("The image file %1 does not exist.").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        return makeError(tr("Cannot open the image file %1: %2.").arg(path, file.errorString()));
    // Even a compressed picture of the largest accepted size fits well within this.
    if (file.size() > MaxImagePixels * 4)
        return makeError(tr("The image file %1 is too large.").arg(path));
    return decodeOwnImage(file.readAll(), path);
}

Common::Result<QImage> loadForeignImage(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return makeError(tr("The image file %1 does not exist.").arg(path));
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && !sizeAcceptable(size))
        return makeError(tooLargeMessage(path, size));
    QImage image = reader.read();
    if (image.isNull())
        return makeError(tr("Cannot read the image file %1: %2.").arg(path, reader.errorString()));
    if (!sizeAcceptable(image.size()))
        return makeError(tooLargeMessage(path, image.size()));
    return normalizedImage(image);
}

Common::Result<QImage> loadImage(const QString& path, FileOrigin origin)
{
    return origin == FileOrigin::Own ? loadOwnImage(path) : loadForeignImage(path);
}

Common::Result<QByteArray> encodeImage(const QImage& image, ImageFormat format, int jpegQuality)
{
    installFreeImageHandler();
    if (image.isNull())
        return makeError(tr("There is no image to save."));

    const bool keepAlpha = format == ImageFormat::Png || format == ImageFormat::Tiff;
    DibPtr dib = toFreeImage(image, keepAlpha);
    if (!dib)
        return makeError(tr("Not enough memory to save the image."));

    int flags = 0;
    if (format == ImageFormat::Jpeg) {
        // FreeImage reads a quality of 0 as "use the default", so the lowest quality asked for is 1.
        const int quality = std::clamp(jpegQuality, 1, 100);
        flags = quality | (quality >= 90 ? JPEG_SUBSAMPLING_444 : JPEG_SUBSAMPLING_420);
    } else if (format == ImageFormat::Gif) {
        // The lossless quantiser keeps every colour of an image that has 256 or fewer; photographs
        // fall back to Wu's quantiser.
        DibPtr paletted(FreeImage_ColorQuantizeEx(dib.get(), FIQ_LFPQUANT, 256, 0, nullptr));
        if (!paletted)
            paletted.reset(FreeImage_ColorQuantize(dib.get(), FIQ_WUQUANT));
        if (!paletted)
            return makeError(tr("Cannot reduce the image to 256 colours."));
        dib = std::move(paletted);
    }

    MemoryPtr memory(FreeImage_OpenMemory());
    lastFreeImageMessage.clear();
    if (!memory || !FreeImage_SaveToMemory(freeImageFormat(format), dib.get(), memory.get(), flags)) {
        const QString why = lastFreeImageMessage.isEmpty() ? tr("the encoder failed") : lastFreeImageMessage;
        return makeError(tr("Cannot encode the image as %1: %2.").arg(formatSuffix(format).toUpper(), why));
    }
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory.get(), &data, &size);
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

Common::Status writeFileAtomically(const QString& path, const QByteArray& bytes, Durability durability)
{
    if (durability == Durability::Synced) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return makeError(tr("Cannot write the file %1: %2.").arg(path, file.errorString()));
        // Qt's commit() takes no notice of a last buffered block that the disk refused (a full disk
        // published an empty file): the flush is checked here.
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            const QString why = file.errorString();
            file.cancelWriting();
            return makeError(tr("Cannot write the file %1: %2.").arg(path, why));
        }
        if (!file.commit())
            return makeError(tr("Cannot write the file %1: %2.").arg(path, file.errorString()));
        return Common::success();
    }

    // The same temporary-then-rename as above, without waiting for the disk.
    const QFileInfo target(path);
    QTemporaryFile file(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return makeError(tr("Cannot write the file %1: %2.").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        return makeError(tr("Cannot write the file %1: %2.").arg(path, file.errorString()));
    const QFileDevice::Permissions permissions = target.exists()
        ? QFile::permissions(path)
        : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    file.setPermissions(permissions);
    // QFile::rename refuses to replace an existing file; the system call replaces it in one step.
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return makeError(tr("Cannot write the file %1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    file.setAutoRemove(false);
    return Common::success();
}

Common::Status saveImage(
    const QImage& image, const QString& path, ImageFormat format, int jpegQuality, Durability durability)
{
    auto bytes = encodeImage(image, format, jpegQuality);
    if (!bytes)
        return bytes.error();
    return writeFileAtomically(path, bytes.value(), durability);
}

} // namespace Imaging
