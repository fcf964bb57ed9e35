#include <csignal>

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "batch/acrossruns.h"
#include "batch/historystore.h"
#include "batch/linkoutcome.h"
#include "batch/runhistory.h"

using namespace Batch;

namespace {

constexpr qint64 Day = 86400;

// "page/look/title": a page word (or "failed" for a page never captured), the bits of its look set from
// the first on ("-" for no look), and its title.
LinkSighting sighting(const QString& code, int run)
{
    const QStringList parts = code.split(QLatin1Char('/'));
    LinkSighting seen;
    seen.date = run * Day;
    const bool failed = parts.at(0) == QLatin1String("failed");
    seen.outcome = failed ? Outcome::Refused : Outcome::Captured;
    seen.page = failed ? QString() : parts.at(0);
    if (parts.value(1) != QLatin1String("-")) {
        Imaging::LookHash look;
        for (int bit = 0; bit < parts.value(1).toInt(); ++bit)
            look.words[size_t(bit / 64)] |= quint64(1) << (bit % 64);
        seen.look = look;
    }
    seen.title = parts.value(2);
    return seen;
}

// Writes batches of links into a history until it is killed, saying each batch it committed.
int writeUntilKilled(const QString& path)
{
    auto store = HistoryStore::open(path);
    const auto run = store ? store.value()->beginRun(Day, 12) : Common::Result<qint64>(Common::Error {});
    for (qint32 line = 1; run; line += RunHistory::BatchLinks) {
        QList<HistoryStore::Entry> batch;
        for (qint32 i = line; i < line + RunHistory::BatchLinks; ++i)
            batch.append({ run.value(), i, QString::number(i), QStringLiteral("http://site%1.test/").arg(i), 200, {},
                QByteArray(20, 'h'), sighting(QStringLiteral("ok/300/") + QString(400, QLatin1Char('t')), 1) });
        if (!store.value()->record(batch))
            return 1;
        std::printf("%d\n", line + RunHistory::BatchLinks - 1);
        std::fflush(stdout);
    }
    return 1;
}

} // namespace

class TestRunHistory final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void words_data();
    void words();
    void keyedByIdAndAddress();
    void killedWriterLosesNoCommittedBatch();
};

void TestRunHistory::words_data()
{
    QTest::addColumn<QStringList>("earlier"); // oldest first, run 1 on
    QTest::addColumn<QString>("present");
    QTest::addColumn<int>("failingRuns");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("sinceRun");
    QTest::addColumn<int>("lastWorkedRun"); // 0: none

    const auto row = [](const char* name, std::initializer_list<const char*> earlier, const char* present,
                         int failingRuns, const char* word, int since, int lastWorked) {
        QStringList list;
        for (const char* code : earlier)
            list.append(QString::fromUtf8(code));
        QTest::newRow(name) << list << QString::fromUtf8(present) << failingRuns << QString::fromUtf8(word) << since
                            << lastWorked;
    };
    row("first seen", {}, "ok/0/Acme", 3, "new", 1, 1);
    row("first seen failing", {}, "failed/-/", 1, "new", 1, 0);
    row("same page", { "ok/0/Acme Widgets" }, "ok/0/Acme Widgets", 3, "", 1, 2);
    row("look 1 bit short", { "ok/0/Acme Widgets" }, "ok/79/Domain for sale", 3, "", 1, 2);
    row("look far enough", { "ok/0/Acme Widgets" }, "ok/80/Domain for sale", 3, "changed", 2, 2);
    row("half the title kept", { "ok/0/Acme Widgets Store" }, "ok/300/Acme Widgets Shop", 3, "", 1, 2);
    row("under half kept", { "ok/0/Acme Widgets Store Home" }, "ok/300/Acme Gadgets Outlet Sale", 3, "changed", 2, 2);
    row("title set otherwise", { "ok/0/Acme Widgets - Home" }, "ok/300/Home | ACME widgets", 3, "", 1, 2);
    row("a title gone", { "ok/0/Acme" }, "ok/300/", 3, "changed", 2, 2);
    row("no look to compare", { "ok/0/Acme" }, "ok/-/Other", 3, "", 1, 2);
    row("against the last good", { "ok/0/Acme", "parked/300/Sale" }, "ok/300/Sale", 3, "changed", 3, 3);
    row("back", { "ok/0/Acme", "failed/-/" }, "ok/0/Acme", 3, "back", 3, 3);
    row("good twice is not back", { "failed/-/", "ok/0/Acme" }, "ok/0/Acme", 3, "", 2, 3);
    row("failing one short", { "ok/0/Acme", "failed/-/" }, "failed/-/", 3, "", 2, 1);
    row("failing", { "ok/0/Acme", "failed/-/", "error/0/" }, "blank/-/", 3, "failing", 4, 1);
    row("parked counts", { "ok/0/Acme", "parked/0/Sale", "parked/0/Sale" }, "parked/0/Sale", 3, "failing", 2, 1);
    row("failing after one", { "ok/0/Acme" }, "failed/-/", 1, "failing", 2, 1);
    row("moved is a state", { "ok/0/Acme", "ok/0/Acme" }, "moved/0/Acme", 3, "", 3, 3);
}

