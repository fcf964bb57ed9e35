#include "batch/folderlock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
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

    // holder: the lock file's text, as holderText() wrote it.
    Common::Error refusal(const QString& folder, const QByteArray& holder)
    {
        const QStringList lines = QString::fromUtf8(holder).split(QLatin1Char('\n'));
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

    QByteArray holderOf(int file)
    {
        char text[512];
        const ssize_t length = ::pread(file, text, sizeof text, 0);
        return QByteArray(text, std::max<ssize_t>(length, 0));
    }

    using FileKey = std::pair<dev_t, ino_t>;

    // The lock files this process holds, with the task holding each. On a local disk flock(2) refuses
    // a second lock of a file from the same process, but a network file system (NFS) carries it out as
    // a record lock, which belongs to the whole process: there the second would be granted, and
    // closing its file would drop the first. So the process's own holds are refused from this list,
    // before their file is opened. Process-wide, as record locks are. (Recursive: a refused acquire
    // lets go of what it took while it still has the list.)
    struct HeldFiles {
        std::recursive_mutex mutex;
        std::map<FileKey, QString> tasks;
    };

    HeldFiles& heldFiles()
    {
        static HeldFiles held;
        return held;
    }

    std::atomic<bool> recordLocks = false;

    bool lockFile(int file)
    {
        if (!recordLocks)
            return ::flock(file, LOCK_EX | LOCK_NB) == 0;
        struct flock whole { };
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(file, F_SETLK, &whole) == 0)
            return true;
        if (errno == EACCES || errno == EAGAIN)
            errno = EWOULDBLOCK;
        return false;
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
    HeldFiles& held = heldFiles();
    const std::lock_guard guard(held.mutex);
    FolderLock lock;
    std::vector<FileKey> locked;
    const auto known = [&](const FileKey& key) {
        return std::find(locked.begin(), locked.end(), key) != locked.end() || held.tasks.count(key) > 0;
    };
    for (const QString& folder : folders) {
        if (folder.trimmed().isEmpty() || !Common::EnsureFolder(workFolder(folder)))
            continue;
        const QByteArray path = QFile::encodeName(folderLockFile(folder));
        struct stat info { };
        // A folder named twice, or held elsewhere in this process, is known before its file is opened.
        if (::stat(path.constData(), &info) == 0) {
            const auto holder = held.tasks.find(FileKey(info.st_dev, info.st_ino));
            if (holder != held.tasks.end())
                return refusal(folder, holderText(holder->second)); // the locks taken so far go with `lock`
            if (known(FileKey(info.st_dev, info.st_ino)))
                continue;
        }
        int file = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // Another user's lock file: flock needs no write access (a record lock does: on NFS such a
        // folder goes unlocked).
        if (file < 0)
            file = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        // Known only when the file was made or replaced since the look above.
        if (file < 0 || ::fstat(file, &info) != 0 || known(FileKey(info.st_dev, info.st_ino))) {
            if (file >= 0)
                ::close(file);
            continue;
        }
        if (!lockFile(file)) {
            std::optional<Common::Error> refused;
            if (errno == EWOULDBLOCK)
                refused = refusal(folder, holderOf(file));
            ::close(file);
            if (refused)
                return *refused;
            continue;
        }
        locked.emplace_back(info.st_dev, info.st_ino);
        lock.m_files.push_back(file);
        const QByteArray text = holderText(task);
        // A lock that does not name its holder still holds.
        [[maybe_unused]] const bool named
            = ::ftruncate(file, 0) == 0 && ::pwrite(file, text.constData(), size_t(text.size()), 0) == text.size();
    }
    for (const FileKey& key : locked)
        held.tasks.emplace(key, task);
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
    HeldFiles& held = heldFiles();
    const std::lock_guard guard(held.mutex);
    for (const int file : m_files) {
        struct stat info { };
        if (::fstat(file, &info) == 0)
            held.tasks.erase(FileKey(info.st_dev, info.st_ino));
        // Emptied while still held, so that no one refused later takes this process for the holder.
        [[maybe_unused]] const int emptied = ::ftruncate(file, 0);
        ::close(file);
    }
    m_files.clear();
}

void FolderLock::setRecordLocksForTest(bool on) { recordLocks = on; }

} // namespace Batch
