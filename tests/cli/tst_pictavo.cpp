// The command line end to end: the real executable against pages served on 127.0.0.1 and the
// reference administration script under lighttpd.
#include <csignal>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "adminscriptserver.h"
#include "batch/historystore.h"
#include "cannedhttpserver.h"
#include "common/csv.h"
#include "fulldisk.h"
#include "settings/hive.h"
#include "settings/settingsstore.h"
#include "testhttpserver.h"

namespace {

// A page that shows something, as the links of a directory do: a one-colour page would be blank.
QByteArray pageBody(const QByteArray& heading)
{
    return "<body><h1>" + heading + "</h1><div style='height:400px;background:#369'></div></body>";
}

QStringList args(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* item : list)
        out.append(QString::fromUtf8(item));
    return out;
}

struct Ran {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

const QString kTitle = QStringLiteral("Shop, \"Best\" & more");

// Processes of a browser started by the pictavo process `pid`: their command line names its profile.
QList<qint64> browsersOf(qint64 pid)
{
    QList<qint64> found;
    const QByteArray marker = "pictavo-browser-" + QByteArray::number(pid) + '-';
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bool numeric = false;
        const qint64 candidate = it.fileName().toLongLong(&numeric);
        QFile cmdline(it.filePath() + QStringLiteral("/cmdline"));
        if (numeric && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(marker))
            found.append(candidate);
    }
    return found;
}

} // namespace

class TestPictavo final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void runReportsEveryOutcome();
    void reportColumns_data();
    void reportColumns();
    void reportCommandListsDeadLinks();
    void secondRunSaysWhatChanged();
    void exitCodes_data();
    void exitCodes();
    void setLastsOneInvocation();
    void interruptStopsTheRun_data();
    void interruptStopsTheRun();
    void oneRunPerFolder();
    void importRunUploadWithTheAdminScript();

private:
    QProcess* start(const QStringList& arguments, const QProcessEnvironment& extra = {}, const QByteArray& input = {});
    Ran run(const QStringList& arguments, const QProcessEnvironment& extra = {}, const QByteArray& input = {});
    void writeLinks(const QByteArray& lines);
    QList<QStringList> reportRecords(const QString& path);
    QByteArray page(const char* path) const { return m_pages.url(QString::fromLatin1(path)).toUtf8(); }

    QTemporaryDir m_home;
    QString m_folder;
    CaptureTest::TestHttpServer m_pages;
    QByteArray m_refusedUrl;
    bool m_closedOutput = false; // for the next start()
    QString m_outputFile; // for the next start()
    // The first run's report and output, examined by several tests.
    QString m_reportPath;
    Ran m_mixed;
};

void TestPictavo::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(m_pages.listen());
    m_pages.setPage(QStringLiteral("/ok"),
        "<html><head><title>" + kTitle.toHtmlEscaped().toUtf8() + "</title></head>" + pageBody("ok") + "</html>");
    CaptureTest::TestHttpServer::Response gone;
    gone.status = 404;
    gone.body = "<html>" + pageBody("gone") + "</html>";
    m_pages.setRoute(QStringLiteral("/gone"), gone);
    CaptureTest::TestHttpServer::Response moved;
    moved.status = 302;
    moved.location = page("/ok");
    m_pages.setRoute(QStringLiteral("/moved"), moved);
    CaptureTest::TestHttpServer::Response slow;
    slow.body = "<html>" + pageBody("slow") + "</html>";
    slow.delayMs = 2500;
    m_pages.setRoute(QStringLiteral("/slow"), slow);
    CaptureTest::TestHttpServer::Response hang;
    hang.hang = true;
    m_pages.setRoute(QStringLiteral("/hang"), hang);

    // What pages become: blank, gone to another site, or parked, by the parking service's address or
    // by one template that three sites show.
    m_pages.setPage(QStringLiteral("/blank"), "<html><body></body></html>");
    const auto redirect = [this](const char* path, const char* host) {
        CaptureTest::TestHttpServer::Response moved;
        moved.status = 301;
        moved.location = m_pages.url(QStringLiteral("/ok"), QString::fromLatin1(host)).toUtf8();
        m_pages.setRoute(QString::fromLatin1(path), moved);
    };
    redirect("/elsewhere", "elsewhere.test");
    redirect("/forsale", "lander.parking.test");
    for (const char* domain : { "first.test", "second.test", "third.test" })
        m_pages.setPage(QStringLiteral("/lander-") + QString::fromLatin1(domain),
            "<body style='margin:0;font-family:sans-serif'><div style='background:#1b3a5c;color:#fff;padding:18px'>"
            "DomainMarket</div><div style='text-align:center;padding:50px'><h1 style='font-size:44px'>"
                + QByteArray(domain)
                + "</h1><p style='font-size:22px'>This domain is for sale!</p><p><b style='background:#e67e22;"
                  "color:#fff;padding:14px 40px;font-size:22px'>Buy now</b></p></div></body>");

    // A port nobody listens on: taken, then given back.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    m_refusedUrl = "http://127.0.0.1:" + QByteArray::number(probe.serverPort()) + '/';
    probe.close();
}

