#include "batch/appfolders.h"

#include <functional>

#include <QDir>
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

namespace {

    const QString& extensionFor(int imageType)
    {
        const QStringList& extensions = ImageExtensions();
        return imageType >= 0 && imageType < extensions.size() ? extensions.at(imageType) : extensions.first();
    }

    // The longest file name most Linux file systems take, in bytes.
    constexpr qsizetype MaxFileNameBytes = 255;
    // The longest extension and the dot before it: a name that fits with it fits with every format.
    constexpr qsizetype LongestEnding = 5;

    constexpr QLatin1String LockFileName("pictavo.lock");

} // namespace

std::optional<QString> linkIdProblem(const QString& linkId)
{
    if (linkId.isEmpty())
        return QStringLiteral("the link has no ID");
    if (linkId == QLatin1String(".") || linkId == QLatin1String(".."))
        return QStringLiteral("the link ID \"%1\" cannot name a file").arg(linkId);
    for (const QChar c : linkId) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("the link ID holds a folder separator");
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("the link ID holds a control character");
    }
    if (linkId.toUtf8().size() + LongestEnding > MaxFileNameBytes)
        return QStringLiteral("the link ID is too long for a file name");
    return std::nullopt;
}

std::optional<QString> thumbnailFileName(const QString& imagesFolder, const QString& linkId, int imageType)
{
    if (linkIdProblem(linkId))
        return std::nullopt;
    return Common::AddBackslash(imagesFolder) + linkId + QLatin1Char('.') + extensionFor(imageType);
}

QString workFolder(const QString& imagesFolder)
{
    return Common::AddBackslash(imagesFolder) + QStringLiteral(".pictavo-work");
}

QString folderLockFile(const QString& folder) { return workFolder(folder) + QLatin1Char('/') + LockFileName; }

int removeLeftoverIntermediates(const QString& imagesFolder)
{
    int removed = 0;
    const QDir work(workFolder(imagesFolder));
    for (const QString& name : work.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // A lock file removed while held would let the next run lock a new one beside it.
        if (name != LockFileName)
            removed += QFile::remove(work.filePath(name)) ? 1 : 0;
    }
    const QDir images(imagesFolder);
    for (const QString& name : images.entryList({ QStringLiteral("*.part.jpg") }, QDir::Files | QDir::Hidden)) {
        if (Common::isLeftoverIntermediate(name))
            removed += QFile::remove(images.filePath(name)) ? 1 : 0;
    }
    return removed;
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
