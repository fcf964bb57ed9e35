#include <QTest>

#include "batch/linkoutcome.h"
#include "cli/commandline.h"
#include "cli/runoutput.h"

using Cli::Invocation;

namespace {

QStringList args(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* item : list)
        out.append(QString::fromUtf8(item));
    return out;
}

} // namespace

class TestCommandLine final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesWhatItShould_data();
    void parsesWhatItShould();
    void refusesWhatItShould_data();
    void refusesWhatItShould();
    void helpForEachCommand_data();
    void helpForEachCommand();
    void linkLinesAreSafeForATerminal();
    void progressLine_data();
    void progressLine();
};

void TestCommandLine::parsesWhatItShould_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("check"); // a field, rendered below, and its expected value

    QTest::newRow("run range") << args({ "run", "--from", "3", "--to=9" }) << QStringLiteral("from=3 to=9");
    QTest::newRow("run flags") << args({ "run", "--skip-existing", "--json", "--retry" })
                               << QStringLiteral("skip=1 json=1 retry=1");
    QTest::newRow("globals before the command")
        << args({ "--folder", "/srv/p", "--set", "ThreadsCount=8", "--set=WatermarkText=a=b", "run" })
        << QStringLiteral("folder=/srv/p set=ThreadsCount:8,WatermarkText:a=b");
    QTest::newRow("import mode and period")
        << args({ "import", "--mode", "missing-recent", "--period", "15" }) << QStringLiteral("mode=4 period=15");
    QTest::newRow("upload options") << args({ "upload", "--from", "2", "--to", "2", "--connections", "10", "--files",
        "100" }) << QStringLiteral("files=2-2 connections=10 per=100");
    QTest::newRow("report file") << args({ "report", "--dead", "some.csv" })
                                 << QStringLiteral("file=some.csv list=dead");
    QTest::newRow("report list") << args({ "report", "--errors" }) << QStringLiteral("file= list=errors");
}

namespace {

QString render(const Invocation& call)
{
    QStringList parts;
    if (!call.from.isEmpty() || !call.to.isEmpty())
        parts << QStringLiteral("from=%1 to=%2").arg(call.from, call.to);
    if (call.skipExisting || call.json || call.retry)
        parts << QStringLiteral("skip=%1 json=%2 retry=%3").arg(call.skipExisting).arg(call.json).arg(call.retry);
    if (!call.folder.isEmpty()) {
        QStringList sets;
        for (const auto& [key, value] : call.settings)
            sets << key + QLatin1Char(':') + value;
        parts << QStringLiteral("folder=%1 set=%2").arg(call.folder, sets.join(QLatin1Char(',')));
    }
    if (call.importMode)
        parts << QStringLiteral("mode=%1 period=%2").arg(*call.importMode).arg(call.period.value_or(-1));
    if (call.connections)
        parts << QStringLiteral("files=%1-%2 connections=%3 per=%4")
                     .arg(*call.firstFile)
                     .arg(*call.lastFile)
                     .arg(*call.connections)
                     .arg(*call.filesPerConnection);
    if (!call.reportFile.isEmpty() || !call.reportList.isEmpty())
        parts << QStringLiteral("file=%1 list=%2").arg(call.reportFile, call.reportList);
    return parts.join(QLatin1Char(' '));
}

} // namespace

void TestCommandLine::parsesWhatItShould()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, check);
    const Cli::ParseResult result = Cli::parseCommandLine(arguments);
    QVERIFY2(result.invocation.has_value(), qPrintable(result.error));
    QCOMPARE(render(*result.invocation), check);
}

