#pragma once

#include <QString>
#include <QStringList>

namespace Common {
class MessageBox;
}

namespace Batch {

// The file endings of the thumbnail formats, indexed by the ImageType setting (0 to 4).
const QStringList& ImageExtensions();

// The one rule for a thumbnail's file name: folder, link ID, and the ending of the image type.
// An image type outside 0..4 falls back to the first format.
QString thumbnailFileName(const QString& imagesFolder, const QString& linkId, int imageType);

// The files and folders the program keeps beside itself.
struct AppFolders final {
    explicit AppFolders(const QString& appPath);
    QString snapshots;
    QString data;
    QString LinksInfoFile;
};

// Makes sure the snapshots and data folders and the links database exist, creating an empty
// database when there is none; an existing database is never touched. A failing step asks
// "Retry" or "Cancel" through `boxes`: Retry repeats the step, Cancel gives up the remaining steps.
// True when every step succeeded.
bool CreateAppFolders(const AppFolders& folders, Common::MessageBox& boxes);

} // namespace Batch
