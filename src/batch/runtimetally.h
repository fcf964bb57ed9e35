#pragma once

#include <optional>

#include <QString>
#include <QtGlobal>

namespace Batch {

// Where a run's time went: how much of its links' time the failed ones took, and whether the slots
// spent the run waiting on the network while the processor had room, in which case more slots would
// have finished sooner. Fed by the run as links end and as the machine is read.
class RunTimeTally final {
public:
    // When the processor worked less than this share of the run, it was mostly idle.
    static constexpr double IdleRunBusyShare = 0.5;
    // The slots were mostly full when at least this share of them held a capture, on average.
    static constexpr double FullSlotsShare = 0.75;
    // What more slots may bring the processor to: the share at which captures start being held back.
    static constexpr double TargetBusyShare = 0.85;
    // Below this many times faster, more slots are not worth a word.
    static constexpr double WorthSaying = 1.3;
    static constexpr int MostSlots = 100;

    void clear();
    void addLink(qint64 spentMs, bool failed);
    // One reading of the machine over intervalMs with inFlight captures started and not ended.
    void addReading(double busyShare, qint64 intervalMs, int inFlight);

    qint64 linksMs() const { return m_linksMs; }
    qint64 failedMs() const { return m_failedMs; }
    int failedLinks() const { return m_failedLinks; }
    // The processor's working share and the slots' filled share, averaged over the readings.
    double busyShare() const;
    double slotShare(int threadsCount) const;

    // The ThreadsCount that would keep the processor at TargetBusyShare, and how many times sooner the
    // run would end, when the slots were mostly full and the processor mostly idle; nullopt otherwise.
    struct MoreSlots final {
        int threadsCount = 0;
        double sooner = 1.0;
    };
    std::optional<MoreSlots> moreSlots(int threadsCount) const;

    // One line for the end of the run ("41 % of the links' time went to the 120 that failed; ..."); empty when
    // no link was captured.
    QString summary(int threadsCount) const;

private:
    qint64 m_linksMs = 0;
    qint64 m_failedMs = 0;
    int m_failedLinks = 0;
    double m_busyMs = 0.0;
    double m_inFlightMs = 0.0;
    qint64 m_readMs = 0;
};

} // namespace Batch
