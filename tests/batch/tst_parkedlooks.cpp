#include <algorithm>
#include <memory>
#include <random>

#include <QtTest>

#include "batch/parkedlooks.h"
#include "capture/browserhost.h"
#include "capture/htmlsnap.h"
#include "capturetestsupport.h"
#include "imaging/lookhash.h"
#include "testhttpserver.h"

using namespace CaptureTest;
using namespace Qt::StringLiterals;

namespace {

QByteArray words(quint32 seed, int count)
{
    static const char* const vocabulary[] = { "the", "garden", "of", "a", "remarkably", "quiet", "morning", "in",
        "history", "river", "collection", "seven", "mountains", "and", "library", "to", "engineering", "by", "old" };
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += QByteArray(vocabulary[(seed >> 16) % std::size(vocabulary)]) + ' ';
    }
    return text;
}

QByteArray parkingPage(const QByteArray& domain, int price)
{
    return "<body style='margin:0;font-family:sans-serif;background:#f4f6f8'><div style='background:#1b3a5c;color:#fff;"
           "padding:18px 40px;font-size:22px'>DomainMarket</div><div style='text-align:center;padding:50px'>"
           "<h1 style='font-size:44px;color:#1b3a5c'>"
        + domain
        + "</h1><p style='font-size:22px'>This domain is for sale!</p><div style='font-size:36px;color:#2a8a2a'>$"
        + QByteArray::number(price)
        + "</div><p><b style='background:#e67e22;color:#fff;padding:14px 40px;font-size:22px'>Buy now</b></p></div>"
          "<div style='display:flex;gap:30px;padding:0 40px'><p style='flex:1;height:120px;background:#dde4ea'>"
          "<p style='flex:1;background:#dde4ea'><p style='flex:1;background:#dde4ea'></div>";
}

// Unrelated pages: articles set alike with other text, and other layouts.
QList<QByteArray> unrelatedPages()
{
    QList<QByteArray> pages;
    for (quint32 seed : { 1u, 2u, 3u, 4u })
        pages << "<h1>" + words(seed, 4) + "</h1><p>" + words(seed * 7, 20 + int(seed) * 30) + "</p><p>"
                + words(seed * 13, 150 - int(seed) * 20) + "</p><p>" + words(seed * 5, 60) + "</p>";
    pages << "<body style='margin:0 300px'><h2>" + words(9, 3) + "</h2><p>" + words(10, 250) + "</p>";
    pages << "<body style='margin:0;display:flex'><div style='width:220px;height:760px;background:#333'></div>"
             "<div style='padding:20px'><h1>"
            + words(11, 3) + "</h1><p>" + words(12, 200) + "</p></div>";
    pages << "<body style='margin:0;background:#101828;color:#fff;text-align:center;font:30px sans-serif'>"
             "<div style='padding:150px'>"
            + words(13, 8) + "<p><b style='background:#7c3aed;padding:20px'>Start</b></div>";
    pages << "<body style='margin:0;display:grid;grid-template-columns:repeat(4,1fr);gap:12px'>"
            + QByteArray("<div style='height:180px;background:#c0392b'></div><div style='background:#27ae60'></div>"
                         "<div style='background:#2980b9'></div><div style='background:#f1c40f'></div>")
                  .repeated(3);
    pages << "<table border=1 style='width:100%;font-size:18px'>"
            + QByteArray("<tr><td>" + words(14, 2) + "<td>" + words(15, 3) + "<td>42</tr>").repeated(24) + "</table>";
    pages << "<body style='background:#e8f0fe'><form style='margin:200px auto;width:300px;background:#fff;"
             "padding:30px'><h2>Sign in</h2><input><br><br><input><br><br><button>Log in</button></form>";
    return pages;
}

} // namespace

class TestParkedLooks final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void templateAcrossSites_data();
    void templateAcrossSites();
    void unrelatedPagesNeverParked();
    void longRunWithinWindow_data();
    void longRunWithinWindow();

