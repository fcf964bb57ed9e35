#include <csignal>
#include <memory>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "capture/browserhost.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"
#include "capture/pageopener.h"
#include "capturetestsupport.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;

namespace {

QByteArray colouredPage(const QByteArray& colour, int height = 0, const QByteArray& extra = {})
{
    QByteArray style = "margin:0;background:" + colour;
    QByteArray body = "<p>Test page</p>";
    if (height > 0)
        body += "<div style=\"height:" + QByteArray::number(height) + "px\"></div>";
    return "<!doctype html><html><head><title>t</title></head><body style=\"" + style + "\">" + body + extra
        + "</body></html>";
}

QByteArray pngBytes(QColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

} // namespace

class TestHtmlSnap final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void capturesPageSizes_data();
    void capturesPageSizes();
    void writesFiles_data();
    void writesFiles();
    void endsWithCode_data();
    void endsWithCode();
    void timeOutAndForceSnap_data();
    void timeOutAndForceSnap();
    void scriptsFollowTheSwitch_data();
    void scriptsFollowTheSwitch();
    void pageThatMovesOnIsCaptured_data();
    void pageThatMovesOnIsCaptured();
    void fastDelayRunsThePageClockAhead_data();
    void fastDelayRunsThePageClockAhead();
    void thumbnailBytes_data();
    void thumbnailBytes();
    void thumbnailHintRendersSmall_data();
    void thumbnailHintRendersSmall();
    void blankPageIsLookedAtAgain_data();
    void blankPageIsLookedAtAgain();
    void reportsProgress();
    void fourEnginesAtOnce();
    void clearReleasesThePage();
    void sparePageFollowsEachCapture();
    void keptPageServesTheNextCaptures();
    void browserDeathFailsAndRestarts();

private:
    std::unique_ptr<HtmlSnap> makeSnap(int timeOut = 20000);
    // A snapshot that waits after the load: 640 x 480 taken as the image size, or the full page.
    std::unique_ptr<HtmlSnap> makeDelayedSnap(int scripts, int delay, bool fast, bool fullPage);

    std::unique_ptr<BrowserHost> m_host;
    std::unique_ptr<TestHttpServer> m_server;
    QList<qint64> m_browserPids;
};

