#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "common/thumbnailmodel.h"
#include "scriptedmessagebox.h"
#include "viewer/thumbnailbrowser.h"

using namespace Viewer;
using Answer = Common::MessageBox::Answer;

namespace {

// Writes count small PNG files named 0001.png, 0002.png, ... of one colour each.
void writeImages(const QString& folder, int count, QColor colour = Qt::red, int from = 1)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(colour);
    for (int i = from; i < from + count; ++i) {
        if (!image.save(folder + QStringLiteral("/%1.png").arg(i, 4, 10, QLatin1Char('0'))))
            qFatal("cannot write a test image");
    }
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
}

// Waits until the browser has listed the folder and decoded the page it shows.
bool waitForPage(ThumbnailBrowser& browser, QSignalSpy& shown, int timeout = 10000)
{
    if (shown.isEmpty() && !shown.wait(timeout))
        return false;
    shown.clear();
    return !browser.isBusy();
}

QColor decorationColour(Common::ThumbnailModel& model, int row)
{
    return QColor(model.data(model.index(row), Qt::DecorationRole).value<QImage>().pixel(0, 0));
}

} // namespace

class tst_ThumbnailBrowser final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pagesOfAFolder_data();
    void pagesOfAFolder();
    void leavingAPageDropsItsThumbnails();
    void missingFolderIsReportedAndTheViewerGoesOn();
    void damagedImagesShowAPlaceholder();
    void deleteAllAsksFirst_data();
    void deleteAllAsksFirst();
    void deleteWithNothingSelectedRebuildsThePage();
    void deleteReportsFilesThatCannotBeDeleted();
    void deletingTheLastPageMovesBackToTheNewEnd();
};

void tst_ThumbnailBrowser::pagesOfAFolder_data()
{
    QTest::addColumn<int>("fileCount");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QStringList>("positions"); // after listing, then after each NextPage
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QString>("status");
    QTest::newRow("1200 in pages of 500") << 1200 << 500
                                          << QStringList { QStringLiteral("Page 1 of 3"), QStringLiteral("Page 2 of 3"),
                                                 QStringLiteral("Page 3 of 3"), QStringLiteral("Page 3 of 3") }
                                          << QList<int> { 500, 500, 200, 200 } << QStringLiteral("1200 files");
    QTest::newRow("exactly 500") << 500 << 500
                                 << QStringList { QStringLiteral("Page 1 of 1"), QStringLiteral("Page 1 of 1") }
                                 << QList<int> { 500, 500 } << QStringLiteral("500 files");
    QTest::newRow("empty folder") << 0 << 500
                                  << QStringList { QStringLiteral("Page 1 of 0"), QStringLiteral("Page 1 of 0") }
                                  << QList<int> { 0, 0 } << QStringLiteral("No images files found");
}

void tst_ThumbnailBrowser::pagesOfAFolder()
{
    QFETCH(int, fileCount);
    QFETCH(int, pageSize);
    QFETCH(QStringList, positions);
    QFETCH(QList<int>, rows);
    QFETCH(QString, status);

    QTemporaryDir dir;
    writeImages(dir.path(), fileCount);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    QAbstractItemModelTester tester(&browser.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    browser.setPageSize(pageSize);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    QStringList texts;
    connect(&browser, &ThumbnailBrowser::statusTextChanged, this, [&texts](const QString& text) { texts << text; });

    browser.changeFolder(dir.path());
    QCOMPARE(browser.CurrentFolder(), dir.path() + QLatin1Char('/'));
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(texts,
        (QStringList { QStringLiteral("Loading files..."), QStringLiteral("Loading files...Done"),
            QStringLiteral("Clearing..."), QStringLiteral("Processing...Please wait"), status }));
    QCOMPARE(browser.FileCount(), fileCount);
    QVERIFY(browser.pageButtons() == buttonsAfterListing(browser.PageCount()));

    for (int step = 0; step < positions.size(); ++step) {
        if (step > 0) {
            browser.pressPageButton(PageKey::NextPage);
            QVERIFY(waitForPage(browser, shown));
        }
        QCOMPARE(browser.pagePositionText(), positions.at(step));
        QCOMPARE(browser.statusText(), status);
        QCOMPARE(browser.progress(), 0);
        QCOMPARE(browser.model().rowCount(), rows.at(step));
        if (rows.at(step) > 0) {
            // Pages follow the sorted listing: page 2 of 500 starts at file 501.
            const int firstFile = (browser.CurrentPage() - 1) * browser.pageSize() + 1;
            QCOMPARE(browser.model().caption(0), QStringLiteral("%1.png").arg(firstFile, 4, 10, QLatin1Char('0')));
            QCOMPARE(browser.model().filePath(0), browser.CurrentFolder() + browser.model().caption(0));
            QTRY_VERIFY(!browser.preview().isNull());
        } else {
            QVERIFY(browser.preview().isNull());
        }
    }
    QVERIFY(boxes.shown().isEmpty());
}

void tst_ThumbnailBrowser::leavingAPageDropsItsThumbnails()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 300, Qt::red);
    writeImages(dir.path(), 300, Qt::green, 301);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    browser.setPageSize(300);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    QSignalSpy listed(&browser, &ThumbnailBrowser::thumbnailsCleared);
    browser.changeFolder(dir.path());
    QVERIFY(listed.wait());
    // Page 1 is still decoding when the user moves on, and moves again.
    browser.pressPageButton(PageKey::NextPage);
    browser.pressPageButton(PageKey::PrevPage);
    browser.pressPageButton(PageKey::NextPage);
    QTRY_VERIFY(!shown.isEmpty());
    QTRY_VERIFY(!browser.isBusy());
    QCOMPARE(shown.count(), 1);
    QCOMPARE(browser.pagePositionText(), QStringLiteral("Page 2 of 2"));
    QCOMPARE(browser.model().rowCount(), 300);
    QCOMPARE(browser.model().pendingCount(), 0);
    for (int row = 0; row < 300; ++row)
        QCOMPARE(decorationColour(browser.model(), row), QColor(Qt::green));
}

