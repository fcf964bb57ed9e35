#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "admin/adminchannel.h"
#include "admin/adminrequests.h"
#include "admin/linksimport.h"

using namespace Admin;

namespace {

QString tool(const char* name) { return QStringLiteral(PICTAVO_SOURCE_DIR "/tools/admin/") + QLatin1String(name); }

// Runs a script to its end; its standard output, or nothing when it failed.
std::optional<QByteArray> runScript(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Stops the server of a state folder when the test ends, passed or not.
struct ServerGuard {
    QString state;
    ~ServerGuard() { runScript(tool("stop"), { QStringLiteral("--state"), state }); }
};

} // namespace

// The start and stop scripts that the README and the demo use: the demo directory is served, the
// program's import takes it, and stop leaves no server behind.
class tst_AdminScripts final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void demoDirectoryRoundTrip()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("server"));
        ServerGuard guard { state };
        const auto started = runScript(tool("start"),
            { QStringLiteral("--state"), state, QStringLiteral("--demo"), QStringLiteral("--password"),
                QStringLiteral("de\"mo pw") });
        QVERIFY(started.has_value());
        const QString url = QString::fromUtf8(*started).trimmed();
        QVERIFY2(url.startsWith(QLatin1String("http://127.0.0.1:")), qPrintable(url));

        const AdminLogin login { url, QStringLiteral("admin"), QStringLiteral("de\"mo pw") };
        AdminChannel channel;
        QSignalSpy finished(&channel, &AdminChannel::finished);
        std::optional<AdminReply> reply;
        channel.send(loginRequest(login), [&](const AdminReply& r) { reply = r; });
        QVERIFY(finished.wait(60000));
        QVERIFY(isLoginAccepted(*reply));

        const QString database = dir.filePath(QStringLiteral("app/data/LinksInfo.txt"));
        LinksImport import(database);
        QSignalSpy imported(&import, &LinksImport::importFinished);
        import.importLinks(login, 2, 6, 0); // submitted within 48 hours
        QVERIFY(imported.wait(60000));
        QVERIFY(imported.at(0).at(0).toBool());
        const int recent = imported.at(0).at(1).toInt();
        QVERIFY2(recent > 0 && recent < 50, qPrintable(QString::number(recent)));
        import.importLinks(login, 1, 5, 5);
        QVERIFY(imported.wait(60000));
        QCOMPARE(imported.at(1).at(1).toInt(), 50);

        // Every link points at a demo page that the same server serves.
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> first = file.readLine().trimmed().split('|');
        QVERIFY(first.value(1).startsWith(QByteArray(url.section(QLatin1Char('/'), 0, 2).toLatin1() + "/demo/")));
        channel.send(
            { QString::fromLatin1(first.value(1)), {}, {}, false, {}, 30000 }, [&](const AdminReply& r) { reply = r; });
        QVERIFY(finished.wait(60000));
        QCOMPARE(reply->statusCode, 200);
        QVERIFY(reply->body->contains("<h1>"));

        const QString pid
            = QString::fromLatin1(runScript(QStringLiteral("cat"), { state + QStringLiteral("/lighttpd.pid") })
                                      .value_or(QByteArray())
                                      .trimmed());
        QVERIFY(!pid.isEmpty());
        QVERIFY(runScript(tool("stop"), { QStringLiteral("--state"), state }).has_value());
        QVERIFY(!QDir(QStringLiteral("/proc/") + pid).exists());
    }
};

QTEST_GUILESS_MAIN(tst_AdminScripts)
#include "tst_adminscripts.moc"
