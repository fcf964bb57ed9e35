#include <QTest>

#include "batch/captureadmission.h"
#include "batch/machineroom.h"

using Batch::CaptureAdmission;
using Batch::MachineRoom;

Q_DECLARE_METATYPE(CaptureAdmission::Hold)

namespace {

constexpr qint64 MB = 1024 * 1024;

} // namespace

class TestCaptureAdmission final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hold_data();
    void hold();
    void budget_data();
    void budget();
    void procTexts_data();
    void procTexts();
    void readsThisProcess();
};

void TestCaptureAdmission::hold_data()
{
    QTest::addColumn<int>("inFlight");
    QTest::addColumn<int>("startedSinceReading");
    QTest::addColumn<double>("busy");
    QTest::addColumn<qint64>("treeBytes");
    QTest::addColumn<qint64>("availableBytes");
    QTest::addColumn<CaptureAdmission::Hold>("expected");
    using Hold = CaptureAdmission::Hold;
    // Two cores, a budget of 1000 MB, 50 MB a capture; the rows walk each limit from both sides.
    const int free = CaptureAdmission::FreeCapturesPerCore * 2;
    const double limit = CaptureAdmission::BusyLimit;
    const qint64 reserve = CaptureAdmission::ReserveBytes;
    const qint64 room = 8000 * MB;
    QTest::newRow("nothing in flight, machine full") << 0 << 9 << 1.0 << 5000 * MB << qint64(0) << Hold::None;
    QTest::newRow("below the free captures, busy") << free - 1 << 0 << 1.0 << 100 * MB << room << Hold::None;
    QTest::newRow("at the free captures, busy") << free << 0 << limit << 100 * MB << room << Hold::Processor;
    QTest::newRow("at the free captures, just below the limit")
        << free << 0 << limit - 0.01 << 100 * MB << room << Hold::None;
    // Idle: 0.85 x 2 cores x 2 starts = 3 starts until the next reading.
    QTest::newRow("idle, third start since reading") << 50 << 2 << 0.0 << 100 * MB << room << Hold::None;
    QTest::newRow("idle, fourth start since reading") << 50 << 3 << 0.0 << 100 * MB << room << Hold::Processor;
    QTest::newRow("nearly busy still lets one start") << 50 << 0 << limit - 0.01 << 100 * MB << room << Hold::None;
    QTest::newRow("one more fits the budget exactly") << 1 << 0 << 0.0 << 950 * MB << room << Hold::None;
    QTest::newRow("one more passes the budget by a byte") << 1 << 0 << 0.0 << 950 * MB + 1 << room << Hold::Memory;
    QTest::newRow("captures started since the reading count") << 1 << 1 << 0.0 << 900 * MB + 1 << room << Hold::Memory;
    QTest::newRow("the kernel keeps its reserve") << 1 << 0 << 0.0 << 100 * MB << reserve + 50 * MB << Hold::None;
    QTest::newRow("the kernel's reserve would be touched")
        << 1 << 0 << 0.0 << 100 * MB << reserve + 50 * MB - 1 << Hold::Memory;
    QTest::newRow("available memory unknown") << 1 << 0 << 0.0 << 100 * MB << qint64(-1) << Hold::None;
}

void TestCaptureAdmission::hold()
{
    QFETCH(int, inFlight);
    QFETCH(int, startedSinceReading);
    QFETCH(double, busy);
    QFETCH(qint64, treeBytes);
    QFETCH(qint64, availableBytes);
    QFETCH(CaptureAdmission::Hold, expected);
    const CaptureAdmission::Machine machine { 2, busy, treeBytes, availableBytes };
    const CaptureAdmission::Run run { inFlight, startedSinceReading, 1000 * MB, 50 * MB };
    QCOMPARE(CaptureAdmission::hold(machine, run), expected);
}

