#include <memory>
#include <vector>

#include <QtTest>

#include "capture/browserhost.h"
#include "capture/htmlsnap.h"
#include "capture/pageopener.h"
#include "capturetestsupport.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;

namespace {

// Pages that leave something behind for whatever their page shows next, or that change later than
// the delay. Each shows its own colour when it is captured as a fresh context sees it at the end of
// the delay, and red when anything of another capture reaches it.
struct SitePage {
    int site;
    const char* path;
    QColor colour;
};

const QColor kLeak(255, 0, 0);

const SitePage kPages[] = {
    { 0, "/short", QColor(0, 128, 128) },
    { 1, "/long", QColor(0, 0, 128) },
    { 2, "/interval", QColor(128, 128, 0) },
    { 0, "/storage?first", QColor(0, 128, 0) },
    { 0, "/storage?second", QColor(0, 128, 0) },
    { 1, "/popup", QColor(255, 128, 255) },
    { 2, "/navlater", QColor(128, 0, 128) },
    { 0, "/navlong", QColor(128, 0, 0) },
    { 1, "/beforeunload", QColor(192, 192, 192) },
    { 2, "/hash#one", QColor(0, 0, 255) },
    { 2, "/hash#two", QColor(255, 128, 0) },
};
constexpr int kDelay = 1000;
const char* const kSites[] = { "127.0.0.1", "127.0.0.2", "127.0.0.3" };

QByteArray page(const QByteArray& colour, const QByteArray& script)
{
    return "<!doctype html><html><body style=\"margin:0;background:" + colour + "\"><p>" + colour + "</p><script>"
        + script + "</script></body></html>";
}

QByteArray paint(const QByteArray& colour) { return "document.body.style.background='" + colour + "'"; }

void addPages(TestHttpServer& server, const QString& popupOpenerTarget)
{
    server.setPage(QStringLiteral("/short"),
        page("rgb(255,255,0)", "onload=function(){setTimeout(function(){" + paint("rgb(0,128,128)") + "},200)}"));
    server.setPage(QStringLiteral("/long"),
        page("rgb(0,0,128)", "onload=function(){setTimeout(function(){" + paint("rgb(255,0,0)") + "},8000)}"));
    server.setPage(QStringLiteral("/interval"),
        page("rgb(255,255,255)",
            "var n=0;setInterval(function(){++n;if(n>=3)" + paint("rgb(128,128,0)") + ";if(n>=40)"
                + paint("rgb(255,0,0)") + "},100)"));
    // Any trace of an earlier visit (a fresh context has none) turns the page red. The asynchronous
    // stores answer while a held image keeps the load event waiting.
    server.setPage(QStringLiteral("/storage"),
        "<!doctype html><html><body style=\"margin:0;background:rgb(255,255,255)\"><img id=hold src=\"/hold.png\">"
        "<script>var seen=!!localStorage.getItem('seen')||!!sessionStorage.getItem('seen')"
        "||document.cookie.indexOf('seen')>=0;"
        "localStorage.setItem('seen','1');sessionStorage.setItem('seen','1');document.cookie='seen=1';"
        "Promise.all([indexedDB.databases().then(function(d){if(d.length)seen=true;}),"
        "caches.keys().then(function(k){if(k.length)seen=true;}),"
        "navigator.serviceWorker.getRegistrations().then(function(r){if(r.length)seen=true;})])"
        ".then(function(){document.body.style.background=seen?'rgb(255,0,0)':'rgb(0,128,0)';"
        "indexedDB.open('seen',1);caches.open('seen');navigator.serviceWorker.register('/worker.js');});"
        "</script></body></html>");
    TestHttpServer::Response hold;
    hold.contentType = "image/svg+xml";
    hold.body = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1\" height=\"1\"/>";
    hold.delayMs = 400;
    server.setRoute(QStringLiteral("/hold.png"), hold);
    TestHttpServer::Response worker;
    worker.contentType = "text/javascript";
    worker.body = "self.addEventListener('fetch',function(){});";
    server.setRoute(QStringLiteral("/worker.js"), worker);
    // The popup keeps sending its opener elsewhere once the opener's own capture is over.
    server.setPage(QStringLiteral("/popup"), page("rgb(255,128,255)", "window.open('/popupchild')"));
    server.setPage(QStringLiteral("/popupchild"),
        page("rgb(255,255,255)",
            "setTimeout(function(){setInterval(function(){try{opener.location='" + popupOpenerTarget.toLatin1()
                + "'}catch(e){}},200)},2500)"));
    server.setPage(QStringLiteral("/red"), page("rgb(255,0,0)", ""));
    server.setPage(QStringLiteral("/navlater"),
        page("rgb(255,255,0)", "onload=function(){setTimeout(function(){location='/navtarget'},300)}"));
    server.setPage(QStringLiteral("/navtarget"), page("rgb(128,0,128)", ""));
    server.setPage(QStringLiteral("/navlong"),
        page("rgb(128,0,0)", "onload=function(){setTimeout(function(){location='/red'},5000)}"));
    server.setPage(QStringLiteral("/beforeunload"),
        page("rgb(192,192,192)", "onbeforeunload=function(e){e.preventDefault();e.returnValue='stay';return 'stay'}"));
    server.setPage(QStringLiteral("/hash"),
        page("rgb(255,255,255)",
            "document.body.style.background=location.hash=='#one'?'rgb(0,0,255)':"
            "location.hash=='#two'?'rgb(255,128,0)':'rgb(255,255,255)'"));
}

bool sameImage(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); y += 4) {
        for (int x = 0; x < a.width(); x += 4) {
            if (!sameColour(a.pixel(x, y), QColor(b.pixel(x, y)), 24))
                return false;
        }
    }
    return true;
}

} // namespace

