#include "batch/reportsummary.h"

#include <algorithm>

#include <QDir>
#include <QIODevice>

#include "batch/linkoutcome.h"
#include "batch/pageword.h"
#include "batch/runreport.h"
#include "common/csv.h"

namespace Batch {

namespace {

    const QString kSource = QStringLiteral("ReportSummary");

    QString statusClass(int status)
    {
        if (status < 100 || status > 999)
            return QStringLiteral("none");
        return QString::number(status / 100) + QStringLiteral("xx");
    }

} // namespace

Common::Result<ReportSummary> summariseReport(QIODevice& report)
{
    Common::CsvReader reader(report);
    const std::optional<QStringList> header = reader.next();
    QStringList columns = RunReport::columns();
    // Reports of earlier releases end before the page column, or before the seconds column after it.
    const QString page = QStringLiteral("page");
    const qsizetype pageColumn = header ? header->indexOf(page) : -1;
    const qsizetype changeColumn = header ? header->indexOf(QStringLiteral("change")) : -1;
    const qsizetype lastWorkedColumn = header ? header->indexOf(QStringLiteral("last_worked")) : -1;
    columns.resize(columns.indexOf(page));
    QList<qsizetype> index;
    for (const QString& column : columns)
        index.append(header ? header->indexOf(column) : -1);
    if (index.contains(-1))
        return Common::Error { 0, kSource,
            QStringLiteral("This is not a run report: its header lacks the columns %1")
                .arg(columns.join(QLatin1Char(','))) };
    const auto field = [&](const QStringList& record, int column) { return record.value(index.at(column)); };

    ReportSummary summary;
    while (const std::optional<QStringList> record = reader.next()) {
        if (record->size() == 1 && record->first().isEmpty())
            continue;
        const QString id = field(*record, 1);
        const QString url = field(*record, 2);
        const QString outcome = field(*record, 3);
        const int status = field(*record, 5).toInt();
        ++summary.links;
        ++summary.outcomes[outcome];
        ++summary.statusClasses[statusClass(status)];
        const ReportSummary::ListedLink link { field(*record, 0).toLongLong(), id, url, field(*record, 6),
            lastWorkedColumn < 0 ? QString() : record->value(lastWorkedColumn) };
        if (isDeadLink(outcome, status))
            summary.deadLinks.append(link);
        const QString word = pageColumn < 0 ? QString() : record->value(pageColumn);
        if (!word.isEmpty()) {
            ++summary.pages[word];
            if (word != PageWord::Ok)
                summary.pageLinks[word].append(link);
        }
        if (const QString change = changeColumn < 0 ? QString() : record->value(changeColumn); !change.isEmpty())
            summary.changeLinks[change].append(link);
    }
    // Links are reported as they end, which is not the order of the database.
    const auto byLine = [](QList<ReportSummary::ListedLink>& links) {
        std::stable_sort(links.begin(), links.end(),
            [](const ReportSummary::ListedLink& a, const ReportSummary::ListedLink& b) { return a.line < b.line; });
    };
    byLine(summary.deadLinks);
    for (QList<ReportSummary::ListedLink>& links : summary.pageLinks)
        byLine(links);
    for (QList<ReportSummary::ListedLink>& links : summary.changeLinks)
        byLine(links);
    return summary;
}

QString latestReport(const QString& reportsFolder)
{
    // The last one written: names of runs in the same second differ only by a suffix.
    const QFileInfoList reports
        = QDir(reportsFolder).entryInfoList({ QStringLiteral("run-*.csv") }, QDir::Files, QDir::Time);
    return reports.isEmpty() ? QString() : reports.first().absoluteFilePath();
}

} // namespace Batch
