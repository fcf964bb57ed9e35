#include "capture/browserhost.h"

#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include "capture/debuggerurllookup.h"
#include "capture/devtoolsconnection.h"
#include "capture/pipetransport.h"
#include "capture/retiredbrowsers.h"
#include "capture/websockettransport.h"
#include "common/programfolders.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace Capture {

namespace {

    const QString kSource = QStringLiteral("BrowserHost");
    const QString kHeadlessShell = QStringLiteral("/usr/lib/chromium/chromium-headless-shell");
    const QString kChromium = QStringLiteral("/usr/lib/chromium/chromium");
    constexpr qsizetype kStderrTailBytes = 8192;
    constexpr int kBrowserNiceness = 10;

    QStringList standardArguments()
    {
        // Chosen so the browser makes no background connections, writes nothing outside its
        // profile and shows no scrollbars in captures.
        return {
            QStringLiteral("--no-first-run"),
            QStringLiteral("--no-default-browser-check"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--disable-default-apps"),
            QStringLiteral("--disable-extensions"),
            QStringLiteral("--disable-quic"),
            QStringLiteral("--disable-breakpad"),
            QStringLiteral("--disable-domain-reliability"),
            QStringLiteral("--metrics-recording-only"),
            QStringLiteral("--password-store=basic"),
            QStringLiteral("--mute-audio"),
            QStringLiteral("--hide-scrollbars"),
            // The compositor's frames stay in the browser process instead of passing to a GPU
            // process and back: about 5 % less processor time per page, the same pixels.
            QStringLiteral("--in-process-gpu"),
            // Shaders compiled for a page's drawing would be written to the profile, which is thrown
            // away with the browser anyway.
            QStringLiteral("--disable-gpu-shader-disk-cache"),
            // The network service on a thread of the browser instead of a process of its own: every
            // request and response crosses one process boundary less, about 6 % less processor time
            // a page. Each browser context keeps its own cookies and cache all the same.
            QStringLiteral("--enable-features=NetworkServiceInProcess2"),
            // Large images decoded as the frame that shows them is drawn, not left out of it and drawn
            // in a later frame of their own: a loading page draws fewer frames (1 to 4 % less
            // processor time a page over three alternated runs).
            QStringLiteral("--disable-checker-imaging"),
            // A page's scripts get at most 1 GB of heap: one that fills memory on purpose is ended by
            // its renderer running out at 1 GB (1.7 s) instead of 4 (15 s here), and fails the same way.
            QStringLiteral("--js-flags=--max-old-space-size=1024"),
            QStringLiteral("--disable-features=Translate,OptimizationHints,MediaRouter,DialMediaRouteProvider,"
                           "CertificateTransparencyComponentUpdater"),
        };
    }

    bool isExecutableFile(const QString& path)
    {
        const QFileInfo info(path);
        return info.isFile() && info.isExecutable();
    }

} // namespace

BrowserHost::BrowserHost(BrowserOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_retired(new RetiredBrowsers(this))
{
    if (m_options.profileRoot.isEmpty())
        m_options.profileRoot = QDir::tempPath();
}

BrowserHost::~BrowserHost()
{
    m_waiters.clear();
    if (m_connection) {
        disconnect(m_connection, nullptr, this, nullptr);
        m_connection->close();
    }
    killProcess();
    m_retired->closeAll();
    // Nothing may outlive the host, and no event loop will run for it again: wait here, briefly, for
    // the browsers that are exiting, and kill what is left.
    const auto children = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (QProcess* process : children) {
        if (process->state() == QProcess::NotRunning)
            continue;
        const auto group = static_cast<pid_t>(process->property(RetiredBrowsers::groupProperty).toLongLong());
        if (!process->waitForFinished(static_cast<int>(RetiredBrowsers::exitGrace.count())) && group > 0)
            ::kill(-group, SIGKILL);
        if (process->state() != QProcess::NotRunning)
            process->waitForFinished(3000);
    }
}

Common::Result<BrowserHost::Executable> BrowserHost::findExecutable(
    const QString& preferred, const QStringList& candidates)
{
    const auto isFullChromium
        = [](const QString& path) { return QFileInfo(path).fileName() == QLatin1String("chromium"); };
    if (!preferred.isEmpty()) {
        if (!isExecutableFile(preferred))
            return Common::Error { 0, kSource, QStringLiteral("The browser %1 cannot be run").arg(preferred) };
        return Executable { preferred, isFullChromium(preferred) };
    }
    // The binaries themselves, never the /usr/bin wrappers: the shell's wrapper does not exec, so its
    // process id would not be the browser's and killing it would orphan the browser.
    const QStringList paths = candidates.isEmpty() ? QStringList { kHeadlessShell, kChromium } : candidates;
    for (const QString& path : paths) {
        if (isExecutableFile(path))
            return Executable { path, isFullChromium(path) };
    }
    return Common::Error { 0, kSource,
        QStringLiteral("No headless browser is installed: install the Debian package chromium-headless-shell "
                       "(looked for %1)")
            .arg(paths.join(QStringLiteral(", "))) };
}

void BrowserHost::removeStaleProfiles(const QString& root, const QString& prefix)
{
    const QDir dir(root);
    const auto entries
        = dir.entryInfoList({ prefix + QStringLiteral("-*") }, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        const QStringList parts = entry.fileName().mid(prefix.size() + 1).split(QLatin1Char('-'));
        bool numeric = false;
        const qint64 pid = parts.value(0).toLongLong(&numeric);
        if (!numeric || pid <= 0 || pid == QCoreApplication::applicationPid())
            continue;
        if (QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            continue;
        QDir(entry.absoluteFilePath()).removeRecursively();
    }
}

bool BrowserHost::isRemote() const { return !m_options.endpoint.isEmpty(); }

QString BrowserHost::browserName() const
{
    return isRemote() ? QStringLiteral("the browser at ") + m_options.endpoint.toString(QUrl::RemoveUserInfo)
                      : QStringLiteral("the browser");
}

bool BrowserHost::isRunning() const { return m_ready && m_connection && m_connection->isOpen(); }

qint64 BrowserHost::processId() const { return m_process ? m_pid : 0; }

QByteArray BrowserHost::stderrTail() const { return m_stderrTail; }

int BrowserHost::startCount() const { return m_startCount; }

std::chrono::milliseconds BrowserHost::callTimeout() const { return m_options.callTimeout; }

QString BrowserHost::shippedFilesFolder() const
{
    return m_options.shippedFiles.isEmpty() ? Common::programFolders().resources : m_options.shippedFiles;
}

void BrowserHost::noteCaptureSucceeded() { m_crashRun = 0; }

void BrowserHost::noteBrowserUnresponsive(const DevToolsConnection* connection)
{
    if (connection && connection == m_connection)
        stopBrowser(QStringLiteral("The browser stopped answering"));
    else
        m_retired->giveUp(connection);
}

void BrowserHost::noteRendererCrashed()
{
    ++m_crashRun;
    if (m_crashRun >= m_options.crashRunLimit) {
        m_crashRun = 0;
        stopBrowser(
            QStringLiteral("Restarting the browser after %1 renderer crashes in a row").arg(m_options.crashRunLimit));
    }
}

void BrowserHost::shutdown() { stopBrowser(QStringLiteral("The browser was shut down")); }

void BrowserHost::whenReady(QObject* context, ReadyCallback callback)
{
    Waiter waiter { context, context != nullptr, std::move(callback) };
    if (isRunning()) {
        QPointer<DevToolsConnection> connection(m_connection);
        QTimer::singleShot(0, this, [waiter = std::move(waiter), connection] {
            if (waiter.hasContext && !waiter.context)
                return;
            if (connection && connection->isOpen())
                waiter.callback(connection.data());
            else
                waiter.callback(Common::Error { 0, kSource, QStringLiteral("The browser is gone") });
        });
        return;
    }
    m_waiters.append(std::move(waiter));
    if (!m_starting)
        start();
}

void BrowserHost::start()
{
    m_starting = true;
    m_ready = false;
    if (isRemote()) {
        connectRemote();
        return;
    }
    const auto fail = [this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] { handleReady(Common::Error { 0, kSource, message }); });
    };

    const auto executable = findExecutable(m_options.executable);
    if (!executable) {
        fail(executable.error().message);
        return;
    }
    if (m_startCount == 0)
        removeStaleProfiles(m_options.profileRoot, m_options.profilePrefix);
    m_profile = std::make_unique<QTemporaryDir>(m_options.profileRoot + QLatin1Char('/') + m_options.profilePrefix
        + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid()) + QStringLiteral("-XXXXXX"));
    if (!m_profile->isValid()) {
        fail(QStringLiteral("Cannot create the browser's temporary profile: %1").arg(m_profile->errorString()));
        return;
    }

