#include "batch/folderlock.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include "batch/appfolders.h"
#include "common/paths.h"

namespace Batch {

namespace {

    // One line each: process, machine, program, task.
    QByteArray holderText(const QString& task)
    {
        return QByteArray::number(QCoreApplication::applicationPid()) + '\n' + QSysInfo::machineHostName().toUtf8()
            + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' + task.toUtf8() + '\n';
    }

    Common::Error refusal(const QString& folder, int file)
    {
        char text[512];
        const ssize_t length = ::pread(file, text, sizeof text, 0);
        const QStringList lines = QString::fromUtf8(text, std::max<ssize_t>(length, 0)).split(QLatin1Char('\n'));
        bool named = false;
        const qint64 pid = lines.value(0).toLongLong(&named);
        QString message;
        // Empty between a holder's lock and its writing of the file, or after its release.
        if (named && lines.size() >= 4)
            message = QStringLiteral("%1 is in use by the %2 of %3 (process %4 on %5); try again once it has ended")
                          .arg(QDir::cleanPath(folder), lines.at(3), lines.at(2), QString::number(pid), lines.at(1));
        else
            message = QStringLiteral("%1 is in use by another run, import or upload; try again once it has ended")
                          .arg(QDir::cleanPath(folder));
        return { 0, QStringLiteral("FolderLock"), message };
    }

    int openLockFile(const QString& folder)
    {
        if (!Common::EnsureFolder(workFolder(folder)))
            return -1;
        const QByteArray path = QFile::encodeName(folderLockFile(folder));
        const int file = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // Another user's lock file: a lock needs no write access.
        return file >= 0 ? file : ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    }

} // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept
    : m_files(std::exchange(other.m_files, {}))
{
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_files = std::exchange(other.m_files, {});
    }
    return *this;
}

FolderLock::~FolderLock() { release(); }

Common::Result<FolderLock> FolderLock::acquire(const QStringList& folders, const QString& task)
{
    FolderLock lock;
    std::vector<std::pair<dev_t, ino_t>> locked;
    for (const QString& folder : folders) {
        const int file = folder.trimmed().isEmpty() ? -1 : openLockFile(folder);
        if (file < 0)
            continue;
        struct stat info { };
        // A second lock of the same file from this process would be refused by the first.
        if (::fstat(file, &info) != 0
            || std::find(locked.begin(), locked.end(), std::pair(info.st_dev, info.st_ino)) != locked.end()) {
            ::close(file);
            continue;
        }
        if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
            std::optional<Common::Error> refused;
            if (errno == EWOULDBLOCK)
                refused = refusal(folder, file);
            ::close(file);
            if (refused)
                return *refused; // the locks taken so far go with `lock`
            continue;
        }
        locked.emplace_back(info.st_dev, info.st_ino);
        lock.m_files.push_back(file);
        const QByteArray text = holderText(task);
        // A lock that does not name its holder still holds.
        [[maybe_unused]] const bool named
            = ::ftruncate(file, 0) == 0 && ::pwrite(file, text.constData(), size_t(text.size()), 0) == text.size();
    }
    return Common::Result<FolderLock>(std::move(lock));
}

Common::Result<FolderLock> FolderLock::forRun(const QString& programFolder, const QString& imagesFolder)
{
    return acquire({ programFolder, imagesFolder }, QStringLiteral("run"));
}

Common::Result<FolderLock> FolderLock::forImport(const QString& programFolder)
{
    return acquire({ programFolder }, QStringLiteral("import"));
}

Common::Result<FolderLock> FolderLock::forUpload(const QString& programFolder, const QString& viewerFolder)
{
    return acquire({ programFolder, viewerFolder }, QStringLiteral("upload"));
}

void FolderLock::release()
{
    for (const int file : m_files) {
        // Emptied while still held, so that no one refused later takes this process for the holder.
        [[maybe_unused]] const int emptied = ::ftruncate(file, 0);
        ::close(file);
    }
    m_files.clear();
}

} // namespace Batch
