#pragma once

#include <functional>
#include <optional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "batch/captureadmission.h"
#include "batch/machineroom.h"
#include "batch/runtimetally.h"

namespace Batch {

// A run's view of the machine: reads it twice a second while the run goes on, says whether one more
// capture may start (CaptureAdmission), and keeps the tally of where the run's time went. GUI thread.
class RunRoom final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunRoom)

public:
    // Often enough that a held link waits little past the moment room appears, seldom enough that
    // reading the browsers' processes costs next to nothing.
    static constexpr int ReadingMs = 500;

    explicit RunRoom(QObject* parent = nullptr);

    // From now on, with inFlight telling how many captures are under way. A budget of 0 holds nothing
    // back: the run's browsers are not this machine's to measure.
    void start(qint64 budgetBytes, std::function<int()> inFlight);
    // Takes a last reading, for the tally, and stops reading.
    void stop();

    CaptureAdmission::Hold hold() const;
    // A capture started; the next reading cannot show its cost yet.
    void captureStarted() { ++m_startedSinceReading; }
    // Milliseconds since start().
    qint64 elapsed() const { return m_clock.elapsed(); }
    qint64 budgetBytes() const { return m_budgetBytes; }
    RunTimeTally& tally() { return m_tally; }
    const RunTimeTally& tally() const { return m_tally; }

Q_SIGNALS:
    // A new reading: a link held for room may go now.
    void readingTaken();

private:
    void read();

    QTimer m_timer;
    std::optional<MachineRoom> m_room;
    std::function<int()> m_inFlight;
    RoomReading m_reading;
    QElapsedTimer m_clock;
    qint64 m_lastReadingMs = 0;
    qint64 m_baselineBytes = 0;
    qint64 m_budgetBytes = 0;
    int m_startedSinceReading = 0;
    int m_inFlightAtReading = 0;
    RunTimeTally m_tally;
};

} // namespace Batch
