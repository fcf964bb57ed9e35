#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "batch/appfolders.h"
#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linkslistmodel.h"
#include "batch/retryfile.h"
#include "capture/browserhost.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnapshot.h"
#include "capturetestsupport.h"
#include "common/thumbnailmodel.h"
#include "remotebrowser.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "testhttpserver.h"

using namespace Batch;
using CaptureTest::TestHttpServer;

namespace {

// Wraps the real completion to see when each capture is taken, worked on and ended, and on which
// thread. workDelay holds the heavy part back, so that Stop, destruction or a box meet work in
// flight; onGuiThread does the heavy part while the capture is taken, the way a run without a pool
// would.
class ObservedCompleter final : public CaptureCompleter {
public:
    ObservedCompleter(CaptureCompleter& inner, std::chrono::milliseconds workDelay, bool onGuiThread)
        : m_inner(inner)
        , m_workDelay(workDelay)
        , m_onGuiThread(onGuiThread)
    {
    }
    void prepareRun() override { m_inner.prepareRun(); }
    std::unique_ptr<PendingCapture> takeCapture(Capture::HtmlSnapshot& slot) override
    {
        auto pending = std::make_unique<Observed>(*this, m_inner.takeCapture(slot), taken++);
        if (m_onGuiThread)
            pending->work();
        return pending;
    }

    std::atomic<int> taken = 0;
    std::atomic<int> working = 0;
    std::atomic<int> processed = 0;
    std::atomic<bool> workedOffGuiThread = false;
    // GUI thread only: the captures' numbers (in the order taken) in the order they ended.
    QList<int> endOrder;
    int finished = 0;
    int mostEndingAtOnce = 0;

private:
    class Observed final : public PendingCapture {
    public:
        Observed(ObservedCompleter& owner, std::unique_ptr<PendingCapture> inner, int number)
            : m_owner(owner)
            , m_inner(std::move(inner))
            , m_number(number)
        {
        }
        void work()
        {
            ++m_owner.working;
            std::this_thread::sleep_for(m_owner.m_workDelay);
            m_inner->process();
            if (QThread::currentThread() != qApp->thread())
                m_owner.workedOffGuiThread = true;
            ++m_owner.processed;
            --m_owner.working;
        }
        void process() override
        {
            if (!m_owner.m_onGuiThread)
                work();
        }
        CompletedCapture finish() override
        {
            m_owner.mostEndingAtOnce = std::max(m_owner.mostEndingAtOnce, ++m_owner.m_ending);
            const CompletedCapture completed = m_inner->finish();
            --m_owner.m_ending;
            m_owner.endOrder << m_number;
            ++m_owner.finished;
            return completed;
        }

    private:
        ObservedCompleter& m_owner;
        std::unique_ptr<PendingCapture> m_inner;
        int m_number;
    };

    CaptureCompleter& m_inner;
    const std::chrono::milliseconds m_workDelay;
    const bool m_onGuiThread;
    int m_ending = 0;
};

// Everything one run needs, in a folder of its own, with settings as loaded from an empty store and
// then made fast: a fixed browser size and no delay after loading.
struct Bench {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    Settings::LiveSettings settings;
    LinksDatabase links { dir.filePath(QStringLiteral("data/LinksInfo.txt")) };
    LinksListModel rows;
    Common::ThumbnailModel strip;
    TestSupport::ScriptedMessageBox boxes;
    std::unique_ptr<CaptureCompletion> completion;
    std::unique_ptr<ObservedCompleter> observed;
    std::unique_ptr<BatchRun> run;
    QStringList statusTexts;

    explicit Bench(Capture::BrowserHost* host, std::chrono::milliseconds workDelay = {}, bool onGuiThread = false)
    {
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        settings = Settings::LoadSettings(hive, dir.path() + QLatin1Char('/'));
        settings.DelayTime = 0;
        settings.Timeout = 15000;
        settings.SnapWidth = 800;
        settings.SnapHeight = 600;
        settings.SnapDimension = 1;
        settings.WatermarkText.clear();
        completion = std::make_unique<CaptureCompletion>(
            CaptureCompletion::Services { settings, rows, strip, boxes, dir.path() + QLatin1Char('/'), {}, {} });
        observed = std::make_unique<ObservedCompleter>(*completion, workDelay, onGuiThread);
        run = std::make_unique<BatchRun>(BatchRun::Services { settings, links, rows, *observed, host, boxes });
        QObject::connect(run.get(), &BatchRun::statusText, run.get(), [this](const QString& t) { statusTexts << t; });
    }

    void writeLinks(const QStringList& lines)
    {
        QFile file(links.LinksInfoFile());
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the links");
        for (const QString& line : lines)
            file.write(line.toUtf8() + "\r\n");
    }

    // Starts a run over the whole database and waits for its end.
    bool runAll(bool skipExisting = false, const QString& from = QStringLiteral("1"), const QString& to = QString())
    {
        QSignalSpy finished(run.get(), &BatchRun::finished);
        if (!run->StartSnapShots(from, to, skipExisting))
            return false;
        return finished.wait(120000);
    }

    // An 8 x 8 stamp as the image watermark; the test writes (or withholds) the file itself.
    QString useStamp()
    {
        const QString stamp = dir.filePath(QStringLiteral("stamp.png"));
        settings.WatermarkImage = stamp;
        settings.WatermarkImageWidth = 8;
        settings.WatermarkImageHeight = 8;
        return stamp;
    }

