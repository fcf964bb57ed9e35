#include <csignal>

#include <sqlite3.h>

#include <QDBusConnectionInterface>
#include <QDBusInterface>
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
    enum Keyring { Real, NoBus, Frozen, Locked };
    enum Before { Nothing, InKeyring, InStore, EarlierRelease };
    using Place = Settings::PasswordStore::Place;

private Q_SLOTS:
    void save_data()
    {
        QTest::addColumn<int>("keyring");
        QTest::addColumn<int>("before"); // where an earlier save put the password "old"
        QTest::addColumn<int>("wanted"); // the place this save of "s3cret" asks for; -1 for no save
        QTest::addColumn<bool>("storeBusy"); // another writer holds the settings store meanwhile
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("storeCopy"); // the settings store holds the password afterwards
        QTest::addColumn<QByteArray>("sent"); // the password `count` sends; null for no request at all
        const int keyring = int(Place::Keyring), store = int(Place::SettingsStore);
        const QByteArray s3cret = "s3cret", old = "old", none;
        QTest::newRow("keyring") << int(Real) << int(Nothing) << keyring << false << true << false << s3cret;
        QTest::newRow("moved") << int(Real) << int(InStore) << keyring << false << true << false << s3cret;
        QTest::newRow("tosettings") << int(Real) << int(InKeyring) << store << false << true << true << s3cret;
        QTest::newRow("nobus") << int(NoBus) << int(InStore) << keyring << false << true << true << s3cret;
        QTest::newRow("frozen") << int(Frozen) << int(Nothing) << keyring << false << true << true << s3cret;
        QTest::newRow("busytosettings") << int(Real) << int(InKeyring) << store << true << false << false << old;
        QTest::newRow("busytokeyring") << int(Real) << int(InStore) << keyring << true << false << true << old;
        QTest::newRow("cron") << int(NoBus) << int(EarlierRelease) << -1 << false << true << false << none;
        QTest::newRow("frozenread") << int(Frozen) << int(InKeyring) << -1 << false << true << false << none;
        QTest::newRow("locked") << int(Locked) << int(InKeyring) << -1 << false << true << false << none;
    }
    void save()
    {
        QFETCH(int, keyring);
        QFETCH(int, before);
        QFETCH(int, wanted);
        QFETCH(bool, storeBusy);
        QFETCH(bool, saved);
        QFETCH(bool, storeCopy);
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
        const QString path = dir.filePath(QStringLiteral("registry.db"));
        Settings::Hive hive(path);
        const QString app = Settings::appKeyPath(), section = Settings::settingsSection();
        const QString user = QStringLiteral("admin");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        Settings::PasswordStore store(hive, std::chrono::milliseconds(1500));
        const QString url = QStringLiteral("http://127.0.0.1:%1/admin.cgi").arg(server.serverPort());
        if (keyring != NoBus) // another directory's entry, which must not answer for this one
            QVERIFY(store.save(url + QLatin1Char('2'), user, QStringLiteral("other"), Place::Keyring));
        if (before == InKeyring || before == InStore)
            QVERIFY(store.save(
                url, user, QStringLiteral("old"), before == InKeyring ? Place::Keyring : Place::SettingsStore));
        else if (before == EarlierRelease) // a desktop setup's address and login, the password in the keyring
            QVERIFY(Settings::WriteSetting(hive, app, section, QStringLiteral("AdminURL"), url));
        if (keyring == Frozen) // a keyring that takes calls and never answers them
            ::kill(pid_t(daemon.processId()), SIGSTOP);
        if (keyring == Locked) {
            QDBusInterface secrets(QStringLiteral("org.freedesktop.secrets"),
                QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"));
            const QList<QDBusObjectPath> all { QDBusObjectPath(
                QStringLiteral("/org/freedesktop/secrets/aliases/default")) };
            QVERIFY(
                secrets.call(QStringLiteral("Lock"), QVariant::fromValue(all)).type() == QDBusMessage::ReplyMessage);
        }
        sqlite3* writer = nullptr;
        if (storeBusy) {
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &writer), SQLITE_OK);
            QCOMPARE(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        if (wanted >= 0) {
            const auto result = store.save(url, user, QStringLiteral("s3cret"), Place(wanted));
            QCOMPARE(result.ok(), saved);
            // A note says why the keyring did not take what was meant for it.
            if (result)
                QCOMPARE(result.value().note.isEmpty(), !(wanted == int(Place::Keyring) && storeCopy));
        }
        sqlite3_close(writer);
        QCOMPARE(Settings::ReadSetting(hive, app, section, QStringLiteral("AdminPassword"), QVariant()).isValid(),
            storeCopy);

        // As `pictavo count` would load it: it sends what the store gives, or nothing past the keyring's time-out.
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
        QVERIFY2(sent.isNull() ? finished.at(0).at(0).toInt() == 2
                               : request.contains(QByteArray("ZendiroAdminPassword=" + sent)),
            request.constData());
    }
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
