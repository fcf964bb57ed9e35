#pragma once

#include <QString>
#include <QStringList>

namespace Common {

// The names (without path) of the files of a folder, hidden ones included, sub-folders and special files
// (pipes, sockets, devices) left out, sorted by name so that a numbered range means the same files from
// one run to the next. A folder without files, or one that cannot be read, gives one empty name.
QStringList ListFolderFiles(const QString& folder);

// How many files a ListFolderFiles list names (its lone empty name counts as none).
int countListedFiles(const QStringList& files);

} // namespace Common