void TestPictavo::init()
{
    m_folder = m_home.filePath(QStringLiteral("app-") + QString::fromLatin1(QTest::currentTestFunction())
        + QLatin1Char('-') + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
    QDir().mkpath(m_folder + QStringLiteral("/data"));
}

QProcess* TestPictavo::start(const QStringList& arguments, const QProcessEnvironment& extra, const QByteArray& input)
{
    auto* process = new QProcess(this);
    if (std::exchange(m_closedOutput, false)) { // `pictavo ... | true`: the reader is gone before the first line
        process->setStandardOutputProcess(new QProcess(process));
        process->findChild<QProcess*>()->start(QStringLiteral("true"));
    }
    if (!m_outputFile.isEmpty())
        process->setStandardOutputFile(std::exchange(m_outputFile, {}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("PICTAVO_BROWSER_FLAGS"),
        QStringLiteral("\"--host-resolver-rules=MAP *.test 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1\""));
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the program must pick offscreen itself
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(PICTAVO_CLI_PATH),
        QStringList { QStringLiteral("--folder"), m_folder, QStringLiteral("--set"), QStringLiteral("DelayTime=0"),
            QStringLiteral("--set"), QStringLiteral("Timeout=15000") }
            + arguments);
    process->write(input);
    process->closeWriteChannel();
    return process;
}

Ran TestPictavo::run(const QStringList& arguments, const QProcessEnvironment& extra, const QByteArray& input)
{
    QProcess* process = start(arguments, extra, input);
    QSignalSpy finished(process, &QProcess::finished);
    // The pages are served by this process: wait with the event loop running.
    if (!finished.wait(120000))
        process->kill();
    Ran ran { process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
        process->readAllStandardOutput(), process->readAllStandardError() };
    process->deleteLater();
    return ran;
}

void TestPictavo::writeLinks(const QByteArray& lines)
{
    QFile file(m_folder + QStringLiteral("/data/LinksInfo.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(lines);
}

QList<QStringList> TestPictavo::reportRecords(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Common::CsvReader reader(file);
    QList<QStringList> records;
    while (const auto record = reader.next())
        records.append(*record);
    return records;
}

void TestPictavo::runReportsEveryOutcome()
{
    writeLinks("1|" + page("/ok") + "\r\n2|" + page("/gone") + "\r\n3|" + page("/moved") + "\r\n4|" + m_refusedUrl
        + "\r\n5|http://nowhere.example/\r\n6|\r\n7|http://files.example/setup.zip\r\n8|" + page("/blank") + "\r\n9|"
        + page("/elsewhere") + "\r\n10|" + page("/forsale") + "\r\n11|"
        + m_pages.url(QStringLiteral("/lander-first.test"), QStringLiteral("first.test")).toUtf8() + "\r\n12|"
        + m_pages.url(QStringLiteral("/lander-second.test"), QStringLiteral("www.second.test")).toUtf8() + "\r\n13|"
        + m_pages.url(QStringLiteral("/lander-third.test"), QStringLiteral("third.test")).toUtf8() + "\r\n14|"
        + m_pages.url(QStringLiteral("/lander-first.test"), QStringLiteral("lander.parking.test")).toUtf8() + "\r\n");
    // The user's own parking services beside the shipped ones; a blank page keeps its thumbnail.
    QFile parking(m_folder + QStringLiteral("/data/parking-services.txt"));
    QVERIFY(parking.open(QIODevice::WriteOnly) && parking.write("# ours\nparking.test\n") > 0);
    parking.close();
    QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/snapshots")));
    QFile kept(m_folder + QStringLiteral("/snapshots/8.jpg"));
    QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
    kept.close();
    m_mixed = run({ QStringLiteral("run"), QStringLiteral("--json") });
    // The refused and unresolvable links failed.
    QCOMPARE(m_mixed.exitCode, 1);

    const QList<QByteArray> lines = m_mixed.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 14);
    QMap<QString, QJsonObject> byId;
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        byId.insert(object.value(QLatin1String("id")).toString(), object);
    }
    QCOMPARE(byId.value(QStringLiteral("1")).value(QLatin1String("outcome")).toString(), QStringLiteral("captured"));
    QCOMPARE(byId.value(QStringLiteral("1")).value(QLatin1String("status")).toString(),
        QStringLiteral("Successfull snapshot"));
    QCOMPARE(byId.value(QStringLiteral("1")).value(QLatin1String("line")).toInt(), 1);
    QCOMPARE(byId.value(QStringLiteral("1")).value(QLatin1String("title")).toString(), kTitle);
    QCOMPARE(byId.value(QStringLiteral("2")).value(QLatin1String("http_status")).toInt(), 404);
    QVERIFY(byId.value(QStringLiteral("4")).value(QLatin1String("http_status")).isNull());
    QCOMPARE(
        byId.value(QStringLiteral("7")).value(QLatin1String("status")).toString(), QStringLiteral("Ignored...(.zip)"));
    QVERIFY(QFile::exists(m_folder + QStringLiteral("/snapshots/1.jpg")));
    QCOMPARE(kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray(), QByteArray("kept"));

    const QStringList reports = QDir(m_folder + QStringLiteral("/data/reports")).entryList({ QStringLiteral("*.csv") });
    QCOMPARE(reports.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^run-\\d{8}-\\d{6}\\.csv$")).match(reports.first()).hasMatch());
    m_reportPath = m_folder + QStringLiteral("/data/reports/") + reports.first();
    QVERIFY2(m_mixed.err.contains(m_reportPath.toUtf8()), m_mixed.err.constData());
    QVERIFY2(m_mixed.err.contains("pages: 1 moved, 4 parked, 1 blank, 1 error;"), m_mixed.err.constData());
}

void TestPictavo::reportColumns_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("httpStatus");
    QTest::addColumn<QString>("finalPath"); // of the final URL; "-" for none, host:path on another host
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("page");

    QTest::newRow("captured page") << QStringLiteral("1") << QStringLiteral("captured") << QStringLiteral("200")
                                   << QStringLiteral("/ok") << kTitle << QStringLiteral("ok");
    QTest::newRow("404") << QStringLiteral("2") << QStringLiteral("captured") << QStringLiteral("404")
                         << QStringLiteral("/gone") << QString() << QStringLiteral("error");
    QTest::newRow("redirect") << QStringLiteral("3") << QStringLiteral("captured") << QStringLiteral("200")
                              << QStringLiteral("/ok") << kTitle << QStringLiteral("ok");
    QTest::newRow("refused port") << QStringLiteral("4") << QStringLiteral("refused") << QStringLiteral("")
                                  << QStringLiteral("-") << QString() << QString();
    QTest::newRow("unresolvable name") << QStringLiteral("5") << QStringLiteral("unresolved") << QStringLiteral("")
                                       << QStringLiteral("-") << QString() << QString();
    QTest::newRow("no address") << QStringLiteral("6") << QStringLiteral("skipped") << QStringLiteral("")
                                << QStringLiteral("-") << QString() << QString();
    QTest::newRow("blank") << QStringLiteral("8") << QStringLiteral("blank") << QStringLiteral("200")
                           << QStringLiteral("/blank") << QString() << QStringLiteral("blank");
    QTest::newRow("moved") << QStringLiteral("9") << QStringLiteral("captured") << QStringLiteral("200")
                           << QStringLiteral("elsewhere.test:/ok") << kTitle << QStringLiteral("moved");
    QTest::newRow("parked by address") << QStringLiteral("10") << QStringLiteral("captured") << QStringLiteral("200")
                                       << QStringLiteral("lander.parking.test:/ok") << kTitle
                                       << QStringLiteral("parked");
    QTest::newRow("parked by look") << QStringLiteral("11") << QStringLiteral("captured") << QStringLiteral("200")
                                    << QStringLiteral("first.test:/lander-first.test") << QString()
                                    << QStringLiteral("parked");
    QTest::newRow("the parking service's own page")
        << QStringLiteral("14") << QStringLiteral("captured") << QStringLiteral("200")
        << QStringLiteral("lander.parking.test:/lander-first.test") << QString() << QStringLiteral("ok");
}

void TestPictavo::reportColumns()
{
    QFETCH(QString, id);
    QFETCH(QString, outcome);
    QFETCH(QString, httpStatus);
    QFETCH(QString, finalPath);
    QFETCH(QString, title);
    QFETCH(QString, page);
    if (m_reportPath.isEmpty())
        QSKIP("the run that writes the report failed");

    const QList<QStringList> records = reportRecords(m_reportPath);
    QCOMPARE(records.value(0),
        args({ "line", "id", "url", "outcome", "status_text", "http_status", "final_url", "title", "elapsed_ms", "page",
            "seconds", "since", "change", "last_worked" }));
    QStringList record;
    for (const QStringList& candidate : records) {
        if (candidate.value(1) == id)
            record = candidate;
    }
    QCOMPARE(record.size(), 14);
    QCOMPARE(record.at(0), id); // the links are on lines 1 to 14
    QCOMPARE(record.at(3), outcome);
    QCOMPARE(record.at(5), httpStatus);
    const QStringList hostAndPath = finalPath.split(QLatin1Char(':'));
    QCOMPARE(record.at(6),
        finalPath == QLatin1String("-") ? QString()
            : hostAndPath.size() == 2   ? m_pages.url(hostAndPath.at(1), hostAndPath.at(0))
                                        : m_pages.url(finalPath));
    QCOMPARE(record.at(7), title);
    QVERIFY(record.at(8).toLongLong() >= 0);
    QCOMPARE(record.at(9), page);
    // A link's seconds run from its capture's start; a link never captured has none.
    QCOMPARE(record.at(10).isEmpty(), outcome == QLatin1String("skipped"));
    QVERIFY(record.at(10).toDouble() >= 0);
    // The folder's first run: every link it tried is new.
    QCOMPARE(record.at(12), outcome == QLatin1String("skipped") ? QString() : QStringLiteral("new"));
}

void TestPictavo::reportCommandListsDeadLinks()
{
    if (m_reportPath.isEmpty())
        QSKIP("the run that writes the report failed");
    // A title with a comma and quotes is quoted, its quotes doubled.
    QFile file(m_reportPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\"Shop, \"\"Best\"\" & more\""));

    // Without a file: the newest report of the program folder.
    m_folder = QFileInfo(m_reportPath).absolutePath() + QStringLiteral("/../..");
    const Ran dead = run({ QStringLiteral("report"), QStringLiteral("--dead") });
    QCOMPARE(dead.exitCode, 0);
    QCOMPARE(dead.out, "2|" + page("/gone") + "\n4|" + m_refusedUrl + "\n5|http://nowhere.example/\n");
    // One list of the page words at a time, in the database's order.
    QCOMPARE(run({ QStringLiteral("report"), QStringLiteral("--moved") }).out,
        "9|" + page("/elsewhere") + '|' + m_pages.url(QStringLiteral("/ok"), QStringLiteral("elsewhere.test")).toUtf8()
            + '\n');
    const QList<QByteArray> parked = run({ QStringLiteral("report"), QStringLiteral("--parked") }).out.split('\n');
    QCOMPARE(parked.size(), 5);
    QVERIFY2(parked.at(0).startsWith("10|") && parked.at(3).startsWith("13|"), parked.at(0).constData());

    const Ran summary = run({ QStringLiteral("report"), m_reportPath });
    QCOMPARE(summary.exitCode, 0);
    QVERIFY2(summary.out.contains("links: 14"), summary.out.constData());
    QVERIFY(QRegularExpression(QStringLiteral("captured +9\\n")).match(QString::fromUtf8(summary.out)).hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("parked +4\\n")).match(QString::fromUtf8(summary.out)).hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("4xx +1\\n")).match(QString::fromUtf8(summary.out)).hasMatch());
}

