#pragma once

#include <functional>

#include <QString>

#include "common/result.h"

namespace Common {

class MessageBox;

// Runs a step until it succeeds or the user gives up: each failure asks "Error: " + the error's
// message (and, with withSource, its source) in a critical box titled `title` with Retry and Cancel.
// True when the step succeeded in the end.
bool runWithRetry(
    MessageBox& boxes, const QString& title, const std::function<Status()>& step, bool withSource = false);

} // namespace Common
