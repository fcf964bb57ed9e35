#include <QDir>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "capture/browserhost.h"
#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"
#include "capturetestsupport.h"
#include "scriptedmessagebox.h"
#include "scriptedpickers.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "snapshotter/widgets/frmshot.h"
#include "testhttpserver.h"

using namespace Snapshotter;
using namespace std::chrono_literals;

namespace {

struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    Settings::LiveSettings live;
    TestSupport::ScriptedMessageBox boxes;
    TestSupport::ScriptedPickers pickers;

    explicit Installation(int timeOut = 20000)
    {
        QDir().mkpath(appPath());
        live = Settings::LoadSettings(hive, appPath());
        live.Timeout = timeOut;
    }
    QString appPath() const { return dir.path() + QStringLiteral("/app/"); }
    std::unique_ptr<frmShot> open(Capture::BrowserHost* host)
    {
        auto window = std::make_unique<frmShot>(ShotForm::Services { hive, live, boxes, host, appPath() }, pickers);
        window->show();
        return window;
    }
};

QString text(QWidget& window, const char* name)
{
    if (auto* label = window.findChild<QLabel*>(QLatin1String(name)))
        return label->text();
    return window.findChild<QLineEdit*>(QLatin1String(name))->text();
}

void enterAddress(QWidget& window, const QString& address)
{
    auto* box = window.findChild<QLineEdit*>(QStringLiteral("txtAddress"));
    box->setText(address);
    QTest::keyClick(box, Qt::Key_Return);
}

} // namespace

class TestFrmShot final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void enterInAnEmptyAddressBoxCapturesNothing();
    void capturedPageIsShownAtItsSize();
    void codeZeroKeepsWaiting();
    void silentEngineEndsAtTheBound();
    void closingDuringACaptureClosesItsPage();
    void screenshot();

private:
    std::unique_ptr<Capture::BrowserHost> m_host;
    std::unique_ptr<CaptureTest::TestHttpServer> m_server;
};

void TestFrmShot::initTestCase()
{
    m_server = std::make_unique<CaptureTest::TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setPage(QStringLiteral("/page"),
        "<!doctype html><body style=\"margin:0;background:rgb(0,0,255)\"><div style=\"height:1500px\"></div>"
        "<script>document.body.style.background='rgb(255,0,0)';</script></body>");
    m_server->setPage(QStringLiteral("/"),
        "<!doctype html><body style=\"margin:0;font-family:sans-serif;background:#f4f1ea\">"
        "<div style=\"background:#2b5d8a;color:white;padding:24px 40px;font-size:32px\">Corvane Links</div>"
        "<div style=\"padding:24px 40px;font-size:18px;line-height:1.6\"><h2>Welcome</h2>"
        "<p>A directory of hand-picked sites, each with its own thumbnail.</p>"
        "<ul><li>Arts and crafts</li><li>Science</li><li>Travel</li></ul></div></body>");
    CaptureTest::TestHttpServer::Response hang;
    hang.hang = true;
    m_server->setRoute(QStringLiteral("/hang"), hang);
    m_host = std::make_unique<Capture::BrowserHost>(CaptureTest::testBrowserOptions());
}

void TestFrmShot::cleanupTestCase()
{
    const qint64 pid = m_host->processId();
    m_host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTest::processGroupGone(pid), 10000);
}

