#pragma once

#include <QByteArray>
#include <QImage>

#include "common/result.h"

namespace Imaging {

// Windows metafiles holding one bitmap, for users who paste thumbnails into office documents.
// Both draw the image as a 24-bit device-independent bitmap at 96 dots per inch; translucent pixels
// are flattened onto white.

// An Enhanced Metafile: header, one StretchDIBits record, end of file.
Common::Result<QByteArray> encodeEmf(const QImage& image);

// A placeable Windows Metafile: placeable header, header, window origin and extent, one StretchDIB
// record, end of file. Its coordinates are 16-bit, so sides above 32767 pixels are refused.
Common::Result<QByteArray> encodeWmf(const QImage& image);

} // namespace Imaging
