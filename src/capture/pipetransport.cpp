#include "capture/pipetransport.h"

#include <cerrno>
#include <csignal>

#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace Capture {

namespace {

    constexpr qsizetype kReadChunk = 256 * 1024;

    void makeNonBlocking(int fd)
    {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }

} // namespace

PipeTransport::PipeTransport(int readFd, int writeFd, QObject* parent)
    : DevToolsTransport(parent)
    , m_readFd(readFd)
    , m_writeFd(writeFd)
{
    // A browser that dies while we write would otherwise kill the whole program with SIGPIPE;
    // with the signal ignored the write fails with EPIPE and the channel closes instead.
    std::signal(SIGPIPE, SIG_IGN);

    makeNonBlocking(m_readFd);
    makeNonBlocking(m_writeFd);
    m_readNotifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PipeTransport::handleReadable);
    m_writeNotifier = new QSocketNotifier(m_writeFd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PipeTransport::handleWritable);
}

PipeTransport::~PipeTransport() { close(); }

bool PipeTransport::isOpen() const { return m_readFd >= 0; }

void PipeTransport::close()
{
    if (m_readFd < 0)
        return;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ::close(m_readFd);
    ::close(m_writeFd);
    m_readFd = -1;
    m_writeFd = -1;
    m_input.clear();
    m_output.clear();
    m_outputSent = 0;
}

void PipeTransport::closeFromPeer()
{
    if (!isOpen())
        return;
    close();
    Q_EMIT closed();
}

void PipeTransport::sendMessage(const QByteArray& message)
{
    if (!isOpen())
        return;
    m_output.append(message);
    m_output.append('\0');
    if (!m_writeNotifier->isEnabled())
        flushOutput();
}

void PipeTransport::handleWritable() { flushOutput(); }

void PipeTransport::flushOutput()
{
    while (isOpen() && m_outputSent < m_output.size()) {
        const ssize_t n = ::write(
            m_writeFd, m_output.constData() + m_outputSent, static_cast<size_t>(m_output.size() - m_outputSent));
        if (n > 0) {
            m_outputSent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        closeFromPeer();
        return;
    }
    if (!isOpen())
        return;
    m_output.clear();
    m_outputSent = 0;
    m_writeNotifier->setEnabled(false);
}

void PipeTransport::handleReadable()
{
    bool endOfFile = false;
    for (;;) {
        const qsizetype oldSize = m_input.size();
        m_input.resize(oldSize + kReadChunk);
        const ssize_t n = ::read(m_readFd, m_input.data() + oldSize, static_cast<size_t>(kReadChunk));
        m_input.resize(oldSize + std::max<ssize_t>(n, 0));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            endOfFile = true;
        break;
    }

    // A handler may delete this transport (the host drops a dead browser), so guard every emission.
    QPointer<PipeTransport> self(this);
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_input.indexOf('\0', std::max(m_scanFrom, start));
        if (end < 0)
            break;
        const QByteArray message = m_input.mid(start, end - start);
        start = end + 1;
        m_scanFrom = start;
        Q_EMIT messageReceived(message);
        if (!self || !isOpen())
            return;
    }
    if (start > 0) {
        m_input.remove(0, start);
        m_scanFrom = 0;
    }
    m_scanFrom = m_input.size();
    if (endOfFile)
        closeFromPeer();
}

} // namespace Capture
