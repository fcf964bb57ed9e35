#pragma once

#include <QString>
#include <QtGlobal>

namespace Common {

// Rounds halves to even, as every whole-number conversion of the program does.
qint64 roundHalfEven(double value);

// The number a typed text starts with, leading blanks skipped: "12abc" gives 12, "2.5" gives 2.5,
// " -3" gives -3, "abc" and "" give 0. An exponent counts only with digits after it ("1e3" is 1000,
// "1e" is 1).
double numericValue(const QString& text);

// A number as a 32-bit whole number: halves to even, saturating at the range's ends, 0 for NaN.
qint32 toWholeNumber(double value);

} // namespace Common
