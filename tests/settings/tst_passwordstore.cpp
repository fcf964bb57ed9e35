#include <csignal>

#include <sqlite3.h>

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "cli/admincommand.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"
#include "settings/settingsstore.h"

// libsecret keeps the first bus it found: ctest runs each row alone on a private bus (dbus-run-session).
class TestPasswordStore final : public QObject {
    Q_OBJECT
    enum Keyring { Real, NoBus, Frozen };
    using Place = Settings::PasswordStore::Place;

private Q_SLOTS:
    void save_data()
    {
        QTest::addColumn<int>("keyring");
        QTest::addColumn<int>("before"); // where an earlier save put "old"; -1: nowhere
        QTest::addColumn<int>("wanted"); // the place this save of "s3cret" asks for; -1 for no save
        QTest::addColumn<bool>("busy"); // another writer holds the settings store meanwhile: the save fails
        QTest::addColumn<bool>("inStore"); // the settings store holds a copy afterwards
        QTest::addColumn<QByteArray>("sent"); // the password `count` sends; null for no request at all
        const int keyring = int(Place::Keyring), store = int(Place::SettingsStore);
        QTest::newRow("keyring") << int(Real) << -1 << keyring << false << false << QByteArray("s3cret");
        QTest::newRow("moved") << int(Real) << store << keyring << false << false << QByteArray("s3cret");
        QTest::newRow("tosettings") << int(Real) << keyring << store << false << true << QByteArray("s3cret");
        QTest::newRow("nobus") << int(NoBus) << store << keyring << false << true << QByteArray("s3cret");
        QTest::newRow("frozen") << int(Frozen) << -1 << keyring << false << true << QByteArray("s3cret");
        QTest::newRow("busytosettings") << int(Real) << keyring << store << true << false << QByteArray("old");
        QTest::newRow("busytokeyring") << int(Real) << store << keyring << true << true << QByteArray("old");
        QTest::newRow("cron") << int(NoBus) << -1 << -1 << false << false << QByteArray();
        QTest::newRow("noentry") << int(Real) << -1 << -1 << false << false << QByteArray();
        QTest::newRow("frozenread") << int(Frozen) << keyring << -1 << false << false << QByteArray();
    }
    void save()
    {
        QFETCH(int, keyring);
        QFETCH(int, before);
        QFETCH(int, wanted);
        QFETCH(bool, busy);
        QFETCH(bool, inStore);
        QFETCH(QByteArray, sent);
        QTemporaryDir dir;
        QProcess daemon;
        if (keyring == NoBus) {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qunsetenv("DISPLAY");
        } else {
            for (const char* name : { "HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR" })
                qputenv(name, dir.path().toUtf8());
            daemon.start(QStringLiteral("gnome-keyring-daemon"),
                { QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets") });
            daemon.write("test password");
            daemon.closeWriteChannel();
            QTRY_VERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.secrets")));
        }
        Settings::Hive hive(dir.filePath(QStringLiteral("registry.db")));
        const QString app = Settings::appKeyPath(), section = Settings::settingsSection();
        const QString key = QStringLiteral("AdminPassword"), user = QStringLiteral("admin");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        Settings::PasswordStore store(hive, std::chrono::milliseconds(1500));
        const QString url = QStringLiteral("http://127.0.0.1:%1/admin.cgi").arg(server.serverPort());
        QVERIFY(Settings::WriteSetting(hive, app, section, QStringLiteral("AdminURL"), url)); // as setup stores it
        if (before >= 0) // beside another directory's entry, which must not answer for this one
            QVERIFY(store.save(url + QLatin1Char('2'), user, QStringLiteral("other"), Place::Keyring)
                && store.save(url, user, QStringLiteral("old"), Place(before)));
        if (keyring == Frozen) // a keyring that takes calls and never answers them
            ::kill(pid_t(daemon.processId()), SIGSTOP);
        sqlite3* writer = nullptr;
        if (busy)
            QVERIFY(!sqlite3_open(qPrintable(hive.filePath()), &writer)
                && !sqlite3_exec(writer, "BEGIN IMMEDIATE", {}, {}, {}));
        if (wanted >= 0) { // with a note when the keyring did not take what was meant for it
            const auto saved = store.save(url, user, QStringLiteral("s3cret"), Place(wanted));
            QCOMPARE(saved && saved.value().note.isEmpty() == (keyring == Real || wanted == int(Place::SettingsStore)),
                !busy);
        }
        sqlite3_close(writer);
        QCOMPARE(Settings::ReadSetting(hive, app, section, key, QVariant()).isValid(), inStore);

        // Loaded as `pictavo count` loads it: the store's answer is sent, or nothing past the keyring's time-out.
        Settings::LiveSettings settings = Settings::LoadSettings(hive, dir.path());
        settings.AdminURL = url;
        settings.AdminUserID = user;
        Cli::Invocation call;
        call.command = Cli::Invocation::Command::Count;
        Cli::AdminCommand command(settings, hive, dir.path(), call);
        QSignalSpy finished(&command, &Cli::AdminCommand::finished);
        command.start();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || server.hasPendingConnections(),
            2 * int(Settings::PasswordStore::DefaultTimeout.count()));
        QByteArray request;
        if (QTcpSocket* socket = server.nextPendingConnection())
            QTRY_VERIFY((request += socket->readAll()).contains("action="));
        QCOMPARE(request.isEmpty(), sent.isNull());
        QVERIFY(
            sent.isNull() ? finished.at(0).at(0) == 2 : request.contains(QByteArray("ZendiroAdminPassword=" + sent)));
    }
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
