#include "common/csv.h"

#include <QIODevice>

namespace Common {

namespace {

    // The "'" in front of these is for the spreadsheet; a "'" already there gets one more, so that
    // exactly one leading "'" always means "added by the writer".
    bool needsTextMark(const QByteArray& field)
    {
        return !field.isEmpty() && QByteArrayView("=+-@\t\r'").contains(field.front());
    }

    QString withoutTextMark(const QByteArray& field)
    {
        return QString::fromUtf8(field.startsWith('\'') ? field.mid(1) : field);
    }

} // namespace

QByteArray csvRecord(const QStringList& fields)
{
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        const QByteArray field = fields.at(i).toUtf8();
        const bool marked = needsTextMark(field);
        if (marked || field.contains(',') || field.contains('"') || field.contains('\r') || field.contains('\n')) {
            QByteArray quoted = field;
            quoted.replace("\"", "\"\"");
            if (marked)
                quoted.prepend('\'');
            out += '"' + quoted + '"';
        } else {
            out += field;
        }
    }
    out += "\r\n";
    return out;
}

CsvReader::CsvReader(QIODevice& device)
    : m_device(device)
{
}

std::optional<QStringList> CsvReader::next()
{
    if (m_device.atEnd())
        return std::nullopt;
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    bool inQuotes = false;
    // Lines are read whole; a quoted field that holds a line break continues on the next one.
    while (!m_device.atEnd()) {
        QByteArray line = m_device.readLine();
        QByteArray lineEnd;
        if (line.endsWith('\n')) {
            line.chop(1);
            lineEnd = "\n";
            if (line.endsWith('\r')) {
                line.chop(1);
                lineEnd.prepend('\r');
            }
        }
        for (qsizetype i = 0; i < line.size(); ++i) {
            const char c = line.at(i);
            if (inQuotes) {
                if (c != '"') {
                    field += c;
                } else if (i + 1 < line.size() && line.at(i + 1) == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else if (c == '"' && field.isEmpty() && !quoted) {
                inQuotes = true;
                quoted = true;
            } else if (c == ',') {
                fields.append(withoutTextMark(field));
                field.clear();
                quoted = false;
            } else {
                field += c;
            }
        }
        if (!inQuotes)
            break;
        field += lineEnd;
    }
    fields.append(withoutTextMark(field));
    return fields;
}

} // namespace Common
