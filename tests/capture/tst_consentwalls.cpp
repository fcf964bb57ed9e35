#include <memory>

#include <QtTest>

#include "capture/browserhost.h"
#include "capture/consentwalls.h"
#include "capture/htmlsnap.h"
#include "capture/pageopener.h"
#include "capturetestsupport.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;

namespace {

// A wall covering the page in red. The page turns green only once its reject button is pressed;
// white means the wall was hidden but never answered.
QByteArray wallPage(const char* wall)
{
    return QByteArray("<html><body style='margin:0;background:#fff'><p>Article text</p>") + wall
        + "<script>document.querySelectorAll('[data-cky-tag=reject-button],#no').forEach(function(b){"
          "b.onclick=function(){b.closest('.wall').remove();document.body.style.background='#008000'}})"
          "</script></body></html>";
}

// Markup of a common consent platform the library recognises (its rule needs no network).
const char* const kKnownWall = "<div class='wall cky-consent-container' style='position:fixed;inset:0;background:red'>"
                               "<p>We use cookies</p><button data-cky-tag=accept-button>Accept all</button>"
                               "<button data-cky-tag=reject-button>Reject all</button></div>";
const char* const kUnknownWall = "<div class='wall' style='position:fixed;inset:0;background:red'>"
                                 "<p>Subscribe to read on</p><button id=no>Not now</button></div>";

} // namespace

class TestConsentWalls final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void wallInTheThumbnail_data();
    void wallInTheThumbnail();

private:
    std::unique_ptr<BrowserHost> m_host;
    TestHttpServer m_server;
};

void TestConsentWalls::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.setPage(QStringLiteral("/known"), wallPage(kKnownWall));
    m_server.setPage(QStringLiteral("/unknown"), wallPage(kUnknownWall));
    m_host = std::make_unique<BrowserHost>(testBrowserOptions());
}

void TestConsentWalls::cleanupTestCase() { m_host.reset(); }

void TestConsentWalls::wallInTheThumbnail_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("scripts");
    QTest::addColumn<bool>("dismiss");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QColor>("shown");

    const QColor page(0, 128, 0);
    const QColor wall(Qt::red);
    QTest::newRow("known wall rejected") << "/known" << true << true << 0 << page;
    QTest::newRow("known wall, fast delay after it") << "/known" << true << true << 1500 << page;
    QTest::newRow("unknown wall stays") << "/unknown" << true << true << 0 << wall;
    QTest::newRow("setting off") << "/known" << true << false << 0 << wall;
    QTest::newRow("scripts off") << "/known" << false << true << 0 << wall;
}

void TestConsentWalls::wallInTheThumbnail()
{
    QFETCH(QString, path);
    QFETCH(bool, scripts);
    QFETCH(bool, dismiss);
    QFETCH(int, delay);
    QFETCH(QColor, shown);

    // The second capture runs on the page the first one left to its slot.
    SparePage slot;
    for (const char* round : { "new page", "kept page" }) {
        HtmlSnap snap(m_host.get());
        snap.setSparePage(&slot);
        snap.EnableScript(scripts);
        snap.setDismissConsentWalls(dismiss);
        snap.SetDelayTime(delay);
        snap.SetSnapDimension(640, 480);
        snap.EnableSnapDimensionAsImageSize(1);
        const Outcome outcome = capture(snap, m_server.url(path));
        QCOMPARE(outcome.code, 1);
        const QRgb pixel = capturedImage(snap).pixel(320, 240);
        QVERIFY2(sameColour(pixel, shown), qPrintable(QString::fromLatin1(round) + u' ' + QColor(pixel).name()));
        // A wall nobody answers costs at most the bound (plus the load and the capture).
        QVERIFY2(std::chrono::milliseconds(outcome.elapsedMs)
                < ConsentWalls::Bound + std::chrono::milliseconds(delay) + std::chrono::seconds(3),
            round);
    }
}

QTEST_GUILESS_MAIN(TestConsentWalls)
#include "tst_consentwalls.moc"
