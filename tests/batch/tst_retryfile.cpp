#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/retryfile.h"
#include "scriptedmessagebox.h"

using namespace Batch;
using Answer = Common::MessageBox::Answer;

namespace {

struct Folder {
    QTemporaryDir dir;
    QString database() const { return dir.filePath(QStringLiteral("data/LinksInfo.txt")); }
    QString images() const { return dir.filePath(QStringLiteral("snapshots")); }

    Folder()
    {
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        QDir(dir.path()).mkpath(QStringLiteral("snapshots"));
    }
    void write(const QString& path, const QByteArray& bytes) const
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write");
        file.write(bytes);
    }
    void thumbnail(const char* name) const { write(images() + QLatin1Char('/') + QString::fromLatin1(name), "x"); }
    QByteArray read(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

} // namespace

class TestRetryFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsLinksWithoutThumbnails();
    void otherImageTypeKeepsEverything();
    void everyThumbnailPresentLeavesAnEmptyDatabase();
    void progressEveryTenLines_data();
    void progressEveryTenLines();
    void failureLeavesTheDatabaseWhole();
};

void TestRetryFile::keepsLinksWithoutThumbnails()
{
    Folder f;
    // Non-UTF-8 bytes and extra fields must survive byte for byte.
    f.write(
        f.database(), "1|http://a.org|x\r\n2|http://b.org\n3|http://c\xe9.org\r4|http://d.org\r\n\r\n5|http://e.org");
    f.thumbnail("2.jpg");
    f.thumbnail("4.jpg");
    f.thumbnail("5.png");
    TestSupport::ScriptedMessageBox boxes;
    QVERIFY(CreateRetryFile(f.database(), f.images(), 0, boxes, {}));
    QCOMPARE(f.read(f.database()), QByteArray("1|http://a.org|x\r\n3|http://c\xe9.org\r\n\r\n5|http://e.org\r\n"));
    QVERIFY(!QFile::exists(retryTempFile(f.database())));
    QVERIFY(boxes.shown().isEmpty());

    // An ID that would climb out of the images folder never finds a file there: the link stays.
    f.write(f.database(), "../data/LinksInfo.txt|http://a.org\r\n");
    f.write(f.dir.filePath(QStringLiteral("data/LinksInfo.txt.jpg")), "x");
    QVERIFY(CreateRetryFile(f.database(), f.images(), 0, boxes, {}));
    QCOMPARE(f.read(f.database()), QByteArray("../data/LinksInfo.txt|http://a.org\r\n"));
}

void TestRetryFile::otherImageTypeKeepsEverything()
{
    Folder f;
    f.write(f.database(), "1|a\r\n2|b\r\n");
    f.thumbnail("1.jpg");
    f.thumbnail("2.jpg");
    TestSupport::ScriptedMessageBox boxes;
    QVERIFY(CreateRetryFile(f.database(), f.images(), 2, boxes, {}));
    QCOMPARE(f.read(f.database()), QByteArray("1|a\r\n2|b\r\n"));
}

void TestRetryFile::everyThumbnailPresentLeavesAnEmptyDatabase()
{
    Folder f;
    f.write(f.database(), "1|a\n2|b\n");
    f.thumbnail("1.gif");
    f.thumbnail("2.gif");
    TestSupport::ScriptedMessageBox boxes;
    QVERIFY(CreateRetryFile(f.database(), f.images(), 1, boxes, {}));
    QCOMPARE(QFileInfo(f.database()).size(), 0);
}

void TestRetryFile::progressEveryTenLines_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<QList<int>>("reported");
    QTest::newRow("40 lines") << 40 << QList<int> { 25, 50, 75, 100 };
    // 20 of 30 is 66.7: rounded, not cut off.
    QTest::newRow("30 lines") << 30 << QList<int> { 33, 67, 100 };
}

void TestRetryFile::progressEveryTenLines()
{
    QFETCH(int, lines);
    Folder f;
    QByteArray text;
    for (int i = 1; i <= lines; ++i)
        text += QByteArray::number(i) + "|http://x.test\r\n";
    f.write(f.database(), text);
    TestSupport::ScriptedMessageBox boxes;
    QList<int> reported;
    QVERIFY(CreateRetryFile(f.database(), f.images(), 0, boxes, [&](int p) { reported << p; }));
    QTEST(reported, "reported");
}

void TestRetryFile::failureLeavesTheDatabaseWhole()
{
    Folder f;
    f.write(f.database(), "1|a\r\n2|b\r\n");
    // A folder standing where the temporary file goes makes the write fail.
    QVERIFY(QDir().mkpath(retryTempFile(f.database())));
    TestSupport::ScriptedMessageBox boxes;
    boxes.queue(Answer::Retry);
    boxes.queue(Answer::Cancel);
    QVERIFY(!CreateRetryFile(f.database(), f.images(), 0, boxes, {}));
    QCOMPARE(boxes.shown().size(), 2);
    QVERIFY(boxes.shown().first().text.startsWith(QStringLiteral("Error: ")));
    QCOMPARE(boxes.shown().first().title, QStringLiteral("Error"));
    QCOMPARE(f.read(f.database()), QByteArray("1|a\r\n2|b\r\n"));

    // With the obstacle gone, Retry finishes the job.
    QVERIFY(QDir().rmdir(retryTempFile(f.database())));
    f.thumbnail("1.jpg");
    QVERIFY(CreateRetryFile(f.database(), f.images(), 0, boxes, {}));
    QCOMPARE(f.read(f.database()), QByteArray("2|b\r\n"));
}

QTEST_GUILESS_MAIN(TestRetryFile)
#include "tst_retryfile.moc"
