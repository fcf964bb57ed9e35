#pragma once

#include <deque>
#include <memory>

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include "batch/folderlock.h"
#include "batch/linkclassifier.h"
#include "batch/linklookahead.h"
#include "batch/linkoutcome.h"
#include "batch/linksdatabase.h"
#include "batch/linkslistmodel.h"
#include "batch/pagehealth.h"
#include "batch/runroom.h"

namespace Capture {
class BrowserHost;
class BrowserPool;
class HtmlSnapshot;
class SparePage;
}
namespace Common {
class MessageBox;
}
namespace Settings {
struct LiveSettings;
}

namespace Batch {

class CaptureCompleter;
class PendingCapture;
class RunHistory;

// One batch run over a range of the links database: every link becomes a row; links that cannot be
// captured are marked at once, the others go to the first free of ThreadsCount capture slots, and
// every ended slot is handed to the completion step and replaced by a fresh one.
//
// Event-driven: the run reacts to the slots' final events, a one-second watchdog tick and its own
// queued steps; nothing polls. Pause, Stop and Abort only set flags that the run reads at fixed
// points. An ended slot is taken at once (its capture copied, the slot replaced); the heavy part of
// its completion runs on the run's own thread pool, and the completions then end on the GUI thread
// strictly one at a time, in the order their slots were taken: while one is ending (it may be showing
// a message box with its own event loop) no other step of the run starts and no slot is replaced;
// the run goes on once it has ended. The run finishes only once every taken capture has ended, and
// its destruction waits for the pool, so no thread outlives it.
//
// With BrowserEndpoints set, the slots are spread over the browsers it lists (Capture::BrowserPool):
// the run reads no link before each has been tried once, gives links only to slots whose browser is in
// service, and stops when none is left. GUI thread only, except the completions' pool.
class BatchRun final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRun)

public:
    enum class State { Idle, Running, Paused, Stopping, Waiting };

    struct Services {
        const Settings::LiveSettings& settings;
        LinksDatabase& links;
        LinksListModel& rows;
        CaptureCompleter& completer;
        Capture::BrowserHost* host;
        Common::MessageBox& boxes;
        // Held with the images folder for the whole run (FolderLock); ending in "/". None when empty.
        QString programFolder = {};
    };

    BatchRun(const Services& services, QObject* parent = nullptr);
    ~BatchRun() override;

    // Starts a run over the range the two boxes' texts give. False when the run ended before it began
    // (a database or range failure, already shown to the user); otherwise finished() follows.
    // Takes the hold of the program and images folders itself before it touches either.
    bool StartSnapShots(const QString& fromText, const QString& toText, bool skipExisting,
        RangeMinimum minimum = RangeMinimum::TwoLines);

    // Holds the program and images folders from now until the run finishes (or fails to start), so
    // that no other run, import or upload works there meanwhile. A refusal names the other holder in a
    // box. For a step before the run that writes there, as the retry step does. True when held.
    bool holdFolders();

    // Pause and Resume in one command; returns whether the run is now paused.
    bool togglePause();
    void stop();
    // The waiting window's Abort: stop waiting for busy slots.
    void abortWaiting();
    void clearFlags();

    State state() const { return m_state; }
    bool isActive() const { return m_state != State::Idle; }
    bool StopRequested() const { return m_stopRequested; }
    bool PauseRequested() const { return m_pauseRequested; }
    bool AbortWaiting() const { return m_abortWaiting; }
    qint32 DoneCount() const { return m_doneCount; }
    qint32 SuccessCount() const { return m_successCount; }
    qint32 selectedCount() const { return m_selectedCount; }
    qint32 percentage() const { return m_percentage; }
    qint32 CurrentLine() const { return m_ahead.resumeLine(); }
    // What the pages of the current or last run have become, in one line (PageHealth::summary).
    QString pageSummary() const { return m_health ? m_health->summary() : QString(); }
    // Where the current or last run's time went, in one line (RunTimeTally::summary).
    QString timeSummary() const;
    // The memory budget of the current or last run's process tree, in bytes; 0 when none applies.
    qint64 memoryBudget() const { return m_room.budgetBytes(); }
    // The last run ended because none of the browsers BrowserEndpoints lists could be reached.
    bool lostEveryBrowser() const { return m_lostEveryBrowser; }
    int busySlots() const;
    // Whole seconds after which a slot's capture is collected whatever it reports: never before the
    // engine itself must have ended, with the run's time-out and delay.
    int watchdogSeconds() const { return m_watchdogSeconds; }
    // The history that judges each link the run tries before linkEnded announces it; none when null.
    void setHistory(RunHistory* history);
    // The capture slots of the current run (1..ThreadsCount); empty when idle. For tests.
    QList<Capture::HtmlSnapshot*> slots() const;

