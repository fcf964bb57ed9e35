#pragma once

namespace Cli {

// What the command line's exit status means; scripts and cron rely on these numbers.
namespace ExitCode {
    // Every link ended captured, skipped or ignored; the admin request succeeded.
    constexpr int Success = 0;
    // The work was done but some links (or uploads) failed.
    constexpr int SomeFailed = 1;
    // Nothing was done: bad arguments, no database, an empty range, no browser, a refused login.
    constexpr int CannotStart = 2;
    // Stopped by SIGINT or SIGTERM (128 + SIGINT, as shells report it).
    constexpr int Interrupted = 130;
} // namespace ExitCode

} // namespace Cli
