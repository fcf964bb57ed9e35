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

// Pages that leave something behind for their page's next capture, or change later than the delay.
// Each shows its colour when captured as a fresh context sees it at the end of the delay; red means
// something of another capture reached it. Pages without a colour are only served.
struct SitePage {
    int site;
    const char* path;
    QColor colour;
    const char* script;
};

const char* const kSites[] = { "127.0.0.1", "127.0.0.2", "127.0.0.3" };
constexpr int kDelay = 1000;
// A held image keeps the load waiting for the stores' answers.
const char* const kStorage
    = "document.write('<img src=/hold.svg>');var seen=!!localStorage.seen||!!sessionStorage.seen||"
      "document.cookie.indexOf('seen')>=0;localStorage.seen=sessionStorage.seen=1;document.cookie='seen=1';"
      "Promise.all([indexedDB.databases(),caches.keys(),navigator.serviceWorker.getRegistrations()]).then("
      "function(all){all.forEach(function(a){seen=seen||a.length>0});paint(seen?'red':'green');"
      "indexedDB.open('seen');caches.open('seen');navigator.serviceWorker.register('/w.js')})";
const SitePage kPages[] = {
    { 0, "/short", QColor(0, 128, 128), "onload=function(){later(200,'teal')}" },
    { 1, "/long", QColor(0, 0, 128), "paint('navy');onload=function(){later(8000,'red')}" },
    { 2, "/interval", QColor(128, 128, 0),
        "var n=0;setInterval(function(){paint(++n>=40?'red':n>=3?'olive':'')},100)" },
    { 0, "/storage?first", QColor(0, 128, 0), kStorage },
    { 0, "/storage?second", QColor(0, 128, 0), nullptr },
    // The popup keeps sending its opener elsewhere once the opener's own capture is over.
    { 1, "/popup", QColor(255, 128, 255), "paint('#ff80ff');window.open('/popupchild')" },
    { 2, "/navlater", QColor(128, 0, 128), "onload=function(){setTimeout(function(){location='/navtarget'},300)}" },
    { 0, "/navlong", QColor(128, 0, 0),
        "paint('maroon');onload=function(){setTimeout(function(){location='/red'},5000)}" },
    { 1, "/beforeunload", QColor(192, 192, 192), "paint('silver');onbeforeunload=function(e){e.preventDefault()}" },
    { 2, "/hash#one", QColor(0, 0, 255), "paint(location.hash=='#one'?'blue':'#ff8000')" },
    { 2, "/hash#two", QColor(255, 128, 0), nullptr },
    { -1, "/popupchild", {}, "setTimeout(function(){setInterval(function(){opener.location='/red'},200)},2500)" },
    { -1, "/red", {}, "paint('red')" },
    { -1, "/navtarget", {}, "paint('purple')" },
};

void addPages(TestHttpServer& server)
{
    for (const SitePage& page : kPages) {
        if (page.script)
            server.setPage(
                QString::fromLatin1(page.path).section(QLatin1Char('?'), 0, 0).section(QLatin1Char('#'), 0, 0),
                QByteArray("<!doctype html><body style=margin:0><script>function paint(c){document.body.style."
                           "background=c}function later(t,c){setTimeout(function(){paint(c)},t)}")
                    + page.script + "</script>");
    }
    TestHttpServer::Response hold;
    hold.contentType = "image/svg+xml";
    hold.body = "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
    hold.delayMs = 400;
    server.setRoute(QStringLiteral("/hold.svg"), hold);
    hold = {};
    hold.contentType = "text/javascript";
    server.setRoute(QStringLiteral("/w.js"), hold);
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
    std::vector<QImage> captureAll(const std::vector<size_t>& order, bool fast, bool oneSlot);

    std::unique_ptr<BrowserHost> m_host;
    std::vector<std::unique_ptr<TestHttpServer>> m_sites;
};

void TestCaptureIsolation::initTestCase()
{
    for (const char* address : kSites) {
        m_sites.push_back(std::make_unique<TestHttpServer>());
        QVERIFY(m_sites.back()->listen(QString::fromLatin1(address)));
        addPages(*m_sites.back());
    }
    m_host = std::make_unique<BrowserHost>(testBrowserOptions());
}

void TestCaptureIsolation::cleanupTestCase()
{
    m_host.reset();
    m_sites.clear();
}

std::vector<QImage> TestCaptureIsolation::captureAll(const std::vector<size_t>& order, bool fast, bool oneSlot)
{
    std::vector<QImage> images(std::size(kPages));
    auto slot = std::make_unique<SparePage>();
    for (const size_t index : order) {
        if (!oneSlot)
            slot = std::make_unique<SparePage>();
        const auto site = static_cast<size_t>(kPages[index].site);
        HtmlSnap snap(m_host.get());
        snap.setSparePage(slot.get());
        snap.SetDelayTime(kDelay);
        snap.setFastDelay(fast);
        snap.SetSnapDimension(640, 480);
        snap.EnableSnapDimensionAsImageSize(1);
        const QString address
            = m_sites.at(site)->url(QString::fromLatin1(kPages[index].path), QString::fromLatin1(kSites[site]));
        const Outcome outcome = capture(snap, address);
        if (outcome.code == 1)
            images[index] = capturedImage(snap);
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
    std::vector<size_t> forward;
    for (size_t i = 0; i < std::size(kPages); ++i) {
        if (kPages[i].site >= 0)
            forward.push_back(i);
    }
    const std::vector<size_t> reverse(forward.rbegin(), forward.rend());

    const std::vector<QImage> inOrder = captureAll(forward, fast, true);
    const std::vector<QImage> backwards = captureAll(reverse, fast, true);
    const std::vector<QImage> alone = captureAll(forward, fast, false);
    for (const size_t i : forward) {
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
