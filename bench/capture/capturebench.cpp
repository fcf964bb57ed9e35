// Capture benchmark: captures every link of a links file ("ID|URL" per line) with N capture slots
// at once, each page's 1024 x 768 viewport turned into a 120 x 90 JPEG thumbnail, and prints one
// JSON line: pages per second, failures, the program's own CPU seconds, the browser's CPU seconds
// and the peak memory of both. --soak N repeats the links until N captures are done and prints the
// browser's memory every --report-every captures.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include "capture/browserhost.h"
#include "capture/htmlsnapshot.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Link {
    QString id;
    QString url;
};

struct TreeSample {
    double cpuSeconds = 0;
    double rssMb = 0;
    double pssMb = 0;
    int processes = 0;
};

// Sums CPU and memory over every process in the browser's process group.
TreeSample sampleGroup(qint64 group)
{
    TreeSample sample;
    if (group <= 0)
        return sample;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const auto entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile statFile(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!statFile.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = statFile.readAll();
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        // Fields after the name: state(0) ppid(1) pgrp(2) ... utime(11) stime(12) cutime(13) cstime(14)
        if (fields.size() < 15 || fields.at(2).toLongLong() != group)
            continue;
        if (fields.at(0) == "Z")
            continue;
        ++sample.processes;
        sample.cpuSeconds += double(fields.at(11).toLongLong() + fields.at(12).toLongLong() + fields.at(13).toLongLong()
                                 + fields.at(14).toLongLong())
            / double(ticks);
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(entry));
        if (rollup.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = rollup.readAll().split('\n');
            for (const QByteArray& line : lines) {
                const QList<QByteArray> parts = line.simplified().split(' ');
                if (parts.size() < 2)
                    continue;
                if (parts.at(0) == "Rss:")
                    sample.rssMb += parts.at(1).toDouble() / 1024.0;
                else if (parts.at(0) == "Pss:")
                    sample.pssMb += parts.at(1).toDouble() / 1024.0;
            }
        }
    }
    return sample;
}

// who: RUSAGE_SELF for the whole process, RUSAGE_THREAD for the calling thread only.
double cpuSeconds(int who)
{
    rusage usage {};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ownPeakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.simplified().split(' ').value(1).toDouble() / 1024.0;
    }
    return 0;
}

// Samples the browser's process tree on a thread of its own, so that reading /proc is not counted
// as the capture program's own work (the main thread's CPU time is).
class Sampler final {
public:
    ~Sampler() { stop(); }

    void start(std::function<qint64()> group)
    {
        m_thread = std::thread([this, group = std::move(group)] {
            std::unique_lock lock(m_mutex);
            while (!m_stop) {
                lock.unlock();
                const TreeSample now = sampleGroup(group());
                lock.lock();
                if (now.cpuSeconds > 0)
                    m_last = now;
                m_peakRss = std::max(m_peakRss, now.rssMb);
                m_peakPss = std::max(m_peakPss, now.pssMb);
                m_peakProcesses = std::max(m_peakProcesses, now.processes);
                m_wake.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_stop; });
            }
        });
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    TreeSample last()
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }
    double peakRss()
    {
        std::lock_guard lock(m_mutex);
        return m_peakRss;
    }
    double peakPss()
    {
        std::lock_guard lock(m_mutex);
        return m_peakPss;
    }
    int peakProcesses()
    {
        std::lock_guard lock(m_mutex);
        return m_peakProcesses;
    }

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    TreeSample m_last;
    double m_peakRss = 0;
    double m_peakPss = 0;
    int m_peakProcesses = 0;
};

class Bench final : public QObject {
public:
    Bench(
        QList<Link> links, QString out, int concurrency, int delay, int timeOut, int total, int reportEvery, bool hint)
        : m_links(std::move(links))
        , m_out(std::move(out))
        , m_concurrency(concurrency)
        , m_delay(delay)
        , m_timeOut(timeOut)
        , m_total(total)
        , m_reportEvery(reportEvery)
        , m_hint(hint)
    {
    }

