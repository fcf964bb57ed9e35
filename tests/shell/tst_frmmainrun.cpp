#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "batch/batchrun.h"
#include "batch/folderlock.h"
#include "batch/linkslistmodel.h"
#include "batch/widgets/frmmsg.h"
#include "capture/browserhost.h"
#include "capturetestsupport.h"
#include "common/desktop.h"
#include "common/thumbnailmodel.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"
#include "testhttpserver.h"

using Shell::frmMain;

namespace {

class NoDesktop final : public Common::Desktop {
public:
    bool openUrl(const QUrl&) override { return true; }
};

struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    Settings::LiveSettings settings;
    TestSupport::ScriptedMessageBox boxes;
    NoDesktop desktop;

    QString appPath() const { return dir.path() + QStringLiteral("/app/"); }
    void store(const char* key, const QString& value)
    {
        Settings::WriteSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), QString::fromLatin1(key), value);
    }
    void writeLinks(const QStringList& lines)
    {
        QDir().mkpath(appPath() + QStringLiteral("data"));
        QFile file(appPath() + QStringLiteral("data/LinksInfo.txt"));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the links");
        for (const QString& line : lines)
            file.write(line.toUtf8() + "\r\n");
    }
};

QAction* button(frmMain& window, const char* key)
{
    auto* toolbar = window.findChild<QToolBar*>(QStringLiteral("tbToolbar"));
    return toolbar->findChild<QAction*>(QString::fromLatin1(key), Qt::FindDirectChildrenOnly);
}

QAction* menuItem(frmMain& window, const char* name) { return window.findChild<QAction*>(QString::fromLatin1(name)); }

QString text(frmMain& window, const char* name)
{
    if (auto* edit = window.findChild<QLineEdit*>(QString::fromLatin1(name)))
        return edit->text();
    return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

} // namespace

class TestFrmMainRun final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void commandsFollowTheRun();
    void stopShowsTheWaitAndResumesLater();
    void retryNarrowsTheDatabase();

private:
    std::unique_ptr<Capture::BrowserHost> m_host;
    std::unique_ptr<CaptureTest::TestHttpServer> m_server;
};

void TestFrmMainRun::initTestCase()
{
    m_host = std::make_unique<Capture::BrowserHost>(CaptureTest::testBrowserOptions());
    m_server = std::make_unique<CaptureTest::TestHttpServer>();
    QVERIFY(m_server->listen());
    CaptureTest::TestHttpServer::Response slow;
    slow.body = "<html><body><h1>slow</h1><div style='height:400px;background:teal'></div></body></html>";
    slow.delayMs = 600;
    m_server->setRoute(QStringLiteral("/slow"), slow);
    slow.body = "<html><body style='background:teal'></body></html>";
    m_server->setRoute(QStringLiteral("/slowblank"), slow);
}

void TestFrmMainRun::cleanupTestCase()
{
    m_server.reset();
    m_host.reset();
}

void TestFrmMainRun::commandsFollowTheRun()
{
    Installation setup;
    setup.store("DelayTime", QStringLiteral("0"));
    setup.store("ThreadsCount", QStringLiteral("2"));
    QStringList lines;
    for (int i = 1; i <= 4; ++i)
        lines << QStringLiteral("%1|%2").arg(i).arg(
            m_server->url(i == 4 ? QStringLiteral("/slowblank") : QStringLiteral("/slow")));
    setup.writeLinks(lines);
    frmMain window({ setup.hive, setup.settings, setup.boxes, setup.desktop, setup.appPath(), m_host.get() });
    window.startUp();

    QVERIFY(button(window, "Start")->isEnabled());
    QVERIFY(button(window, "Retry")->isEnabled());
    QVERIFY(!button(window, "Pause")->isEnabled());
    QVERIFY(!button(window, "Stop")->isEnabled());
    QCOMPARE(button(window, "Start")->toolTip(), QStringLiteral("Start snapshots"));
    QCOMPARE(button(window, "Retry")->toolTip(), QStringLiteral("Create retry file"));

    QSignalSpy finished(&window.run(), &Batch::BatchRun::finished);
    menuItem(window, "mnuStart")->trigger();
    QCOMPARE(window.runState(), frmMain::RunState::Running);
    QVERIFY(!button(window, "Start")->isEnabled());
    QVERIFY(!menuItem(window, "mnuStart")->isEnabled()); // no second run inside a run
    QVERIFY(!menuItem(window, "mnuRetry")->isEnabled());
    // The window commands wait for the run: the options stay as the run read them.
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help" })
        QVERIFY2(!button(window, key)->isEnabled(), key);
    for (const char* name :
        { "mnuSetup", "mnuSettings", "mnuImport", "mnuUpload", "mnuThumnailsViewer", "mnuSnapshotter" })
        QVERIFY2(!menuItem(window, name)->isEnabled(), name);
    QVERIFY(button(window, "Pause")->isEnabled());

    button(window, "Pause")->trigger();
    QCOMPARE(button(window, "Pause")->text(), QStringLiteral("Resume"));
    button(window, "Pause")->trigger();
    QCOMPARE(button(window, "Pause")->text(), QStringLiteral("Pause"));

    QVERIFY(finished.wait(60000));
    QCOMPARE(window.runState(), frmMain::RunState::Idle);
    QVERIFY(button(window, "Start")->isEnabled());
    QVERIFY(!button(window, "Stop")->isEnabled());
    QVERIFY(menuItem(window, "mnuSettings")->isEnabled());
    QCOMPARE(text(window, "lblDoneCount"), QStringLiteral("4"));
    QCOMPARE(text(window, "lblSuccessCount"), QStringLiteral("3"));
    QCOMPARE(text(window, "lblErrorsCount"), QStringLiteral("1"));
    QCOMPARE(text(window, "lblProgress"), QStringLiteral("100%"));
    QCOMPARE(text(window, "lblSelectedLinks"), QStringLiteral("4"));
    QCOMPARE(window.thumbnails().rowCount(), 3);
    QTRY_VERIFY(!window.findChild<Batch::frmMsg*>());

    // The status bar says what the pages have become and names the run's report: a header and one
    // record per link.
    QVERIFY2(window.statusText().startsWith(QStringLiteral("1 blank. ")), qPrintable(window.statusText()));
    const QString report = window.statusText().section(QStringLiteral("Run report: "), 1);
    QVERIFY2(report.startsWith(setup.appPath() + QStringLiteral("data/reports/run-")), qPrintable(window.statusText()));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("\r\n"), 5);
}