class TestCaptureIsolation final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void eachCaptureShowsItsOwnPage_data();
    void eachCaptureShowsItsOwnPage();

private:
    // Captures the pages in this order on one slot, or each on a slot of its own.
    std::vector<QImage> captureAll(const std::vector<int>& order, bool fast, bool oneSlot);

    std::unique_ptr<BrowserHost> m_host;
    std::vector<std::unique_ptr<TestHttpServer>> m_sites;
};

void TestCaptureIsolation::initTestCase()
{
    for (const char* address : kSites) {
        auto site = std::make_unique<TestHttpServer>();
        QVERIFY(site->listen(QString::fromLatin1(address)));
        m_sites.push_back(std::move(site));
    }
    for (const auto& site : m_sites)
        addPages(*site, m_sites.front()->url(QStringLiteral("/red")));
    m_host = std::make_unique<BrowserHost>(testBrowserOptions());
}

void TestCaptureIsolation::cleanupTestCase()
{
    m_host.reset();
    m_sites.clear();
}

std::vector<QImage> TestCaptureIsolation::captureAll(const std::vector<int>& order, bool fast, bool oneSlot)
{
    std::vector<QImage> images(std::size(kPages));
    auto slot = std::make_unique<SparePage>();
    for (const int index : order) {
        if (!oneSlot)
            slot = std::make_unique<SparePage>();
        const SitePage& sitePage = kPages[index];
        HtmlSnap snap(m_host.get());
        snap.setSparePage(slot.get());
        snap.SetTimeOut(20000);
        snap.SetDelayTime(kDelay);
        snap.setFastDelay(fast);
        snap.SetSnapDimension(640, 480);
        snap.EnableSnapDimensionAsImageSize(1);
        const TestHttpServer& site = *m_sites.at(static_cast<size_t>(sitePage.site));
        const QString address
            = site.url(QString::fromLatin1(sitePage.path), QString::fromLatin1(kSites[sitePage.site]));
        const Outcome outcome = capture(snap, address);
        if (outcome.code == 1)
            images[static_cast<size_t>(index)] = capturedImage(snap);
        else
            qWarning("%s: %d %s", qPrintable(address), outcome.code, qPrintable(outcome.text));
    }
    return images;
}

void TestCaptureIsolation::eachCaptureShowsItsOwnPage_data()
{
    QTest::addColumn<bool>("fast");
    QTest::newRow("delay in the page's clock") << true;
    QTest::newRow("delay in real time") << false;
}

void TestCaptureIsolation::eachCaptureShowsItsOwnPage()
{
    QFETCH(bool, fast);
    std::vector<int> forward;
    for (int i = 0; i < int(std::size(kPages)); ++i)
        forward.push_back(i);
    const std::vector<int> reverse(forward.rbegin(), forward.rend());

    const std::vector<QImage> inOrder = captureAll(forward, fast, true);
    const std::vector<QImage> backwards = captureAll(reverse, fast, true);
    const std::vector<QImage> alone = captureAll(forward, fast, false);
    for (size_t i = 0; i < std::size(kPages); ++i) {
        const QString name = QString::fromLatin1(kPages[i].path);
        for (const QImage* image : { &inOrder[i], &backwards[i], &alone[i] }) {
            QVERIFY2(!image->isNull(), qPrintable(name));
            const QRgb pixel = image->pixel(320, 400);
            QVERIFY2(sameColour(pixel, kPages[i].colour), qPrintable(name + QLatin1Char(' ') + QColor(pixel).name()));
        }
        QVERIFY2(sameImage(inOrder[i], alone[i]) && sameImage(backwards[i], alone[i]), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestCaptureIsolation)
#include "tst_captureisolation.moc"
