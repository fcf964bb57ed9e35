#include "common/folderfiles.h"

#include <QDir>

#include "common/paths.h"

namespace Common {

QStringList ListFolderFiles(const QString& folder)
{
    // QDir::System is left out on purpose: here it means pipes, sockets and devices, and reading a
    // pipe would stall the upload.
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    names.removeIf([](const QString& name) { return Common::isLeftoverIntermediate(name); });
    if (names.isEmpty())
        names.append(QString());
    return names;
}

int countListedFiles(const QStringList& files)
{
    if (files.size() > 1)
        return int(files.size());
    return files.isEmpty() || files.first().isEmpty() ? 0 : 1;
}

} // namespace Common