void TestPictavo::secondRunSaysWhatChanged()
{
    // Half a page of squares, on the left and then on the right: looks far apart.
    const auto squares = [](const char* title, const char* side) -> QByteArray {
        return QByteArray("<html><head><title>") + title
            + "</title></head><body style='margin:0'><div style='width:50%;" + "height:100vh;float:" + side
            + ";background:repeating-conic-gradient(#000 0 25%,#fff 0 50%) 0 0/64px 64px'>" + "</div></body></html>";
    };
    m_pages.setPage(QStringLiteral("/owner"), squares("Acme Widgets Store", "left"));
    CaptureTest::TestHttpServer::Response gone;
    gone.status = 404;
    gone.body = "<html>" + pageBody("not yet") + "</html>";
    m_pages.setRoute(QStringLiteral("/back"), gone);
    writeLinks("1|" + page("/owner") + "\r\n2|" + page("/back") + "\r\n3|" + m_refusedUrl + "\r\n");
    const QStringList twice = { QStringLiteral("--set"), QStringLiteral("FailingRuns=2"), QStringLiteral("run") };
    const Ran first = run(twice);
    QVERIFY2(first.err.contains("since the last runs: 3 new;"), first.err.constData());

    m_pages.setPage(QStringLiteral("/owner"), squares("Domain for sale", "right"));
    m_pages.setPage(QStringLiteral("/back"), "<html>" + pageBody("back") + "</html>");
    const Ran second = run(twice);
    QVERIFY2(second.err.contains("since the last runs: 1 changed, 1 back, 1 failing;"), second.err.constData());
    QCOMPARE(run({ QStringLiteral("report"), QStringLiteral("--changed") }).out, "1|" + page("/owner") + '\n');
    QCOMPARE(run({ QStringLiteral("report"), QStringLiteral("--back") }).out, "2|" + page("/back") + '\n');
    // Never seen working.
    QCOMPARE(run({ QStringLiteral("report"), QStringLiteral("--failing") }).out, "3|" + m_refusedUrl + "|\n");
    // The history holds the thumbnail as it was written.
    auto history = Batch::HistoryStore::open(m_folder + QStringLiteral("/data/history.db"));
    QFile thumbnail(m_folder + QStringLiteral("/snapshots/1.jpg"));
    QVERIFY(history && thumbnail.open(QIODevice::ReadOnly));
    QCOMPARE(history.value()->runsOf(QStringLiteral("1"), QString::fromUtf8(page("/owner"))).value(0).thumbnailHash,
        QCryptographicHash::hash(thumbnail.readAll(), QCryptographicHash::Sha1));
}

