#include "capture/capturedimage.h"

#include "common/base64text.h"
#include "imaging/blankpicture.h"
#include "imaging/imagebytes.h"
#include "imaging/imagefile.h"

namespace Capture {

namespace {
    const QString kSource = QStringLiteral("HtmlSnap");
} // namespace

bool withinDecodeLimit(QSize size)
{
    return qint64(size.width()) * size.height() * 4 <= qint64(Imaging::DecodeLimitMb) * 1024 * 1024;
}

ReadPicture readPictureData(
    const QString& base64, const QByteArray& format, QSize size, QSize reducedSize, bool judge)
{
    ReadPicture read;
    read.bytes = Common::fromBase64Text(base64);
    if (read.bytes.isEmpty())
        return read;
    if (reducedSize.isValid())
        read.reduced = Imaging::decodeImage(read.bytes, format, reducedSize);
    if (!judge)
        return read;
    QImage judged = read.reduced;
    // Decoded straight at the size the rule judges: a JPEG's decoder then averages its 8 x 8
    // blocks, a fraction of a full decode and a smooth reduction.
    if (judged.isNull()) {
        QSize extent;
        if (size.width() > Imaging::BlankJudgedExtent || size.height() > Imaging::BlankJudgedExtent)
            extent = size.scaled(Imaging::BlankJudgedExtent, Imaging::BlankJudgedExtent, Qt::KeepAspectRatio)
                         .expandedTo(QSize(1, 1));
        judged = Imaging::decodeImage(read.bytes, format, extent);
    }
    // A picture that cannot be read is left to the steps that read it, which report it.
    read.blank = !judged.isNull() && Imaging::isBlankPicture(judged);
    return read;
}

Common::Result<QByteArray> CapturedImage::thumbnailBytes(
    const QString& formatMask, int width, int height, bool keepRatio) const
{
    if (bytes.isEmpty())
        return Common::Error { 0, kSource, QStringLiteral("No captured image") };
    const QByteArray writerFormat = Imaging::writerFormatFor(formatMask);
    if (writerFormat.isEmpty())
        return Common::Error { 0, kSource, QStringLiteral("Unknown image format %1").arg(formatMask) };

    const QSize target = Imaging::scaledSize(size, width, height, keepRatio);
    if (!withinDecodeLimit(target))
        return Common::Error { 0, kSource,
            QStringLiteral("A thumbnail of %1 x %2 pixels is too large").arg(target.width()).arg(target.height()) };
    const QImage image
        = !reduced.isNull() && reduced.size() == target ? reduced : Imaging::decodeImage(bytes, format, target);
    if (image.isNull())
        return Common::Error { 0, kSource, QStringLiteral("The captured image cannot be read") };
    return Imaging::encodeInWriterFormat(image, writerFormat, jpegQuality);
}

} // namespace Capture
