#pragma once

#include <QString>

#include "cli/commandline.h"

namespace Cli {

// `pictavo report`: prints the summary of a run report (the newest in the program folder's
// data/reports/ unless a file is named), or one list of its links: the dead ones, or those whose page
// has one word (--moved, --parked, --blank, --errors), or what changed across runs (--changed, --back,
// --failing, the last with the date each link last worked). Returns the exit status.
int printReport(const Invocation& call, const QString& programFolder);

} // namespace Cli