void TestFrmMainRun::stopShowsTheWaitAndResumesLater()
{
    Installation setup;
    setup.store("DelayTime", QStringLiteral("0"));
    setup.store("ThreadsCount", QStringLiteral("1"));
    QStringList lines;
    for (int i = 1; i <= 6; ++i)
        lines << QStringLiteral("%1|%2").arg(i).arg(m_server->url(QStringLiteral("/slow")));
    setup.writeLinks(lines);
    frmMain window({ setup.hive, setup.settings, setup.boxes, setup.desktop, setup.appPath(), m_host.get() });
    window.startUp();

    QSignalSpy finished(&window.run(), &Batch::BatchRun::finished);
    button(window, "Start")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(window.linksModel().rowCount(), 2, 30000);
    button(window, "Stop")->trigger();
    QCOMPARE(window.runState(), frmMain::RunState::Stopping);
    QVERIFY(!button(window, "Pause")->isEnabled());
    QVERIFY(!button(window, "Start")->isEnabled());
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help", "Retry" })
        QVERIFY2(!button(window, key)->isEnabled(), key);
    auto* wait = window.findChild<Batch::frmMsg*>();
    QVERIFY(wait && wait->isVisible());
    QVERIFY(finished.wait(60000));
    QCOMPARE(window.runState(), frmMain::RunState::Idle);
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help", "Start", "Retry" })
        QVERIFY2(button(window, key)->isEnabled(), key); // back after a stopped run too
    QVERIFY(Batch::FolderLock::forImport(setup.appPath())); // and the folders let go
    QCOMPARE(text(window, "txtStartLinksFrom"), QStringLiteral("2"));
    QCOMPARE(text(window, "lblDoneCount"), QStringLiteral("2"));
}

void TestFrmMainRun::retryNarrowsTheDatabase()
{
    Installation setup;
    setup.store("DelayTime", QStringLiteral("0"));
    setup.writeLinks({ QStringLiteral("1|") + m_server->url(QStringLiteral("/slow")), QStringLiteral("2|x"),
        QStringLiteral("3|") + m_server->url(QStringLiteral("/slow")) });
    QDir().mkpath(setup.appPath() + QStringLiteral("snapshots"));
    QFile existing(setup.appPath() + QStringLiteral("snapshots/2.jpg"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    frmMain window({ setup.hive, setup.settings, setup.boxes, setup.desktop, setup.appPath(), m_host.get() });
    window.startUp();

    {
        // Another run holds the program folder: Retry is refused before it narrows the database.
        const auto other = Batch::FolderLock::forRun(setup.appPath(), {});
        button(window, "Retry")->trigger();
        QCOMPARE(window.runState(), frmMain::RunState::Idle);
        QCOMPARE(setup.boxes.shown().size(), 1);
        QVERIFY(setup.boxes.shown().first().text.contains(QString::number(QCoreApplication::applicationPid())));
        QFile database(setup.appPath() + QStringLiteral("data/LinksInfo.txt"));
        QVERIFY(database.open(QIODevice::ReadOnly));
        QCOMPARE(database.readAll().count("\r\n"), 3);
    }
    QSignalSpy finished(&window.run(), &Batch::BatchRun::finished);
    button(window, "Retry")->trigger();
    QVERIFY(finished.wait(60000));
    QCOMPARE(text(window, "lblTotalLocalLinks"), QStringLiteral("2"));
    QCOMPARE(text(window, "txtStartLinksTo"), QStringLiteral("2"));
    QCOMPARE(text(window, "lblSuccessCount"), QStringLiteral("2"));
    QVERIFY(QFile::exists(setup.appPath() + QStringLiteral("snapshots/1.jpg")));
    QVERIFY(QFile::exists(setup.appPath() + QStringLiteral("snapshots/3.jpg")));
    QCOMPARE(setup.boxes.shown().size(), 1); // the refusal's
}

QTEST_MAIN(TestFrmMainRun)
#include "tst_frmmainrun.moc"
