// Feeds arbitrary files to the links database's readers: the line counter, the line reader, the range
// reader and the record split must agree with one another and with a plain split of the same bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include "batch/linereader.h"
#include "batch/linksdatabase.h"
#include "fuzzsupport.h"

namespace {

// The reader's block size: faults hide where a line, or a CR LF pair, straddles two blocks.
constexpr qsizetype Block = 64 * 1024;

// Lines end at CR LF, a lone CR or a lone LF; a last line without a terminator is a line. The reference is
// not what is being fuzzed: it is kept out of the coverage feedback, which also spares a callback per byte.
__attribute__((no_sanitize("coverage"))) QList<QByteArray> splitLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));
    return lines;
}

// Filler before the fuzzed bytes so that they fall across the first block boundary: lines of a thousand
// bytes, then a few short ones so that the boundary may also split a CR LF pair or a record. (One line of
// 64 KiB would be as good a test, but its copies as text are costly under the sanitizer.)
QByteArray padding(FuzzedDataProvider& input)
{
    const auto shape = input.ConsumeIntegral<uint8_t>();
    if ((shape & 0x80) == 0)
        return {};
    static const char* const patterns[] = { "x", "\n", "\r\n", "\r", "7|http://a.example/\r\n" };
    static const QByteArray longLine = QByteArray(1000, 'x') + '\n';
    const QByteArray pattern(patterns[(shape >> 4) % 5]);
    const qsizetype length = Block - (shape & 0x0f) * 3;
    QByteArray filler;
    filler.reserve(length);
    while (filler.size() + longLine.size() <= length - 48)
        filler += longLine;
    while (filler.size() < length)
        filler += pattern;
    filler.truncate(length);
    return filler;
}

void checkRecord(const QString& line)
{
    const Batch::LinkRecord record = Batch::LinkRecord::fromLine(line);
    if (!line.contains(QLatin1Char('|'))) {
        FUZZ_CHECK(record.id == line && record.url.isEmpty());
        return;
    }
    FUZZ_CHECK(!record.id.contains(QLatin1Char('|')) && !record.url.contains(QLatin1Char('|')));
    FUZZ_CHECK(line.startsWith(record.id + QLatin1Char('|') + record.url));
}

void checkRange(const QString& path, const QList<QByteArray>& lines, qint32 startLink, qint32 endLink)
{
    Batch::RangeReader range;
    FUZZ_CHECK(bool(range.open(path, startLink, endLink)));
    qint32 expected = std::max(startLink, 1);
    while (std::optional<Batch::RangeReader::Entry> entry = range.next()) {
        FUZZ_CHECK(entry->line == expected && expected <= endLink && expected <= lines.size());
        const Batch::LinkRecord record = Batch::LinkRecord::fromLine(QString::fromUtf8(lines[expected - 1]));
        FUZZ_CHECK(entry->record.id == record.id && entry->record.url == record.url);
        ++expected;
    }
    FUZZ_CHECK(range.isExhausted());
    // Every line of the range was handed out, none beyond it.
    FUZZ_CHECK(expected == std::max(std::min<qint64>(endLink, lines.size()) + 1, qint64(std::max(startLink, 1))));
    FUZZ_CHECK(!range.next());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray filler = padding(input);
    const auto skip = input.ConsumeIntegral<uint16_t>();
    const auto startLink = input.ConsumeIntegralInRange<qint32>(-2, 40);
    const auto endLink = input.ConsumeIntegralInRange<qint32>(-2, 40);
    const std::vector<char> rest = input.ConsumeRemainingBytes<char>();
    const QByteArray bytes = filler + QByteArray(rest.data(), qsizetype(rest.size()));

    static const QString path = FuzzSupport::scratchFolder() + QStringLiteral("/LinksInfo.txt");
    FuzzSupport::writeFile(path, bytes);
    const QList<QByteArray> lines = splitLines(bytes);

    const Common::Result<qint64> counted = Batch::LineReader::countLines(path);
    FUZZ_CHECK(counted && counted.value() == lines.size());
    Batch::LinksDatabase database(path);
    FUZZ_CHECK(database.CountLinks() == lines.size());

    Batch::LineReader reader;
    FUZZ_CHECK(bool(reader.open(path)));
    for (const QByteArray& expected : lines) {
        FUZZ_CHECK(!reader.atEnd());
        const std::optional<QByteArray> raw = reader.readRawLine();
        FUZZ_CHECK(raw && *raw == expected);
    }
    FUZZ_CHECK(reader.atEnd() && !reader.readRawLine() && !reader.readLine() && !reader.error());

    // Skipping lands where reading line by line would, decoded lines are the stored bytes as UTF-8.
    FUZZ_CHECK(bool(reader.open(path)));
    const qint64 skipped = reader.skipLines(skip);
    FUZZ_CHECK(skipped == std::min<qint64>(skip, lines.size()));
    for (qsizetype i = skipped; i < lines.size(); ++i) {
        const std::optional<QString> line = reader.readLine();
        FUZZ_CHECK(line && *line == QString::fromUtf8(lines[i]));
        checkRecord(*line);
    }
    FUZZ_CHECK(!reader.readLine());

    checkRange(path, lines, startLink, endLink);

    // The range boxes of the main window hold whatever the user typed; the first lines stand in for them.
    const qint32 count = database.TotalLinks();
    const Batch::LinkRange range
        = Batch::validateRange(QString::fromUtf8(lines.value(0)), QString::fromUtf8(lines.value(1)), count);
    const qint32 last = std::max(count, 1);
    FUZZ_CHECK(range.StartLink >= 1 && range.StartLink <= last && range.EndLink >= 1 && range.EndLink <= last);
    FUZZ_CHECK(range.selectedCount() >= 1 && range.selectedCount() <= last);
    FUZZ_CHECK(range.fromText == QString::number(range.StartLink) && range.toText == QString::number(range.EndLink));
    return 0;
}
