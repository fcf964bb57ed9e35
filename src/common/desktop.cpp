#include "common/desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace Common {

bool SystemDesktop::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QUrl shellTarget(const QString& target)
{
    const QString trimmed = target.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.startsWith(QLatin1Char('/')) || QFileInfo::exists(trimmed))
        return QUrl::fromLocalFile(QFileInfo(trimmed).absoluteFilePath());
    // Links in the database are often stored without a scheme; fromUserInput makes them web addresses.
    return QUrl::fromUserInput(trimmed);
}

void ShellOpen(Desktop& desktop, const QString& target, const QString& verb)
{
    if (verb.compare(QLatin1String("Open"), Qt::CaseInsensitive) != 0)
        return;
    const QUrl url = shellTarget(target);
    if (url.isValid())
        desktop.openUrl(url);
}

void OpenFolderInExplorer(Desktop& desktop, const QString& folder)
{
    const QString trimmed = folder.trimmed();
    if (trimmed.isEmpty())
        return;
    desktop.openUrl(QUrl::fromLocalFile(QFileInfo(trimmed).absoluteFilePath()));
}

void PauseWithEvents(qint32 milliseconds)
{
    if (milliseconds <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace Common