    void start()
    {
        m_threadCpuAtStart = cpuSeconds(RUSAGE_THREAD);
        m_cpuAtStart = cpuSeconds(RUSAGE_SELF);
        m_clock.start();
        m_sampler.start([this] { return m_browserPid.load(); });
        connect(
            &m_host, &Capture::BrowserHost::browserStarted, this, [this] { m_browserPid.store(m_host.processId()); });
        for (int i = 1; i <= std::min(m_concurrency, m_total); ++i) {
            auto* slot = new Capture::HtmlSnapshot(&m_host, this);
            slot->setID(i);
            if (m_hint)
                slot->setThumbnailHint(QSize(120, 90));
            connect(slot, &Capture::HtmlSnapshot::OnStatus, this, [this, slot](int, const QString& text, int code) {
                if (code == 0)
                    return;
                if (code != 1)
                    m_errors << QStringLiteral("%1: %2").arg(slot->LinkURL(), text);
                // Collected outside the event, as the batch run does: the flags change after it.
                QTimer::singleShot(0, this, [this, slot] { complete(slot); });
            });
            dispatch(slot);
        }
    }

private:
    void dispatch(Capture::HtmlSnapshot* slot)
    {
        if (m_dispatched >= m_total) {
            if (m_completed >= m_total)
                finish();
            return;
        }
        const Link& link = m_links.at(m_dispatched % m_links.size());
        ++m_dispatched;
        slot->Reset();
        slot->setReady(false);
        slot->setLinkID(link.id);
        slot->setLinkURL(link.url);
        slot->SetTimeOut(m_timeOut);
        slot->SetAsync(true);
        slot->SetJPEGQuality(100);
        slot->EnableActiveX(1);
        slot->EnableJava(1);
        slot->EnableScript(1);
        slot->SetForceSnap(0);
        slot->SetDelayTime(m_delay);
        slot->SetSnapDimension(1024, 768);
        slot->EnableSnapDimensionAsImageSize(1);
        slot->SnapUrl(link.url, QStringLiteral("*"));
    }

    void complete(Capture::HtmlSnapshot* slot)
    {
        ++m_completed;
        if (slot->Success()) {
            QByteArray bytes;
            slot->GetThumbImageBytes(bytes, QStringLiteral("*.jpg"), 120, 90, false);
            if (bytes.isEmpty()) {
                ++m_failed;
            } else {
                ++m_ok;
                QFile file(m_out + QLatin1Char('/') + slot->LinkID() + QStringLiteral(".jpg"));
                if (file.open(QIODevice::WriteOnly))
                    file.write(bytes);
            }
        } else {
            ++m_failed;
        }
        slot->Clear();
        if (m_reportEvery > 0 && m_completed % m_reportEvery == 0) {
            const TreeSample now = sampleGroup(m_host.processId());
            std::printf("{\"captures\":%d,\"browser_rss_mb\":%.1f,\"browser_pss_mb\":%.1f,\"browser_processes\":%d,"
                        "\"program_rss_mb\":%.1f}\n",
                m_completed, now.rssMb, now.pssMb, now.processes, ownPeakRssMb());
            std::fflush(stdout);
        }
        dispatch(slot);
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        const double wall = double(m_clock.elapsed()) / 1000.0;
        const double programCpu = cpuSeconds(RUSAGE_THREAD) - m_threadCpuAtStart;
        const double processCpu = cpuSeconds(RUSAGE_SELF) - m_cpuAtStart;
        const TreeSample final = sampleGroup(m_host.processId());
        m_sampler.stop();
        const TreeSample browser = final.cpuSeconds > 0 ? final : m_sampler.last();
        QJsonObject summary {
            { QStringLiteral("peer"), QStringLiteral("pictavo") },
            { QStringLiteral("concurrency"), m_concurrency },
            { QStringLiteral("thumbnail_hint"), m_hint },
            { QStringLiteral("delay"), m_delay },
            { QStringLiteral("pages"), m_completed },
            { QStringLiteral("ok"), m_ok },
            { QStringLiteral("failed"), m_failed },
            { QStringLiteral("wall_s"), wall },
            { QStringLiteral("pages_per_s"), double(m_completed) / wall },
            { QStringLiteral("program_cpu_s"), programCpu },
            { QStringLiteral("process_cpu_s_with_sampler"), processCpu },
            { QStringLiteral("browser_cpu_s"), browser.cpuSeconds },
            { QStringLiteral("program_cpu_share"), browser.cpuSeconds > 0 ? programCpu / browser.cpuSeconds : 0.0 },
            { QStringLiteral("browser_peak_rss_mb"), m_sampler.peakRss() },
            { QStringLiteral("browser_peak_pss_mb"), m_sampler.peakPss() },
            { QStringLiteral("browser_peak_processes"), m_sampler.peakProcesses() },
            { QStringLiteral("program_peak_rss_mb"), ownPeakRssMb() },
            { QStringLiteral("browser_starts"), m_host.startCount() },
        };
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
        for (const QString& error : std::as_const(m_errors).mid(0, 10))
            std::fprintf(stderr, "%s\n", qPrintable(error));
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }

