#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "common/result.h"

class QTemporaryDir;

namespace Capture {

class DebuggerUrlLookup;
class DevToolsConnection;
class DevToolsTransport;
class RetiredBrowsers;

// How the host finds and starts its browser.
struct BrowserOptions {
    // Empty: the headless shell, or full Chromium in its new headless mode when only that is installed.
    QString executable;
    // Added after the standard flags (tests add --host-resolver-rules here).
    QStringList extraArguments;
    // Temporary profiles are named <temp>/<profilePrefix>-<pid>-XXXXXX.
    QString profilePrefix = QStringLiteral("pictavo-browser");
    // Folder for the temporary profiles; empty means the system's temporary folder.
    QString profileRoot;
    // Renderer crashes in a row, without a capture succeeding in between, after which the browser is
    // restarted.
    int crashRunLimit = 5;
    // Pages a local browser opens before a fresh one takes the next captures; the old one closes once
    // its captures in flight have ended. The browser's own process keeps a little of every page it
    // ever showed, so a run of a hundred thousand links would otherwise grow it by tens of megabytes.
    // 0: never.
    int recyclePages = 5000;
    std::chrono::milliseconds startTimeout { 30000 };
    // A local browser that misses startTimeout, or dies while starting, is started once more with
    // this deadline before the start counts as failed: a machine under load can be that slow once.
    std::chrono::milliseconds retryStartTimeout { 60000 };
    // How long the browser may take over a call that does not depend on a page (opening and closing
    // contexts and pages); a browser that misses it is taken for hung and restarted.
    std::chrono::milliseconds callTimeout { 15000 };
    // A browser on another machine to use instead of starting one: its DevTools WebSocket (ws://,
    // wss://) or the http(s)://host:port whose /json/version names it. Empty: start the local browser.
    // A remote browser is only connected to, never started or killed; a lost connection counts as
    // the browser's loss and the next whenReady() connects again.
    QUrl endpoint;
    // Where the program's shipped files are (the consent rules in autoconsent/), ending in "/".
    // Empty: Common::programFolders().resources.
    QString shippedFiles;
};

// The one headless browser of the program, shared by every capture engine. Started on first use,
// over the DevTools pipe; restarted on the next use after it died or after a run of renderer
// crashes. The browser never outlives this object or the program: it gets SIGKILL when its parent
// dies, sees end of file on its pipe, and is killed with its whole process group on destruction.
// Create one in the composition root and pass it to the engines. GUI thread only.
class BrowserHost final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserHost)

public:
    using ReadyCallback = std::function<void(const Common::Result<DevToolsConnection*>&)>;

    explicit BrowserHost(BrowserOptions options = {}, QObject* parent = nullptr);
    ~BrowserHost() override;

    // Runs callback from the event loop with the connection once the browser answers, starting it
    // when needed, or with the reason it could not start. Dropped when context is destroyed first.
    void whenReady(QObject* context, ReadyCallback callback);

    bool isRunning() const;
    // Whether this host reaches a remote browser (BrowserOptions::endpoint) rather than running one.
    bool isRemote() const;
    // The browser's process id, 0 when it is not running.
    qint64 processId() const;
    // The last lines the browser wrote to stderr, for error reports.
    QByteArray stderrTail() const;
    // How many times a browser process was started.
    int startCount() const;

    std::chrono::milliseconds callTimeout() const;
    // BrowserOptions::shippedFiles, or the program's own when that is empty.
    QString shippedFilesFolder() const;

    // Engines report how their captures ended, so the host can spot a browser that only crashes.
    void noteCaptureSucceeded();
    // An engine saw the browser behind connection miss callTimeout() on a call it always answers. The
    // current browser is restarted; a replaced one is closed, failing the captures still on it, and the
    // current one is left alone. A connection whose browser is already gone changes nothing.
    void noteBrowserUnresponsive(const DevToolsConnection* connection);
    void noteRendererCrashed();

    // A capture begins and ends its use of connection, a connection whenReady() gave it: the host counts
    // pages against recyclePages and keeps a replaced browser open while a capture still uses it.
    void beginUse(QObject* user, DevToolsConnection* connection);
    void endUse(QObject* user);

    // Closes the browser now; captures in flight end as failed. The next whenReady() starts a new one.
    void shutdown();

    // The browser binary to run and whether it needs --headless=new, or why none can be used.
    struct Executable {
        QString path;
        bool fullChromium = false;
    };
    // candidates replaces the standard install locations (a test seam).
    static Common::Result<Executable> findExecutable(const QString& preferred = {}, const QStringList& candidates = {});
    // Deletes the temporary profiles of this program's runs that are no longer alive.
    static void removeStaleProfiles(const QString& root, const QString& prefix);

Q_SIGNALS:
    void browserStarted();
    void browserLost(const QString& reason);

private:
    struct Waiter {
        QPointer<QObject> context;
        bool hasContext = false;
        ReadyCallback callback;
    };

    void start();
    void retryStart(const QString& reason);
    void connectRemote();
    void attachConnection(DevToolsTransport* transport);
    QString browserName() const;
    void handleReady(const Common::Result<DevToolsConnection*>& result);
    void handleConnectionClosed();
    void handleProcessFinished();
    void handleBrowserEvent(const QString& method);
    void readStandardError();
    void stopBrowser(const QString& reason);
    void killProcess();
    void retireBrowser();

    BrowserOptions m_options;
    QProcess* m_process = nullptr;
    DevToolsConnection* m_connection = nullptr;
    DebuggerUrlLookup* m_lookup = nullptr;
    std::unique_ptr<QTemporaryDir> m_profile;
    QList<Waiter> m_waiters;
    QByteArray m_stderrTail;
    bool m_ready = false;
    bool m_starting = false;
    // The current start is the second try.
    bool m_retrying = false;
    bool m_stopping = false;
    int m_crashRun = 0;
    int m_startCount = 0;
    qint64 m_pid = 0;
    // Captures using the current browser, and the pages it has opened.
    QList<QPointer<QObject>> m_users;
    int m_pagesOpened = 0;
    RetiredBrowsers* m_retired = nullptr;
};

} // namespace Capture