void TestCaptureAdmission::budget_data()
{
    QTest::addColumn<int>("settingMb");
    QTest::addColumn<qint64>("machineBytes");
    QTest::addColumn<qint64>("tree");
    QTest::addColumn<qint64>("baseline");
    QTest::addColumn<int>("inFlight");
    QTest::addColumn<qint64>("expectedBudget");
    QTest::addColumn<qint64>("expectedPerCapture");
    const qint64 least = CaptureAdmission::LeastBytesPerCapture;
    QTest::newRow("automatic: half the machine")
        << 0 << 24000 * MB << 600 * MB << 200 * MB << 8 << 12000 * MB << 50 * MB;
    QTest::newRow("set in MB") << 3000 << 24000 * MB << 600 * MB << 200 * MB << 0 << 3000 * MB << least;
    QTest::newRow("machine unknown: no budget") << 0 << qint64(0) << 200 * MB << 200 * MB << 4 << qint64(0) << least;
    QTest::newRow("tree shrank below its start") << 0 << 2000 * MB << 100 * MB << 200 * MB << 4 << 1000 * MB << least;
}

void TestCaptureAdmission::budget()
{
    QFETCH(int, settingMb);
    QFETCH(qint64, machineBytes);
    QFETCH(qint64, tree);
    QFETCH(qint64, baseline);
    QFETCH(int, inFlight);
    QFETCH(qint64, expectedBudget);
    QFETCH(qint64, expectedPerCapture);
    QCOMPARE(CaptureAdmission::budgetBytes(settingMb, machineBytes), expectedBudget);
    QCOMPARE(CaptureAdmission::bytesPerCapture(tree, baseline, inFlight), expectedPerCapture);
}

void TestCaptureAdmission::procTexts_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<QByteArray>("meminfo");
    QTest::addColumn<QByteArray>("processStat");
    QTest::addColumn<double>("busyShare");
    QTest::addColumn<qint64>("available");
    QTest::addColumn<qint64>("parent");
    // Busy: user, nice, system, irq, softirq, steal; idle: idle and iowait; guest is inside user already.
    QTest::newRow("usual") << QByteArray("cpu  100 0 100 700 100 0 0 0 50 0\ncpu0 1 2 3 4\n")
                           << QByteArray("MemTotal:  2048 kB\nMemAvailable:    1024 kB\n")
                           << QByteArray("42 (chrome) S 7 42 42 0") << 0.2 << qint64(1024 * 1024) << qint64(7);
    QTest::newRow("a name with spaces and parentheses")
        << QByteArray("cpu 500 0 0 500 0 0 0 0") << QByteArray("MemAvailableX: 5 kB\nMemAvailable: 0 kB")
        << QByteArray("9 (a) b (c) R 123 9 9") << 0.5 << qint64(0) << qint64(123);
    QTest::newRow("unreadable") << QByteArray("intr 1 2 3") << QByteArray("MemFree: 1 kB") << QByteArray("9 a b")
                                << -1.0 << qint64(-1) << qint64(-1);
}

void TestCaptureAdmission::procTexts()
{
    QFETCH(QByteArray, stat);
    QFETCH(QByteArray, meminfo);
    QFETCH(QByteArray, processStat);
    QFETCH(double, busyShare);
    QFETCH(qint64, available);
    QFETCH(qint64, parent);
    // Readings a tick apart: every counter doubled from nothing gives the same share.
    const std::optional<Batch::CpuTimes> times = MachineRoom::parseCpuTimes(stat);
    QCOMPARE(times.has_value(), busyShare >= 0);
    if (times) {
        const Batch::CpuTimes later { times->busy * 2, times->total * 2 };
        QCOMPARE(MachineRoom::busyShareBetween(*times, later), busyShare);
        QCOMPARE(MachineRoom::busyShareBetween(later, *times), 0.0);
    }
    QCOMPARE(MachineRoom::kilobyteField(meminfo, "MemAvailable").value_or(-1), available);
    QCOMPARE(MachineRoom::parentFromStat(processStat).value_or(-1), parent);
}

void TestCaptureAdmission::readsThisProcess()
{
    // The tree holds this process at least; its children too, and a cycle in the map ends.
    QCOMPARE(MachineRoom::treeOf(1, { { 2, 1 }, { 3, 2 }, { 1, 3 }, { 4, 9 } }), QList<qint64>({ 1, 2, 3 }));
    MachineRoom room;
    QByteArray burn(8 * 1024 * 1024, 'x');
    const Batch::RoomReading reading = room.read();
    QVERIFY(reading.treeBytes >= burn.size());
    QVERIFY(reading.busyShare >= 0.0 && reading.busyShare <= 1.0);
    QVERIFY(MachineRoom::totalMemory() > reading.treeBytes);
}

QTEST_GUILESS_MAIN(TestCaptureAdmission)
#include "tst_captureadmission.moc"
