#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "admin/adminchannel.h"
#include "admin/linksimport.h"
#include "adminscriptserver.h"
#include "cannedhttpserver.h"
#include "fulldisk.h"

using namespace Admin;
using AdminTest::AdminScriptServer;
using AdminTest::CannedHttpServer;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

struct ImportOutcome {
    bool ok = false;
    qint32 count = -1;
    QString message;
};

} // namespace

class tst_LinksImport final : public QObject {
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
        m_dir.emplace();
        m_database = m_dir->filePath(QStringLiteral("app/data/LinksInfo.txt"));
    }

    void modesAndPeriodsAreSentAsNumbers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("period1");
        QTest::newRow("all") << 1 << 5 << 5;
        QTest::newRow("submitted within 6 hours, 1 week") << 2 << 3 << 8;
        QTest::newRow("without snapshot") << 3 << 0 << 15;
        QTest::newRow("without snapshot within") << 4 << 15 << 12;
    }

    void modesAndPeriodsAreSentAsNumbers()
    {
        QFETCH(int, mode);
        QFETCH(int, period);
        QFETCH(int, period1);
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "1|http://a.test/\r\n", {}, false });
        const qsizetype before = m_canned.requests().size();
        const ImportOutcome outcome = runImport(m_canned.url(), mode, period, period1);
        QVERIFY(outcome.ok);
        // The count is asked first, then the import.
        QCOMPARE(m_canned.requests().size(), before + 2);
        const auto count = AdminTest::decodeForm(m_canned.requests().at(before).body);
        QCOMPARE(count.value(2).second, QStringLiteral("PictavoGetTotalLinksCount"));
        const auto fields = AdminTest::decodeForm(m_canned.requests().constLast().body);
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[2], qMakePair(QStringLiteral("action"), QStringLiteral("PictavoImportLinksInfo")));
        QCOMPARE(fields[3], qMakePair(QStringLiteral("ImportLinksMode"), QString::number(mode)));
        QCOMPARE(fields[4], qMakePair(QStringLiteral("LinksPeriod"), QString::number(period)));
        QCOMPARE(fields[5], qMakePair(QStringLiteral("LinksPeriod1"), QString::number(period1)));
    }

    void referenceScriptChoosesLinksByModeAndPeriod_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("period1");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all")
            << 1 << 0 << 0
            << QByteArray(
                   "1|http://one.test/\r\n2|http://two.test/\r\n3|http://three.test/\r\n4|http://four.test/\r\n");
        QTest::newRow("within 1 hour") << 2 << 0 << 15 << QByteArray("1|http://one.test/\r\n");
        QTest::newRow("within 6 hours") << 2 << 3 << 0 << QByteArray("1|http://one.test/\r\n2|http://two.test/\r\n");
        QTest::newRow("within 12 months")
            << 2 << 15 << 0 << QByteArray("1|http://one.test/\r\n2|http://two.test/\r\n3|http://three.test/\r\n");
        QTest::newRow("without snapshot") << 3 << 0 << 0 << QByteArray("1|http://one.test/\r\n4|http://four.test/\r\n");
        QTest::newRow("without snapshot within 1 week") << 4 << 0 << 8 << QByteArray("1|http://one.test/\r\n");
        QTest::newRow("without snapshot within 1 hour, not the other list")
            << 4 << 15 << 0 << QByteArray("1|http://one.test/\r\n");
    }

    void referenceScriptChoosesLinksByModeAndPeriod()
    {
        QFETCH(int, mode);
        QFETCH(int, period);
        QFETCH(int, period1);
        QFETCH(QByteArray, expected);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        auto line = [&](const char* id, const char* name, qint64 age) -> QByteArray {
            return QByteArray(id) + "|http://" + name + ".test/|" + name + '|' + QByteArray::number(now - age) + "\r\n";
        };
        m_script.setLinks(line("1", "one", 1800) + line("2", "two", 5 * 3600) + line("3", "three", 10 * 86400)
            + line("4", "four", 400 * 86400));
        writeFile(m_script.snapshotsFolder() + QStringLiteral("/2.jpg"), "x");
        writeFile(m_script.snapshotsFolder() + QStringLiteral("/3.png"), "x");

        const ImportOutcome outcome = runImport(m_script.url(), mode, period, period1);
        QVERIFY2(outcome.ok, qPrintable(outcome.message));
        QCOMPARE(readAll(m_database), expected);
        QCOMPARE(outcome.count, qint32(expected.count('\n')));
    }

    void replyIsStoredByteForByte_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("count");
        QTest::newRow("last line without a break")
            << QByteArray("1|http://a.test/\r\n2|http://b.test/\r\n3|http://c.test/") << 3;
        QTest::newRow("LF only, UTF-8") << QByteArray("7|http://b\xc3\xbc.test/|T\xc3\xa9\n8|http://c.test/\n") << 2;
        QTest::newRow("empty body") << QByteArray() << 0;
    }

    void replyIsStoredByteForByte()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, count);
        writeFile(m_database, "old|http://old.test/\r\n");
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", body, {}, false });
        const ImportOutcome outcome = runImport(m_canned.url(), 1, 5, 5);
        QVERIFY(outcome.ok);
        QCOMPARE(readAll(m_database), body);
        QCOMPARE(outcome.count, count);
        // Nothing of the replacement is left beside the database.
        QCOMPARE(QDir(QFileInfo(m_database).absolutePath()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("LinksInfo.txt") });
    }

    void dataFolderIsCreatedWhenMissing()
    {
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "1|http://a.test/", {}, false });
        QVERIFY(!QFileInfo::exists(QFileInfo(m_database).absolutePath()));
        const ImportOutcome outcome = runImport(m_canned.url(), 1, 5, 5);
        QVERIFY(outcome.ok);
        QCOMPARE(readAll(m_database), QByteArray("1|http://a.test/"));
    }

    void failedRequestLeavesDatabaseUntouched_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("message");
        QTest::newRow("500") << QStringLiteral("canned") << QStringLiteral("Error #500: Internal Server Error");
        QTest::newRow("refused login") << QStringLiteral("wrong password") << QStringLiteral("Error #403: Forbidden");
        QTest::newRow("nobody listening")
            << QStringLiteral("http://127.0.0.1:1/admin.cgi") << QStringLiteral("Error #0: ");
        QTest::newRow("empty address") << QString() << QStringLiteral("Error #0: ");
        QTest::newRow("full disk") << QStringLiteral("full disk") << QStringLiteral("Error: ");
    }

    void failedRequestLeavesDatabaseUntouched()
    {
        QFETCH(QString, url);
        QFETCH(QString, message);
        const QByteArray old = "1|http://old.test/\r\n2|http://old2.test/\r\n";
        const TestSupport::FullDisk full(url == QLatin1String("full disk") ? QFileInfo(m_database).path() : QString());
        if (url == QLatin1String("full disk") && !full.isMounted())
            QSKIP("no tmpfs can be mounted here");
        writeFile(m_database, old);
        full.fill();
        m_canned.setReply(CannedHttpServer::Reply { 500, "Internal Server Error", "1|http://new.test/", {}, false });
        m_script.setLinks("9|http://new.test/|N|0\r\n");
        ImportOutcome outcome;
        if (url == QLatin1String("canned"))
            outcome = runImport(m_canned.url(), 1, 5, 5);
        else if (url == QLatin1String("wrong password"))
            outcome = runImport(m_script.url(), 1, 5, 5, QStringLiteral("wrong"));
        else if (full.isMounted())
            outcome = runImport(m_script.url(), 1, 5, 5);
        else
            outcome = runImport(url, 1, 5, 5);
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.message.startsWith(message), qPrintable(outcome.message));
        QCOMPARE(outcome.count, 2);
        QCOMPARE(readAll(m_database), old);
        QCOMPARE(QDir(QFileInfo(m_database).absolutePath()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("LinksInfo.txt") });
    }

    void errorReplyEndsWithItsStatusWhateverItsBody_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("endNeverComes");
        constexpr int mib = 1024 * 1024;
        QTest::newRow("500, 3 MiB") << 500 << QByteArray("Internal Server Error") << 3 * mib << false;
        QTest::newRow("500, 3 MiB, the end never comes")
            << 500 << QByteArray("Internal Server Error") << 3 * mib << true;
        QTest::newRow("404, over 1 MiB, the end never comes") << 404 << QByteArray("Not Found") << mib + 1 << true;
        QTest::newRow("403, small, the end never comes") << 403 << QByteArray("Forbidden") << 100 << true;
    }

    void errorReplyEndsWithItsStatusWhateverItsBody()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        QFETCH(int, size);
        QFETCH(bool, endNeverComes);
        const QByteArray old = "1|http://old.test/\r\n";
        writeFile(m_database, old);
        // Looks like links, so that storing it by mistake would show.
        QByteArray page;
        while (page.size() < size)
            page += "9|http://error.test/\r\n";
        page.truncate(size);
        CannedHttpServer::Reply error { status, reason, page, {}, false };
        error.keepOpen = true;
        error.cut = endNeverComes;
        m_canned.setReply("/error.cgi", error);
        const ImportOutcome outcome = runImport(m_canned.url(QStringLiteral("/error.cgi")), 1, 5, 5);
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.message, QStringLiteral("Error #%1: %2").arg(status).arg(QString::fromLatin1(reason)));
        QCOMPARE(readAll(m_database), old);
        QCOMPARE(QDir(QFileInfo(m_database).absolutePath()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("LinksInfo.txt") });
    }

    void replyCutShortLeavesDatabaseUntouched()
    {
        const QByteArray old = "1|http://old.test/\r\n";
        writeFile(m_database, old);
        CannedHttpServer::Reply cut { 200, "OK", "1|http://new.test/\r\n2|http://new", {}, false };
        cut.cut = true;
        m_canned.setReply("/cut.cgi", cut);
        const ImportOutcome outcome = runImport(m_canned.url(QStringLiteral("/cut.cgi")), 1, 5, 5);
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.message.startsWith(QLatin1String("Error #0: ")), qPrintable(outcome.message));
        QCOMPARE(readAll(m_database), old);
        // The part that did arrive was streamed to a temporary file, which is gone again.
        QCOMPARE(QDir(QFileInfo(m_database).absolutePath()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("LinksInfo.txt") });
    }

    void unwritableDatabaseKeepsTheOldOneAndSaysSo()
    {
        // A folder standing where the database should be: nothing can be renamed over it.
        QVERIFY(QDir().mkpath(m_database));
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "1|http://a.test/", {}, false });
        const ImportOutcome outcome = runImport(m_canned.url(), 1, 5, 5);
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.message.startsWith(QLatin1String("Error: ")), qPrintable(outcome.message));
        QVERIFY(QFileInfo(m_database).isDir());
    }

    void abortDuringImportKeepsDatabase()
    {
        const QByteArray old = "1|http://old.test/\r\n";
        writeFile(m_database, old);
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "Count=5", {}, false });
        m_canned.setReply("/slow.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        LinksImport import(m_database);
        QSignalSpy finished(&import, &LinksImport::importFinished);
        QSignalSpy received(&m_canned, &CannedHttpServer::requestReceived);
        import.importLinks(
            { m_canned.url(QStringLiteral("/slow.cgi")), QStringLiteral("admin"), QStringLiteral("pw") }, 1, 5, 5);
        QVERIFY(import.isBusy());
        QVERIFY(received.wait(30000));
        import.abort();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(!import.isBusy());
        QCOMPARE(readAll(m_database), old);
        // The aborted count does not go on to the import.
        QCOMPARE(received.size(), 1);
    }

    void totalLinksCount()
    {
        m_script.setLinks("1|http://a.test/|A|0\r\n2|http://b.test/|B|0\r\n");
        LinksImport import(m_database);
        QSignalSpy counted(&import, &LinksImport::totalLinksCounted);
        import.GetTotalLinksCount(
            { m_script.url(), QStringLiteral("admin"), QString::fromLatin1(AdminScriptServer::Password) });
        QVERIFY(counted.wait(60000));
        QCOMPARE(counted.at(0).at(0).toInt(), 2);
        import.GetTotalLinksCount({ QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("admin"), QString() });
        QVERIFY(counted.wait(60000));
        QCOMPARE(counted.at(1).at(0).toInt(), 0);
    }

private:
    ImportOutcome runImport(const QString& url, int mode, int period, int period1,
        const QString& password = QString::fromLatin1(AdminScriptServer::Password))
    {
        LinksImport import(m_database);
        QSignalSpy finished(&import, &LinksImport::importFinished);
        import.importLinks({ url, QStringLiteral("admin"), password }, mode, period, period1);
        ImportOutcome outcome;
        if (!finished.wait(90000) || finished.size() != 1)
            return outcome;
        outcome.ok = finished.at(0).at(0).toBool();
        outcome.count = finished.at(0).at(1).toInt();
        outcome.message = finished.at(0).at(2).toString();
        return outcome;
    }

    AdminScriptServer m_script;
    CannedHttpServer m_canned;
    std::optional<QTemporaryDir> m_dir;
    QString m_database;
};

QTEST_GUILESS_MAIN(tst_LinksImport)
#include "tst_linksimport.moc"