    int toBrowser[2];
    int fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0) {
        fail(QStringLiteral("Cannot create the pipe to the browser"));
        return;
    }
    if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
        ::close(toBrowser[0]);
        ::close(toBrowser[1]);
        fail(QStringLiteral("Cannot create the pipe from the browser"));
        return;
    }

    QStringList arguments;
    if (executable.value().fullChromium)
        arguments << QStringLiteral("--headless=new");
    // Chromium refuses to start as root with its sandbox on; for everyone else it stays on.
    if (::geteuid() == 0)
        arguments << QStringLiteral("--no-sandbox");
    arguments << standardArguments() << m_options.extraArguments
              << QStringLiteral("--user-data-dir=") + m_profile->path() << QStringLiteral("--remote-debugging-pipe")
              << QStringLiteral("about:blank");

    m_process = new QProcess(this);
    m_process->setProgram(executable.value().path);
    m_process->setArguments(arguments);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardError, this, &BrowserHost::readStandardError);
    connect(m_process, &QProcess::finished, this, &BrowserHost::handleProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            handleProcessFinished();
    });

    const pid_t parentPid = ::getpid();
    const int childIn = toBrowser[0];
    const int childOut = fromBrowser[1];
    m_process->setChildProcessModifier([parentPid, childIn, childOut] {
        // Runs between fork and exec: async-signal-safe calls only.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parentPid)
            ::_exit(127);
        // Its own process group, so the browser and every helper it forks can be killed at once.
        ::setpgid(0, 0);
        // Below the program's own priority, as are the renderers it forks: with every core busy
        // rendering pages, the window (and the run's own event loop) still gets its turn at once.
        // (Run as root, the browser raises a few of its own display threads again.)
        (void)::nice(kBrowserNiceness);
        // Move both ends above 3 and 4 first: dup2 onto an fd that is already 3 or 4 would keep
        // FD_CLOEXEC set and the browser would start without its pipe.
        const int in = ::fcntl(childIn, F_DUPFD, 10);
        const int out = ::fcntl(childOut, F_DUPFD, 10);
        if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0)
            ::_exit(127);
    });
    m_process->start();
    // The child holds its own copies now; without closing ours, the browser's death would never
    // show as end of file.
    ::close(childIn);
    ::close(childOut);
    m_pid = m_process->processId();
    ++m_startCount;

    attachConnection(new PipeTransport(fromBrowser[0], toBrowser[1]));
}

