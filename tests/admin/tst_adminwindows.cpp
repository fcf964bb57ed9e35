#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "admin/adminchannel.h"
#include "admin/linksimport.h"
#include "admin/uploadrun.h"
#include "admin/widgets/frmimport.h"
#include "admin/widgets/frmsetup.h"
#include "admin/widgets/frmupload.h"
#include "adminscriptserver.h"
#include "batch/folderlock.h"
#include "cannedhttpserver.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"
#include "settings/settingsstore.h"

using namespace Admin;
using AdminTest::AdminScriptServer;
using AdminTest::CannedHttpServer;

namespace {

template <typename T> T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qWarning("no control named %s", name);
    return found;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// One program folder, settings hive and live settings per test.
struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("config/registry.db")) };
    Settings::LiveSettings settings;
    TestSupport::ScriptedMessageBox boxes;
    int refreshes = 0;

    explicit Installation(const QString& url)
    {
        settings = Settings::LoadSettings(hive, appPath());
        settings.AdminURL = url;
        settings.AdminUserID = QStringLiteral("admin");
        settings.AdminPassword = QString::fromLatin1(AdminScriptServer::Password);
        QDir().mkpath(settings.ViewerFolder);
    }
    QString appPath() const { return dir.path() + QStringLiteral("/app/"); }
    QString database() const { return appPath() + QStringLiteral("data/LinksInfo.txt"); }
    AdminServices services()
    {
        return { hive, settings, boxes, appPath(), [this] { ++refreshes; }, QStringLiteral("Pictavo Studio") };
    }
    QString stored(const char* key)
    {
        return Settings::ReadSetting(hive, Settings::appKeyPath(), Settings::settingsSection(),
            QString::fromLatin1(key), QStringLiteral("<absent>"))
            .toString();
    }
};

} // namespace

