#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include "common/result.h"

namespace Capture {

// A captured picture as the browser sent it: cheap to copy (the bytes are shared), so that it can be
// carried to another thread and decoded there. Empty when there is none.
struct CapturedImage final {
    QByteArray bytes;
    // "jpeg", "png", "webp".
    QByteArray format;
    QSize size;
    // What a thumbnail encoded as JPEG is saved at.
    int jpegQuality = 100;
    // The picture already decoded at the thumbnail size the engine was told of, or null: the
    // thumbnail of that size is then made from it without decoding the bytes again.
    QImage reduced;

    bool isEmpty() const { return bytes.isEmpty(); }
    // The picture scaled to width x height (keeping its aspect ratio inside that box when keepRatio is
    // set; a size of 0 takes the picture's own) and encoded in the format the mask's ending names
    // ("*.jpg"). Any thread.
    Common::Result<QByteArray> thumbnailBytes(const QString& formatMask, int width, int height, bool keepRatio) const;
};

// What a screenshot's base64 text holds: its bytes, the picture decoded at the thumbnail's size when
// one was asked for, and whether it is (nearly) one colour when judged.
struct ReadPicture final {
    QByteArray bytes;
    QImage reduced;
    bool blank = false;
};

// Any thread. size is the picture's own; reducedSize, when valid, is the thumbnail's size: the picture
// is decoded at it once, for the blank check and the thumbnail alike. judge: check for blankness.
ReadPicture readPictureData(const QString& base64, const QByteArray& format, QSize size, QSize reducedSize, bool judge);

// Scaling to a size from the settings could claim gigabytes: such a size is refused before any pixel
// is allocated.
bool withinDecodeLimit(QSize size);

} // namespace Capture
