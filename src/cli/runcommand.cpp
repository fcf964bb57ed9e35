#include "cli/runcommand.h"

#include <cstdio>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linksdatabase.h"
#include "batch/linkslistmodel.h"
#include "batch/retryfile.h"
#include "batch/runhistory.h"
#include "batch/runreport.h"
#include "capture/browserendpoints.h"
#include "capture/browserhost.h"
#include "cli/exitcodes.h"
#include "cli/standardoutput.h"
#include "cli/terminalboxes.h"
#include "common/thumbnailmodel.h"
#include "settings/livesettings.h"

namespace Cli {

namespace {

    void writeErr(const QString& text) { std::fputs(text.toUtf8().constData(), stderr); }

} // namespace

RunCommand::RunCommand(const Services& services, const Invocation& call, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_call(call)
    , m_links(std::make_unique<Batch::LinksDatabase>(services.programFolder + QStringLiteral("data/LinksInfo.txt")))
    , m_rows(new Batch::LinksListModel(this))
    , m_strip(new Common::ThumbnailModel(this))
{
    m_strip->setDecoding(false);
    const Settings::LiveSettings& settings = services.settings;
    m_completion = std::make_unique<Batch::CaptureCompletion>(Batch::CaptureCompletion::Services {
        settings, *m_rows, *m_strip, services.boxes, services.programFolder, {}, {} });
    m_run = new Batch::BatchRun(
        { settings, *m_links, *m_rows, *m_completion, &services.host, services.boxes, services.programFolder }, this);
    m_report = new Batch::RunReport(*m_run, services.programFolder + QStringLiteral("data/reports"), this);
    m_history
        = new Batch::RunHistory(*m_run, services.programFolder + QStringLiteral("data/history.db"), settings, this);

    // No window shows the list here, and nothing reads a row back: the run only writes the rows of the
    // links it works on, and writing to a row that is gone does nothing. Kept to the newest few, a long
    // run's memory stays flat.
    connect(m_run, &Batch::BatchRun::rowAdded, this, [this] {
        while (m_rows->rowCount() > KeptRows)
            m_rows->removeFirstRow();
    });
    connect(m_run, &Batch::BatchRun::linkEnded, this, &RunCommand::handleLinkEnded);
    connect(m_run, &Batch::BatchRun::finished, this, &RunCommand::handleFinished);
    connect(m_run, &Batch::BatchRun::statusText, this, [this](const QString& text) {
        if (text.startsWith(QLatin1String("Error"))) {
            clearProgress();
            writeErr(QStringLiteral("pictavo: ") + oneLine(text) + QLatin1Char('\n'));
        }
    });
    connect(m_history, &Batch::RunHistory::historyFailed, this, [this](const QString& message) {
        clearProgress();
        writeErr(QStringLiteral("pictavo: ") + oneLine(message) + QLatin1Char('\n'));
    });
    connect(m_report, &Batch::RunReport::reportFailed, this, [this](const QString& message) {
        clearProgress();
        writeErr(QStringLiteral("pictavo: ") + message + QLatin1Char('\n'));
    });

    m_showProgress = ::isatty(STDERR_FILENO) == 1;
    m_progressTimer.setInterval(500);
    connect(&m_progressTimer, &QTimer::timeout, this, &RunCommand::drawProgress);
}

RunCommand::~RunCommand()
{
    // The run refers to the completion, which goes with the members.
    delete m_report;
    delete m_history;
    delete m_run;
}

void RunCommand::finishSoon(int exitCode)
{
    QTimer::singleShot(0, this, [this, exitCode] { Q_EMIT finished(exitCode); });
}

void RunCommand::start()
{
    // Browsers elsewhere need none here; a list that does not parse is refused by the run itself.
    const auto endpoints = Capture::parseBrowserEndpoints(m_services.settings.BrowserEndpoints);
    const bool local = !endpoints || endpoints.value().isEmpty()
        || endpoints.value().contains(Capture::BrowserEndpoint { Capture::BrowserEndpoint::Kind::Local, {} });
    if (const auto browser = Capture::BrowserHost::findExecutable(m_services.browserExecutable); local && !browser) {
        writeErr(QStringLiteral("pictavo: ") + browser.error().message + QLatin1Char('\n'));
        return finishSoon(ExitCode::CannotStart);
    }
    const Settings::LiveSettings& s = m_services.settings;
    QString from = m_call.from;
    QString to = m_call.to;
    if (m_call.retry) {
        // The retry file replaces the links database: never while another run works there.
        if (!m_run->holdFolders())
            return finishSoon(ExitCode::CannotStart);
        // The failure has been told. Unlike the window, nobody is there to see that the run that follows
        // would take every link again: nothing is done.
        if (!Batch::CreateRetryFile(m_links->LinksInfoFile(), s.ImagesFolder, s.ImageType, m_services.boxes, {}))
            return finishSoon(ExitCode::CannotStart);
        from = QStringLiteral("1");
        to.clear();
    }
    // An interrupt during the retry step ends the command before any capture.
    QCoreApplication::processEvents();
    if (m_interrupted)
        return finishSoon(ExitCode::Interrupted);

    m_run->clearFlags();
    const int boxesBefore = m_services.boxes.count();
    // Unlike the window's boxes, a one-line range is what the user typed, or all a retry has left.
    if (!m_run->StartSnapShots(from, to, m_call.skipExisting, Batch::RangeMinimum::OneLine)) {
        if (m_services.boxes.count() == boxesBefore)
            writeErr(QStringLiteral("pictavo: the run could not start\n"));
        return finishSoon(ExitCode::CannotStart);
    }
    m_clock.start();
    if (m_showProgress)
        m_progressTimer.start();
}

void RunCommand::interrupt(int)
{
    m_interrupted = true;
    requestStop();
}

void RunCommand::handleOutputClosed()
{
    m_outputClosed = true;
    if (m_interrupted)
        return; // already stopping, and the signal names the exit status
    m_outputClosedFirst = true;
    writeErr(QStringLiteral("pictavo: standard output was closed; stopping as on Ctrl-C\n"));
    requestStop();
}

void RunCommand::handleOutputFailed(const QString& reason)
{
    // The captures still have their worth, and the report keeps every link: the run goes on.
    m_outputFailure = reason;
    clearProgress();
    writeErr(QStringLiteral("pictavo: cannot write standard output: %1; the run goes on, its report keeps every link\n")
                 .arg(reason));
}

void RunCommand::requestStop()
{
    if (!m_run->isActive())
        return;
    clearProgress();
    if (++m_stopRequests == 1) {
        writeErr(
            QStringLiteral("pictavo: stopping; waiting for %1 capture(s) in flight (Ctrl-C again to stop waiting)\n")
                .arg(m_run->busySlots()));
        m_run->stop();
    } else {
        m_run->abortWaiting();
    }
}

void RunCommand::handleLinkEnded(const Batch::LinkOutcome& link)
{
    m_tally.add(link);
    clearProgress();
    if (link.outcome == Batch::Outcome::WriteFailed)
        m_lastWriteFailure = link.statusText;
    if (!m_outputClosed && m_outputFailure.isEmpty()) {
        const OutputWrite written = writeOutput(stdout, linkLine(link, m_call.json));
        if (written.status == OutputWrite::Status::Closed)
            handleOutputClosed();
        else if (written.status == OutputWrite::Status::Failed)
            handleOutputFailed(written.reason);
    }
    drawProgress();
}

void RunCommand::drawProgress()
{
    if (!m_showProgress || !m_run->isActive())
        return;
    writeErr(QStringLiteral("\r\033[K") + progressLine(m_tally, m_run->selectedCount(), m_clock.elapsed() / 1000.0));
    m_progressShown = true;
}

void RunCommand::clearProgress()
{
    if (!m_progressShown)
        return;
    writeErr(QStringLiteral("\r\033[K"));
    m_progressShown = false;
}

void RunCommand::handleFinished(bool stopped, qint32 resumeFrom)
{
    m_progressTimer.stop();
    clearProgress();
    // Nothing was done, and the run has said why.
    if (m_run->lostEveryBrowser() && m_tally.links == 0)
        return finishSoon(ExitCode::CannotStart);
    const double seconds = m_clock.elapsed() / 1000.0;
    QString summary = QStringLiteral("pictavo: %1 links in %2 s").arg(m_tally.links).arg(seconds, 0, 'f', 1);
    if (seconds > 0)
        summary += QStringLiteral(" (%1 links/s)").arg(m_tally.links / seconds, 0, 'f', 2);
    if (m_tally.links > 0)
        summary += QStringLiteral(": ") + m_tally.breakdown();
    if (const QString pages = m_run->pageSummary(); !pages.isEmpty())
        summary += QStringLiteral("; pages: ") + pages;
    if (const QString since = m_history->summary(); !since.isEmpty())
        summary += QStringLiteral("; since the last runs: ") + since;
    if (const QString time = m_run->timeSummary(); !time.isEmpty())
        summary += QStringLiteral("; time: ") + time;
    if (!m_report->filePath().isEmpty() && m_report->errorText().isEmpty())
        summary += QStringLiteral("; report ") + m_report->filePath();
    writeErr(summary + QLatin1Char('\n'));
    if (const int unstored = m_tally.outcomes.value(Batch::Outcome::WriteFailed); unstored > 0)
        writeErr(QStringLiteral("pictavo: %1 thumbnail(s) could not be stored in %2; the last: %3\n")
                     .arg(unstored)
                     .arg(m_services.settings.ImagesFolder, oneLine(m_lastWriteFailure)));
    if (stopped)
        writeErr(QStringLiteral("pictavo: stopped at line %1; resume with: pictavo run --from %1\n").arg(resumeFrom));
    // Lines were lost even when the run went to its end: whoever reads them must not take them for all.
    if (m_outputClosedFirst)
        return finishAfterReport(ExitCode::OutputClosed);
    if (stopped)
        return finishAfterReport(m_run->lostEveryBrowser() ? ExitCode::SomeFailed : ExitCode::Interrupted);
    finishAfterReport(m_tally.failed > 0 ? ExitCode::SomeFailed : ExitCode::Success);
}

void RunCommand::finishAfterReport(int exitCode)
{
    const auto finish = [this, exitCode] {
        // The work was done, but not all of it was kept: a full disk must not pass for the failed links
        // every run has. A signal or a closed output names the status all the same.
        const bool unwritten = !m_outputFailure.isEmpty() || !m_report->errorText().isEmpty()
            || m_tally.outcomes.value(Batch::Outcome::WriteFailed) > 0;
        const bool done = exitCode == ExitCode::Success || exitCode == ExitCode::SomeFailed;
        finishSoon(unwritten && done ? ExitCode::WriteFailed : exitCode);
    };
    // The report is still taking the words of links found parked late: whoever reads it next wants them.
    if (!m_report->isAmending())
        return finish();
    // Follows a rewrite that failed too, which leaves the report as the links ended.
    connect(m_report, &Batch::RunReport::reportWritten, this, finish, Qt::SingleShotConnection);
}

} // namespace Cli