void TestHtmlSnap::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setPage(QStringLiteral("/blue"), colouredPage("rgb(0,0,255)"));
    m_server->setPage(QStringLiteral("/tall3000"), colouredPage("rgb(0,128,0)", 3000));
    m_server->setPage(QStringLiteral("/tall30000"), colouredPage("rgb(0,128,0)", 30000));
    m_server->setPage(QStringLiteral("/script"),
        "<!doctype html><body style=\"margin:0;background:rgb(255,255,255)\"><p id=t>NO JS</p>"
        "<script>document.body.style.background='rgb(255,0,0)';</script></body>");
    m_server->setPage(QStringLiteral("/dialogs"),
        "<!doctype html><body style=\"margin:0\"><script>alert('hi');confirm('sure?');prompt('name?');"
        "onbeforeunload=function(e){e.preventDefault();return 'stay';};"
        "document.body.style.background='rgb(0,255,0)';</script></body>");
    m_server->setPage(QStringLiteral("/loop"),
        colouredPage("rgb(0,0,255)", 0, "<script>onload=function(){setTimeout(function(){for(;;){}},0)}</script>"));
    m_server->setPage(QStringLiteral("/inlineloop"),
        colouredPage("rgb(0,0,255)", 0, "<script>for(;;){}</script><p>never parsed</p>"));
    m_server->setPage(QStringLiteral("/stalledimage"), colouredPage("rgb(0,0,255)", 0, "<img src=\"/hang\">"));
    m_server->setPage(QStringLiteral("/images"),
        colouredPage("rgb(255,255,255)", 0, "<img src=\"/a.png\"><img src=\"/b.png\"><img src=\"/c.png\">"));
    for (const char* name : { "/a.png", "/b.png", "/c.png" }) {
        TestHttpServer::Response image;
        image.contentType = "image/png";
        image.body = pngBytes(Qt::red);
        image.delayMs = 100;
        m_server->setRoute(QString::fromLatin1(name), image);
    }
    TestHttpServer::Response hang;
    hang.hang = true;
    m_server->setRoute(QStringLiteral("/hang"), hang);
    TestHttpServer::Response download;
    download.contentType = "application/octet-stream";
    download.body = QByteArray(4096, 'x');
    m_server->setRoute(QStringLiteral("/file.bin"), download);
    TestHttpServer::Response slow;
    slow.body = colouredPage("rgb(0,0,255)");
    slow.delayMs = 300;
    m_server->setRoute(QStringLiteral("/slow"), slow);

    // Pages that move on by themselves: yellow until they reach /blue, or forever when they reload.
    const auto yellow = [](const QByteArray& extra) { return colouredPage("rgb(255,255,0)", 0, extra); };
    m_server->setPage(QStringLiteral("/refreshnow"), yellow("<meta http-equiv=\"refresh\" content=\"0\">"));
    m_server->setPage(QStringLiteral("/refreshlater"), yellow("<meta http-equiv=\"refresh\" content=\"1;url=/blue\">"));
    m_server->setPage(QStringLiteral("/leavesonload"), yellow("<script>onload=function(){location='/blue'}</script>"));
    m_server->setPage(QStringLiteral("/leaveslater"),
        yellow("<script>onload=function(){setTimeout(function(){location='/blue'},100)}</script>"));
    m_server->setPage(
        QStringLiteral("/reloadsonload"), yellow("<script>onload=function(){location.reload()}</script>"));
    m_server->setPage(QStringLiteral("/leavesatonce"), yellow("<script>location.replace('/blue')</script>"));
    m_server->setPage(
        QStringLiteral("/leavesforsilence"), yellow("<script>onload=function(){location='/hang'}</script>"));
    // Another site: the page moves to a renderer process of its own.
    m_server->setPage(QStringLiteral("/leavesthesite"),
        yellow("<script>onload=function(){location='"
            + m_server->url(QStringLiteral("/blue"), QStringLiteral("site.test")).toLatin1() + "'}</script>"));

    // Pages that turn green 500 ms after their load, one of them while a fetch of its stays pending.
    m_server->setPage(QStringLiteral("/greenlater"),
        yellow("<script>onload=function(){setTimeout(function(){document.body.style.background='rgb(0,128,0)'},"
               "500)}</script>"));
    m_server->setPage(QStringLiteral("/greenwhilefetching"),
        yellow("<script>onload=function(){fetch('/hang');setTimeout(function(){"
               "document.body.style.background='rgb(0,128,0)'},500)}</script>"));

    // Pages that leave something behind for whatever the page shows next.
    m_server->setPage(
        QStringLiteral("/setscookie"), colouredPage("rgb(0,0,255)", 0, "<script>document.cookie='seen=1'</script>"));
    m_server->setPage(QStringLiteral("/cookiecolour"),
        colouredPage("rgb(255,255,0)", 0,
            "<script>document.body.style.background=document.cookie?'rgb(255,0,0)':'rgb(0,128,0)'</script>"));
    m_server->setPage(QStringLiteral("/alertslater"),
        colouredPage(
            "rgb(0,0,255)", 0, "<script>onload=function(){setTimeout(function(){alert('late')},200)}</script>"));

    // Pages that come out one colour, at first or for good. Any content they get is a red block.
    const QByteArray redBlock = "var d=document.createElement('div');d.style.cssText='height:600px;background:red';"
                                "document.body.appendChild(d);";
    const auto white = [](const QByteArray& body) -> QByteArray {
        return "<!doctype html><html><head><title>t</title></head><body style=\"margin:0;background:#fff\">" + body
            + "</body></html>";
    };
    m_server->setPage(QStringLiteral("/drawnbyscript"), white("<script>" + redBlock + "</script>"));
    m_server->setPage(QStringLiteral("/fillsinlater"),
        white("<script>onload=function(){setTimeout(function(){" + redBlock + "},600)}</script>"));
    m_server->setPage(QStringLiteral("/empty"), white({}));
    m_server->setPage(QStringLiteral("/spinner"),
        white("<div style=\"margin:300px auto;width:32px;height:32px;border-radius:16px;background:#ddd\"></div>"));
    // A heading on white that a script would turn red: captured white means it was not looked at again.
    m_server->setPage(QStringLiteral("/loneheading"),
        white("<h1>It works!</h1><script>document.body.style.background='red'</script>"));

    m_host = std::make_unique<BrowserHost>(testBrowserOptions());
    connect(m_host.get(), &BrowserHost::browserStarted, this, [this] { m_browserPids << m_host->processId(); });
}

void TestHtmlSnap::cleanupTestCase()
{
    m_host.reset();
    m_server.reset();
    for (const qint64 pid : std::as_const(m_browserPids))
        QTRY_VERIFY_WITH_TIMEOUT(processGroupGone(pid), 10000);
}

std::unique_ptr<HtmlSnap> TestHtmlSnap::makeDelayedSnap(int scripts, int delay, bool fast, bool fullPage)
{
    auto snap = makeSnap();
    snap->EnableScript(scripts);
    snap->SetDelayTime(delay);
    snap->setFastDelay(fast);
    snap->SetSnapDimension(fullPage ? 0 : 640, fullPage ? 0 : 480);
    snap->EnableSnapDimensionAsImageSize(fullPage ? 0 : 1);
    return snap;
}

