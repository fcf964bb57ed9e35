#include <algorithm>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "admin/uploadrun.h"
#include "adminscriptserver.h"
#include "cannedhttpserver.h"

#include <sys/resource.h>

using namespace Admin;
using AdminTest::AdminScriptServer;
using AdminTest::CannedHttpServer;

namespace {

// Distinct bytes per file, binary included, so that a mixed-up or truncated file shows.
QByteArray contentFor(int index, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + index * 7) & 0xff);
    return bytes;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Files "f000.bin" .. in a fresh folder; sizes[i] bytes each.
void makeFiles(const QString& folder, const QList<int>& sizes)
{
    for (int i = 0; i < sizes.size(); ++i) {
        QFile file(folder + QStringLiteral("/f%1.bin").arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(contentFor(i, sizes[i])), qint64(sizes[i]));
    }
}

QString fileName(int index) { return QStringLiteral("f%1.bin").arg(index, 3, 10, QLatin1Char('0')); }

} // namespace

class tst_UploadRun final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_script.start(&error), qPrintable(error));
        QVERIFY(m_canned.listen());
    }

    void init()
    {
        m_local.emplace();
        QDir snapshots(m_script.snapshotsFolder());
        const QStringList stored = snapshots.entryList(QDir::Files | QDir::Hidden);
        for (const QString& name : stored)
            snapshots.remove(name);
    }

    void batchesArriveWhole()
    {
        QList<int> sizes;
        for (int i = 0; i < 25; ++i)
            sizes.append(1 + i * 997);
        makeFiles(m_local->path(), sizes);

        UploadRun run;
        QList<int> done;
        connect(&run, &UploadRun::countersChanged, this, [&] {
            if (done.isEmpty() || done.constLast() != run.handedOut())
                done.append(run.handedOut());
        });
        QSignalSpy finished(&run, &UploadRun::finished);
        QSignalSpy log(&run, &UploadRun::logAppended);
        run.start(options(m_script.url(), 2, 10));
        QCOMPARE(run.total(), 25);
        QVERIFY(finished.wait(120000));
        QCOMPARE(done, (QList<int> { 0, 10, 20, 25 }));
        QCOMPARE(run.successCount(), 25);
        QCOMPARE(run.failedCount(), 0);
        QCOMPARE(run.skippedCount(), 0);
        QCOMPARE(run.progressPercent(), 100);
        QCOMPARE(log.size(), 3);
        for (int i = 0; i < 25; ++i)
            QCOMPARE(readAll(m_script.snapshotsFolder() + QLatin1Char('/') + fileName(i)), contentFor(i, sizes[i]));
    }

    void partsAreNumberedOverTheWholeRun()
    {
        makeFiles(m_local->path(), QList<int>(25, 10));
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "stored", {}, false });
        const qsizetype before = m_canned.requests().size();
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_canned.url(), 2, 10));
        QVERIFY(finished.wait(60000));
        QCOMPARE(m_canned.requests().size(), before + 3);
        QStringList names;
        for (qsizetype r = before; r < m_canned.requests().size(); ++r) {
            const auto& request = m_canned.requests().at(r);
            QCOMPARE(request.headers.value("user-agent"), QByteArray("Pictavo Studio"));
            const auto parts = AdminTest::decodeMultipart(request.headers.value("content-type"), request.body);
            QCOMPARE(parts.value(2).content, QByteArray("SnapshotUploadFiles"));
            for (qsizetype p = 3; p < parts.size(); ++p)
                names.append(parts[p].name);
        }
        names.sort(Qt::CaseSensitive);
        QStringList expected;
        for (int i = 0; i < 25; ++i)
            expected.append(QStringLiteral("UploadFile_%1").arg(i));
        expected.sort(Qt::CaseSensitive);
        QCOMPARE(names, expected);
    }

    void emptyFilesAreSkippedAndCounted()
    {
        // With 3 files per batch the first batch holds only empty files: sent without parts.
        makeFiles(m_local->path(), { 0, 0, 0, 5, 0, 7 });
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_script.url(), 1, 3));
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.skippedCount(), 4);
        QCOMPARE(run.successCount(), 2);
        QCOMPARE(run.handedOut(), 6);
        QCOMPARE(QDir(m_script.snapshotsFolder()).entryList(QDir::Files), (QStringList { fileName(3), fileName(5) }));
    }

    void fileGoneSinceTheListingCountsAsFailed()
    {
        makeFiles(m_local->path(), QList<int>(6, 10));
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_script.url(), 1, 2));
        run.setPaused(true);
        QVERIFY(QFile::remove(m_local->filePath(fileName(4))));
        run.setPaused(false);
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.failedCount(), 1);
        QCOMPARE(run.skippedCount(), 0);
        QCOMPARE(run.successCount(), 5);
    }

    void stopWaitsForBatchesInFlightThenTheRangeGoesOn()
    {
        makeFiles(m_local->path(), QList<int>(100, 64));
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_script.url(), 3, 10));
        QCOMPARE(run.handedOut(), 30);
        run.stop();
        QVERIFY(run.isRunning());
        QVERIFY(finished.wait(60000));
        QVERIFY(run.wasStopped());
        QCOMPARE(run.successCount(), 30);
        QCOMPARE(run.nextFileNumber(), 31);
        QCOMPARE(run.total(), 100);
        QCOMPARE(QDir(m_script.snapshotsFolder()).entryList(QDir::Files).size(), 30);

        UploadOptions rest = options(m_script.url(), 3, 10);
        rest.range = std::make_pair(run.nextFileNumber(), run.total());
        run.start(rest);
        QCOMPARE(run.total(), 70);
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.successCount(), 70);
        QVERIFY(!run.wasStopped());
        QCOMPARE(QDir(m_script.snapshotsFolder()).entryList(QDir::Files).size(), 100);
    }

    void rangesAreClamped_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("total");
        QTest::newRow("inside") << 3 << 5 << 3;
        QTest::newRow("one file") << 4 << 4 << 1;
        QTest::newRow("beyond the end") << 8 << 99 << 3;
        QTest::newRow("from zero") << 0 << 2 << 2;
        QTest::newRow("reversed") << 6 << 2 << 0;
        QTest::newRow("after the last file") << 11 << 12 << 0;
    }

    void rangesAreClamped()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, total);
        makeFiles(m_local->path(), QList<int>(10, 3));
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", {}, {}, false });
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        UploadOptions rangeOptions = options(m_canned.url(), 2, 10);
        rangeOptions.range = std::make_pair(from, to);
        run.start(rangeOptions);
        QCOMPARE(run.total(), total);
        if (total > 0)
            QVERIFY(finished.wait(60000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(run.successCount(), total);
    }

    void abortCutsBatchesInFlight()
    {
        makeFiles(m_local->path(), QList<int>(50, 100));
        m_canned.setReply("/silent.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        QSignalSpy received(&m_canned, &CannedHttpServer::requestReceived);
        run.start(options(m_canned.url(QStringLiteral("/silent.cgi")), 2, 10));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, 60000);
        run.abort();
        QCOMPARE(finished.size(), 1);
        QVERIFY(!run.isRunning());
        QCOMPARE(run.failedCount(), 20);
        QCOMPARE(run.successCount(), 0);
        QCOMPARE(run.handedOut(), 20);
    }

    void pauseHoldsBackNewBatches()
    {
        makeFiles(m_local->path(), QList<int>(30, 10));
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_script.url(), 1, 10));
        run.setPaused(true);
        QTRY_COMPARE_WITH_TIMEOUT(run.successCount(), 10, 60000);
        QVERIFY(!run.isConnectionBusy(1));
        QCOMPARE(run.handedOut(), 10);
        QVERIFY(run.isRunning());
        run.setPaused(false);
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.successCount(), 30);
    }

    void repliesAreLoggedWithCrLfAndDashes()
    {
        makeFiles(m_local->path(), { 4 });
        m_canned.setReply(CannedHttpServer::Reply { 500, "Internal Server Error", "a\nb", {}, false });
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        QSignalSpy log(&run, &UploadRun::logAppended);
        QSignalSpy rows(&run, &UploadRun::connectionStatusChanged);
        run.start(options(m_canned.url(), 1, 10));
        QVERIFY(finished.wait(60000));
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.at(0).at(0).toString(),
            QStringLiteral("a\r\nb") + QString(200, QLatin1Char('-')) + QStringLiteral("\r\n"));
        // An error page is logged, and its batch was not stored.
        QCOMPARE(run.failedCount(), 1);
        QCOMPARE(run.successCount(), 0);
        QStringList texts;
        for (const auto& args : rows)
            texts.append(args.at(1).toString());
        QCOMPARE(texts.first(), QStringLiteral("Ready..."));
        QVERIFY(texts.contains(QStringLiteral("Preparing files...")));
        QVERIFY(texts.contains(QStringLiteral("Connecting...")));
        QCOMPARE(texts.constLast(), QStringLiteral("Connection Closed"));
    }

    void widestRunStaysWithinTheOpenFileLimit()
    {
        // Ten connections of a hundred files each under a limit of open files well below their number.
        QList<int> sizes;
        for (int i = 0; i < 1000; ++i)
            sizes.append(1 + (i * 389) % 3000);
        makeFiles(m_local->path(), sizes);
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit lowered = saved;
        lowered.rlim_cur = std::min<rlim_t>(256, saved.rlim_cur);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &saved); });

        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_script.url(), 10, 100));
        QVERIFY(finished.wait(240000));
        QCOMPARE(run.failedCount(), 0);
        QCOMPARE(run.successCount(), 1000);
        for (int i = 0; i < sizes.size(); ++i)
            QCOMPARE(readAll(m_script.snapshotsFolder() + QLatin1Char('/') + fileName(i)), contentFor(i, sizes[i]));
    }

    void refusedBatchesCountAsFailed_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("folderMissing");
        QTest::addColumn<QString>("logged");
        QTest::newRow("wrong login (403)") << QStringLiteral("wrong") << false << QStringLiteral("Invalid login.");
        QTest::newRow("no snapshots folder (500)") << QString::fromLatin1(AdminScriptServer::Password) << true
                                                   << QStringLiteral("The snapshots folder does not exist.");
    }

    void refusedBatchesCountAsFailed()
    {
        QFETCH(QString, password);
        QFETCH(bool, folderMissing);
        QFETCH(QString, logged);
        makeFiles(m_local->path(), QList<int>(7, 10));
        const QString folder = m_script.snapshotsFolder();
        const QString away = folder + QStringLiteral(".away");
        if (folderMissing)
            QVERIFY(QDir().rename(folder, away));
        const auto restore = qScopeGuard([&] {
            if (folderMissing)
                QDir().rename(away, folder);
        });

        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        QSignalSpy log(&run, &UploadRun::logAppended);
        UploadOptions refused = options(m_script.url(), 2, 3);
        refused.login.password = password;
        run.start(refused);
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.failedCount(), 7);
        QCOMPARE(run.successCount(), 0);
        QCOMPARE(log.size(), 3);
        for (const auto& args : std::as_const(log))
            QVERIFY2(args.at(0).toString().startsWith(logged), qPrintable(args.at(0).toString()));
    }

    void unreachableServerFailsEveryBatch()
    {
        makeFiles(m_local->path(), QList<int>(7, 10));
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(QStringLiteral("http://127.0.0.1:1/admin.cgi"), 2, 3));
        QVERIFY(finished.wait(60000));
        QCOMPARE(run.failedCount(), 7);
        QCOMPARE(run.successCount(), 0);
    }

    void emptyFolderEndsAtOnce()
    {
        const qsizetype before = m_canned.requests().size();
        UploadRun run;
        QSignalSpy finished(&run, &UploadRun::finished);
        run.start(options(m_canned.url(), 2, 10));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(run.total(), 0);
        QVERIFY(!run.isRunning());
        QCOMPARE(m_canned.requests().size(), before);
    }

private:
    UploadOptions options(const QString& url, int connections, int files) const
    {
        UploadOptions result;
        result.login = { url, QStringLiteral("admin"), QString::fromLatin1(AdminScriptServer::Password) };
        result.folder = m_local->path();
        result.connections = connections;
        result.filesPerConnection = files;
        result.clientName = QStringLiteral("Pictavo Studio");
        return result;
    }

    AdminScriptServer m_script;
    CannedHttpServer m_canned;
    std::optional<QTemporaryDir> m_local;
};

QTEST_GUILESS_MAIN(tst_UploadRun)
#include "tst_uploadrun.moc"
