#pragma once

#include <QString>
#include <QStringList>

#include "common/result.h"

namespace Viewer {

// True when the viewer shows the file: its name contains ".jpg", ".gif", ".png", ".bmp" or ".tiff"
// anywhere, in these letters' case. So "a.jpg.bak" is shown and "a.JPG" or "a.tif" are not.
bool isViewerImageFile(const QString& fileName);

// True for the files "Delete All" removes: names ending in ".jpg", ".gif", ".png", ".bmp" or ".tiff".
bool isThumbnailFile(const QString& fileName);

// The names (without folder) of the folder's files that the viewer shows, in the order of
// Common::ListFolderFiles. A folder that does not exist or cannot be read is an error; one without
// image files is an empty list. Blocking file-system work: run it off the GUI thread.
Common::Result<QStringList> listViewerFiles(const QString& folder);

// What deleting a set of files came to.
struct DeletionReport final {
    int deleted = 0;
    QStringList failures; // one "name: reason" per file that could not be deleted
};

// Deletes the files given by full path, each on its own; a failure does not stop the others.
DeletionReport deleteFiles(const QStringList& filePaths);

// Deletes every file of the folder that isThumbnailFile() accepts; files that cannot be deleted are
// left and counted as failures. Blocking: run it off the GUI thread.
DeletionReport deleteThumbnailFiles(const QString& folder);

} // namespace Viewer
