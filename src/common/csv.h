#pragma once

#include <optional>
#include <utility>

#include <QByteArray>
#include <QStringList>

class QIODevice;

namespace Common {

// One CSV record as RFC 4180 writes it: fields joined by ",", a field that holds a comma, a quote,
// a CR or an LF enclosed in quotes with its quotes doubled, the record ended by CR LF. UTF-8.
//
// The records are meant to be opened in spreadsheets, which evaluate a cell that begins with "=",
// "+", "-", "@", a tab or a CR as a formula. Such a field is written quoted with a "'" in front,
// which spreadsheets show as text; so that the reader can take that "'" off without guessing, a
// field that itself begins with "'" gets one more in front too. CsvReader undoes both.
QByteArray csvRecord(const QStringList& fields);

// Reads RFC 4180 records one at a time from a device, quoted fields spanning lines included. A
// record ends at CR LF or a lone LF; a file that ends inside quotes yields what it has. A field that
// begins with "'" loses that first "'" (see csvRecord), so fields come back as they were written.
//
// Files of releases before the marks have none to take off. On a device it can seek in, the reader
// first reads the rest of it through, and when a field there cannot have been marked (one that begins
// with a formula character, or with a "'" that is no mark), it takes no "'" off that file's fields.
class CsvReader final {
public:
    explicit CsvReader(QIODevice& device);

    // The next record, or nothing at the end of the device.
    std::optional<QStringList> next();

private:
    // The record, and whether one of its fields shows that its writer put no marks in.
    std::pair<QStringList, bool> nextRecord();

    QIODevice& m_device;
    bool m_marked = true;
};

} // namespace Common