void TestPictavo::exitCodes_data()
{
    QTest::addColumn<QByteArray>("links"); // "@" stands for the test server
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("browser");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrHas");

    const QByteArray two = "1|@/ok\r\n2|@/ok\r\n";
    QTest::newRow("every link captured") << two << args({ "run" }) << QStringLiteral("") << 0
                                         << QStringLiteral("2 captured");
    QTest::newRow("skipped and ignored") << QByteArray("1|\r\n2|http://a.example/x.zip\r\n") << args({ "run" })
                                         << QStringLiteral("") << 0 << QStringLiteral("1 ignored");
    QTest::newRow("no database") << QByteArray() << args({ "run" }) << QStringLiteral("") << 2
                                 << QStringLiteral("does not exist");
    QTest::newRow("range of one line") << two << args({ "run", "--from", "2", "--to", "2" }) << QStringLiteral("") << 0
                                       << QStringLiteral("1 captured");
    QTest::newRow("browser missing") << two << args({ "run" }) << QStringLiteral("/nonexistent/chromium") << 2
                                     << QStringLiteral("cannot be run");
    QTest::newRow("bad argument") << two << args({ "run", "--from", "x" }) << QStringLiteral("") << 2
                                  << QStringLiteral("--from needs");
    QTest::newRow("unknown command") << two << args({ "capture" }) << QStringLiteral("") << 2
                                     << QStringLiteral("unknown command");
    QTest::newRow("unknown setting") << two << args({ "--set", "Colour=3", "run" }) << QStringLiteral("") << 2
                                     << QStringLiteral("no setting named Colour");
    QTest::newRow("setting not a number") << two << args({ "--set", "ThreadsCount=many", "run" }) << QStringLiteral("")
                                          << 2 << QStringLiteral("not a whole number");
    // No local browser is needed when the list names none.
    QTest::newRow("no endpoint reachable")
        << two << args({ "--set", "BrowserEndpoints=http://127.0.0.1:1", "run" })
        << QStringLiteral("/nonexistent/chromium") << 2 << QStringLiteral("No browser can be reached");
    QTest::newRow("bad endpoint list") << two << args({ "--set", "BrowserEndpoints=local ftp://x", "run" })
                                       << QStringLiteral("") << 2 << QStringLiteral("unknown scheme");
    QTest::newRow("retry with a range") << two << args({ "run", "--retry", "--to", "2" }) << QStringLiteral("") << 2
                                        << QStringLiteral("--retry");
    // A last argument ">FILE" sends standard output there; "@full" stands for a folder on a full disk.
    QTest::newRow("output to a full disk") << two << args({ "run", "--json", ">/dev/full" }) << QStringLiteral("") << 3
                                           << QStringLiteral("No space left on device");
    QTest::newRow("images folder full") << two << args({ "--set", "ImagesFolder=@full", "run" }) << QStringLiteral("")
                                        << 3 << QStringLiteral("2 write-failed");
}