    QString status(int row) const { return rows.data(rows.index(row, LinksListModel::StatusColumn)).toString(); }
    QColor color(int row) const
    {
        return rows.data(rows.index(row, LinksListModel::StatusColumn), Qt::ForegroundRole).value<QColor>();
    }
    QString thumbnail(const QString& id, const char* extension = "jpg") const
    {
        return settings.ImagesFolder + QLatin1Char('/') + id + QLatin1Char('.') + QString::fromLatin1(extension);
    }
};

QByteArray page(const char* colour)
{
    return QByteArray("<html><body style='margin:0;background:") + colour + "'><h1>Page</h1></body></html>";
}

// The pages the browser has open; -1 when it does not say.
int openPages(Capture::BrowserHost& host)
{
    auto pages = std::make_shared<int>(-1);
    QObject context;
    host.whenReady(&context, [pages, &context](const Common::Result<Capture::DevToolsConnection*>& connection) {
        if (!connection)
            return;
        connection.value()->call({}, QStringLiteral("Target.getTargets"), {}, std::chrono::seconds(10), &context,
            [pages](const Capture::DevToolsConnection::Reply& reply) {
                if (!reply)
                    return;
                int count = 0;
                for (const QJsonValue& target : reply.value().value(QLatin1String("targetInfos")).toArray())
                    count += target.toObject().value(QLatin1String("type")).toString() == QLatin1String("page");
                *pages = count;
            });
    });
    QDeadlineTimer deadline(10000);
    while (*pages < 0 && !deadline.hasExpired())
        QTest::qWait(20);
    return *pages;
}

// A host that takes no connection: a listener whose queue is full, so the kernel drops every further
// connection request, as a dead server's firewall does.
struct SilentHost {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QList<int> fillers;
    quint16 port = 0;

    SilentHost()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (::bind(listener, any, length) != 0 || ::listen(listener, 0) != 0 || ::getsockname(listener, any, &length))
            qFatal("cannot listen");
        port = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i) {
            fillers << ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fillers.last(), any, length);
        }
    }
    ~SilentHost()
    {
        for (int socket : std::as_const(fillers))
            ::close(socket);
        ::close(listener);
    }
};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // nothing listens there once the probe is gone
}

} // namespace

class TestBatchRun final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void capturesTenLinksWithFourSlots();
    void marksLinksThatAreNotCaptured();
    void failuresShowTheirOutcome();
    void heldLinksWaitOutsideTheirTimeOut();
    void silentHostHoldsNoSlot();
    void stopThenStartResumes();
    void pauseHoldsNewLinks();
    void abortEndsTheWaitAtOnce();
    void trimsListAndStrip();
    void everyImageType();
    void rotatesEffectsAcrossSlots();
    void retryCapturesOnlyTheMissing();
    void databaseFailuresEndTheRunAtOnce();
    void completionErrorAsksRetryOrCancel();
    void completionBoxHoldsTheRun();
    void hostileLinksEndWithAnOutcome_data();
    void hostileLinksEndWithAnOutcome();
    void longDelayOutlivesTheWatchdog();
    void thumbnailThatCannotBeMadeIsAnError();
    void spreadsOverEndpointsAndSurvivesALoss();
    void endpointsThatCannotServeTheRun_data();
    void endpointsThatCannotServeTheRun();
    void interruptedWhileWorkIsInFlight_data();
    void interruptedWhileWorkIsInFlight();
    void boxHoldsEndsWhileWorkGoesOn();
    void poolMakesTheSameThumbnails();

private:
    std::unique_ptr<Capture::BrowserHost> m_host;
    std::unique_ptr<TestHttpServer> m_server;
};

void TestBatchRun::initTestCase()
{
    m_host = std::make_unique<Capture::BrowserHost>(CaptureTest::testBrowserOptions());
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    const char* colours[] = { "red", "green", "blue", "yellow", "purple" };
    for (int i = 0; i < 10; ++i)
        m_server->setPage(QStringLiteral("/p%1").arg(i), page(colours[i % 5]));
    TestHttpServer::Response missing;
    missing.status = 404;
    missing.body = "<html><body><h1>Not here</h1></body></html>";
    m_server->setRoute(QStringLiteral("/missing"), missing);
    TestHttpServer::Response hang;
    hang.hang = true;
    m_server->setRoute(QStringLiteral("/hang"), hang);
    TestHttpServer::Response slow;
    slow.body = page("white");
    slow.delayMs = 700;
    m_server->setRoute(QStringLiteral("/slow"), slow);
}

void TestBatchRun::cleanupTestCase()
{
    m_server.reset();
    const qint64 browser = m_host->processId();
    m_host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTest::processGroupGone(browser), 10000);
}

void TestBatchRun::capturesTenLinksWithFourSlots()
{
    Bench bench(m_host.get());
    QStringList lines;
    for (int i = 0; i < 10; ++i)
        lines << QStringLiteral("%1|%2").arg(100 + i).arg(m_server->url(QStringLiteral("/p%1").arg(i)));
    bench.writeLinks(lines);
    int mostBusy = 0;
    QObject::connect(bench.run.get(), &BatchRun::rowAdded, bench.run.get(),
        [&] { mostBusy = std::max(mostBusy, bench.run->busySlots()); });
    QSignalSpy progress(bench.run.get(), &BatchRun::progressChanged);
    QVERIFY(bench.runAll());

    QCOMPARE(bench.run->DoneCount(), 10);
    QCOMPARE(bench.run->SuccessCount(), 10);
    QVERIFY(mostBusy <= 4);
    QCOMPARE(bench.rows.rowCount(), 10);
    for (int row = 0; row < 10; ++row) {
        QCOMPARE(bench.status(row), QStringLiteral("Successfull snapshot"));
        QCOMPARE(bench.color(row), QColor(0x00, 0x5E, 0x00));
        QImageReader reader(bench.thumbnail(QString::number(100 + row)));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(120, 90));
    }
    QCOMPARE(bench.strip.rowCount(), 10);
    QStringList captions;
    for (int i = 0; i < 10; ++i)
        captions << bench.strip.caption(i);
    QVERIFY(captions.contains(m_server->url(QStringLiteral("/p0"))));
    QVERIFY(captions.contains(m_server->url(QStringLiteral("/p9"))));
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QVERIFY(bench.run->slots().isEmpty());
    // No intermediate files are left behind.
    QCOMPARE(QDir(bench.settings.ImagesFolder).entryList(QDir::Files).size(), 10);
}

