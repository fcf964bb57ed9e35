#include "shell/emptylisttext.h"

#include <QCoreApplication>

namespace Shell {

QString emptyListText(const QString& linksFile, qint32 linksCount)
{
    if (linksCount > 0)
        return QCoreApplication::translate(
            "Shell::frmMain", "Links in %1: %2.\nStart captures them; each one is listed here as the run reaches it.")
            .arg(linksFile, QString::number(linksCount));
    return QCoreApplication::translate("Shell::frmMain",
        "No links yet.\n\nImport them from your directory's admin script with Admin > Import (the script's "
        "address, user and password go in Config > Setup).\n\nOr write them yourself, one link a line as ID|URL "
        "(17|http://www.example.com/), to\n%1")
        .arg(linksFile);
}

} // namespace Shell