std::unique_ptr<HtmlSnap> TestHtmlSnap::makeSnap(int timeOut)
{
    auto snap = std::make_unique<HtmlSnap>(m_host.get());
    snap->SetTimeOut(timeOut);
    snap->SetAsync(1);
    snap->SetJPEGQuality(100);
    snap->EnableScript(1);
    snap->SetDelayTime(0);
    return snap;
}

void TestHtmlSnap::capturesPageSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("asImageSize");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("fixed browser size") << "/blue" << 800 << 600 << 1 << QSize(800, 600) << QColor(0, 0, 255);
    QTest::newRow("full page") << "/tall3000" << 0 << 0 << 0 << QSize(1024, 3000 + 50) << QColor(0, 128, 0);
    QTest::newRow("fixed size grows to the page")
        << "/tall3000" << 800 << 600 << 0 << QSize(800, 3050) << QColor(0, 128, 0);
    QTest::newRow("taller than the cap") << "/tall30000" << 0 << 0 << 0 << QSize(1024, HtmlSnap::MaxCaptureExtent)
                                         << QColor(0, 128, 0);
    QTest::newRow("short page, full extent") << "/blue" << 0 << 0 << 1 << QSize(1024, 768) << QColor(0, 0, 255);
}

void TestHtmlSnap::capturesPageSizes()
{
    QFETCH(QString, path);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, asImageSize);
    QFETCH(QSize, expected);
    QFETCH(QColor, colour);

    auto snap = makeSnap();
    snap->SetSnapDimension(width, height);
    snap->EnableSnapDimensionAsImageSize(asImageSize);
    const Outcome outcome = capture(*snap, m_server->url(path));
    QCOMPARE(outcome.code, 1);
    QCOMPARE(outcome.text, QStringLiteral("Captured in memory succeeded"));

    const QImage image = capturedImage(*snap);
    QCOMPARE(QSize(snap->GetImageWidth(), snap->GetImageHeight()), image.size());
    // The paragraph's margins make the page a little taller than its div: allow them.
    QCOMPARE(image.width(), expected.width());
    QVERIFY2(std::abs(image.height() - expected.height()) <= 60, qPrintable(QString::number(image.height())));
    QVERIFY(sameColour(image.pixel(image.width() / 2, image.height() - 5), colour));
}

void TestHtmlSnap::writesFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("jpg") << "shot.jpg" << 1 << QByteArray("jpeg");
    QTest::newRow("jpeg upper case") << "shot.JPEG" << 1 << QByteArray("jpeg");
    QTest::newRow("png") << "shot.png" << 1 << QByteArray("png");
    QTest::newRow("bmp") << "shot.bmp" << 1 << QByteArray("bmp");
    QTest::newRow("gif") << "shot.gif" << 1 << QByteArray("gif");
    QTest::newRow("tiff") << "shot.tif" << 1 << QByteArray("tiff");
    QTest::newRow("no ending") << "shot" << 1 << QByteArray("png");
    QTest::newRow("missing folder") << "no/such/folder/shot.jpg" << -2 << QByteArray();
}

void TestHtmlSnap::writesFiles()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(QByteArray, format);

    QTemporaryDir dir;
    const QString file = dir.filePath(name);
    auto snap = makeSnap();
    snap->SetSnapDimension(640, 480);
    snap->EnableSnapDimensionAsImageSize(1);
    const Outcome outcome = capture(*snap, m_server->url(QStringLiteral("/blue")), file);
    QCOMPARE(outcome.code, code);
    if (code != 1) {
        QVERIFY(!QFile::exists(file));
        return;
    }
    QImageReader reader(file);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QCOMPARE(image.size(), QSize(640, 480));
    QVERIFY(sameColour(image.pixel(320, 400), QColor(0, 0, 255)));
}

