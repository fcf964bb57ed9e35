#include "shell/runstatusline.h"

#include <QStringList>

#include "batch/batchrun.h"
#include "batch/runhistory.h"
#include "batch/runreport.h"
#include "common/messagebox.h"

namespace Shell {

RunStatusLine::RunStatusLine(Batch::BatchRun& run, Batch::RunReport& report, Common::MessageBox& boxes, QObject* parent)
    : QObject(parent)
    , m_run(run)
    , m_report(report)
    , m_boxes(boxes)
{
    connect(&report, &Batch::RunReport::reportWritten, this, &RunStatusLine::handleReportWritten);
    connect(&report, &Batch::RunReport::reportFailed, this, &RunStatusLine::handleReportFailed);
    connect(&run, &Batch::BatchRun::finished, this, &RunStatusLine::handleRunFinished);
}

void RunStatusLine::handleReportWritten(const QString& path)
{
    QStringList parts;
    if (const QString pages = m_run.pageSummary(); !pages.isEmpty())
        parts.append(pages);
    if (m_history) {
        if (const QString since = m_history->summary(); !since.isEmpty())
            parts.append(tr("Since the last runs: %1").arg(since));
    }
    if (const QString time = m_run.timeSummary(); !time.isEmpty())
        parts.append(tr("Time: %1").arg(time));
    parts.append(tr("Run report: %1").arg(path));
    Q_EMIT statusChanged(parts.join(QStringLiteral(". ")));
}

void RunStatusLine::handleReportFailed(const QString& message)
{
    Q_EMIT statusChanged(message);
    // After the run the report is only amended: nothing waits behind the box then.
    if (!m_run.isActive())
        tellReportFailure(message);
}

void RunStatusLine::handleRunFinished()
{
    // A failed amendment is told when it fails, after this.
    if (!m_report.errorText().isEmpty() && !m_report.isAmending())
        tellReportFailure(m_report.errorText());
}

void RunStatusLine::tellReportFailure(const QString& message)
{
    m_boxes.inform(message, tr("Run report"), Common::MessageBox::Icon::Critical);
}

} // namespace Shell
