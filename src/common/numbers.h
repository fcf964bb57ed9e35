#pragma once

#include <QtGlobal>

namespace Common {

// Rounds halves to even, as every whole-number conversion of the program does.
qint64 roundHalfEven(double value);

} // namespace Common
