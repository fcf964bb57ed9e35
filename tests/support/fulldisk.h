#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>

namespace TestSupport {

// A folder on a small tmpfs of its own that fill() fills to the last page: every later write there fails
// with ENOSPC, as on a full disk. Mounting needs root (CI runs as root); where it is refused,
// isMounted() is false and the test skips. Unmounted when destroyed, also when the test fails.
class FullDisk final {
public:
    explicit FullDisk(const QString& folder)
        : m_path(folder)
    {
        QDir().mkpath(folder);
        m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") == 0;
    }
    // The filler goes in a hidden folder, out of the way of a test that lists the folder's files.
    void fill()
    {
        QDir().mkpath(m_path + QStringLiteral("/.filler"));
        const int filler = ::open(QFile::encodeName(m_path + QStringLiteral("/.filler/pages")).constData(),
            O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const QByteArray page(4096, 'x');
        while (m_mounted && ::write(filler, page.constData(), size_t(page.size())) > 0) { }
        ::close(filler);
    }
    ~FullDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY_MOVE(FullDisk)

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_path; }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace TestSupport
