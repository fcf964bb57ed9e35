#include "batch/captureadmission.h"

#include <algorithm>
#include <cmath>

namespace Batch {

CaptureAdmission::Hold CaptureAdmission::hold(const Machine& machine, const Run& run)
{
    // With nothing in flight the run must move, whatever the machine says.
    if (run.inFlight <= 0)
        return Hold::None;
    const qint64 expected = run.bytesPerCapture * (qint64(run.startedSinceReading) + 1);
    if (run.budgetBytes > 0 && machine.treeBytes + expected > run.budgetBytes)
        return Hold::Memory;
    if (machine.availableBytes >= 0 && machine.availableBytes - expected < ReserveBytes)
        return Hold::Memory;
    const int cores = std::max(1, machine.cores);
    if (run.inFlight < FreeCapturesPerCore * cores)
        return Hold::None;
    if (machine.busyShare >= BusyLimit)
        return Hold::Processor;
    const double idleCores = (BusyLimit - machine.busyShare) * cores;
    const int starts = std::max(1, int(std::floor(idleCores * StartsPerIdleCore)));
    return run.startedSinceReading >= starts ? Hold::Processor : Hold::None;
}

qint64 CaptureAdmission::budgetBytes(int settingMegabytes, qint64 machineBytes)
{
    if (settingMegabytes > 0)
        return qint64(settingMegabytes) * 1024 * 1024;
    return machineBytes > 0 ? machineBytes / 2 : 0;
}

qint64 CaptureAdmission::bytesPerCapture(qint64 treeBytes, qint64 baselineBytes, int inFlight)
{
    if (inFlight <= 0)
        return LeastBytesPerCapture;
    return std::max(LeastBytesPerCapture, (treeBytes - baselineBytes) / inFlight);
}

} // namespace Batch
