#include "batch/runroom.h"

namespace Batch {

RunRoom::RunRoom(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(ReadingMs);
    connect(&m_timer, &QTimer::timeout, this, &RunRoom::read);
    m_clock.start();
}

void RunRoom::start(qint64 budgetBytes, std::function<int()> inFlight)
{
    m_inFlight = std::move(inFlight);
    m_budgetBytes = budgetBytes;
    m_tally.clear();
    m_clock.start();
    m_lastReadingMs = 0;
    m_startedSinceReading = 0;
    m_inFlightAtReading = 0;
    m_room.emplace();
    m_reading = m_room->read();
    // What the program and its browsers hold before the first capture is not the captures' cost.
    m_baselineBytes = m_reading.treeBytes;
    m_timer.start();
}

void RunRoom::stop()
{
    read();
    m_timer.stop();
    m_room.reset();
}

CaptureAdmission::Hold RunRoom::hold() const
{
    if (m_budgetBytes <= 0 || !m_room)
        return CaptureAdmission::Hold::None;
    const CaptureAdmission::Machine machine { MachineRoom::cores(), m_reading.busyShare, m_reading.treeBytes,
        m_reading.availableBytes };
    const CaptureAdmission::Run run { m_inFlight ? m_inFlight() : 0, m_startedSinceReading, m_budgetBytes,
        CaptureAdmission::bytesPerCapture(m_reading.treeBytes, m_baselineBytes, m_inFlightAtReading) };
    return CaptureAdmission::hold(machine, run);
}

void RunRoom::read()
{
    if (!m_room)
        return;
    m_reading = m_room->read();
    const qint64 now = m_clock.elapsed();
    const int inFlight = m_inFlight ? m_inFlight() : 0;
    m_tally.addReading(m_reading.busyShare, now - m_lastReadingMs, inFlight);
    m_lastReadingMs = now;
    m_inFlightAtReading = inFlight;
    m_startedSinceReading = 0;
    Q_EMIT readingTaken();
}

} // namespace Batch
