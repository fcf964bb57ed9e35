// Parking templates against one site's aliases, on pages captured by the real browser: each page is
// served on 127.0.0.1, captured as a run captures it (1024 x 768, a JPEG thumbnail), and its look and
// the title the capture read are given to one Batch::ParkedLooks under the domain the page stands for,
// in a shuffled order. Prints, for each group of pages, how many came out parked without titles (the look
// and the registrable domain alone) and with them, and how far apart the looks of each group lie.
//   pictavo-bench-aliases
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>

#include <QCoreApplication>
#include <QImage>

#include "batch/parkedlooks.h"
#include "capture/browserhost.h"
#include "capture/htmlsnap.h"
#include "capturetestsupport.h"
#include "imaging/lookhash.h"
#include "testhttpserver.h"

namespace {

struct Page {
    QByteArray kind;
    // The template or the site the page belongs to.
    QByteArray group;
    QString domain;
    QByteArray html;
    std::optional<Imaging::LookHash> look;
    QString title;
};

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

// A for-sale lander: the domain in the heading and the title, a price.
QByteArray marketLander(const QByteArray& domain, int price)
{
    return "<title>" + domain
        + " is for sale</title><body style='margin:0;font-family:sans-serif;background:#f4f6f8'>"
          "<div style='background:#1b3a5c;color:#fff;padding:18px 40px;font-size:22px'>DomainMarket</div>"
          "<div style='text-align:center;padding:50px'><h1 style='font-size:44px;color:#1b3a5c'>"
        + domain
        + "</h1><p style='font-size:22px'>This domain is for sale!</p><div style='font-size:36px;color:#2a8a2a'>$"
        + QByteArray::number(price)
        + "</div><p><b style='background:#e67e22;color:#fff;padding:14px 40px;font-size:22px'>Buy now</b></p></div>";
}

// A parking page of sponsored searches: the domain small at the top and as the title, the same searches.
QByteArray searchLander(const QByteArray& domain)
{
    QByteArray links;
    for (const char* search : { "Cheap Flights", "Car Insurance", "Online Degrees", "Web Hosting", "Credit Cards" })
        links += "<div style='margin:14px auto;width:520px;padding:16px;background:#fff;border:1px solid #ccd;"
                 "font-size:22px;color:#1a0dab'>"
            + QByteArray(search) + " &rsaquo;</div>";
    return "<title>" + domain + "</title><body style='margin:0;font-family:arial;background:#eef1f5'>"
        + "<div style='padding:20px;font-size:18px;color:#555'>" + domain
        + "</div><h2 style='text-align:center;color:#333'>Related Searches</h2>" + links
        + "<p style='text-align:center;font-size:12px;color:#999'>Privacy Policy</p>";
}

// A registrar's lander that names nothing: one title, one picture, on every domain it holds.
QByteArray genericLander()
{
    return "<title>Domain for sale</title><body style='margin:0;background:#fff;font-family:sans-serif;"
           "text-align:center'><div style='height:260px;background:linear-gradient(#6a5acd,#483d8b)'></div>"
           "<h1 style='font-size:40px;color:#333'>This domain may be for sale</h1><p style='font-size:20px;"
           "color:#666'>Contact the owner to make an offer.</p><b style='background:#483d8b;color:#fff;"
           "padding:14px 40px;font-size:20px'>Make an offer</b>";
}

QByteArray companySite()
{
    return "<title>Acme Tools - Hand tools since 1921</title><body style='margin:0;font-family:serif'>"
           "<div style='background:#b22222;color:#fff;padding:20px 40px;font-size:30px'>ACME TOOLS</div>"
           "<div style='display:flex'><div style='padding:30px;flex:2'><h1>"
        + words(21, 5) + "</h1><p>" + words(22, 160) + "</p></div><div style='flex:1;padding:30px;background:#eee'><h3>"
        + words(23, 3) + "</h3><p>" + words(24, 60) + "</p></div></div>";
}

QByteArray shopSite()
{
    QByteArray tiles;
    for (int i = 0; i < 8; ++i)
        tiles += "<div><div style='height:150px;background:hsl(" + QByteArray::number(i * 45) + ",50%,60%)'></div><p>"
            + words(30 + quint32(i), 3) + "<br><b>" + QByteArray::number(9 + i * 7) + ".99</b></p></div>";
    return "<title>Northwind Traders | Shop</title><body style='margin:0;font-family:sans-serif'><div "
           "style='padding:16px 30px;border-bottom:1px solid #ddd;font-size:24px'>Northwind Traders</div><div "
           "style='display:grid;grid-template-columns:repeat(4,1fr);gap:20px;padding:20px 30px'>"
        + tiles + "</div>";
}

QByteArray landingSite()
{
    return "<title>Blue Harbour Sailing School</title><body style='margin:0;background:#0b2545;color:#fff;"
           "font:26px sans-serif;text-align:center'><div style='padding:120px 80px'><h1 style='font-size:54px'>"
           "Learn to sail this summer</h1><p>"
        + words(41, 24) + "</p><p><b style='background:#13c4a3;padding:18px 40px'>Book a course</b></p></div>";
}

QByteArray loginSite()
{
    return "<title>Ledger - Sign in</title><body style='background:#e8f0fe;font-family:sans-serif'><form "
           "style='margin:160px auto;width:320px;background:#fff;padding:30px'><h2>Sign in to Ledger</h2><input>"
           "<br><br><input type=password><br><br><button>Log in</button><p style='font-size:12px'>"
        + words(51, 14) + "</p></form>";
}

QList<Page> pages()
{
    QList<Page> all;
    const auto add = [&all](const char* kind, const char* group, const char* domain, const QByteArray& html) {
        all.append({ kind, group, QString::fromLatin1(domain), html, std::nullopt, {} });
    };
    int price = 500;
    for (const char* domain : { "x7.io", "cheap-flights-now.com", "mountainbikes.de", "holiday-cottages.co.uk" })
        add("parking", "market", domain, marketLander(domain, price += 3791));
    for (const char* domain : { "bestgardentools.net", "kitchenwarehouse.com", "old-radio.org", "jazz.nl" })
        add("parking", "searches", domain, searchLander(domain));
    // Two of one label among them: parked domains may share a name too.
    for (const char* domain : { "photoblog.info", "tinyshop.fr", "acme.net", "acme.org" })
        add("parking", "generic", domain, genericLander());
    for (const char* domain : { "acme.com", "acme.co.uk", "acme.de" })
        add("alias", "company", domain, companySite());
    for (const char* domain : { "northwind.com", "northwind.fr", "northwind.es" })
        add("alias", "shop", domain, shopSite());
    // The third name has another label: the rule cannot know it for the same site.
    for (const char* domain : { "blue-harbour.com", "blue-harbour.net", "blueharbour.org" })
        add("alias", "landing", domain, landingSite());
    for (const char* domain : { "ledger-app.io", "ledger-app.com", "ledger-app.eu" })
        add("alias", "login", domain, loginSite());
    for (quint32 seed = 1; seed <= 6; ++seed) {
        const QByteArray article = "<title>" + words(seed * 3, 4) + "</title><h1>" + words(seed, 4) + "</h1><p>"
            + words(seed * 7, 20 + int(seed) * 30) + "</p><p>" + words(seed * 13, 150 - int(seed) * 20) + "</p>";
        all.append({ "other", "article", QStringLiteral("site%1.com").arg(seed), article, std::nullopt, {} });
    }
    return all;
}

void parkedCounts(const QList<Page>& pages, bool titles)
{
    Batch::ParkedLooks looks;
    for (int i = 0; i < pages.size(); ++i)
        looks.add(i, pages[i].domain, pages[i].look, titles ? pages[i].title : QString());
    for (const char* group : { "market", "searches", "generic", "company", "shop", "landing", "login", "article" }) {
        int count = 0;
        int parked = 0;
        QByteArray kind;
        for (int i = 0; i < pages.size(); ++i) {
            if (pages[i].group == group) {
                kind = pages[i].kind;
                ++count;
                parked += looks.isParked(i);
            }
        }
        std::printf("  %-8s %-9s %d of %d parked\n", kind.constData(), group, parked, count);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CaptureTest::TestHttpServer server;
    if (!server.listen())
        return 1;
    auto host = std::make_unique<Capture::BrowserHost>(CaptureTest::testBrowserOptions());
    QList<Page> all = pages();
    for (int i = 0; i < all.size(); ++i) {
        const QString path = QStringLiteral("/page%1").arg(i);
        server.setPage(path, all[i].html);
        // Thumbnails of both sizes, as runs with other settings make them.
        const QSize thumb = i % 3 == 1 ? QSize(120, 90) : QSize(240, 180);
        Capture::HtmlSnap snap(host.get());
        snap.SetTimeOut(20000);
        snap.SetAsync(1);
        snap.SetSnapDimension(1024, 768);
        snap.EnableSnapDimensionAsImageSize(1);
        snap.setThumbnailHint(thumb);
        if (CaptureTest::capture(snap, server.url(path)).code != 1) {
            std::fprintf(stderr, "%s: not captured\n", qPrintable(all[i].domain));
            return 1;
        }
        const auto bytes = snap.GetThumbImageBytes(QStringLiteral("*.jpg"), thumb.width(), thumb.height(), 0);
        if (bytes.ok())
            all[i].look = Imaging::lookHash(QImage::fromData(bytes.value(), "jpeg"));
        all[i].title = snap.pageFacts().title;
    }

    std::printf("Distances between the looks of each group (bits of %d):\n", Imaging::LookHash::Bits);
    for (int i = 0; i < all.size(); ++i) {
        if (i > 0 && all[i].group == all[i - 1].group)
            continue;
        int nearest = Imaging::LookHash::Bits;
        int farthest = 0;
        int elsewhere = Imaging::LookHash::Bits;
        for (int a = 0; a < all.size(); ++a) {
            for (int b = 0; b < all.size(); ++b) {
                if (a == b || !all[a].look || !all[b].look || all[a].group != all[i].group)
                    continue;
                const int distance = all[a].look->distance(*all[b].look);
                if (all[b].group == all[i].group) {
                    nearest = std::min(nearest, distance);
                    farthest = std::max(farthest, distance);
                } else {
                    elsewhere = std::min(elsewhere, distance);
                }
            }
        }
        std::printf("  %-8s %-9s %3d to %3d apart; other pages at least %3d; title \"%s\"\n", all[i].kind.constData(),
            all[i].group.constData(), nearest, farthest, elsewhere, qPrintable(all[i].title));
    }
    // Any order a run may meet them in.
    std::mt19937 random(11);
    std::shuffle(all.begin(), all.end(), random);
    std::printf("Look and domain alone:\n");
    parkedCounts(all, false);
    std::printf("With the titles:\n");
    parkedCounts(all, true);
    return 0;
}
