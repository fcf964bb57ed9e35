#pragma once

#include <functional>

#include <QString>

namespace Common {
class MessageBox;
}

namespace Batch {

// Narrows the links database down to the links that still have no thumbnail file (with the
// current image type's ending), keeping each remaining line byte for byte and in order. The lines are
// written to "LinksInfo.temp.txt" beside the database, which then replaces the database in one rename,
// so there is never a moment without a database and a failure leaves the old one whole.
//
// A failing step asks Retry or Cancel through `boxes`; Cancel leaves the database as it was.
// `progress` receives a percentage every ten lines (it may let window events run). True when the
// database was replaced.
bool CreateRetryFile(const QString& linksInfoFile, const QString& imagesFolder, int imageType,
    Common::MessageBox& boxes, const std::function<void(int percent)>& progress);

// The temporary file's path for a database path.
QString retryTempFile(const QString& linksInfoFile);

} // namespace Batch
