#include "batch/pageword.h"

#include <QUrl>

#include "batch/linkoutcome.h"
#include "batch/parkingservices.h"
#include "common/publicsuffix.h"

namespace Batch {

namespace {

    bool hasCapturedPage(const QString& outcome)
    {
        return outcome == Outcome::Captured || outcome == Outcome::ImageFailed || outcome == Outcome::WriteFailed;
    }

} // namespace

bool isMovedAway(const QString& linkUrl, const QString& finalUrl)
{
    if (finalUrl.trimmed().isEmpty())
        return false;
    const QString from = Common::siteOf(linkUrl);
    const QString to = Common::siteOf(finalUrl);
    // An address with no site (about:blank, a browser error page) says nothing about where the link went.
    return !from.isEmpty() && !to.isEmpty() && from != to;
}

QString pageWord(const QString& outcome, int httpStatus, const QString& linkUrl, const QString& finalUrl,
    const ParkingServices& parking)
{
    if (outcome == Outcome::Blank)
        return PageWord::Blank;
    if (!hasCapturedPage(outcome))
        return {};
    if (httpStatus >= 400)
        return PageWord::Error;
    if (!finalUrl.isEmpty() && parking.contains(QUrl(finalUrl).host(QUrl::EncodeUnicode)))
        return PageWord::Parked;
    if (isMovedAway(linkUrl, finalUrl))
        return PageWord::Moved;
    return PageWord::Ok;
}

} // namespace Batch