void tst_ThumbnailBrowser::missingFolderIsReportedAndTheViewerGoesOn()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 3);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    const QString missing = dir.filePath(QStringLiteral("gone"));
    browser.changeFolder(missing);
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(boxes.shown().size(), 1);
    QVERIFY(boxes.shown().first().text.contains(missing));
    QCOMPARE(boxes.shown().first().icon, Common::MessageBox::Icon::Critical);
    QCOMPARE(browser.statusText(), QStringLiteral("No images files found"));
    QCOMPARE(browser.pagePositionText(), QStringLiteral("Page 1 of 0"));
    QVERIFY(browser.pageButtons() == PageButtons {});

    browser.changeFolder(dir.path());
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.statusText(), QStringLiteral("3 files"));
    QCOMPARE(boxes.shown().size(), 1);
}

void tst_ThumbnailBrowser::damagedImagesShowAPlaceholder()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 1, Qt::blue);
    writeBytes(dir.filePath(QStringLiteral("0002.jpg")), QByteArray("\xFF\xD8\xFF\xE0 truncated", 15));
    writeBytes(dir.filePath(QStringLiteral("0003.png")), QByteArray(4096, '\0'));
    // A header that claims a picture of 60000 x 60000 pixels.
    QByteArray huge
        = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") + QByteArray::fromHex("0000ea600000ea600806000000");
    writeBytes(dir.filePath(QStringLiteral("0004.png")), huge + QByteArray(64, '\0'));
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    browser.changeFolder(dir.path());
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.model().rowCount(), 4);
    QCOMPARE(decorationColour(browser.model(), 0), QColor(Qt::blue));
    const QImage placeholder = browser.model().data(browser.model().index(1), Qt::DecorationRole).value<QImage>();
    QVERIFY(!placeholder.isNull());
    for (int row = 2; row < 4; ++row)
        QCOMPARE(browser.model().data(browser.model().index(row), Qt::DecorationRole).value<QImage>(), placeholder);
    QCOMPARE(browser.statusText(), QStringLiteral("4 files"));

    // The preview of a damaged file stays empty.
    QSignalSpy previews(&browser, &ThumbnailBrowser::previewChanged);
    browser.showPreview(dir.filePath(QStringLiteral("0004.png")));
    QTRY_COMPARE(previews.count(), 2);
    QVERIFY(browser.preview().isNull());
}

void tst_ThumbnailBrowser::deleteAllAsksFirst_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QStringList>("left");
    const QStringList everything = { QStringLiteral("1.jpg"), QStringLiteral("2.png"), QStringLiteral("3.gif.old"),
        QStringLiteral("4.JPG"), QStringLiteral("notes.txt") };
    QTest::newRow("No") << Answer::No << everything;
    QTest::newRow("Cancel") << Answer::Cancel << everything;
    QTest::newRow("Yes") << Answer::Yes
                         << QStringList { QStringLiteral("3.gif.old"), QStringLiteral("4.JPG"),
                                QStringLiteral("notes.txt") };
}

