#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/paths.h"
#include "common/programfolders.h"

using namespace Common;

class TestPaths final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addSeparator_data();
    void addSeparator();
    void fileExists();
    void makePathCreatesEveryLevel();
    void makePathReportsAFileInTheWay();
    void appPathEndsWithSeparator();
    void dataAndShippedFolders_data();
    void dataAndShippedFolders();
};

void TestPaths::addSeparator_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("/data") << QStringLiteral("/data/");
    QTest::newRow("already ends") << QStringLiteral("/data/") << QStringLiteral("/data/");
    QTest::newRow("blanks") << QStringLiteral("  /data  ") << QStringLiteral("/data/");
    QTest::newRow("bracketed label") << QStringLiteral("Backup [sdb1] /media/b") << QStringLiteral("Backup  /media/b/");
    QTest::newRow("label at the end") << QStringLiteral("/media/usb [Stick]") << QStringLiteral("/media/usb/");
    QTest::newRow("only an opening bracket") << QStringLiteral("/a[b") << QStringLiteral("/a[b/");
    QTest::newRow("brackets reversed") << QStringLiteral("/a]b[c") << QStringLiteral("/a]b[c/");
}

void TestPaths::addSeparator()
{
    QFETCH(QString, path);
    QTEST(AddSeparator(path), "expected");
}

void TestPaths::fileExists()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("a.txt"));
    QVERIFY(!FileExists(file));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(FileExists(file));
    QVERIFY(FileExists(QStringLiteral("  ") + file + QStringLiteral(" ")));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
    QVERIFY(FileExists(file));
    QVERIFY(!FileExists(dir.path()));
    QVERIFY(!FileExists(QStringLiteral("   ")));
    QVERIFY(!FileExists(QString()));
}

void TestPaths::makePathCreatesEveryLevel()
{
    QTemporaryDir dir;
    const QString deep = dir.filePath(QStringLiteral("a/b/c"));
    QVERIFY(MakePath(deep).ok());
    QVERIFY(QFileInfo(deep).isDir());
    QVERIFY(MakePath(deep).ok());
    QVERIFY(EnsureFolder(dir.filePath(QStringLiteral("a/b/d"))).ok());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a/b/d"))).isDir());
}

void TestPaths::makePathReportsAFileInTheWay()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("file")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const Status result = EnsureFolder(dir.filePath(QStringLiteral("file/sub")));
    QVERIFY(!result.ok());
    QVERIFY(result.error().message.contains(QStringLiteral("file")));
}

void TestPaths::appPathEndsWithSeparator()
{
    QVERIFY(AppPath().endsWith(QLatin1Char('/')));
    QVERIFY(QFileInfo(AppPath()).isDir());
}

void TestPaths::dataAndShippedFolders_data()
{
    QTest::addColumn<QString>("shipped"); // where ThumbnailSample.jpg lies, below the scratch folder
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("data"); // the data folder expected, below the scratch folder
    QTest::addColumn<QString>("resources");
    QTest::addRow("build folder") << "build/bin" << true << "build/bin/"
                                  << "build/bin/";
    QTest::addRow("build folder that cannot be written") << "build/bin" << false << "home/.local/share/Corvane/Pictavo/"
                                                         << "build/bin/";
    QTest::addRow("installed") << "usr/share/pictavo-studio" << true << "home/.local/share/Corvane/Pictavo/"
                               << "usr/share/pictavo-studio/";
}

void TestPaths::dataAndShippedFolders()
{
    QFETCH(QString, shipped);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    QVERIFY(QDir().mkpath(root + shipped));
    QFile marker(root + shipped + QStringLiteral("/ThumbnailSample.jpg"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    const QString executable = shipped.startsWith(QLatin1String("usr")) ? QStringLiteral("usr/bin") : shipped;
    QVERIFY(QDir().mkpath(root + executable));
    const ProgramFolders folders
        = programFolders(root + executable, root + QStringLiteral("home/.local/share"), writable);
    QFETCH(QString, data);
    QFETCH(QString, resources);
    QCOMPARE(folders.data, root + data);
    QCOMPARE(folders.resources, root + resources);
}

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
