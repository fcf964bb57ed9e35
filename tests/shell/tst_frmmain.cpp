#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "batch/batchrun.h"
#include "batch/linkslistmodel.h"
#include "common/desktop.h"
#include "common/thumbnailmodel.h"
#include "common/widgets/windowhelpers.h"
#include "common/windowgeometry.h"
#include "recordingdesktop.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"

using Shell::frmMain;

namespace {

using TestSupport::RecordingDesktop;

// One program folder and one settings hive, kept across several starts of the window.
struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("config/registry.db")) };
    Settings::LiveSettings settings;
    TestSupport::ScriptedMessageBox boxes;
    RecordingDesktop desktop;

    QString appPath() const { return dir.path() + QStringLiteral("/app/"); }
    std::unique_ptr<frmMain> start()
    {
        auto window = std::make_unique<frmMain>(Shell::MainServices { hive, settings, boxes, desktop, appPath() });
        window->startUp();
        return window;
    }
    QString stored(const char* key)
    {
        return Settings::ReadSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), QString::fromLatin1(key), QString())
            .toString();
    }
};

template <typename T> T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

} // namespace

class TestFrmMain final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstStartInAnEmptyFolder();
    void existingDatabaseIsCountedNotTruncated();
    void folderFailureAsksAndStartUpGoesOn();
    void reopensWhereItWasClosed();
    void defaultPlacementFillsTheScreen_data();
    void defaultPlacementFillsTheScreen();
    void listAndStripShareTheHeight();
    void minimumSize();
    void activatingARowOpensItsUrl_data();
    void activatingARowOpensItsUrl();
    void listFollowsTheNewestRow();
    void centersOverItsOwner();
    void windowCommandsOpenTheirWindows();
};

void TestFrmMain::firstStartInAnEmptyFolder()
{
    Installation setup;
    auto window = setup.start();
    QVERIFY(window->FormLoaded());
    QCOMPARE(window->windowTitle(), QStringLiteral("Pictavo Studio"));
    QCOMPARE(window->statusText(), QStringLiteral("Ready"));
    QVERIFY(QFileInfo(setup.appPath() + QStringLiteral("data")).isDir());
    QVERIFY(QFileInfo(setup.appPath() + QStringLiteral("snapshots")).isDir());
    QCOMPARE(QFileInfo(setup.appPath() + QStringLiteral("data/LinksInfo.txt")).size(), 0);
    QCOMPARE(child<QLabel>(*window, "lblTotalLocalLinks")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>(*window, "txtStartLinksFrom")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>(*window, "txtStartLinksTo")->text(), QStringLiteral("0"));
    QVERIFY(setup.boxes.shown().isEmpty());
    // The settings were loaded: defaults that follow the program folder.
    QCOMPARE(setup.settings.ImagesFolder, setup.appPath() + QStringLiteral("snapshots"));
    QCOMPARE(setup.settings.ThreadsCount, 4);
    const auto* list = child<QTableView>(*window, "lvwLinks");
    QCOMPARE(list->model()->columnCount(), 4);
    QCOMPARE(list->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Status"));

    // Until its first row the list says how links get there, in the middle of its empty area.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const auto wordsShown = [list] {
        const QImage shot = list->viewport()->grab().toImage();
        const QRgb empty = shot.pixel(0, shot.height() - 1);
        for (int y = shot.height() / 3; y < shot.height() * 2 / 3; ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixel(x, y) != empty)
                    return true;
        return false;
    };
    QVERIFY(wordsShown());
    window->linksModel().appendRow(1, QStringLiteral("7"), QStringLiteral("http://a.test/"));
    QVERIFY(!wordsShown());
}

