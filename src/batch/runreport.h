#pragma once

#include <memory>

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QSet>
#include <QString>

#include "batch/linkoutcome.h"
#include "common/result.h"

class QFile;

namespace Batch {

class BatchRun;

// The report of every run: one CSV file per run in the reports folder, "run-<date>-<time>.csv"
// (UTF-8, a header record, RFC 4180 quoting), one record per link as it ends: line, ID, URL,
// outcome, status text, HTTP status (empty when none), final URL, title, elapsed milliseconds, what
// the page has become (PageWord, empty when it was never captured), and the link's seconds from its
// capture's start to its outcome (empty when it was never captured); then, from the run history, the date
// of the first run of the link's present state, what changed across runs (SinceWord) and the date of its
// last good capture (dates yyyy-MM-dd, local; all empty for links the run did not try or without history).
// Each record reaches the disk as soon as it is written, so a crash loses at most the last one. The
// links found parked by their look after their record was written get their word when the run ends,
// in a rewrite on a worker thread, so that a long run's report never holds up the window; the report
// is complete once reportWritten (or reportFailed) has been emitted.
//
// Follows a run through its signals; the run must outlive this object or be destroyed with it.
// GUI thread only.
class RunReport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunReport)

public:
    RunReport(BatchRun& run, QString reportsFolder, QObject* parent = nullptr);
    ~RunReport() override;

    // The report of the current or the last run; empty before the first.
    QString filePath() const { return m_path; }
    // Why the current report could not be written, if it could not.
    QString errorText() const { return m_error; }
    // The ended run's report is still being put right; reportWritten follows.
    bool isAmending() const { return m_amending.isRunning(); }

    // The header record's field names, in column order.
    static QStringList columns();
    // A free name for a report started at `when`: a second run in the same second gets a suffix.
    static QString newReportPath(const QString& folder, const QDateTime& when);
    // The record of one link, as the report writes it.
    static QByteArray record(const LinkOutcome& link);
    // A date of the history as the report writes it; empty for 0.
    static QString reportDate(qint64 seconds);

Q_SIGNALS:
    // The run is over and its report complete at path.
    void reportWritten(const QString& path);
    // The report could not be created or written; the run goes on without it.
    void reportFailed(const QString& message);

private:
    void open();
    void append(const LinkOutcome& link);
    void close();
    void write(const QByteArray& bytes);

    QString m_folder;
    QString m_path;
    QString m_error;
    std::unique_ptr<QFile> m_file;
    // The lines of links found parked after their record was written.
    QSet<qint32> m_parkedLater;
    // Gives the reason the rewrite failed; empty when it did not.
    QFuture<QString> m_amending;
};

} // namespace Batch
