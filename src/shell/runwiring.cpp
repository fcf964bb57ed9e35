#include "shell/runwiring.h"

#include <QApplication>

#include "batch/batchrun.h"
#include "batch/linksdatabase.h"
#include "batch/retryfile.h"
#include "batch/widgets/frmmsg.h"
#include "common/widgets/windowhelpers.h"
#include "settings/livesettings.h"
#include "shell/linksview.h"
#include "shell/rangepanel.h"
#include "shell/runendnotifier.h"
#include "shell/statspanel.h"

namespace Shell {

RunWiring::RunWiring(Parts parts)
    : QObject(&parts.window)
    , m_parts(std::move(parts))
{
    Batch::BatchRun* run = &m_parts.run;
    StatsPanel* stats = &m_parts.stats;
    connect(run, &Batch::BatchRun::statusText, this, [this](const QString& text) { m_parts.setStatusText(text); });
    connect(
        run, &Batch::BatchRun::rangeValidated, this, [this](const QString& from, const QString& to, qint32 selected) {
            m_parts.range.setRange(from, to);
            m_parts.stats.showSelected(selected);
        });
    connect(run, &Batch::BatchRun::countersCleared, stats, &StatsPanel::clearCounters);
    connect(run, &Batch::BatchRun::countersChanged, stats, &StatsPanel::showCounters);
    connect(run, &Batch::BatchRun::progressChanged, stats, &StatsPanel::showProgress);
    connect(run, &Batch::BatchRun::rowAdded, this, [this](int row) {
        if (row >= 0)
            m_parts.list.followNewestRow();
    });
    connect(run, &Batch::BatchRun::waitingStarted, this, &RunWiring::showWaitingWindow);
    connect(run, &Batch::BatchRun::workingThreadsChanged, this, [this](int busy) {
        if (m_frmMsg)
            m_frmMsg->setWorkingThreads(busy);
    });
    connect(run, &Batch::BatchRun::finished, this, &RunWiring::handleFinished);
}

bool RunWiring::start()
{
    m_parts.run.clearFlags();
    const RangePanel& range = m_parts.range;
    return m_parts.run.StartSnapShots(range.fromText(), range.toText(), range.skipExisting());
}

bool RunWiring::retry()
{
    m_parts.run.clearFlags();
    // The retry file replaces the links database: never while another run works there.
    if (!m_parts.run.holdFolders())
        return false;

    auto* wait = new Batch::frmRetryMsg(&m_parts.window);
    wait->setAttribute(Qt::WA_DeleteOnClose);
    wait->show();
    Common::CenterForm(wait, &m_parts.window);
    m_parts.setStatusText(tr("Creating retry links file..."));
    m_parts.stats.showBarOnly(0);
    const Settings::LiveSettings& s = m_parts.settings;
    const bool replaced = Batch::CreateRetryFile(
        m_parts.links.LinksInfoFile(), s.ImagesFolder, s.ImageType, m_parts.boxes, [this](int percent) {
            m_parts.stats.showBarOnly(percent);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
    if (replaced)
        m_parts.recount();
    wait->close();
    return start();
}

void RunWiring::stop()
{
    m_parts.run.stop();
    showWaitingWindow();
}

void RunWiring::showWaitingWindow()
{
    if (!m_frmMsg) {
        m_frmMsg = new Batch::frmMsg(&m_parts.window);
        connect(m_frmMsg, &Batch::frmMsg::abortRequested, &m_parts.run, &Batch::BatchRun::abortWaiting);
    }
    m_frmMsg->setWorkingThreads(m_parts.run.busySlots());
    m_frmMsg->show();
    Common::CenterForm(m_frmMsg, &m_parts.window);
}

void RunWiring::handleFinished(bool stopped, qint32 resumeFrom)
{
    const Batch::BatchRun& run = m_parts.run;
    // Any window of the program in front (the waiting window of a stop, say) means the user sees the end.
    if (m_parts.notifier)
        m_parts.notifier->runEnded(
            run.SuccessCount(), run.DoneCount() - run.SuccessCount(), QApplication::activeWindow() != nullptr);
    if (stopped)
        m_parts.range.setFrom(QString::number(resumeFrom));
    if (m_frmMsg) {
        m_frmMsg->hide();
        m_frmMsg->deleteLater();
    }
    Q_EMIT runEnded();
}

} // namespace Shell
