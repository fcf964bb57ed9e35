#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "common/result.h"

namespace Imaging {

// The raster formats the program writes.
enum class ImageFormat { Jpeg, Png, Bmp, Gif, Tiff };

// Where a file comes from decides who decodes it: the program's own files (thumbnails, samples,
// intermediate files) go through FreeImage; anything else (a stamp, a frame slice, a vignette mask,
// a file in a browsed folder) goes through Qt's maintained readers.
enum class FileOrigin { Own, Foreign };

// Images larger than this are refused before any pixel is decoded.
inline constexpr qint64 MaxImagePixels = 128LL * 1024 * 1024;
inline constexpr int MaxImageSide = 65535;

// Decodes a file the program wrote itself through FreeImage. The result is Format_RGB32 for opaque
// images and Format_ARGB32 (not premultiplied) when the file carries alpha. Any thread.
Common::Result<QImage> loadOwnImage(const QString& path);
Common::Result<QImage> decodeOwnImage(const QByteArray& bytes, const QString& nameForMessages);

// Decodes any other file with Qt's readers; same result formats as loadOwnImage. Any thread.
Common::Result<QImage> loadForeignImage(const QString& path);

Common::Result<QImage> loadImage(const QString& path, FileOrigin origin);

// Encodes through FreeImage. JPEG takes quality 0..100 (clamped) and, like BMP and GIF, has no alpha:
// translucent pixels are flattened onto white. GIF is quantised to 256 colours. PNG and TIFF keep alpha.
Common::Result<QByteArray> encodeImage(const QImage& image, ImageFormat format, int jpegQuality = 100);

// How far a write goes before it counts as done. Synced waits until the data is on the disk, so even
// a power cut cannot leave an empty file under the name; Flushed hands it to the system and suits files
// that are read back and replaced at once (intermediate and preview files), where waiting for the disk
// would cost more than the work itself.
enum class Durability { Synced, Flushed };

// Encodes and writes the file so that the target name only ever holds a complete file: the bytes go to
// a temporary file in the same folder, which is renamed over the target at the end.
Common::Status saveImage(const QImage& image, const QString& path, ImageFormat format, int jpegQuality = 100,
    Durability durability = Durability::Synced);

// Writes bytes under path through a temporary file in the same folder and a rename. A new file gets
// the usual permissions (read for all, write for the owner); a replaced one keeps its own.
Common::Status writeFileAtomically(
    const QString& path, const QByteArray& bytes, Durability durability = Durability::Synced);

// The image in the pixel layout every imaging operation works on (RGB32 or ARGB32).
QImage normalizedImage(const QImage& image);

// "jpg", "png", "bmp", "gif", "tiff".
QString formatSuffix(ImageFormat format);

} // namespace Imaging
