#include "batch/appfolders.h"

#include <functional>

#include <QFile>

#include "common/paths.h"
#include "common/retrystep.h"

namespace Batch {

namespace {

    Common::Status createEmptyFile(const QString& path)
    {
        if (Common::FileExists(path))
            return Common::success();
        // NewOnly: should the file appear meanwhile it is left alone rather than truncated.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !Common::FileExists(path))
            return Common::Error { 0, QStringLiteral("CreateAppFolders"),
                QStringLiteral("%1: %2").arg(path, file.errorString()) };
        return Common::success();
    }

} // namespace

const QStringList& ImageExtensions()
{
    static const QStringList extensions { QStringLiteral("jpg"), QStringLiteral("gif"), QStringLiteral("png"),
        QStringLiteral("bmp"), QStringLiteral("tiff") };
    return extensions;
}

QString thumbnailFileName(const QString& imagesFolder, const QString& linkId, int imageType)
{
    const QStringList& extensions = ImageExtensions();
    const QString& extension
        = imageType >= 0 && imageType < extensions.size() ? extensions.at(imageType) : extensions.first();
    return Common::AddBackslash(imagesFolder) + linkId + QLatin1Char('.') + extension;
}

AppFolders::AppFolders(const QString& appPath)
    : snapshots(appPath + QStringLiteral("snapshots"))
    , data(appPath + QStringLiteral("data"))
    , LinksInfoFile(appPath + QStringLiteral("data/LinksInfo.txt"))
{
}

bool CreateAppFolders(const AppFolders& folders, Common::MessageBox& boxes)
{
    const std::function<Common::Status()> steps[] = {
        [&] { return Common::EnsureFolder(folders.snapshots); },
        [&] { return Common::EnsureFolder(folders.data); },
        [&] { return createEmptyFile(folders.LinksInfoFile); },
    };
    for (const auto& step : steps) {
        if (!Common::runWithRetry(boxes, QStringLiteral("Error"), step))
            return false;
    }
    return true;
}

} // namespace Batch
