#include "batch/linksdatabase.h"

#include <cstdlib>
#include <limits>

#include <QFileInfo>

#include "common/messagebox.h"
#include "common/paths.h"
#include "settings/settingsstore.h"

namespace Batch {

namespace {
    const char* const DatabaseErrorTitle = "Database Error";

    void report(const LinksDatabase::StatusSink& status, const QString& text)
    {
        if (status)
            status(text);
    }

    // The absolute value of a box's number; nothing when the box holds no number.
    std::optional<qint32> boxNumber(const QString& text)
    {
        const std::optional<qint32> number = Settings::toLong(text);
        if (!number || *number == std::numeric_limits<qint32>::min())
            return std::nullopt;
        return std::abs(*number);
    }
}

LinkRecord LinkRecord::fromLine(const QString& line)
{
    const qsizetype first = line.indexOf(QLatin1Char('|'));
    if (first < 0)
        return { line, QString() };
    const qsizetype second = line.indexOf(QLatin1Char('|'), first + 1);
    const qsizetype urlLength = second < 0 ? -1 : second - first - 1;
    return { line.left(first), line.mid(first + 1, urlLength) };
}

qint32 LinkRange::selectedCount() const { return std::abs(EndLink - StartLink) + 1; }

LinkRange validateRange(const QString& fromText, const QString& toText, qint32 count)
{
    LinkRange range;
    const QString from = fromText.trimmed();
    const QString to = toText.trimmed();
    range.StartLink = boxNumber(from).value_or(1);
    range.EndLink = boxNumber(to).value_or(count);
    if (range.StartLink < 1 || range.StartLink > count)
        range.StartLink = 1;
    if (range.EndLink > count)
        range.EndLink = count;
    if (range.EndLink < 1)
        range.EndLink = 1;
    range.fromText = QString::number(range.StartLink);
    range.toText = QString::number(range.EndLink);
    return range;
}

LinksDatabase::LinksDatabase(QString linksInfoFile)
    : m_file(std::move(linksInfoFile))
{
}

void LinksDatabase::setRange(qint32 startLink, qint32 endLink)
{
    m_startLink = startLink;
    m_endLink = endLink;
}

Common::Result<qint32> LinksDatabase::countLinks()
{
    if (!Common::FileExists(m_file))
        return 0;
    const Common::Result<qint64> lines = LineReader::countLines(m_file);
    if (!lines)
        return lines.error();
    m_totalLinks = static_cast<qint32>(std::min<qint64>(lines.value(), std::numeric_limits<qint32>::max()));
    return m_totalLinks;
}

qint32 LinksDatabase::CountLinks()
{
    const Common::Result<qint32> counted = countLinks();
    return counted ? counted.value() : 0;
}

bool LinksDatabase::checkDatabase(Common::MessageBox& boxes, const StatusSink& status)
{
    using Common::MessageBox;
    const QString title = QString::fromLatin1(DatabaseErrorTitle);
    const QString emptyText
        = QStringLiteral("LinksInfoFile links database file is empty!. Please import your links first.");
    if (!Common::FileExists(m_file)) {
        boxes.inform(
            QStringLiteral("LinksInfoFile links database file does not exist!"), title, MessageBox::Icon::Critical);
        return false;
    }
    if (QFileInfo(m_file.trimmed()).size() == 0) {
        boxes.inform(emptyText, title, MessageBox::Icon::Critical);
        return false;
    }
    report(status, QStringLiteral("Calculating the total links in the local database"));
    const Common::Result<qint32> counted = countLinks();
    // A database that cannot be read is not empty: saying so would invite an import over it.
    if (!counted) {
        const QString text = QStringLiteral("Error: ") + counted.error().message;
        boxes.inform(text, title, MessageBox::Icon::Critical);
        report(status, text);
        return false;
    }
    const qint32 count = counted.value();
    if (count == 0) {
        boxes.inform(emptyText, title, MessageBox::Icon::Critical);
        report(status, QStringLiteral("Emtpy database"));
        return false;
    }
    report(status, QStringLiteral("Total database links: ") + QString::number(count));
    return true;
}

std::optional<qint32> LinksDatabase::validateRange(
    QString& fromText, QString& toText, Common::MessageBox& boxes, const StatusSink& status, RangeMinimum minimum)
{
    const LinkRange range = Batch::validateRange(fromText, toText, m_totalLinks);
    fromText = range.fromText;
    toText = range.toText;
    m_startLink = range.StartLink;
    m_endLink = range.EndLink;
    if (range.isEmpty() && minimum == RangeMinimum::TwoLines) {
        boxes.inform(QStringLiteral("No range selected!. Please import your links and select a range."),
            QString::fromLatin1(DatabaseErrorTitle), Common::MessageBox::Icon::Critical);
        report(status, QStringLiteral("Emtpy range selected"));
        return std::nullopt;
    }
    return range.selectedCount();
}

Common::Status RangeReader::open(const QString& path, qint32 startLink, qint32 endLink)
{
    close();
    if (Common::Status opened = m_reader.open(path); !opened)
        return opened;
    m_endLink = endLink;
    m_currentLine = 0;
    m_exhausted = false;
    if (startLink > 1)
        m_currentLine = static_cast<qint32>(m_reader.skipLines(startLink - 1));
    return Common::success();
}

std::optional<RangeReader::Entry> RangeReader::next()
{
    if (m_exhausted)
        return std::nullopt;
    std::optional<QString> line = m_reader.readLine();
    if (!line) {
        m_exhausted = true;
        return std::nullopt;
    }
    ++m_currentLine;
    if (m_currentLine > m_endLink) {
        m_exhausted = true;
        return std::nullopt;
    }
    // Knowing now that nothing follows spares the run one more request.
    if (m_reader.atEnd() || m_currentLine >= m_endLink)
        m_exhausted = true;
    return Entry { m_currentLine, LinkRecord::fromLine(*line) };
}

void RangeReader::close()
{
    m_reader.close();
    m_exhausted = true;
}

} // namespace Batch
