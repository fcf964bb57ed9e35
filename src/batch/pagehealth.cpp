#include "batch/pagehealth.h"

#include <utility>

#include "batch/pageword.h"
#include "common/publicsuffix.h"

namespace Batch {

PageHealth::PageHealth(ParkingServices parking)
    : m_parking(std::move(parking))
{
}

QList<PageHealth::ParkedLater> PageHealth::judge(
    LinkOutcome& link, quint64 row, const std::optional<Imaging::LookHash>& look)
{
    link.pageWord = pageWord(link.outcome, link.page.httpStatus, link.url, link.page.finalUrl, m_parking);
    QList<ParkedLater> later = add(link, row, look);
    ++m_counts[link.pageWord];
    for (const ParkedLater& parked : later) {
        --m_counts[parked.word];
        ++m_counts[PageWord::Parked];
    }
    return later;
}

QList<PageHealth::ParkedLater> PageHealth::add(
    LinkOutcome& link, quint64 row, const std::optional<Imaging::LookHash>& look)
{
    QList<ParkedLater> later;
    // An error page or a parking service's page says enough; a page elsewhere may still share a parking
    // template with other sites. A link to a service's own site is never a parked domain, whatever it shows.
    if (!look || (link.pageWord != PageWord::Ok && link.pageWord != PageWord::Moved)
        || isParkingServiceLink(link.url, m_parking))
        return later;
    const QString site = Common::siteOf(link.page.finalUrl.isEmpty() ? link.url : link.page.finalUrl);
    if (site.isEmpty())
        return later;
    const qint64 key = m_firstOpen + qint64(m_open.size());
    m_open.push_back({ row, link.id, link.statusText, link.line, link.pageWord == PageWord::Moved });
    for (const qint64 parked : m_looks.add(key, site, look, link.page.title)) {
        // Emptied: the index gives each key once, and the record's strings are not needed again.
        const Open found = std::exchange(m_open[size_t(parked - m_firstOpen)], Open {});
        if (parked == key)
            link.pageWord = PageWord::Parked;
        else
            later.append(
                { found.line, found.id, found.row, found.status, found.moved ? PageWord::Moved : PageWord::Ok });
    }
    // Links whose pages the index no longer keeps can no longer be found parked.
    for (const qint64 first = m_looks.firstKey().value_or(key); m_firstOpen < first; ++m_firstOpen)
        m_open.pop_front();
    return later;
}

QString PageHealth::summary() const
{
    QStringList parts;
    for (const QString& word : { PageWord::Moved, PageWord::Parked, PageWord::Blank, PageWord::Error }) {
        if (const int count = m_counts.value(word); count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(word);
    }
    return parts.join(QStringLiteral(", "));
}

QString PageHealth::statusWithWord(const QString& status, const QString& word)
{
    // A blank link's own status already says so.
    if (word.isEmpty() || word == PageWord::Ok || word == PageWord::Blank)
        return status;
    return status + QStringLiteral(" (") + word + QLatin1Char(')');
}

} // namespace Batch