Q_SIGNALS:
    // The run has begun: the range is valid and its links are about to be read.
    void started();
    // One link of the range has ended, whatever the end; every link read gets exactly one, in the
    // order they end. Captures abandoned when the run stops waiting end as unfinished.
    void linkEnded(const Batch::LinkOutcome& outcome);
    // A link that ended earlier in this run turned out parked: its page looks like other sites' pages.
    void pageFoundParked(qint32 line, const QString& id);
    void statusText(const QString& text);
    // The range boxes after validation.
    void rangeValidated(const QString& fromText, const QString& toText, qint32 selectedCount);
    // The counters were reset: the labels show "-" and the progress is empty.
    void countersCleared();
    void countersChanged(qint32 done, qint32 success, qint32 errors);
    void progressChanged(qint32 percent);
    void rowAdded(int row);
    // The main loop is over: the waiting window shows the number of busy slots.
    void waitingStarted();
    void workingThreadsChanged(int busy);
    // The run is over; after Stop, resumeFrom is the last line read, for the "from" box.
    void finished(bool stopped, qint32 resumeFrom);

private:
    void scheduleStep();
    void step();
    void completionPass(bool includeWatchdog);
    void takeSlot(int index);
    void endProcessedCaptures();
    bool isSlotDue(const Capture::HtmlSnapshot& slot, bool includeWatchdog) const;
    bool hasFreeSlot() const;
    void readRecords();
    void dispatch(int slotIndex, LinksListModel::RowKey row, const LinkRecord& record, qint64 timeoutMs);
    void endMainLoop();
    void takeWaitingSlots();
    void waitStep();
    void finish();
    void publishCounters();
    Capture::HtmlSnapshot* createSlot(int index);
    void releaseSparePages();
    bool preparePool();
    bool poolStep();
    bool canDispatch(const Capture::HtmlSnapshot* slot) const;
    void handleSlotStatus(int index, const QString& text, int code);
    int inFlightCount() const;
    void startLink(LinksListModel::RowKey row, const LinkRecord& record, LinkOutcome link, qint64 timeoutMs);
    void endSilentLink(LinksListModel::RowKey row, LinkOutcome link);
    void endHeldLink();

    // The link a slot works on, from its dispatch to its completion.
    struct InFlight {
        bool active = false;
        LinkOutcome link;
        LinksListModel::RowKey row = 0;
        // The row's last live text, which the link keeps when it ends without an outcome text.
        QString liveText;
        // On the run's clock, when the capture started.
        qint64 startedMs = 0;
    };
    // A link read while the machine had no room for it: it waits outside the slots, its time-out not
    // yet started, and goes out first once there is room.
    struct HeldLink {
        LinksListModel::RowKey row = 0;
        LinkRecord record;
        LinkOutcome link;
        qint64 timeoutMs = 0;
    };
    // A capture taken from its slot whose completion has not ended yet.
    struct Taken {
        InFlight flight;
        int code = 0;
        Capture::PageFacts facts;
        std::shared_ptr<PendingCapture> capture;
        QFuture<void> processed;
    };

    void endLink(InFlight& flight, const QString& outcome, const QString& text,
        const std::optional<Imaging::LookHash>& look = std::nullopt);

    Services m_services;
    State m_state = State::Idle;
    bool m_stopRequested = false;
    bool m_pauseRequested = false;
    bool m_abortWaiting = false;
    bool m_stepQueued = false;
    // A completion is in progress; steps asked for meanwhile wait for its end.
    bool m_completing = false;
    bool m_stepDeferred = false;
    int m_watchdogSeconds = 0;
    qint32 m_doneCount = 0;
    qint32 m_successCount = 0;
    qint32 m_selectedCount = 0;
    qint32 m_percentage = 0;
    std::optional<LinkClassifier> m_classifier;
    std::optional<PageHealth> m_health;
    QPointer<RunHistory> m_history;
    LinkLookahead m_ahead;
    qint32 m_resumeLine = 0;
    // Index 0 is unused so that slot i is m_slots[i], as the slots are numbered 1..ThreadsCount.
    QList<QPointer<Capture::HtmlSnapshot>> m_slots;
    // Per slot: the page its next capture starts on, opened while the current one loads.
    QList<Capture::SparePage*> m_sparePages;
    // Indexed like m_slots.
    QList<InFlight> m_inFlight;
    // In the order taken; they end in that order.
    std::deque<Taken> m_taken;
    QTimer m_watchdog;
    // Reads the machine while the run goes on: admission and the end's time summary use it.
    RunRoom m_room;
    int m_threadsCount = 0;
    std::optional<HeldLink> m_held;
    // The browsers of this run when BrowserEndpoints lists any; null otherwise.
    Capture::BrowserPool* m_pool = nullptr;
    bool m_poolWasUp = false;
    bool m_lostEveryBrowser = false;
    // Let go only after the pool below has ended the work still writing there.
    FolderLock m_folders;
    // Declared last so that it is the first to go, waiting for the work still running.
    QThreadPool m_completionPool;
};

} // namespace Batch
