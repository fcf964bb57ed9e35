#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace Common {
class MessageBox;
}

namespace Batch {

// The file endings of the thumbnail formats, indexed by the ImageType setting (0 to 4).
const QStringList& ImageExtensions();

// Why a link ID cannot name a file, or nothing when it can. IDs come from the directory's server:
// one that is empty, "." or "..", holds a separator or a control character, or makes a name longer
// than the file system allows is never used as a file name.
std::optional<QString> linkIdProblem(const QString& linkId);

// The one rule for a thumbnail's file name: folder, link ID, and the ending of the image type.
// An image type outside 0..4 falls back to the first format. Nothing when the ID cannot name a file.
std::optional<QString> thumbnailFileName(const QString& imagesFolder, const QString& linkId, int imageType);

// The hidden folder inside the images folder where a completion keeps its intermediate file. No
// thumbnail can land there (an ID never holds a separator) and it is emptied at the start of a run.
QString workFolder(const QString& imagesFolder);
// The file whose lock holds a folder for one run, import or upload (FolderLock): in the folder's work
// folder, where no listing of thumbnails finds it.
QString folderLockFile(const QString& folder);
// Removes what a run cut short left behind: the work folder's files but its lock, and the intermediate files
// that earlier versions kept beside the thumbnails. Gives the number of files removed.
int removeLeftoverIntermediates(const QString& imagesFolder);

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
