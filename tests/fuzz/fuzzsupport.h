#pragma once

#include <QByteArray>
#include <QString>

// Helpers shared by the libFuzzer harnesses. A harness checks properties of what it parsed, not only that
// nothing crashed: a broken property ends the process like a crash, so libFuzzer keeps the input.
namespace FuzzSupport {

[[noreturn]] void fail(const char* condition, const char* file, int line);

// A folder of this process's own, removed at exit, for what must be handed over as a file. On /dev/shm when
// it is usable: the settings store syncs every write, which on a disk would make the harness crawl.
QString scratchFolder();

// Replaces the content of the file at path (created when missing).
void writeFile(const QString& path, const QByteArray& bytes);

} // namespace FuzzSupport

#define FUZZ_CHECK(condition) ((condition) ? void(0) : FuzzSupport::fail(#condition, __FILE__, __LINE__))
