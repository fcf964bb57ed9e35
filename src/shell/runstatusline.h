#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "batch/runhistory.h"

namespace Batch {
class BatchRun;
class RunReport;
}
namespace Common {
class MessageBox;
}

namespace Shell {

// The window's end-of-run status line: what the pages have become, where the time went and where the
// run's report is, once the report is written. A report that could not be written is said at once and
// told in a box when the run is over: a box during the run would hold up the completions behind it.
// GUI thread; the run, the report and the boxes outlive it.
class RunStatusLine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunStatusLine)

public:
    RunStatusLine(Batch::BatchRun& run, Batch::RunReport& report, Common::MessageBox& boxes, QObject* parent = nullptr);

    // Adds what changed since the last runs to the line; none when null.
    void setHistory(Batch::RunHistory* history) { m_history = history; }

Q_SIGNALS:
    void statusChanged(const QString& text);

private:
    void handleReportWritten(const QString& path);
    void handleReportFailed(const QString& message);
    void handleRunFinished();
    void tellReportFailure(const QString& message);

    Batch::BatchRun& m_run;
    Batch::RunReport& m_report;
    Common::MessageBox& m_boxes;
    QPointer<Batch::RunHistory> m_history;
};

} // namespace Shell
