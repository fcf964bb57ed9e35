#pragma once

#include <array>
#include <deque>
#include <optional>
#include <vector>

#include <QList>
#include <QString>

#include "imaging/lookhash.h"

namespace Batch {

// Parked domains by their look, over one run: a parking or for-sale service shows thousands of domains
// through one template, so a page that looks near-identical to pages of at least two OTHER registrable
// domains among the run's last Window pages (three sites in all) is taken for parked. One site's pages that look alike
// are not, however many: a site's own template is no sign of parking.
//
// Titles tell a parking template from the look of sites that are not one (titles compared with case and
// runs of blanks aside):
// - a template names each domain it shows ("acme.net is for sale", or the name alone) or gives every
//   domain one title ("Domain for sale"), so pages of two sites count as one template's only when both
//   titles name their page's own registrable domain, or the titles are the same (none is a title too);
//   sites set in one theme carry titles of their own;
// - one site is often reachable under several registrable domains without a redirect (acme.com,
//   acme.co.uk, acme.de), one look on three domains. Pages of two domains are one site's aliases, as one
//   site, when the domains share their label (the name before the public suffix: "acme", an IP address
//   whole) and the pages the same title, not empty. A template that names its domains gives them titles of
//   their own, so a parking service's domains of one label still count apart.
// Measured with bench/parked/bench_aliases.cpp (README).
//
// Near-identical is a distance of at most MaxDistance of the 512 bits of Imaging::lookHash. Measured on
// pages captured by the engine as JPEG thumbnails of a 1024 x 768 view, at 120 x 90 and 240 x 180 mixed:
// one parking template with six domain names (4 to 36 characters) and prices is 9 to 27 bits apart (the
// heading and the price are all that change); ten unrelated pages are 55 to 245 apart, the nearest being
// two sparse pages (a login form, a dark banner) at 55 and four mostly-white articles set alike with other
// text at 58 to 75. 40 sits in the middle of the gap: a template's longer heading still groups, while
// articles in one style never do, since every line of text has other gaps.
//
// Scales to a run of 100,000 pages without comparing all pairs: looks are sets of structure bits, and
// near-identical ones share most of them, so each look is indexed by min-hashes of its set bits (Tables
// keys of PerTable min-hashes each); a lookup compares only the pages that share a key. Two looks with
// nine in ten bits in common share a given key with a chance of 0.9^4 = 0.66, so one of 16 keys all but
// surely; unrelated looks rarely share any.
// Many pages may share a key all the same: one site's template over thousands of its pages, or one parking
// template over thousands of domains. A key's pages are chained newest first, each link with a jump past
// the run of its domain's pages, so a page skips its own site (and the one other site it has met) at once;
// second links chain only the pages not yet parked, the only ones a newcomer can still change, and drop
// parked ones as a lookup meets them. A page's own search stops at its second other site. Still walked one
// by one: pages of other sites that share a key but are far (rare), and pages of a site that already met
// the newcomer's site.
// Only the last Window pages are kept, so that a run of any length holds the same few MB: a template that
// parks domains comes back far more often than that, and one that shows up three times in 100,000 links
// is no service worth naming. A domain is told apart by a 64-bit hash of its name, so that no table of
// names grows with the run either. Measured with bench/parked (100,000 adds, README): 0.012 to 0.017 ms
// of CPU an add whatever the shape of the run, about 410 bytes for each page kept.
// GUI thread; a plain object owned by the run.
class ParkedLooks final {
public:
    static constexpr int MaxDistance = 40;
    static constexpr int Tables = 16;
    static constexpr int PerTable = 4;
    static constexpr int Window = 10000;

    // window: the pages kept, the newest included; at least 1, at most 16,777,215.
    explicit ParkedLooks(int window = Window);

