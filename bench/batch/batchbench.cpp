// The batch run's benchmark: the whole run (slots, completion into 120 x 90 JPEG thumbnails, the
// links list and the strip) over a links file, measured from outside the run's own code.
//
//   batchbench --links FILE [--threads 4] [--delay 0] [--fast-delay 1] [--scripts 0] [--dismiss-banners 1] [--repeat 1]
//   [--images FOLDER]
//              [--endpoints LIST] [--trace FILE] [--report FILE] [--memory-every N] [--view]
//   batchbench --million [--links FILE]
//
// Prints one JSON line per measurement: links per second, the longest stall of the event loop, and
// the program's own CPU per link (this process only; the browser is a child and not counted).
// --trace FILE records the browser's own trace of the runs (bench/trace/analyse.py reads it).

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <mutex>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include "browsertrace.h"

#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linkslistmodel.h"
#include "batch/runreport.h"
#include "capture/browserhost.h"
#include "common/messagebox.h"
#include "common/thumbnailmodel.h"
#include "settings/hive.h"
#include "settings/livesettings.h"

#include "../support/benchprobes.h"

namespace {

using BenchProbes::SilentBoxes;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The calling thread's own CPU time: an event that took long on the clock but little CPU was waiting
// for the processor (a loaded machine), not working.
double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Times every completion: what it costs the GUI thread (taking the capture from its slot, then its
// end: the row, the strip) and, apart, its heavy part on the run's pool.
class TimedCompleter final : public Batch::CaptureCompleter {
public:
    struct Times {
        void add(double ms)
        {
            const std::lock_guard lock(mutex);
            longestMs = std::max(longestMs, ms);
            totalMs += ms;
            ++count;
        }
        double meanMs() const { return count ? totalMs / count : 0.0; }

        std::mutex mutex;
        double longestMs = 0;
        double totalMs = 0;
        int count = 0;
    };

    explicit TimedCompleter(Batch::CaptureCompleter& inner)
        : m_inner(inner)
    {
    }
    void prepareRun() override { m_inner.prepareRun(); }
    std::unique_ptr<Batch::PendingCapture> takeCapture(Capture::HtmlSnapshot& slot) override
    {
        QElapsedTimer clock;
        clock.start();
        auto pending = std::make_unique<Timed>(*this, m_inner.takeCapture(slot));
        pending->guiMs = clock.nsecsElapsed() / 1e6;
        return pending;
    }

    Times gui;
    Times work;

private:
    class Timed final : public Batch::PendingCapture {
    public:
        Timed(TimedCompleter& owner, std::unique_ptr<Batch::PendingCapture> inner)
            : m_owner(owner)
            , m_inner(std::move(inner))
        {
        }
        void process() override
        {
            QElapsedTimer clock;
            clock.start();
            m_inner->process();
            m_owner.work.add(clock.nsecsElapsed() / 1e6);
        }
        Batch::CompletedCapture finish() override
        {
            QElapsedTimer clock;
            clock.start();
            const Batch::CompletedCapture completed = m_inner->finish();
            m_owner.gui.add(guiMs + clock.nsecsElapsed() / 1e6);
            return completed;
        }

        double guiMs = 0;

    private:
        TimedCompleter& m_owner;
        std::unique_ptr<Batch::PendingCapture> m_inner;
    };

    Batch::CaptureCompleter& m_inner;
};

// Tells which events held the GUI thread longest: every event handled in more than a threshold is
// printed to stderr with its receiver's class and the event's type. Nested loops (a box) count whole.
class TracingApplication final : public QApplication {
public:
    using QApplication::QApplication;

    void setThreshold(qint64 ms) { m_thresholdNs = ms * 1000000; }
    // The most CPU the GUI thread spent on one outermost event since the last reset: what the
    // program itself costs the window, whatever the machine's load.
    double longestEventCpuMs() const { return m_longestCpuMs; }
    void resetLongest() { m_longestCpuMs = 0; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (m_depth > 0 && m_thresholdNs <= 0)
            return QApplication::notify(receiver, event);
        const QByteArray name = receiver->metaObject()->className();
        const int type = event->type();
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuMs();
        ++m_depth;
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        if (m_depth == 0)
            m_longestCpuMs = std::max(m_longestCpuMs, threadCpuMs() - cpuBefore);
        if (const qint64 ns = clock.nsecsElapsed(); m_thresholdNs > 0 && ns > m_thresholdNs)
            QTextStream(stderr) << "slow event: " << ns / 1000000 << " ms (CPU " << qRound(threadCpuMs() - cpuBefore)
                                << " ms), " << name << ", type " << type << '\n';
        return handled;
    }

private:
    qint64 m_thresholdNs = 0;
    int m_depth = 0;
    double m_longestCpuMs = 0;
};

struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    Settings::LiveSettings settings;
    Batch::LinksDatabase links { dir.filePath(QStringLiteral("data/LinksInfo.txt")) };
    Batch::LinksListModel rows;
    Common::ThumbnailModel strip;
    SilentBoxes boxes;
    std::unique_ptr<Batch::CaptureCompletion> completion;
    std::unique_ptr<TimedCompleter> timed;
    std::unique_ptr<Batch::BatchRun> run;

    Installation(Capture::BrowserHost* host, int threads, int delay, const QString& images = {})
    {
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        settings = Settings::LoadSettings(hive, dir.path() + QLatin1Char('/'));
        if (!images.isEmpty())
            settings.ImagesFolder = images;
        settings.ThreadsCount = threads;
        settings.DelayTime = delay;
        settings.SnapWidth = 1024;
        settings.SnapHeight = 768;
        settings.SnapDimension = 1;
        completion = std::make_unique<Batch::CaptureCompletion>(
            Batch::CaptureCompletion::Services { settings, rows, strip, boxes, dir.path() + QLatin1Char('/'), {}, {} });
        timed = std::make_unique<TimedCompleter>(*completion);
        run = std::make_unique<Batch::BatchRun>(
            Batch::BatchRun::Services { settings, links, rows, *timed, host, boxes });
    }
};

void print(const QJsonObject& result)
{
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << Qt::endl;
}

struct RunOptions {
    int threads = 4;
    int delay = 0;
    int fastDelay = 1;
    int scripts = 0;
    int dismissBanners = 1;
    QString images;
    QString endpoints;
    BrowserTrace* trace = nullptr;
    QString report;
    int memoryEvery = 0;
    bool view = false;
};

// PSS of this process and every process under it, in KB: what the run costs the machine's memory,
// shared pages counted once.
qint64 treePssKb(qint64 pid)
{
    qint64 total = 0;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith("Pss:"))
                total += line.mid(4).trimmed().split(' ').value(0).toLongLong();
        }
    }
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& child : children.readAll().split(' ')) {
            if (!child.trimmed().isEmpty())
                total += treePssKb(child.trimmed().toLongLong());
        }
    }
    return total;
}