void TestBatchRun::marksLinksThatAreNotCaptured()
{
    Bench bench(m_host.get());
    bench.writeLinks({ QStringLiteral("1|"), QStringLiteral("2|http://a.test/setup.zip"),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/p1")), QStringLiteral(""), QStringLiteral("5|HTTP://") });
    QDir().mkpath(bench.settings.ImagesFolder);
    QFile existing(bench.thumbnail(QStringLiteral("3")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    QVERIFY(bench.runAll(true));
    QCOMPARE(bench.status(0), QStringLiteral("Skipped..."));
    QCOMPARE(bench.color(0), QColor(0xD5, 0xD5, 0x00));
    QCOMPARE(bench.status(1), QStringLiteral("Ignored...(.zip)"));
    QCOMPARE(bench.color(1), QColor(0x6F, 0x6F, 0x00));
    QCOMPARE(bench.status(2), QStringLiteral("Snapshot Exists"));
    QCOMPARE(bench.color(2), QColor(0x00, 0x66, 0x99));
    QCOMPARE(bench.status(3), QStringLiteral("Skipped..."));
    QCOMPARE(bench.status(4), QStringLiteral("Skipped..."));
    QCOMPARE(bench.run->DoneCount(), 5);
    QCOMPARE(bench.run->SuccessCount(), 1);
    QCOMPARE(QFileInfo(existing.fileName()).size(), 3); // not captured again

    // Unticked, the existing thumbnail is captured again and replaced.
    QVERIFY(bench.runAll(false));
    QCOMPARE(bench.status(2), QStringLiteral("Successfull snapshot"));
    QVERIFY(QFileInfo(existing.fileName()).size() > 3);
}

void TestBatchRun::failuresShowTheirOutcome()
{
    Bench bench(m_host.get());
    bench.settings.Timeout = 2000;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/missing")),
        QStringLiteral("2|http://127.0.0.1:%1/").arg(closedPort()),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/hang")),
        QStringLiteral("4|http://unresolvable.invalid/") });
    QVERIFY(bench.runAll());
    // An error page is still a page, shown as one.
    QCOMPARE(bench.status(0), QStringLiteral("Successfull snapshot (error)"));
    QCOMPARE(bench.status(1), QStringLiteral("Fail to open the URL"));
    QCOMPARE(bench.color(1), QColor(0xFF, 0x00, 0x00));
    QCOMPARE(bench.status(2), QStringLiteral("Time is out before taking a snapshot"));
    QCOMPARE(bench.color(2), QColor(0xEA, 0x75, 0x00));
    QCOMPARE(bench.status(3), QStringLiteral("Fail to open the URL"));
    QCOMPARE(bench.run->SuccessCount(), 1);
    QCOMPARE(bench.run->DoneCount(), 4);
    QCOMPARE(bench.strip.rowCount(), 1);
    QVERIFY(!QFile::exists(bench.thumbnail(QStringLiteral("3"))));
}

void TestBatchRun::heldLinksWaitOutsideTheirTimeOut()
{
    // A budget no capture fits: one at a time, whatever ThreadsCount says. Each page takes 60 % of the
    // time-out, so the last one is read long before a time-out counted from then would let it finish.
    Bench bench(m_host.get());
    bench.settings.MemoryBudget = 1;
    bench.settings.Timeout = 6000;
    TestHttpServer::Response slow;
    slow.body = page("teal");
    slow.delayMs = bench.settings.Timeout * 6 / 10;
    m_server->setRoute(QStringLiteral("/held"), slow);
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/held?1")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/held?2")),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/held?3")) });
    int mostInFlight = 0;
    QList<qint64> spent;
    QString heldStatus;
    int rowsAtFirstEnd = 0;
    QObject::connect(bench.run.get(), &BatchRun::linkEnded, bench.run.get(), [&](const LinkOutcome& link) {
        mostInFlight = std::max(mostInFlight, bench.run->busySlots());
        if (spent.isEmpty()) {
            rowsAtFirstEnd = bench.rows.rowCount();
            heldStatus = bench.status(2);
        }
        spent << link.spentMs;
    });
    QObject::connect(bench.run.get(), &BatchRun::rowAdded, bench.run.get(),
        [&] { mostInFlight = std::max(mostInFlight, bench.run->busySlots()); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(bench.runAll());
    QCOMPARE(bench.run->SuccessCount(), 3);
    QVERIFY(clock.elapsed() > bench.settings.Timeout);
    QVERIFY(mostInFlight <= 1);
    // The second went out as the first's capture ended; the third was read and shown meanwhile, its row
    // saying why it waits.
    QCOMPARE(rowsAtFirstEnd, 3);
    QVERIFY(!heldStatus.isEmpty() && heldStatus != bench.status(2));
    // Each link's seconds count from its own start, never from the wait before it.
    QCOMPARE(spent.size(), 3);
    for (qint64 ms : spent)
        QVERIFY2(ms > 0 && ms < bench.settings.Timeout, qPrintable(QString::number(ms)));
    QVERIFY(bench.run->memoryBudget() > 0);
}

void TestBatchRun::silentHostHoldsNoSlot()
{
    // One slot, and the second link's host never takes a connection: the links after it are captured
    // meanwhile, and it ends timed out once its time-out has passed since its first try.
    Bench bench(m_host.get());
    bench.settings.ThreadsCount = 1;
    bench.settings.Timeout = 4000;
    const SilentHost silent;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/p1")),
        QStringLiteral("2|http://127.0.0.1:%1/").arg(silent.port),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/p3")),
        QStringLiteral("4|") + m_server->url(QStringLiteral("/p4")) });
    QStringList ended;
    QObject::connect(bench.run.get(), &BatchRun::linkEnded, bench.run.get(),
        [&](const LinkOutcome& link) { ended << link.id + QLatin1Char(' ') + link.outcome; });
    QVERIFY(bench.runAll());
    QCOMPARE(ended,
        QStringList({ QStringLiteral("1 captured"), QStringLiteral("3 captured"), QStringLiteral("4 captured"),
            QStringLiteral("2 timed-out") }));
    QCOMPARE(bench.color(3), QColor(0xEA, 0x75, 0x00));
}

