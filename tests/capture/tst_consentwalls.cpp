#include <memory>
#include <optional>

#include <QtTest>

#include "capture/browserhost.h"
#include "capture/consentprobe.h"
#include "capture/consentwalls.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"
#include "capture/pageopener.h"
#include "capturetestsupport.h"
#include "testhttpserver.h"

using namespace Capture;
using namespace CaptureTest;

namespace {

// A wall covering the page in red. The page turns green only once the button that saves the choice
// is pressed; white means the wall was hidden but never answered.
QByteArray wallPage(const char* wall)
{
    return QByteArray("<html><body style='margin:0;background:#fff'><p>Article text</p>") + wall
        + "<script>document.querySelector('[data-save]').onclick=function(){"
          "document.querySelectorAll('.wall').forEach(function(w){w.remove()});"
          "document.body.style.background='#008000'}</script></body></html>";
}

// Markup of a common consent platform the library recognises (its rule needs no network), without
// a reject button: the choices open a moment after asking, as such walls animate them in.
const char* const kKnownWall
    = "<div class='wall cky-consent-container' style='position:fixed;inset:0;background:red'>"
      "<p>We use cookies</p><button data-cky-tag=accept-button>Accept all</button>"
      "<button data-cky-tag=settings-button onclick=\"setTimeout(function(){document.querySelector('.cky-modal')"
      ".classList.add('cky-modal-open')},300)\">Customise</button></div>"
      "<div class='wall cky-modal'><input type=checkbox checked>"
      "<button data-save data-cky-tag=detail-save-button>Save my preferences</button></div>";
// A platform whose rule runs in frames, in a frame of another site (a process of its own).
const char* const kFramedWall
    = "<html><head><style>body{margin:0;background:red}body.done{background:#008000}</style></head><body>"
      "<div class=cookie-alert-extended><div class=cookie-alert-extended-modal><p>We use cookies</p>"
      "<a data-controller='cookie-alert/extended/detail-link'>Details</a>"
      "<button data-controller='cookie-alert/extended/button/configuration'>Save</button></div></div><script>"
      "document.querySelector('button').onclick=function(){document.body.className='done'}</script></body></html>";
const char* const kUnknownWall = "<div class='wall' style='position:fixed;inset:0;background:red'>"
                                 "<p>Subscribe to read on</p><button data-save>Not now</button></div>";

// What the probe says of the page at url once it has loaded, asked as the engine asks it;
// undefined when the browser does not answer.
QJsonValue probeSays(BrowserHost& host, const QString& url, const QString& probe)
{
    DevToolsConnection* connection = nullptr;
    QObject context;
    host.whenReady(&context,
        [&](const Common::Result<DevToolsConnection*>& ready) { connection = ready ? ready.value() : nullptr; });
    if (!QTest::qWaitFor([&] { return connection != nullptr; }, 20000))
        return QJsonValue::Undefined;
    const auto call = [&](const QString& session, const char* method, const QJsonObject& params) {
        std::optional<DevToolsConnection::Reply> reply;
        connection->call(session, QString::fromLatin1(method), params, std::chrono::seconds(20), &context,
            [&reply](const DevToolsConnection::Reply& r) { reply = r; });
        (void)QTest::qWaitFor([&] { return reply.has_value(); }, 25000);
        return reply && reply->ok() ? reply->value() : QJsonObject();
    };
    const QJsonValue target
        = call({}, "Target.createTarget", { { QStringLiteral("url"), QStringLiteral("about:blank") } })
              .value(QLatin1String("targetId"));
    const QString session = call(
        {}, "Target.attachToTarget", { { QStringLiteral("targetId"), target }, { QStringLiteral("flatten"), true } })
                                .value(QLatin1String("sessionId"))
                                .toString();
    call(session, "Page.navigate", { { QStringLiteral("url"), url } });
    const QString loaded = QStringLiteral("(async () => { if (document.readyState !== 'complete') await new Promise("
                                          "(r) => addEventListener('load', r)); return %1; })()")
                               .arg(probe);
    const QJsonValue said = call(session, "Runtime.evaluate",
        { { QStringLiteral("expression"), loaded }, { QStringLiteral("awaitPromise"), true },
            { QStringLiteral("returnByValue"), true } })
                                .value(QLatin1String("result"))
                                .toObject()
                                .value(QLatin1String("value"));
    call({}, "Target.closeTarget", { { QStringLiteral("targetId"), target } });
    return said;
}

} // namespace

class TestConsentWalls final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void wallInTheThumbnail_data();
    void wallInTheThumbnail();
    void probeFindsWhatTheRulesNeed_data();
    void probeFindsWhatTheRulesNeed();

private:
    std::unique_ptr<BrowserHost> m_host;
    TestHttpServer m_server;
    TestHttpServer m_otherSite;
};

