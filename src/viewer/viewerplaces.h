#pragma once

#include <QList>
#include <QString>

namespace Viewer {

// A place the folder tree can be pointed at: a label for the chooser and an absolute folder path.
struct Place final {
    QString label;
    QString path;

    friend bool operator==(const Place&, const Place&) = default;
};

// The places a user expects: the home folder, the snapshots folder, the file system's root and the
// mounted volumes backed by a device, each folder once, in that order.
QList<Place> viewerPlaces(const QString& snapshotsFolder);

// The index of the place holding path (the one with the longest path that contains it), or -1.
qsizetype placeOfPath(const QList<Place>& places, const QString& path);

} // namespace Viewer
