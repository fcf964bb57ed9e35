#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegion>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "common/desktop.h"
#include "common/widgets/windowhelpers.h"
#include "common/windowgeometry.h"
#include "recordingdesktop.h"
#include "shell/frmabout.h"
#include "shell/frmhelp.h"
#include "shell/programinfo.h"

using namespace Shell;

namespace {

using TestSupport::RecordingDesktop;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestUtilityWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aboutShowsTheVersionAndOpensItsLinks();
    void helpPageIsFound_data();
    void helpPageIsFound();
    void helpKeepsItsOwnLinksAndSendsOthersOut();
    void escapeClosesBoth();
    void pauseLetsOtherWorkRun();
    void folderChooserCancelledGivesNothing();
    void roundCornersCutTheCorners();
    void desktopOpenRules_data();
    void desktopOpenRules();
};

void TestUtilityWindows::aboutShowsTheVersionAndOpensItsLinks()
{
    RecordingDesktop desktop;
    frmAbout about(desktop);
    QCOMPARE(about.windowTitle(), QStringLiteral("About Pictavo Studio"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblTitle"))->text(), QStringLiteral("Pictavo Studio"));
    const QString version = about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+(\\+g\\w+)?$")).match(version).hasMatch(),
        qPrintable(version));
    QCOMPARE(version, QStringLiteral("Version ") + programVersion());

    for (const char* name : { "lblCorvane", "lblSupportEmail", "lblSalesEmail" }) {
        auto* link = about.findChild<QLabel*>(QLatin1String(name));
        const QString target = link->text().section(QLatin1Char('"'), 1, 1);
        Q_EMIT link->linkActivated(target);
    }
    QCOMPARE(desktop.opened,
        (QList<QUrl> { QUrl(websiteAddress()), QUrl(QStringLiteral("mailto:") + supportAddress()),
            QUrl(QStringLiteral("mailto:") + salesAddress()) }));
}

void TestUtilityWindows::helpPageIsFound_data()
{
    QTest::addColumn<QString>("page"); // where the page is, below the folder
    QTest::addColumn<QString>("appPath"); // the program's folder, below the folder
    QTest::addRow("beside the program") << "build/bin/Help.html"
                                        << "build/bin/";
    QTest::addRow("installed") << "usr/share/pictavo-studio/Help.html"
                               << "usr/bin/";
    QTest::addRow("missing") << ""
                             << "usr/bin/";
}

void TestUtilityWindows::helpPageIsFound()
{
    QFETCH(QString, page);
    QFETCH(QString, appPath);
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(appPath));
    if (!page.isEmpty())
        writeFile(dir.filePath(page), "<html><body><h1 id=\"top\">Manual</h1></body></html>");
    const QString expected = page.isEmpty() ? QString() : QDir::cleanPath(dir.filePath(page));
    QCOMPARE(helpPagePath(dir.filePath(appPath)), expected);

    RecordingDesktop desktop;
    frmHelp help(desktop, dir.filePath(appPath));
    auto* browser = help.findChild<QTextBrowser*>(QStringLiteral("WebBrowser"));
    QCOMPARE(help.windowTitle(), QStringLiteral("Help"));
    QCOMPARE(browser->source().toLocalFile(), expected);
    QCOMPARE(browser->toPlainText().contains(QStringLiteral("Manual")), !page.isEmpty());
}

void TestUtilityWindows::helpKeepsItsOwnLinksAndSendsOthersOut()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Help.html")), "<p>one</p>");
    writeFile(dir.filePath(QStringLiteral("other.html")), "<p>second page</p>");
    RecordingDesktop desktop;
    frmHelp help(desktop, dir.path() + QLatin1Char('/'));
    auto* browser = help.findChild<QTextBrowser*>(QStringLiteral("WebBrowser"));

    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("other.html")));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("second page")));
    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("https://example.com/")));
    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("mailto:a@example.com")));
    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("javascript:alert(1)")));
    QCOMPARE(desktop.opened,
        (QList<QUrl> { QUrl(QStringLiteral("https://example.com/")), QUrl(QStringLiteral("mailto:a@example.com")) }));

    // The page leaves the margins of the window's outer size: 100 twips across, 400 down.
    help.show();
    help.resize(700, 500);
    QTRY_COMPARE(browser->width(), help.frameGeometry().width() - Common::toPixels(100));
    QCOMPARE(browser->height(), help.frameGeometry().height() - Common::toPixels(400));
    QCOMPARE(browser->pos(), QPoint(0, 0));
}

void TestUtilityWindows::escapeClosesBoth()
{
    RecordingDesktop desktop;
    frmAbout about(desktop);
    frmHelp help(desktop, QStringLiteral("/nonexistent/"));
    for (QDialog* window : { static_cast<QDialog*>(&about), static_cast<QDialog*>(&help) }) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    }
}

void TestUtilityWindows::pauseLetsOtherWorkRun()
{
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(10);
    QElapsedTimer clock;
    clock.start();
    Common::PauseWithEvents(150);
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    clock.restart();
    Common::PauseWithEvents(-5); // a wait already over returns at once
    QVERIFY(clock.elapsed() < 100);
}

void TestUtilityWindows::folderChooserCancelledGivesNothing()
{
    QWidget owner;
    QTimer::singleShot(0, this, [] {
        QWidget* chooser = QApplication::activeModalWidget();
        QVERIFY(chooser);
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Select folder"));
        static_cast<QDialog*>(chooser)->reject();
    });
    QCOMPARE(
        Common::BrowseForFolder(QStringLiteral("Select folder"), QDir::tempPath(), {}, true, false, &owner), QString());
}

void TestUtilityWindows::roundCornersCutTheCorners()
{
    QWidget window;
    window.resize(200, 100);
    Common::RoundCorners(&window, 20);
    const QRegion shape = window.mask();
    QVERIFY(!shape.contains(QPoint(0, 0)));
    QVERIFY(!shape.contains(QPoint(199, 99)));
    QVERIFY(shape.contains(QPoint(100, 50)));
    QVERIFY(shape.contains(QPoint(100, 0))); // only the corners are cut
}

void TestUtilityWindows::desktopOpenRules_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("opened"); // "" when nothing opens
    QTest::addRow("web address") << "https://example.com/a"
                                 << "Open"
                                 << "https://example.com/a";
    QTest::addRow("address without a scheme") << "www.example.com"
                                              << "Open"
                                              << "http://www.example.com";
    QTest::addRow("mail address") << "mailto:a@example.com"
                                  << "Open"
                                  << "mailto:a@example.com";
    QTest::addRow("local folder") << QDir::tempPath() << "Open" << QUrl::fromLocalFile(QDir::tempPath()).toString();
    QTest::addRow("verb in another case") << "https://example.com/"
                                          << "open"
                                          << "https://example.com/";
    QTest::addRow("other verb") << "https://example.com/"
                                << "Print"
                                << "";
    QTest::addRow("blank") << "   "
                           << "Open"
                           << "";
}

void TestUtilityWindows::desktopOpenRules()
{
    QFETCH(QString, target);
    QFETCH(QString, verb);
    QFETCH(QString, opened);
    RecordingDesktop desktop;
    Common::ShellOpen(desktop, target, verb);
    QCOMPARE(desktop.opened.isEmpty() ? QString() : desktop.opened.first().toString(), opened);
}

QTEST_MAIN(TestUtilityWindows)
#include "tst_utilitywindows.moc"