void TestConsentWalls::initTestCase()
{
    QVERIFY(m_server.listen());
    QVERIFY(m_otherSite.listen(QStringLiteral("127.0.0.2")));
    m_otherSite.setPage(QStringLiteral("/wall"), kFramedWall);
    m_server.setPage(QStringLiteral("/framed"),
        "<html><body style='margin:0'><iframe style='border:0;width:100%;height:100vh' src='"
            + m_otherSite.url(QStringLiteral("/wall"), QStringLiteral("127.0.0.2")).toLatin1()
            + "'></iframe></body></html>");
    m_server.setPage(QStringLiteral("/wall"), kFramedWall);
    m_server.setPage(QStringLiteral("/framed-here"),
        "<html><body style='margin:0'><iframe style='border:0;width:100%;height:100vh' "
        "src='/wall'></iframe></body></html>");
    m_server.setPage(QStringLiteral("/known"), wallPage(kKnownWall));
    m_server.setPage(QStringLiteral("/unknown"), wallPage(kUnknownWall));
    // Each site's frames in a process of their own, as full Chromium runs them.
    BrowserOptions options = testBrowserOptions();
    options.extraArguments << QStringLiteral("--site-per-process");
    m_host = std::make_unique<BrowserHost>(options);
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
    QTest::newRow("known wall in a frame of another site") << "/framed" << true << true << 0 << page;
    QTest::newRow("known wall in a frame of the same site") << "/framed-here" << true << true << 0 << page;
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

// Markers of widespread platforms, as their own scripts draw them, each enough for the library to
// look closer; ordinary pages, large ones included, must not cost it anything.
void TestConsentWalls::probeFindsWhatTheRulesNeed_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("candidate");
    QTest::addColumn<QByteArray>("library"); // empty: the shipped one

    QByteArray manyElements;
    for (int i = 0; i < 3000; ++i)
        manyElements += "<div class='card item-" + QByteArray::number(i % 50) + "'><span>Story</span></div>";
    QTest::newRow("article") << QByteArray("<h1>News</h1><p class=lead>Text</p>") << false << QByteArray();
    QTest::newRow("large page") << manyElements << false << QByteArray();
    QTest::newRow("OneTrust") << QByteArray("<div id=onetrust-banner-sdk><p>Cookies</p></div>") << true << QByteArray();
    QTest::newRow("Didomi") << QByteArray("<div id=didomi-host><div id=didomi-notice></div></div>") << true
                            << QByteArray();
    QTest::newRow("Quantcast") << QByteArray("<div id=qc-cmp2-container><div id=qc-cmp2-ui></div></div>") << true
                               << QByteArray();
    QTest::newRow("Usercentrics") << QByteArray("<div id=usercentrics-root></div>") << true << QByteArray();
    QTest::newRow("Cookiebot, by its global")
        << QByteArray("<script>window.Cookiebot = {}</script>") << true << QByteArray();

    // Rules shaped as the library's build writes them, one step each.
    const auto library = [](const QByteArray& selector) -> QByteArray {
        return "var x = 1;\nvar compact_rules_default = { v: 1, s: [" + selector
            + "], r: [[1, 'wall', 0, '', 0, 0, [{ e: 0 }], [], [], [], {}]] };\nvar y = 2;\n";
    };
    const QByteArray wall("<div id=wall data-x=a><p class=notice>Cookies</p></div>");
    QTest::newRow("selector left open") << wall << true << library(R"("#wall[data-x='a")");
    QTest::newRow("commas inside a list") << wall << true << library(R"(":is(#gone, #wall) .notice, #other")");
    QTest::newRow("escaped letters") << wall << true << library(R"('#w\x61ll')");
    QTest::newRow("escaped letters, not there") << wall << false << library(R"('#w\x61lls')");
}

void TestConsentWalls::probeFindsWhatTheRulesNeed()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, candidate);
    QFETCH(QByteArray, library);

    const auto rules = ConsentWalls::rules(m_host->shippedFilesFolder());
    QVERIFY(rules);
    const ConsentProbe probe = library.isEmpty() ? rules.value().probe : consentProbe(QString::fromUtf8(library));
    const QString path = QStringLiteral("/probe-") + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    m_server.setPage(path, "<html><body>" + body + "</body></html>");
    // Either probe's "true" gets the page the library; "sites" only sends it to the complete probe.
    const QJsonValue general = probeSays(*m_host, m_server.url(path), probe.general);
    const QJsonValue complete = probeSays(*m_host, m_server.url(path), probe.complete);
    QVERIFY2(general.isBool() || general == QLatin1String("sites"), qPrintable(general.toVariant().toString()));
    QCOMPARE(general == true, candidate);
    QCOMPARE(complete.toBool(), candidate);
    // A library whose rules cannot be read gives no probe, so every document gets the library.
    QVERIFY(consentProbe(QString::fromUtf8(library.left(library.indexOf("r: [")))).general.isEmpty());
}

QTEST_GUILESS_MAIN(TestConsentWalls)
#include "tst_consentwalls.moc"
