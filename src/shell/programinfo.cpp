#include "shell/programinfo.h"

#include <QDir>
#include <QFileInfo>

namespace Shell {

QString programName() { return QStringLiteral("Pictavo Studio"); }

QString programVersion() { return QStringLiteral(PICTAVO_VERSION); }

QString desktopId() { return QStringLiteral("com.corvane.PictavoStudio"); }

QString websiteAddress() { return QStringLiteral("https://www.corvane.com/pictavo/"); }
QString supportAddress() { return QStringLiteral("support@corvane.com"); }
QString salesAddress() { return QStringLiteral("sales@corvane.com"); }

QString helpPagePath(const QString& appPath)
{
    const QString candidates[]
        = { appPath + QStringLiteral("Help.html"), appPath + QStringLiteral("../share/pictavo-studio/Help.html") };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
    }
    return {};
}

} // namespace Shell