void BrowserHost::retryStart(const QString& reason)
{
    // Never while stopping or with nobody waiting: shutdown() and the destructor start nothing.
    m_retrying = true;
    m_starting = false;
    stopBrowser(QStringLiteral("The browser did not start (%1); starting it once more").arg(reason));
    start();
}

void BrowserHost::connectRemote()
{
    const QString scheme = m_options.endpoint.scheme().toLower();
    if (scheme == QLatin1String("ws") || scheme == QLatin1String("wss")) {
        attachConnection(new WebSocketTransport(m_options.endpoint));
        return;
    }
    m_lookup = new DebuggerUrlLookup(m_options.endpoint, m_options.startTimeout, this);
    connect(m_lookup, &DebuggerUrlLookup::done, this, [this](const Common::Result<QUrl>& address) {
        std::exchange(m_lookup, nullptr)->deleteLater();
        if (address)
            attachConnection(new WebSocketTransport(address.value()));
        else
            handleReady(Common::Error {
                0, kSource, QStringLiteral("Cannot reach %1: %2").arg(browserName(), address.error().message) });
    });
}

void BrowserHost::attachConnection(DevToolsTransport* transport)
{
    m_connection = new DevToolsConnection(transport, this);
    connect(m_connection, &DevToolsConnection::closed, this, &BrowserHost::handleConnectionClosed);
    connect(m_connection, &DevToolsConnection::browserEvent, this,
        [this](const QString& method, const QJsonObject&) { handleBrowserEvent(method); });

    m_connection->post({}, QStringLiteral("Target.setDiscoverTargets"), { { QStringLiteral("discover"), true } });
    // A remote browser's own settings are its owner's business; captures run in contexts of their own.
    if (!isRemote())
        m_connection->post({}, QStringLiteral("Browser.setDownloadBehavior"),
            { { QStringLiteral("behavior"), QStringLiteral("deny") } });
    QPointer<DevToolsConnection> connection(m_connection);
    QPointer<WebSocketTransport> socket(qobject_cast<WebSocketTransport*>(transport));
    const std::chrono::milliseconds deadline = m_retrying ? m_options.retryStartTimeout : m_options.startTimeout;
    m_connection->call({}, QStringLiteral("Browser.getVersion"), {}, deadline, this,
        [this, connection, socket](const DevToolsConnection::Reply& reply) {
            if (reply && connection)
                handleReady(connection.data());
            else if (!isRemote() && !m_retrying && !m_stopping && !m_waiters.isEmpty())
                retryStart(reply ? QStringLiteral("its connection closed") : reply.error().message);
            else if (isRemote())
                handleReady(Common::Error { 0, kSource,
                    QStringLiteral("Cannot reach %1: %2")
                        .arg(browserName(),
                            socket && !socket->errorString().isEmpty() ? socket->errorString()
                                                                       : reply.error().message) });
            else
                handleReady(Common::Error { 0, kSource,
                    QStringLiteral("The browser did not start: %1 %2")
                        .arg(reply ? QString() : reply.error().message,
                            QString::fromLocal8Bit(m_stderrTail.right(400)).trimmed()) });
        });
}

