#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "capture/browserhost.h"
#include "capture/browserpool.h"
#include "capture/debuggerurllookup.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"
#include "capture/websockettransport.h"
#include "capturetestsupport.h"
#include "remotebrowser.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;
using namespace std::chrono_literals;

namespace {

// Runs one call and waits for its end.
DevToolsConnection::Reply callAndWait(DevToolsConnection& connection, const QString& sessionId, const QString& method,
    const QJsonObject& params = {}, std::chrono::milliseconds timeout = 20s)
{
    std::optional<DevToolsConnection::Reply> result;
    connection.call(sessionId, method, params, timeout, &connection,
        [&result](const DevToolsConnection::Reply& reply) { result = reply; });
    (void)QTest::qWaitFor([&] { return result.has_value(); }, static_cast<int>(timeout.count()) + 5000);
    return result.value_or(Common::Error { 0, QStringLiteral("test"), QStringLiteral("no reply") });
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

int browserContexts(DevToolsConnection& connection)
{
    const auto reply = callAndWait(connection, {}, QStringLiteral("Target.getBrowserContexts"));
    return reply ? static_cast<int>(reply.value().value(QLatin1String("browserContextIds")).toArray().size()) : -1;
}

} // namespace

class TestWebSocketTransport final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void carriesCallsAndLargeMessages();
    void closesOnceWhenTheBrowserDies();
    void failedHandshakeClosesOnce_data();
    void failedHandshakeClosesOnce();
    void lookupRefusesUntrustedReplies_data();
    void lookupRefusesUntrustedReplies();
    void droppedConnectionLeavesNoContextBehind();
    void poolTriesALostBrowserAgain();
    void hostCapturesOnARemoteBrowserAndLeavesItRunning_data();
    void hostCapturesOnARemoteBrowserAndLeavesItRunning();

private:
    std::unique_ptr<TestHttpServer> m_server;
};

void TestWebSocketTransport::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setPage(
        QStringLiteral("/green"), "<html><body style='margin:0;background:#00ff00'><h1>Remote</h1></body></html>");
}

void TestWebSocketTransport::carriesCallsAndLargeMessages()
{
    RemoteBrowser browser;
    QVERIFY(browser.start());
    // Sent before the handshake has ended: queued, then delivered in order.
    DevToolsConnection connection(new WebSocketTransport(browser.webSocketUrl()));
    const auto version = callAndWait(connection, {}, QStringLiteral("Browser.getVersion"));
    QVERIFY2(version.ok(), qPrintable(version.ok() ? QString() : version.error().message));
    QVERIFY(version.value().value(QLatin1String("product")).toString().contains(QLatin1String("Chrome")));

    const auto target = callAndWait(connection, {}, QStringLiteral("Target.createTarget"),
        { { QStringLiteral("url"), QStringLiteral("about:blank") } });
    QVERIFY(target.ok());
    const auto attached = callAndWait(connection, {}, QStringLiteral("Target.attachToTarget"),
        { { QStringLiteral("targetId"), target.value().value(QLatin1String("targetId")) },
            { QStringLiteral("flatten"), true } });
    QVERIFY(attached.ok());
    const QString session = attached.value().value(QLatin1String("sessionId")).toString();

    // Several megabytes each way: a frame larger than any default limit, out and back.
    const qsizetype outgoing = 3 * 1024 * 1024;
    const QString expression = QStringLiteral("'") + QString(outgoing, QLatin1Char('y'))
        + QStringLiteral("'.length + ':' + 'x'.repeat(24 * 1024 * 1024)");
    const auto evaluated = callAndWait(connection, session, QStringLiteral("Runtime.evaluate"),
        { { QStringLiteral("expression"), expression }, { QStringLiteral("returnByValue"), true } }, 60s);
    QVERIFY2(evaluated.ok(), qPrintable(evaluated.ok() ? QString() : evaluated.error().message));
    const QString value
        = evaluated.value().value(QLatin1String("result")).toObject().value(QLatin1String("value")).toString();
    QCOMPARE(value.section(QLatin1Char(':'), 0, 0), QString::number(outgoing));
    QCOMPARE(value.size() - value.indexOf(QLatin1Char(':')) - 1, 24 * 1024 * 1024);
}