void TestPictavo::exitCodes()
{
    QFETCH(QByteArray, links);
    QFETCH(QStringList, arguments);
    QFETCH(QString, browser);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);

    if (qstrcmp(QTest::currentDataTag(), "no database") != 0)
        writeLinks(links.replace('@', page("")));
    m_outputFile = arguments.last().startsWith(QLatin1Char('>')) ? arguments.takeLast().mid(1) : QString();
    const bool onFullDisk = !arguments.filter(QStringLiteral("@full")).isEmpty();
    arguments.replaceInStrings(QStringLiteral("@full"), m_folder + QStringLiteral("/full"));
    const TestSupport::FullDisk full(onFullDisk ? m_folder + QStringLiteral("/full") : QString());
    if (onFullDisk && !full.isMounted())
        QSKIP("no tmpfs can be mounted here");
    full.fill();
    QProcessEnvironment env;
    if (!browser.isEmpty())
        env.insert(QStringLiteral("PICTAVO_BROWSER"), browser);
    const Ran ran = run(arguments, env);
    QVERIFY2(ran.err.contains(stderrHas.toUtf8()), ran.err.constData());
    QCOMPARE(ran.exitCode, exitCode);
    if (exitCode == 2) {
        QCOMPARE(ran.out, QByteArray());
        // One clear line.
        QVERIFY2(ran.err.trimmed().count('\n') <= 1, ran.err.constData());
    }
}

