#include <csignal>

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

private Q_SLOTS:
    void save_data()
    {
        QTest::addColumn<int>("keyring");
        QTest::addColumn<QString>("before"); // the settings store's copy from an earlier save
        QTest::addColumn<bool>("kept"); // the keyring took it: the store keeps no copy
        QTest::newRow("keyring") << int(Real) << QString() << true;
        QTest::newRow("moved") << int(Real) << QStringLiteral("old") << true;
        QTest::newRow("nobus") << int(NoBus) << QStringLiteral("old") << false;
        QTest::newRow("frozen") << int(Frozen) << QString() << false;
    }
    void save()
    {
        QFETCH(int, keyring);
        QFETCH(QString, before);
        QFETCH(bool, kept);
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
            if (keyring == Frozen) // a keyring that takes calls and never answers them
                ::kill(pid_t(daemon.processId()), SIGSTOP);
        }
        Settings::Hive hive(dir.filePath(QStringLiteral("registry.db")));
        const QString app = Settings::appKeyPath(), section = Settings::settingsSection();
        const QString key = QStringLiteral("AdminPassword"), user = QStringLiteral("admin");
        QVERIFY(Settings::WriteSetting(hive, app, section, key, before));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        Settings::PasswordStore store(hive, std::chrono::milliseconds(1500));
        const QString url = QStringLiteral("http://127.0.0.1:%1/admin.cgi").arg(server.serverPort());
        QVERIFY(store.save(url + QLatin1Char('2'), user, QStringLiteral("other")));
        QCOMPARE(store.save(url, user, QStringLiteral("s3cret")).value().note.isEmpty(), kept);
        QCOMPARE(Settings::ReadSetting(hive, app, section, key, QVariant()).isValid(), !kept);

        // Only the keyring can answer now: the command sends what it gave, or nothing past its 5 s deadline.
        QVERIFY(Settings::RemoveSetting(hive, app, section, key));
        Settings::LiveSettings settings;
        settings.AdminURL = url;
        settings.AdminUserID = user;
        Cli::Invocation call;
        call.command = Cli::Invocation::Command::Count;
        Cli::AdminCommand command(settings, hive, dir.path(), call);
        QSignalSpy finished(&command, &Cli::AdminCommand::finished);
        command.start();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || server.hasPendingConnections(), 7000);
        QByteArray request;
        if (QTcpSocket* socket = server.nextPendingConnection())
            QTRY_VERIFY((request += socket->readAll()).contains("action="));
        QCOMPARE(request.contains("ZendiroAdminPassword=s3cret"), kept);
        QCOMPARE(request.isEmpty(), keyring == Frozen);
    }
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
