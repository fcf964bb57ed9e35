#pragma once

#include <optional>

#include <QByteArray>
#include <QFile>
#include <QString>

#include "common/result.h"

namespace Batch {

// Reads a text file line by line, in blocks, so that a database of a million lines is counted and
// read without holding it in memory. A line ends at CR LF, at a lone CR or at a lone LF, so files
// written on any system read the same; a last line without a terminator is still a line. Lines are
// decoded as UTF-8.
class LineReader final {
public:
    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    Common::Status open(const QString& path);
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    // The next line without its terminator, or nothing at the end of the file. A read error ends the
    // file early and is kept in error().
    std::optional<QString> readLine();
    // The same line as the bytes stored in the file, so that it can be written back unchanged.
    std::optional<QByteArray> readRawLine();
    // Passes over up to count lines without decoding them; returns how many there were.
    qint64 skipLines(qint64 count);
    bool atEnd();
    std::optional<Common::Error> error() const { return m_error; }

    // Counts the lines of a file without decoding them.
    static Common::Result<qint64> countLines(const QString& path);

private:
    bool fill();
    bool advanceLine(QByteArray* out);

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    std::optional<Common::Error> m_error;
};

} // namespace Batch
