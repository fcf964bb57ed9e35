#include "common/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace Common {

QString AppPath() { return AddBackslash(QCoreApplication::applicationDirPath()); }

bool FileExists(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        return false;
    const QFileInfo info(trimmed);
    return info.exists() && !info.isDir();
}

Status MakePath(const QString& path)
{
    const QString cleaned = QDir::cleanPath(path.trimmed());
    if (cleaned.isEmpty())
        return Error { 0, QStringLiteral("MakePath"), QStringLiteral("Path not found") };

    // Walk down from the root so that every missing level is created in turn and an existing
    // file standing where a folder should be is reported by name.
    const bool absolute = cleaned.startsWith(QLatin1Char('/'));
    QString current = absolute ? QStringLiteral("/") : QString();
    const QStringList levels = cleaned.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& level : levels) {
        if (!current.isEmpty() && !current.endsWith(QLatin1Char('/')))
            current += QLatin1Char('/');
        current += level;
        const QFileInfo info(current);
        if (info.isDir())
            continue;
        if (info.exists())
            return Error { 0, QStringLiteral("MakePath"),
                QStringLiteral("Path/File access error: '%1' is a file, not a folder").arg(current) };
        if (!QDir().mkdir(current) && !QFileInfo(current).isDir())
            return Error { 0, QStringLiteral("MakePath"),
                QStringLiteral("Path/File access error: cannot create the folder '%1'").arg(current) };
    }
    return success();
}

Status EnsureFolder(const QString& path)
{
    if (QFileInfo(path.trimmed()).isDir())
        return success();
    return MakePath(path);
}

QString AddSeparator(const QString& path)
{
    QString text = path;
    const qsizetype open = text.indexOf(QLatin1Char('['));
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    // A volume label such as "Backup [sdb1]" carries the device in brackets; it is not part of the path.
    if (open >= 0 && close > open)
        text = text.left(open) + text.mid(close + 1);
    text = text.trimmed();
    return AddBackslash(text);
}

QString AddBackslash(const QString& path)
{
    if (path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

bool isLeftoverIntermediate(const QString& fileName)
{
    // Folders hold up to hundreds of thousands of names: most never reach the expression.
    if (!fileName.endsWith(QLatin1String(".part.jpg")))
        return false;
    static const QRegularExpression pattern(QStringLiteral("^.+\\.(jpg|gif|png|bmp|tiff)\\.part\\.jpg$"));
    return pattern.match(fileName).hasMatch();
}

} // namespace Common