void TestPictavo::setLastsOneInvocation()
{
    writeLinks("1|" + page("/ok") + "\r\n2|" + page("/ok") + "\r\n");
    const Ran png = run({ QStringLiteral("--set"), QStringLiteral("imagetype=2"), QStringLiteral("run") });
    QCOMPARE(png.exitCode, 0);
    QVERIFY(QFile::exists(m_folder + QStringLiteral("/snapshots/1.png")));
    QVERIFY(!QFile::exists(m_folder + QStringLiteral("/snapshots/1.jpg")));

    // Nothing was stored: the next run writes the stored (default) type again, and its TSV lines say so.
    const Ran jpg = run({ QStringLiteral("run") });
    QCOMPARE(jpg.exitCode, 0);
    QVERIFY(QFile::exists(m_folder + QStringLiteral("/snapshots/1.jpg")));
    QVERIFY2(jpg.out.split('\n').contains("1\t1\tcaptured\tSuccessfull snapshot\t" + page("/ok")), jpg.out.constData());
}

void TestPictavo::interruptStopsTheRun_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("signals");
    QTest::addColumn<QString>("outcome"); // of the links in flight

    // The captures in flight end by themselves.
    QTest::newRow("stop waits for the captures") << QStringLiteral("/slow") << 1 << QStringLiteral("captured");
    QTest::newRow("closed output") << QStringLiteral("/slow") << 0 << QStringLiteral("captured");
    // They never would: the second interrupt stops waiting for them.
    QTest::newRow("second interrupt aborts the wait") << QStringLiteral("/hang") << 2 << QStringLiteral("unfinished");
}