class tst_AdminWindows final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // no keyring, as for a scheduled job
        QString error;
        QVERIFY2(m_script.start(&error), qPrintable(error));
        QVERIFY(m_canned.listen());
    }

    void setupTestShowsOneOutcomeAndKeepsNothing_data()
    {
        // url: "%1" stands for the reference script, "canned" for a server giving `status` and `body`.
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        const QString good = QString::fromLatin1(AdminScriptServer::Password);
        const QString connected = QStringLiteral("Connected successfully to the admin panel");
        const QString checkLogin = QStringLiteral("Please check your login User ID and Password");
        const QString checkUrl = QStringLiteral("Please check your Admin Center URL");
        QTest::newRow("good login, blanks trimmed") << QStringLiteral(" %1 ") << good << 0 << QByteArray() << connected;
        QTest::newRow("wrong password") << QStringLiteral("%1") << QStringLiteral("nope") << 0 << QByteArray()
                                        << checkLogin;
        QTest::newRow("ok") << QStringLiteral("canned") << good << 200 << QByteArray("ok") << checkLogin;
        QTest::newRow("OK and a line break")
            << QStringLiteral("canned") << good << 200 << QByteArray("OK\r\n") << checkLogin;
        QTest::newRow("500") << QStringLiteral("canned") << good << 500 << QByteArray("OK") << checkUrl;
        QTest::newRow("URL of spaces") << QStringLiteral("   ") << good << 0 << QByteArray() << checkUrl;
        QTest::newRow("nobody listening")
            << QStringLiteral("http://127.0.0.1:1/admin.cgi") << good << 0 << QByteArray() << checkUrl;
    }

    void setupTestShowsOneOutcomeAndKeepsNothing()
    {
        QFETCH(QString, url);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        Installation install(QStringLiteral("http://stored.test/admin.cgi"));
        const Settings::LiveSettings before = install.settings;
        frmSetup window(install.services());
        QCOMPARE(child<QLineEdit>(window, "txtAdminURL")->text(), before.AdminURL);
        QCOMPARE(child<QLineEdit>(window, "txtAdminPassword")->echoMode(), QLineEdit::Password);
        QString typedUrl = url.contains(QLatin1String("%1")) ? url.arg(m_script.url()) : url;
        if (url == QLatin1String("canned")) {
            m_canned.setReply("/login.cgi",
                CannedHttpServer::Reply { status, status == 200 ? "OK" : "Internal Server Error", body, {}, false });
            typedUrl = m_canned.url(QStringLiteral("/login.cgi"));
        }
        child<QLineEdit>(window, "txtAdminURL")->setText(typedUrl);
        child<QLineEdit>(window, "txtAdminUserID")->setText(QStringLiteral(" admin "));
        child<QLineEdit>(window, "txtAdminPassword")->setText(password);

        child<QPushButton>(window, "cmdCheck")->click();
        QVERIFY(!child<QPushButton>(window, "cmdOK")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "cmdCancel")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(install.boxes.shown().size(), 1, 90000);
        const bool success = message == QLatin1String("Connected successfully to the admin panel");
        QCOMPARE(install.boxes.shown().at(0).text, message);
        QCOMPARE(install.boxes.shown().at(0).title, success ? QStringLiteral("Success") : QStringLiteral("Failed"));
        QCOMPARE(install.boxes.shown().at(0).icon,
            success ? Common::MessageBox::Icon::Information : Common::MessageBox::Icon::Critical);
        QVERIFY(child<QPushButton>(window, "cmdOK")->isEnabled());
        QCOMPARE(child<QLineEdit>(window, "txtAdminURL")->text(), typedUrl.trimmed());
        QCOMPARE(child<QLineEdit>(window, "txtAdminUserID")->text(), QStringLiteral("admin"));

        child<QPushButton>(window, "cmdCancel")->click();
        QCOMPARE(window.result(), int(QDialog::Rejected));
        QCOMPARE(install.settings, before);
        QCOMPARE(install.stored("AdminURL"), QStringLiteral("<absent>"));
    }

    void setupOkStoresTrimmedTexts_data()
    {
        QTest::addColumn<QString>("typed"); // none: a desktop's setup left it in the keyring, out of reach here
        QTest::newRow("typed") << QStringLiteral(" p w ");
        QTest::newRow("unread, left empty") << QString();
    }

    void setupOkStoresTrimmedTexts()
    {
        QFETCH(QString, typed);
        Installation install(QStringLiteral("http://old.test/"));
        install.settings.AdminPassword = typed;
        QVERIFY(Settings::WriteSetting(install.hive, Settings::appKeyPath(), Settings::settingsSection(),
            QStringLiteral("AdminURL"), install.settings.AdminURL));
        frmSetup window(install.services());
        QCOMPARE(child<QLabel>(window, "lblPasswordPlace")->text()
                == Settings::PasswordStore(install.hive).unavailableNote(),
            !typed.isEmpty());
        child<QLineEdit>(window, "txtAdminURL")->setText(QStringLiteral("  http://new.test/cgi-bin/dir/admin.cgi "));
        child<QLineEdit>(window, "txtAdminUserID")->setText(QStringLiteral(" admin "));
        child<QLineEdit>(window, "txtAdminPassword")->setText(typed);
        child<QPushButton>(window, "cmdOK")->click();
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(install.settings.AdminURL, QStringLiteral("http://new.test/cgi-bin/dir/admin.cgi"));
        QCOMPARE(install.stored("AdminURL"), QStringLiteral("http://new.test/cgi-bin/dir/admin.cgi"));
        QCOMPARE(install.stored("AdminUserID"), QStringLiteral("admin"));
        QCOMPARE(install.stored("AdminPassword"), typed.isEmpty() ? QStringLiteral("<absent>") : QStringLiteral("p w"));
    }

    void importWindowStoresAValidMode()
    {
        Installation install(m_script.url());
        install.settings.ImportLinksMode = 7;
        install.settings.ImportLinksPeriod = 99;
        frmImport window(install.services());
        QVERIFY(child<QRadioButton>(window, "optImportAll")->isChecked());
        QCOMPARE(install.settings.ImportLinksMode, 1);
        QCOMPARE(install.stored("ImportLinksMode"), QStringLiteral("1"));
        QCOMPARE(child<QComboBox>(window, "cboLinksPeriod")->count(), 16);
        QCOMPARE(child<QComboBox>(window, "cboLinksPeriod")->currentText(), QStringLiteral("24 Hours"));
        child<QRadioButton>(window, "optImportAllWithoutWithin")->click();
        QCOMPARE(install.stored("ImportLinksMode"), QStringLiteral("4"));
        QCOMPARE(install.stored("ImportLinksPeriod"), QStringLiteral("<absent>"));
    }

    void importSendsTheChosenListsAndRefreshesTheMainWindow()
    {
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "1|http://a.test/\r\n2|http://b.test/", {}, false });
        Installation install(m_canned.url());
        install.settings.ImportLinksPeriod = 5;
        frmImport window(install.services());
        child<QRadioButton>(window, "optImportSubmitted")->click();
        child<QComboBox>(window, "cboLinksPeriod")->setCurrentIndex(3);
        child<QComboBox>(window, "cboLinksPeriod1")->setCurrentIndex(8);
        QSignalSpy finished(&window.import(), &LinksImport::importFinished);
        child<QPushButton>(window, "cmdImport")->click();
        QVERIFY(!child<QPushButton>(window, "cmdCancel")->isEnabled());
        QVERIFY(!child<QRadioButton>(window, "optImportAll")->isEnabled());
        QVERIFY(finished.wait(90000));
        const auto fields = AdminTest::decodeForm(m_canned.requests().constLast().body);
        QCOMPARE(fields.mid(3),
            (QList<QPair<QString, QString>> { { QStringLiteral("ImportLinksMode"), QStringLiteral("2") },
                { QStringLiteral("LinksPeriod"), QStringLiteral("3") },
                { QStringLiteral("LinksPeriod1"), QStringLiteral("8") } }));
        QCOMPARE(readAll(install.database()), QByteArray("1|http://a.test/\r\n2|http://b.test/"));
        QCOMPARE(child<QLabel>(window, "lblTotalLinks")->text(), QStringLiteral("2"));
        QCOMPARE(install.refreshes, 1);
        QVERIFY(child<QPushButton>(window, "cmdCancel")->isEnabled());
        QVERIFY(child<QRadioButton>(window, "optImportAll")->isEnabled());
    }

    void failedImportShowsTheErrorAndKeepsTheDatabase()
    {
        m_canned.setReply(CannedHttpServer::Reply { 500, "Internal Server Error", "x", {}, false });
        Installation install(m_canned.url());
        QDir().mkpath(install.appPath() + QStringLiteral("data"));
        QFile old(install.database());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("9|http://old.test/\r\n");
        old.close();
        frmImport window(install.services());
        {
            // A run holds the program folder: the script is not even asked.
            const auto run = Batch::FolderLock::forRun(install.appPath(), {});
            const qsizetype asked = m_canned.requests().size();
            child<QPushButton>(window, "cmdImport")->click();
            QCOMPARE(install.boxes.shown().size(), 1);
            QCOMPARE(m_canned.requests().size(), asked);
        }
        QSignalSpy finished(&window.import(), &LinksImport::importFinished);
        child<QPushButton>(window, "cmdImport")->click();
        QVERIFY(finished.wait(90000));
        QCOMPARE(window.statusText(), QStringLiteral("Error #500: Internal Server Error"));
        QCOMPARE(readAll(install.database()), QByteArray("9|http://old.test/\r\n"));
        QCOMPARE(install.refreshes, 0);
    }

    void closingTheImportWindowCutsTheRequest()
    {
        m_canned.setReply("/silent.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        Installation install(m_canned.url(QStringLiteral("/silent.cgi")));
        frmImport window(install.services());
        window.show();
        QSignalSpy received(&m_canned, &CannedHttpServer::requestReceived);
        child<QPushButton>(window, "cmdImport")->click();
        QVERIFY(received.wait(30000));
        QVERIFY(window.import().channel().isBusy());
        window.close();
        QVERIFY(!window.import().isBusy());
        QVERIFY(!window.import().channel().isBusy());
        QVERIFY(!window.isVisible());
        QVERIFY(!QFile::exists(install.database()));
    }

    void uploadSlidersAreStoredAtOnce()
    {
        Installation install(m_script.url());
        frmUpload window(install.services(), 1, 50);
        QCOMPARE(child<QSlider>(window, "ConnectionsSlider")->value(), 2);
        QCOMPARE(child<QSlider>(window, "FilesSlider")->value(), 10);
        QCOMPARE(child<QLineEdit>(window, "txtUploadTo")->text(), QStringLiteral("50"));
        child<QSlider>(window, "ConnectionsSlider")->setValue(7);
        child<QSlider>(window, "FilesSlider")->setValue(33);
        QCOMPARE(install.stored("UploadConnections"), QStringLiteral("7"));
        QCOMPARE(install.stored("UploadConnectionFiles"), QStringLiteral("33"));
        QCOMPARE(install.settings.UploadConnections, 7);
        QCOMPARE(child<QLabel>(window, "lblFiles")->text(), QStringLiteral("33"));
    }

    void uploadStopsAndGoesOnFromTheRange()
    {
        QDir snapshots(m_script.snapshotsFolder());
        for (const QString& name : snapshots.entryList(QDir::Files))
            snapshots.remove(name);
        Installation install(m_script.url());
        for (int i = 0; i < 100; ++i) {
            QFile file(install.settings.ViewerFolder + QStringLiteral("/%1.jpg").arg(i + 1000));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(i == 0 ? 0 : 20, 'x'));
        }
        install.settings.UploadConnections = 3;
        frmUpload window(install.services(), 1, 100);
        QTRY_COMPARE(child<QLabel>(window, "lblFilesCount")->text(), QStringLiteral("100"));
        QSignalSpy finished(&window.run(), &UploadRun::finished);
        child<QPushButton>(window, "cmdUpload")->click();
        QCOMPARE(child<QTreeWidget>(window, "lvwUpload")->topLevelItemCount(), 3);
        QVERIFY(!child<QPushButton>(window, "cmdCancel")->isEnabled());
        child<QPushButton>(window, "cmdStop")->click();
        QVERIFY(!child<QPushButton>(window, "cmdPause")->isEnabled());
        QVERIFY(finished.wait(90000));
        QCOMPARE(child<QLineEdit>(window, "txtUploadFrom")->text(), QStringLiteral("31"));
        QCOMPARE(child<QLineEdit>(window, "txtUploadTo")->text(), QStringLiteral("100"));
        QVERIFY(child<QRadioButton>(window, "optUploadRange")->isChecked());
        QCOMPARE(child<QLabel>(window, "lblSkipped")->text(), QStringLiteral("1"));
        QCOMPARE(child<QLabel>(window, "lblSuccess")->text(), QStringLiteral("29"));
        QCOMPARE(
            child<QTreeWidget>(window, "lvwUpload")->topLevelItem(0)->text(2), QStringLiteral("Connection Closed"));

        child<QPushButton>(window, "cmdUpload")->click();
        QVERIFY(finished.wait(90000));
        QCOMPARE(child<QLabel>(window, "lblUploadTotal")->text(), QStringLiteral("70"));
        QCOMPARE(child<QLabel>(window, "lblUploadDone")->text(), QStringLiteral("70"));
        QCOMPARE(child<QLabel>(window, "lblSuccess")->text(), QStringLiteral("70"));
        QCOMPARE(snapshots.entryList(QDir::Files).size(), 99);
        QVERIFY(window.logText().contains(QLatin1String("Saved 1099.jpg (20 bytes)\r\n")));
        QVERIFY(child<QPlainTextEdit>(window, "txtLog")->toPlainText().contains(QLatin1String("Saved 1099.jpg")));
        QVERIFY(child<QPushButton>(window, "cmdCancel")->isEnabled());
    }

    void pauseTogglesItsCaption()
    {
        m_canned.setReply("/silent.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        Installation install(m_canned.url(QStringLiteral("/silent.cgi")));
        QFile file(install.settings.ViewerFolder + QStringLiteral("/a.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc");
        file.close();
        frmUpload window(install.services(), 1, 1);
        {
            // A run holds the thumbnails' folder.
            const auto run = Batch::FolderLock::forRun({}, install.settings.ViewerFolder);
            child<QPushButton>(window, "cmdUpload")->click();
            QVERIFY(!window.run().isRunning());
            QCOMPARE(install.boxes.shown().size(), 1);
        }
        child<QPushButton>(window, "cmdUpload")->click();
        QPushButton* pause = child<QPushButton>(window, "cmdPause");
        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Resume"));
        QVERIFY(window.run().isPaused());
        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Pause"));
        child<QPushButton>(window, "cmdAbort")->click();
        QVERIFY(!window.run().isRunning());
        QCOMPARE(child<QLabel>(window, "lblFailed")->text(), QStringLiteral("1"));
        QVERIFY(child<QPushButton>(window, "cmdUpload")->isEnabled());
    }

private:
    AdminScriptServer m_script;
    CannedHttpServer m_canned;
};

QTEST_MAIN(tst_AdminWindows)
#include "tst_adminwindows.moc"