void TestBatchRun::stopThenStartResumes()
{
    Bench bench(m_host.get());
    bench.settings.ThreadsCount = 2;
    QStringList lines;
    for (int i = 1; i <= 8; ++i)
        lines << QStringLiteral("%1|%2").arg(i).arg(m_server->url(QStringLiteral("/slow")));
    bench.writeLinks(lines);
    QSignalSpy finished(bench.run.get(), &BatchRun::finished);
    QSignalSpy rowAdded(bench.run.get(), &BatchRun::rowAdded);
    QVERIFY(bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QTRY_VERIFY_WITH_TIMEOUT(rowAdded.count() >= 3, 60000);
    bench.run->stop();
    QVERIFY(finished.wait(60000));
    const bool stopped = finished.first().at(0).toBool();
    const int resumeFrom = finished.first().at(1).toInt();
    QVERIFY(stopped);
    QCOMPARE(resumeFrom, bench.rows.rowCount());
    QVERIFY(resumeFrom < 8);
    // Captures that were running when Stop came were still completed.
    for (int row = 0; row < bench.rows.rowCount(); ++row)
        QCOMPARE(bench.status(row), QStringLiteral("Successfull snapshot"));

    QVERIFY(bench.runAll(false, QString::number(resumeFrom)));
    QCOMPARE(bench.rows.data(bench.rows.index(0, 0)).toString(), QString::number(resumeFrom));
    QCOMPARE(bench.run->DoneCount(), 8 - resumeFrom + 1);
}

void TestBatchRun::pauseHoldsNewLinks()
{
    Bench bench(m_host.get());
    bench.settings.ThreadsCount = 1;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/slow")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/p2")),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/p3")) });
    QSignalSpy finished(bench.run.get(), &BatchRun::finished);
    QVERIFY(bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QCOMPARE(bench.rows.rowCount(), 0); // the first step is queued
    QTRY_COMPARE_WITH_TIMEOUT(bench.rows.rowCount(), 1, 30000);
    QVERIFY(bench.run->togglePause());
    Capture::HtmlSnapshot* slot = bench.run->slots().at(0);
    // The capture ends while paused; it is not collected and no new link is read.
    QTRY_VERIFY_WITH_TIMEOUT(slot->Finished(), 30000);
    QCOMPARE(bench.run->state(), BatchRun::State::Paused);
    QCOMPARE(bench.rows.rowCount(), 1);
    QCOMPARE(bench.run->SuccessCount(), 0);
    QVERIFY(!bench.run->togglePause());
    QVERIFY(finished.wait(60000));
    QCOMPARE(bench.rows.rowCount(), 3);
    QCOMPARE(bench.run->SuccessCount(), 3);
}

void TestBatchRun::abortEndsTheWaitAtOnce()
{
    Bench bench(m_host.get());
    bench.settings.Timeout = 60000;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/hang")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/hang")) });
    QSignalSpy waiting(bench.run.get(), &BatchRun::waitingStarted);
    QSignalSpy threads(bench.run.get(), &BatchRun::workingThreadsChanged);
    QSignalSpy finished(bench.run.get(), &BatchRun::finished);
    QVERIFY(bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QVERIFY(waiting.wait(30000));
    QCOMPARE(threads.last().at(0).toInt(), 2);
    bench.run->abortWaiting();
    QVERIFY(finished.wait(5000));
    QVERIFY(!finished.first().at(0).toBool());
    QCOMPARE(bench.run->SuccessCount(), 0);
    // Abandoned captures keep their live text.
    QVERIFY(bench.status(0) != QStringLiteral("Time is out before taking a snapshot"));
}

void TestBatchRun::trimsListAndStrip()
{
    Bench bench(m_host.get());
    bench.settings.MaxListingCount = 3;
    bench.settings.MaxViewerCount = 3;
    QStringList lines;
    for (int i = 1; i <= 5; ++i)
        lines << QStringLiteral("%1|%2").arg(i).arg(m_server->url(QStringLiteral("/p%1").arg(i)));
    bench.writeLinks(lines);
    QVERIFY(bench.runAll());
    QCOMPARE(bench.rows.rowCount(), 3);
    QCOMPARE(bench.rows.data(bench.rows.index(0, 0)).toString(), QStringLiteral("3"));
    QCOMPARE(bench.run->SuccessCount(), 5);
    // The strip is trimmed before adding, so it keeps one more than its limit.
    QCOMPARE(bench.strip.rowCount(), 4);
}

void TestBatchRun::everyImageType()
{
    const char* extensions[] = { "jpg", "gif", "png", "bmp", "tiff" };
    const char* formats[] = { "jpeg", "gif", "png", "bmp", "tiff" };
    for (int type = 0; type < 5; ++type) {
        Bench bench(m_host.get());
        bench.settings.ImageType = type;
        bench.settings.ImageWidth = 100;
        bench.settings.ImageHeight = 80;
        bench.settings.WatermarkText = QStringLiteral("Corvane");
        bench.writeLinks({ QStringLiteral("42|") + m_server->url(QStringLiteral("/p1")), QStringLiteral("43|") });
        QVERIFY(bench.runAll());
        const QString file = bench.thumbnail(QStringLiteral("42"), extensions[type]);
        QImageReader reader(file);
        QCOMPARE(reader.format(), QByteArray(formats[type]));
        QCOMPARE(reader.size(), QSize(100, 80));
        QCOMPARE(bench.strip.filePath(0), file);
    }
}

void TestBatchRun::rotatesEffectsAcrossSlots()
{
    Bench bench(m_host.get());
    bench.settings.RotateEffects = 1;
    bench.settings.EffectTint = 1;
    bench.settings.EffectFrameSolid = 1;
    bench.settings.EffectRotate = 1;
    QStringList lines;
    for (int i = 1; i <= 4; ++i)
        lines << QStringLiteral("%1|%2").arg(i).arg(m_server->url(QStringLiteral("/p%1").arg(i)));
    bench.writeLinks(lines);
    QVERIFY(bench.runAll());
    QCOMPARE(bench.run->SuccessCount(), 4);
    // Three enabled effects taken in turn over four images (first, second, third, first): the next
    // search starts just past the first enabled effect.
    const Imaging::EffectsState& state = bench.completion->effectsState();
    std::vector<int> enabled;
    for (int i = 0; i < Imaging::EffectCount; ++i) {
        if (state.EnabledEffects[static_cast<size_t>(i)])
            enabled.push_back(i);
    }
    QCOMPARE(enabled.size(), size_t(3));
    QCOMPARE(state.NextEffectIndex, enabled[0] + 1);
}

