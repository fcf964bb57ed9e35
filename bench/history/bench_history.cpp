// The run history over a directory of `links` links (default 100,000) run `runs` times (default 12, the
// HistoryRuns default), keeping `kept` runs (default all): per link, what a run pays (reading the link's
// earlier runs, judging, writing in batches as RunHistory does), and the file's size after each run.
//   pictavo-bench-history [links] [runs] [kept]
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "batch/acrossruns.h"
#include "batch/historystore.h"
#include "batch/linkoutcome.h"
#include "batch/pageword.h"
#include "batch/runhistory.h"

using namespace Batch;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int links = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int runs = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 12;
    const int kept = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : runs;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    auto store = HistoryStore::open(path);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(store.error().message));
        return 1;
    }
    QRandomGenerator random(7);
    // A directory's pages: a tenth fail in a run, a few change their look between runs.
    std::vector<Imaging::LookHash> looks(static_cast<size_t>(links));
    for (Imaging::LookHash& look : looks)
        for (quint64& word : look.words)
            word = random.generate64();
    for (int run = 1; run <= runs; ++run) {
        const qint64 date = run * 86400LL;
        const qint64 number = store.value()->beginRun(date, kept).value();
        QElapsedTimer clock;
        clock.start();
        QList<HistoryStore::Entry> batch;
        for (int i = 0; i < links; ++i) {
            const QString id = QString::number(i + 1);
            const QString url = QStringLiteral("https://www.site-%1.example.com/start/index.html").arg(i + 1);
            const bool fails = random.bounded(10) == 0;
            if (random.bounded(50) == 0)
                looks[size_t(i)].words[0] ^= random.generate64();
            LinkSighting seen { date, fails ? Outcome::TimedOut : Outcome::Captured, fails ? QString() : PageWord::Ok,
                fails ? std::nullopt : std::optional(looks[size_t(i)]),
                fails ? QString() : QStringLiteral("Site %1 - Home of the finest things online").arg(i) };
            judgeAcrossRuns(seen, store.value()->earlier(id, url, number, kept), 3);
            batch.append({ number, i + 1, id, url, fails ? 0 : 200, fails ? QString() : url,
                fails ? QByteArray() : QByteArray(20, char(i)), seen });
            if (batch.size() == RunHistory::BatchLinks && !store.value()->record(std::exchange(batch, {})))
                return 1;
        }
        if (!store.value()->record(batch) || !store.value()->endRun(number, date))
            return 1;
        std::printf("run %2d: %.3f ms a link, file %.1f MB\n", run, double(clock.nsecsElapsed()) / 1e6 / links,
            double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1048576.0);
        std::fflush(stdout);
    }
    return 0;
}
