#include "common/csv.h"

#include <QIODevice>

namespace Common {

namespace {

    // The "'" in front of these is for the spreadsheet; a "'" already there gets one more, so that
    // exactly one leading "'" always means "added by the writer".
    bool needsTextMark(char first) { return QByteArrayView("=+-@\t\r'").contains(first); }

    bool needsTextMark(const QByteArray& field) { return !field.isEmpty() && needsTextMark(field.front()); }

    // Whether only a writer without text marks can have written the field: a marking writer leaves
    // no field beginning with a formula character, and quotes every field it marks.
    bool writtenUnmarked(const QByteArray& field, bool quoted)
    {
        if (!needsTextMark(field))
            return false;
        if (field.front() != '\'')
            return true;
        return !quoted || field.size() == 1 || !needsTextMark(field.at(1));
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
    if (m_device.isSequential())
        return;
    // One such field settles it. A file without one reads the same either way, unless a quoted field
    // of it begins with "'" and a formula character: that is taken for a mark.
    const qint64 start = m_device.pos();
    bool unmarked = false;
    while (!unmarked && !m_device.atEnd())
        unmarked = nextRecord().second;
    m_marked = !unmarked;
    m_device.seek(start);
}

std::optional<QStringList> CsvReader::next()
{
    if (m_device.atEnd())
        return std::nullopt;
    return nextRecord().first;
}

std::pair<QStringList, bool> CsvReader::nextRecord()
{
    QStringList fields;
    bool unmarked = false;
    const auto take = [&](const QByteArray& field, bool quoted) {
        unmarked = unmarked || writtenUnmarked(field, quoted);
        fields.append(QString::fromUtf8(m_marked && field.startsWith('\'') ? field.mid(1) : field));
    };
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
                take(field, quoted);
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
    take(field, quoted);
    return { fields, unmarked };
}

} // namespace Common
