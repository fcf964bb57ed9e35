#include "batch/runtimetally.h"

#include <algorithm>
#include <cmath>

namespace Batch {

void RunTimeTally::clear() { *this = RunTimeTally(); }

void RunTimeTally::addLink(qint64 spentMs, bool failed)
{
    spentMs = std::max<qint64>(0, spentMs);
    m_linksMs += spentMs;
    if (failed) {
        m_failedMs += spentMs;
        ++m_failedLinks;
    }
}

void RunTimeTally::addReading(double busyShare, qint64 intervalMs, int inFlight)
{
    if (intervalMs <= 0)
        return;
    m_busyMs += std::clamp(busyShare, 0.0, 1.0) * double(intervalMs);
    m_inFlightMs += double(std::max(0, inFlight)) * double(intervalMs);
    m_readMs += intervalMs;
}

double RunTimeTally::busyShare() const { return m_readMs > 0 ? m_busyMs / double(m_readMs) : 0.0; }

double RunTimeTally::slotShare(int threadsCount) const
{
    if (m_readMs <= 0 || threadsCount <= 0)
        return 0.0;
    return std::min(1.0, m_inFlightMs / double(m_readMs) / double(threadsCount));
}

std::optional<RunTimeTally::MoreSlots> RunTimeTally::moreSlots(int threadsCount) const
{
    if (threadsCount <= 0 || threadsCount >= MostSlots || m_readMs <= 0)
        return std::nullopt;
    const double busy = busyShare();
    if (busy >= IdleRunBusyShare || slotShare(threadsCount) < FullSlotsShare)
        return std::nullopt;
    // Waiting costs no processor time: slots scale until the processor is as busy as admission allows.
    const double scale = TargetBusyShare / std::max(busy, 0.01);
    const int suggested = std::min(MostSlots, int(std::ceil(threadsCount * scale)));
    const double sooner = double(suggested) / double(threadsCount);
    if (sooner < WorthSaying)
        return std::nullopt;
    return MoreSlots { suggested, sooner };
}

QString RunTimeTally::summary(int threadsCount) const
{
    if (m_linksMs <= 0)
        return {};
    const int failedShare = int(std::lround(100.0 * double(m_failedMs) / double(m_linksMs)));
    QString text
        = QStringLiteral("%1 % of the links' time went to the %2 that failed").arg(failedShare).arg(m_failedLinks);
    if (const std::optional<MoreSlots> more = moreSlots(threadsCount))
        text += QStringLiteral("; the processor was idle %1 % of the run while the slots waited: ThreadsCount %2 "
                               "would finish up to %3x sooner")
                    .arg(int(std::lround(100.0 * (1.0 - busyShare()))))
                    .arg(more->threadsCount)
                    .arg(more->sooner, 0, 'f', 1);
    return text;
}

} // namespace Batch
