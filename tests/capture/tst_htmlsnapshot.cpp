#include <QImage>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "capture/browserhost.h"
#include "capture/htmlsnap.h"
#include "capture/htmlsnapshot.h"

using namespace Capture;

// The control's flag rules, driven by the engine's own signals. The host points at a browser that
// does not exist, so no process is ever started; the engine's real final event (-1) only arrives
// when the event loop runs, which these tests avoid until they want it.
class TestHtmlSnapshot final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsFree();
    void workingStatusKeepsBusy();
    void finalStatusSetsFlagsAfterTheOwnerSawIt_data();
    void finalStatusSetsFlagsAfterTheOwnerSawIt();
    void secondFinalStatusIsIgnored();
    void readyClearsTheEndFlags();
    void finishedWriteSetsOnlyTheFlag();
    void progressIsPassedOnAfterTheEnd();
    void resetKeepsCallerDataButNotTheListItem();
    void elapsedTimeRoundsHalfToEven_data();
    void elapsedTimeRoundsHalfToEven();
    void statusTexts_data();
    void statusTexts();
    void thumbnailLeftUnchangedWithoutCapture();
    void missingBrowserEndsWithFailure();
    void imageFileHelpers();

private:
    std::unique_ptr<BrowserHost> m_host;
    std::unique_ptr<HtmlSnapshot> m_snapshot;
};

void TestHtmlSnapshot::init()
{
    BrowserOptions options;
    options.executable = QStringLiteral("/nonexistent/browser");
    m_host = std::make_unique<BrowserHost>(options);
    m_snapshot = std::make_unique<HtmlSnapshot>(m_host.get());
    m_snapshot->setID(3);
}

void TestHtmlSnapshot::cleanup()
{
    m_snapshot.reset();
    m_host.reset();
}

void TestHtmlSnapshot::startsFree()
{
    QVERIFY(m_snapshot->Ready());
    QVERIFY(!m_snapshot->Busy());
    QVERIFY(!m_snapshot->Finished());
    QVERIFY(!m_snapshot->Success());
    QCOMPARE(m_snapshot->StatusCode(), 0);
    QCOMPARE(m_snapshot->Progress(), 0);
    QVERIFY(!m_snapshot->ListItem().isValid());
    QCOMPARE(m_snapshot->StatusText(), QStringLiteral("Normal"));
}

void TestHtmlSnapshot::workingStatusKeepsBusy()
{
    QSignalSpy status(m_snapshot.get(), &HtmlSnapshot::OnStatus);
    m_snapshot->setReady(false);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    QVERIFY(m_snapshot->Busy());
    QVERIFY(!m_snapshot->Ready());

    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("Loading"), 0);
    QVERIFY(m_snapshot->Busy());
    QVERIFY(!m_snapshot->Finished());
    QCOMPARE(m_snapshot->StatusCode(), 0);
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0), (QVariantList { 3, QStringLiteral("Loading"), 0 }));
}

void TestHtmlSnapshot::finalStatusSetsFlagsAfterTheOwnerSawIt_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("success");
    QTest::newRow("captured") << 1 << true;
    QTest::newRow("failed") << -1 << false;
    QTest::newRow("file") << -2 << false;
    QTest::newRow("not opened") << -3 << false;
    QTest::newRow("time-out") << -4 << false;
    QTest::newRow("unknown code") << 7 << false;
}

void TestHtmlSnapshot::finalStatusSetsFlagsAfterTheOwnerSawIt()
{
    QFETCH(int, code);
    QFETCH(bool, success);

    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    bool sawFinished = true;
    bool sawBusy = false;
    connect(m_snapshot.get(), &HtmlSnapshot::OnStatus, this, [&](int, const QString&, int) {
        sawFinished = m_snapshot->Finished();
        sawBusy = m_snapshot->Busy();
    });
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("end"), code);
    QVERIFY(!sawFinished);
    QVERIFY(sawBusy);
    QVERIFY(m_snapshot->Finished());
    QVERIFY(!m_snapshot->Busy());
    QCOMPARE(m_snapshot->Success(), success);
    QCOMPARE(m_snapshot->StatusCode(), code);
}

void TestHtmlSnapshot::secondFinalStatusIsIgnored()
{
    QSignalSpy status(m_snapshot.get(), &HtmlSnapshot::OnStatus);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("done"), 1);
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("late"), -3);
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("later"), 0);
    QCOMPARE(status.size(), 1);
    QVERIFY(m_snapshot->Success());
    QCOMPARE(m_snapshot->StatusCode(), 1);
}

