#pragma once

#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "cli/commandline.h"
#include "cli/runoutput.h"

namespace Capture {
class BrowserHost;
}
namespace Settings {
struct LiveSettings;
}
namespace Batch {
class BatchRun;
class CaptureCompletion;
class LinksDatabase;
class LinksListModel;
class RunHistory;
class RunReport;
}
namespace Common {
class ThumbnailModel;
}

namespace Cli {

class TerminalBoxes;

// `pictavo run`: the window's batch run (and with --retry its retry step first) on the same engine,
// completion and report, its progress on the terminal instead of the window. Ends in one finished()
// with the exit status. An interrupt, or standard output's reader going away, acts as Stop; the next
// interrupt as the waiting window's Abort. Output, a report or thumbnails that cannot be written (a full
// disk) stop nothing: the run ends with ExitCode::WriteFailed and says why.
class RunCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunCommand)

public:
    struct Services {
        const Settings::LiveSettings& settings;
        QString programFolder; // ending in "/"
        TerminalBoxes& boxes;
        Capture::BrowserHost& host;
        // The browser the host will start, as BrowserOptions names it (empty: the standard ones).
        QString browserExecutable;
    };

    RunCommand(const Services& services, const Invocation& call, QObject* parent = nullptr);
    ~RunCommand() override;

    // Starts the run. When it cannot start, finished() follows from the event loop all the same.
    void start();
    void interrupt(int count);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void finishSoon(int exitCode);
    void finishAfterReport(int exitCode);
    void requestStop();
    void handleOutputClosed();
    void handleOutputFailed(const QString& reason);
    void handleLinkEnded(const Batch::LinkOutcome& link);
    void handleFinished(bool stopped, qint32 resumeFrom);
    void drawProgress();
    void clearProgress();

    Services m_services;
    Invocation m_call;
    std::unique_ptr<Batch::LinksDatabase> m_links;
    static constexpr int KeptRows = 1000;
    Batch::LinksListModel* m_rows = nullptr;
    Common::ThumbnailModel* m_strip = nullptr;
    std::unique_ptr<Batch::CaptureCompletion> m_completion;
    Batch::BatchRun* m_run = nullptr;
    Batch::RunReport* m_report = nullptr;
    Batch::RunHistory* m_history = nullptr;
    RunTally m_tally;
    QElapsedTimer m_clock;
    QTimer m_progressTimer;
    bool m_showProgress = false;
    bool m_progressShown = false;
    bool m_interrupted = false;
    bool m_outputClosed = false;
    // The output closed before any signal: it names the exit status.
    bool m_outputClosedFirst = false;
    // Why standard output could not be written; empty while it can.
    QString m_outputFailure;
    // The status text of the last link whose thumbnail could not be stored.
    QString m_lastWriteFailure;
    int m_stopRequests = 0;
};

} // namespace Cli
