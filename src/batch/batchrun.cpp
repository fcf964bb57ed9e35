#include "batch/batchrun.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent>

#include "batch/appfolders.h"
#include "batch/capturecompleter.h"
#include "batch/capturecompletion.h"
#include "batch/pageword.h"
#include "batch/runhistory.h"
#include "capture/browserpool.h"
#include "capture/htmlsnap.h"
#include "capture/htmlsnapshot.h"
#include "capture/pageopener.h"
#include "common/messagebox.h"
#include "common/paths.h"
#include "common/programfolders.h"
#include "settings/livesettings.h"

namespace Batch {

namespace {

    // Records handled in one go before the run lets other events in; a long stretch of skipped links
    // never freezes the window.
    constexpr int RecordsPerStep = 256;
    constexpr int MaxSlots = 100;
    // Beyond the engine's own bound, for the final event to reach the run on a loaded machine.
    constexpr int WatchdogMarginSeconds = 10;
    // Links read ahead of the slots, whose hosts are asked meanwhile: enough that a silent host is
    // found out before its turn comes.
    constexpr int LookaheadLinks = 16;
    constexpr int LookaheadPerSlot = 2;

    LinksListModel::RowKey rowKeyOf(const Capture::HtmlSnapshot& slot, bool* ok)
    {
        const QVariant item = slot.ListItem();
        *ok = item.isValid();
        return item.value<LinksListModel::RowKey>();
    }

    QString heldText(CaptureAdmission::Hold hold)
    {
        return hold == CaptureAdmission::Hold::Memory
            ? QStringLiteral("Waiting for memory: the browsers are at the memory budget")
            : QStringLiteral("Waiting for the processor: the machine is busy");
    }

