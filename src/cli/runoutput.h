#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include "batch/linkoutcome.h"

namespace Cli {

// One link as the command line prints it: line number, ID, outcome, status text and URL, tab
// separated and made safe for a terminal; with json, one compact JSON object that adds the HTTP
// status, final URL, title and elapsed time. Both end in a line feed.
QByteArray linkLine(const Batch::LinkOutcome& link, bool json);

// What a run has done so far, counted from its links' ends.
struct RunTally final {
    int links = 0;
    int failed = 0;
    QMap<QString, int> outcomes;

    void add(const Batch::LinkOutcome& link);
    // "180 captured, 5 skipped, 15 timed-out", most frequent first.
    QString breakdown() const;
};

// The progress line shown on a terminal: a bar, the links done of those selected, the failures, the
// rate and the time left. width is the bar's width in characters.
QString progressLine(const RunTally& tally, int selected, double elapsedSeconds, int width = 24);

} // namespace Cli
