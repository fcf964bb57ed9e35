#include "batch/pageword.h"

#include <QUrl>

#include "batch/linkoutcome.h"
#include "batch/parkingservices.h"
#include "common/curi.h"
#include "common/publicsuffix.h"

namespace Batch {

namespace {

    bool hasCapturedPage(const QString& outcome)
    {
        return outcome == Outcome::Captured || outcome == Outcome::ImageFailed || outcome == Outcome::WriteFailed;
    }

    // As the run loads it; empty for anything but a web address.
    QString hostOf(const QString& address)
    {
        const std::optional<QString> loaded = Common::webAddress(address);
        return loaded ? QUrl(*loaded).host(QUrl::EncodeUnicode) : QString();
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

bool isParkingServiceLink(const QString& linkUrl, const ParkingServices& parking)
{
    const QString host = hostOf(linkUrl);
    return !host.isEmpty() && parking.contains(host);
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
    if (!finalUrl.isEmpty() && parking.contains(hostOf(finalUrl)) && !isParkingServiceLink(linkUrl, parking))
        return PageWord::Parked;
    if (isMovedAway(linkUrl, finalUrl))
        return PageWord::Moved;
    return PageWord::Ok;
}

} // namespace Batch