void TestHtmlSnapshot::readyClearsTheEndFlags()
{
    m_snapshot->setReady(false);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("done"), 1);
    m_snapshot->setReady(true);
    QVERIFY(m_snapshot->Ready());
    QVERIFY(!m_snapshot->Finished());
    QVERIFY(!m_snapshot->Busy());
    QVERIFY(!m_snapshot->Success());
    QCOMPARE(m_snapshot->StatusCode(), 1);

    m_snapshot->setReady(false);
    QVERIFY(!m_snapshot->Ready());
}

void TestHtmlSnapshot::finishedWriteSetsOnlyTheFlag()
{
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    m_snapshot->setFinished(true);
    QVERIFY(m_snapshot->Finished());
    QVERIFY(m_snapshot->Busy());
    QCOMPARE(m_snapshot->StatusCode(), 0);
    // A forced end also silences the engine's late events.
    QSignalSpy status(m_snapshot.get(), &HtmlSnapshot::OnStatus);
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("late"), 1);
    QCOMPARE(status.size(), 0);
    QVERIFY(!m_snapshot->Success());
}

void TestHtmlSnapshot::progressIsPassedOnAfterTheEnd()
{
    QSignalSpy progress(m_snapshot.get(), &HtmlSnapshot::OnProgress);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnProgress(40);
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("done"), 1);
    Q_EMIT m_snapshot->engine()->OnProgress(90);
    QCOMPARE(progress.size(), 2);
    QCOMPARE(progress.at(1), (QVariantList { 3, 90 }));
    QCOMPARE(m_snapshot->Progress(), 90);

    m_snapshot->Reset();
    QCOMPARE(m_snapshot->Progress(), 90);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    QCOMPARE(m_snapshot->Progress(), 90);
}

void TestHtmlSnapshot::resetKeepsCallerDataButNotTheListItem()
{
    m_snapshot->setLinkID(QStringLiteral("17"));
    m_snapshot->setLinkURL(QStringLiteral("http://example.test/"));
    m_snapshot->setImageFile(QStringLiteral("work.jpg"));
    m_snapshot->setOutputFile(QStringLiteral("17.jpg"));
    m_snapshot->setListItem(42);
    m_snapshot->setReady(false);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("gone"), -4);
    const HtmlSnap* before = m_snapshot->engine();

    m_snapshot->Reset();
    QVERIFY(m_snapshot->engine() != before);
    QVERIFY(m_snapshot->Ready());
    QVERIFY(!m_snapshot->Finished());
    QCOMPARE(m_snapshot->StatusCode(), 0);
    QCOMPARE(m_snapshot->ID(), 3);
    QCOMPARE(m_snapshot->LinkID(), QStringLiteral("17"));
    QCOMPARE(m_snapshot->LinkURL(), QStringLiteral("http://example.test/"));
    QCOMPARE(m_snapshot->ImageFile(), QStringLiteral("work.jpg"));
    QCOMPARE(m_snapshot->OutputFile(), QStringLiteral("17.jpg"));
    QVERIFY(!m_snapshot->ListItem().isValid());

    // The old engine is gone from the slot: its events no longer reach the owner.
    QSignalSpy status(m_snapshot.get(), &HtmlSnapshot::OnStatus);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("new"), 0);
    QCOMPARE(status.size(), 1);
}

void TestHtmlSnapshot::elapsedTimeRoundsHalfToEven_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("elapsed");
    QTest::addColumn<int>("seconds");

    QTest::newRow("0") << 1000u << 0u << 0;
    QTest::newRow("499") << 1000u << 499u << 0;
    QTest::newRow("500 to even 0") << 1000u << 500u << 0;
    QTest::newRow("1500 to even 2") << 1000u << 1500u << 2;
    QTest::newRow("2499") << 1000u << 2499u << 2;
    QTest::newRow("2500 to even 2") << 1000u << 2500u << 2;
    QTest::newRow("2501") << 1000u << 2501u << 3;
    QTest::newRow("3500 to even 4") << 1000u << 3500u << 4;
    QTest::newRow("counter wraps") << 0xFFFFFC18u << 2500u << 2;
    QTest::newRow("long run") << 5u << 86'400'000u << 86400;
}

