#pragma once

#include <vector>

#include <QStringList>

#include "common/result.h"

namespace Batch {

// An exclusive hold on the folders one run, import or upload works in, for as long as the object
// lives, so that a second one on the same folder (from this or another process, the window or the
// command line) is refused instead of emptying the work folder or replacing the links database under
// the first one's feet. Each folder's lock is an flock(2) on folderLockFile(): the system drops it when
// its holder ends, however it ends, so a killed holder never blocks the next one. The file names its
// holder (process, machine, program, task) for the refusal. A folder named twice, or by another path,
// is locked once; one this process holds already is refused, whatever the file system. A folder whose
// lock file cannot be made (one that cannot be written) goes unlocked: the work then meets that
// folder's own failure as it did before. Not thread-safe; any thread.
class FolderLock final {
public:
    // Holds nothing.
    FolderLock() = default;
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

    // What each task holds: all of it, or nothing when another holder has a part, which the error then
    // names. A run holds the program folder (the links database, the reports) and the images folder.
    static Common::Result<FolderLock> forRun(const QString& programFolder, const QString& imagesFolder);
    static Common::Result<FolderLock> forImport(const QString& programFolder);
    static Common::Result<FolderLock> forUpload(const QString& programFolder, const QString& viewerFolder);

    void release();
    bool isHeld() const { return !m_files.empty(); }

    // Test seam: locks as a network file system carries flock(2) out, with record locks that belong
    // to the whole process, so that a test on a local disk meets that case.
    static void setRecordLocksForTest(bool on);

private:
    // task: what the holder does there, as others' refusals name it.
    static Common::Result<FolderLock> acquire(const QStringList& folders, const QString& task);

    std::vector<int> m_files;
};

} // namespace Batch