    QString verdictOutcome(LinkVerdict::Kind kind)
    {
        switch (kind) {
        case LinkVerdict::Kind::Skipped:
            return Outcome::Skipped;
        case LinkVerdict::Kind::Ignored:
            return Outcome::Ignored;
        case LinkVerdict::Kind::BadId:
            return Outcome::BadId;
        case LinkVerdict::Kind::Exists:
            return Outcome::Exists;
        case LinkVerdict::Kind::Capture:
            break;
        }
        return Outcome::Unfinished;
    }

} // namespace

BatchRun::BatchRun(const Services& services, QObject* parent)
    : QObject(parent)
    , m_services(services)
{
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, &BatchRun::scheduleStep);
    connect(&m_ahead, &LinkLookahead::linkReady, this, &BatchRun::scheduleStep);
    connect(&m_room, &RunRoom::readingTaken, this, [this] {
        if (m_held)
            scheduleStep();
    });
    m_completionPool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

BatchRun::~BatchRun()
{
    // The work still running writes its files to the end; captures taken but not ended are dropped.
    m_completionPool.waitForDone();
    for (const QPointer<Capture::HtmlSnapshot>& slot : std::as_const(m_slots))
        delete slot.data();
}

void BatchRun::clearFlags()
{
    m_stopRequested = false;
    m_pauseRequested = false;
    m_abortWaiting = false;
}

bool BatchRun::StartSnapShots(const QString& fromText, const QString& toText, bool skipExisting, RangeMinimum minimum)
{
    if (isActive() || !holdFolders())
        return false;
    const auto notStarted = [this] {
        m_folders.release();
        return false;
    };
    const Settings::LiveSettings& settings = m_services.settings;
    m_services.rows.clear();
    m_services.completer.prepareRun();

    const auto status = [this](const QString& text) { Q_EMIT statusText(text); };
    if (!m_services.links.checkDatabase(m_services.boxes, status))
        return notStarted();
    clearFlags();

    QString from = fromText;
    QString to = toText;
    const std::optional<qint32> selected = m_services.links.validateRange(from, to, m_services.boxes, status, minimum);
    Q_EMIT rangeValidated(from, to, selected.value_or(0));
    if (!selected)
        return notStarted();
    m_selectedCount = *selected;
    if (!preparePool())
        return notStarted();

    m_doneCount = 0;
    m_successCount = 0;
    m_percentage = 0;
    Q_EMIT countersCleared();

    m_classifier.emplace(settings.IgnoreFiles, skipExisting, settings.ImagesFolder, settings.ImageType);
    m_health.emplace(ParkingServices::forProgram(m_services.programFolder, Common::programFolders().resources));
    if (const Common::Status folder = Common::EnsureFolder(settings.ImagesFolder); !folder)
        Q_EMIT statusText(QStringLiteral("Error: ") + folder.error().message);
    // A run cut short during a completion leaves its intermediate file; it must never pass for a
    // thumbnail or be uploaded.
    removeLeftoverIntermediates(settings.ImagesFolder);

    const auto longest = std::chrono::ceil<std::chrono::seconds>(
        Capture::HtmlSnap::longestCapture(settings.Timeout, settings.DelayTime, settings.CheckBlankPages != 0));
    m_watchdogSeconds = std::max<int>(settings.SlotTimeoutSeconds,
        static_cast<int>(std::min<qint64>(longest.count() + WatchdogMarginSeconds, std::numeric_limits<int>::max())));

    const int count = std::clamp<int>(settings.ThreadsCount, 1, MaxSlots);
    m_threadsCount = count;
    m_slots.clear();
    m_slots.append(nullptr);
    releaseSparePages();
    m_sparePages.append(nullptr);
    for (int i = 1; i <= count; ++i)
        m_sparePages.append(new Capture::SparePage(this));
    for (int i = 1; i <= count; ++i)
        m_slots.append(createSlot(i));
    m_inFlight = QList<InFlight>(count + 1);

    // Only the local browser's processes are this machine's to measure; remote ones take what they
    // are given.
    m_held.reset();
    m_room.start(m_pool ? 0 : CaptureAdmission::budgetBytes(settings.MemoryBudget, MachineRoom::totalMemory()),
        [this] { return inFlightCount(); });

    LinkLookahead::Options ahead;
    ahead.depth = std::max(LookaheadLinks, LookaheadPerSlot * count);
    ahead.timeoutMs = settings.Timeout;
    // Remote browsers reach hosts over their own networks, which a probe from here says nothing about.
    if (!m_pool)
        ahead.probes = [this](const LinkRecord& record) {
            return m_classifier->classify(record.id, record.url).kind == LinkVerdict::Kind::Capture;
        };
    m_resumeLine = 0;
    if (const Common::Status opened = m_ahead.open(
            m_services.links.LinksInfoFile(), m_services.links.StartLink(), m_services.links.EndLink(), ahead);
        !opened)
        Q_EMIT statusText(QStringLiteral("Error: ") + opened.error().message);

    m_state = State::Running;
    m_watchdog.start();
    Q_EMIT started();
    scheduleStep();
    return true;
}

bool BatchRun::holdFolders()
{
    if (m_folders.isHeld())
        return true;
    Common::Result<FolderLock> held = FolderLock::forRun(m_services.programFolder, m_services.settings.ImagesFolder);
    if (!held) {
        m_services.boxes.inform(held.error().message, QStringLiteral("Error"), Common::MessageBox::Icon::Critical);
        return false;
    }
    m_folders = std::move(held.value());
    return true;
}

Capture::HtmlSnapshot* BatchRun::createSlot(int index)
{
    Capture::BrowserHost* host = m_pool ? m_pool->pickHost() : m_services.host;
    auto* slot = new Capture::HtmlSnapshot(host, this);
    if (m_pool)
        m_pool->attach(host, slot);
    slot->setID(index);
    // The browser renders each capture straight at the thumbnail's scale: far cheaper than a full-size
    // image that is decoded and scaled down afterwards.
    slot->setThumbnailHint(QSize(m_services.settings.ImageWidth, m_services.settings.ImageHeight));
    // Opening a page costs the browser several round trips: a slot has its next one ready by the time
    // its capture ends. The slot object is replaced after every capture; its spare page stays.
    if (index < m_sparePages.size())
        slot->setSparePage(m_sparePages.at(index));
    slot->Reset();
    connect(slot, &Capture::HtmlSnapshot::OnStatus, this, [this, slot](int, const QString& text, int code) {
        if (!slot->Finished() && text != QLatin1String("Captured in memory succeeded")) {
            bool ok = false;
            const LinksListModel::RowKey key = rowKeyOf(*slot, &ok);
            const int progress = slot->Progress();
            const QString live = progress >= 1 ? QStringLiteral("[%1%] ").arg(progress) + text : text;
            if (ok)
                m_services.rows.setStatus(key, live);
            const int index = slot->ID();
            if (index > 0 && index < m_inFlight.size())
                m_inFlight[index].liveText = live;
        }
        // The owner hears of the end before the slot's flags change: collect it in a later step.
        if (code != 0)
            scheduleStep();
    });
    return slot;
}

bool BatchRun::togglePause()
{
    m_pauseRequested = !m_pauseRequested;
    if (!m_pauseRequested)
        scheduleStep();
    return m_pauseRequested;
}

void BatchRun::stop()
{
    m_pauseRequested = false;
    m_stopRequested = true;
    if (m_state == State::Running || m_state == State::Paused)
        m_state = State::Stopping;
    scheduleStep();
}

void BatchRun::abortWaiting()
{
    m_abortWaiting = true;
    scheduleStep();
}

void BatchRun::scheduleStep()
{
    if (m_completing)
        m_stepDeferred = true;
    if (m_stepQueued || m_state == State::Idle)
        return;
    m_stepQueued = true;
    QTimer::singleShot(0, this, &BatchRun::step);
}

void BatchRun::step()
{
    m_stepQueued = false;
    // Delivered by a completion's message box: ends wait for the box, but captures that ended
    // meanwhile are taken, so their work goes on behind it.
    if (m_completing) {
        m_stepDeferred = true;
        if (m_state == State::Waiting)
            takeWaitingSlots();
        else if (m_state != State::Idle)
            completionPass(true);
        return;
    }
    switch (m_state) {
    case State::Idle:
        return;
    case State::Waiting:
        waitStep();
        return;
    case State::Running:
    case State::Paused:
    case State::Stopping:
        break;
    }
    if (m_pauseRequested && !m_stopRequested) {
        m_state = State::Paused;
        return;
    }
    if (m_stopRequested) {
        endMainLoop();
        return;
    }
    m_state = State::Running;
    endProcessedCaptures();
    completionPass(true);
    if (m_pool && !poolStep())
        return;
    readRecords();
}

bool BatchRun::preparePool()
{
    delete std::exchange(m_pool, nullptr);
    m_poolWasUp = false;
    m_lostEveryBrowser = false;
    const QString listed = m_services.settings.BrowserEndpoints;
    if (listed.trimmed().isEmpty())
        return true;
    const auto endpoints = Capture::parseBrowserEndpoints(listed);
    if (!endpoints) {
        Q_EMIT statusText(QStringLiteral("Error: ") + endpoints.error().message);
        return false;
    }
    Capture::BrowserPool::Options options;
    if (m_services.host)
        options.remote.callTimeout = m_services.host->callTimeout();
    m_pool = new Capture::BrowserPool(m_services.host, endpoints.value(), options, this);
    connect(m_pool, &Capture::BrowserPool::report, this, &BatchRun::statusText);
    connect(m_pool, &Capture::BrowserPool::availabilityChanged, this, &BatchRun::scheduleStep);
    m_pool->start();
    return true;
}

// False while no link may go out: the browsers are still being tried, or none is left.
bool BatchRun::poolStep()
{
    if (m_pool->isProbing())
        return false;
    if (m_pool->isExhausted()) {
        Q_EMIT statusText(QStringLiteral("Error: No browser can be reached; the run ends"));
        m_lostEveryBrowser = true;
        // Lost mid-run: stop as the Stop button does, so the run can be resumed where it ended.
        m_stopRequested = m_stopRequested || m_poolWasUp;
        endMainLoop();
        return false;
    }
    if (m_pool->inServiceCount() == 0)
        return false;
    m_poolWasUp = true;
    // A free slot whose browser is out of service moves to one that is in service.
    for (int i = 1; i < m_slots.size(); ++i) {
        Capture::HtmlSnapshot* slot = m_slots.at(i);
        if (slot && slot->Ready() && !canDispatch(slot)) {
            delete slot;
            m_slots[i] = createSlot(i);
        }
    }
    return true;
}

bool BatchRun::canDispatch(const Capture::HtmlSnapshot* slot) const
{
    return slot && (!m_pool || m_pool->isSlotInService(slot));
}

void BatchRun::takeSlot(int index)
{
    Capture::HtmlSnapshot* slot = m_slots.value(index);
    if (!slot)
        return;
    Taken taken;
    taken.code = slot->GetErrorCode();
    taken.facts = slot->pageFacts();
    if (index < m_inFlight.size())
        taken.flight = std::exchange(m_inFlight[index], InFlight {});
    taken.capture = m_services.completer.takeCapture(*slot);
    taken.processed = QtConcurrent::run(&m_completionPool, [capture = taken.capture] { capture->process(); });
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        scheduleStep();
    });
    watcher->setFuture(taken.processed);
    m_taken.push_back(std::move(taken));
}

