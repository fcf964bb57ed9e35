#include <QTest>

#include "common/windowgeometry.h"
#include "shell/mainlayout.h"

using namespace Shell;

namespace {
MainLayoutInput input(int innerHeight)
{
    MainLayoutInput in;
    in.outer = QSize(12000, innerHeight + 600);
    in.inner = QSize(11880, innerHeight);
    in.toolbarTop = 0;
    in.toolbarHeight = 600;
    in.picTopHeight = 900;
    in.picStatsHeight = 700;
    in.statusBarHeight = 300;
    in.column1Width = 1000;
    in.column2Width = 1500;
    return in;
}
}

class TestMainLayout final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void arrangesTopToBottom();
    void growthIsSharedHalfAndHalf();
    void negativeSizesLeaveControlsAlone();
    void minimumSize();
    void centerForm_data();
    void centerForm();
};

void TestMainLayout::arrangesTopToBottom()
{
    const MainLayout layout = arrangeMainWindow(input(9000), {});
    QCOMPARE(layout.picTop, QRect(0, 600, 11880, 900));
    // free = 9000 - 600 - 900 - 700 - 300 = 6500
    QCOMPARE(layout.lvwLinks, QRect(0, 1500, 11880, 3250));
    QCOMPARE(layout.Thumbnails, QRect(0, 4750, 11880, 3250));
    QCOMPARE(layout.picStats, QRect(0, 8000, 11880, 700));
    QCOMPARE(layout.urlColumnWidth, (11880 - 1000 - 1500) / 2);
    MainLayoutInput framed = input(9000);
    framed.listChromeWidth = 300;
    QCOMPARE(arrangeMainWindow(framed, {}).urlColumnWidth, (11880 - 300 - 1000 - 1500) / 2);
}

void TestMainLayout::growthIsSharedHalfAndHalf()
{
    const MainLayout before = arrangeMainWindow(input(9000), {});
    const MainLayout after = arrangeMainWindow(input(10000), before);
    QCOMPARE(after.lvwLinks.height() - before.lvwLinks.height(), 500);
    QCOMPARE(after.Thumbnails.height() - before.Thumbnails.height(), 500);
    QCOMPARE(after.picTop.height(), before.picTop.height());
    QCOMPARE(after.picStats.height(), before.picStats.height());

    // An odd free height is halved with halves to even: 6501 / 2 = 3250.5 -> 3250.
    QCOMPARE(arrangeMainWindow(input(9001), {}).lvwLinks.height(), 3250);
    QCOMPARE(arrangeMainWindow(input(9003), {}).lvwLinks.height(), 3252);
}

void TestMainLayout::negativeSizesLeaveControlsAlone()
{
    const MainLayout before = arrangeMainWindow(input(9000), {});
    const MainLayout after = arrangeMainWindow(input(1000), before);
    QCOMPARE(after.lvwLinks, before.lvwLinks);
    QCOMPARE(after.Thumbnails, before.Thumbnails);
    QCOMPARE(after.picStats.top(), before.Thumbnails.bottom() + 1);
}

void TestMainLayout::minimumSize()
{
    QCOMPARE(clampedOuterSize(QSize(3000, 9000)), QSize(6000, 9000));
    QCOMPARE(clampedOuterSize(QSize(9000, 100)), QSize(9000, 6000));
    QCOMPARE(clampedOuterSize(QSize(7000, 8000)), QSize(7000, 8000));
    QCOMPARE(Common::toPixels(MinimumOuterTwips), 400);
}

void TestMainLayout::centerForm_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("owner");
    QTest::addColumn<QSize>("inner");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("over owner") << QSize(4000, 3000) << QPoint(1000, 500) << QSize(12000, 9000) << QPoint(5000, 3500);
    QTest::newRow("halves dropped") << QSize(4001, 3001) << QPoint(0, 0) << QSize(12000, 9000) << QPoint(3999, 2999);
    QTest::newRow("at the origin") << QSize(100, 100) << QPoint(0, 0) << QSize(100, 100) << QPoint(0, 0);
}

void TestMainLayout::centerForm()
{
    QFETCH(QSize, window);
    QFETCH(QPoint, owner);
    QFETCH(QSize, inner);
    QFETCH(QPoint, expected);
    QCOMPARE(Common::centerPosition(window, owner, inner), std::optional<QPoint>(expected));
    // A window larger than the screen stays where it is.
    QVERIFY(!Common::centerPosition(QSize(5000, 5000), QSize(4000, 9000)));
    QCOMPARE(Common::centerPosition(QSize(4000, 3000), QSize(12000, 9000)), std::optional<QPoint>(QPoint(4000, 3000)));
}

QTEST_GUILESS_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
