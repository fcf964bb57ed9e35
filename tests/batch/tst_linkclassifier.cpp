#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/linkclassifier.h"

using namespace Batch;
using Kind = LinkVerdict::Kind;

namespace {
const QString DefaultIgnore = QStringLiteral(
    ".exe,.zip,.tar,.gz,.tgz,.rar,.gif,.jpg,.JIF,.JPEG,.JPE,.jng,.bmp,.ico,.png,.tif,.tiff,.tiff,.pcd,.pcx,.psd,.wbmp,"
    ".xbm,.xpm,.ras,.sgi,.tga,.ppm,.pgm,.pbm,.mng,.koa,.iff,.lbm,.hdr,.g3,.dds,.cut");
}

class TestLinkClassifier final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void classify_data();
    void classify();
    void skipExisting();
    void percentage_data();
    void percentage();
};

void TestLinkClassifier::classify_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("status");

    const int capture = int(Kind::Capture), skipped = int(Kind::Skipped), ignored = int(Kind::Ignored);
    QTest::newRow("plain page") << QStringLiteral("http://example.com/") << capture << QString();
    QTest::newRow("no scheme") << QStringLiteral("example.com") << capture << QString();
    QTest::newRow("empty") << QString() << skipped << QStringLiteral("Skipped...");
    QTest::newRow("www.") << QStringLiteral("WWW.") << skipped << QStringLiteral("Skipped...");
    QTest::newRow("http://www.") << QStringLiteral("http://www.") << skipped << QStringLiteral("Skipped...");
    QTest::newRow("scheme only, capitals") << QStringLiteral("HTTP://") << skipped << QStringLiteral("Skipped...");
    QTest::newRow("no host") << QStringLiteral("/just/a/path") << skipped << QStringLiteral("Skipped...");
    QTest::newRow("zip") << QStringLiteral("http://a.org/f.ZIP") << ignored << QStringLiteral("Ignored...(.zip)");
    QTest::newRow("exe") << QStringLiteral("http://a.org/setup.exe") << ignored << QStringLiteral("Ignored...(.exe)");
    QTest::newRow("three-letter entry never matches") << QStringLiteral("http://a.org/f.gz") << capture << QString();
    QTest::newRow("upper-case entry never matches") << QStringLiteral("http://a.org/f.JPE") << capture << QString();
    QTest::newRow("tiff tail is 'tiff'") << QStringLiteral("http://a.org/f.tiff") << capture << QString();
}

void TestLinkClassifier::classify()
{
    QFETCH(QString, url);
    QFETCH(int, kind);
    const LinkClassifier classifier(DefaultIgnore, false, QStringLiteral("/nonexistent"), 0);
    const LinkVerdict verdict = classifier.classify(QStringLiteral("1"), url);
    QCOMPARE(int(verdict.kind), kind);
    QTEST(verdict.status, "status");
    QVERIFY(!verdict.countsAsSuccess);
    if (verdict.kind == Kind::Skipped)
        QCOMPARE(verdict.color, QColor(0xD5, 0xD5, 0x00));
    if (verdict.kind == Kind::Ignored)
        QCOMPARE(verdict.color, QColor(0x6F, 0x6F, 0x00));
}

void TestLinkClassifier::skipExisting()
{
    QTemporaryDir dir;
    QFile thumb(dir.filePath(QStringLiteral("17.jpg")));
    QVERIFY(thumb.open(QIODevice::WriteOnly));
    thumb.close();

    const LinkClassifier ticked(DefaultIgnore, true, dir.path(), 0);
    const LinkVerdict exists = ticked.classify(QStringLiteral("17"), QStringLiteral("http://a.org"));
    QCOMPARE(exists.kind, Kind::Exists);
    QCOMPARE(exists.status, QStringLiteral("Snapshot Exists"));
    QCOMPARE(exists.color, QColor(0x00, 0x66, 0x99));
    QVERIFY(exists.countsAsSuccess);
    QCOMPARE(ticked.classify(QStringLiteral("18"), QStringLiteral("http://a.org")).kind, Kind::Capture);

    const LinkClassifier otherType(DefaultIgnore, true, dir.path(), 2);
    QCOMPARE(otherType.classify(QStringLiteral("17"), QStringLiteral("http://a.org")).kind, Kind::Capture);
    const LinkClassifier unticked(DefaultIgnore, false, dir.path(), 0);
    QCOMPARE(unticked.classify(QStringLiteral("17"), QStringLiteral("http://a.org")).kind, Kind::Capture);
    // Skipping and ignoring come first.
    QCOMPARE(ticked.classify(QStringLiteral("17"), QString()).kind, Kind::Skipped);
}

void TestLinkClassifier::percentage_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("percent");
    QTest::newRow("1 of 8") << 1 << 8 << 12;
    QTest::newRow("3 of 8") << 3 << 8 << 38;
    QTest::newRow("all") << 8 << 8 << 100;
    QTest::newRow("more than selected") << 9 << 8 << 100;
    QTest::newRow("nothing selected") << 3 << 0 << 0;
    QTest::newRow("1 of 200") << 1 << 200 << 0;
}

void TestLinkClassifier::percentage()
{
    QFETCH(int, done);
    QFETCH(int, selected);
    QTEST(runPercentage(done, selected), "percent");
}

QTEST_GUILESS_MAIN(TestLinkClassifier)
#include "tst_linkclassifier.moc"