void BatchRun::endProcessedCaptures()
{
    bool ended = false;
    while (!m_completing && !m_taken.empty() && m_taken.front().processed.isFinished()) {
        Taken taken = std::move(m_taken.front());
        m_taken.pop_front();
        m_completing = true;
        const CompletedCapture completed = taken.capture->finish();
        m_completing = false;
        if (completed.success)
            ++m_successCount;
        if (taken.flight.active) {
            taken.flight.link.page = taken.facts;
            taken.flight.link.thumbnailHash = completed.thumbnailHash;
            const QString outcome = completed.writeFailed
                ? Outcome::WriteFailed
                : captureOutcome(taken.code, completed.success, taken.facts.netError);
            endLink(taken.flight, outcome, completed.text, completed.look);
        }
        ended = true;
    }
    if (ended)
        publishCounters();
    if (std::exchange(m_stepDeferred, false))
        scheduleStep();
}

bool BatchRun::isSlotDue(const Capture::HtmlSnapshot& slot, bool includeWatchdog) const
{
    return slot.Finished() || (includeWatchdog && slot.ElapsedTime() > m_watchdogSeconds);
}

void BatchRun::completionPass(bool includeWatchdog)
{
    bool completed = false;
    for (int i = 1; i < m_slots.size(); ++i) {
        Capture::HtmlSnapshot* slot = m_slots.at(i);
        if (!slot || !isSlotDue(*slot, includeWatchdog))
            continue;
        takeSlot(i);
        // A fresh slot after every completion keeps long runs from piling up state in one control.
        delete slot;
        m_slots[i] = createSlot(i);
        completed = true;
    }
    if (completed)
        publishCounters();
}