void TestRunHistory::words()
{
    QFETCH(QStringList, earlier);
    QFETCH(QString, present);
    QFETCH(int, failingRuns);
    QFETCH(QString, word);
    QFETCH(int, sinceRun);
    QFETCH(int, lastWorkedRun);

    // Each earlier run judged as the history did, newest first.
    QList<LinkSighting> seen;
    for (int run = 1; run <= earlier.size(); ++run) {
        LinkSighting next = sighting(earlier.at(run - 1), run);
        judgeAcrossRuns(next, seen, failingRuns);
        seen.prepend(next);
    }
    LinkSighting now = sighting(present, int(earlier.size()) + 1);
    judgeAcrossRuns(now, seen, failingRuns);
    QCOMPARE(now.change, word);
    QCOMPARE(now.since, sinceRun * Day);
    QCOMPARE(now.lastWorked, lastWorkedRun * Day);
}

void TestRunHistory::keyedByIdAndAddress()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data/history.db"));
    auto opened = HistoryStore::open(path);
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.error().message));
    HistoryStore& store = *opened.value();
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    QCOMPARE(QFile::permissions(path) & (owner | QFile::ReadGroup | QFile::ReadOther), owner);
    const QString before = QStringLiteral("http://old.test/");
    const QString after = QStringLiteral("http://new.test/");
    QList<qint64> runs;
    for (int run = 1; run <= 3; ++run) {
        runs.append(store.beginRun(run * Day, 2).value());
        const QString url = run == 1 ? before : after;
        QVERIFY(store.record(
            { { runs.last(), 1, QStringLiteral("7"), url, 200, url, {}, sighting(QStringLiteral("ok/0/A"), run) } }));
        if (run == 2) {
            // The ID came back with another address: a link of its own, the old one's run still kept.
            QVERIFY(store.earlier(QStringLiteral("7"), after, runs.last(), 12).isEmpty());
            QCOMPARE(store.runsOf(QStringLiteral("7"), before).size(), 1);
        }
    }
    // Two runs kept: the first went, with the only sighting of the old address.
    QCOMPARE(store.runs(), QList<qint64>({ runs.at(1), runs.at(2) }));
    QVERIFY(store.runsOf(QStringLiteral("7"), before).isEmpty());
    QCOMPARE(store.runsOf(QStringLiteral("7"), after).size(), 2);
    QCOMPARE(store.entryAt(runs.at(2), 1)->url, after);
    // Not a history: left alone.
    QFile foreign(dir.filePath(QStringLiteral("other.db")));
    QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write("not SQLite at all, and long enough to tell") > 0);
    foreign.close();
    QVERIFY(!HistoryStore::open(foreign.fileName()));
}

void TestRunHistory::killedWriterLosesNoCommittedBatch()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PICTAVO_TEST_HISTORY_WRITER"), path);
    writer.setProcessEnvironment(env);
    writer.start(QCoreApplication::applicationFilePath(), {});
    QByteArray said;
    const auto lastCommitted = [&] {
        said += writer.readAllStandardOutput();
        const QList<QByteArray> lines = said.split('\n');
        return lines.size() > 1 ? lines.at(lines.size() - 2).toInt() : 0;
    };
    // Killed in the thick of it: a batch is being written nearly all the time.
    QTRY_VERIFY_WITH_TIMEOUT(lastCommitted() >= 30 * RunHistory::BatchLinks, 30 * RunHistory::BatchSeconds * 1000);
    ::kill(pid_t(writer.processId()), SIGKILL);
    QVERIFY(writer.waitForFinished(RunHistory::BatchSeconds * 1000));
    const int committed = lastCommitted();

    auto reopened = HistoryStore::open(path);
    QVERIFY(reopened);
    QVERIFY(reopened.value()->isIntact());
    for (const qint32 line : { 1, committed / 2, committed }) {
        const auto entry = reopened.value()->entryAt(1, line);
        QVERIFY2(entry, qPrintable(QString::number(line)));
        QCOMPARE(entry->seen.title.size(), 400);
    }
}

int main(int argc, char** argv)
{
    if (const QString path = qEnvironmentVariable("PICTAVO_TEST_HISTORY_WRITER"); !path.isEmpty())
        return writeUntilKilled(path);
    QCoreApplication app(argc, argv);
    TestRunHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runhistory.moc"