private:
    std::optional<Imaging::LookHash> captureLook(const QByteArray& html, QSize thumb = QSize(240, 180));

    std::unique_ptr<Capture::BrowserHost> m_host;
    std::unique_ptr<TestHttpServer> m_server;
    qint64 m_browserPid = 0;
    int m_pages = 0;
};

void TestParkedLooks::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_host = std::make_unique<Capture::BrowserHost>(testBrowserOptions());
    connect(m_host.get(), &Capture::BrowserHost::browserStarted, this, [this] { m_browserPid = m_host->processId(); });
}

void TestParkedLooks::cleanupTestCase()
{
    m_host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(processGroupGone(m_browserPid), 10000);
}

std::optional<Imaging::LookHash> TestParkedLooks::captureLook(const QByteArray& html, QSize thumb)
{
    const QString path = QStringLiteral("/page%1").arg(++m_pages);
    m_server->setPage(path, html);
    Capture::HtmlSnap snap(m_host.get());
    snap.SetTimeOut(20000);
    snap.SetAsync(1);
    snap.SetSnapDimension(1024, 768);
    snap.EnableSnapDimensionAsImageSize(1);
    snap.setThumbnailHint(thumb);
    if (capture(snap, m_server->url(path)).code != 1)
        return std::nullopt;
    const auto bytes = snap.GetThumbImageBytes(QStringLiteral("*.jpg"), thumb.width(), thumb.height(), 0);
    return bytes.ok() ? Imaging::lookHash(QImage::fromData(bytes.value(), "jpeg")) : std::nullopt;
}

void TestParkedLooks::templateAcrossSites_data()
{
    QTest::addColumn<QStringList>("sites");
    QTest::addColumn<int>("parked");
    // Every page's title, "%1" standing for its site and "%2" for its number.
    QTest::addColumn<QString>("title");
    // -1: captured parking pages; else made-up looks, the first page this many bits from the others.
    QTest::addColumn<int>("apart");
    const auto row = [](const char* name, const QStringList& sites, int parked, const QString& title = {},
                         int apart = -1) { QTest::newRow(name) << sites << parked << title << apart; };
    const auto list = [](const char* sites) { return QString::fromUtf8(sites).split(u' '); };
    row("three sites", list("a.com b.net c.co.uk"), 3);
    row("two sites", list("a.com b.net b.net"), 0);
    row("one site thrice", list("a.com a.com a.com"), 0);
    const QString site = QStringLiteral("a.com");
    row("two sites after a large site", QStringList(40, site) << u"b.net"_s << u"c.org"_s, 42);
    row("large site between two", QStringList { u"b.net"_s } + QStringList(30, site) << u"c.org"_s, 32);
    row("large site, one other", QStringList(30, site) << u"b.net"_s << u"b.net"_s, 0);
    row("two sites, many pages each", QStringList(20, site) + QStringList(20, u"b.net"_s) << site, 0);
    row("parked template again and again", list("a.com b.net c.org d.de e.fr f.it c.org g.nl"), 8);
    row("one site under three names", list("acme.com acme.co.uk acme.de"), 0, u"Acme  TOOLS"_s);
    row("aliases and two other sites", list("acme.com acme.de b.net c.org"), 4, u"Acme"_s);
    row("one label, titles name the domain", list("acme.com acme.co.uk acme.de"), 3, u"%1 is for sale"_s);
    row("one title on other labels", list("10.0.0.1 10.0.0.2 c.co.uk"), 3, u"Domain for sale"_s);
    row("one theme, titles of their own", list("a.com b.net c.org"), 0, u"Club %2"_s);
    row("names ending inside others", list("a.co b.co c.co"), 0, u"%1mpany %2"_s);
    row("names starting inside others", list("a.co b.co c.co"), 0, u"d%1 %2"_s);
    row("at the distance", list("a.com b.net c.org"), 3, {}, Batch::ParkedLooks::MaxDistance);
    row("a bit beyond", list("a.com b.net c.org"), 0, {}, Batch::ParkedLooks::MaxDistance + 1);
}

