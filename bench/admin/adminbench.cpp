// Admin protocol benchmark against the reference script under lighttpd on 127.0.0.1:
//  - upload: 1,000 files of about 5 KB with 1, 2, 4 and 8 connections (10 files per request): files per
//    second and the process's peak memory;
//  - import: a reply of 1,000,000 links (about 60 MB): time to the stored and counted database, and peak
//    memory above the baseline in copies of the reply.
// Prints one JSON line per case.
//   adminbench [--files N] [--links N] [--connections "1 2 4 8"]
#include <cstdio>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include "admin/adminchannel.h"
#include "admin/linksimport.h"
#include "admin/uploadrun.h"
#include "adminscriptserver.h"

namespace {

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// CPU seconds this process has used, user and system: the program's own cost, apart from the server's.
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resets the peak resident size, so that each case reports its own peak.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Runs the event loop until `done` has been set by a signal handler, or the time-out passes.
bool runUntil(const bool& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    if (!done)
        loop.exec();
    return done;
}

QString argument(const QStringList& args, const QString& name, const QString& fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int files = argument(args, QStringLiteral("--files"), QStringLiteral("1000")).toInt();
    const int links = argument(args, QStringLiteral("--links"), QStringLiteral("1000000")).toInt();
    const QStringList connections
        = argument(args, QStringLiteral("--connections"), QStringLiteral("1 2 4 8")).split(QLatin1Char(' '));

    AdminTest::AdminScriptServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(error));
        return 1;
    }
    const Admin::AdminLogin login { server.url(), QString::fromLatin1(AdminTest::AdminScriptServer::User),
        QString::fromLatin1(AdminTest::AdminScriptServer::Password) };

    QTemporaryDir local;
    for (int i = 0; i < files; ++i) {
        QFile file(local.filePath(QStringLiteral("%1.jpg").arg(100000 + i)));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray bytes(4608 + int(QRandomGenerator::global()->bounded(1024)), '\0');
        for (qsizetype b = 0; b < bytes.size(); ++b)
            bytes[b] = char(QRandomGenerator::global()->bounded(256));
        file.write(bytes);
    }

    for (const QString& count : connections) {
        QDir snapshots(server.snapshotsFolder());
        for (const QString& name : snapshots.entryList(QDir::Files))
            snapshots.remove(name);
        Admin::UploadOptions options;
        options.login = login;
        options.folder = local.path();
        options.connections = count.toInt();
        options.filesPerConnection = 10;
        options.clientName = QStringLiteral("Pictavo Studio");
        Admin::UploadRun run;
        bool runDone = false;
        QObject::connect(&run, &Admin::UploadRun::finished, &run, [&runDone] { runDone = true; });
        resetPeak();
        QElapsedTimer timer;
        const double cpuBefore = cpuSeconds();
        timer.start();
        run.start(options);
        if (!runUntil(runDone, 600000))
            return 1;
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("{\"case\":\"upload\",\"connections\":%d,\"files\":%d,\"success\":%d,\"stored\":%d,"
                    "\"seconds\":%.3f,\"files_per_second\":%.1f,\"program_cpu_seconds\":%.3f,\"peak_rss_kb\":%lld}\n",
            options.connections, files, run.successCount(), int(snapshots.entryList(QDir::Files).size()), seconds,
            run.successCount() / seconds, cpuSeconds() - cpuBefore, statusKb("VmHWM:"));
        std::fflush(stdout);
    }

    // The directory's links: about 60 bytes per "ID|URL" line of the reply.
    {
        QFile linksFile(server.folder() + QStringLiteral("/links.txt"));
        if (!linksFile.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray submitted = QByteArray::number(QDateTime::currentSecsSinceEpoch());
        QByteArray chunk;
        for (int i = 1; i <= links; ++i) {
            chunk += QByteArray::number(i) + "|http://www.example-directory-site-" + QByteArray::number(i)
                + ".test/index.html|Site|" + submitted + '\n';
            if (chunk.size() > (1 << 20)) {
                linksFile.write(chunk);
                chunk.clear();
            }
        }
        linksFile.write(chunk);
    }
    QTemporaryDir program;
    const QString database = program.filePath(QStringLiteral("data/LinksInfo.txt"));
    Admin::LinksImport import(database);
    const qint64 baseline = statusKb("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    bool importDone = false;
    bool importOk = false;
    qint32 importCount = 0;
    QObject::connect(&import, &Admin::LinksImport::importFinished, &import, [&](bool ok, qint32 count, const QString&) {
        importOk = ok;
        importCount = count;
        importDone = true;
    });
    // The import asks for the count first; the phases show the script's share and the program's.
    QList<double> replies;
    QObject::connect(&import.channel(), &Admin::AdminChannel::finished, &import,
        [&](const Admin::AdminReply&) { replies.append(double(timer.nsecsElapsed()) / 1e9); });
    import.importLinks(login, 1, 5, 5);
    if (!runUntil(importDone, 600000))
        return 1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const qint64 replyBytes = QFileInfo(database).size();
    const qint64 peak = statusKb("VmHWM:");
    std::printf("{\"case\":\"import\",\"links\":%d,\"ok\":%s,\"count\":%d,\"reply_bytes\":%lld,\"seconds\":%.3f,"
                "\"count_reply_at\":%.3f,\"import_reply_at\":%.3f,\"store_and_count_seconds\":%.3f,"
                "\"baseline_rss_kb\":%lld,\"peak_rss_kb\":%lld,\"peak_above_baseline_in_replies\":%.2f}\n",
        links, importOk ? "true" : "false", importCount, replyBytes, seconds, replies.value(0), replies.value(1),
        seconds - replies.value(1), baseline, peak,
        replyBytes > 0 ? double(peak - baseline) * 1024.0 / double(replyBytes) : 0.0);
    return 0;
}
