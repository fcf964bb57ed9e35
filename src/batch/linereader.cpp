#include "batch/linereader.h"

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
    if (atEnd())
        return std::nullopt;
    qsizetype scanned = 0; // bytes after m_pos known to hold no terminator
    for (;;) {
        const char* base = m_buffer.constData() + m_pos;
        const qsizetype available = m_buffer.size() - m_pos;
        qsizetype i = scanned;
        while (i < available && base[i] != '\r' && base[i] != '\n')
            ++i;
        if (i < available) {
            // A CR that ends the block may be the first half of CR LF: look at the next block first.
            if (base[i] == '\r' && i + 1 == available && !m_eof) {
                scanned = i;
                fill();
                continue;
            }
            const QByteArray line(base, i);
            qsizetype next = i + 1;
            if (base[i] == '\r' && next < available && base[next] == '\n')
                ++next;
            m_pos += next;
            return line;
        }
        scanned = available;
        if (!fill()) {
            const QByteArray line(m_buffer.constData() + m_pos, m_buffer.size() - m_pos);
            m_pos = m_buffer.size();
            return line;
        }
    }
}

Common::Result<qint64> LineReader::countLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fileError(file);
    QByteArray block(BlockSize, Qt::Uninitialized);
    qint64 lines = 0;
    bool pendingText = false; // bytes seen since the last terminator
    bool lastWasCr = false;
    for (;;) {
        const qint64 got = file.read(block.data(), BlockSize);
        if (got < 0)
            return fileError(file);
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i) {
            const char ch = block.at(i);
            if (ch == '\n') {
                if (!lastWasCr)
                    ++lines;
                lastWasCr = false;
                pendingText = false;
            } else if (ch == '\r') {
                ++lines;
                lastWasCr = true;
                pendingText = false;
            } else {
                lastWasCr = false;
                pendingText = true;
            }
        }
    }
    return pendingText ? lines + 1 : lines;
}

} // namespace Batch
