#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/paths.h"

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

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
