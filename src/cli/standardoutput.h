#pragma once

#include <cstdio>

#include <QByteArray>
#include <QString>

namespace Cli {

// How a write to standard output went. The reader going away (`pictavo run | head`) is how a pipeline
// ends; a write that fails (a full disk, an I/O error) loses output that someone wanted. SIGPIPE must be
// ignored, or the first kills the process before it can tell.
struct OutputWrite final {
    enum class Status { Written, Closed, Failed };
    Status status = Status::Written;
    // The system's reason when it was not written.
    QString reason;
};

// Writes bytes to `stream` and flushes them, so that whoever reads sees each line as it is written. A
// stream that failed once stays failed: later writes report it without writing, so no line ever follows
// a gap.
OutputWrite writeOutput(std::FILE* stream, const QByteArray& bytes);

// The status a command ends with once standard output has had everything: a command that did its work
// but whose output did not all arrive ends with ExitCode::WriteFailed and one line on standard error.
// Statuses that already say the command failed or was stopped stand.
int statusWithOutputChecked(int status);

} // namespace Cli