void TestHtmlSnap::endsWithCode_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 closedPort = closed.serverPort();
    closed.close();

    QTest::newRow("page") << m_server->url(QStringLiteral("/blue")) << 1;
    QTest::newRow("named test host") << m_server->url(QStringLiteral("/blue"), QStringLiteral("site.test")) << 1;
    QTest::newRow("unescaped blank in the address") << m_server->url(QStringLiteral("/blue?q=a b")) << 1;
    QTest::newRow("404 page is a page") << m_server->url(QStringLiteral("/missing")) << 1;
    QTest::newRow("dialogs on load") << m_server->url(QStringLiteral("/dialogs")) << 1;
    QTest::newRow("endless script after load") << m_server->url(QStringLiteral("/loop")) << 1;
    QTest::newRow("download, not a page") << m_server->url(QStringLiteral("/file.bin")) << -3;
    QTest::newRow("connection refused") << QStringLiteral("http://127.0.0.1:%1/").arg(closedPort) << -3;
    QTest::newRow("name not resolved") << QStringLiteral("http://nowhere.invalid/") << -3;
    QTest::newRow("TLS to a plain server") << QStringLiteral("https://127.0.0.1:%1/blue").arg(m_server->port()) << -3;
    QTest::newRow("file address") << QStringLiteral("file:///etc/hostname") << -3;
    QTest::newRow("ftp address") << QStringLiteral("ftp://127.0.0.1/") << -3;
    QTest::newRow("javascript address") << QStringLiteral("javascript:alert(1)") << -3;
    QTest::newRow("not an address") << QStringLiteral("not an address") << -3;
    QTest::newRow("empty") << QString() << -3;
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1:%1/blue").arg(m_server->port()) << 1;
    QTest::newRow("no scheme, test host") << QStringLiteral("site.test:%1/blue").arg(m_server->port()) << 1;
    QTest::newRow("capital scheme") << QStringLiteral("HTTP://127.0.0.1:%1/blue").arg(m_server->port()) << 1;
    QTest::newRow("host read as a scheme") << QStringLiteral("localhost:%1/blue").arg(m_server->port()) << -3;
    QTest::newRow("smb address") << QStringLiteral("smb://127.0.0.1/share") << -3;
    QTest::newRow("data address") << QStringLiteral("data:text/html,<p>x</p>") << -3;
}

void TestHtmlSnap::endsWithCode()
{
    QFETCH(QString, url);
    QFETCH(int, code);

    auto snap = makeSnap();
    snap->SetSnapDimension(640, 480);
    snap->EnableSnapDimensionAsImageSize(1);
    const Outcome outcome = capture(*snap, url);
    QVERIFY2(outcome.code == code, qPrintable(QStringLiteral("%1: %2").arg(outcome.code).arg(outcome.text)));
    QCOMPARE(snap->GetErrorCode(), code);
    QCOMPARE(outcome.finalEvents, 1);
    QCOMPARE(snap->GetThumbImageBytes(QStringLiteral("*.jpg"), 120, 90, 0).ok(), code == 1);
}

void TestHtmlSnap::timeOutAndForceSnap_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("forceSnap");
    QTest::addColumn<int>("code");

    QTest::newRow("silent server") << "/hang" << 0 << -4;
    QTest::newRow("silent server, force") << "/hang" << 1 << -4;
    QTest::newRow("load never ends") << "/stalledimage" << 0 << -4;
    QTest::newRow("load never ends, force") << "/stalledimage" << 1 << 1;
    QTest::newRow("endless script while parsing") << "/inlineloop" << 0 << -4;
    QTest::newRow("endless script while parsing, force") << "/inlineloop" << 1 << 1;
}

void TestHtmlSnap::timeOutAndForceSnap()
{
    QFETCH(QString, path);
    QFETCH(int, forceSnap);
    QFETCH(int, code);

    constexpr int timeOut = 3000;
    auto snap = makeSnap(timeOut);
    snap->SetForceSnap(forceSnap);
    snap->SetSnapDimension(640, 480);
    snap->EnableSnapDimensionAsImageSize(1);
    const Outcome outcome = capture(*snap, m_server->url(path));
    QVERIFY2(outcome.code == code, qPrintable(QStringLiteral("%1: %2").arg(outcome.code).arg(outcome.text)));
    // Bounded by the time-out plus the engine's own short deadlines, not by the server.
    QVERIFY2(outcome.elapsedMs < timeOut + 20000, qPrintable(QString::number(outcome.elapsedMs)));
    if (code == 1)
        QVERIFY(sameColour(capturedImage(*snap).pixel(320, 400), QColor(0, 0, 255)));
}

void TestHtmlSnap::scriptsFollowTheSwitch_data()
{
    QTest::addColumn<int>("scripts");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("scripts on") << 1 << QColor(255, 0, 0);
    QTest::newRow("scripts off") << 0 << QColor(255, 255, 255);
}

void TestHtmlSnap::scriptsFollowTheSwitch()
{
    QFETCH(int, scripts);
    QFETCH(QColor, colour);

    auto snap = makeSnap();
    snap->EnableScript(scripts);
    snap->SetSnapDimension(640, 480);
    snap->EnableSnapDimensionAsImageSize(1);
    QCOMPARE(capture(*snap, m_server->url(QStringLiteral("/script"))).code, 1);
    const QRgb pixel = capturedImage(*snap).pixel(320, 400);
    QVERIFY2(sameColour(pixel, colour), qPrintable(QColor(pixel).name()));
}