void TestParkedLooks::templateAcrossSites()
{
    QFETCH(QStringList, sites);
    QFETCH(int, parked);
    QFETCH(QString, title);
    QFETCH(int, apart);
    const QList<QByteArray> names { "x.io", "the-best-holiday-cottages-online.net", "mountainbikes.de" };
    QList<std::optional<Imaging::LookHash>> captured;
    for (int i = 0; i < names.size() && apart < 0; ++i) {
        // Other names, prices and thumbnail sizes: all that a parking service's pages differ in.
        captured << captureLook(parkingPage(names[i], 500 + i * 3791), i == 1 ? QSize(120, 90) : QSize(240, 180));
        QVERIFY(captured.last());
    }
    if (apart >= 0) {
        Imaging::LookHash look;
        std::generate(look.words.begin(), look.words.end(), std::mt19937_64(3));
        captured << look;
        for (int bit = 0; bit < apart; ++bit)
            look.words[size_t(bit / 64)] ^= quint64(1) << (bit % 64);
        captured << look << look;
    }
    Batch::ParkedLooks looks;
    QList<qint64> found;
    for (int i = 0; i < sites.size(); ++i)
        found += looks.add(i, sites[i], captured[i % captured.size()],
            QString(title).replace(u"%1"_s, sites[i]).replace(u"%2"_s, QString::number(i)));
    QCOMPARE(found.size(), parked);
    QCOMPARE(looks.isParked(0), parked > 0);
}

void TestParkedLooks::unrelatedPagesNeverParked()
{
    Batch::ParkedLooks looks;
    const QList<QByteArray> pages = unrelatedPages();
    std::optional<Imaging::LookHash> look;
    for (int i = 0; i < pages.size(); ++i) {
        look = captureLook(pages[i]);
        QVERIFY2(look, qPrintable(QString::number(i)));
        QCOMPARE(looks.add(i, QStringLiteral("site%1.com").arg(i), look), QList<qint64>());
    }
    // A key already used is not a page of its own.
    QVERIFY(looks.add(pages.size() - 1, QStringLiteral("other.com"), look).isEmpty());
    // Blank pages share every look but never count.
    const QByteArray blank = "<body style='background:#fafafa'><p style='font-size:8px'>.</p>";
    for (int i = 0; i < 3; ++i)
        QVERIFY(looks.add(pages.size() + i, QStringLiteral("b%1.com").arg(i), captureLook(blank)).isEmpty());
    QCOMPARE(looks.size(), pages.size());
}

void TestParkedLooks::longRunWithinWindow_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("every");
    QTest::addColumn<int>("parked");
    // 3,000 pages, every n-th one a parking template on a domain of its own, the rest unrelated.
    QTest::newRow("template often enough") << 100 << 30 << 100;
    QTest::newRow("template too rare for the window") << 100 << 150 << 0;
    // A page with a lookalike on either side within the window: all but the first and the last.
    QTest::newRow("lookalikes just within") << 100 << 99 << 28;
    QTest::newRow("lookalikes just out of reach") << 100 << 100 << 0;
    QTest::newRow("window longer than the run") << 5000 << 999 << 3;
}

void TestParkedLooks::longRunWithinWindow()
{
    QFETCH(int, window);
    QFETCH(int, every);
    QFETCH(int, parked);
    std::mt19937_64 random(7);
    const auto sparse = [&random] {
        Imaging::LookHash look;
        for (quint64& word : look.words)
            word = random() & random();
        return look;
    };
    const Imaging::LookHash parking = sparse();
    Batch::ParkedLooks looks(window);
    qsizetype found = 0;
    for (int i = 1; i <= 3000; ++i) {
        Imaging::LookHash look = i % every ? sparse() : parking;
        if (i % every == 0) {
            // Another name and price: a few bits elsewhere.
            for (int flip = 0; flip < 6; ++flip)
                look.words[random() % look.words.size()] ^= quint64(1) << (random() % 64);
        }
        found += looks.add(i, QStringLiteral("site%1.com").arg(i), look).size();
        QVERIFY(looks.size() <= window);
    }
    QCOMPARE(found, parked);
}

QTEST_GUILESS_MAIN(TestParkedLooks)
#include "tst_parkedlooks.moc"
