#include <QAbstractItemModelTester>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "common/thumbnailmodel.h"

using Common::ThumbnailModel;

namespace {
QString writeImage(const QTemporaryDir& dir, const char* name, QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!image.save(path))
        qFatal("cannot write the test image");
    return path;
}
}

class TestThumbnailModel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesScaledThumbnails();
    void removedItemsDropTheirResults();
};

void TestThumbnailModel::decodesScaledThumbnails()
{
    QTemporaryDir dir;
    ThumbnailModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setThumbnailSize(QSize(120, 90));
    QSignalSpy ready(&model, &ThumbnailModel::thumbnailReady);
    const QString tall = writeImage(dir, "tall.png", QSize(300, 3000), Qt::red);
    // A model that decodes nothing, given the same file first: it lists the item, and never a picture.
    ThumbnailModel listOnly;
    listOnly.setDecoding(false);
    QSignalSpy listOnlyReady(&listOnly, &ThumbnailModel::thumbnailReady);
    listOnly.addImage(tall, QStringLiteral("http://a.test"));
    model.addImage(tall, QStringLiteral("http://a.test"));
    model.addImage(dir.filePath(QStringLiteral("missing.png")), QStringLiteral("gone"));
    QTRY_COMPARE(ready.count(), 2);
    QCOMPARE(listOnlyReady.count(), 0);
    QCOMPARE(listOnly.pendingCount(), 0);
    QVERIFY(!listOnly.data(listOnly.index(0), Qt::DecorationRole).isValid());
    listOnly.removeFirst();
    QCOMPARE(listOnly.pendingCount(), 0);

    const QImage thumb = model.data(model.index(0), Qt::DecorationRole).value<QImage>();
    QCOMPARE(thumb.size(), QSize(9, 90));
    QCOMPARE(QColor(thumb.pixel(4, 45)), QColor(Qt::red));
    QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("http://a.test"));
    // An unreadable file shows its caption and no picture, and never fails the model.
    QVERIFY(!model.data(model.index(1), Qt::DecorationRole).isValid());
    QCOMPARE(model.caption(1), QStringLiteral("gone"));
}

void TestThumbnailModel::removedItemsDropTheirResults()
{
    QTemporaryDir dir;
    ThumbnailModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy ready(&model, &ThumbnailModel::thumbnailReady);
    const QString blue = writeImage(dir, "blue.png", QSize(50, 40), Qt::blue);
    const QString green = writeImage(dir, "green.png", QSize(50, 40), Qt::green);
    model.addImage(blue, QStringLiteral("1"));
    model.addImage(blue, QStringLiteral("2"));
    model.removeFirst();
    model.addImage(green, QStringLiteral("3"));
    model.clear();
    model.addImage(green, QStringLiteral("4"));
    QTRY_VERIFY(!model.data(model.index(0), Qt::DecorationRole).isNull());
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(QColor(model.data(model.index(0), Qt::DecorationRole).value<QImage>().pixel(0, 0)), QColor(Qt::green));
    QCOMPARE(model.filePath(0), green);
}

QTEST_GUILESS_MAIN(TestThumbnailModel)
#include "tst_thumbnailmodel.moc"
