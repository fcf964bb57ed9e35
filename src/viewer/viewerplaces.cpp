#include "viewer/viewerplaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QStorageInfo>

namespace Viewer {

namespace {

    QString cleanFolder(const QString& path) { return QDir::cleanPath(QDir(path).absolutePath()); }

    bool contains(const QString& folder, const QString& path)
    {
        if (folder == QLatin1String("/"))
            return path.startsWith(folder);
        return path == folder || path.startsWith(folder + QLatin1Char('/'));
    }

} // namespace

QList<Place> viewerPlaces(const QString& snapshotsFolder)
{
    QList<Place> places;
    const auto add = [&places](const QString& label, const QString& path) {
        const QString folder = cleanFolder(path);
        for (const Place& place : places) {
            if (place.path == folder)
                return;
        }
        places.append({ label, folder });
    };
    add(QCoreApplication::translate("Viewer", "Home"), QDir::homePath());
    if (!snapshotsFolder.trimmed().isEmpty())
        add(QCoreApplication::translate("Viewer", "Snapshots"), snapshotsFolder);
    add(QCoreApplication::translate("Viewer", "File system"), QDir::rootPath());
    // Pseudo file systems (proc, sysfs, tmpfs, overlays) are no place to keep pictures.
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && volume.device().startsWith("/dev/")
            && !volume.device().startsWith("/dev/loop"))
            add(volume.displayName(), volume.rootPath());
    }
    return places;
}

qsizetype placeOfPath(const QList<Place>& places, const QString& path)
{
    const QString target = cleanFolder(path);
    qsizetype best = -1;
    for (qsizetype i = 0; i < places.size(); ++i) {
        if (contains(places.at(i).path, target) && (best < 0 || places.at(i).path.size() > places.at(best).path.size()))
            best = i;
    }
    return best;
}

} // namespace Viewer