bool BatchRun::hasFreeSlot() const
{
    // A taken capture holds its picture until its work on the pool is done: while twice as many wait
    // as there are slots, no new link goes out, so a machine short of processor time never piles them
    // up. Below that the slots go on capturing while the pool works, as a single slot must.
    if (m_taken.size() >= static_cast<size_t>(2 * std::max<qsizetype>(1, m_slots.size())))
        return false;
    return std::any_of(m_slots.begin(), m_slots.end(),
        [this](const auto& slot) { return slot && slot->Ready() && canDispatch(slot); });
}

void BatchRun::readRecords()
{
    const Settings::LiveSettings& settings = m_services.settings;
    for (int budget = RecordsPerStep;; --budget) {
        if (m_stopRequested) {
            endMainLoop();
            return;
        }
        if (m_pauseRequested) {
            m_state = State::Paused;
            return;
        }
        if (!hasFreeSlot())
            return; // a slot's end or the watchdog brings the next step
        if (budget == 0) {
            scheduleStep();
            return;
        }
        if (m_held) {
            if (m_room.hold() != CaptureAdmission::Hold::None)
                return; // the next reading of the machine brings the next step
            HeldLink held = std::move(*m_held);
            m_held.reset();
            startLink(held.row, held.record, std::move(held.link), held.timeoutMs);
            if (m_ahead.isExhausted()) {
                endMainLoop();
                return;
            }
            continue;
        }
        std::optional<LinkLookahead::Taken> taken = m_ahead.next();
        if (!taken && m_ahead.waiting() > 0)
            return; // every link read ahead waits on a silent host: an answer or an expiry brings the next step
        const std::optional<RangeReader::Entry> entry
            = taken ? std::optional<RangeReader::Entry>(std::move(taken->entry)) : std::nullopt;
        if (!entry) {
            if (const std::optional<Common::Error> failed = m_ahead.error()) {
                // A read error ends the range: captures that have not ended are given up on.
                Q_EMIT statusText(QStringLiteral("Error: ") + failed->message);
                for (const auto& slot : std::as_const(m_slots)) {
                    if (slot && slot->GetErrorCode() == 0 && !slot->Ready())
                        slot->setFinished(true);
                }
            }
            endMainLoop();
            return;
        }
        ++m_doneCount;
        publishCounters();
        if (m_selectedCount > 0) {
            m_percentage = runPercentage(m_doneCount, m_selectedCount);
            Q_EMIT progressChanged(m_percentage);
        }

        LinksListModel& rows = m_services.rows;
        const LinksListModel::RowKey key = rows.appendRow(entry->line, entry->record.id, entry->record.url);
        Q_EMIT rowAdded(rows.rowOf(key));
        if (rows.rowCount() > settings.MaxListingCount)
            rows.removeFirstRow();

        const LinkVerdict verdict = m_classifier->classify(entry->record.id, entry->record.url);
        LinkOutcome link { entry->line, entry->record.id, entry->record.url, {}, verdict.status, {}, {} };
        if (verdict.kind == LinkVerdict::Kind::Capture && taken->expired) {
            endSilentLink(key, std::move(link));
        } else if (verdict.kind != LinkVerdict::Kind::Capture) {
            rows.setStatus(key, verdict.status);
            rows.setCellColor(key, LinksListModel::StatusColumn, verdict.color);
            if (verdict.countsAsSuccess)
                ++m_successCount;
            link.outcome = verdictOutcome(verdict.kind);
            Q_EMIT linkEnded(link);
        } else if (const CaptureAdmission::Hold hold = m_room.hold(); hold != CaptureAdmission::Hold::None) {
            rows.setStatus(key, heldText(hold));
            m_held = HeldLink { key, entry->record, std::move(link), taken->timeoutMs };
            return;
        } else {
            startLink(key, entry->record, std::move(link), taken->timeoutMs);
        }
        if (m_ahead.isExhausted()) {
            endMainLoop();
            return;
        }
    }
}