void TestWebSocketTransport::closesOnceWhenTheBrowserDies()
{
    RemoteBrowser browser;
    QVERIFY(browser.start());
    WebSocketTransport transport(browser.webSocketUrl());
    QSignalSpy closed(&transport, &DevToolsTransport::closed);
    QSignalSpy received(&transport, &DevToolsTransport::messageReceived);
    transport.sendMessage(R"({"id":1,"method":"Browser.getVersion"})");
    QVERIFY(received.wait(20000));
    QVERIFY(transport.isConnected());

    browser.kill();
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 20000);
    QVERIFY(!transport.isOpen());
    QVERIFY(!transport.errorString().isEmpty());
    transport.sendMessage(R"({"id":2,"method":"Browser.getVersion"})"); // ignored, no crash
    QTest::qWait(200);
    QCOMPARE(closed.size(), 1);
    QCOMPARE(received.size(), 1);
}

void TestWebSocketTransport::failedHandshakeClosesOnce_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("nothing listens") << QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(closedPort());
    // An HTTP server that is no browser answers the upgrade with 404.
    QTest::newRow("not a WebSocket")
        << m_server->url(QStringLiteral("/green")).replace(QLatin1String("http://"), QLatin1String("ws://"));
}

void TestWebSocketTransport::failedHandshakeClosesOnce()
{
    QFETCH(QString, url);
    WebSocketTransport transport { QUrl(url) };
    QSignalSpy closed(&transport, &DevToolsTransport::closed);
    transport.sendMessage("{}");
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 20000);
    QTest::qWait(200);
    QCOMPARE(closed.size(), 1);
    QVERIFY(!transport.isOpen());
    QVERIFY(!transport.errorString().isEmpty());
}

void TestWebSocketTransport::lookupRefusesUntrustedReplies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QByteArray huge = R"({"webSocketDebuggerUrl":"ws://127.0.0.1:1/x","pad":")";
    huge.append(QByteArray(8 * 1024 * 1024, 'a')).append("\"}");
    QTest::newRow("endless reply") << huge << 200 << QStringLiteral("larger than");
    QTest::newRow("http address") << QByteArray(R"({"webSocketDebuggerUrl":"http://127.0.0.1:1/x"})") << 200
                                  << QStringLiteral("no ws:// or wss://");
    QTest::newRow("not JSON") << QByteArray("<html>hello</html>") << 200 << QStringLiteral("not a JSON object");
    QTest::newRow("error status") << QByteArray(R"({"webSocketDebuggerUrl":"ws://127.0.0.1:1/x"})") << 500
                                  << QStringLiteral("HTTP 500");
    QTest::newRow("redirect not followed") << QByteArray() << 302 << QStringLiteral("HTTP 302");
}

void TestWebSocketTransport::lookupRefusesUntrustedReplies()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, message);
    TestHttpServer server;
    QVERIFY(server.listen());
    TestHttpServer::Response response;
    response.status = status;
    response.contentType = "application/json";
    response.body = body;
    if (status == 302)
        response.location = m_server->url(QStringLiteral("/green")).toUtf8();
    server.setRoute(QStringLiteral("/json/version"), response);

    const int redirected = m_server->requestCount(QStringLiteral("/green"));
    DebuggerUrlLookup lookup(QUrl(server.url(QStringLiteral("/"))), 10s);
    std::optional<Common::Result<QUrl>> result;
    int answers = 0;
    connect(&lookup, &DebuggerUrlLookup::done, this, [&](const Common::Result<QUrl>& r) {
        result = r;
        ++answers;
    });
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
    QVERIFY(!result->ok());
    QVERIFY2(result->error().message.contains(message), qPrintable(result->error().message));
    QTest::qWait(100);
    QCOMPARE(answers, 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/green")), redirected);
}

