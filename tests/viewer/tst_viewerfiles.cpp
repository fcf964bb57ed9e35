#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "viewer/viewerfiles.h"
#include "viewer/viewerplaces.h"

using namespace Viewer;

namespace {
void touch(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot create a test file");
}
}

class tst_ViewerFiles final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void imageFileTest_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("deletedByDeleteAll");
        QTest::newRow("jpg") << QStringLiteral("1.jpg") << true << true;
        QTest::newRow("gif") << QStringLiteral("1.gif") << true << true;
        QTest::newRow("png") << QStringLiteral("1.png") << true << true;
        QTest::newRow("bmp") << QStringLiteral("1.bmp") << true << true;
        QTest::newRow("tiff") << QStringLiteral("1.tiff") << true << true;
        QTest::newRow("upper case PNG") << QStringLiteral("x.PNG") << false << false;
        QTest::newRow("upper case JPG") << QStringLiteral("a.JPG") << false << false;
        QTest::newRow("tif") << QStringLiteral("y.tif") << false << false;
        QTest::newRow("jpeg") << QStringLiteral("y.jpeg") << false << false;
        QTest::newRow("anywhere in the name") << QStringLiteral("z.bmp.old") << true << false;
        QTest::newRow("in the middle") << QStringLiteral("a.jpg.bak") << true << false;
        QTest::newRow("name is the ending") << QStringLiteral(".png") << true << true;
        QTest::newRow("no dot") << QStringLiteral("jpg") << false << false;
        QTest::newRow("text") << QStringLiteral("notes.txt") << false << false;
    }

    void imageFileTest()
    {
        QFETCH(QString, name);
        QFETCH(bool, shown);
        QFETCH(bool, deletedByDeleteAll);
        QCOMPARE(isViewerImageFile(name), shown);
        QCOMPARE(isThumbnailFile(name), deletedByDeleteAll);
    }

    void listsImageFilesOnly()
    {
        QTemporaryDir dir;
        for (const char* name : { "b.jpg", "a.png", "x.PNG", "y.tif", "z.bmp.old", "notes.txt" })
            touch(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub.jpg")));
        const auto files = listViewerFiles(dir.path());
        QVERIFY(files.ok());
        QCOMPARE(files.value(),
            (QStringList { QStringLiteral("a.png"), QStringLiteral("b.jpg"), QStringLiteral("z.bmp.old") }));

        QTemporaryDir empty;
        QVERIFY(listViewerFiles(empty.path()).ok());
        QVERIFY(listViewerFiles(empty.path()).value().isEmpty());
    }

    void foldersThatCannotBeShown()
    {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("file.jpg")));
        for (const QString& folder :
            { dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("file.jpg")), QString() }) {
            const auto files = listViewerFiles(folder);
            QVERIFY2(!files.ok(), qPrintable(folder));
            QVERIFY(!files.error().message.isEmpty());
        }
        if (::geteuid() == 0)
            QSKIP("the superuser reads every folder");
        const QString locked = dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        QVERIFY(!listViewerFiles(locked).ok());
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void deleteAllRemovesThumbnailFilesOnly()
    {
        QTemporaryDir dir;
        for (const char* name : { "1.jpg", "2.gif", "3.png", "4.bmp", "5.tiff", "6.jpg.bak", "7.JPG", "notes.txt" })
            touch(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        touch(dir.filePath(QStringLiteral("sub/8.jpg")));
        const DeletionReport report = deleteThumbnailFiles(dir.path());
        QCOMPARE(report.deleted, 5);
        QVERIFY(report.failures.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
            (QStringList { QStringLiteral("6.jpg.bak"), QStringLiteral("7.JPG"), QStringLiteral("notes.txt") }));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("sub/8.jpg"))));
        // No folder named means no folder at all, never the working directory.
        QCOMPARE(deleteThumbnailFiles(QString()).deleted, 0);
    }

    void placeOfPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("place");
        QTest::newRow("inside home") << QStringLiteral("/home/ann/pictures") << 0;
        QTest::newRow("home itself") << QStringLiteral("/home/ann") << 0;
        QTest::newRow("deepest place wins") << QStringLiteral("/home/ann/app/snapshots/x") << 1;
        QTest::newRow("same prefix is not inside") << QStringLiteral("/home/anna") << 2;
        QTest::newRow("trailing separator") << QStringLiteral("/media/usb/") << 3;
        QTest::newRow("elsewhere: the root") << QStringLiteral("/srv") << 2;
    }

    void placeOfPath()
    {
        QFETCH(QString, path);
        QFETCH(int, place);
        const QList<Place> places = { { QStringLiteral("Home"), QStringLiteral("/home/ann") },
            { QStringLiteral("Snapshots"), QStringLiteral("/home/ann/app/snapshots") },
            { QStringLiteral("File system"), QStringLiteral("/") },
            { QStringLiteral("usb"), QStringLiteral("/media/usb") } };
        QCOMPARE(Viewer::placeOfPath(places, path), place);
    }
};

QTEST_GUILESS_MAIN(tst_ViewerFiles)
#include "tst_viewerfiles.moc"