void TestHtmlSnap::pageThatMovesOnIsCaptured_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("scripts");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<bool>("fullPage");

    const char* const paths[] = { "/refreshnow", "/refreshlater", "/leavesonload", "/leaveslater", "/reloadsonload",
        "/leavesatonce", "/leavesthesite", "/leavesforsilence" };
    for (const char* path : paths) {
        for (const int scripts : { 1, 0 }) {
            for (const int delay : { 0, 400 }) {
                QTest::addRow("%s, scripts %s, delay %d", path, scripts ? "on" : "off", delay)
                    << QString::fromLatin1(path) << scripts << delay << true << false;
            }
            QTest::addRow("%s, scripts %s, delay 400 in real time", path, scripts ? "on" : "off")
                << QString::fromLatin1(path) << scripts << 400 << false << false;
        }
        // The full page asks the renderer for the layout first: two calls a navigation can break.
        QTest::addRow("%s, full page", path) << QString::fromLatin1(path) << 1 << 0 << true << true;
        QTest::addRow("%s, full page, delay 400", path) << QString::fromLatin1(path) << 1 << 400 << true << true;
        QTest::addRow("%s, full page, delay 400 real", path) << QString::fromLatin1(path) << 1 << 400 << false << true;
    }
}

void TestHtmlSnap::pageThatMovesOnIsCaptured()
{
    QFETCH(QString, path);
    QFETCH(int, scripts);
    QFETCH(int, delay);
    QFETCH(bool, fast);
    QFETCH(bool, fullPage);

    auto snap = makeDelayedSnap(scripts, delay, fast, fullPage);
    const Outcome outcome = capture(*snap, m_server->url(path));
    QCOMPARE(outcome.finalEvents, 1);
    QVERIFY2(outcome.code == 1, qPrintable(QStringLiteral("%1: %2").arg(outcome.code).arg(outcome.text)));
    // Whichever document stood when the capture was taken, never a blank page between the two.
    const QRgb pixel = capturedImage(*snap).pixel(320, 400);
    QVERIFY2(sameColour(pixel, QColor(255, 255, 0)) || sameColour(pixel, QColor(0, 0, 255)),
        qPrintable(QColor(pixel).name()));
}

void TestHtmlSnap::fastDelayRunsThePageClockAhead_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("scripts");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<bool>("fullPage");
    QTest::addColumn<QColor>("colour"); // invalid: either colour
    QTest::addColumn<bool>("waitsTheDelay");

    const QColor green(0, 128, 0);
    const QColor yellow(255, 255, 0);
    QTest::newRow("timer, fast") << "/greenlater" << 1 << 1000 << true << false << green << false;
    QTest::newRow("timer, fast, full page") << "/greenlater" << 1 << 1000 << true << true << green << false;
    QTest::newRow("timer, fast, long delay") << "/greenlater" << 1 << 20000 << true << false << green << false;
    QTest::newRow("timer, real time") << "/greenlater" << 1 << 1000 << false << false << green << true;
    QTest::newRow("scripts off, fast") << "/greenlater" << 0 << 1000 << true << false << yellow << false;
    // The page's clock stands still while the fetch is pending: the real-time bound ends the delay.
    QTest::newRow("fetch never ends, fast") << "/greenwhilefetching" << 1 << 1000 << true << false << QColor() << true;
    QTest::newRow("fetch never ends, fast, full page")
        << "/greenwhilefetching" << 1 << 1000 << true << true << QColor() << true;
    // A script that never yields keeps the page's clock from spending its budget.
    QTest::newRow("endless script, fast") << "/loop" << 1 << 1000 << true << false << QColor(0, 0, 255) << true;
}

void TestHtmlSnap::fastDelayRunsThePageClockAhead()
{
    QFETCH(QString, path);
    QFETCH(int, scripts);
    QFETCH(int, delay);
    QFETCH(bool, fast);
    QFETCH(bool, fullPage);
    QFETCH(QColor, colour);
    QFETCH(bool, waitsTheDelay);

    auto snap = makeDelayedSnap(scripts, delay, fast, fullPage);
    const Outcome outcome = capture(*snap, m_server->url(path));
    QVERIFY2(outcome.code == 1, qPrintable(QStringLiteral("%1: %2").arg(outcome.code).arg(outcome.text)));
    QCOMPARE(outcome.finalEvents, 1);

    const auto arrival = [&outcome](const QString& prefix) {
        for (qsizetype i = 0; i < outcome.progressTexts.size(); ++i) {
            if (outcome.progressTexts.at(i).startsWith(prefix))
                return outcome.progressMs.at(i);
        }
        return qint64(-1);
    };
    const qint64 loaded = arrival(QStringLiteral("Page loaded"));
    const qint64 snapshot = arrival(QStringLiteral("Taking the snapshot"));
    QVERIFY(loaded >= 0 && snapshot >= loaded);
    const qint64 waited = snapshot - loaded;
    if (waitsTheDelay) {
        // The bound itself is not stretched by much.
        QVERIFY2(waited >= delay && waited < delay + 5000, qPrintable(QString::number(waited)));
    } else {
        QVERIFY2(waited < delay, qPrintable(QString::number(waited)));
    }

    const QRgb pixel = capturedImage(*snap).pixel(320, 400);
    if (colour.isValid())
        QVERIFY2(sameColour(pixel, colour), qPrintable(QColor(pixel).name()));
    else
        QVERIFY2(sameColour(pixel, QColor(255, 255, 0)) || sameColour(pixel, QColor(0, 128, 0)),
            qPrintable(QColor(pixel).name()));
}