void TestPictavo::interruptStopsTheRun()
{
    QFETCH(QString, path);
    QFETCH(int, signals);
    QFETCH(QString, outcome);

    QByteArray links;
    for (int i = 1; i <= 8; ++i)
        links += QByteArray::number(i) + '|' + m_pages.url(path).toUtf8() + "?n=" + QByteArray::number(i) + "\r\n";
    writeLinks(links);
    const int seen = m_pages.requestCount(path); // by the rows before
    m_closedOutput = signals == 0; // with one slot, the next link is under way when the first line fails
    QProcess* process = start(
        { QStringLiteral("--set"), QStringLiteral("ThreadsCount=%1").arg(signals ? 2 : 1), QStringLiteral("run") });
    QSignalSpy finished(process, &QProcess::finished);
    QByteArray err;
    connect(
        process, &QProcess::readyReadStandardError, this, [&err, process] { err += process->readAllStandardError(); });
    QVERIFY(process->waitForStarted());
    const qint64 pid = process->processId();
    // Both slots have their page open once the server has seen both requests.
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.requestCount(path) >= seen + 2 || !finished.isEmpty(), 60000);
    QVERIFY(finished.isEmpty());
    QVERIFY(!browsersOf(pid).isEmpty());

    if (signals > 0)
        ::kill(pid_t(pid), signals == 2 ? SIGTERM : SIGINT); // the first signal names the status
    if (signals == 2) {
        QTRY_VERIFY_WITH_TIMEOUT(err.contains("stopping"), 20000);
        ::kill(pid_t(pid), SIGINT);
    }
    QVERIFY(finished.wait(60000) || !finished.isEmpty());
    err += process->readAllStandardError();
    QCOMPARE(process->exitCode(), 128 + (QList<int> { SIGPIPE, SIGINT, SIGTERM }).at(signals));
    QVERIFY2(err.contains("resume with: pictavo run --from 2"), err.constData());
    // Only the two links in flight were read, and both ended.
    const QDir reports(m_folder + QStringLiteral("/data/reports"), QStringLiteral("*.csv"));
    const QList<QStringList> records = reportRecords(reports.entryInfoList().value(0).filePath()).mid(1);
    QCOMPARE(records.size(), 2);
    for (const QStringList& record : records)
        QCOMPARE(record.value(3), outcome);
    QTRY_VERIFY_WITH_TIMEOUT(browsersOf(pid).isEmpty(), 10000);
    process->deleteLater();
}

void TestPictavo::oneRunPerFolder()
{
    // The holder keeps its thumbnails in the program folder itself: its two locks are one file.
    const QStringList sameFolder { QStringLiteral("--set"), QStringLiteral("ImagesFolder=") + m_folder };
    const QByteArray links = "1|" + page("/hang") + "\r\n2|" + page("/hang") + "\r\n";
    writeLinks(links);
    // Link 2 has its thumbnail: a retry would narrow the database down to link 1.
    QFile thumbnail(m_folder + QStringLiteral("/2.jpg"));
    QVERIFY(thumbnail.open(QIODevice::WriteOnly));
    thumbnail.close();
    const int requested = m_pages.requestCount(QStringLiteral("/hang"));
    QProcess* holder = start(sameFolder + args({ "run" }));
    QSignalSpy ended(holder, &QProcess::finished);
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.requestCount(QStringLiteral("/hang")) > requested || !ended.isEmpty(), 60000);
    QVERIFY2(ended.isEmpty(), holder->readAllStandardError().constData());

    const QByteArray named = "process " + QByteArray::number(holder->processId());
    for (const QStringList& second :
        { args({ "run" }), args({ "run", "--retry" }), args({ "import" }), args({ "upload" }) }) {
        const Ran refused = run(sameFolder + second);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(named) && refused.err.trimmed().count('\n') == 0, refused.err.constData());
    }
    QFile database(m_folder + QStringLiteral("/data/LinksInfo.txt"));
    QVERIFY(database.open(QIODevice::ReadOnly));
    QCOMPARE(database.readAll(), links);

    // Killed outright (SIGKILL), the holder leaves its lock file but no lock.
    holder->kill();
    QVERIFY(ended.wait(30000) || !ended.isEmpty());
    writeLinks("1|" + page("/ok") + "\r\n2|" + page("/ok") + "\r\n");
    QCOMPARE(run(sameFolder + args({ "run" })).exitCode, 0);
    holder->deleteLater();
}