void BrowserHost::handleReady(const Common::Result<DevToolsConnection*>& result)
{
    m_starting = false;
    m_retrying = false;
    m_ready = result.ok();
    if (m_ready)
        Q_EMIT browserStarted();
    else
        stopBrowser(result.error().message);

    const QList<Waiter> waiters = std::exchange(m_waiters, {});
    QPointer<BrowserHost> self(this);
    for (const Waiter& waiter : waiters) {
        if (!self)
            return;
        if (waiter.hasContext && !waiter.context)
            continue;
        waiter.callback(result);
    }
}

void BrowserHost::handleConnectionClosed()
{
    stopBrowser(isRemote() ? QStringLiteral("The connection to %1 was lost").arg(browserName())
                           : QStringLiteral("The browser closed its DevTools pipe"));
}

void BrowserHost::handleProcessFinished()
{
    if (m_connection && m_connection->isOpen()) {
        // Fails every call in flight; handleConnectionClosed() then stops the rest.
        m_connection->close();
        return;
    }
    stopBrowser(QStringLiteral("The browser exited"));
}

void BrowserHost::handleBrowserEvent(const QString& method)
{
    if (method == QLatin1String("Target.targetCrashed"))
        noteRendererCrashed();
}

void BrowserHost::readStandardError()
{
    if (!m_process)
        return;
    m_stderrTail.append(m_process->readAllStandardError());
    if (m_stderrTail.size() > kStderrTailBytes)
        m_stderrTail.remove(0, m_stderrTail.size() - kStderrTailBytes);
}

void BrowserHost::stopBrowser(const QString& reason)
{
    if (m_stopping || (!m_process && !m_connection && !m_lookup))
        return;
    m_stopping = true;
    const bool wasStarting = m_starting;
    m_ready = false;
    m_starting = false;
    if (m_lookup)
        delete std::exchange(m_lookup, nullptr);
    if (m_connection) {
        DevToolsConnection* connection = std::exchange(m_connection, nullptr);
        disconnect(connection, nullptr, this, nullptr);
        // Other engines may still be inside the closed() emission: delete it later.
        connection->close();
        connection->deleteLater();
    }
    killProcess();
    m_users.clear();
    m_pagesOpened = 0;
    m_stopping = false;
    Q_EMIT browserLost(reason);
    if (wasStarting && !m_waiters.isEmpty())
        handleReady(Common::Error { 0, kSource, reason });
}

void BrowserHost::killProcess()
{
    if (!m_process)
        return;
    QProcess* process = std::exchange(m_process, nullptr);
    disconnect(process, nullptr, this, nullptr);
    RetiredBrowsers::endProcess(process, std::exchange(m_pid, 0), std::shared_ptr<QTemporaryDir>(m_profile.release()));
}

void BrowserHost::beginUse(QObject* user, DevToolsConnection* connection)
{
    if (!user || !connection)
        return;
    if (connection != m_connection) {
        // Handed out just before its browser was replaced.
        m_retired->addUser(connection, user);
        return;
    }
    m_users.removeIf([](const QPointer<QObject>& u) { return u.isNull(); });
    if (!m_users.contains(user))
        m_users.append(user);
    ++m_pagesOpened;
    if (!isRemote() && m_options.recyclePages > 0 && m_pagesOpened >= m_options.recyclePages)
        retireBrowser();
}

void BrowserHost::endUse(QObject* user)
{
    m_users.removeIf([user](const QPointer<QObject>& u) { return u.isNull() || u.data() == user; });
    m_retired->endUse(user);
}

void BrowserHost::retireBrowser()
{
    // The browser goes on serving the captures that use it; the next whenReady() starts another.
    DevToolsConnection* connection = std::exchange(m_connection, nullptr);
    disconnect(connection, nullptr, this, nullptr);
    QProcess* process = std::exchange(m_process, nullptr);
    if (process)
        disconnect(process, nullptr, this, nullptr);
    m_ready = false;
    m_pagesOpened = 0;
    m_retired->retire(connection, process, std::exchange(m_pid, 0), std::shared_ptr<QTemporaryDir>(m_profile.release()),
        std::exchange(m_users, {}));
}

} // namespace Capture