void TestHtmlSnap::thumbnailBytes_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("keepRatio");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("jpg 120x90") << "*.jpg" << 120 << 90 << 0 << QByteArray("jpeg") << QSize(120, 90);
    QTest::newRow("png stretched") << "*.png" << 200 << 50 << 0 << QByteArray("png") << QSize(200, 50);
    QTest::newRow("keep ratio") << "*.jpg" << 200 << 50 << 1 << QByteArray("jpeg") << QSize(67, 50);
    QTest::newRow("bmp") << "*.bmp" << 120 << 90 << 1 << QByteArray("bmp") << QSize(120, 90);
    QTest::newRow("gif") << "*.gif" << 120 << 90 << 1 << QByteArray("gif") << QSize(120, 90);
    QTest::newRow("own size") << "*.png" << 0 << 0 << 0 << QByteArray("png") << QSize(1024, 768);
}

void TestHtmlSnap::thumbnailBytes()
{
    QFETCH(QString, mask);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, keepRatio);
    QFETCH(QByteArray, format);
    QFETCH(QSize, expected);

    auto snap = makeSnap();
    snap->SetSnapDimension(1024, 768);
    snap->EnableSnapDimensionAsImageSize(1);
    QCOMPARE(capture(*snap, m_server->url(QStringLiteral("/blue"))).code, 1);
    const auto bytes = snap->GetThumbImageBytes(mask, width, height, keepRatio);
    QVERIFY(bytes.ok());
    QBuffer buffer;
    buffer.setData(bytes.value());
    QImageReader reader(&buffer);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QCOMPARE(image.size(), expected);
    QVERIFY(sameColour(image.pixel(image.width() / 2, image.height() - 2), QColor(0, 0, 255)));

    snap->Clear();
    QCOMPARE(snap->GetErrorCode(), 0);
    QVERIFY(!snap->GetThumbImageBytes(mask, width, height, keepRatio).ok());
}

void TestHtmlSnap::thumbnailHintRendersSmall_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("in memory") << QStringLiteral("*") << QSize(120, 90);
    // A file always gets the full image.
    QTest::newRow("to a file") << QStringLiteral("shot.png") << QSize(1024, 768);
}

void TestHtmlSnap::thumbnailHintRendersSmall()
{
    QFETCH(QString, file);
    QFETCH(QSize, expected);

    QTemporaryDir dir;
    auto snap = makeSnap();
    snap->SetSnapDimension(1024, 768);
    snap->EnableSnapDimensionAsImageSize(1);
    snap->setThumbnailHint(QSize(120, 90));
    QCOMPARE(
        capture(*snap, m_server->url(QStringLiteral("/blue")), file == QLatin1String("*") ? file : dir.filePath(file))
            .code,
        1);
    QCOMPARE(QSize(snap->GetImageWidth(), snap->GetImageHeight()), expected);
    const auto bytes = snap->GetThumbImageBytes(QStringLiteral("*.jpg"), 120, 90, 0);
    QVERIFY(bytes.ok());
    const QImage thumbnail = QImage::fromData(bytes.value(), "jpeg");
    QCOMPARE(thumbnail.size(), QSize(120, 90));
    QVERIFY(sameColour(thumbnail.pixel(60, 80), QColor(0, 0, 255)));
}

void TestHtmlSnap::blankPageIsLookedAtAgain_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("scripts");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("check");
    QTest::addColumn<int>("code");
    // The colour in the middle of the picture when captured.
    QTest::addColumn<QColor>("colour");

    const QColor red(255, 0, 0);
    const QColor white(255, 255, 255);
    QTest::newRow("drawn by script, scripts off") << "/drawnbyscript" << 0 << 0 << true << 1 << red;
    QTest::newRow("fills in after load") << "/fillsinlater" << 1 << 0 << true << 1 << red;
    QTest::newRow("fills in after the delay, page clock") << "/fillsinlater" << 1 << 400 << true << 1 << red;
    QTest::newRow("empty, scripts on") << "/empty" << 1 << 0 << true << -5 << QColor();
    QTest::newRow("empty, scripts off") << "/empty" << 0 << 0 << true << -5 << QColor();
    QTest::newRow("empty, check off") << "/empty" << 1 << 0 << false << 1 << white;
    QTest::newRow("lone spinner") << "/spinner" << 1 << 0 << true << -5 << QColor();
    QTest::newRow("lone heading") << "/loneheading" << 0 << 0 << true << 1 << white;
    QTest::newRow("lone heading, full size") << "/loneheading" << 0 << -1 << true << 1 << white;
}

