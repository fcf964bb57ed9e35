#pragma once

#include <optional>

#include <QList>
#include <QString>
#include <QtGlobal>

#include "imaging/lookhash.h"

namespace Batch {

// What changed for a link since its earlier runs, in one word that stays the same from release to release
// (the run report's "change" column and `pictavo report` carry it); empty when nothing did.
namespace SinceWord {
    // The look and the title both differ strongly from the last good capture: a redesign or a new owner.
    inline const QString Changed = QStringLiteral("changed");
    // Good now, after the link's previous run went wrong.
    inline const QString Back = QStringLiteral("back");
    // Wrong in each of the link's last FailingRuns runs, this one included.
    inline const QString Failing = QStringLiteral("failing");
    // No earlier run of the history saw this ID with this address.
    inline const QString New = QStringLiteral("new");
} // namespace SinceWord

// One link as one run saw it, as far as the words across runs need it. Dates are seconds since the epoch.
struct LinkSighting final {
    qint64 date = 0;
    QString outcome;
    QString page;
    std::optional<Imaging::LookHash> look;
    QString title;
    // What the run judged across runs (below), kept so that the next run carries it on.
    QString change {};
    qint64 since = 0;
    // The last good capture up to this run; 0 when none is known.
    qint64 lastWorked = 0;
    // Wrong in this many of the link's runs in a row, up to this one.
    int failedRuns = 0;
};

// A good capture shows the site: captured, and its page is ok or moved. Anything else the run tried (a
// failure, a blank, an error page, a parked domain) went wrong. Links the run did not try (skipped,
// existing, unfinished) say nothing and are never judged.
bool isGoodSighting(const QString& outcome, const QString& page);

// The page's state, whose first run the "since" column gives: its page word, or "failed" without one.
QString sightingState(const QString& page);

// Strong differences, against the last good capture:
// - looks: at least ChangedLookBits of Imaging::lookHash's 512 bits. ParkedLooks' measurements put one
//   template with other words at 9 to 27 bits and unrelated pages at 55 to 245, the nearest being pages set
//   alike with other text (58 to 75); a banner that moved or a new headline changes only the cells it
//   covers. 80 stays clear of those, so the text of a news page alone never makes it.
// - titles: compared as sets of words, case and punctuation aside; they differ strongly when the words
//   in common are fewer than half of the longer title's (a title and none always do, two empty titles
//   never). "Acme Widgets - Home" and "Home | Acme Widgets" are the same title.
constexpr int ChangedLookBits = 80;
bool looksDiffer(const Imaging::LookHash& before, const Imaging::LookHash& now);
bool titlesDiffer(const QString& before, const QString& now);

// Judges the present sighting (whose date, outcome, page, look and title are set) against the link's
// earlier ones, newest first (the runs kept in the history that tried the link), and fills in its change,
// since, lastWorked and failedRuns. In order: new when there is no earlier sighting; changed when good now,
// and look and title both differ strongly from the newest earlier good capture (compared only when both
// have a look); back when good now and the newest earlier sighting was not; failing when wrong in each of
// the last failingRuns sightings (at least 1), this one included. Pure.
void judgeAcrossRuns(LinkSighting& present, const QList<LinkSighting>& earlier, int failingRuns);

} // namespace Batch
