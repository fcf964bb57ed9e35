#include "imaging/metafile.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>

#include "imaging/imagefile.h"

namespace Imaging {

namespace {

    constexpr quint32 SrcCopy = 0x00cc0020;
    constexpr int DotsPerInch = 96;
    constexpr int BitmapInfoHeaderSize = 40;

    Common::Error metafileError(const QString& message)
    {
        return Common::Error { 0, QStringLiteral("Metafile"), message };
    }

    // A bottom-up 24-bit DIB: BITMAPINFOHEADER followed by rows padded to four bytes.
    QByteArray deviceIndependentBitmap(const QImage& source)
    {
        const QImage image = normalizedImage(source);
        const int width = image.width();
        const int height = image.height();
        const int stride = (width * 3 + 3) & ~3;
        QByteArray dib;
        QDataStream out(&dib, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        const qint32 pixelsPerMetre = qint32(DotsPerInch * 10000 / 254);
        out << quint32(BitmapInfoHeaderSize) << qint32(width) << qint32(height) << quint16(1) << quint16(24)
            << quint32(0) << quint32(stride * height) << pixelsPerMetre << pixelsPerMetre << quint32(0) << quint32(0);
        QByteArray row(stride, '\0');
        for (int y = height - 1; y >= 0; --y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                QRgb p = line[x];
                const int a = qAlpha(p);
                if (a != 255) {
                    const auto blend = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
                    p = qRgb(blend(qRed(p)), blend(qGreen(p)), blend(qBlue(p)));
                }
                row[3 * x] = char(qBlue(p));
                row[3 * x + 1] = char(qGreen(p));
                row[3 * x + 2] = char(qRed(p));
            }
            out.writeRawData(row.constData(), int(row.size()));
        }
        return dib;
    }

    Common::Status checkImage(const QImage& image, int maxSide)
    {
        if (image.isNull())
            return metafileError(QCoreApplication::translate("Imaging", "There is no image to save."));
        if (image.width() > maxSide || image.height() > maxSide)
            return metafileError(QCoreApplication::translate("Imaging", "The image is too large for a metafile."));
        return Common::success();
    }

} // namespace

Common::Result<QByteArray> encodeEmf(const QImage& image)
{
    if (auto ok = checkImage(image, MaxImageSide); !ok)
        return ok.error();
    const qint32 width = image.width();
    const qint32 height = image.height();
    const QByteArray dib = deviceIndependentBitmap(image);
    const quint32 bitsSize = quint32(dib.size() - BitmapInfoHeaderSize);

    constexpr quint32 HeaderSize = 108;
    constexpr quint32 StretchFixedSize = 80;
    const quint32 stretchSize = StretchFixedSize + quint32(dib.size());
    constexpr quint32 EofSize = 20;
    const quint32 total = HeaderSize + stretchSize + EofSize;

    // A reference device of 1920 x 1080 pixels at 96 dpi; frame units are hundredths of a millimetre.
    constexpr qint32 DeviceWidth = 1920;
    constexpr qint32 DeviceHeight = 1080;
    const auto hundredthsOfMm = [](qint32 pixels) { return qint32(qint64(pixels) * 2540 / DotsPerInch); };

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    // EMR_HEADER
    out << quint32(1) << HeaderSize << qint32(0) << qint32(0) << qint32(width - 1) << qint32(height - 1) << qint32(0)
        << qint32(0) << hundredthsOfMm(width) << hundredthsOfMm(height) << quint32(0x464d4520) << quint32(0x10000)
        << total << quint32(3) << quint16(1) << quint16(0) << quint32(0) << quint32(0) << quint32(0) << DeviceWidth
        << DeviceHeight << qint32(DeviceWidth * 254 / DotsPerInch / 10) << qint32(DeviceHeight * 254 / DotsPerInch / 10)
        << quint32(0) << quint32(0) << quint32(0) << qint32(DeviceWidth * 254000 / DotsPerInch / 10)
        << qint32(DeviceHeight * 254000 / DotsPerInch / 10);
    // EMR_STRETCHDIBITS
    out << quint32(81) << stretchSize << qint32(0) << qint32(0) << qint32(width - 1) << qint32(height - 1) << qint32(0)
        << qint32(0) << qint32(0) << qint32(0) << width << height << StretchFixedSize << quint32(BitmapInfoHeaderSize)
        << quint32(StretchFixedSize + BitmapInfoHeaderSize) << bitsSize << quint32(0) << SrcCopy << width << height;
    out.writeRawData(dib.constData(), int(dib.size()));
    // EMR_EOF
    out << quint32(14) << EofSize << quint32(0) << quint32(16) << EofSize;
    return bytes;
}

Common::Result<QByteArray> encodeWmf(const QImage& image)
{
    if (auto ok = checkImage(image, 32767); !ok)
        return ok.error();
    const qint16 width = qint16(image.width());
    const qint16 height = qint16(image.height());
    const QByteArray dib = deviceIndependentBitmap(image);

    // Record sizes count 16-bit words.
    const quint32 stretchWords = 14 + quint32(dib.size()) / 2;
    constexpr quint32 HeaderWords = 9;
    constexpr quint32 WindowWords = 5;
    constexpr quint32 EofWords = 3;
    const quint32 totalWords = HeaderWords + 2 * WindowWords + stretchWords + EofWords;

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    // Placeable header; its checksum is the XOR of the ten words before it.
    const quint16 placeable[10] = { 0xcdd7, 0x9ac6, 0, 0, 0, quint16(width), quint16(height), DotsPerInch, 0, 0 };
    quint16 checksum = 0;
    for (quint16 word : placeable) {
        out << word;
        checksum ^= word;
    }
    out << checksum;
    // META_HEADER
    out << quint16(1) << quint16(HeaderWords) << quint16(0x0300) << totalWords << quint16(0) << stretchWords
        << quint16(0);
    // META_SETWINDOWORG, META_SETWINDOWEXT (y before x)
    out << WindowWords << quint16(0x020b) << qint16(0) << qint16(0);
    out << WindowWords << quint16(0x020c) << height << width;
    // META_STRETCHDIB
    out << stretchWords << quint16(0x0f43) << SrcCopy << quint16(0) << height << width << qint16(0) << qint16(0)
        << height << width << qint16(0) << qint16(0);
    out.writeRawData(dib.constData(), int(dib.size()));
    // META_EOF
    out << EofWords << quint16(0);
    return bytes;
}

} // namespace Imaging
