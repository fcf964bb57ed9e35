#include "batch/parkedlooks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <random>

#include <QHashFunctions>
#include <QUrl>

namespace Batch {

namespace {

    constexpr int Functions = ParkedLooks::Tables * ParkedLooks::PerTable;

    // A fixed random rank of every bit position for each min-hash function; fixed seed, so a run's
    // buckets never depend on the machine (mt19937's raw output is the same everywhere).
    using Ranks = std::array<std::array<quint32, Imaging::LookHash::Bits>, Functions>;
    const Ranks& ranks()
    {
        static const Ranks table = [] {
            Ranks r {};
            std::mt19937 generator(20240611u);
            for (auto& function : r) {
                for (quint32& rank : function)
                    rank = quint32(generator());
            }
            return r;
        }();
        return table;
    }

    // A key must fit the 40 bits a head's slot gives it: 9 bits a position, 4 for the table.
    static_assert(Imaging::LookHash::Bits <= 512 && ParkedLooks::Tables <= 16 && ParkedLooks::PerTable * 9 <= 36);

    // One key per table: PerTable min-hashes of the look's set bits, packed, and the table's number.
    std::array<quint64, ParkedLooks::Tables> tableKeys(const Imaging::LookHash& look)
    {
        std::array<quint32, Functions> smallest;
        smallest.fill(0xffffffffu);
        std::array<int, Functions> argmin {};
        const Ranks& table = ranks();
        for (int bit = 0; bit < Imaging::LookHash::Bits; ++bit) {
            if (!(look.words[size_t(bit / 64)] >> (bit % 64) & 1u))
                continue;
            for (size_t f = 0; f < Functions; ++f) {
                if (table[f][size_t(bit)] < smallest[f]) {
                    smallest[f] = table[f][size_t(bit)];
                    argmin[f] = bit;
                }
            }
        }
        std::array<quint64, ParkedLooks::Tables> keys {};
        for (size_t t = 0; t < keys.size(); ++t) {
            for (size_t i = 0; i < ParkedLooks::PerTable; ++i)
                keys[t] = keys[t] << 9 | quint64(argmin[t * ParkedLooks::PerTable + i]);
            // The table's number too, so that one table of heads serves all sixteen.
            keys[t] |= quint64(t) << 36;
        }
        return keys;
    }

    // The name before the public suffix; an IP address (its last part a number, or an IPv6 one) whole.
    QStringView labelOf(QStringView domain)
    {
        const qsizetype dot = domain.indexOf(u'.');
        const QStringView last = domain.mid(domain.lastIndexOf(u'.') + 1);
        const bool address
            = domain.contains(u':') || std::all_of(last.begin(), last.end(), [](QChar c) { return c.isDigit(); });
        return dot < 0 || address ? domain : domain.left(dot);
    }

    quint64 aliasOf(const QString& domain, const QString& shown)
    {
        if (shown.isEmpty())
            return 0;
        const QString named = labelOf(domain).toString() + QLatin1Char('\n') + shown;
        return std::max<quint64>(1, qHash(named, 0));
    }

    // The domain as a name of its own in the title, its subdomains' too: "x7.io" is named in "www.x7.io is
    // for sale.", "a.co" not in "a.company" nor in "data.co".
    bool namesDomain(const QString& shown, const QString& domain)
    {
        const auto inName = [&shown](qsizetype at) {
            return at >= 0 && at < shown.size() && (shown[at].isLetterOrNumber() || shown[at] == u'-');
        };
        for (const QString& name : { domain.toCaseFolded(), QUrl::fromAce(domain.toLatin1()).toCaseFolded() }) {
            for (qsizetype at = shown.indexOf(name); !name.isEmpty() && at >= 0; at = shown.indexOf(name, at + 1)) {
                const qsizetype end = at + name.size();
                if (!inName(at - 1) && !inName(end) && !(end < shown.size() && shown[end] == u'.' && inName(end + 1)))
                    return true;
            }
        }
        return false;
    }

