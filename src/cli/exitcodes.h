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
    // Something the command had to write could not be written (a full disk, an I/O error): standard
    // output, the run report, or a thumbnail. The work that needed no such write was done. Kept apart from
    // SomeFailed, which a nightly run of a real directory always has, so that a full disk is never missed.
    constexpr int WriteFailed = 3;
    // A signal stopped the command. Commands end with this; the program's status is then 128 plus the
    // first signal caught, as shells report it: 130 for SIGINT, 143 for SIGTERM.
    constexpr int Interrupted = 130;
    // run, report: standard output's reader went away (`pictavo run | head`); a run stopped as on SIGINT.
    // 128 + SIGPIPE, the status a writer killed by that signal would have.
    constexpr int OutputClosed = 141;
} // namespace ExitCode

} // namespace Cli