void TestFrmMain::existingDatabaseIsCountedNotTruncated()
{
    Installation setup;
    QVERIFY(QDir().mkpath(setup.appPath() + QStringLiteral("data")));
    const QString database = setup.appPath() + QStringLiteral("data/LinksInfo.txt");
    const QByteArray links = "1|http://a.test\n2|http://b.test\n3|http://c.test";
    writeFile(database, links);
    auto window = setup.start();
    QCOMPARE(QFileInfo(database).size(), links.size());
    QCOMPARE(child<QLabel>(*window, "lblTotalLocalLinks")->text(), QStringLiteral("3"));
    QCOMPARE(child<QLineEdit>(*window, "txtStartLinksTo")->text(), QStringLiteral("3"));
    QCOMPARE(window->links().StartLink(), 1);
    QCOMPARE(window->links().EndLink(), 3);

    // "Refresh" recounts and resets the range boxes.
    writeFile(database, "1|a\r\n2|b\r\n3|c\r\n4|d\r\n5|e\r\n");
    child<QLineEdit>(*window, "txtStartLinksFrom")->setText(QStringLiteral("2"));
    QTest::mouseClick(child<QPushButton>(*window, "cmdCalculateTotalLinks"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(*window, "lblTotalLocalLinks")->text(), QStringLiteral("5"));
    QCOMPARE(child<QLineEdit>(*window, "txtStartLinksFrom")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>(*window, "txtStartLinksTo")->text(), QStringLiteral("5"));
    QCOMPARE(window->statusText(), QStringLiteral("Ready"));
}

void TestFrmMain::folderFailureAsksAndStartUpGoesOn()
{
    Installation setup;
    QVERIFY(QDir().mkpath(setup.appPath()));
    writeFile(setup.appPath() + QStringLiteral("data"), "not a folder");
    setup.boxes.queue(Common::MessageBox::Answer::Cancel);
    auto window = setup.start();
    QCOMPARE(setup.boxes.shown().size(), 1);
    QCOMPARE(setup.boxes.shown().first().title, QStringLiteral("Error"));
    QCOMPARE(setup.boxes.shown().first().buttons, Common::MessageBox::Buttons::RetryCancel);
    QVERIFY(window->FormLoaded());
    QCOMPARE(window->statusText(), QStringLiteral("Ready"));
    QCOMPARE(child<QLabel>(*window, "lblTotalLocalLinks")->text(), QStringLiteral("0"));
}

void TestFrmMain::reopensWhereItWasClosed()
{
    Installation setup;
    QRect closedAt;
    {
        auto window = setup.start();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->setGeometry(40, 50, 700, 500);
        QTRY_COMPARE(window->geometry().size(), QSize(700, 500));
        closedAt = window->frameGeometry();
        window->close();
    }
    // Stored in twips, the outer size.
    QCOMPARE(setup.stored("MainLeft"), QString::number(closedAt.x() * 15));
    QCOMPARE(setup.stored("MainTop"), QString::number(closedAt.y() * 15));
    QCOMPARE(setup.stored("MainWidth"), QString::number(closedAt.width() * 15));
    QCOMPARE(setup.stored("MainHeight"), QString::number(closedAt.height() * 15));
    {
        auto window = setup.start();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE(window->frameGeometry(), closedAt);

        // Closed while minimised: the last normal position survives.
        window->resize(500, 450);
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        window->close();
    }
    QCOMPARE(setup.stored("MainWidth"), QString::number(closedAt.width() * 15));
}

void TestFrmMain::defaultPlacementFillsTheScreen_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("nothing stored") << QStringList();
    // No int holds these: as good as nothing stored.
    QTest::newRow("beyond int") << QStringList { QStringLiteral("1e300"), QStringLiteral("-3e10"),
        QStringLiteral("2147483648"), QStringLiteral("-inf") };
}

void TestFrmMain::defaultPlacementFillsTheScreen()
{
    QFETCH(QStringList, stored);
    Installation setup;
    const char* keys[] = { "MainLeft", "MainTop", "MainWidth", "MainHeight" };
    for (int i = 0; i < stored.size(); ++i)
        QVERIFY(Settings::WriteSetting(setup.hive, Settings::appKeyPath(), Settings::settingsSection(),
            QString::fromLatin1(keys[i]), stored.at(i)));
    auto window = setup.start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize screen = window->screen()->size();
    QCOMPARE(window->frameGeometry().size(), screen);
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(0, 0)); // 1 twip is less than a pixel
}

