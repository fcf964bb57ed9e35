#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
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

using Settings::PasswordStore;

// A Secret Service that takes every call and never answers.
class SilentService final : public QDBusVirtualObject {
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
    QString introspect(const QString&) const override { return {}; }
};

// Each row needs a process of its own, since libsecret keeps its first bus for good: ctest runs every row
// alone on a private session bus (dbus-run-session).
class TestPasswordStore final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void save_data()
    {
        QTest::addColumn<QString>("keyring");
        QTest::addColumn<QString>("before"); // the settings store's copy from an earlier save
        QTest::addColumn<bool>("kept"); // the keyring took it: the store has no copy
        QTest::newRow("keyring") << "real"
                                 << "" << true;
        QTest::newRow("moved") << "real"
                               << "old" << true;
        QTest::newRow("nobus") << "none"
                               << "old" << false;
        QTest::newRow("silent") << "silent"
                                << "" << false;
    }
    void save()
    {
        QFETCH(QString, keyring);
        QFETCH(QString, before);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        QProcess daemon;
        SilentService silent;
        if (keyring == QLatin1String("none")) {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qunsetenv("DISPLAY");
        } else if (keyring == QLatin1String("silent")) {
            QDBusConnection::sessionBus().registerVirtualObject(QStringLiteral("/"), &silent, QDBusConnection::SubPath);
            QVERIFY(QDBusConnection::sessionBus().registerService(QStringLiteral("org.freedesktop.secrets")));
        } else {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char* name : { "HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR" })
                env.insert(QLatin1String(name), dir.path());
            daemon.setProcessEnvironment(env);
            daemon.start(QStringLiteral("gnome-keyring-daemon"),
                { QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets") });
            daemon.write("test password");
            daemon.closeWriteChannel();
            QTRY_VERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.secrets")));
        }
        Settings::Hive hive(dir.filePath(QStringLiteral("registry.db")));
        const auto stored = [&hive] {
            return Settings::ReadSetting(hive, Settings::appKeyPath(), Settings::settingsSection(),
                QStringLiteral("AdminPassword"), QStringLiteral("<none>"))
                .toString();
        };
        if (!before.isEmpty())
            Settings::WriteSetting(
                hive, Settings::appKeyPath(), Settings::settingsSection(), QStringLiteral("AdminPassword"), before);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QByteArray request;
        connect(&server, &QTcpServer::newConnection, this, [&server, &request] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &request] {
                request += socket->readAll();
                socket->write("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nNO");
                socket->disconnectFromHost();
            });
        });
        PasswordStore store(hive, std::chrono::milliseconds(1500));
        const QString url = QStringLiteral("http://127.0.0.1:%1/admin.cgi").arg(server.serverPort());
        QVERIFY(store.save(url + QLatin1Char('2'), QStringLiteral("admin"), QStringLiteral("other")));
        const auto saved = store.save(url, QStringLiteral("admin"), QStringLiteral("s3cret"));
        QVERIFY(saved);
        QCOMPARE(saved.value().note.isEmpty(), kept);
        QCOMPARE(stored(), kept ? QStringLiteral("<none>") : QStringLiteral("s3cret"));
        QCOMPARE(store.read(url, QStringLiteral("admin")).value(), QStringLiteral("s3cret"));

        // Without the store's copy only the keyring can answer, and the admin command sends what it gave.
        QVERIFY(Settings::RemoveSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), QStringLiteral("AdminPassword")));
        Settings::LiveSettings settings;
        settings.AdminURL = url;
        settings.AdminUserID = QStringLiteral("admin");
        Cli::Invocation call;
        call.command = Cli::Invocation::Command::Count;
        Cli::AdminCommand command(settings, hive, dir.path(), call);
        QSignalSpy finished(&command, &Cli::AdminCommand::finished);
        QElapsedTimer clock;
        clock.start();
        command.start();
        QVERIFY(finished.wait(15000));
        QVERIFY(clock.elapsed() < 7000);
        QCOMPARE(request.contains("ZendiroAdminPassword=s3cret"), kept);
        QCOMPARE(request.isEmpty(), keyring == QLatin1String("silent"));
    }
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
