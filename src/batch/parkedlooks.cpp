#include "batch/parkedlooks.h"

#include <algorithm>
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
                keys[t] = keys[t] << 10 | quint64(argmin[t * ParkedLooks::PerTable + i]);
        }
        return keys;
    }

} // namespace

QStringList ParkedLooks::add(const QString& key, const QString& domain, const std::optional<Imaging::LookHash>& look)
{
    QStringList parked;
    if (!look || m_keys.contains(key))
        return parked;
    const int self = int(m_pages.size());
    if (!m_domains.contains(domain))
        m_domains.insert(domain, int(m_domains.size()));
    m_pages.push_back({ key, m_domains.value(domain), *look });
    m_links.emplace_back();
    m_keys.insert(key, self);

    // Each key carries its table's number, so that one table of heads serves all sixteen.
    auto keys = tableKeys(*look);
    for (size_t t = 0; t < keys.size(); ++t)
        keys[t] |= quint64(t) << 40;
    // The page's own state first: two other sites settle it, wherever they are found.
    for (size_t t = 0; t < keys.size() && !m_pages[size_t(self)].parked; ++t)
        searchAll(t, m_heads.find(keys[t]), self, parked);
    // Then every earlier page that this site may still change.
    for (size_t t = 0; t < keys.size(); ++t)
        searchOpen(t, m_heads.find(keys[t]), self, parked);
    for (size_t t = 0; t < keys.size(); ++t)
        link(t, keys[t], self);
    return parked;
}

bool ParkedLooks::isParked(const QString& key) const
{
    const auto found = m_keys.constFind(key);
    return found != m_keys.constEnd() && m_pages[size_t(*found)].parked;
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

void ParkedLooks::meet(int index, int self, QStringList& parked)
{
    noteLookalike(index, m_pages[size_t(self)].domain, parked);
    noteLookalike(self, m_pages[size_t(index)].domain, parked);
}

void ParkedLooks::searchAll(size_t table, int from, int self, QStringList& parked)
{
    const Page& me = m_pages[size_t(self)];
    for (int index = from; index >= 0 && !me.parked;) {
        const int site = m_pages[size_t(index)].domain;
        if (site == me.domain || site == me.otherDomain) {
            index = m_links[size_t(index)][table].skip;
            continue;
        }
        if (near(index, self))
            meet(index, self, parked);
        index = m_links[size_t(index)][table].next;
    }
}

void ParkedLooks::searchOpen(size_t table, int head, int self, QStringList& parked)
{
    if (head < 0)
        return;
    const int site = m_pages[size_t(self)].domain;
    // The link that leads to the page at hand from a page still in the chain, while known (a jump leaves
    // the pages it passes, and so the one before, unknown): a parked page is dropped through it. The
    // newest page holds the chain's start, parked or not.
    qint32* before = &m_links[size_t(head)][table].openNext;
    int index = m_pages[size_t(head)].parked ? *before : head;
    while (index >= 0) {
        const Page& page = m_pages[size_t(index)];
        Links& links = m_links[size_t(index)][table];
        if (page.parked) {
            if (before)
                *before = links.openNext;
            index = links.openNext;
            continue;
        }
        if (page.domain == site) {
            before = nullptr;
            index = links.openSkip;
            continue;
        }
        if (page.otherDomain != site && near(index, self))
            meet(index, self, parked);
        before = &links.openNext;
        index = links.openNext;
    }
}

void ParkedLooks::link(size_t table, quint64 key, int self)
{
    qint32& head = m_heads.insert(key);
    Links& links = m_links[size_t(self)][table];
    const int site = m_pages[size_t(self)].domain;
    // Pages are only ever added at the head and dropped, so a jump past a run of one site stays one.
    const auto skipFrom = [&](int first, qint32 Links::*skip) {
        return first >= 0 && m_pages[size_t(first)].domain == site ? m_links[size_t(first)][table].*skip : first;
    };
    links.next = head;
    links.skip = skipFrom(head, &Links::skip);
    if (head >= 0)
        links.openNext = m_pages[size_t(head)].parked ? m_links[size_t(head)][table].openNext : head;
    links.openSkip = skipFrom(links.openNext, &Links::openSkip);
    head = self;
}

void ParkedLooks::noteLookalike(int index, int domain, QStringList& parked)
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
    while (m_slots[index].key() != key && m_slots[index].page >= 0)
        index = (index + 1) & mask;
    return index;
}

qint32 ParkedLooks::Heads::find(quint64 key) const
{
    if (m_slots.empty())
        return -1;
    const Slot& slot = m_slots[indexOf(key)];
    return slot.key() == key ? slot.page : -1;
}

qint32& ParkedLooks::Heads::insert(quint64 key)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        grow();
    Slot& slot = m_slots[indexOf(key)];
    if (slot.key() != key) {
        slot.low = quint32(key);
        slot.high = quint32(key >> 32);
        ++m_used;
    }
    return slot.page;
}

void ParkedLooks::Heads::grow()
{
    std::vector<Slot> old(std::max<size_t>(1024, m_slots.size() * 2));
    old.swap(m_slots);
    for (const Slot& slot : old) {
        if (slot.page >= 0)
            m_slots[indexOf(slot.key())] = slot;
    }
}

} // namespace Batch
