#include "batch/runhistory.h"

#include <QDateTime>

#include "batch/acrossruns.h"
#include "batch/batchrun.h"
#include "batch/pageword.h"
#include "settings/livesettings.h"

namespace Batch {

RunHistory::RunHistory(BatchRun& run, QString filePath, const Settings::LiveSettings& settings, QObject* parent)
    : QObject(parent)
    , m_path(std::move(filePath))
    , m_settings(settings)
    , m_run(&run)
{
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(BatchSeconds * 1000);
    connect(&m_batchTimer, &QTimer::timeout, this, &RunHistory::flush);
    connect(&run, &BatchRun::started, this, &RunHistory::begin);
    connect(&run, &BatchRun::pageFoundParked, this, [this](qint32 line, const QString& id) {
        if (m_store) {
            m_parkedLater.append({ line, id });
            if (!m_batchTimer.isActive())
                m_batchTimer.start();
        }
    });
    connect(&run, &BatchRun::finished, this, &RunHistory::end);
    run.setHistory(this);
}

RunHistory::~RunHistory()
{
    if (m_run)
        m_run->setHistory(nullptr);
    flush();
}

void RunHistory::begin()
{
    m_store.reset();
    m_error.clear();
    m_counts.clear();
    m_pending.clear();
    m_parkedLater.clear();
    m_started = QDateTime::currentSecsSinceEpoch();
    auto opened = HistoryStore::open(m_path);
    if (!opened)
        return fail(opened.error().message);
    m_store = std::move(opened.value());
    const Common::Result<qint64> run = m_store->beginRun(m_started, m_settings.HistoryRuns);
    if (!run)
        return fail(run.error().message);
    m_runNumber = run.value();
}

void RunHistory::judge(LinkOutcome& link)
{
    if (!m_store || link.outcome == Outcome::Unfinished)
        return;
    HistoryStore::Entry entry { m_runNumber, link.line, link.id, link.url, link.page.httpStatus, link.page.finalUrl,
        link.thumbnailHash, LinkSighting { m_started, link.outcome, link.pageWord, link.look, link.page.title } };
    judgeAcrossRuns(entry.seen, m_store->earlier(link.id, link.url, m_runNumber, std::max(1, m_settings.HistoryRuns)),
        m_settings.FailingRuns);
    link.change = entry.seen.change;
    link.since = entry.seen.since;
    link.lastWorked = entry.seen.lastWorked;
    if (!link.change.isEmpty())
        ++m_counts[link.change];
    m_pending.append(std::move(entry));
    if (m_pending.size() >= BatchLinks)
        flush();
    else if (!m_batchTimer.isActive())
        m_batchTimer.start();
}

void RunHistory::flush()
{
    m_batchTimer.stop();
    if (!m_store)
        return;
    if (const Common::Status written = m_store->record(std::exchange(m_pending, {})); !written)
        return fail(written.error().message);
    for (const auto& [line, id] : std::exchange(m_parkedLater, {}))
        amendParked(line, id);
}

// A link found parked after it was judged is judged again, now that its page went wrong.
void RunHistory::amendParked(qint32 line, const QString& id)
{
    std::optional<HistoryStore::Entry> entry = m_store->entryAt(m_runNumber, line);
    if (!entry || entry->id != id)
        return;
    if (!entry->seen.change.isEmpty())
        --m_counts[entry->seen.change];
    entry->seen.page = PageWord::Parked;
    judgeAcrossRuns(entry->seen,
        m_store->earlier(entry->id, entry->url, m_runNumber, std::max(1, m_settings.HistoryRuns)),
        m_settings.FailingRuns);
    if (!entry->seen.change.isEmpty())
        ++m_counts[entry->seen.change];
    if (const Common::Status written = m_store->record({ *entry }); !written)
        fail(written.error().message);
}

void RunHistory::end()
{
    flush();
    if (m_store)
        m_store->endRun(m_runNumber, QDateTime::currentSecsSinceEpoch());
    m_store.reset();
}

void RunHistory::fail(const QString& message)
{
    m_store.reset();
    m_pending.clear();
    m_parkedLater.clear();
    m_batchTimer.stop();
    m_error = message;
    Q_EMIT historyFailed(message);
}

QString RunHistory::summary() const
{
    QStringList parts;
    for (const QString& word : { SinceWord::Changed, SinceWord::Back, SinceWord::Failing, SinceWord::New }) {
        if (const int count = m_counts.value(word); count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(word);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace Batch
