#include <QtTest>

#include "capture/browserendpoints.h"

using namespace Capture;
using Kind = BrowserEndpoint::Kind;

Q_DECLARE_METATYPE(QList<BrowserEndpoint>)

class TestBrowserEndpoints final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesLists_data();
    void parsesLists();
    void refusesBadEntries_data();
    void refusesBadEntries();
    void readsVersionReplies_data();
    void readsVersionReplies();
};

namespace {

BrowserEndpoint remote(Kind kind, const char* url) { return { kind, QUrl(QString::fromLatin1(url)) }; }

} // namespace

void TestBrowserEndpoints::parsesLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<BrowserEndpoint>>("expected");
    const BrowserEndpoint local;
    const BrowserEndpoint ws = remote(Kind::WebSocket, "ws://10.0.0.5:9222/devtools/browser/ab-12");
    const BrowserEndpoint wss = remote(Kind::WebSocket, "wss://shots.example.org/devtools/browser/x");
    const BrowserEndpoint http = remote(Kind::Discovery, "http://10.0.0.6:9222");

    QTest::newRow("empty") << QString() << QList<BrowserEndpoint> {};
    QTest::newRow("blanks only") << QStringLiteral(" \n\t ") << QList<BrowserEndpoint> {};
    QTest::newRow("local in any case") << QStringLiteral("LoCaL") << QList<BrowserEndpoint> { local };
    QTest::newRow("every kind, mixed separators") << QStringLiteral(
        " local, ws://10.0.0.5:9222/devtools/browser/ab-12;\nwss://shots.example.org/devtools/"
        "browser/x\thttp://10.0.0.6:9222 ") << QList<BrowserEndpoint> { local, ws, wss, http };
    QTest::newRow("order kept") << QStringLiteral("http://10.0.0.6:9222 local")
                                << QList<BrowserEndpoint> { http, local };
    QTest::newRow("http with a trailing slash") << QStringLiteral(
        "http://10.0.0.6:9222/") << QList<BrowserEndpoint> { remote(Kind::Discovery, "http://10.0.0.6:9222/") };
    QTest::newRow("https") << QStringLiteral("https://10.0.0.6:443")
                           << QList<BrowserEndpoint> { remote(Kind::Discovery, "https://10.0.0.6:443") };
    QTest::newRow("ipv6 host") << QStringLiteral("ws://[::1]:9222/devtools/browser/x")
                               << QList<BrowserEndpoint> { remote(
                                      Kind::WebSocket, "ws://[::1]:9222/devtools/browser/x") };
}

void TestBrowserEndpoints::parsesLists()
{
    QFETCH(QString, text);
    QFETCH(QList<BrowserEndpoint>, expected);
    const auto parsed = parseBrowserEndpoints(text);
    QVERIFY2(parsed.ok(), qPrintable(parsed.ok() ? QString() : parsed.error().message));
    QCOMPARE(parsed.value().size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(parsed.value().at(i).kind, expected.at(i).kind);
        QCOMPARE(parsed.value().at(i).url, expected.at(i).url);
    }
}