void TestCommandLine::refusesWhatItShould_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("nothing") << QStringList {} << QStringLiteral("no command given");
    QTest::newRow("unknown command") << args({ "go" }) << QStringLiteral("unknown command go");
    QTest::newRow("global after the command")
        << args({ "run", "--folder", "x" }) << QStringLiteral("run: unknown option --folder");
    QTest::newRow("option of another command")
        << args({ "count", "--json" }) << QStringLiteral("count: unknown option --json");
    QTest::newRow("line zero") << args({ "run", "--from", "0" })
                               << QStringLiteral("--from needs a whole number from 1");
    QTest::newRow("missing value") << args({ "run", "--to" }) << QStringLiteral("--to needs a whole number from 1");
    QTest::newRow("flag with a value") << args({ "run", "--json=yes" }) << QStringLiteral("--json takes no value");
    QTest::newRow("two report lists") << args({ "report", "--dead", "--moved" })
                                      << QStringLiteral("cannot be combined");
    QTest::newRow("set without a key") << args({ "--set", "=3", "run" }) << QStringLiteral("--set needs KEY=VALUE");
    QTest::newRow("set without =") << args({ "--set", "ThreadsCount", "run" })
                                   << QStringLiteral("--set needs KEY=VALUE");
    QTest::newRow("period past the lists")
        << args({ "import", "--period", "16" }) << QStringLiteral("--period needs a whole number from 0 to 15");
    QTest::newRow("unknown mode") << args({ "import", "--mode", "new" }) << QStringLiteral("--mode needs all, recent");
    QTest::newRow("eleven connections") << args({ "upload", "--connections", "11" })
                                        << QStringLiteral("--connections needs a whole number from 1 to 10");
    QTest::newRow("upload range upside down")
        << args({ "upload", "--from", "5", "--to", "4" }) << QStringLiteral("--from must not be above --to");
    QTest::newRow("two report files") << args({ "report", "a.csv", "b.csv" })
                                      << QStringLiteral("unexpected argument b.csv");
    QTest::newRow("stray argument") << args({ "run", "7" }) << QStringLiteral("run: unexpected argument 7");
    QTest::newRow("setup flag with a value")
        << args({ "setup", "--password-in-settings=no" }) << QStringLiteral("--password-in-settings takes no value");
}

void TestCommandLine::refusesWhatItShould()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const Cli::ParseResult result = Cli::parseCommandLine(arguments);
    QVERIFY(!result.invocation);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
}

void TestCommandLine::helpForEachCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");
    QTest::newRow("program") << args({ "--help", "run" }) << QStringLiteral("Usage: pictavo [--folder DIR]");
    QTest::newRow("run") << args({ "--folder", "x", "run", "--from", "3", "-h" })
                         << QStringLiteral("Usage: pictavo run ");
    QTest::newRow("upload") << args({ "upload", "--help" }) << QStringLiteral("Usage: pictavo upload ");
}

void TestCommandLine::helpForEachCommand()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);
    const Cli::ParseResult result = Cli::parseCommandLine(arguments);
    QVERIFY(result.invocation && result.invocation->help);
    QVERIFY2(result.invocation->help->startsWith(usage), qPrintable(*result.invocation->help));
}

void TestCommandLine::linkLinesAreSafeForATerminal()
{
    Batch::LinkOutcome link;
    link.line = 12;
    link.id = QStringLiteral("7\t8");
    link.url = QStringLiteral("http://a.example/\x1b[2J");
    link.outcome = Batch::Outcome::Captured;
    link.statusText = QStringLiteral("two\nlines");
    QCOMPARE(Cli::linkLine(link, false),
        QStringLiteral("12\t7 8\tcaptured\ttwo lines\thttp://a.example/\uFFFD[2J\n").toUtf8());
    // JSON escapes what it must; nothing raw reaches the terminal either.
    const QByteArray json = Cli::linkLine(link, true);
    QVERIFY(!json.contains('\x1b'));
    QVERIFY(json.contains("\"http_status\":null"));
    QCOMPARE(json.count('\n'), 1);
}

void TestCommandLine::progressLine_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("selected");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("line");

    QTest::newRow("start") << 0 << 0 << 200 << 0.0 << QStringLiteral("[----------] 0/200, 0 failed");
    QTest::newRow("half way") << 100 << 3 << 200 << 50.0
                              << QStringLiteral("[#####-----] 100/200, 3 failed, 2.0 links/s, 0:50 left");
    QTest::newRow("hours left") << 1 << 0 << 10000 << 1.0
                                << QStringLiteral("[----------] 1/10000, 0 failed, 1.0 links/s, 2:46:39 left");
    QTest::newRow("done") << 200 << 0 << 200 << 20.0 << QStringLiteral("[##########] 200/200, 0 failed, 10.0 links/s");
}

void TestCommandLine::progressLine()
{
    QFETCH(int, done);
    QFETCH(int, failed);
    QFETCH(int, selected);
    QFETCH(double, seconds);
    QFETCH(QString, line);
    Cli::RunTally tally;
    for (int i = 0; i < done; ++i) {
        Batch::LinkOutcome link;
        link.outcome = i < failed ? Batch::Outcome::TimedOut : Batch::Outcome::Captured;
        tally.add(link);
    }
    QCOMPARE(Cli::progressLine(tally, selected, seconds, 10), line);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