void TestHtmlSnap::blankPageIsLookedAtAgain()
{
    QFETCH(QString, path);
    QFETCH(int, scripts);
    QFETCH(int, delay);
    QFETCH(bool, check);
    QFETCH(int, code);
    QFETCH(QColor, colour);

    // As a run captures: the picture the thumbnail is made from; a delay of -1 for a full-size picture.
    auto snap = makeDelayedSnap(scripts, std::max(0, delay), true, false);
    snap->SetSnapDimension(1024, 768);
    if (delay >= 0)
        snap->setThumbnailHint(QSize(120, 90));
    snap->setBlankCheck(check);
    const Outcome outcome = capture(*snap, m_server->url(path));
    QVERIFY2(outcome.code == code, qPrintable(QStringLiteral("%1: %2").arg(outcome.code).arg(outcome.text)));
    QCOMPARE(outcome.finalEvents, 1);
    QCOMPARE(snap->GetThumbImageBytes(QStringLiteral("*.jpg"), 120, 90, 0).ok(), code == 1);
    if (code == 1) {
        const QImage picture = capturedImage(*snap);
        const QRgb middle = picture.pixel(picture.width() / 2, picture.height() / 2);
        QVERIFY2(sameColour(middle, colour), qPrintable(QColor(middle).name()));
    }
}

void TestHtmlSnap::reportsProgress()
{
    auto snap = makeSnap();
    snap->SetSnapDimension(640, 480);
    snap->EnableSnapDimensionAsImageSize(1);
    QSignalSpy progress(snap.get(), &HtmlSnap::OnProgress);
    const Outcome outcome = capture(*snap, m_server->url(QStringLiteral("/images")));
    QCOMPARE(outcome.code, 1);
    QVERIFY(!outcome.progressTexts.isEmpty());
    QVERIFY(progress.size() >= 2);
    for (const auto& event : std::as_const(progress)) {
        QVERIFY(event.at(0).toInt() >= 0);
        QVERIFY(event.at(0).toInt() <= 100);
    }
    QCOMPARE(progress.last().at(0).toInt(), 100);
}

void TestHtmlSnap::fourEnginesAtOnce()
{
    const QStringList paths { QStringLiteral("/blue"), QStringLiteral("/slow"), QStringLiteral("/tall3000"),
        QStringLiteral("/images") };
    // Earlier tests may have restarted the browser (a stall under a slow build): what counts is that the
    // four share one, started at most once for them.
    const int starts = m_host->startCount();
    std::vector<std::unique_ptr<HtmlSnap>> snaps;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const QString& path : paths) {
        snaps.push_back(makeSnap());
        snaps.back()->SetSnapDimension(800, 600);
        snaps.back()->EnableSnapDimensionAsImageSize(1);
        spies.push_back(std::make_unique<QSignalSpy>(snaps.back().get(), &HtmlSnap::OnStatus));
        snaps.back()->SnapUrl(m_server->url(path), QStringLiteral("*"));
    }
    for (const auto& snap : snaps)
        QTRY_VERIFY_WITH_TIMEOUT(snap->GetErrorCode() != 0, 90000);
    for (const auto& snap : snaps) {
        QCOMPARE(snap->GetErrorCode(), 1);
        QCOMPARE(capturedImage(*snap).size(), QSize(800, 600));
    }
    QVERIFY(m_host->startCount() <= starts + 1);
}

void TestHtmlSnap::clearReleasesThePage()
{
    // Only the browser's own first page once the earlier tests' pages have gone.
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
    const int before = 1;
    auto snap = makeSnap(60000);
    QSignalSpy status(snap.get(), &HtmlSnap::OnStatus);
    snap->SnapUrl(m_server->url(QStringLiteral("/hang")), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host) == before + 1, 30000);
    snap->Clear();
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), before, 30000);
    QCOMPARE(snap->GetErrorCode(), 0);
    for (const auto& event : std::as_const(status))
        QCOMPARE(event.at(1).toInt(), 0);
}

