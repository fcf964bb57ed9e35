#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace FuzzSupport {

void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    std::abort();
}

QString scratchFolder()
{
    // Destroyed by exit(), which is how libFuzzer ends a bounded run; a crash leaves the folder behind.
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
        auto made = std::make_unique<QTemporaryDir>(base + QStringLiteral("/pictavo-fuzz-XXXXXX"));
        if (!made->isValid()) {
            std::fprintf(stderr, "cannot create a scratch folder under %s\n", qPrintable(base));
            std::exit(1);
        }
        return made;
    }();
    return folder->path();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

} // namespace FuzzSupport
