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
// Each shows its colour when captured as a fresh context sees it at the end of the delay.
struct SitePage {
    int site;
    const char* path;
    QColor colour;
    const char* body;
};

const char* const kSites[] = { "127.0.0.1", "127.0.0.2", "127.0.0.3" };
constexpr int kDelay = 1000;
// Any trace of an earlier visit turns the page red; a held image keeps its load waiting for the answers.
const char* const kStorage = "<img src=/hold.svg><script>var seen=!!localStorage.seen||!!sessionStorage.seen||"
                             "document.cookie.indexOf('seen')>=0;localStorage.seen=sessionStorage.seen=1;"
                             "document.cookie='seen=1';Promise.all([indexedDB.databases(),caches.keys(),"
                             "navigator.serviceWorker.getRegistrations()]).then(function(all){all.forEach(function(a)"
                             "{seen=seen||a.length>0});document.body.style.background=seen?'red':'green';"
                             "indexedDB.open('seen');caches.open('seen');navigator.serviceWorker.register('/w.js')})"
                             "</script>";
const SitePage kPages[] = {
    { 0, "/short", QColor(0, 128, 128),
        "<script>onload=function(){setTimeout(function(){"
        "document.body.style.background='teal'},200)}</script>" },
    { 1, "/long", QColor(0, 0, 128),
        "<script>document.body.style.background='navy';onload=function(){"
        "setTimeout(function(){document.body.style.background='red'},8000)}</script>" },
    { 2, "/interval", QColor(128, 128, 0),
        "<script>var n=0;setInterval(function(){++n;document.body.style."
        "background=n>=40?'red':n>=3?'olive':'white'},100)</script>" },
    { 0, "/storage?first", QColor(0, 128, 0), kStorage },
    { 0, "/storage?second", QColor(0, 128, 0), kStorage },
    // Its popup keeps sending the opener elsewhere once the opener's own capture is over.
    { 1, "/popup", QColor(255, 128, 255),
        "<script>document.body.style.background='#ff80ff';"
        "window.open('/popupchild')</script>" },
    { 2, "/navlater", QColor(128, 0, 128),
        "<script>onload=function(){setTimeout(function(){"
        "location='/navtarget'},300)}</script>" },
    { 0, "/navlong", QColor(128, 0, 0),
        "<script>document.body.style.background='maroon';onload=function(){"
        "setTimeout(function(){location='/red'},5000)}</script>" },
    { 1, "/beforeunload", QColor(192, 192, 192),
        "<script>document.body.style.background='silver';"
        "onbeforeunload=function(e){e.preventDefault();return 'stay'}</script>" },
    { 2, "/hash#one", QColor(0, 0, 255),
        "<script>document.body.style.background=location.hash=='#one'?"
        "'blue':'#ff8000'</script>" },
    { 2, "/hash#two", QColor(255, 128, 0), nullptr },
};

void addPages(TestHttpServer& server, const QByteArray& red)
{
    const auto page = [](const QByteArray& body) { return "<!doctype html><body style=margin:0>" + body; };
    for (const SitePage& sitePage : kPages) {
        if (sitePage.body)
            server.setPage(
                QString::fromLatin1(sitePage.path).section(QLatin1Char('?'), 0, 0).section(QLatin1Char('#'), 0, 0),
                page(sitePage.body));
    }
    server.setPage(QStringLiteral("/popupchild"),
        page("<script>setTimeout(function(){setInterval(function(){opener.location='" + red
            + "'},200)},2500)</script>"));
    server.setPage(QStringLiteral("/red"), page("<script>document.body.style.background='red'</script>"));
    server.setPage(QStringLiteral("/navtarget"), page("<script>document.body.style.background='purple'</script>"));
    TestHttpServer::Response hold;
    hold.contentType = "image/svg+xml";
    hold.body = "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
    hold.delayMs = 400;
    server.setRoute(QStringLiteral("/hold.svg"), hold);
    hold.contentType = "text/javascript";
    hold.body.clear();
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
        addPages(*site, m_sites.front()->url(QStringLiteral("/red")).toLatin1());
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
