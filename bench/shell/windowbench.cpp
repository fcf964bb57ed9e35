// The main window's benchmark with a large links database: the real window, timed from outside its code.
//
//   windowbench [--folder DIR] [--links 100000] [--per-turn 256] [--parked-every 100]
//
// Makes DIR/app/data/LinksInfo.txt with the given number of links (kept when it already has them), then:
//   start       ms from main() to the window's first paint, and to its first paint with the list shown;
//               exec_to_list_ms adds the time from the process's start to main() (the loader's work on
//               the libraries), so it is what a user waits from launching the program
//   run         the list's updates as a run makes them, every link of the database, --per-turn links per
//               event-loop turn (the run reads at most 256 records a turn): each link's row appended and
//               followed, a live status, then its final status and colour and its report record; one in
//               --parked-every found parked later, so that the report is rewritten at the end. Longest
//               stall of the event loop from the first row to the report's completion, and the process's
//               resident memory before and after (bytes per row).
//   scroll      the full list scrolled end to end in 200 jumps, one per event-loop turn, each painted;
//               then back to the top in one jump. Longest stall.
// One JSON line per phase on standard output.

#include <algorithm>
#include <ctime>
#include <functional>

#include <QAbstractItemView>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextStream>
#include <QTimer>

#include "batch/batchrun.h"
#include "batch/linkslistmodel.h"
#include "batch/runreport.h"
#include "common/desktop.h"
#include "common/messagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "shell/frmmain.h"

#include "../support/benchprobes.h"

namespace {

using BenchProbes::residentKiB;
using BenchProbes::SilentBoxes;
using BenchProbes::StallProbe;

class NoDesktop final : public Common::Desktop {
public:
    bool openUrl(const QUrl&) override { return false; }
};

// The first paint of any widget of the window, in ms from the given clock.
class PaintWatch final : public QObject {
public:
    PaintWatch(const QElapsedTimer& clock, QWidget* list)
        : m_clock(clock)
        , m_list(list)
    {
    }
    qint64 firstPaintMs = -1;
    qint64 listPaintMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (firstPaintMs < 0)
                firstPaintMs = m_clock.elapsed();
            if (listPaintMs < 0 && watched == m_list)
                listPaintMs = m_clock.elapsed();
        }
        return false;
    }

private:
    const QElapsedTimer& m_clock;
    QWidget* m_list;
};

// The fields of /proc/self/stat after the command's name: field N of the whole line is at N - 3.
QList<QByteArray> ownStat()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

qint64 cpuMs()
{
    const QList<QByteArray> fields = ownStat();
    // utime and stime, fields 14 and 15 of the whole line, in clock ticks of 10 ms.
    return fields.isEmpty() ? -1 : (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 10;
}

// How long ago the process started, in ms (the kernel counts its start in ticks of 10 ms since boot).
qint64 processAgeMs()
{
    const QList<QByteArray> fields = ownStat();
    if (fields.isEmpty())
        return -1;
    // starttime, field 22 of the whole line.
    const qint64 startMs = fields.value(19).toLongLong() * 10;
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - startMs;
}

// Runs the event loop until `until` holds; a poll every millisecond, never a sleep that would read as a stall.
bool spin(const std::function<bool()>& until, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (until())
            loop.exit(0);
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { loop.exit(1); });
    poll.start();
    return until() || loop.exec() == 0;
}

void print(const QJsonObject& object)
{
    QTextStream(stdout) << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}

