#include "common/programfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/paths.h"

namespace Common {

namespace {

    // The one shipped file every layout has.
    const QString kShippedMarker = QStringLiteral("ThumbnailSample.jpg");

} // namespace

ProgramFolders programFolders(
    const QString& executableFolder, const QString& userDataFolder, bool executableFolderWritable)
{
    const QString beside = AddBackslash(executableFolder);
    const QString installed = AddBackslash(QDir::cleanPath(beside + QStringLiteral("../share/pictavo-studio")));
    const QString userData = AddBackslash(userDataFolder) + QStringLiteral("Corvane/Pictavo/");
    const bool shippedBeside = QFileInfo(beside + kShippedMarker).isFile();
    if (!shippedBeside && QFileInfo(installed + kShippedMarker).isFile())
        return { userData, installed };
    return { executableFolderWritable ? beside : userData, beside };
}

ProgramFolders programFolders()
{
    const QString executableFolder = AppPath();
    return programFolders(executableFolder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
        QFileInfo(executableFolder).isWritable());
}

} // namespace Common
