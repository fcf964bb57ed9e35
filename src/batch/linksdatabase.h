#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "batch/linereader.h"
#include "common/result.h"

namespace Common {
class MessageBox;
}

namespace Batch {

// One line of the links database: the directory's link ID and the page's address. Further fields of
// the line are ignored.
struct LinkRecord final {
    QString id;
    QString url;

    // Splits a line on "|" and keeps exactly the first two fields (missing ones are empty).
    static LinkRecord fromLine(const QString& line);
};

// The range of line numbers a run covers, as validated against the database's count.
struct LinkRange final {
    qint32 StartLink = 1;
    qint32 EndLink = 0;
    // The texts the range boxes show after validation.
    QString fromText;
    QString toText;
    // How many lines the range covers; the denominator of the run's percentage.
    qint32 selectedCount() const;
    // A range must span at least two lines.
    bool isEmpty() const { return StartLink == EndLink; }
};

// The shortest range a run takes. The window asks for two lines at least; the command line takes one,
// which a retry with one link left needs.
enum class RangeMinimum { TwoLines, OneLine };

// Validates the texts of the two range boxes against the number of lines in the database. A box that
// is empty, or holds no number, stands for its end of the database. Pure: shows nothing.
LinkRange validateRange(const QString& fromText, const QString& toText, qint32 count);

// The local links database: one plain text file with one "ID|URL" record per line. Line numbers are
// 1-based and every line counts, empty ones included. There is no index: every operation reads the
// file from its first line.
class LinksDatabase final {
public:
    using StatusSink = std::function<void(const QString&)>;

    explicit LinksDatabase(QString linksInfoFile);

    QString LinksInfoFile() const { return m_file; }
    qint32 TotalLinks() const { return m_totalLinks; }
    qint32 StartLink() const { return m_startLink; }
    qint32 EndLink() const { return m_endLink; }
    void setRange(qint32 startLink, qint32 endLink);

    // Counts the lines and keeps the count in TotalLinks. A missing file gives 0 and leaves TotalLinks
    // as it was; a file that cannot be read gives the reason and leaves TotalLinks as it was.
    Common::Result<qint32> countLinks();
    // The same, with 0 for a file that cannot be read.
    qint32 CountLinks();

    // The checks that open every run: the file must exist, be readable, be non-empty and hold at least
    // one line.
    // Failures are shown through `boxes`; progress texts go to `status`. True when a run may go on.
    bool checkDatabase(Common::MessageBox& boxes, const StatusSink& status);

    // Validates the range boxes' texts (written back through the references), keeps StartLink and
    // EndLink, and refuses a range shorter than `minimum` with a message. The selected count when the run
    // may go on.
    std::optional<qint32> validateRange(QString& fromText, QString& toText, Common::MessageBox& boxes,
        const StatusSink& status, RangeMinimum minimum = RangeMinimum::TwoLines);

private:
    QString m_file;
    qint32 m_totalLinks = 0;
    qint32 m_startLink = 1;
    qint32 m_endLink = 0;
};

// Hands out the records of a range of lines, one per request, for the batch run.
class RangeReader final {
public:
    struct Entry {
        qint32 line = 0;
        LinkRecord record;
    };

    Common::Status open(const QString& path, qint32 startLink, qint32 endLink);
    // The next record of the range, or nothing once the range is exhausted.
    std::optional<Entry> next();
    // True once the file is at its end or the range's last line has been handed out.
    bool isExhausted() const { return m_exhausted; }
    qint32 CurrentLine() const { return m_currentLine; }
    // A read error that ended the range early.
    std::optional<Common::Error> error() const { return m_reader.error(); }
    void close();

private:
    LineReader m_reader;
    qint32 m_endLink = 0;
    qint32 m_currentLine = 0;
    bool m_exhausted = true;
};

} // namespace Batch
