#include "batch/pagehealth.h"

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
    QList<ParkedLater> later;
    // An error page or a parking service's own page says enough; a page elsewhere may still share a
    // parking template with other sites.
    if (!look || (link.pageWord != PageWord::Ok && link.pageWord != PageWord::Moved))
        return later;
    const QString site = Common::siteOf(link.page.finalUrl.isEmpty() ? link.url : link.page.finalUrl);
    if (site.isEmpty())
        return later;
    const QString key = QString::number(m_nextKey++);
    m_open.insert(key, ParkedLater { link.line, link.id, row, link.statusText });
    for (const QString& parked : m_looks.add(key, site, look)) {
        const ParkedLater found = m_open.take(parked);
        if (parked == key)
            link.pageWord = PageWord::Parked;
        else
            later.append(found);
    }
    return later;
}

QString PageHealth::statusWithWord(const QString& status, const QString& word)
{
    if (word.isEmpty() || word == PageWord::Ok || status.contains(word, Qt::CaseInsensitive))
        return status;
    return status + QStringLiteral(" (") + word + QLatin1Char(')');
}

} // namespace Batch
