#pragma once

#include <optional>
#include <utility>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "admin/adminrequests.h"

namespace Admin {

class AdminChannel;

// What one upload run sends, and how.
struct UploadOptions final {
    AdminLogin login;
    QString folder; // every file of it is sent (ListFolderFiles)
    int connections = 2; // parallel requests, 1..10
    int filesPerConnection = 10; // files per request, 1..100
    // Only the files numbered first..last (1-based, inclusive) of the folder's list; all when absent.
    std::optional<std::pair<int, int>> range;
    QString clientName; // the User-Agent of every request
};

// One upload of a folder's files to the administration script: the files go in batches of up to
// filesPerConnection, each batch one multipart request, over `connections` channels at once. A channel takes
// the next batch when its request has ended. Files of 0 bytes are skipped and counted, not sent; a batch
// that fails (no reply, or a status other than 2xx) counts all its files as failed and is not retried, as
// does a file gone since the listing. Every reply's body goes to the log, an error page's too.
//
// Event-driven on the GUI thread: start() returns at once and the run ends in one finished() signal.
// Pause holds back new batches, Stop waits for the batches in flight, Abort cuts them (counted as failed).
// The channels exist from start() to finished(); the texts the signals carry are the window's texts.
class UploadRun final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UploadRun)

public:
    explicit UploadRun(QObject* parent = nullptr);
    ~UploadRun() override;

    // Lists the folder and starts handing out batches. A run still going on is aborted first. With nothing
    // to send the run ends (finished()) before start() returns.
    void start(const UploadOptions& options);
    void setPaused(bool paused);
    void stop();
    void abort();

    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_pauseRequested; }
    bool wasStopped() const { return m_stopRequested; }
    bool UploadStopRequested() const { return m_stopRequested; }
    bool UploadPauseRequested() const { return m_pauseRequested; }
    bool UploadAbortRequested() const { return m_abortRequested; }

    // Files in the folder when the run started, and the files this run covers.
    int fileCount() const { return m_fileCount; }
    int total() const { return m_end - m_first; }
    // Files handed out so far (the window's "Done").
    int handedOut() const { return m_next - m_first; }
    int successCount() const { return m_success; }
    int failedCount() const { return m_failed; }
    int skippedCount() const { return m_skipped; }
    // Files handed out in percent of total, rounded, at most 100.
    int progressPercent() const;
    // The 1-based number of the first file not handed out: where a stopped run goes on.
    int nextFileNumber() const { return m_next + 1; }
    // The 1-based number of the run's last file.
    int lastFileNumber() const { return m_end; }
    int connectionCount() const { return int(m_connections.size()); }
    bool isConnectionBusy(int connection) const;

Q_SIGNALS:
    // connections rows are needed, numbered from 1; each starts as "Ready...".
    void started(int connections);
    void connectionStatusChanged(int connection, const QString& text);
    void connectionProgressChanged(int connection, int percent);
    void countersChanged();
    // A server reply for the log, line breaks made CR LF, with its closing line of dashes.
    void logAppended(const QString& text);
    void finished();

private:
    struct Connection {
        AdminChannel* channel = nullptr;
        bool ConnectionBusy = false;
        int ConnectionBatchSize = 0;
    };

    void handOut();
    void sendBatch(int index);
    void handleBatchFinished(int index, const AdminReply& reply);
    void finishIfDone();
    void finish();
    void releaseConnections();

    UploadOptions m_options;
    QStringList m_files;
    QList<Connection> m_connections;
    int m_fileCount = 0;
    int m_first = 0;
    int m_end = 0;
    int m_next = 0;
    int m_success = 0;
    int m_failed = 0;
    int m_skipped = 0;
    bool m_running = false;
    bool m_pauseRequested = false;
    bool m_stopRequested = false;
    bool m_abortRequested = false;
};

} // namespace Admin
