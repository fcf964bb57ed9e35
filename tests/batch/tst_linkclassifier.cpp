#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/appfolders.h"
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
    void idsThatCannotNameAFile_data();
    void idsThatCannotNameAFile();
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

void TestLinkClassifier::idsThatCannotNameAFile_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("usable");
    QTest::newRow("number") << QStringLiteral("42") << true;
    QTest::newRow("dots inside") << QStringLiteral("a..b") << true;
    QTest::newRow("leading dot") << QStringLiteral(".x") << true;
    QTest::newRow("longest that fits") << QString(250, QLatin1Char('7')) << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("dot") << QStringLiteral(".") << false;
    QTest::newRow("dot dot") << QStringLiteral("..") << false;
    QTest::newRow("one up") << QStringLiteral("../x") << false;
    QTest::newRow("climbs out") << QStringLiteral("../../x") << false;
    QTest::newRow("absolute") << QStringLiteral("/etc/x") << false;
    QTest::newRow("backslash") << QStringLiteral("..\\x") << false;
    QTest::newRow("NUL") << QStringLiteral("1") + QChar(0) + QStringLiteral("2") << false;
    QTest::newRow("line feed") << QStringLiteral("1\n2") << false;
    QTest::newRow("DEL") << QStringLiteral("1\x7f") << false;
    QTest::newRow("C1 control") << QStringLiteral("1") + QChar(0x85) << false;
    QTest::newRow("too long") << QString(251, QLatin1Char('7')) << false;
    QTest::newRow("too long in UTF-8") << QString(126, QChar(0x00E9)) << false;
}

// An ID from the server becomes a file name: one that could climb out of the images folder or is
// no file name at all is refused everywhere a thumbnail's name is made.
void TestLinkClassifier::idsThatCannotNameAFile()
{
    QFETCH(QString, id);
    QFETCH(bool, usable);
    QTemporaryDir dir;
    const QString images = dir.filePath(QStringLiteral("images"));
    QDir().mkpath(images);
    // Skip Existing would find this file for "../x", were the ID joined to the folder as it is.
    QFile outside(dir.filePath(QStringLiteral("x.jpg")));
    QVERIFY(outside.open(QIODevice::WriteOnly));
    outside.close();

    QCOMPARE(thumbnailFileName(images, id, 0).has_value(), usable);
    QCOMPARE(!linkIdProblem(id).has_value(), usable);
    const LinkVerdict verdict
        = LinkClassifier(DefaultIgnore, true, images, 0).classify(id, QStringLiteral("http://a.org/"));
    QCOMPARE(verdict.kind, usable ? Kind::Capture : Kind::BadId);
    QVERIFY(!verdict.countsAsSuccess);
    if (!usable)
        QVERIFY(verdict.status.startsWith(QStringLiteral("Not captured: ")));
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
