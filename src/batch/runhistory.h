#pragma once

#include <memory>

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "batch/historystore.h"
#include "batch/linkoutcome.h"

namespace Settings {
struct LiveSettings;
}

namespace Batch {

class BatchRun;

// Records every run in the run history (HistoryStore) and gives each link the run tries its words across
// runs (judgeAcrossRuns): the run hands each such link to judge() before announcing it, so that the report
// and the command line carry them. Every run is a run of the history, a run over a retry file too: it
// tries only the links left without a thumbnail, and the others simply have no sighting in it.
// The history keeps HistoryRuns runs; a link is failing after FailingRuns wrong runs (settings read at
// each run's start).
//
// Links are written in batches, one transaction each: every BatchLinks links, BatchSeconds after the
// first of a batch, and at the run's end; a process killed meanwhile loses at most that batch. A history
// that cannot be opened or written ends the recording for the run (historyFailed) and the run goes on.
// Follows the run through its signals and registers with it; GUI thread only.
class RunHistory final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunHistory)

public:
    static constexpr int BatchLinks = 100;
    static constexpr int BatchSeconds = 2;

    RunHistory(BatchRun& run, QString filePath, const Settings::LiveSettings& settings, QObject* parent = nullptr);
    ~RunHistory() override;

    QString filePath() const { return m_path; }
    // Why the history could not be kept during the current or last run; empty when it could.
    QString errorText() const { return m_error; }
    // The words of the current or last run in one line: "2 changed, 1 back, 3 failing, 40 new"; empty
    // when there are none.
    QString summary() const;
    // Sets the link's change, since and lastWorked and queues its sighting. For the run.
    void judge(LinkOutcome& link);

Q_SIGNALS:
    void historyFailed(const QString& message);

private:
    void begin();
    void flush();
    void end();
    void fail(const QString& message);
    void amendParked(qint32 line, const QString& id);

    QString m_path;
    const Settings::LiveSettings& m_settings;
    QPointer<BatchRun> m_run;
    std::unique_ptr<HistoryStore> m_store;
    qint64 m_runNumber = 0;
    qint64 m_started = 0;
    QString m_error;
    QList<HistoryStore::Entry> m_pending;
    QList<QPair<qint32, QString>> m_parkedLater;
    QTimer m_batchTimer;
    QHash<QString, int> m_counts;
};

} // namespace Batch
