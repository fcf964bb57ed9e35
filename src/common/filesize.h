#pragma once

#include <QLocale>
#include <QString>

namespace Common {

// A byte count as text for progress displays: "1,023 Bytes", "1.50 KB", "1.000 MB", up to "YB"; counts of
// 1024^8 and more stay in YB. Below 1 byte the text is empty. Grouping and decimal marks follow locale.
QString FormatFileSize(double bytes, const QLocale& locale = QLocale());

} // namespace Common