    // Pages of one registrable domain, or aliases of one site; zeros are no site and never match.
    bool oneSite(quint64 domain, quint64 alias, quint64 otherDomain, quint64 otherAlias)
    {
        return (domain != 0 && domain == otherDomain) || (alias != 0 && alias == otherAlias);
    }

} // namespace

ParkedLooks::ParkedLooks(int window)
    : m_window(std::clamp(window, 1, int(Heads::PageBits)))
{
}

QList<qint64> ParkedLooks::add(
    qint64 key, const QString& domain, const std::optional<Imaging::LookHash>& look, const QString& title)
{
    QList<qint64> parked;
    if (!look || (!m_pages.empty() && key <= m_pages.back().key))
        return parked;
    while (m_pages.size() >= size_t(m_window))
        dropOldest();
    const int self = m_first + int(m_pages.size());
    // Zero stands for no domain.
    const QString shown = title.simplified().toCaseFolded();
    m_pages.push_back({ key, std::max<quint64>(1, qHash(domain, 0)), aliasOf(domain, shown), qHash(shown, 0), *look });
    m_pages.back().namesDomain = namesDomain(shown, domain);
    m_stored.push_back({});

    const auto keys = tableKeys(*look);
    // The page's own state first: two other sites settle it, wherever they are found.
    for (size_t t = 0; t < keys.size() && !page(self).parked; ++t)
        searchAll(t, head(keys[t]), self, parked);
    // Then every earlier page that this site may still change.
    for (size_t t = 0; t < keys.size(); ++t)
        searchOpen(t, head(keys[t]), self, parked);
    // Its own links last: until then the searches see it in no chain.
    std::array<Links, Tables> own;
    for (size_t t = 0; t < keys.size(); ++t)
        own[t] = link(t, keys[t], self);
    Stored& stored = m_stored.back();
    stored.first = m_firstLink + quint32(m_links.size());
    for (size_t t = 0; t < own.size(); ++t) {
        if (kept(own[t].next)) {
            stored.tables |= quint16(1u << t);
            m_links.push_back(own[t]);
        }
    }
    return parked;
}

bool ParkedLooks::isParked(qint64 key) const
{
    const auto found = std::lower_bound(
        m_pages.begin(), m_pages.end(), key, [](const Page& page, qint64 value) { return page.key < value; });
    return found != m_pages.end() && found->key == key && found->parked;
}

std::optional<qint64> ParkedLooks::firstKey() const
{
    return m_pages.empty() ? std::nullopt : std::optional(m_pages.front().key);
}

int ParkedLooks::head(quint64 key) const
{
    const std::optional<quint32> low = m_heads.find(key);
    if (!low)
        return -1;
    // The one kept page whose number ends in these bits: the window is shorter than their range.
    const int newest = m_first + int(m_pages.size()) - 1;
    return newest - int((quint32(newest) - *low) & Heads::PageBits);
}

void ParkedLooks::dropOldest()
{
    // A chain that reaches the page ends there from now on; a key whose newest page it is has none left.
    for (const quint64 key : tableKeys(m_pages.front().look))
        m_heads.erase(key, m_first);
    const int links = std::popcount(m_stored.front().tables);
    m_links.erase(m_links.begin(), m_links.begin() + links);
    m_firstLink += quint32(links);
    m_pages.pop_front();
    m_stored.pop_front();
    ++m_first;
}

ParkedLooks::Links& ParkedLooks::links(int number, size_t table)
{
    const Stored& stored = m_stored[size_t(number - m_first)];
    const unsigned bit = 1u << table;
    if (!(stored.tables & bit)) {
        // A page that came first with its key ends every chain of that table; nothing ever links past it.
        m_none = Links {};
        return m_none;
    }
    return m_links[size_t(stored.first - m_firstLink) + size_t(std::popcount(stored.tables & (bit - 1)))];
}

bool ParkedLooks::near(int index, int self)
{
    Page& other = page(index);
    if (other.seenBy != self) {
        const Page& me = page(self);
        other.seenBy = self;
        // A parking template names each domain it shows, or says the same on all of them; sites set in one
        // theme carry titles of their own.
        const bool oneTemplate = (me.namesDomain && other.namesDomain) || me.title == other.title;
        other.near = oneTemplate && other.look.distance(me.look) <= MaxDistance;
    }
    return other.near;
}

void ParkedLooks::meet(int index, int self, QList<qint64>& parked)
{
    noteLookalike(index, page(self), parked);
    noteLookalike(self, page(index), parked);
}

void ParkedLooks::searchAll(size_t table, int from, int self, QList<qint64>& parked)
{
    const Page& me = page(self);
    for (int index = from; kept(index) && !me.parked;) {
        const quint64 site = page(index).domain;
        if (site == me.domain || site == me.otherDomain) {
            index = links(index, table).skip;
            continue;
        }
        // An alias is walked past one by one: a jump passes a run of one domain, which need not be one alias.
        const Page& other = page(index);
        if (!oneSite(me.domain, me.alias, other.domain, other.alias)
            && !oneSite(me.otherDomain, me.otherAlias, other.domain, other.alias) && near(index, self))
            meet(index, self, parked);
        index = links(index, table).next;
    }
}

void ParkedLooks::searchOpen(size_t table, int head, int self, QList<qint64>& parked)
{
    if (!kept(head))
        return;
    const quint64 site = page(self).domain;
    // The link that leads to the page at hand from a page still in the chain, while known (a jump leaves
    // the pages it passes, and so the one before, unknown): a parked page is dropped through it. The
    // newest page holds the chain's start, parked or not.
    qint32* before = &links(head, table).openNext;
    int index = page(head).parked ? *before : head;
    while (kept(index)) {
        const Page& other = page(index);
        Links& at = links(index, table);
        if (other.parked) {
            if (before)
                *before = at.openNext;
            index = at.openNext;
            continue;
        }
        if (other.domain == site) {
            before = nullptr;
            index = at.openSkip;
            continue;
        }
        const Page& me = page(self);
        if (!oneSite(me.domain, me.alias, other.domain, other.alias)
            && !oneSite(other.otherDomain, other.otherAlias, me.domain, me.alias) && near(index, self))
            meet(index, self, parked);
        before = &at.openNext;
        index = at.openNext;
    }
}

ParkedLooks::Links ParkedLooks::link(size_t table, quint64 key, int self)
{
    const int newest = head(key);
    m_heads.set(key, self);
    Links own;
    if (!kept(newest))
        return own;
    const quint64 site = page(self).domain;
    // Pages are only ever added at the head and dropped, so a jump past a run of one site stays one.
    const auto skipFrom = [&](int first, qint32 Links::*skip) {
        return kept(first) && page(first).domain == site ? links(first, table).*skip : first;
    };
    own.next = newest;
    own.skip = skipFrom(newest, &Links::skip);
    own.openNext = page(newest).parked ? links(newest, table).openNext : newest;
    own.openSkip = skipFrom(own.openNext, &Links::openSkip);
    return own;
}

void ParkedLooks::noteLookalike(int index, const Page& other, QList<qint64>& parked)
{
    Page& found = page(index);
    if (found.parked || oneSite(found.otherDomain, found.otherAlias, other.domain, other.alias))
        return;
    if (found.otherDomain == 0) {
        found.otherDomain = other.domain;
        found.otherAlias = other.alias;
        return;
    }
    found.parked = true;
    parked.append(found.key);
}

size_t ParkedLooks::Heads::home(quint64 key) const
{
    // Fibonacci hashing: the top bits of the product depend on every bit of the packed positions.
    return size_t((key * 0x9e3779b97f4a7c15ull) >> (64 - std::countr_zero(m_slots.size())));
}

size_t ParkedLooks::Heads::indexOf(quint64 key) const
{
    const size_t mask = m_slots.size() - 1;
    size_t index = home(key);
    while (m_slots[index] != Empty && m_slots[index] >> 24 != key)
        index = (index + 1) & mask;
    return index;
}

std::optional<quint32> ParkedLooks::Heads::find(quint64 key) const
{
    if (m_slots.empty())
        return std::nullopt;
    const quint64 slot = m_slots[indexOf(key)];
    return slot == Empty ? std::nullopt : std::optional(quint32(slot & PageBits));
}

void ParkedLooks::Heads::set(quint64 key, int page)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        grow();
    quint64& slot = m_slots[indexOf(key)];
    if (slot == Empty)
        ++m_used;
    slot = key << 24 | (quint32(page) & PageBits);
}

void ParkedLooks::Heads::erase(quint64 key, int page)
{
    if (m_slots.empty())
        return;
    const size_t mask = m_slots.size() - 1;
    size_t hole = indexOf(key);
    if (m_slots[hole] == Empty || (m_slots[hole] & PageBits) != (quint32(page) & PageBits))
        return;
    --m_used;
    // Moves back every later slot of the probe run that may sit in the hole, so that no lookup stops short
    // at an empty slot before its key.
    for (size_t next = (hole + 1) & mask; m_slots[next] != Empty; next = (next + 1) & mask) {
        const size_t wanted = home(m_slots[next] >> 24);
        // The slot may move when the hole lies on its way from where it belongs: cyclically in [wanted, next).
        if (((next - wanted) & mask) >= ((next - hole) & mask)) {
            m_slots[hole] = m_slots[next];
            hole = next;
        }
    }
    m_slots[hole] = Empty;
}

void ParkedLooks::Heads::grow()
{
    std::vector<quint64> old(std::max<size_t>(1024, m_slots.size() * 2), Empty);
    old.swap(m_slots);
    for (const quint64 slot : old) {
        if (slot != Empty)
            m_slots[indexOf(slot >> 24)] = slot;
    }
}

} // namespace Batch
