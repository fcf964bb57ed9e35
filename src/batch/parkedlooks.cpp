#include "batch/parkedlooks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <random>

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

    // One key per table: PerTable min-hashes of the look's set bits, packed.
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
        }
        return keys;
    }

} // namespace

QList<qint64> ParkedLooks::add(qint64 key, const QString& domain, const std::optional<Imaging::LookHash>& look)
{
    QList<qint64> parked;
    if (!look || (!m_pages.empty() && key <= m_pages.back().key) || m_pages.size() >= size_t(Heads::MaxPages))
        return parked;
    const int self = int(m_pages.size());
    if (!m_domains.contains(domain))
        m_domains.insert(domain, int(m_domains.size()));
    m_pages.push_back({ key, m_domains.value(domain), *look });
    m_stored.push_back({});

    // Each key carries its table's number, so that one table of heads serves all sixteen.
    auto keys = tableKeys(*look);
    for (size_t t = 0; t < keys.size(); ++t)
        keys[t] |= quint64(t) << 36;
    // The page's own state first: two other sites settle it, wherever they are found.
    for (size_t t = 0; t < keys.size() && !m_pages[size_t(self)].parked; ++t)
        searchAll(t, m_heads.find(keys[t]), self, parked);
    // Then every earlier page that this site may still change.
    for (size_t t = 0; t < keys.size(); ++t)
        searchOpen(t, m_heads.find(keys[t]), self, parked);
    // Its own links last: until then the searches see it in no chain.
    std::array<Links, Tables> own;
    for (size_t t = 0; t < keys.size(); ++t)
        own[t] = link(t, keys[t], self);
    Stored& stored = m_stored.back();
    stored.first = qint32(m_links.size());
    for (size_t t = 0; t < own.size(); ++t) {
        if (own[t].next >= 0) {
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

ParkedLooks::Links& ParkedLooks::links(int page, size_t table)
{
    const Stored& stored = m_stored[size_t(page)];
    const unsigned bit = 1u << table;
    if (!(stored.tables & bit)) {
        // A page that came first with its key ends every chain of that table; nothing ever links past it.
        m_none = Links {};
        return m_none;
    }
    return m_links[size_t(stored.first) + size_t(std::popcount(stored.tables & (bit - 1)))];
}

bool ParkedLooks::near(int index, int self)
{
    Page& page = m_pages[size_t(index)];
    if (page.seenBy != self) {
        page.seenBy = self;
        page.near = page.look.distance(m_pages[size_t(self)].look) <= MaxDistance;
    }
    return page.near;
}

void ParkedLooks::meet(int index, int self, QList<qint64>& parked)
{
    noteLookalike(index, m_pages[size_t(self)].domain, parked);
    noteLookalike(self, m_pages[size_t(index)].domain, parked);
}

void ParkedLooks::searchAll(size_t table, int from, int self, QList<qint64>& parked)
{
    const Page& me = m_pages[size_t(self)];
    for (int index = from; index >= 0 && !me.parked;) {
        const int site = m_pages[size_t(index)].domain;
        if (site == me.domain || site == me.otherDomain) {
            index = links(index, table).skip;
            continue;
        }
        if (near(index, self))
            meet(index, self, parked);
        index = links(index, table).next;
    }
}

void ParkedLooks::searchOpen(size_t table, int head, int self, QList<qint64>& parked)
{
    if (head < 0)
        return;
    const int site = m_pages[size_t(self)].domain;
    // The link that leads to the page at hand from a page still in the chain, while known (a jump leaves
    // the pages it passes, and so the one before, unknown): a parked page is dropped through it. The
    // newest page holds the chain's start, parked or not.
    qint32* before = &links(head, table).openNext;
    int index = m_pages[size_t(head)].parked ? *before : head;
    while (index >= 0) {
        const Page& page = m_pages[size_t(index)];
        Links& at = links(index, table);
        if (page.parked) {
            if (before)
                *before = at.openNext;
            index = at.openNext;
            continue;
        }
        if (page.domain == site) {
            before = nullptr;
            index = at.openSkip;
            continue;
        }
        if (page.otherDomain != site && near(index, self))
            meet(index, self, parked);
        before = &at.openNext;
        index = at.openNext;
    }
}

ParkedLooks::Links ParkedLooks::link(size_t table, quint64 key, int self)
{
    const qint32 head = m_heads.find(key);
    m_heads.set(key, self);
    Links own;
    const int site = m_pages[size_t(self)].domain;
    // Pages are only ever added at the head and dropped, so a jump past a run of one site stays one.
    const auto skipFrom = [&](int first, qint32 Links::*skip) {
        return first >= 0 && m_pages[size_t(first)].domain == site ? links(first, table).*skip : first;
    };
    own.next = head;
    own.skip = skipFrom(head, &Links::skip);
    if (head >= 0)
        own.openNext = m_pages[size_t(head)].parked ? links(head, table).openNext : head;
    own.openSkip = skipFrom(own.openNext, &Links::openSkip);
    return own;
}

void ParkedLooks::noteLookalike(int index, int domain, QList<qint64>& parked)
{
    Page& page = m_pages[size_t(index)];
    if (page.parked || page.otherDomain == domain)
        return;
    if (page.otherDomain < 0) {
        page.otherDomain = domain;
        return;
    }
    page.parked = true;
    parked.append(page.key);
}

size_t ParkedLooks::Heads::indexOf(quint64 key) const
{
    // Fibonacci hashing: the top bits of the product depend on every bit of the packed positions.
    const size_t mask = m_slots.size() - 1;
    size_t index = size_t((key * 0x9e3779b97f4a7c15ull) >> (64 - std::countr_zero(m_slots.size())));
    while (m_slots[index] != Empty && m_slots[index] >> 24 != key)
        index = (index + 1) & mask;
    return index;
}

qint32 ParkedLooks::Heads::find(quint64 key) const
{
    if (m_slots.empty())
        return -1;
    const quint64 slot = m_slots[indexOf(key)];
    return slot == Empty ? -1 : qint32(slot & MaxPages);
}

void ParkedLooks::Heads::set(quint64 key, qint32 page)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        grow();
    quint64& slot = m_slots[indexOf(key)];
    if (slot == Empty)
        ++m_used;
    slot = key << 24 | quint64(page);
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
