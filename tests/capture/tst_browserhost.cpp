#include <csignal>
#include <cstdio>

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "capture/browserhost.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"
#include "capturetestsupport.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;
using namespace std::chrono_literals;

namespace {

const char* const kHoldBrowser = "--hold-browser";
const char* const kStartAndExit = "--start-browser-and-exit";

// Child mode: start a browser, print its process id, then wait to be killed or exit normally.
int runChild(int argc, char* argv[], bool exitWhenReady)
{
    QCoreApplication app(argc, argv);
    BrowserHost host(testBrowserOptions());
    host.whenReady(&app, [&host, exitWhenReady](const Common::Result<DevToolsConnection*>& connection) {
        std::printf("%lld\n", connection ? static_cast<long long>(host.processId()) : -1LL);
        std::fflush(stdout);
        if (exitWhenReady)
            QCoreApplication::exit(0);
    });
    return app.exec();
}

} // namespace

class TestBrowserHost final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void noBrowserOutlivesTheProgram_data();
    void noBrowserOutlivesTheProgram();
    void missingBrowserNamesThePackage();
    void staleProfilesAreRemoved();
    void crashedRendererFailsTheCapture();
    void runOfCrashesRestartsTheBrowser();
    void hungBrowserIsRestarted();
    void hungReplacedBrowserSparesTheCurrentOne();
    void slowFirstStartIsTriedAgain();
    void replacedBrowserFinishesItsCaptures();

private:
    // Crashes the renderer of a page now showing path, from a second session on it; pages crashed
    // before are skipped.
    void crashPageShowing(BrowserHost& host, const QString& path);

    QStringList m_crashedTargets;

    std::unique_ptr<TestHttpServer> m_server;
};

void TestBrowserHost::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setPage(QStringLiteral("/blue"), "<body style=\"background:rgb(0,0,255)\">blue</body>");
    m_server->setPage(QStringLiteral("/stalled"), "<body>loading<img src=\"/hang\"></body>");
    TestHttpServer::Response hang;
    hang.hang = true;
    m_server->setRoute(QStringLiteral("/hang"), hang);
}

void TestBrowserHost::cleanupTestCase() { m_server.reset(); }

void TestBrowserHost::noBrowserOutlivesTheProgram_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("program killed") << true;
    QTest::newRow("program exits") << false;
}

void TestBrowserHost::noBrowserOutlivesTheProgram()
{
    QFETCH(bool, killed);

    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({ QString::fromLatin1(killed ? kHoldBrowser : kStartAndExit) });
    child.start();
    const auto bound = testBrowserOptions().startTimeout + testBrowserOptions().retryStartTimeout + 30s;
    QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine() || child.state() == QProcess::NotRunning, int(bound.count()));
    const qint64 pid = child.readLine().trimmed().toLongLong();
    QVERIFY(pid > 0);
    if (killed) {
        child.kill();
    }
    QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(processGroupGone(pid), 30000);
}

void TestBrowserHost::missingBrowserNamesThePackage()
{
    const auto found
        = BrowserHost::findExecutable({}, { QStringLiteral("/nonexistent/a"), QStringLiteral("/nonexistent/b") });
    QVERIFY(!found.ok());
    QVERIFY(found.error().message.contains(QStringLiteral("chromium-headless-shell")));

    const auto fallback
        = BrowserHost::findExecutable({}, { QStringLiteral("/nonexistent/a"), QStringLiteral("/bin/true") });
    QVERIFY(fallback.ok());
    QCOMPARE(fallback.value().path, QStringLiteral("/bin/true"));
}

