#pragma once

#include <deque>
#include <optional>

#include <QHash>
#include <QList>
#include <QString>

#include "batch/linkoutcome.h"
#include "batch/parkedlooks.h"
#include "batch/parkingservices.h"
#include "imaging/lookhash.h"

namespace Batch {

// What each link's page has become over one run: gives an ended link its word (pageWord), and keeps
// the looks of the pages that came out ok or moved, so that a link whose page turns out to share its
// look with other sites' pages later in the run (ParkedLooks, over its window) is announced as parked then.
// A plain object owned by the run; GUI thread.
class PageHealth final {
public:
    // A link that ended earlier and has just been found parked.
    struct ParkedLater {
        qint32 line = 0;
        QString id;
        quint64 row = 0;
        // Its status text without a word, and the word it had.
        QString status;
        QString word;
    };

    explicit PageHealth(ParkingServices parking);

    // Sets link.pageWord, and gives the earlier links found parked along with it; row is the link's
    // key in the links list, handed back when it is found parked later.
    QList<ParkedLater> judge(LinkOutcome& link, quint64 row, const std::optional<Imaging::LookHash>& look);

    // The list's status text for a link with this word: the word is added where it says more than ok
    // and more than a blank link's own status.
    static QString statusWithWord(const QString& status, const QString& word);

    // The run's pages in one line, the words other than ok that any link has: "3 moved, 2 parked, 1
    // blank, 1 error"; empty when every page is ok.
    QString summary() const;

private:
    QList<ParkedLater> add(LinkOutcome& link, quint64 row, const std::optional<Imaging::LookHash>& look);

    ParkingServices m_parking;
    ParkedLooks m_looks;
    // A link whose look may still park it, kept while the index keeps its page: small, as there are
    // thousands: the word is ok or moved, the status mostly one shared text.
    struct Open {
        quint64 row = 0;
        QString id;
        QString status;
        qint32 line = 0;
        bool moved = false;
    };
    // By their key in m_looks, which counts from 0, from the oldest page the index keeps.
    std::deque<Open> m_open;
    qint64 m_firstOpen = 0;
    QHash<QString, int> m_counts;
};

} // namespace Batch