void TestBrowserEndpoints::refusesBadEntries_data()
{
    QTest::addColumn<QString>("text");
    // The error names the entry's position and what is wrong.
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown scheme") << QStringLiteral("local ftp://10.0.0.5:21")
                                    << QStringLiteral(
                                           "Browser endpoint 2 (\"ftp://10.0.0.5:21\"): unknown scheme \"ftp\"");
    QTest::newRow("file scheme") << QStringLiteral("file:///tmp/x") << QStringLiteral("unknown scheme \"file\"");
    QTest::newRow("bare host and port") << QStringLiteral("10.0.0.5:9222")
                                        << QStringLiteral("Browser endpoint 1 (\"10.0.0.5:9222\"): not an address");
    QTest::newRow("garbage word") << QStringLiteral("browsers-please") << QStringLiteral("not an address");
    QTest::newRow("no host ws") << QStringLiteral("ws:///devtools/browser/x") << QStringLiteral("the host is missing");
    QTest::newRow("no host http") << QStringLiteral("http://:9222") << QStringLiteral("host is missing");
    QTest::newRow("http without port") << QStringLiteral("http://10.0.0.5")
                                       << QStringLiteral("the port is missing (http://host:port)");
    QTest::newRow("http with a path") << QStringLiteral("http://10.0.0.5:9222/json/version")
                                      << QStringLiteral("without a path");
    QTest::newRow("http with a query") << QStringLiteral("http://10.0.0.5:9222?x=1")
                                       << QStringLiteral("no query or fragment");
    QTest::newRow("port out of range") << QStringLiteral("ws://10.0.0.5:99999/x")
                                       << QStringLiteral("not a valid address");
    QTest::newRow("port zero") << QStringLiteral("ws://10.0.0.5:0/x") << QStringLiteral("port 0");
    QTest::newRow("bad character") << QStringLiteral("ws://10.0.0.5:9222/a%zz")
                                   << QStringLiteral("not a valid address");
    QTest::newRow("listed twice") << QStringLiteral("http://10.0.0.5:9222, http://10.0.0.5:9222")
                                  << QStringLiteral("Browser endpoint 2 (\"http://10.0.0.5:9222\"): listed twice");
    QTest::newRow("local twice") << QStringLiteral("local LOCAL") << QStringLiteral("listed twice");
    QTest::newRow("bad entry after good ones")
        << QStringLiteral("local ws://10.0.0.5:9222/x gopher://old") << QStringLiteral("Browser endpoint 3");
}

void TestBrowserEndpoints::refusesBadEntries()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    const auto parsed = parseBrowserEndpoints(text);
    QVERIFY(!parsed.ok());
    QVERIFY2(parsed.error().message.contains(message), qPrintable(parsed.error().message));
}

void TestBrowserEndpoints::readsVersionReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    // Empty: the reply is refused.
    QTest::addColumn<QString>("expected");
    QTest::newRow("browser's own reply") << QByteArray(
        R"({"Browser":"HeadlessChrome/156.0","Protocol-Version":"1.3",)"
        R"("webSocketDebuggerUrl":"ws://10.0.0.5:9222/devtools/browser/9f2c"})")
                                         << QStringLiteral("ws://10.0.0.5:9222/devtools/browser/9f2c");
    QTest::newRow("wss behind a proxy") << QByteArray(R"({"webSocketDebuggerUrl":"wss://shots.example.org/b/1"})")
                                        << QStringLiteral("wss://shots.example.org/b/1");
    QTest::newRow("http address") << QByteArray(R"({"webSocketDebuggerUrl":"http://10.0.0.5:9222/x"})") << QString();
    QTest::newRow("file address") << QByteArray(R"({"webSocketDebuggerUrl":"file:///etc/passwd"})") << QString();
    QTest::newRow("no host") << QByteArray(R"({"webSocketDebuggerUrl":"ws:///x"})") << QString();
    QTest::newRow("not a string") << QByteArray(R"({"webSocketDebuggerUrl":42})") << QString();
    QTest::newRow("missing") << QByteArray(R"({"Browser":"x"})") << QString();
    QTest::newRow("array") << QByteArray(R"([{"webSocketDebuggerUrl":"ws://h:1/x"}])") << QString();
    QTest::newRow("truncated") << QByteArray(R"({"webSocketDebuggerUrl":"ws://h:1/)") << QString();
    QTest::newRow("html page") << QByteArray("<html><body>It works</body></html>") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QByteArray padded = R"({"webSocketDebuggerUrl":"ws://h:1/x","pad":")";
    padded.append(QByteArray(MaxVersionReplyBytes, 'a')).append("\"}");
    QTest::newRow("over the size cap") << padded << QString();
}

void TestBrowserEndpoints::readsVersionReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    const auto url = debuggerUrlFromVersionReply(reply);
    if (expected.isEmpty()) {
        QVERIFY(!url.ok());
        QVERIFY(url.error().message.startsWith(QLatin1String("The browser's /json/version reply")));
    } else {
        QVERIFY2(url.ok(), qPrintable(url.ok() ? QString() : url.error().message));
        QCOMPARE(url.value(), QUrl(expected));
    }
}

QTEST_GUILESS_MAIN(TestBrowserEndpoints)
#include "tst_browserendpoints.moc"