void tst_ThumbnailBrowser::deleteAllAsksFirst()
{
    QFETCH(Answer, answer);
    QFETCH(QStringList, left);
    QTemporaryDir snapshots;
    QTemporaryDir other;
    for (const char* name : { "1.jpg", "2.png", "3.gif.old", "4.JPG", "notes.txt" }) {
        writeBytes(snapshots.filePath(QString::fromLatin1(name)), "x");
        writeBytes(other.filePath(QString::fromLatin1(name)), "x");
    }
    TestSupport::ScriptedMessageBox boxes;
    boxes.queue(answer);
    ThumbnailBrowser browser(boxes);
    browser.setViewerFolder(snapshots.path());
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    // The folder shown is not the one emptied.
    browser.changeFolder(other.path());
    QVERIFY(waitForPage(browser, shown));
    browser.DeleteAllThumbnailsFiles();
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().text, QStringLiteral("Delete all thumbnails files in the snapshots folder?"));
    QCOMPARE(boxes.shown().first().title, QStringLiteral("Delete All Thumbnails"));
    QCOMPARE(boxes.shown().first().buttons, Common::MessageBox::Buttons::YesNoCancel);
    QCOMPARE(boxes.shown().first().icon, Common::MessageBox::Icon::Warning);
    if (answer == Answer::Yes)
        QVERIFY(waitForPage(browser, shown));
    QTRY_VERIFY(!browser.isBusy());
    QCOMPARE(QDir(snapshots.path()).entryList(QDir::Files, QDir::Name), left);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files).size(), 5);
}

void tst_ThumbnailBrowser::deleteWithNothingSelectedRebuildsThePage()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 5);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    browser.changeFolder(dir.path());
    QVERIFY(waitForPage(browser, shown));
    // A file added meanwhile shows up with the rebuilt page.
    writeImages(dir.path(), 1, Qt::red, 6);
    browser.DeleteSelectedFiles({});
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 6);
    QCOMPARE(browser.model().rowCount(), 6);
    QCOMPARE(browser.statusText(), QStringLiteral("6 files"));
    QVERIFY(boxes.shown().isEmpty());
}

void tst_ThumbnailBrowser::deleteReportsFilesThatCannotBeDeleted()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 4);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    browser.changeFolder(dir.path());
    QVERIFY(waitForPage(browser, shown));
    // Another program removed one of the selected files first.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("0002.png"))));
    browser.DeleteSelectedFiles({ 3, 1, 0 });
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("0003.png") });
    QCOMPARE(boxes.shown().size(), 1);
    QVERIFY(boxes.shown().first().text.contains(QStringLiteral("0002.png")));
    QCOMPARE(browser.statusText(), QStringLiteral("1 files"));
    QCOMPARE(browser.model().rowCount(), 1);
}

void tst_ThumbnailBrowser::deletingTheLastPageMovesBackToTheNewEnd()
{
    QTemporaryDir dir;
    writeImages(dir.path(), 5);
    TestSupport::ScriptedMessageBox boxes;
    ThumbnailBrowser browser(boxes);
    browser.setPageSize(2);
    QSignalSpy shown(&browser, &ThumbnailBrowser::pageShown);
    browser.changeFolder(dir.path());
    QVERIFY(waitForPage(browser, shown));
    browser.pressPageButton(PageKey::LastPage);
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.pagePositionText(), QStringLiteral("Page 3 of 3"));
    browser.DeleteSelectedFiles({ 0 });
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.pagePositionText(), QStringLiteral("Page 2 of 2"));
    QCOMPARE(browser.model().rowCount(), 2);
    QVERIFY((browser.pageButtons() == PageButtons { true, true, false, false }));

    // Deleting every file leaves page 1 of 0 and nowhere to go.
    browser.DeleteSelectedFiles({ 0, 1 });
    QVERIFY(waitForPage(browser, shown));
    browser.pressPageButton(PageKey::FirstPage);
    QVERIFY(waitForPage(browser, shown));
    browser.DeleteSelectedFiles({ 0, 1 });
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.pagePositionText(), QStringLiteral("Page 1 of 0"));
    QVERIFY(browser.pageButtons() == PageButtons {});
    browser.pressPageButton(PageKey::NextPage);
    QVERIFY(waitForPage(browser, shown));
    QCOMPARE(browser.CurrentPage(), 1);
}

QTEST_GUILESS_MAIN(tst_ThumbnailBrowser)
#include "tst_thumbnailbrowser.moc"
