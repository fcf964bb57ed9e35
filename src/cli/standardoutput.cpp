#include "cli/standardoutput.h"

#include <cerrno>
#include <cstring>

#include "cli/exitcodes.h"

namespace Cli {

OutputWrite writeOutput(std::FILE* stream, const QByteArray& bytes)
{
    // The reason of an earlier failure went with its errno; the bytes that would follow it are as lost.
    if (std::ferror(stream))
        return { OutputWrite::Status::Failed, QStringLiteral("an earlier write failed") };
    errno = 0;
    const bool written
        = (bytes.isEmpty() || std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()))
        && std::fflush(stream) == 0;
    if (written)
        return {};
    const int error = errno != 0 ? errno : EIO;
    return { error == EPIPE ? OutputWrite::Status::Closed : OutputWrite::Status::Failed,
        QString::fromLocal8Bit(std::strerror(error)) };
}

int statusWithOutputChecked(int status)
{
    // Output still in the buffer goes now; a failure earlier left its mark on the stream.
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    if (status != ExitCode::Success && status != ExitCode::SomeFailed)
        return status;
    std::fputs("pictavo: standard output could not be written; some of it was lost\n", stderr);
    return ExitCode::WriteFailed;
}

} // namespace Cli