    // Adds one captured page: its key (greater than every key added before it: a page with any other is
    // not added), its site's registrable domain and its look, or nothing for a page that is nearly one
    // colour, which never counts, and its title (empty for none). Gives the keys that became parked with
    // it, earlier pages' included, each key once over the run; all of them are among the pages kept.
    QList<qint64> add(
        qint64 key, const QString& domain, const std::optional<Imaging::LookHash>& look, const QString& title = {});
    // Of the pages kept.
    bool isParked(qint64 key) const;
    qsizetype size() const { return qsizetype(m_pages.size()); }
    // The oldest page kept: no earlier key can become parked any more. Nothing before the first add.
    std::optional<qint64> firstKey() const;

private:
    // A page by its number: pages are numbered in the order added, over the whole run.
    struct Page {
        qint64 key = 0;
        quint64 domain = 0;
        // The label and title together, which aliases of one site share; 0 for a page without a title.
        quint64 alias = 0;
        quint64 title = 0;
        Imaging::LookHash look;
        // The first other site found to look like this page (0 for none); a second one parks it.
        quint64 otherDomain = 0;
        quint64 otherAlias = 0;
        // The last lookup that met this page and whether it was near, so that one found in several bands
        // is compared once.
        int seenBy = -1;
        bool parked = false;
        bool near = false;
        // The title names the page's own registrable domain.
        bool namesDomain = false;
    };

    // A page's place in one key's chain of pages, newest first; -1 or a page no longer kept ends a chain. skip: the
    // first page further on of another site. openNext and openSkip: the same among the pages not yet parked that
    // follow; a page parked since stays in that chain until a lookup passes it.
    struct Links {
        qint32 next = -1;
        qint32 skip = -1;
        qint32 openNext = -1;
        qint32 openSkip = -1;
    };

    // The newest page of each key among the pages kept: an open addressing table of 8-byte slots (the
    // key's 40 bits, the low 24 bits of the page's number, which name one page of the window), where a
    // QHash node apiece would cost several times that. Sixteen keys a page make this the largest part of
    // the index for pages of their own look.
    class Heads final {
    public:
        static constexpr quint32 PageBits = (1u << 24) - 1;
        // The low bits of the newest page's number, or nothing.
        std::optional<quint32> find(quint64 key) const;
        // Sets the newest page of key.
        void set(quint64 key, int page);
        // Forgets key if page is still its newest.
        void erase(quint64 key, int page);

    private:
        static constexpr quint64 Empty = ~quint64(0);
        size_t home(quint64 key) const;
        size_t indexOf(quint64 key) const;
        void grow();
        std::vector<quint64> m_slots;
        size_t m_used = 0;
    };

    // Where a page's links are kept: only the tables where the page had a predecessor when it came hold
    // any (in a page with a look of its own, none do), one after the other in m_links from first.
    struct Stored {
        // Counts every link stored over the run, wrapping; only its distance from the oldest kept one
        // matters.
        quint32 first = 0;
        quint16 tables = 0;
    };

    Page& page(int number) { return m_pages[size_t(number - m_first)]; }
    bool kept(int number) const { return number >= m_first; }
    // The page that key's newest page is, or -1.
    int head(quint64 key) const;
    void dropOldest();
    bool near(int page, int self);
    void meet(int page, int self, QList<qint64>& parked);
    void searchAll(size_t table, int from, int self, QList<qint64>& parked);
    void searchOpen(size_t table, int head, int self, QList<qint64>& parked);
    void noteLookalike(int page, const Page& other, QList<qint64>& parked);
    Links link(size_t table, quint64 key, int self);
    // A page's links in one table; a table where it has none gives a scratch entry of ends.
    Links& links(int page, size_t table);

    int m_window = Window;
    // The pages kept, oldest first, and the number of the first one.
    std::deque<Page> m_pages;
    std::deque<Stored> m_stored;
    int m_first = 0;
    std::deque<Links> m_links;
    quint32 m_firstLink = 0;
    Links m_none;
    Heads m_heads;
};

} // namespace Batch
