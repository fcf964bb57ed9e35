#include "viewer/viewerfiles.h"

#include <algorithm>
#include <array>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "common/folderfiles.h"

namespace Viewer {

namespace {

    constexpr std::array<QLatin1String, 5> Extensions = { QLatin1String(".jpg"), QLatin1String(".gif"),
        QLatin1String(".png"), QLatin1String(".bmp"), QLatin1String(".tiff") };

    QString tr(const char* text) { return QCoreApplication::translate("Viewer", text); }

    Common::Error folderError(const QString& folder, const QString& why)
    {
        return { 0, QStringLiteral("listViewerFiles"), tr("Cannot show the folder %1: %2.").arg(folder, why) };
    }

} // namespace

bool isViewerImageFile(const QString& fileName)
{
    return std::any_of(Extensions.begin(), Extensions.end(),
        [&fileName](QLatin1String extension) { return fileName.contains(extension, Qt::CaseSensitive); });
}

bool isThumbnailFile(const QString& fileName)
{
    return std::any_of(Extensions.begin(), Extensions.end(),
        [&fileName](QLatin1String extension) { return fileName.endsWith(extension, Qt::CaseSensitive); });
}

Common::Result<QStringList> listViewerFiles(const QString& folder)
{
    const QFileInfo info(folder);
    if (folder.trimmed().isEmpty() || !info.exists())
        return folderError(folder, tr("it does not exist"));
    if (!info.isDir())
        return folderError(folder, tr("it is not a folder"));
    // A folder without read or search permission lists as empty; say why instead of showing nothing.
    if (!info.isReadable() || !info.isExecutable())
        return folderError(folder, tr("permission denied"));
    QStringList names = Common::ListFolderFiles(folder);
    names.removeIf([](const QString& name) { return !isViewerImageFile(name); });
    return names;
}

DeletionReport deleteFiles(const QStringList& filePaths)
{
    DeletionReport report;
    for (const QString& path : filePaths) {
        QFile file(path);
        if (file.remove())
            ++report.deleted;
        else
            report.failures.append(QFileInfo(path).fileName() + QStringLiteral(": ") + file.errorString());
    }
    return report;
}

DeletionReport deleteThumbnailFiles(const QString& folder)
{
    if (folder.trimmed().isEmpty())
        return {};
    const QString base = QDir(folder).absolutePath() + QLatin1Char('/');
    QStringList paths;
    for (const QString& name : Common::ListFolderFiles(folder)) {
        if (isThumbnailFile(name))
            paths.append(base + name);
    }
    return deleteFiles(paths);
}

} // namespace Viewer
