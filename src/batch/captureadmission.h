#pragma once

#include <QtGlobal>

namespace Batch {

// Whether one more capture may start now, beyond those in flight: ThreadsCount says how many may be in
// flight at most; this says how many the machine can take. A page that loads on a machine with no
// processor time to spare waits its turn outside the browser rather than inside, where its time-out
// would run while it starves, and the browser's processes never grow past the memory budget.
class CaptureAdmission final {
public:
    enum class Hold { None, Processor, Memory };

    struct Machine final {
        int cores = 1;
        // The share of all cores' time spent working over the last reading, 0 to 1.
        double busyShare = 0.0;
        // This program's process tree, the browsers included, at the last reading.
        qint64 treeBytes = 0;
        // The kernel's estimate of what can still be allocated; negative when unknown.
        qint64 availableBytes = -1;
    };

    struct Run final {
        // Captures started and not yet ended.
        int inFlight = 0;
        // Captures started since the last reading, whose cost the reading cannot show yet.
        int startedSinceReading = 0;
        qint64 budgetBytes = 0;
        // What one more capture is expected to add to the tree.
        qint64 bytesPerCapture = 0;
    };

    // Below this many captures per core in flight the processor's load never holds one back: most of a
    // capture is waiting on the network, and a machine that is busy (with the captures' own pages or
    // other work) still keeps this many going without starving them; on a web of real shape, 16 on two
    // cores lost no page while every core was busy.
    static constexpr int FreeCapturesPerCore = 8;
    // Past this share of working time, beyond the free captures, the processor has no room for another
    // page: at ThreadsCount 100 on two cores, captures without this limit starved until two thirds of
    // the live pages timed out.
    static constexpr double BusyLimit = 0.9;
    // A page's processor time comes after its first bytes, well after its start: per idle core, at
    // most this many captures start between two readings, so a burst cannot overshoot the room.
    static constexpr int StartsPerIdleCore = 2;
    // What the kernel must keep available whatever the budget says.
    static constexpr qint64 ReserveBytes = 256LL * 1024 * 1024;
    // The least a capture is taken to cost, whatever the measured average says.
    static constexpr qint64 LeastBytesPerCapture = 24LL * 1024 * 1024;

    static Hold hold(const Machine& machine, const Run& run);

    // The budget when the setting leaves it to the machine (0): half its memory, so the desktop and the
    // rest of the machine keep the other half; the settings' value in MB otherwise.
    static qint64 budgetBytes(int settingMegabytes, qint64 machineBytes);

    // What one more capture is expected to cost: the tree's growth over the run's start shared among
    // the captures in flight, never below LeastBytesPerCapture.
    static qint64 bytesPerCapture(qint64 treeBytes, qint64 baselineBytes, int inFlight);
};

} // namespace Batch