// The links list as the main window shows it: a table of fixed rows that follows the newest row
// once per event-loop turn.
std::unique_ptr<QTableView> showLinksList(Installation& setup)
{
    auto view = std::make_unique<QTableView>();
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->horizontalHeader()->setStretchLastSection(false);
    view->setModel(&setup.rows);
    view->resize(900, 500);
    view->show();
    QTableView* shown = view.get();
    auto pending = std::make_shared<bool>(false);
    QObject::connect(setup.run.get(), &Batch::BatchRun::rowAdded, shown, [shown, &setup, pending](int row) {
        if (row < 0 || *pending)
            return;
        *pending = true;
        QMetaObject::invokeMethod(
            shown,
            [shown, &setup, pending] {
                *pending = false;
                if (const int rows = setup.rows.rowCount(); rows > 0)
                    shown->scrollTo(setup.rows.index(rows - 1, 0));
            },
            Qt::QueuedConnection);
    });
    return view;
}

int runLinks(Capture::BrowserHost& host, const QString& linksFile, const RunOptions& options)
{
    Installation setup(&host, options.threads, options.delay, options.images);
    setup.settings.BrowserEndpoints = options.endpoints;
    setup.settings.FastDelay = options.fastDelay;
    setup.settings.EnableScript = options.scripts;
    setup.settings.DismissCookieBanners = options.dismissBanners;
    QFile::remove(setup.links.LinksInfoFile());
    if (!QFile::copy(linksFile, setup.links.LinksInfoFile())) {
        QTextStream(stderr) << "cannot read " << linksFile << '\n';
        return 1;
    }
    std::unique_ptr<Batch::RunReport> report;
    if (!options.report.isEmpty())
        report = std::make_unique<Batch::RunReport>(*setup.run, setup.dir.filePath(QStringLiteral("reports")));
    const std::unique_ptr<QTableView> view = options.view ? showLinksList(setup) : nullptr;
    QJsonObject outcomes;
    int ended = 0;
    QObject::connect(setup.run.get(), &Batch::BatchRun::linkEnded, setup.run.get(),
        [&outcomes, &ended, &options](const Batch::LinkOutcome& link) {
            outcomes[link.outcome] = outcomes.value(link.outcome).toInt() + 1;
            if (options.memoryEvery > 0 && ++ended % options.memoryEvery == 0)
                print({ { QStringLiteral("measure"), QStringLiteral("memory") }, { QStringLiteral("links"), ended },
                    { QStringLiteral("pss_kb"), treePssKb(QCoreApplication::applicationPid()) },
                    { QStringLiteral("heap_used_kb"), qint64(mallinfo2().uordblks / 1024) },
                    { QStringLiteral("heap_free_kb"), qint64(mallinfo2().fordblks / 1024) },
                    { QStringLiteral("heap_mapped_kb"), qint64(mallinfo2().hblkhd / 1024) },
                    { QStringLiteral("arena_kb"), qint64(mallinfo2().arena / 1024) } });
        });
    // A 10 ms timer: the figures recorded so far were taken with it.
    BenchProbes::StallProbe probe(10);
    QSignalSpy finished(setup.run.get(), &Batch::BatchRun::finished);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    probe.start();
    static_cast<TracingApplication*>(QCoreApplication::instance())->resetLongest();
    if (options.trace && !host.isRunning())
        options.trace->start(host);
    if (!setup.run->StartSnapShots(QStringLiteral("1"), QString(), false))
        return 1;
    finished.wait(30 * 60 * 1000);
    const double seconds = clock.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const int done = setup.run->DoneCount();
    if (report) {
        QFile::remove(options.report);
        if (!QFile::rename(report->filePath(), options.report))
            QTextStream(stderr) << "cannot write " << options.report << '\n';
    }
    print({ { QStringLiteral("measure"), QStringLiteral("run") }, { QStringLiteral("threads"), options.threads },
        { QStringLiteral("endpoints"), options.endpoints.isEmpty() ? QStringLiteral("local") : options.endpoints },
        { QStringLiteral("delay_ms"), options.delay }, { QStringLiteral("fast_delay"), options.fastDelay },
        { QStringLiteral("scripts"), options.scripts }, { QStringLiteral("dismiss_banners"), options.dismissBanners },
        { QStringLiteral("links"), done }, { QStringLiteral("success"), setup.run->SuccessCount() },
        { QStringLiteral("outcomes"), outcomes }, { QStringLiteral("seconds"), seconds },
        { QStringLiteral("links_per_s"), done / seconds }, { QStringLiteral("longest_stall_ms"), probe.longestMs() },
        { QStringLiteral("longest_event_cpu_ms"),
            static_cast<TracingApplication*>(QCoreApplication::instance())->longestEventCpuMs() },
        { QStringLiteral("own_cpu_ms_per_link"), done ? cpu * 1000.0 / done : 0.0 },
        { QStringLiteral("completion_gui_ms_mean"), setup.timed->gui.meanMs() },
        { QStringLiteral("completion_gui_ms_longest"), setup.timed->gui.longestMs },
        { QStringLiteral("completion_work_ms_mean"), setup.timed->work.meanMs() },
        { QStringLiteral("completion_work_ms_longest"), setup.timed->work.longestMs } });
    return 0;
}

