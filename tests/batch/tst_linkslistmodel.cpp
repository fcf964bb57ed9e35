#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QTest>

#include "batch/linkslistmodel.h"

using Batch::LinksListModel;

class TestLinksListModel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void columnsAndRows();
    void trimmedRowsKeepTheirKeysHarmless();
    void millionRows();
};

void TestLinksListModel::columnsAndRows()
{
    LinksListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.columnCount(), 4);
    QStringList headers;
    for (int c = 0; c < model.columnCount(); ++c)
        headers << model.headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers,
        (QStringList { QStringLiteral("#"), QStringLiteral("ID"), QStringLiteral("URL"), QStringLiteral("Status") }));

    const auto key = model.appendRow(7, QStringLiteral("42"), QStringLiteral("http://Example.com"));
    model.setStatus(key, QStringLiteral("Skipped..."));
    model.setCellColor(key, LinksListModel::StatusColumn, QColor(0xD5, 0xD5, 0x00));
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("7"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("42"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("http://Example.com"));
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("Skipped..."));
    QCOMPARE(model.data(model.index(0, 3), Qt::ForegroundRole).value<QColor>(), QColor(0xD5, 0xD5, 0x00));
    QVERIFY(!model.data(model.index(0, 2), Qt::ForegroundRole).isValid());
}

void TestLinksListModel::trimmedRowsKeepTheirKeysHarmless()
{
    LinksListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QList<LinksListModel::RowKey> keys;
    for (int i = 1; i <= 5; ++i)
        keys << model.appendRow(i, QString::number(i), QStringLiteral("u%1").arg(i));
    model.removeFirstRow();
    model.removeFirstRow();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowOf(keys[0]), -1);
    QCOMPARE(model.rowOf(keys[2]), 0);
    QCOMPARE(model.rowOf(keys[4]), 2);

    // A capture that ends after its row was trimmed away changes nothing.
    model.setStatus(keys[0], QStringLiteral("Done"));
    model.setCellColor(keys[1], 3, Qt::red);
    QVERIFY(model.status(keys[0]).isEmpty());
    model.setStatus(keys[3], QStringLiteral("Done"));
    QCOMPARE(model.data(model.index(1, 3)).toString(), QStringLiteral("Done"));

    model.clear();
    QCOMPARE(model.rowCount(), 0);
    const auto fresh = model.appendRow(1, QStringLiteral("a"), QString());
    QCOMPARE(model.rowOf(keys[4]), -1);
    QCOMPARE(model.rowOf(fresh), 0);
    model.setStatus(keys[2], QStringLiteral("stale"));
    QVERIFY(model.status(fresh).isEmpty());
}

void TestLinksListModel::millionRows()
{
    LinksListModel model;
    constexpr int Rows = 1000000;
    const QString url = QStringLiteral("http://example.test/");
    for (int i = 1; i <= Rows; ++i)
        model.appendRow(i, QString::number(i), url);
    QCOMPARE(model.rowCount(), Rows);
    QCOMPARE(model.data(model.index(Rows - 1, 0)).toString(), QString::number(Rows));
    model.removeFirstRow();
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("2"));
}

QTEST_GUILESS_MAIN(TestLinksListModel)
#include "tst_linkslistmodel.moc"
