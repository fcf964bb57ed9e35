#include "cli/interruptwatcher.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace Cli {

namespace {

    int g_pipe[2] = { -1, -1 };

    // Only async-signal-safe work here: one byte, the signal's number, into the pipe read by the event loop.
    void handleSignal(int signalNumber)
    {
        const int saved = errno;
        const char byte = static_cast<char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
        errno = saved;
    }

    void install(void (*handler)(int))
    {
        struct sigaction action { };
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }

} // namespace

InterruptWatcher::InterruptWatcher(int hardLimit, QObject* parent)
    : QObject(parent)
    , m_hardLimit(hardLimit)
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptWatcher::handleReadable);
    install(handleSignal);
}

InterruptWatcher::~InterruptWatcher()
{
    install(SIG_DFL);
    delete m_notifier;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptWatcher::handleReadable()
{
    char bytes[16];
    while (true) {
        const ssize_t got = ::read(g_pipe[0], bytes, sizeof bytes);
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            if (++m_count == 1)
                m_firstSignal = bytes[i];
            if (m_count == m_hardLimit)
                install(SIG_DFL);
            Q_EMIT interrupted(m_count);
        }
    }
}

} // namespace Cli