int runMillion(Capture::BrowserHost& host, const QString& url)
{
    Installation setup(&host, 4, 0);
    {
        QFile file(setup.links.LinksInfoFile());
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block;
        for (int i = 1; i <= 1000000; ++i) {
            block += QByteArray::number(i) + '|' + url.toUtf8() + "?link=" + QByteArray::number(i) + "\r\n";
            if (block.size() > (1 << 20)) {
                file.write(block);
                block.clear();
            }
        }
        file.write(block);
    }
    QElapsedTimer clock;
    clock.start();
    const qint32 count = setup.links.CountLinks();
    const qint64 countMs = clock.elapsed();

    // A 10 ms timer: the figures recorded so far were taken with it.
    BenchProbes::StallProbe probe(10);
    QSignalSpy finished(setup.run.get(), &Batch::BatchRun::finished);
    probe.start();
    static_cast<TracingApplication*>(QCoreApplication::instance())->resetLongest();
    clock.restart();
    if (!setup.run->StartSnapShots(QStringLiteral("999000"), QStringLiteral("999020"), false))
        return 1;
    const qint64 startMs = clock.elapsed();
    finished.wait(5 * 60 * 1000);
    print({ { QStringLiteral("measure"), QStringLiteral("million") }, { QStringLiteral("lines"), count },
        { QStringLiteral("count_ms"), countMs }, { QStringLiteral("start_at_999000_ms"), startMs },
        { QStringLiteral("longest_stall_ms"), probe.longestMs() },
        { QStringLiteral("longest_event_cpu_ms"),
            static_cast<TracingApplication*>(QCoreApplication::instance())->longestEventCpuMs() },
        { QStringLiteral("links"), setup.run->DoneCount() },
        { QStringLiteral("success"), setup.run->SuccessCount() } });
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    TracingApplication app(argc, argv); // the text watermark needs fonts
    QCommandLineParser parser;
    parser.addOptions({ { QStringLiteral("links"), QStringLiteral("links file (ID|URL per line)"),
                            QStringLiteral("file") },
        { QStringLiteral("threads"), QStringLiteral("capture slots"), QStringLiteral("n"), QStringLiteral("4") },
        { QStringLiteral("delay"), QStringLiteral("DelayTime in ms"), QStringLiteral("ms"), QStringLiteral("0") },
        { QStringLiteral("fast-delay"), QStringLiteral("FastDelay (0 or 1)"), QStringLiteral("flag"),
            QStringLiteral("1") },
        { QStringLiteral("scripts"), QStringLiteral("EnableScript (0 or 1)"), QStringLiteral("flag"),
            QStringLiteral("0") },
        { QStringLiteral("dismiss-banners"), QStringLiteral("DismissCookieBanners (0 or 1)"), QStringLiteral("flag"),
            QStringLiteral("1") },
        { QStringLiteral("repeat"), QStringLiteral("runs"), QStringLiteral("n"), QStringLiteral("1") },
        { QStringLiteral("million"), QStringLiteral("count a million-line database and start at line 999,000") },
        { QStringLiteral("images"), QStringLiteral("keep the thumbnails in this folder"), QStringLiteral("folder") },
        { QStringLiteral("endpoints"),
            QStringLiteral("BrowserEndpoints: the browsers to capture on (\"local\", ws://, http://host:port)"),
            QStringLiteral("list") },
        { QStringLiteral("trace"), QStringLiteral("record the browser's own trace into file"), QStringLiteral("file") },
        { QStringLiteral("browser-args"), QStringLiteral("more browser flags, separated by spaces"),
            QStringLiteral("flags") },
        { QStringLiteral("report"), QStringLiteral("write the run report to this file"), QStringLiteral("file") },
        { QStringLiteral("memory-every"), QStringLiteral("print the process tree's PSS every n links"),
            QStringLiteral("n"), QStringLiteral("0") },
        { QStringLiteral("view"), QStringLiteral("show the links list in a list view (offscreen) during the run") },
        { QStringLiteral("slow-events"), QStringLiteral("print every event handled in more than ms"),
            QStringLiteral("ms"), QStringLiteral("0") },
        { QStringLiteral("url"), QStringLiteral("page for --million"), QStringLiteral("url"),
            QStringLiteral("http://127.0.0.1:18865/p/0001.html") } });
    parser.process(app);
    app.setThreshold(parser.value(QStringLiteral("slow-events")).toLongLong());

    Capture::BrowserOptions options;
    options.extraArguments << QStringLiteral("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.*");
    options.extraArguments << parser.value(QStringLiteral("browser-args")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Capture::BrowserHost host(options);
    if (parser.isSet(QStringLiteral("million")))
        return runMillion(host, parser.value(QStringLiteral("url")));
    if (!parser.isSet(QStringLiteral("links"))) {
        parser.showHelp(2);
    }
    RunOptions run;
    run.threads = parser.value(QStringLiteral("threads")).toInt();
    run.delay = parser.value(QStringLiteral("delay")).toInt();
    run.fastDelay = parser.value(QStringLiteral("fast-delay")).toInt();
    run.scripts = parser.value(QStringLiteral("scripts")).toInt();
    run.dismissBanners = parser.value(QStringLiteral("dismiss-banners")).toInt();
    run.images = parser.value(QStringLiteral("images"));
    run.endpoints = parser.value(QStringLiteral("endpoints"));
    std::unique_ptr<BrowserTrace> trace;
    if (parser.isSet(QStringLiteral("trace"))) {
        trace = std::make_unique<BrowserTrace>(parser.value(QStringLiteral("trace")));
        run.trace = trace.get();
    }
    run.report = parser.value(QStringLiteral("report"));
    run.memoryEvery = parser.value(QStringLiteral("memory-every")).toInt();
    run.view = parser.isSet(QStringLiteral("view"));
    for (int i = 0; i < parser.value(QStringLiteral("repeat")).toInt(); ++i) {
        if (const int failed = runLinks(host, parser.value(QStringLiteral("links")), run))
            return failed;
    }
    if (trace && !trace->finish())
        return 3;
    return 0;
}