void TestHtmlSnap::sparePageFollowsEachCapture()
{
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
    auto spare = std::make_unique<SparePage>();
    // Each capture opens the next one's page with its own set-up; one that differs must not be used.
    struct Step {
        int scripts;
        int width;
        QColor colour;
    };
    const Step steps[] = { { 1, 640, QColor(255, 0, 0) }, { 1, 640, QColor(255, 0, 0) },
        { 0, 640, QColor(255, 255, 255) }, { 0, 800, QColor(255, 255, 255) }, { 1, 640, QColor(255, 0, 0) } };
    for (const Step& step : steps) {
        auto snap = makeSnap();
        snap->setSparePage(spare.get());
        snap->EnableScript(step.scripts);
        snap->SetSnapDimension(step.width, 480);
        snap->EnableSnapDimensionAsImageSize(1);
        QCOMPARE(capture(*snap, m_server->url(QStringLiteral("/script"))).code, 1);
        const QImage image = capturedImage(*snap);
        QCOMPARE(image.size(), QSize(step.width, 480));
        QVERIFY2(sameColour(image.pixel(320, 400), step.colour), qPrintable(QColor(image.pixel(320, 400)).name()));
    }
    // The last capture left a page for the next; neither it nor an engine gone mid-capture leaks a page.
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 2, 30000);
    {
        auto snap = makeSnap();
        snap->setSparePage(spare.get());
        snap->SnapUrl(m_server->url(QStringLiteral("/hang")), QStringLiteral("*"));
        QTRY_VERIFY_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host) >= 2, 30000);
    }
    spare.reset();
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
}

void TestHtmlSnap::keptPageServesTheNextCaptures()
{
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
    auto spare = std::make_unique<SparePage>();
    // One slot's captures in a row, each on the page the last one left: sites change (a new renderer
    // process), the last page tries to move on or opens a dialog once captured, a cookie is set, a
    // renderer hangs. Each capture must show its own page as if it had a page of its own.
    struct Step {
        const char* host;
        const char* path;
        int scripts;
        QColor colour;
        // Open afterwards, the browser's own page included: a page that hung is given up, not kept.
        int pages = 2;
        // A page that moves on by itself may be caught on either document.
        QColor orMoved = {};
    };
    const QColor blue(0, 0, 255), red(255, 0, 0), white(255, 255, 255), yellow(255, 255, 0), green(0, 128, 0);
    const Step steps[] = { { "a.test", "/setscookie", 1, blue }, { "a.test", "/cookiecolour", 1, green },
        { "b.test", "/leaveslater", 1, yellow, 2, blue }, { "b.test", "/script", 1, red },
        { "c.test", "/alertslater", 1, blue }, { "c.test", "/script", 1, red }, { "a.test", "/script", 0, white },
        { "b.test", "/script", 0, white }, { "b.test", "/loop", 0, blue }, { "b.test", "/loop", 1, blue, 1 },
        { "c.test", "/script", 1, red }, { "a.test", "/setscookie", 1, blue }, { "b.test", "/script", 1, red },
        { "a.test", "/cookiecolour", 1, green } };
    for (const Step& step : steps) {
        auto snap = makeSnap();
        snap->setSparePage(spare.get());
        snap->EnableScript(step.scripts);
        snap->SetSnapDimension(640, 480);
        snap->EnableSnapDimensionAsImageSize(1);
        const QString url = m_server->url(QString::fromLatin1(step.path), QString::fromLatin1(step.host));
        const CaptureTest::Outcome outcome = capture(*snap, url);
        QVERIFY2(outcome.code == 1, qPrintable(url + QLatin1Char(' ') + outcome.text));
        const QImage image = capturedImage(*snap);
        QVERIFY2(sameColour(image.pixel(320, 400), step.colour)
                || (step.orMoved.isValid() && sameColour(image.pixel(320, 400), step.orMoved)),
            qPrintable(url + QLatin1Char(' ') + QColor(image.pixel(320, 400)).name()));
        QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), step.pages, 30000);
    }
    spare.reset();
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
}

void TestHtmlSnap::browserDeathFailsAndRestarts()
{
    // The spare page the first capture opened dies with the browser; the next capture must not wait
    // for it.
    SparePage spare;
    auto snap = makeSnap(60000);
    snap->setSparePage(&spare);
    QSignalSpy status(snap.get(), &HtmlSnap::OnStatus);
    const int before = m_server->requestCount(QStringLiteral("/hang"));
    snap->SnapUrl(m_server->url(QStringLiteral("/hang")), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_server->requestCount(QStringLiteral("/hang")) > before && m_host->processId() > 0, 30000);
    const int starts = m_host->startCount();
    ::kill(static_cast<pid_t>(m_host->processId()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(snap->GetErrorCode(), -1, 30000);

    auto next = makeSnap();
    next->setSparePage(&spare);
    QCOMPARE(capture(*next, m_server->url(QStringLiteral("/blue"))).code, 1);
    QVERIFY(m_host->startCount() > starts);
}

QTEST_GUILESS_MAIN(TestHtmlSnap)
#include "tst_htmlsnap.moc"
