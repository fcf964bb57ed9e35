#pragma once

#include <sys/mount.h>

#include <QDir>
#include <QFile>

namespace TestSupport {

// A small tmpfs of its own on `folder`; fill() takes its last page, so that every later write there fails
// with ENOSPC as on a full disk. Mounting needs root (CI runs as root): where it is refused, or with no
// folder, isMounted() is false and fill() does nothing. Unmounted when destroyed, also when a test fails.
class FullDisk final {
public:
    explicit FullDisk(const QString& folder)
        : m_path(folder)
        , m_mounted(!folder.isEmpty() && QDir().mkpath(folder)
              && ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") == 0)
    {
    }
    ~FullDisk() { m_mounted&& ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH) == 0; }
    Q_DISABLE_COPY_MOVE(FullDisk)

    bool isMounted() const { return m_mounted; }
    // The filler lies in a hidden folder, out of the way of a test that lists the folder's files.
    void fill() const
    {
        QFile filler(m_path + QStringLiteral("/.filler/pages"));
        if (m_mounted && QDir(m_path).mkdir(QStringLiteral(".filler")) && filler.open(QIODevice::WriteOnly))
            while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) { }
    }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace TestSupport