bool ensureDatabase(const QString& path, int links)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll().count('\n') == links)
        return true;
    existing.close();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray bytes;
    for (int n = 1; n <= links; ++n)
        bytes += QByteArray::number(n) + "|http://127.0.0." + QByteArray::number(n % 50 + 1) + ":18867/p/"
            + QByteArray::number(n % 200 + 1).rightJustified(4, '0') + ".html?n=" + QByteArray::number(n) + '\n';
    return file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char* argv[])
{
    const qint64 beforeMainMs = processAgeMs();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("folder"), QStringLiteral("scratch folder"), QStringLiteral("dir"),
        QDir::temp().filePath(QStringLiteral("pictavo-bench/window")) });
    parser.addOption({ QStringLiteral("links"), QStringLiteral("links in the database"), QStringLiteral("n"),
        QStringLiteral("100000") });
    parser.addOption({ QStringLiteral("per-turn"), QStringLiteral("links a turn of the run"), QStringLiteral("n"),
        QStringLiteral("256") });
    parser.addOption({ QStringLiteral("parked-every"), QStringLiteral("one link in n found parked later"),
        QStringLiteral("n"), QStringLiteral("100") });
    if (!parser.parse(arguments)) {
        QTextStream(stderr) << parser.errorText() << '\n';
        return 2;
    }
    const QString folder = parser.value(QStringLiteral("folder"));
    const int links = parser.value(QStringLiteral("links")).toInt();
    const int perTurn = std::max(1, parser.value(QStringLiteral("per-turn")).toInt());
    const int parkedEvery = std::max(1, parser.value(QStringLiteral("parked-every")).toInt());
    const QString appPath = folder + QStringLiteral("/app/");
    if (!ensureDatabase(appPath + QStringLiteral("data/LinksInfo.txt"), links)) {
        QTextStream(stderr) << "cannot write the links database under " << folder << '\n';
        return 2;
    }
    // From here on as the program starts: the application object, the window, its first paint.
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);

    Settings::Hive hive(folder + QStringLiteral("/config/registry.db"));
    Settings::LiveSettings settings;
    SilentBoxes boxes;
    NoDesktop desktop;
    Shell::frmMain window({ hive, settings, boxes, desktop, appPath });
    auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lvwLinks"));
    PaintWatch paints(sinceStart, list->viewport());
    app.installEventFilter(&paints);
    window.startUp();
    window.show();
    if (!spin([&] { return paints.listPaintMs >= 0; }, 10000))
        return 2;
    print({ { QStringLiteral("phase"), QStringLiteral("start") }, { QStringLiteral("links"), links },
        { QStringLiteral("first_paint_ms"), paints.firstPaintMs },
        { QStringLiteral("list_paint_ms"), paints.listPaintMs },
        { QStringLiteral("exec_to_list_ms"), beforeMainMs < 0 ? -1 : beforeMainMs + paints.listPaintMs },
        { QStringLiteral("cpu_ms"), cpuMs() } });
    app.removeEventFilter(&paints);

    // The run's updates, as its signals carry them to the list and the report.
    Batch::BatchRun& run = window.run();
    Batch::LinksListModel& rows = window.linksModel();
    auto* report = window.findChild<Batch::RunReport*>();
    QSignalSpy written(report, &Batch::RunReport::reportWritten);
    StallProbe probe;
    const qint64 rssBefore = residentKiB();
    const qint64 cpuBefore = cpuMs();
    QElapsedTimer clock;
    clock.start();
    probe.start();
    Q_EMIT run.started();
    int next = 1;
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, &window, [&] {
        for (int i = 0; i < perTurn && next <= links; ++i, ++next) {
            const QString id = QString::number(next);
            const QString url = QStringLiteral("http://127.0.0.%1:18867/p/%2.html?n=%3")
                                    .arg(next % 50 + 1)
                                    .arg(next % 200 + 1)
                                    .arg(next);
            const auto key = rows.appendRow(next, id, url);
            Q_EMIT run.rowAdded(rows.rowOf(key));
            rows.setStatus(key, QStringLiteral("[%1%] Loading page...").arg(next % 100));
            const QString text = QStringLiteral("Done (%1 ms)").arg(next % 977);
            rows.setStatus(key, text);
            rows.setCellColor(key, Batch::LinksListModel::StatusColumn, QColor(0, 128, 0));
            Batch::LinkOutcome outcome { next, id, url, Batch::Outcome::Captured, text, {}, QStringLiteral("ok") };
            outcome.page.httpStatus = 200;
            outcome.page.title = QStringLiteral("Page %1").arg(next);
            Q_EMIT run.linkEnded(outcome);
            if (next % parkedEvery == 0)
                Q_EMIT run.pageFoundParked(next - 1, QString::number(next - 1));
        }
        if (next > links) {
            pump.stop();
            Q_EMIT run.finished(false, 0);
        }
    });
    pump.start(0);
    if (!spin([&] { return written.count() == 1; }, 600000))
        return 2;
    const qint64 runStall = probe.stopLongestMs();
    const qint64 rssAfter = residentKiB();
    print({ { QStringLiteral("phase"), QStringLiteral("run") }, { QStringLiteral("links"), links },
        { QStringLiteral("per_turn"), perTurn }, { QStringLiteral("longest_stall_ms"), runStall },
        { QStringLiteral("wall_ms"), clock.elapsed() }, { QStringLiteral("cpu_ms"), cpuMs() - cpuBefore },
        { QStringLiteral("rss_before_kib"), rssBefore }, { QStringLiteral("rss_after_kib"), rssAfter },
        { QStringLiteral("bytes_per_row"), double(rssAfter - rssBefore) * 1024.0 / std::max(1, links) } });

    // End to end through the whole list, one painted jump a turn.
    QScrollBar* bar = list->verticalScrollBar();
    constexpr int Jumps = 200;
    int jump = 0;
    bool done = false;
    const qint64 scrollCpuBefore = cpuMs();
    clock.restart();
    probe.start();
    QTimer scroller;
    QObject::connect(&scroller, &QTimer::timeout, &window, [&] {
        if (jump < Jumps) {
            bar->setValue(bar->minimum() + int(qint64(bar->maximum() - bar->minimum()) * ++jump / Jumps));
            list->viewport()->repaint();
        } else if (!done) {
            bar->setValue(bar->minimum());
            list->viewport()->repaint();
            done = true;
            scroller.stop();
        }
    });
    bar->setValue(bar->minimum());
    scroller.start(0);
    if (!spin([&] { return done; }, 600000))
        return 2;
    print({ { QStringLiteral("phase"), QStringLiteral("scroll") }, { QStringLiteral("rows"), rows.rowCount() },
        { QStringLiteral("jumps"), Jumps }, { QStringLiteral("longest_stall_ms"), probe.stopLongestMs() },
        { QStringLiteral("wall_ms"), clock.elapsed() }, { QStringLiteral("cpu_ms"), cpuMs() - scrollCpuBefore } });
    return 0;
}
