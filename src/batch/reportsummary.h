#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include "common/result.h"

class QIODevice;

namespace Batch {

// What a run report says in short: how many links ended each way, how many pages answered with each
// class of HTTP status, what the pages have become, and the links the directory should drop
// (isDeadLink) or look at (a page word other than ok), each list in the database's order.
struct ReportSummary final {
    struct ListedLink {
        qint64 line = 0;
        QString id;
        QString url;
        QString finalUrl;
        // The date of its last good capture, as the report gives it; empty when unknown.
        QString lastWorked;
    };

    int links = 0;
    // Outcome word -> links.
    QMap<QString, int> outcomes;
    // "2xx", "3xx", "4xx", "5xx", or "none" for links without a response -> links.
    QMap<QString, int> statusClasses;
    // Page word -> links; links without a word are not counted.
    QMap<QString, int> pages;
    QList<ListedLink> deadLinks;
    // Page word other than ok -> its links.
    QMap<QString, QList<ListedLink>> pageLinks;
    // What changed across runs (SinceWord) -> its links; empty for reports without the run history.
    QMap<QString, QList<ListedLink>> changeLinks;
};

// Reads a run report (RunReport's columns, found by their header names; a report of a release that
// wrote no page column has no page words). Fails when the device does not hold a run report.
Common::Result<ReportSummary> summariseReport(QIODevice& report);

// The newest run report of a folder, empty when it holds none.
QString latestReport(const QString& reportsFolder);

} // namespace Batch