void BatchRun::startLink(LinksListModel::RowKey row, const LinkRecord& record, LinkOutcome link, qint64 timeoutMs)
{
    for (int i = 1; i < m_slots.size() && !m_stopRequested; ++i) {
        if (m_slots.at(i) && m_slots.at(i)->Ready() && canDispatch(m_slots.at(i))) {
            dispatch(i, row, record, timeoutMs);
            m_inFlight[i] = InFlight { true, std::move(link), row, {}, m_room.elapsed() };
            m_room.captureStarted();
            return;
        }
    }
    link.outcome = Outcome::Unfinished;
    Q_EMIT linkEnded(link);
}

void BatchRun::endSilentLink(LinksListModel::RowKey row, LinkOutcome link)
{
    // Its host never answered a connection within the time-out: it ends as a capture that timed out
    // would, without having held a slot.
    const CaptureFailure failure = captureFailure(Capture::SnapCode::TimedOut).value_or(CaptureFailure {});
    m_services.rows.setStatus(row, failure.text);
    m_services.rows.setCellColor(row, LinksListModel::StatusColumn, failure.color);
    link.outcome = Outcome::TimedOut;
    link.statusText = failure.text;
    link.spentMs = m_services.settings.Timeout;
    m_room.tally().addLink(link.spentMs, true);
    Q_EMIT linkEnded(link);
}