void TestBatchRun::retryCapturesOnlyTheMissing()
{
    Bench bench(m_host.get());
    QStringList lines;
    for (int i = 1; i <= 5; ++i)
        lines << QStringLiteral("%1|%2|title %1").arg(i).arg(m_server->url(QStringLiteral("/p%1").arg(i)));
    bench.writeLinks(lines);
    QDir().mkpath(bench.settings.ImagesFolder);
    for (const char* id : { "2", "4" }) {
        QFile f(bench.thumbnail(QString::fromLatin1(id)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(CreateRetryFile(
        bench.links.LinksInfoFile(), bench.settings.ImagesFolder, bench.settings.ImageType, bench.boxes, {}));
    QCOMPARE(bench.links.CountLinks(), 3);
    QVERIFY(bench.runAll(false, QStringLiteral("1"), QStringLiteral("3")));
    QStringList ids;
    for (int row = 0; row < bench.rows.rowCount(); ++row)
        ids << bench.rows.data(bench.rows.index(row, LinksListModel::IdColumn)).toString();
    QCOMPARE(ids, (QStringList { QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("5") }));
    QCOMPARE(bench.run->SuccessCount(), 3);
}

void TestBatchRun::databaseFailuresEndTheRunAtOnce()
{
    Bench bench(m_host.get());
    QVERIFY(!bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QCOMPARE(bench.boxes.texts(), QStringList { QStringLiteral("LinksInfoFile links database file does not exist!") });
    bench.writeLinks({ QStringLiteral("1|http://a.test") });
    QVERIFY(!bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QCOMPARE(
        bench.boxes.texts().last(), QStringLiteral("No range selected!. Please import your links and select a range."));
    QVERIFY(bench.statusTexts.contains(QStringLiteral("Emtpy range selected")));
    QCOMPARE(bench.run->state(), BatchRun::State::Idle);
}

void TestBatchRun::completionErrorAsksRetryOrCancel()
{
    Bench bench(m_host.get());
    // A file standing where the thumbnail folder should be: no thumbnail can be written.
    QFile blocker(bench.dir.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    bench.settings.ImagesFolder = blocker.fileName() + QStringLiteral("/thumbs");
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/p1")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/p2")) });
    bench.settings.ThreadsCount = 1;
    bench.boxes.queue(TestSupport::ScriptedMessageBox::Answer::Retry);
    bench.boxes.queue(TestSupport::ScriptedMessageBox::Answer::Cancel);
    bench.boxes.queue(TestSupport::ScriptedMessageBox::Answer::Cancel);
    QVERIFY(bench.runAll());

    QStringList processing;
    for (const auto& box : bench.boxes.shown()) {
        if (box.title == QLatin1String("Error Processing")) {
            processing << box.text;
            QCOMPARE(box.buttons, Common::MessageBox::Buttons::RetryCancel);
            QCOMPARE(box.icon, Common::MessageBox::Icon::Critical);
        }
    }
    QCOMPARE(processing.size(), 3); // the first link's failure, its retry, the second link's
    QVERIFY(processing.first().startsWith(QStringLiteral("Error: ")));
    QCOMPARE(bench.run->SuccessCount(), 0);
    QCOMPARE(bench.run->DoneCount(), 2);
    QVERIFY(bench.status(0) != QStringLiteral("Successfull snapshot"));
    QCOMPARE(bench.strip.rowCount(), 0);
}

// While the completion's box is open (a stamp deleted mid-run), the watchdog ticks and other slots end:
// none of that may complete a slot again, open a second box, or mix up two links' pictures.
void TestBatchRun::completionBoxHoldsTheRun()
{
    Bench bench(m_host.get());
    bench.settings.ThreadsCount = 3;
    const QString stamp = bench.useStamp();
    QImage white(8, 8, QImage::Format_RGB32);
    white.fill(Qt::white);
    QVERIFY(white.save(stamp));

    const QColor colours[] = { Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan };
    QStringList lines;
    for (int i = 0; i < 6; ++i) {
        TestHttpServer::Response response;
        response.body = page(colours[i].name().toLatin1().constData());
        response.delayMs = 250 * i;
        m_server->setRoute(QStringLiteral("/colour%1").arg(i), response);
        lines << QStringLiteral("%1|%2").arg(i + 1).arg(m_server->url(QStringLiteral("/colour%1").arg(i)));
    }
    bench.writeLinks(lines);
    QObject::connect(
        &bench.strip, &QAbstractItemModel::rowsInserted, &bench.strip, [&] { QFile::remove(stamp); },
        Qt::SingleShotConnection);
    bench.boxes.stayOpenFor(std::chrono::milliseconds(3500), [&] { QVERIFY(white.save(stamp)); });
    bench.boxes.queue(TestSupport::ScriptedMessageBox::Answer::Retry);
    QVERIFY(bench.runAll());

    QCOMPARE(bench.boxes.shown().size(), 1);
    QCOMPARE(bench.boxes.deepestNesting(), 1);
    QCOMPARE(bench.boxes.shown().first().title, QStringLiteral("Error Processing"));
    QCOMPARE(bench.run->DoneCount(), 6);
    QCOMPARE(bench.run->SuccessCount(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(bench.status(i), QStringLiteral("Successfull snapshot"));
        const QImage thumb(bench.thumbnail(QString::number(i + 1)));
        QVERIFY2(CaptureTest::sameColour(thumb.pixel(thumb.width() / 2, thumb.height() - 4), colours[i], 40),
            qPrintable(QStringLiteral("link %1").arg(i + 1)));
    }
}

// A links database as the directory's visitors and server can make it: every row ends with an
// outcome, nothing is written outside the images folder, and no browser target is left open.
void TestBatchRun::hostileLinksEndWithAnOutcome_data()
{
    QTest::addColumn<int>("scripts");
    QTest::newRow("scripts off") << 0;
    QTest::newRow("scripts on") << 1;
}

void TestBatchRun::hostileLinksEndWithAnOutcome()
{
    QFETCH(int, scripts);
    Bench bench(m_host.get());
    bench.settings.EnableScript = scripts;
    bench.settings.ThreadsCount = 3;
    bench.settings.Timeout = 4000;
    bench.settings.SetForceSnap = 1;
    bench.settings.SnapDimension = 0;
    bench.settings.SnapHeight = 0;
    const auto route = [&](const QString& path, const QByteArray& body) {
        TestHttpServer::Response response;
        response.body = body;
        m_server->setRoute(path, response);
        return m_server->url(path);
    };
    const QString endless = route(QStringLiteral("/endless"), "<body>x<script>for(;;){}</script></body>");
    const QString dialogs
        = route(QStringLiteral("/dialogs"), "<body>x<script>alert(1);confirm(2);prompt(3);</script></body>");
    const QString tall = route(QStringLiteral("/tall"), "<body style='margin:0'><div style='height:100000px'></div>");
    const QString away = route(
        QStringLiteral("/away"), "<body style='background:red'><script>onload=()=>location='/p2'</script></body>");
    const QString refresh
        = route(QStringLiteral("/refresh"), "<meta http-equiv='refresh' content='0'><body style='background:red'>");
    const QString hang = m_server->url(QStringLiteral("/hang"));
    TestHttpServer::Response trickle;
    trickle.body = "<body style='background:blue'>" + QByteArray(400, ' ') + "</body>";
    trickle.trickleMs = 30;
    m_server->setRoute(QStringLiteral("/trickle"), trickle);
    // Fills the renderer's memory after the load until it dies, unless the capture ends first.
    const QString greedy = route(QStringLiteral("/greedy"),
        "<body>x<script>onload=()=>{const a=[];for(;;)a.push(new Array(1e7).fill(7))}</script></body>");
    const QString plain = m_server->url(QStringLiteral("/p1"));
    const QString schemeless = plain.mid(plain.indexOf(QLatin1String("//")) + 2);

    // Leftovers of a run cut short: one in the work folder, one where earlier versions kept them.
    QDir().mkpath(workFolder(bench.settings.ImagesFolder));
    const QStringList leftovers { workFolder(bench.settings.ImagesFolder) + QStringLiteral("/9.jpg.part.jpg"),
        bench.thumbnail(QStringLiteral("9.jpg.part")) };
    for (const QString& leftover : leftovers) {
        QFile file(leftover);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // An ID may hold anything but never names a path: these climb out, name the folder itself,
    // hold a separator or a control character, or are empty.
    QFile besideImages(bench.dir.filePath(QStringLiteral("x.jpg")));
    QVERIFY(besideImages.open(QIODevice::WriteOnly));
    besideImages.close();
    const QStringList badIds { QStringLiteral("../x"), QStringLiteral("../../x"), QStringLiteral(".."),
        QStringLiteral("."), QStringLiteral("a/b"), QStringLiteral("a\\b"), QStringLiteral("a\tb"), QString() };
    QStringList lines;
    for (const QString& id : badIds)
        lines << id + QLatin1Char('|') + plain;
    lines << QStringLiteral("20|") + endless << QStringLiteral("21|") + dialogs << QStringLiteral("22|") + greedy
          << QStringLiteral("23|") + m_server->url(QStringLiteral("/trickle")) << QStringLiteral("24|") + tall
          << QStringLiteral("25|") + away << QStringLiteral("26|") + refresh << QStringLiteral("27|") + hang
          << QStringLiteral("28|") + schemeless << QStringLiteral("29|ftp://127.0.0.1/x");
    bench.writeLinks(lines);
    const auto filesUnder = [](const QString& folder) {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    };
    const QString images = QDir(bench.settings.ImagesFolder).absolutePath() + QLatin1Char('/');
    const QStringList before = filesUnder(bench.dir.path());
    const int pagesBefore = openPages(*m_host);
    QVERIFY(pagesBefore >= 0);
    QObject::connect(&bench.rows, &QAbstractItemModel::dataChanged, &bench.rows, [&](const QModelIndex& index) {
        qDebug() << QTime::currentTime().toString(QStringLiteral("ss.zzz")) << index.row() << bench.status(index.row());
    });
    QVERIFY(bench.runAll(true));

    QCOMPARE(bench.run->DoneCount(), lines.size());
    for (int row = 0; row < badIds.size(); ++row) {
        QVERIFY2(bench.status(row).startsWith(QStringLiteral("Not captured: ")), qPrintable(bench.status(row)));
        QCOMPARE(bench.color(row), QColor(0xFF, 0x00, 0x00));
    }
    // The trickled, the tall and the reloading pages are one colour.
    const QStringList expected { QString(), QString(), QString(), QStringLiteral("Blank page"),
        QStringLiteral("Blank page"), QStringLiteral("Successfull snapshot"), QStringLiteral("Blank page"),
        QStringLiteral("Time is out before taking a snapshot"), QStringLiteral("Successfull snapshot"),
        QStringLiteral("Fail to open the URL") };
    for (int i = 0; i < expected.size(); ++i) {
        const QString status = bench.status(int(badIds.size()) + i);
        // The endless script, the dialogs and the greedy page may end either way, but they end.
        if (expected.at(i).isEmpty())
            QVERIFY2(status == QLatin1String("Successfull snapshot")
                    || status == QLatin1String("Fail to take the snapshot") || status == QLatin1String("Blank page"),
                qPrintable(status));
        else
            QVERIFY2(
                status == expected.at(i), qPrintable(lines.at(int(badIds.size()) + i) + QLatin1String(": ") + status));
    }
    int failed = 0;
    for (int row = 0; row < bench.rows.rowCount(); ++row)
        failed += bench.status(row) == QLatin1String("Successfull snapshot") ? 0 : 1;
    QCOMPARE(bench.run->DoneCount() - bench.run->SuccessCount(), failed);

    QStringList written;
    // The run's lock is the one file it keeps in the work folder.
    const QFileInfo lock(folderLockFile(bench.settings.ImagesFolder));
    for (const QString& file : filesUnder(bench.dir.path())) {
        if (!before.contains(file) && QFileInfo(file) != lock)
            written << file;
    }
    for (const QString& file : std::as_const(written))
        QVERIFY2(file.startsWith(images) && !file.contains(QLatin1String("/.pictavo-work/")), qPrintable(file));
    QVERIFY(!QFile::exists(bench.thumbnail(QStringLiteral("9.jpg.part"))));
    QVERIFY(!QFile::exists(workFolder(bench.settings.ImagesFolder) + QStringLiteral("/9.jpg.part.jpg")));
    QVERIFY(QFile::exists(bench.thumbnail(QStringLiteral("28"))));

    // Every capture closed its page, whatever the page did.
    QTRY_VERIFY_WITH_TIMEOUT(openPages(*m_host) <= pagesBefore, 20000);

    // Retry keeps every link whose ID names no file: it never has a thumbnail.
    QVERIFY(CreateRetryFile(
        bench.links.LinksInfoFile(), bench.settings.ImagesFolder, bench.settings.ImageType, bench.boxes, {}));
    QVERIFY(bench.links.CountLinks() >= badIds.size() + 2);
}

// The watchdog allows for the delay after loading: a long delay is not taken for a hung capture.
void TestBatchRun::longDelayOutlivesTheWatchdog()
{
    Bench bench(m_host.get());
    bench.settings.Timeout = 3000;
    bench.settings.DelayTime = 4000;
    bench.settings.SlotTimeoutSeconds = 3;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/p1")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/p2")) });
    QVERIFY(bench.runAll());
    QCOMPARE(bench.status(0), QStringLiteral("Successfull snapshot"));
    QCOMPARE(bench.run->SuccessCount(), 2);
    QVERIFY(bench.run->watchdogSeconds() > 3 + 4);
}