void TestBrowserHost::staleProfilesAreRemoved()
{
    QTemporaryDir root;
    const QString prefix = QStringLiteral("pictavo-browser");
    QDir dir(root.path());
    // A process id above the kernel's limit can never be alive.
    const QString stale = prefix + QStringLiteral("-99999999-abc123");
    const QString live = prefix + QStringLiteral("-1-def456");
    const QString own = prefix + QStringLiteral("-%1-ghi789").arg(QCoreApplication::applicationPid());
    const QString other = QStringLiteral("someone-else-99999999-x");
    for (const QString& name : { stale, live, own, other }) {
        QVERIFY(dir.mkpath(name + QStringLiteral("/Default")));
    }

    BrowserOptions options = testBrowserOptions();
    options.profileRoot = root.path();
    options.profilePrefix = prefix;
    BrowserHost host(options);
    QString ownProfile;
    bool ready = false;
    host.whenReady(this, [&](const Common::Result<DevToolsConnection*>& connection) { ready = connection.ok(); });
    QTRY_VERIFY_WITH_TIMEOUT(ready, 60000);

    QVERIFY(!dir.exists(stale));
    QVERIFY(dir.exists(live));
    QVERIFY(dir.exists(own));
    QVERIFY(dir.exists(other));
    const QStringList mine = dir.entryList({ prefix + QStringLiteral("-%1-*").arg(QCoreApplication::applicationPid()) },
        QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(mine.size(), 2);

    // Its own profile goes with the browser.
    host.shutdown();
    QTRY_COMPARE_WITH_TIMEOUT(
        dir.entryList({ prefix + QStringLiteral("-%1-*").arg(QCoreApplication::applicationPid()) },
               QDir::Dirs | QDir::NoDotAndDotDot)
            .size(),
        1, 30000);
}

void TestBrowserHost::crashPageShowing(BrowserHost& host, const QString& path)
{
    bool sent = false;
    host.whenReady(this, [&](const Common::Result<DevToolsConnection*>& ready) {
        QVERIFY(ready.ok());
        DevToolsConnection* connection = ready.value();
        connection->call({}, QStringLiteral("Target.getTargets"), {}, 10s, this,
            [&, connection](const DevToolsConnection::Reply& reply) {
                QVERIFY(reply.ok());
                const QJsonArray targets = reply.value().value(QLatin1String("targetInfos")).toArray();
                for (const auto& value : targets) {
                    const QJsonObject target = value.toObject();
                    const QString targetId = target.value(QLatin1String("targetId")).toString();
                    if (!target.value(QLatin1String("url")).toString().endsWith(path)
                        || m_crashedTargets.contains(targetId))
                        continue;
                    m_crashedTargets << targetId;
                    const QJsonObject attach { { QStringLiteral("targetId"), target.value(QLatin1String("targetId")) },
                        { QStringLiteral("flatten"), true } };
                    connection->call({}, QStringLiteral("Target.attachToTarget"), attach, 10s, this,
                        [&, connection](const DevToolsConnection::Reply& attached) {
                            QVERIFY(attached.ok());
                            connection->post(attached.value().value(QLatin1String("sessionId")).toString(),
                                QStringLiteral("Page.crash"));
                            sent = true;
                        });
                    return;
                }
            });
    });
    QTRY_VERIFY_WITH_TIMEOUT(sent, 30000);
}

void TestBrowserHost::crashedRendererFailsTheCapture()
{
    BrowserHost host(testBrowserOptions());
    HtmlSnap snap(&host);
    snap.SetTimeOut(60000);
    QSignalSpy status(&snap, &HtmlSnap::OnStatus);
    const int before = m_server->requestCount(QStringLiteral("/hang"));
    snap.SnapUrl(m_server->url(QStringLiteral("/stalled")), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/hang")) > before, 30000);
    // A start that needed its second try under load is not the crash's doing.
    const int starts = host.startCount();
    crashPageShowing(host, QStringLiteral("/stalled"));
    QTRY_COMPARE_WITH_TIMEOUT(snap.GetErrorCode(), -1, 30000);
    QVERIFY(status.last().at(0).toString().contains(QStringLiteral("crashed")));

    // The browser itself carries on.
    HtmlSnap next(&host);
    QCOMPARE(capture(next, m_server->url(QStringLiteral("/blue"))).code, 1);
    QCOMPARE(host.startCount(), starts);
}

void TestBrowserHost::runOfCrashesRestartsTheBrowser()
{
    BrowserOptions options = testBrowserOptions();
    options.crashRunLimit = 2;
    BrowserHost host(options);
    QSignalSpy lost(&host, &BrowserHost::browserLost);
    int starts = 0;
    qint64 crashed = 0;
    for (int i = 0; i < 2; ++i) {
        HtmlSnap snap(&host);
        snap.SetTimeOut(60000);
        const int before = m_server->requestCount(QStringLiteral("/hang"));
        snap.SnapUrl(m_server->url(QStringLiteral("/stalled")), QStringLiteral("*"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/hang")) > before, 30000);
        // Counted from a browser that is up: its start may have needed a second try under load.
        starts = host.startCount();
        crashed = host.processId();
        crashPageShowing(host, QStringLiteral("/stalled"));
        QTRY_COMPARE_WITH_TIMEOUT(snap.GetErrorCode(), -1, 30000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 30000);
    HtmlSnap next(&host);
    QCOMPARE(capture(next, m_server->url(QStringLiteral("/blue"))).code, 1);
    QVERIFY(host.startCount() > starts);
    QVERIFY(host.processId() != crashed);
}

void TestBrowserHost::hungBrowserIsRestarted()
{
    BrowserOptions options = testBrowserOptions();
    options.callTimeout = std::chrono::milliseconds(2000);
    BrowserHost host(options);
    HtmlSnap first(&host);
    QCOMPARE(capture(first, m_server->url(QStringLiteral("/blue"))).code, 1);
    const int starts = host.startCount();
    const qint64 hung = host.processId();

    QSignalSpy lost(&host, &BrowserHost::browserLost);
    QVERIFY(::kill(static_cast<pid_t>(hung), SIGSTOP) == 0);
    HtmlSnap stuck(&host);
    stuck.SetTimeOut(60000);
    QCOMPARE(capture(stuck, m_server->url(QStringLiteral("/blue"))).code, -1);
    QCOMPARE(lost.size(), 1);

    HtmlSnap next(&host);
    QCOMPARE(capture(next, m_server->url(QStringLiteral("/blue"))).code, 1);
    QVERIFY(host.startCount() > starts);
    QVERIFY(host.processId() != hung);
}

void TestBrowserHost::hungReplacedBrowserSparesTheCurrentOne()
{
    BrowserOptions options = testBrowserOptions();
    options.recyclePages = 2;
    options.callTimeout = 2000ms;
    BrowserHost host(options);
    const int bound = int((options.startTimeout + options.retryStartTimeout + options.callTimeout).count());
    // Each waits for an image that never arrives, so it stays in flight until its browser goes.
    const auto inFlight = [&](HtmlSnap& snap) {
        snap.SetTimeOut(4 * bound);
        const int before = m_server->requestCount(QStringLiteral("/hang"));
        snap.SnapUrl(m_server->url(QStringLiteral("/stalled")), QStringLiteral("*"));
        return QTest::qWaitFor([&] { return m_server->requestCount(QStringLiteral("/hang")) > before; }, bound);
    };
    HtmlSnap held(&host), stuck(&host), current(&host);
    QVERIFY(inFlight(held));
    const qint64 replaced = host.processId();
    // The browser's last page is opened after it stopped answering.
    QVERIFY(::kill(static_cast<pid_t>(replaced), SIGSTOP) == 0);
    stuck.SnapUrl(m_server->url(QStringLiteral("/blue")), QStringLiteral("*"));
    QTRY_COMPARE_WITH_TIMEOUT(host.processId(), qint64(0), bound);
    QVERIFY(inFlight(current));
    QTRY_COMPARE_WITH_TIMEOUT(stuck.GetErrorCode(), -1, bound);
    // The hung browser goes with its captures, long before they would time out; the current one stays.
    QTRY_COMPARE_WITH_TIMEOUT(held.GetErrorCode(), -1, bound);
    QTRY_VERIFY_WITH_TIMEOUT(processGroupGone(replaced), bound);
    QCOMPARE(current.GetErrorCode(), 0);
}

void TestBrowserHost::slowFirstStartIsTriedAgain()
{
    BrowserOptions options = testBrowserOptions();
    options.startTimeout = 1ms; // no browser answers this soon after it was started
    BrowserHost host(options);
    host.whenReady(nullptr, [](const Common::Result<DevToolsConnection*>&) {});
    QTRY_VERIFY_WITH_TIMEOUT(host.isRunning(), int(options.retryStartTimeout.count()));
    QCOMPARE(host.startCount(), 2);
}

void TestBrowserHost::replacedBrowserFinishesItsCaptures()
{
    BrowserOptions options = testBrowserOptions();
    options.recyclePages = 2;
    BrowserHost host(options);
    // The first page never finishes loading (an image that never arrives): its capture stays in flight.
    auto held = std::make_unique<HtmlSnap>(&host);
    held->SetTimeOut(60000);
    const int before = m_server->requestCount(QStringLiteral("/hang"));
    held->SnapUrl(m_server->url(QStringLiteral("/stalled")), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/hang")) > before, 30000);
    const qint64 first = host.processId();
    const int starts = host.startCount();

    // The second page is that browser's last; the third is captured by a fresh one.
    HtmlSnap second(&host);
    QCOMPARE(capture(second, m_server->url(QStringLiteral("/blue"))).code, 1);
    HtmlSnap third(&host);
    QCOMPARE(capture(third, m_server->url(QStringLiteral("/blue"))).code, 1);
    QVERIFY(host.startCount() > starts);
    QVERIFY(host.processId() != first);

    // The old browser stays for the capture still running on it, and goes once that one ends.
    QVERIFY(QFileInfo::exists(QStringLiteral("/proc/%1").arg(first)));
    QCOMPARE(held->GetErrorCode(), 0);
    held.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(first)), 10000);
}

int main(int argc, char* argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kHoldBrowser) == 0)
        return runChild(argc, argv, false);
    if (argc > 1 && qstrcmp(argv[1], kStartAndExit) == 0)
        return runChild(argc, argv, true);
    QCoreApplication app(argc, argv);
    TestBrowserHost test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browserhost.moc"