void BatchRun::endHeldLink()
{
    if (!m_held)
        return;
    LinkOutcome link = std::move(m_held->link);
    m_held.reset();
    link.outcome = Outcome::Unfinished;
    Q_EMIT linkEnded(link);
}

int BatchRun::inFlightCount() const
{
    return static_cast<int>(
        std::count_if(m_inFlight.begin(), m_inFlight.end(), [](const InFlight& flight) { return flight.active; }));
}

QString BatchRun::timeSummary() const { return m_room.tally().summary(m_threadsCount); }

void BatchRun::dispatch(int slotIndex, LinksListModel::RowKey row, const LinkRecord& record, qint64 timeoutMs)
{
    const Settings::LiveSettings& s = m_services.settings;
    Capture::HtmlSnapshot& slot = *m_slots.at(slotIndex);
    slot.Reset();
    slot.setReady(false);
    slot.setListItem(QVariant::fromValue(row));
    slot.setID(slotIndex);
    slot.setLinkID(record.id);
    slot.setLinkURL(record.url);
    slot.setOutputFile(thumbnailFileName(s.ImagesFolder, record.id, s.ImageType).value_or(QString()));
    slot.SetTimeOut(static_cast<qint32>(std::clamp<qint64>(timeoutMs, 1, s.Timeout)));
    slot.SetAsync(true);
    slot.SetJPEGQuality(100);
    slot.EnableActiveX(s.EnableActiveX);
    slot.EnableJava(s.EnableJava);
    slot.EnableScript(s.EnableScript);
    slot.SetForceSnap(s.SetForceSnap);
    slot.SetDelayTime(s.DelayTime);
    slot.setFastDelay(s.FastDelay != 0);
    slot.setBlankCheck(s.CheckBlankPages != 0);
    slot.setDismissConsentWalls(s.DismissCookieBanners != 0);
    slot.SetSnapDimension(s.SnapWidth, s.SnapHeight);
    slot.EnableSnapDimensionAsImageSize(s.SnapDimension);
    slot.SnapUrl(record.url, QStringLiteral("*"));
}

void BatchRun::releaseSparePages()
{
    qDeleteAll(m_sparePages);
    m_sparePages.clear();
}

void BatchRun::endMainLoop()
{
    endHeldLink();
    m_resumeLine = m_ahead.resumeLine();
    m_ahead.close();
    // No link is left to open a page for.
    releaseSparePages();
    m_state = State::Waiting;
    Q_EMIT waitingStarted();
    waitStep();
}

void BatchRun::takeWaitingSlots()
{
    for (int i = 1; i < m_slots.size(); ++i) {
        Capture::HtmlSnapshot* slot = m_slots.at(i);
        // The watchdog holds here too, so a capture that never reports an end cannot keep the run
        // waiting for ever.
        if (slot && isSlotDue(*slot, slot->Busy())) {
            takeSlot(i);
            slot->Reset();
        }
    }
}