void TestFrmShot::enterInAnEmptyAddressBoxCapturesNothing()
{
    Installation setup;
    auto window = setup.open(m_host.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    enterAddress(*window, QStringLiteral("   "));
    QVERIFY(!window->form().capture().Snap1());
    QVERIFY(window->isVisible()); // no button took the key
    QCOMPARE(QApplication::focusWidget(), window->findChild<QLineEdit*>(QStringLiteral("txtAddress")));
    QVERIFY(window->statusText().isEmpty());
}

void TestFrmShot::capturedPageIsShownAtItsSize()
{
    Installation setup;
    setup.live.EnableScript = 0; // the batch's switch: the snapshotter runs scripts all the same
    auto window = setup.open(m_host.get());
    QString address = m_server->url(QStringLiteral("/page"));
    enterAddress(*window, address.remove(QStringLiteral("http://"))); // taken as http
    QTRY_VERIFY_WITH_TIMEOUT(!window->form().isCapturing(), 60000);
    QCOMPARE(window->statusText(), QStringLiteral("The snapshot is successfully taken"));
    QVERIFY(window->progressText().isEmpty());
    const QImage image = window->form().viewer().image();
    QCOMPARE(text(*window, "lblWidth"), QStringLiteral("1024"));
    QVERIFY(image.height() >= 1500);
    QCOMPARE(text(*window, "lblHeight"), QString::number(image.height()));
    QCOMPARE(text(*window, "lblZoom"), QStringLiteral("100%"));
    QCOMPARE(text(*window, "txtWidth"), QStringLiteral("1024"));
    QVERIFY(qRed(image.pixel(500, 500)) > 200); // the page's script ran

    window->findChild<QScrollBar*>(QStringLiteral("scrollZoom"))->setValue(50);
    QCOMPARE(text(*window, "lblZoom"), QStringLiteral("50%"));
    QCOMPARE(text(*window, "txtWidth"), QStringLiteral("512"));
    setup.pickers.saveAs = setup.dir.filePath(QStringLiteral("page.png"));
    window->findChild<QPushButton*>(QStringLiteral("cmdSave"))->click();
    QCOMPARE(setup.pickers.asked.last().title, QStringLiteral("Save Snapshot Image"));
    QCOMPARE(QImage(setup.pickers.saveAs).width(), 512);
}

void TestFrmShot::codeZeroKeepsWaiting()
{
    Installation setup;
    auto window = setup.open(m_host.get());
    enterAddress(*window, m_server->url(QStringLiteral("/hang")));
    Capture::HtmlSnap* engine = window->form().capture().Snap1();
    Q_EMIT engine->OnStatus(QStringLiteral("Still loading the page"), 0);
    QCOMPARE(window->statusText(), QStringLiteral("Still loading the page"));
    QVERIFY(window->form().isCapturing());
    Q_EMIT engine->OnStatus(QStringLiteral("the engine's words"), -3);
    QCOMPARE(window->statusText(), QStringLiteral("Fail to open the URL"));
    QVERIFY(!window->form().isCapturing());
    Q_EMIT engine->OnStatus(QStringLiteral("late"), 1); // after the end: ignored
    QCOMPARE(window->statusText(), QStringLiteral("Fail to open the URL"));
}

void TestFrmShot::silentEngineEndsAtTheBound()
{
    Installation setup;
    auto window = setup.open(m_host.get());
    window->form().capture().setWaitBound(1500ms);
    enterAddress(*window, m_server->url(QStringLiteral("/hang")));
    window->form().capture().Snap1()->disconnect(&window->form().capture()); // it never reports again
    QTRY_VERIFY_WITH_TIMEOUT(!window->form().isCapturing(), 10000);
    QCOMPARE(window->statusText(), QStringLiteral("Time is out before taking a snapshot"));
}

void TestFrmShot::closingDuringACaptureClosesItsPage()
{
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 30000);
    Installation setup(120000); // the engine's own time-out must not be what closes the page
    auto window = setup.open(m_host.get());
    enterAddress(*window, m_server->url(QStringLiteral("/hang")));
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 2, 30000);
    QVERIFY(window->close());
    QVERIFY(!window->form().isCapturing());
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
    QTRY_COMPARE_WITH_TIMEOUT(CaptureTest::pageTargetCount(*m_host), 1, 15000);
}

// A picture of the window for the documentation: PICTAVO_SCREENSHOTS=<folder> writes it.
void TestFrmShot::screenshot()
{
    const QString folder = qEnvironmentVariable("PICTAVO_SCREENSHOTS");
    if (folder.isEmpty())
        QSKIP("PICTAVO_SCREENSHOTS is not set");
    Installation setup;
    auto window = setup.open(m_host.get());
    window->resize(820, 560);
    enterAddress(*window, m_server->url(QStringLiteral("/"), QStringLiteral("links.corvane.test")));
    QTRY_VERIFY_WITH_TIMEOUT(!window->form().isCapturing(), 60000);
    window->findChild<QScrollBar*>(QStringLiteral("scrollZoom"))->setValue(60);
    QVERIFY(window->grab().save(folder + QStringLiteral("/snapshotter.png")));
}

QTEST_MAIN(TestFrmShot)
#include "tst_frmshot.moc"
