#pragma once

#include <QString>

namespace Batch {

class ParkingServices;

// What a captured link's page has become, in one word that stays the same from release to release (the
// run report and the command line carry it). Links whose page was never captured have no word (empty).
namespace PageWord {
    inline const QString Ok = QStringLiteral("ok");
    inline const QString Blank = QStringLiteral("blank");
    inline const QString Error = QStringLiteral("error");
    inline const QString Moved = QStringLiteral("moved");
    inline const QString Parked = QStringLiteral("parked");
} // namespace PageWord

// True when the page ended on another site than the link names: their registrable domains differ, so
// "www.", http to https, another path or a subdomain of the link's domain are no move. A link without a
// scheme is read as http; an empty final address (no response came) is no move.
bool isMovedAway(const QString& linkUrl, const QString& finalUrl);

// The word for one link from its outcome word (Outcome::*), the main document's HTTP status,
// the link's address and the address its page ended on. In order: blank; error for a captured page
// with a status of 400 or more; parked when the final address is on a parking service and the link is
// not (isParkingServiceLink); moved; ok. Empty
// when no page was captured: skipped, ignored, existing and bad-ID links, and every failure to open or
// capture the page. A thumbnail that could not be made or written still had a page, which gets its word.
// A look shared with other sites' pages (ParkedLooks) is the run's to add on top.
// True when the link itself names a parking service's site (its home page, say): the service is alive
// and is what the link is about, so neither its address nor its look ever makes such a link parked.
bool isParkingServiceLink(const QString& linkUrl, const ParkingServices& parking);

QString pageWord(const QString& outcome, int httpStatus, const QString& linkUrl, const QString& finalUrl,
    const ParkingServices& parking);

} // namespace Batch