void BatchRun::waitStep()
{
    takeWaitingSlots();
    endProcessedCaptures();
    // Taken captures are never abandoned: their work ends soon whatever the page did.
    const int busy = busySlots() + static_cast<int>(m_taken.size());
    Q_EMIT workingThreadsChanged(busy);
    if (busy > 0)
        publishCounters();
    if (m_taken.empty() && (m_abortWaiting || busy == 0))
        finish();
}

void BatchRun::finish()
{
    for (int i = 1; i < m_slots.size(); ++i) {
        Capture::HtmlSnapshot* slot = m_slots.at(i);
        if (slot && slot->Finished()) {
            takeSlot(i);
            slot->Reset();
        }
    }
    // Only captures that ended this very moment are left; their work is short.
    m_completionPool.waitForDone();
    endProcessedCaptures();
    publishCounters();
    if (m_selectedCount >= 1) {
        m_percentage = runPercentage(m_doneCount, m_selectedCount);
        Q_EMIT progressChanged(m_percentage);
    }
    // Captures still running are abandoned without an outcome; their rows keep their live text.
    for (int i = 1; i < m_slots.size(); ++i) {
        if (i < m_inFlight.size() && m_inFlight.at(i).active) {
            if (m_slots.at(i))
                m_inFlight[i].link.page = m_slots.at(i)->pageFacts();
            endLink(m_inFlight[i], Outcome::Unfinished, {});
        }
    }
    m_inFlight.clear();
    for (const QPointer<Capture::HtmlSnapshot>& slot : std::as_const(m_slots))
        delete slot.data();
    m_slots.clear();
    delete std::exchange(m_pool, nullptr);
    m_watchdog.stop();
    m_room.stop();
    m_state = State::Idle;
    m_folders.release();
    Q_EMIT finished(m_stopRequested, m_resumeLine);
}

void BatchRun::endLink(
    InFlight& flight, const QString& outcome, const QString& text, const std::optional<Imaging::LookHash>& look)
{
    flight.active = false;
    LinkOutcome link = std::move(flight.link);
    link.outcome = outcome;
    link.spentMs = m_room.elapsed() - flight.startedMs;
    m_room.tally().addLink(link.spentMs, isFailure(outcome));
    link.statusText = text.isEmpty() ? flight.liveText : text;
    flight.liveText.clear();
    LinksListModel& rows = m_services.rows;
    const QList<PageHealth::ParkedLater> parkedLater
        = m_health ? m_health->judge(link, flight.row, look) : QList<PageHealth::ParkedLater> {};
    const QString shown = PageHealth::statusWithWord(link.statusText, link.pageWord);
    if (shown != link.statusText && rows.contains(flight.row))
        rows.setStatus(flight.row, shown);
    link.statusText = shown;
    link.look = look;
    if (m_history)
        m_history->judge(link);
    Q_EMIT linkEnded(link);
    for (const PageHealth::ParkedLater& parked : parkedLater) {
        if (rows.contains(parked.row))
            rows.setStatus(parked.row, PageHealth::statusWithWord(parked.status, PageWord::Parked));
        Q_EMIT pageFoundParked(parked.line, parked.id);
    }
}

void BatchRun::setHistory(RunHistory* history) { m_history = history; }

void BatchRun::publishCounters() { Q_EMIT countersChanged(m_doneCount, m_successCount, m_doneCount - m_successCount); }

int BatchRun::busySlots() const
{
    return static_cast<int>(
        std::count_if(m_slots.begin(), m_slots.end(), [](const auto& slot) { return slot && slot->Busy(); }));
}

QList<Capture::HtmlSnapshot*> BatchRun::slots() const
{
    QList<Capture::HtmlSnapshot*> out;
    for (int i = 1; i < m_slots.size(); ++i)
        out.append(m_slots.at(i).data());
    return out;
}

} // namespace Batch
