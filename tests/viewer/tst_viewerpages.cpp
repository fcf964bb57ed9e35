#include <QTest>

#include "viewer/viewerpages.h"

using namespace Viewer;

Q_DECLARE_METATYPE(Viewer::PageKey)
Q_DECLARE_METATYPE(Viewer::PageButtons)

namespace {
// Buttons written as "FPNL" with a dash for each one that is off, e.g. "--NL".
PageButtons buttons(const char* states)
{
    return { states[0] == 'F', states[1] == 'P', states[2] == 'N', states[3] == 'L' };
}
}

class tst_ViewerPages final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pageSpans_data()
    {
        QTest::addColumn<int>("fileCount");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("pageCount");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::newRow("1200 in 500, page 1") << 1200 << 500 << 3 << 1 << 0 << 500;
        QTest::newRow("1200 in 500, page 2") << 1200 << 500 << 3 << 2 << 500 << 500;
        QTest::newRow("1200 in 500, page 3") << 1200 << 500 << 3 << 3 << 1000 << 200;
        QTest::newRow("exactly 500") << 500 << 500 << 1 << 1 << 0 << 500;
        QTest::newRow("501") << 501 << 500 << 2 << 2 << 500 << 1;
        QTest::newRow("no files") << 0 << 500 << 0 << 1 << 0 << 0;
        QTest::newRow("page past the end") << 1200 << 500 << 3 << 4 << 0 << 0;
        QTest::newRow("page 0 is page 1") << 10 << 4 << 3 << 0 << 0 << 4;
        QTest::newRow("page size 0 is 1") << 3 << 0 << 3 << 2 << 1 << 1;
        QTest::newRow("no overflow") << 2147483647 << 2147483647 << 1 << 2 << 0 << 0;
    }

    void pageSpans()
    {
        QFETCH(int, fileCount);
        QFETCH(int, pageSize);
        QFETCH(int, pageCount);
        QFETCH(int, page);
        QFETCH(int, first);
        QFETCH(int, count);
        QCOMPARE(pageCountFor(fileCount, pageSize), pageCount);
        const PageSpan span = pageSpan(page, pageSize, fileCount);
        QCOMPARE(span.first, first);
        QCOMPARE(span.count, count);
    }

    void pageButtons_data()
    {
        QTest::addColumn<PageKey>("key");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("pageCount");
        QTest::addColumn<PageButtons>("before");
        QTest::addColumn<int>("page");
        QTest::addColumn<PageButtons>("after");
        const PageButtons all = buttons("FPNL");
        QTest::newRow("First from 3") << PageKey::FirstPage << 3 << 3 << all << 1 << buttons("--NL");
        QTest::newRow("Prev from 2 to 1") << PageKey::PrevPage << 2 << 3 << buttons("FP--") << 1 << buttons("--NL");
        QTest::newRow("Prev from 3 to 2") << PageKey::PrevPage << 3 << 3 << buttons("FP--") << 2 << all;
        QTest::newRow("Prev on the first page") << PageKey::PrevPage << 1 << 3 << all << 1 << buttons("--NL");
        QTest::newRow("Next from 1 to 2") << PageKey::NextPage << 1 << 3 << buttons("--NL") << 2 << all;
        QTest::newRow("Next to the last") << PageKey::NextPage << 2 << 3 << all << 3 << buttons("FP--");
        QTest::newRow("Next on the last page") << PageKey::NextPage << 3 << 3 << all << 3 << buttons("FP--");
        // One page only: Next leaves First and Prev as they were.
        QTest::newRow("Next, single page") << PageKey::NextPage << 1 << 1 << all << 1 << buttons("FP--");
        QTest::newRow("Next, single page, off")
            << PageKey::NextPage << 1 << 1 << buttons("--NL") << 1 << buttons("----");
        QTest::newRow("Last from 1") << PageKey::LastPage << 1 << 3 << buttons("--NL") << 3 << buttons("FP--");
        QTest::newRow("Last, single page") << PageKey::LastPage << 1 << 1 << all << 1 << all;
        // Without a page nothing may lead to page 0.
        QTest::newRow("Next, no pages") << PageKey::NextPage << 1 << 0 << all << 1 << buttons("----");
        QTest::newRow("Last, no pages") << PageKey::LastPage << 1 << 0 << all << 1 << buttons("----");
        QTest::newRow("Prev, no pages") << PageKey::PrevPage << 1 << 0 << all << 1 << buttons("----");
        QTest::newRow("Next past a shrunk end") << PageKey::NextPage << 5 << 2 << all << 2 << buttons("FP--");
    }

    void pageButtons()
    {
        QFETCH(PageKey, key);
        QFETCH(int, current);
        QFETCH(int, pageCount);
        QFETCH(PageButtons, before);
        QFETCH(int, page);
        QFETCH(PageButtons, after);
        const PageMove move = movePage(key, current, pageCount, before);
        QCOMPARE(move.page, page);
        QVERIFY(move.buttons == after);
    }

    void listingTurnsButtonsOnUnlessEmpty()
    {
        QVERIFY(buttonsAfterListing(0) == buttons("----"));
        QVERIFY(buttonsAfterListing(1) == buttons("FPNL"));
        QVERIFY(buttonsForPage(1, 3) == buttons("--NL"));
        QVERIFY(buttonsForPage(3, 3) == buttons("FP--"));
    }
};

QTEST_GUILESS_MAIN(tst_ViewerPages)
#include "tst_viewerpages.moc"
