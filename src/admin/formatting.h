#pragma once

#include <QString>

namespace Admin {

// Server text with every line ending made CR LF: CR LF pairs stay, lone LFs become CR LF, lone CRs stay.
QString FormatText(const QString& text);

} // namespace Admin
