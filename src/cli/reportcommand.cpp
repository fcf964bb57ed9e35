#include "cli/reportcommand.h"

#include <cstdio>

#include <QFile>

#include "batch/acrossruns.h"
#include "batch/pageword.h"
#include "batch/reportsummary.h"
#include "cli/exitcodes.h"
#include "cli/standardoutput.h"
#include "cli/terminalboxes.h"

namespace Cli {

int printReport(const Invocation& call, const QString& programFolder)
{
    const auto fail = [](const QString& text) {
        std::fputs((QStringLiteral("pictavo: ") + text + QLatin1Char('\n')).toUtf8().constData(), stderr);
        return ExitCode::CannotStart;
    };
    const QString path = call.reportFile.isEmpty() ? Batch::latestReport(programFolder + QStringLiteral("data/reports"))
                                                   : call.reportFile;
    if (path.isEmpty())
        return fail(QStringLiteral("no run report in %1data/reports").arg(programFolder));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const Common::Result<Batch::ReportSummary> summary = Batch::summariseReport(file);
    if (!summary)
        return fail(path + QStringLiteral(": ") + summary.error().message);

    // A list cut short must not pass for the whole list.
    const auto print = [&fail](const QString& text) {
        const OutputWrite written = writeOutput(stdout, text.toUtf8());
        if (written.status == OutputWrite::Status::Closed)
            return ExitCode::OutputClosed;
        if (written.status == OutputWrite::Status::Failed) {
            fail(QStringLiteral("cannot write standard output: ") + written.reason);
            return ExitCode::WriteFailed;
        }
        return ExitCode::Success;
    };

    const Batch::ReportSummary& s = summary.value();
    QString out;
    const auto line = [](const Batch::ReportSummary::ListedLink& link, bool withFinal) -> QString {
        return oneLine(link.id) + QLatin1Char('|') + oneLine(link.url)
            + (withFinal ? QLatin1Char('|') + oneLine(link.finalUrl) : QString()) + QLatin1Char('\n');
    };
    if (const QString change = call.reportList; change == Batch::SinceWord::Changed || change == Batch::SinceWord::Back
        || change == Batch::SinceWord::Failing) {
        // A failing link's line ends with the date it last worked, empty when no run of the history saw it work.
        const bool failing = change == Batch::SinceWord::Failing;
        for (const Batch::ReportSummary::ListedLink& link : s.changeLinks.value(change))
            out += oneLine(link.id) + QLatin1Char('|') + oneLine(link.url)
                + (failing ? QLatin1Char('|') + link.lastWorked : QString()) + QLatin1Char('\n');
        return print(out);
    }
    if (!call.reportList.isEmpty() && call.reportList != QLatin1String("dead")) {
        const QString word = call.reportList == QLatin1String("errors") ? Batch::PageWord::Error : call.reportList;
        const bool withFinal = word == Batch::PageWord::Moved || word == Batch::PageWord::Parked;
        for (const Batch::ReportSummary::ListedLink& link : s.pageLinks.value(word))
            out += line(link, withFinal);
        return print(out);
    }
    if (call.reportList.isEmpty()) {
        out += QStringLiteral("report: %1\nlinks: %2\n\noutcomes:\n").arg(path).arg(summary.value().links);
        for (auto it = summary.value().outcomes.cbegin(); it != summary.value().outcomes.cend(); ++it)
            out += QStringLiteral("  %1 %2\n").arg(oneLine(it.key()), -16).arg(it.value());
        out += QStringLiteral("\nHTTP status:\n");
        for (auto it = summary.value().statusClasses.cbegin(); it != summary.value().statusClasses.cend(); ++it)
            out += QStringLiteral("  %1 %2\n").arg(it.key(), -16).arg(it.value());
        if (!s.pages.isEmpty()) {
            out += QStringLiteral("\npages:\n");
            for (auto it = s.pages.cbegin(); it != s.pages.cend(); ++it)
                out += QStringLiteral("  %1 %2\n").arg(oneLine(it.key()), -16).arg(it.value());
        }
        if (!s.changeLinks.isEmpty()) {
            out += QStringLiteral("\nsince the last runs:\n");
            for (auto it = s.changeLinks.cbegin(); it != s.changeLinks.cend(); ++it)
                out += QStringLiteral("  %1 %2\n").arg(oneLine(it.key()), -16).arg(it.value().size());
        }
        out += QStringLiteral("\ndead links (refused, unresolvable, 404, 410): %1\n")
                   .arg(summary.value().deadLinks.size());
    }
    for (const Batch::ReportSummary::ListedLink& dead : s.deadLinks)
        out += line(dead, false);
    return print(out);
}

} // namespace Cli