void TestFrmMain::listAndStripShareTheHeight()
{
    Installation setup;
    auto window = setup.start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* list = child<QTableView>(*window, "lvwLinks");
    auto* strip = child<QListView>(*window, "Thumbnails");
    auto* top = child<QWidget>(*window, "picTop");
    auto* stats = child<QWidget>(*window, "picStats");

    window->resize(640, 480);
    QTRY_COMPARE(window->size(), QSize(640, 480));
    const int listHeight = list->height();
    const int topHeight = top->height();
    const int statsHeight = stats->height();
    QCOMPARE(strip->height(), list->height());
    QCOMPARE(strip->y(), list->y() + list->height());
    QCOMPARE(stats->y(), strip->y() + strip->height());

    window->resize(640, 540);
    QTRY_COMPARE(window->size(), QSize(640, 540));
    QCOMPARE(list->height(), listHeight + 30);
    QCOMPARE(strip->height(), listHeight + 30);
    QCOMPARE(top->height(), topHeight);
    QCOMPARE(stats->height(), statsHeight);

    // Once loaded, "URL" and "Status" share the width the first two columns leave.
    const int client = list->width() - 2 * list->frameWidth() - list->verticalScrollBar()->sizeHint().width();
    const int expected = (client - list->columnWidth(0) - list->columnWidth(1)) / 2;
    QVERIFY(qAbs(list->columnWidth(2) - expected) <= 1);
    QCOMPARE(list->columnWidth(2), list->columnWidth(3));
    QCOMPARE(list->columnWidth(0), Common::toPixels(1000));
    QCOMPARE(list->columnWidth(1), Common::toPixels(1500));
}

void TestFrmMain::minimumSize()
{
    Installation setup;
    auto window = setup.start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(200, 300);
    QTRY_COMPARE(window->frameGeometry().size(), QSize(400, 400));
}

void TestFrmMain::activatingARowOpensItsUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("opened");
    QTest::newRow("no scheme") << QStringLiteral("www.example.test/a") << QStringLiteral("http://www.example.test/a");
    QTest::newRow("https") << QStringLiteral("https://a.test/x?y=1") << QStringLiteral("https://a.test/x?y=1");
    QTest::newRow("empty") << QString() << QString();
    // Visitors submit these addresses: a local file or another program's scheme is never opened.
    QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << QString();
    QTest::newRow("network share") << QStringLiteral("smb://host/share") << QString();
    QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << QString();
    QTest::newRow("path") << QStringLiteral("/etc/passwd") << QString();
}

void TestFrmMain::activatingARowOpensItsUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, opened);
    Installation setup;
    auto window = setup.start();
    window->linksModel().appendRow(1, QStringLiteral("7"), url);
    auto* list = child<QTableView>(*window, "lvwLinks");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(list->columnWidth(2) > 100); // the URL column is there from the start
    Q_EMIT list->activated(list->model()->index(0, 2));
    QCOMPARE(setup.desktop.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl(opened) });
    if (opened.isEmpty() && !url.isEmpty())
        QVERIFY(window->statusText().startsWith(QStringLiteral("Not opened")));
}

void TestFrmMain::listFollowsTheNewestRow()
{
    Installation setup;
    auto window = setup.start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* list = child<QTableView>(*window, "lvwLinks");
    // A burst of rows in one turn of the event loop, as a run adds them.
    for (int line = 1; line <= 500; ++line) {
        const auto key = window->linksModel().appendRow(line, QString::number(line), QStringLiteral("http://a.test/"));
        Q_EMIT window->run().rowAdded(window->linksModel().rowOf(key));
    }
    const auto lastRowShown = [&] {
        const QRect last = list->visualRect(list->model()->index(499, 0));
        return last.isValid() && list->viewport()->rect().contains(last);
    };
    QTRY_VERIFY(lastRowShown());
    QVERIFY(!list->viewport()->rect().intersects(list->visualRect(list->model()->index(0, 0))));

    // So does the strip, unless scrolled back to an earlier thumbnail.
    QScrollBar* strip = child<QListView>(*window, "Thumbnails")->horizontalScrollBar();
    const auto addThumbnails = [&](int count) {
        for (int i = 0; i < count; ++i)
            window->thumbnails().addImage(setup.appPath() + QStringLiteral("none.jpg"), QStringLiteral("a.test"));
    };
    addThumbnails(40);
    QTRY_VERIFY(strip->maximum() > 0 && strip->value() == strip->maximum());
    strip->setValue(0);
    addThumbnails(1);
    QCoreApplication::processEvents();
    QCOMPARE(strip->value(), 0);
    strip->setValue(strip->maximum());
    const int end = strip->maximum();
    addThumbnails(1);
    QTRY_VERIFY(strip->value() > end);
}

