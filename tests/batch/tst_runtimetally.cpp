#include <QTest>

#include "batch/runtimetally.h"

using Batch::RunTimeTally;

class TestRunTimeTally final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void moreSlots_data();
    void moreSlots();
};

void TestRunTimeTally::moreSlots_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<double>("busy");
    QTest::addColumn<int>("inFlight");
    // Of each second read, the milliseconds with one capture fewer in flight.
    QTest::addColumn<int>("shortfallMs");
    QTest::addColumn<int>("suggested");
    const double idle = RunTimeTally::IdleRunBusyShare;
    const int top = RunTimeTally::MostSlots;
    // Waiting slots, a mostly idle processor: the slots scale until it would be as busy as admission allows.
    QTest::newRow("idle, full slots") << 4 << RunTimeTally::TargetBusyShare / 4 << 4 << 0 << 16;
    QTest::newRow("just under mostly idle") << 4 << idle - 0.01 << 4 << 0 << 7;
    QTest::newRow("at mostly idle") << 4 << idle << 4 << 0 << 0;
    QTest::newRow("slots just full enough") << 4 << 0.1 << 3 << 0 << 34;
    QTest::newRow("slots a little less full: the links ran out") << 4 << 0.1 << 3 << 1 << 0;
    // Capped at the slider's top, the gain must still be worth a word.
    QTest::newRow("capped, just worth saying") << int(top / RunTimeTally::WorthSaying) << 0.1 << 76 << 0 << top;
    QTest::newRow("capped, not worth saying") << int(top / RunTimeTally::WorthSaying) + 1 << 0.1 << 77 << 0 << 0;
    QTest::newRow("at the top already") << top << 0.1 << top << 0 << 0;
}

void TestRunTimeTally::moreSlots()
{
    QFETCH(int, threads);
    QFETCH(double, busy);
    QFETCH(int, inFlight);
    QFETCH(int, shortfallMs);
    QFETCH(int, suggested);
    RunTimeTally tally;
    tally.addReading(busy, 1000 - shortfallMs, inFlight);
    tally.addReading(busy, shortfallMs, inFlight - 1);
    tally.addLink(3000, true);
    tally.addLink(1000, false);
    const std::optional<RunTimeTally::MoreSlots> more = tally.moreSlots(threads);
    QCOMPARE(more ? more->threadsCount : 0, suggested);
    // Three of the links' four seconds went to the failed one.
    QCOMPARE(tally.failedMs() * 4, tally.linksMs() * 3);
}

QTEST_GUILESS_MAIN(TestRunTimeTally)
#include "tst_runtimetally.moc"
