#include "batch/linereader.h"

#include <cstring>

namespace Batch {

namespace {
    constexpr qint64 BlockSize = 64 * 1024;

    Common::Error fileError(const QFile& file)
    {
        return { 0, QStringLiteral("LineReader"), QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()) };
    }
}

Common::Status LineReader::open(const QString& path)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fileError(m_file);
    return Common::success();
}

void LineReader::close()
{
    m_file.close();
    m_buffer.clear();
    m_pos = 0;
    m_eof = false;
    m_error.reset();
}

bool LineReader::fill()
{
    if (m_eof)
        return false;
    m_buffer.remove(0, m_pos);
    m_pos = 0;
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + BlockSize);
    const qint64 got = m_file.read(m_buffer.data() + old, BlockSize);
    if (got < 0) {
        m_error = fileError(m_file);
        m_buffer.resize(old);
        m_eof = true;
        return false;
    }
    m_buffer.resize(old + got);
    if (got == 0)
        m_eof = true;
    return got > 0;
}

bool LineReader::atEnd()
{
    if (!m_file.isOpen())
        return true;
    while (m_pos >= m_buffer.size()) {
        if (!fill())
            return true;
    }
    return false;
}

std::optional<QString> LineReader::readLine()
{
    const std::optional<QByteArray> raw = readRawLine();
    if (!raw)
        return std::nullopt;
    return QString::fromUtf8(*raw);
}

std::optional<QByteArray> LineReader::readRawLine()
{
    QByteArray line;
    if (!advanceLine(&line))
        return std::nullopt;
    return line;
}

qint64 LineReader::skipLines(qint64 count)
{
    qint64 skipped = 0;
    while (skipped < count && advanceLine(nullptr))
        ++skipped;
    return skipped;
}

namespace {
    // The first CR or LF in [begin, begin + length), or length.
    qsizetype findTerminator(const char* begin, qsizetype length)
    {
        const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(length)));
        const qsizetype lfAt = lf ? lf - begin : length;
        const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', static_cast<size_t>(lfAt)));
        return cr ? cr - begin : lfAt;
    }
}

bool LineReader::advanceLine(QByteArray* out)
{
    if (atEnd())
        return false;
    qsizetype scanned = 0; // bytes after m_pos known to hold no terminator
    for (;;) {
        const char* base = m_buffer.constData() + m_pos;
        const qsizetype available = m_buffer.size() - m_pos;
        const qsizetype i = scanned + findTerminator(base + scanned, available - scanned);
        if (i < available) {
            // A CR that ends the block may be the first half of CR LF: look at the next block first.
            if (base[i] == '\r' && i + 1 == available && !m_eof) {
                scanned = i;
                fill();
                continue;
            }
            if (out)
                *out = QByteArray(base, i);
            qsizetype next = i + 1;
            if (base[i] == '\r' && next < available && base[next] == '\n')
                ++next;
            m_pos += next;
            return true;
        }
        scanned = available;
        if (!fill()) {
            if (out)
                *out = QByteArray(m_buffer.constData() + m_pos, m_buffer.size() - m_pos);
            m_pos = m_buffer.size();
            return true;
        }
    }
}

Common::Result<qint64> LineReader::countLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fileError(file);
    // Every LF and every CR ends a line, except the LF of a CR LF pair; a last line without a
    // terminator counts too. memchr keeps this at memory speed for a million-line database.
    QByteArray block(BlockSize, Qt::Uninitialized);
    qint64 terminators = 0;
    char last = '\n';
    bool any = false;
    for (;;) {
        const qint64 got = file.read(block.data(), BlockSize);
        if (got < 0)
            return fileError(file);
        if (got == 0)
            break;
        const char* data = block.constData();
        for (const char* p = data;
             (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(data + got - p)))); ++p) {
            const char before = p == data ? last : p[-1];
            if (before != '\r')
                ++terminators;
        }
        for (const char* p = data;
             (p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(data + got - p)))); ++p)
            ++terminators;
        last = data[got - 1];
        any = true;
    }
    const bool unterminated = any && last != '\n' && last != '\r';
    return terminators + (unterminated ? 1 : 0);
}

} // namespace Batch
