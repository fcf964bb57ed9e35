#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/appfolders.h"
#include "batch/folderlock.h"
#include "scriptedmessagebox.h"

using namespace Batch;
using Answer = Common::MessageBox::Answer;
using TestSupport::ScriptedMessageBox;

class TestAppFolders final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void thumbnailNames_data();
    void thumbnailNames();
    void firstStartCreatesEverything();
    void existingDatabaseIsKept();
    void failureAsksRetryOrCancel();
    void oneHoldOfAFolderPerProcess();
};

void TestAppFolders::thumbnailNames_data()
{
    QTest::addColumn<int>("imageType");
    QTest::addColumn<QString>("name");
    QTest::newRow("jpg") << 0 << QStringLiteral("/t/42.jpg");
    QTest::newRow("gif") << 1 << QStringLiteral("/t/42.gif");
    QTest::newRow("png") << 2 << QStringLiteral("/t/42.png");
    QTest::newRow("bmp") << 3 << QStringLiteral("/t/42.bmp");
    QTest::newRow("tiff") << 4 << QStringLiteral("/t/42.tiff");
    QTest::newRow("out of range") << 7 << QStringLiteral("/t/42.jpg");
}

void TestAppFolders::thumbnailNames()
{
    QFETCH(int, imageType);
    QTEST(thumbnailFileName(QStringLiteral("/t"), QStringLiteral("42"), imageType).value_or(QString()), "name");
    QTEST(thumbnailFileName(QStringLiteral("/t/"), QStringLiteral("42"), imageType).value_or(QString()), "name");
}

void TestAppFolders::firstStartCreatesEverything()
{
    QTemporaryDir dir;
    const AppFolders folders(dir.path() + QLatin1Char('/'));
    ScriptedMessageBox boxes;
    QVERIFY(CreateAppFolders(folders, boxes));
    QVERIFY(boxes.shown().isEmpty());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("snapshots"))).isDir());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("data"))).isDir());
    const QFileInfo database(dir.filePath(QStringLiteral("data/LinksInfo.txt")));
    QVERIFY(database.isFile());
    QCOMPARE(database.size(), 0);
    QCOMPARE(folders.LinksInfoFile, database.filePath());
}

void TestAppFolders::existingDatabaseIsKept()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data")));
    QFile file(dir.filePath(QStringLiteral("data/LinksInfo.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1|http://a.org\r\n");
    file.close();
    ScriptedMessageBox boxes;
    QVERIFY(CreateAppFolders(AppFolders(dir.path() + QLatin1Char('/')), boxes));
    QCOMPARE(QFileInfo(file.fileName()).size(), 16);
}

void TestAppFolders::failureAsksRetryOrCancel()
{
    // A file named "data" stands where the data folder must go.
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const AppFolders folders(dir.path() + QLatin1Char('/'));

    ScriptedMessageBox boxes;
    boxes.queue(Answer::Retry);
    boxes.queue(Answer::Cancel);
    QVERIFY(!CreateAppFolders(folders, boxes));
    QCOMPARE(boxes.shown().size(), 2);
    const auto& box = boxes.shown().first();
    QVERIFY(box.text.startsWith(QStringLiteral("Error: ")));
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, Common::MessageBox::Icon::Critical);
    QCOMPARE(box.buttons, Common::MessageBox::Buttons::RetryCancel);
    QVERIFY(QFileInfo(folders.snapshots).isDir()); // the step before the failure was done

    // Retry succeeds once the obstacle is gone.
    ScriptedMessageBox again;
    again.queue(Answer::Retry);
    QVERIFY(QFile::remove(blocker.fileName()));
    QVERIFY(CreateAppFolders(folders, again));
    QVERIFY(QFileInfo(folders.LinksInfoFile).isFile());
}

void TestAppFolders::oneHoldOfAFolderPerProcess()
{
    // Where flock(2) is itself a record lock of the process, a second hold would be granted.
    FolderLock::setRecordLocksForTest(true);
    QTemporaryDir dir;
    {
        // Thumbnails in the program folder itself: one lock file, named twice. Refused twice: a
        // refusal leaves the hold as it was.
        const auto run = FolderLock::forRun(dir.path(), dir.path());
        QVERIFY(run && !FolderLock::forImport(dir.path()) && !FolderLock::forUpload(dir.path(), {}));
    }
    QVERIFY(FolderLock::forImport(dir.path()));
    FolderLock::setRecordLocksForTest(false);
}

QTEST_GUILESS_MAIN(TestAppFolders)
#include "tst_appfolders.moc"