void TestBatchRun::thumbnailThatCannotBeMadeIsAnError()
{
    Bench bench(m_host.get());
    // No image this large can be decoded: the page is captured, but no thumbnail comes of it.
    bench.settings.ImageWidth = 100000;
    bench.settings.ImageHeight = 100000;
    bench.settings.ImageAspect = 0;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/p1")), QStringLiteral("2|") });
    QVERIFY(bench.runAll());
    QCOMPARE(bench.status(0), QStringLiteral("Image save failed"));
    QCOMPARE(bench.color(0), QColor(0x99, 0x33, 0xFF));
    QCOMPARE(bench.run->SuccessCount(), 0);
    QVERIFY(!QFile::exists(bench.thumbnail(QStringLiteral("1"))));
}

QTEST_MAIN(TestBatchRun)
// Stop, or the run's destruction, while captures are being worked on off the GUI thread: none is
// lost or left running, and every link read ends exactly once.
void TestBatchRun::interruptedWhileWorkIsInFlight_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("stop") << false;
    QTest::newRow("destruction") << true;
}

void TestBatchRun::interruptedWhileWorkIsInFlight()
{
    QFETCH(bool, destroy);
    Bench bench(m_host.get(), std::chrono::milliseconds(400));
    bench.settings.ThreadsCount = 3;
    QStringList lines;
    for (int i = 0; i < 8; ++i)
        lines << QStringLiteral("%1|%2").arg(i + 1).arg(m_server->url(QStringLiteral("/p%1").arg(i)));
    bench.writeLinks(lines);
    QMap<qint32, int> ends;
    QObject::connect(
        bench.run.get(), &BatchRun::linkEnded, bench.run.get(), [&](const LinkOutcome& link) { ++ends[link.line]; });
    QSignalSpy finished(bench.run.get(), &BatchRun::finished);
    QVERIFY(bench.run->StartSnapShots(QStringLiteral("1"), QString(), false));
    QTRY_VERIFY_WITH_TIMEOUT(bench.observed->working > 0, 30000);

    if (destroy) {
        bench.run.reset();
        // The work that had begun ran to its end before the run was gone; no intermediate file is left.
        QCOMPARE(bench.observed->working.load(), 0);
        QCOMPARE(bench.observed->processed.load(), bench.observed->taken.load());
        QDirIterator files(
            bench.settings.ImagesFolder, { QStringLiteral("*.part.jpg") }, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(!files.hasNext());
        return;
    }
    bench.run->stop();
    QVERIFY(finished.wait(60000));
    QCOMPARE(bench.observed->finished, bench.observed->taken.load());
    QCOMPARE(ends.size(), bench.run->DoneCount());
    QCOMPARE(ends.size(), bench.rows.rowCount());
    for (const int count : std::as_const(ends))
        QCOMPARE(count, 1);
    for (int row = 0; row < bench.rows.rowCount(); ++row) {
        QCOMPARE(bench.status(row), QStringLiteral("Successfull snapshot"));
        QVERIFY(QFile::exists(bench.thumbnail(QString::number(row + 1))));
    }
}

// A box asked while one capture ends holds the other captures' ends, not their work: the pool goes on
// meanwhile, and the captures then end one at a time in the order they were taken. The stamp is
// missing until the box closes, so every capture's first attempt fails off the GUI thread; only the
// first capture to end asks, the others find the stamp back when they end.
void TestBatchRun::boxHoldsEndsWhileWorkGoesOn()
{
    Bench bench(m_host.get(), std::chrono::milliseconds(150));
    bench.settings.ThreadsCount = 3;
    const QString stamp = bench.useStamp();
    QImage white(8, 8, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QColor colours[] = { Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan };
    QStringList lines;
    for (int i = 0; i < 6; ++i) {
        m_server->setPage(QStringLiteral("/held%1").arg(i), page(colours[i].name().toLatin1().constData()));
        lines << QStringLiteral("%1|%2").arg(i + 1).arg(m_server->url(QStringLiteral("/held%1").arg(i)));
    }
    bench.writeLinks(lines);
    int processedAtClose = 0;
    int finishedAtClose = 0;
    // Open until two other captures have had their work done meanwhile (a slow machine may take
    // seconds for that), and never longer than 20 s.
    bench.boxes.stayOpenFor(
        std::chrono::milliseconds(20000),
        [&] {
            processedAtClose = bench.observed->processed;
            finishedAtClose = bench.observed->finished;
            QVERIFY(white.save(stamp));
        },
        [&] { return bench.observed->processed >= 2; });
    bench.boxes.queue(TestSupport::ScriptedMessageBox::Answer::Retry);
    QVERIFY(bench.runAll());

    QCOMPARE(bench.boxes.shown().size(), 1);
    QCOMPARE(bench.observed->mostEndingAtOnce, 1);
    QCOMPARE(finishedAtClose, 0);
    QVERIFY2(processedAtClose >= 2, qPrintable(QString::number(processedAtClose)));
    QCOMPARE(bench.observed->endOrder, QList<int>({ 0, 1, 2, 3, 4, 5 }));
    QCOMPARE(bench.run->SuccessCount(), 6);
    for (int i = 0; i < 6; ++i) {
        const QImage thumb(bench.thumbnail(QString::number(i + 1)));
        QVERIFY2(CaptureTest::sameColour(thumb.pixel(thumb.width() / 2, thumb.height() - 4), colours[i], 40),
            qPrintable(QStringLiteral("link %1").arg(i + 1)));
    }
}

// Thumbnails made on the pool, several at once, are byte for byte those the GUI thread makes of the
// same page with the same settings: text watermark, a filter and an effect included.
void TestBatchRun::poolMakesTheSameThumbnails()
{
    QList<QByteArray> made;
    for (const bool onGuiThread : { false, true }) {
        Bench bench(m_host.get(), {}, onGuiThread);
        bench.settings.ThreadsCount = 4;
        bench.settings.WatermarkText = QStringLiteral("Corvane");
        bench.settings.FilterSharpen = 1;
        bench.settings.EffectFadeBorder = 1;
        QStringList lines;
        for (int i = 1; i <= 6; ++i)
            lines << QStringLiteral("%1|%2").arg(i).arg(m_server->url(QStringLiteral("/p1")));
        bench.writeLinks(lines);
        QVERIFY(bench.runAll());
        QCOMPARE(bench.run->SuccessCount(), 6);
        QCOMPARE(bench.observed->workedOffGuiThread.load(), !onGuiThread);
        for (int i = 1; i <= 6; ++i) {
            QFile file(bench.thumbnail(QString::number(i)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            made << file.readAll();
        }
    }
    QVERIFY(!made.first().isEmpty());
    for (int i = 1; i < made.size(); ++i)
        QVERIFY2(made.at(i) == made.first(), qPrintable(QStringLiteral("thumbnail %1").arg(i)));
}

#include "tst_batchrun.moc"

void TestBatchRun::spreadsOverEndpointsAndSurvivesALoss()
{
    CaptureTest::RemoteBrowser kept;
    CaptureTest::RemoteBrowser lost;
    QVERIFY(kept.start());
    QVERIFY(lost.start());
    Bench bench(m_host.get());
    bench.settings.ThreadsCount = 4;
    bench.settings.BrowserEndpoints = kept.webSocketUrl().toString() + QStringLiteral(", ") + lost.httpUrl().toString();
    const int count = 16;
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("%1|%2?n=%1").arg(200 + i).arg(m_server->url(QStringLiteral("/slow")));
    bench.writeLinks(lines);

    QList<LinkOutcome> ended;
    int mostBusy = 0;
    QObject::connect(bench.run.get(), &BatchRun::linkEnded, bench.run.get(), [&](const LinkOutcome& outcome) {
        ended << outcome;
        // Both browsers have captures in flight by now (two slots each, every page takes 0.7 s).
        if (ended.size() == 2)
            lost.kill();
    });
    QObject::connect(bench.run.get(), &BatchRun::rowAdded, bench.run.get(),
        [&] { mostBusy = std::max(mostBusy, bench.run->busySlots()); });
    QVERIFY(bench.runAll());

    // Every link ended exactly once, whatever its end.
    QCOMPARE(ended.size(), count);
    QSet<qint32> seen;
    for (const LinkOutcome& outcome : std::as_const(ended)) {
        seen.insert(outcome.line);
        QVERIFY2(outcome.outcome == Outcome::Captured || outcome.outcome == Outcome::CaptureFailed,
            qPrintable(outcome.outcome));
    }
    QCOMPARE(seen.size(), count);
    QVERIFY(mostBusy <= 4);
    const int failed = count - bench.run->SuccessCount();
    QVERIFY2(failed >= 1, "the lost browser's captures in flight fail");
    // Only those: the lost browser had two of the four slots, and its links after them went elsewhere.
    QVERIFY2(failed <= bench.settings.ThreadsCount / 2, qPrintable(QString::number(failed)));
    QCOMPARE(bench.statusTexts.filter(QStringLiteral("was lost")).size(), 1);
    QVERIFY(kept.isAlive());

    // The retry captures the rest on the browser that is left; the lost one is reported and skipped.
    QVERIFY(CreateRetryFile(
        bench.links.LinksInfoFile(), bench.settings.ImagesFolder, bench.settings.ImageType, bench.boxes, {}));
    QCOMPARE(bench.links.CountLinks(), failed);
    bench.statusTexts.clear();
    QVERIFY(bench.runAll());
    QCOMPARE(bench.run->SuccessCount(), failed);
    QCOMPARE(bench.statusTexts.filter(QStringLiteral("cannot be reached")).size(), 1);
    for (int i = 0; i < count; ++i)
        QVERIFY(QFileInfo::exists(bench.thumbnail(QString::number(200 + i))));
}

void TestBatchRun::endpointsThatCannotServeTheRun_data()
{
    QTest::addColumn<QString>("endpoints");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<int>("captured");
    QTest::addColumn<QString>("status");
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
    QTest::newRow("bad list") << QStringLiteral("local ftp://127.0.0.1:21") << false << 0
                              << QStringLiteral("Error: Browser endpoint 2 (\"ftp://127.0.0.1:21\"): unknown scheme");
    QTest::newRow("none reachable") << closed << true << 0 << QStringLiteral("Error: No browser can be reached");
    QTest::newRow("unreachable one skipped") << closed + QStringLiteral(" local") << true << 3
                                             << QStringLiteral("cannot be reached and is left out of this run");
    QTest::newRow("ws address that is no browser")
        << QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x local").arg(closedPort()) << true << 3
        << QStringLiteral("cannot be reached and is left out of this run");
}

void TestBatchRun::endpointsThatCannotServeTheRun()
{
    QFETCH(QString, endpoints);
    QFETCH(bool, starts);
    QFETCH(int, captured);
    QFETCH(QString, status);
    Bench bench(m_host.get());
    bench.settings.BrowserEndpoints = endpoints;
    bench.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/p1")),
        QStringLiteral("2|") + m_server->url(QStringLiteral("/p2")),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/p3")) });
    QCOMPARE(bench.runAll(), starts);
    QCOMPARE(bench.run->isActive(), false);
    QCOMPARE(bench.run->SuccessCount(), captured);
    QCOMPARE(bench.run->DoneCount(), captured);
    QCOMPARE(bench.statusTexts.filter(status).size(), 1);
    QCOMPARE(bench.statusTexts.filter(QStringLiteral("cannot be reached")).size(), starts ? 1 : 0);
}