void TestPictavo::importRunUploadWithTheAdminScript()
{
    AdminTest::AdminScriptServer admin;
    QString error;
    if (!admin.start(&error))
        QFAIL(qPrintable(error));
    admin.setLinks("11|" + page("/ok") + "|Shop|0\n12|" + page("/moved") + "|Moved|0\n");
    // A desktop's setup left the password in its keyring, which cron cannot reach: one line, nothing sent.
    AdminTest::CannedHttpServer listener;
    Settings::Hive hive(m_home.filePath(QStringLiteral("config/Corvane/Pictavo/registry.db")));
    QVERIFY(listener.listen()
        && WriteSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), QStringLiteral("AdminURL"), listener.url()));
    QProcessEnvironment cron;
    cron.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    const Ran unread = run({ QStringLiteral("count") }, cron);
    QVERIFY2(unread.exitCode == 2 && unread.err.count('\n') == 1 && unread.err.contains("--password-in-settings")
            && listener.requests().isEmpty(),
        unread.err.constData());
    const QStringList setup { QStringLiteral("setup"), QStringLiteral("--url"), admin.url(), QStringLiteral("--user"),
        QString::fromLatin1(AdminTest::AdminScriptServer::User) };
    const Ran wrongPassword = run(setup, {}, "wrong\n");
    QCOMPARE(wrongPassword.exitCode, 2);
    QVERIFY2(wrongPassword.err.contains("refused the login"), wrongPassword.err.constData());
    const Ran stored = run(setup, {}, QByteArray(AdminTest::AdminScriptServer::Password) + "\n");
    QCOMPARE(stored.exitCode, 0);

    const Ran refused
        = run({ QStringLiteral("--set"), QStringLiteral("AdminPassword=wrong"), QStringLiteral("import") });
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.contains("refused the login"), refused.err.constData());
    QVERIFY(!QFile::exists(m_folder + QStringLiteral("/data/LinksInfo.txt")));

    const Ran count = run({ QStringLiteral("count") });
    QCOMPARE(count.exitCode, 0);
    QCOMPARE(count.out, QByteArray("2\n"));

    const Ran imported = run({ QStringLiteral("import"), QStringLiteral("--mode"), QStringLiteral("missing") });
    QCOMPARE(imported.exitCode, 0);
    QFile database(m_folder + QStringLiteral("/data/LinksInfo.txt"));
    QVERIFY(database.open(QIODevice::ReadOnly));
    QCOMPARE(database.readAll(), "11|" + page("/ok") + "\r\n12|" + page("/moved") + "\r\n");

    QVERIFY(WriteSetting(hive, Settings::appKeyPath(), Settings::settingsSection(), QStringLiteral("ImagesFolder"),
        m_home.filePath(QStringLiteral("window-snapshots")))); // a full path, as the window's Apply stores it
    const Ran captured = run({ QStringLiteral("run") });
    QCOMPARE(captured.exitCode, 0);

    const Ran uploaded = run({ QStringLiteral("upload"), QStringLiteral("--connections"), QStringLiteral("2"),
        QStringLiteral("--files"), QStringLiteral("1") });
    QCOMPARE(uploaded.exitCode, 0);
    QVERIFY2(uploaded.out.contains("Saved 11.jpg"), uploaded.out.constData());
    QVERIFY(QFile::exists(admin.snapshotsFolder() + QStringLiteral("/11.jpg")));
    QVERIFY(QFile::exists(admin.snapshotsFolder() + QStringLiteral("/12.jpg")));

    // Both have their snapshot on the server now.
    const Ran nothingLeft = run({ QStringLiteral("import"), QStringLiteral("--mode"), QStringLiteral("missing") });
    QCOMPARE(nothingLeft.exitCode, 0);
    QVERIFY(nothingLeft.out.startsWith("0 links imported"));
}

QTEST_GUILESS_MAIN(TestPictavo)
#include "tst_pictavo.moc"
