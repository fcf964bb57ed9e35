#pragma once

#include <optional>

#include <QString>

namespace Common {

// The whole number a text stands for: blanks trimmed, an optional sign, digits with an optional
// fraction, rounded to the nearest whole number with halves to even ("12.5" gives 12, "13.5" 14).
// Empty when the text is not such a number or does not fit 32 bits.
std::optional<qint32> wholeNumber(const QString& text);

// Rounds halves to even, as every whole-number conversion of the program does.
qint64 roundHalfEven(double value);

} // namespace Common