void TestWebSocketTransport::droppedConnectionLeavesNoContextBehind()
{
    RemoteBrowser browser;
    QVERIFY(browser.start());
    DevToolsConnection observer(new WebSocketTransport(browser.webSocketUrl()));
    BrowserOptions options;
    options.endpoint = browser.webSocketUrl();
    BrowserHost host(options);
    // A capture that is still loading when the connection goes: its context must not stay behind.
    TestHttpServer::Response hang;
    hang.hang = true;
    m_server->setRoute(QStringLiteral("/hang"), hang);
    HtmlSnap snap(&host);
    QSignalSpy status(&snap, &HtmlSnap::OnStatus);
    snap.SnapUrl(m_server->url(QStringLiteral("/hang")), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/hang")) > 0, 20000);
    QCOMPARE(browserContexts(observer), 1);

    host.shutdown();
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(1).toInt() == SnapCode::CaptureFailed, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(browserContexts(observer), 0, 10000);
    QVERIFY(browser.isAlive());
}

void TestWebSocketTransport::poolTriesALostBrowserAgain()
{
    auto browser = std::make_unique<RemoteBrowser>();
    QVERIFY(browser->start());
    const QUrl endpoint = browser->httpUrl();
    BrowserPool::Options options;
    options.firstRetry = 100ms;
    options.longestRetry = 500ms;
    options.retryLimit = 20;
    BrowserPool pool(nullptr, { { BrowserEndpoint::Kind::Discovery, endpoint } }, options);
    QStringList reports;
    connect(&pool, &BrowserPool::report, this, [&reports](const QString& text) { reports << text; });
    pool.start();
    QVERIFY(pool.isProbing());
    QTRY_VERIFY_WITH_TIMEOUT(!pool.isProbing(), 20000);
    BrowserHost* host = pool.pickHost();
    QVERIFY(host && pool.isInService(host));

    // Lost, then back at the same address (a restarted browser has a new WebSocket address).
    browser.reset();
    QTRY_COMPARE_WITH_TIMEOUT(pool.inServiceCount(), 0, 20000);
    QVERIFY(!pool.isExhausted());
    browser = std::make_unique<RemoteBrowser>();
    QVERIFY(browser->start(static_cast<quint16>(endpoint.port())));
    QTRY_VERIFY_WITH_TIMEOUT(pool.isInService(host), 30000);
    QCOMPARE(reports.filter(QStringLiteral("was lost")).size(), 1);
    QCOMPARE(reports.filter(QStringLiteral("is back in service")).size(), 1);

    // Gone for good: given up after the last attempt, once.
    browser.reset();
    QTRY_VERIFY_WITH_TIMEOUT(pool.isExhausted(), 30000);
    QCOMPARE(reports.filter(QStringLiteral("given up for this run after 20 attempts")).size(), 1);
    QCOMPARE(pool.pickHost(), nullptr);
}

void TestWebSocketTransport::hostCapturesOnARemoteBrowserAndLeavesItRunning_data()
{
    QTest::addColumn<bool>("discovery");
    QTest::newRow("ws address") << false;
    QTest::newRow("http port") << true;
}

void TestWebSocketTransport::hostCapturesOnARemoteBrowserAndLeavesItRunning()
{
    QFETCH(bool, discovery);
    RemoteBrowser browser;
    QVERIFY(browser.start());
    BrowserOptions options;
    options.endpoint = discovery ? browser.httpUrl() : browser.webSocketUrl();
    BrowserHost host(options);
    QVERIFY(host.isRemote());
    {
        HtmlSnap snap(&host);
        snap.SetSnapDimension(320, 240);
        snap.EnableSnapDimensionAsImageSize(1);
        const Outcome outcome = capture(snap, m_server->url(QStringLiteral("/green")));
        QCOMPARE(outcome.code, SnapCode::Captured);
        QVERIFY(sameColour(capturedImage(snap).pixel(10, 200), QColor(0, 255, 0)));
        QCOMPARE(host.processId(), 0);
    }
    // The capture's context is gone from the remote browser once the engine is.
    DevToolsConnection observer(new WebSocketTransport(browser.webSocketUrl()));
    QTRY_COMPARE_WITH_TIMEOUT(browserContexts(observer), 0, 10000);

    QSignalSpy lost(&host, &BrowserHost::browserLost);
    host.shutdown();
    QCOMPARE(lost.size(), 1);
    QTest::qWait(500);
    QVERIFY(browser.isAlive());
    QVERIFY(callAndWait(observer, {}, QStringLiteral("Browser.getVersion")).ok());

    // The next use connects again.
    HtmlSnap again(&host);
    QCOMPARE(capture(again, m_server->url(QStringLiteral("/green"))).code, SnapCode::Captured);
}

QTEST_GUILESS_MAIN(TestWebSocketTransport)
#include "tst_websockettransport.moc"
