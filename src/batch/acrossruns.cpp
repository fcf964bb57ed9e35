#include "batch/acrossruns.h"

#include <algorithm>

#include <QRegularExpression>
#include <QSet>

#include "batch/linkoutcome.h"
#include "batch/pageword.h"

namespace Batch {

namespace {

    QSet<QString> titleWords(const QString& title)
    {
        static const QRegularExpression separators(QStringLiteral("[^\\w]+"));
        const QStringList words = title.toCaseFolded().split(separators, Qt::SkipEmptyParts);
        return QSet<QString>(words.cbegin(), words.cend());
    }

} // namespace

bool isGoodSighting(const QString& outcome, const QString& page)
{
    return outcome == Outcome::Captured && (page == PageWord::Ok || page == PageWord::Moved);
}

QString sightingState(const QString& page) { return page.isEmpty() ? QStringLiteral("failed") : page; }

bool looksDiffer(const Imaging::LookHash& before, const Imaging::LookHash& now)
{
    return before.distance(now) >= ChangedLookBits;
}

bool titlesDiffer(const QString& before, const QString& now)
{
    const QSet<QString> a = titleWords(before);
    const QSet<QString> b = titleWords(now);
    const qsizetype longer = std::max(a.size(), b.size());
    if (longer == 0)
        return false;
    return 2 * QSet<QString>(a).intersect(b).size() < longer;
}

void judgeAcrossRuns(LinkSighting& present, const QList<LinkSighting>& earlier, int failingRuns)
{
    const bool good = isGoodSighting(present.outcome, present.page);
    const QString state = sightingState(present.page);
    present.change.clear();
    present.failedRuns = good ? 0 : 1;
    present.lastWorked = good ? present.date : 0;
    present.since = present.date;
    if (earlier.isEmpty()) {
        present.change = SinceWord::New;
        return;
    }
    const LinkSighting& last = earlier.constFirst();
    if (!good) {
        present.failedRuns = last.failedRuns + 1;
        present.lastWorked = last.lastWorked;
    }
    if (good) {
        const auto lastGood = std::find_if(earlier.cbegin(), earlier.cend(),
            [](const LinkSighting& seen) { return isGoodSighting(seen.outcome, seen.page); });
        if (lastGood != earlier.cend() && lastGood->look && present.look && looksDiffer(*lastGood->look, *present.look)
            && titlesDiffer(lastGood->title, present.title))
            present.change = SinceWord::Changed;
        else if (!isGoodSighting(last.outcome, last.page))
            present.change = SinceWord::Back;
    } else if (present.failedRuns >= std::max(1, failingRuns)) {
        present.change = SinceWord::Failing;
    }
    // A page that changed starts a state of its own, whatever its word.
    if (present.change != SinceWord::Changed && sightingState(last.page) == state)
        present.since = last.since;
}

} // namespace Batch
