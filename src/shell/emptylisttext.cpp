#include "shell/emptylisttext.h"

#include <QCoreApplication>

namespace Shell {

QString emptyListText(const QString& linksFile, qint32 linksCount)
{
    if (linksCount > 0)
        return QCoreApplication::translate("Shell::frmMain",
            "%n link(s) in %1.\nStart captures them; each one is listed here as the run reaches it.", nullptr,
            linksCount)
            .arg(linksFile);
    return QCoreApplication::translate("Shell::frmMain",
        "No links yet.\n\nImport them from your directory's admin script with Admin > Import (the script's "
        "address, user and password go in Config > Setup).\n\nOr write them to %1 yourself, one link a line as "
        "ID|URL, for example:\n17|http://www.example.com/")
        .arg(linksFile);
}

} // namespace Shell
