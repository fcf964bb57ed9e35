#pragma once

#include <QString>

#include "cli/commandline.h"

namespace Cli {

// `pictavo report`: prints the summary of a run report (the newest in the program folder's
// data/reports/ unless a file is named), or with --dead only its dead links. Returns the exit status.
int printReport(const Invocation& call, const QString& programFolder);

} // namespace Cli
