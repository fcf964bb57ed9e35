#include "batch/parkedlooks.h"

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
    const int site = m_domains.value(domain);
    m_pages.push_back({ key, site, *look });
    m_keys.insert(key, self);

    for (const int other : candidates(*look, self)) {
        Page& page = m_pages[size_t(other)];
        if (page.domain == site || (page.parked && m_pages[size_t(self)].parked))
            continue;
        if (page.look.distance(*look) > MaxDistance)
            continue;
        noteLookalike(other, site, parked);
        noteLookalike(self, page.domain, parked);
    }
    const auto keys = tableKeys(*look);
    for (size_t t = 0; t < keys.size(); ++t)
        m_tables[t][keys[t]].append(self);
    return parked;
}

bool ParkedLooks::isParked(const QString& key) const
{
    const auto found = m_keys.constFind(key);
    return found != m_keys.constEnd() && m_pages[size_t(*found)].parked;
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

std::vector<int> ParkedLooks::candidates(const Imaging::LookHash& look, int lookup)
{
    std::vector<int> found;
    const auto keys = tableKeys(look);
    for (size_t t = 0; t < keys.size(); ++t) {
        const auto bucket = m_tables[t].constFind(keys[t]);
        if (bucket == m_tables[t].constEnd())
            continue;
        for (const int index : *bucket) {
            if (m_pages[size_t(index)].seenBy != lookup) {
                m_pages[size_t(index)].seenBy = lookup;
                found.push_back(index);
            }
        }
    }
    return found;
}

} // namespace Batch