void TestHtmlSnapshot::elapsedTimeRoundsHalfToEven()
{
    QFETCH(quint32, start);
    QFETCH(quint32, elapsed);
    QFETCH(int, seconds);

    quint32 tick = start;
    m_snapshot->setTickSource([&tick] { return tick; });
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    tick = start + elapsed;
    QCOMPARE(m_snapshot->ElapsedTime(), seconds);

    // Reset restarts the count as well.
    m_snapshot->Reset();
    QCOMPARE(m_snapshot->ElapsedTime(), 0);
    m_snapshot->setTickSource({});
}

void TestHtmlSnapshot::statusTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("-4") << -4 << QStringLiteral("Time is out before taking a snapshot");
    QTest::newRow("-3") << -3 << QStringLiteral("Fail to open the URL");
    QTest::newRow("-2") << -2 << QStringLiteral("Fail to save to file");
    QTest::newRow("-1") << -1 << QStringLiteral("Fail to take the snapshot of the page");
    QTest::newRow("0") << 0 << QStringLiteral("Normal");
    QTest::newRow("1") << 1 << QStringLiteral("The snapshot is successfully taken");
    QTest::newRow("7") << 7 << QString();
    QTest::newRow("-6") << -6 << QString();
}

void TestHtmlSnapshot::statusTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(HtmlSnapshot::statusTextFor(code), text);
}

void TestHtmlSnapshot::thumbnailLeftUnchangedWithoutCapture()
{
    QByteArray bytes("keep");
    m_snapshot->GetThumbImageBytes(bytes, QStringLiteral("*.jpg"), 120, 90, true);
    QCOMPARE(bytes, QByteArray("keep"));
    // The stored code says success, but the engine's own does not: nothing is fetched.
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    Q_EMIT m_snapshot->engine()->OnStatus(QStringLiteral("done"), 1);
    m_snapshot->GetThumbImageBytes(bytes, QStringLiteral("*.jpg"), 120, 90, true);
    QCOMPARE(bytes, QByteArray("keep"));
    QVERIFY(m_snapshot->GetThumbImageBytesX(QStringLiteral("*.jpg"), 120, 90, true).isEmpty());
}

void TestHtmlSnapshot::missingBrowserEndsWithFailure()
{
    QSignalSpy status(m_snapshot.get(), &HtmlSnapshot::OnStatus);
    m_snapshot->SnapUrl(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("*"));
    QTRY_VERIFY_WITH_TIMEOUT(m_snapshot->Finished(), 10000);
    QCOMPARE(m_snapshot->StatusCode(), -1);
    QCOMPARE(m_snapshot->GetErrorCode(), -1);
    QCOMPARE(m_snapshot->StatusText(), QStringLiteral("Fail to take the snapshot of the page"));
    QVERIFY(status.last().at(1).toString().contains(QStringLiteral("/nonexistent/browser")));
}

void TestHtmlSnapshot::imageFileHelpers()
{
    QTemporaryDir dir;
    QImage source(200, 100, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, qRgb(x, y * 2, 255 - x));
    }
    const QString input = dir.filePath(QStringLiteral("in.png"));
    QVERIFY(source.save(input));
    const auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const auto colours = [](const QImage& image) {
        QSet<QRgb> set;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                set.insert(image.pixel(x, y));
        }
        return set;
    };

    m_snapshot->MakeGrayImage(input, path("grey.png"), false);
    const QImage grey(path("grey.png"));
    QCOMPARE(grey.size(), source.size());
    for (const QRgb pixel : colours(grey))
        QVERIFY(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel));

    m_snapshot->MakeGrayImage(input, path("bw.png"), true);
    for (const QRgb pixel : colours(QImage(path("bw.png"))))
        QVERIFY(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255));

    m_snapshot->GetThumbnailImage(input, path("keep.jpg"), 50, 50, true);
    QCOMPARE(QImage(path("keep.jpg")).size(), QSize(50, 25));
    m_snapshot->GetThumbnailImage(input, path("stretch.jpg"), 50, 50, false);
    QCOMPARE(QImage(path("stretch.jpg")).size(), QSize(50, 50));

    m_snapshot->ReduceColor(input, path("four.png"), 4);
    const QSet<QRgb> reduced = colours(QImage(path("four.png")));
    QVERIFY(!reduced.isEmpty());
    QVERIFY(reduced.size() <= 4);

    m_snapshot->MakeGrayImage(path("missing.png"), path("never.png"), false);
    QVERIFY(!QFile::exists(path("never.png")));
}

QTEST_GUILESS_MAIN(TestHtmlSnapshot)
#include "tst_htmlsnapshot.moc"
