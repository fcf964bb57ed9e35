#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "common/result.h"

namespace Imaging {

// Image bytes and files in any format Qt writes, named by a file's ending, through Qt's own codecs and pixel
// layouts (FreeImage only for GIF and colour reduction), unlike imagefile's. Any thread.

// The most memory, in megabytes, that a decode here may allocate.
inline constexpr int DecodeLimitMb = 1100;

// The format a name's ending names, any case (jpg/jpe: "jpeg", tif: "tiff", dib: "bmp", any Qt writes), or empty.
QByteArray writerFormatFor(const QString& fileName);
// Decodes bytes of a Qt format, scaled smoothly to a valid size (a JPEG decoded at reduced scale); null on failure.
QImage decodeImage(const QByteArray& bytes, const QByteArray& format, QSize size = {});
// Any image file Qt reads, as its reader gives it: no turn by its orientation tag, no change of format.
Common::Result<QImage> readImageFile(const QString& path);
// The image in at most colors colours (taken into 2..256) by Wu's quantiser, as Format_RGB32.
Common::Result<QImage> reduceColors(const QImage& image, int colors);
// JPEG (at jpegQuality) and BMP without alpha, GIF through Wu's quantiser to 256 colours, the rest as Qt writes.
Common::Result<QByteArray> encodeInWriterFormat(const QImage& image, const QByteArray& format, int jpegQuality);
// Encodes in the format the path's ending names (PNG when none) and writes it with writeFileAtomically.
Common::Status writeImageFile(const QImage& image, const QString& path, int jpegQuality);
// The size for a width x height request: a side <= 0 follows the ratio (both: source); keepRatio fits inside.
QSize scaledSize(QSize source, int width, int height, bool keepRatio);

} // namespace Imaging
