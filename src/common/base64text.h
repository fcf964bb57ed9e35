#pragma once

#include <QByteArray>
#include <QString>

namespace Common {

// Decodes base64 text as the browser sends a screenshot: 100 KB or more of it, read straight from
// the reply's text, several times faster than through Latin-1 and QByteArray::fromBase64. Anything
// unusual (line breaks, a missing padding, a stray character) takes Qt's decoder, which is lenient.
QByteArray fromBase64Text(const QString& text);

} // namespace Common