void TestFrmMain::centersOverItsOwner()
{
    QWidget owner;
    owner.setGeometry(100, 50, 600, 400);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QWidget dialog;
    dialog.resize(200, 100);
    Common::CenterForm(&dialog, &owner);
    QCOMPARE(dialog.pos(), owner.frameGeometry().topLeft() + QPoint((600 - 200) / 2, (400 - 100) / 2));
}

void TestFrmMain::windowCommandsOpenTheirWindows()
{
    Installation setup;
    auto window = setup.start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* toolbar = window->findChild<QToolBar*>(QStringLiteral("tbToolbar"));
    QStringList keys;
    for (QAction* action : toolbar->actions())
        keys << action->objectName();
    QCOMPARE(keys,
        (QStringList { QStringLiteral("Setup"), QStringLiteral("Settings"), QStringLiteral("Import"),
            QStringLiteral("Start"), QStringLiteral("Pause"), QStringLiteral("Stop"), QStringLiteral("Retry"),
            QStringLiteral("Upload"), QStringLiteral("Shot"), QStringLiteral("View"), QStringLiteral("Help") }));

    const std::pair<const char*, const char*> commands[] = { { "Setup", "frmSetup" }, { "mnuSetup", "frmSetup" },
        { "Import", "frmImport" }, { "mnuImport", "frmImport" }, { "Upload", "frmUpload" },
        { "mnuUpload", "frmUpload" }, { "Settings", "frmSettings" }, { "mnuSettings", "frmSettings" },
        { "View", "frmViewer" }, { "mnuThumnailsViewer", "frmViewer" }, { "Help", "frmHelp" }, { "Shot", "frmShot" },
        { "mnuSnapshotter", "frmShot" } };
    for (const auto& [command, windowName] : commands) {
        QString opened;
        QTimer::singleShot(0, window.get(), [&opened, &window] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            opened = modal->objectName();
            const QPoint offset = modal->frameGeometry().center() - window->geometry().center();
            QVERIFY2(offset.manhattanLength() < 60, qPrintable(opened));
            modal->close();
        });
        window->findChild<QAction*>(QString::fromLatin1(command))->trigger();
        QCOMPARE(opened, QString::fromLatin1(windowName));
    }
    // The about window opens where it likes, not centred.
    QString about;
    QTimer::singleShot(0, window.get(), [&about] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        about = modal->objectName();
        modal->close();
    });
    window->findChild<QAction*>(QStringLiteral("mnuHelpAbout"))->trigger();
    QCOMPARE(about, QStringLiteral("frmAbout"));
    // Closed windows are gone, not hidden.
    QTRY_VERIFY(window->findChildren<QDialog*>().isEmpty());

    // Stored settings reach the window at once: the strip takes the new thumbnail size.
    QTimer::singleShot(0, window.get(), [] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        auto* width = modal->findChild<QLineEdit*>(QStringLiteral("txtImageWidth"));
        width->selectAll();
        QTest::keyClicks(width, QStringLiteral("64"));
        modal->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    window->findChild<QAction*>(QStringLiteral("Settings"))->trigger();
    QCOMPARE(child<QListView>(*window, "Thumbnails")->iconSize(), QSize(64, 90));
    QCOMPARE(setup.stored("ImageWidth"), QStringLiteral("64"));
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