    Capture::BrowserHost m_host;
    QList<Link> m_links;
    QString m_out;
    int m_concurrency;
    int m_delay;
    int m_timeOut;
    int m_total;
    int m_reportEvery;
    bool m_hint;
    int m_dispatched = 0;
    int m_completed = 0;
    int m_ok = 0;
    int m_failed = 0;
    bool m_finished = false;
    QStringList m_errors;
    QElapsedTimer m_clock;
    Sampler m_sampler;
    std::atomic<qint64> m_browserPid { 0 };
    double m_cpuAtStart = 0;
    double m_threadCpuAtStart = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption linksOption(
        QStringLiteral("links"), QStringLiteral("Links file."), QStringLiteral("file"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Thumbnail folder."),
        QStringLiteral("dir"), QStringLiteral("/tmp/pictavo-bench/out"));
    const QCommandLineOption concurrencyOption(
        QStringLiteral("concurrency"), QStringLiteral("Captures at once."), QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption delayOption(
        QStringLiteral("delay"), QStringLiteral("Wait after load, ms."), QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption timeOutOption(QStringLiteral("timeout"), QStringLiteral("Capture time-out, ms."),
        QStringLiteral("ms"), QStringLiteral("40000"));
    const QCommandLineOption soakOption(QStringLiteral("soak"), QStringLiteral("Total captures, links repeated."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption reportOption(QStringLiteral("report-every"), QStringLiteral("Memory report interval."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption hintOption(QStringLiteral("hint"),
        QStringLiteral("Tell the slots the thumbnail size, so the browser renders at that scale."));
    parser.addOption(hintOption);
    parser.addOptions(
        { linksOption, outOption, concurrencyOption, delayOption, timeOutOption, soakOption, reportOption });
    parser.process(app);

    QFile linksFile(parser.value(linksOption));
    if (!linksFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read the links file %s\n", qPrintable(linksFile.fileName()));
        return 2;
    }
    QList<Link> links;
    QTextStream stream(&linksFile);
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        const qsizetype bar = line.indexOf(QLatin1Char('|'));
        if (bar > 0)
            links.append({ line.left(bar), line.mid(bar + 1) });
    }
    if (links.isEmpty()) {
        std::fprintf(stderr, "no links\n");
        return 2;
    }
    QDir().mkpath(parser.value(outOption));
    const int soak = parser.value(soakOption).toInt();
    Bench bench(links, parser.value(outOption), std::max(1, parser.value(concurrencyOption).toInt()),
        parser.value(delayOption).toInt(), parser.value(timeOutOption).toInt(), soak > 0 ? soak : int(links.size()),
        parser.value(reportOption).toInt(), parser.isSet(hintOption));
    QTimer::singleShot(0, &bench, [&bench] { bench.start(); });
    return app.exec();
}
