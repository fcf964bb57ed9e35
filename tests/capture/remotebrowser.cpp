#include "remotebrowser.h"

#include <csignal>

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "capture/browserhost.h"
#include "capturetestsupport.h"

#include <sys/prctl.h>
#include <unistd.h>

namespace CaptureTest {

RemoteBrowser::RemoteBrowser() = default;

RemoteBrowser::~RemoteBrowser()
{
    kill();
    if (m_process)
        m_process->waitForFinished(5000);
}

bool RemoteBrowser::start(quint16 port)
{
    const auto executable = Capture::BrowserHost::findExecutable();
    if (!executable)
        return false;
    m_profile = std::make_unique<QTemporaryDir>();
    QStringList arguments;
    if (executable.value().fullChromium)
        arguments << QStringLiteral("--headless=new");
    if (::geteuid() == 0)
        arguments << QStringLiteral("--no-sandbox");
    arguments << testBrowserOptions().extraArguments << QStringLiteral("--no-first-run")
              << QStringLiteral("--disable-background-networking")
              << QStringLiteral("--remote-debugging-port=%1").arg(port)
              << QStringLiteral("--remote-debugging-address=127.0.0.1")
              << QStringLiteral("--user-data-dir=") + m_profile->path() << QStringLiteral("about:blank");
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(executable.value().path);
    m_process->setArguments(arguments);
    m_process->setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
    });
    m_process->start();
    if (!m_process->waitForStarted(10000))
        return false;
    m_pid = m_process->processId();
    static const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        m_process->waitForReadyRead(100);
        m_stderr.append(m_process->readAllStandardError());
        const QRegularExpressionMatch match = listening.match(QString::fromLocal8Bit(m_stderr));
        if (match.hasMatch()) {
            m_webSocketUrl = QUrl(match.captured(1));
            return m_webSocketUrl.isValid();
        }
    }
    return false;
}

QUrl RemoteBrowser::httpUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_webSocketUrl.host());
    url.setPort(m_webSocketUrl.port());
    return url;
}

qint64 RemoteBrowser::processId() const { return m_pid; }

bool RemoteBrowser::isAlive() const { return m_pid > 0 && !processGroupGone(m_pid); }

void RemoteBrowser::kill()
{
    if (m_pid > 0)
        ::kill(-static_cast<pid_t>(m_pid), SIGKILL);
}

} // namespace CaptureTest
