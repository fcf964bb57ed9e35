#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "batch/acrossruns.h"
#include "common/result.h"

struct sqlite3;

namespace Batch {

// The history of the runs: one SQLite file (data/history.db in the program folder, user-only) that keeps,
// for each of the last runs, what each link it tried came to. A link is its ID with its address: a new
// address under an ID, or an address under another ID, starts a history of its own, while the old one
// stays until its runs are pruned; a new links database changes nothing here.
//
// Every write is one transaction in a write-ahead log, so a process killed at any point leaves every
// committed batch and an intact file. Readers (another window, the command line) may read while a run
// writes. A plain object; one thread at a time; errors come back as results, never thrown.
class HistoryStore final {
public:
    // One link in one run.
    struct Entry {
        qint64 run = 0;
        qint32 line = 0;
        QString id;
        QString url;
        int httpStatus = 0;
        QString finalUrl;
        // SHA-1 of the thumbnail file as written; empty when none was.
        QByteArray thumbnailHash;
        LinkSighting seen;
    };

    ~HistoryStore();
    Q_DISABLE_COPY_MOVE(HistoryStore)

    // Opens the file, creating it (and its folder) when missing. Refuses an SQLite file of another program.
    static Common::Result<std::unique_ptr<HistoryStore>> open(const QString& filePath);

    // A new run started at date (seconds since the epoch); the store keeps it and the keptRuns - 1 runs
    // before it (at least 1 in all), pruning the others with their links' rows. Gives the run's number.
    Common::Result<qint64> beginRun(qint64 date, int keptRuns);
    // The run's end; a run without one was cut short.
    Common::Status endRun(qint64 run, qint64 date);
    // Writes the entries in one transaction; an entry for a link the run already has replaces it.
    Common::Status record(const QList<Entry>& entries);

    // The link's sightings in runs before beforeRun, newest first, at most limit of them.
    QList<LinkSighting> earlier(const QString& id, const QString& url, qint64 beforeRun, int limit) const;
    // The link's entries in every kept run, newest first.
    QList<Entry> runsOf(const QString& id, const QString& url) const;
    // The entry of one line of a run.
    std::optional<Entry> entryAt(qint64 run, qint32 line) const;
    // The kept runs, oldest first.
    QList<qint64> runs() const;
    // "PRAGMA integrity_check" says ok.
    bool isIntact() const;

private:
    explicit HistoryStore(sqlite3* db);
    Common::Error failure(const QString& what) const;
    bool exec(const char* sql) const;

    sqlite3* m_db = nullptr;
};

} // namespace Batch
