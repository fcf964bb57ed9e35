#include <QFile>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTest>

#include "admin/adminchannel.h"
#include "admin/adminrequests.h"
#include "adminscriptserver.h"
#include "cannedhttpserver.h"
#include "settings/livesettings.h"

using namespace Admin;
using AdminTest::AdminScriptServer;
using AdminTest::CannedHttpServer;

namespace {

using Fields = QList<QPair<QString, QString>>;

// Sends one request and waits for its single result.
std::optional<AdminReply> exchange(AdminChannel& channel, const AdminRequest& request)
{
    std::optional<AdminReply> result;
    int calls = 0;
    QSignalSpy finished(&channel, &AdminChannel::finished);
    channel.send(request, [&](const AdminReply& reply) {
        result = reply;
        ++calls;
    });
    if (!finished.wait(90000) || calls != 1 || finished.size() != 1)
        return std::nullopt;
    return result;
}

AdminLogin testLogin(const QString& url)
{
    return { url, QStringLiteral("admin"), QString::fromLatin1(AdminScriptServer::Password) };
}

std::optional<bool> checkLogin(const QString& url, const QString& user, const QString& password)
{
    Settings::LiveSettings settings;
    settings.AdminURL = url;
    settings.AdminUserID = user;
    settings.AdminPassword = password;
    AdminChannel channel;
    std::optional<bool> accepted;
    QSignalSpy finished(&channel, &AdminChannel::finished);
    CheckAdminLogin(channel, settings, [&](bool ok) { accepted = ok; });
    if (!finished.wait(90000))
        return std::nullopt;
    return accepted;
}

} // namespace

class tst_AdminChannel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_script.start(&error), qPrintable(error));
        QVERIFY(m_canned.listen());
    }

    void formFieldsArriveInOrder_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<Fields>("expected");
        const QString user = QStringLiteral("admin");
        const QString password = QString::fromLatin1(AdminScriptServer::Password);
        auto head = [&](const char* action) {
            return Fields { { QStringLiteral("ZendiroAdminUserID"), user },
                { QStringLiteral("ZendiroAdminPassword"), password },
                { QStringLiteral("action"), QLatin1String(action) } };
        };
        QTest::newRow("login") << 0 << head("PictavoLogin");
        QTest::newRow("count") << 1 << head("PictavoGetTotalLinksCount");
        Fields import = head("PictavoImportLinksInfo");
        import << qMakePair(QStringLiteral("ImportLinksMode"), QStringLiteral("2"))
               << qMakePair(QStringLiteral("LinksPeriod"), QStringLiteral("3"))
               << qMakePair(QStringLiteral("LinksPeriod1"), QStringLiteral("8"));
        QTest::newRow("import mode 2, 6 hours, 1 week") << 2 << import;
    }

    void formFieldsArriveInOrder()
    {
        QFETCH(int, operation);
        QFETCH(Fields, expected);
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "OK", {}, false });
        const AdminLogin login = testLogin(m_canned.url());
        const AdminRequest request = operation == 0 ? loginRequest(login)
            : operation == 1                        ? totalLinksCountRequest(login)
                                                    : importLinksRequest(login, 2, 3, 8);
        QCOMPARE(request.timeoutMs, 60000);
        AdminChannel channel;
        const auto reply = exchange(channel, request);
        QVERIFY(reply && reply->completed);
        const auto& received = m_canned.requests().constLast();
        QCOMPARE(received.method, QByteArray("POST"));
        QCOMPARE(received.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(AdminTest::decodeForm(received.body), expected);
    }

    void uploadStreamsNamedPartsWithClientName()
    {
        QTemporaryDir dir;
        QByteArray binary(70000, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 7);
        const QString first = dir.filePath(QStringLiteral("17.jpg"));
        const QString second = dir.filePath(QStringLiteral("na\"me é.png"));
        QFile f1(first), f2(second);
        QVERIFY(f1.open(QIODevice::WriteOnly) && f1.write(binary) == binary.size());
        QVERIFY(f2.open(QIODevice::WriteOnly) && f2.write("\r\n--x\r\n") == 7);
        f1.close();
        f2.close();

        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", "stored", {}, false });
        AdminChannel channel;
        const auto reply = exchange(channel,
            uploadRequest(testLogin(m_canned.url()),
                { { QStringLiteral("UploadFile_4"), first }, { QStringLiteral("UploadFile_5"), second } },
                QStringLiteral("Pictavo Studio")));
        QVERIFY(reply && reply->completed);
        QCOMPARE(*reply->body, QByteArray("stored"));
        const auto& received = m_canned.requests().constLast();
        QCOMPARE(received.headers.value("user-agent"), QByteArray("Pictavo Studio"));
        const auto parts = AdminTest::decodeMultipart(received.headers.value("content-type"), received.body);
        QCOMPARE(parts.size(), 5);
        QCOMPARE(parts[0].name, QStringLiteral("ZendiroAdminUserID"));
        QCOMPARE(parts[1].content, QByteArray(AdminScriptServer::Password));
        QCOMPARE(parts[2].content, QByteArray("SnapshotUploadFiles"));
        QCOMPARE(parts[3].name, QStringLiteral("UploadFile_4"));
        QCOMPARE(parts[3].fileName, QStringLiteral("17.jpg"));
        QCOMPARE(parts[3].content, binary);
        QCOMPARE(parts[4].name, QStringLiteral("UploadFile_5"));
        QCOMPARE(parts[4].fileName, QStringLiteral("na%22me é.png"));
        QCOMPARE(parts[4].content, QByteArray("\r\n--x\r\n"));
    }

    void unreadableUploadFileFailsTheBatch()
    {
        const qsizetype before = m_canned.requests().size();
        AdminChannel channel;
        const auto reply = exchange(channel,
            uploadRequest(testLogin(m_canned.url()),
                { { QStringLiteral("UploadFile_0"), QStringLiteral("/nonexistent/gone.jpg") } },
                QStringLiteral("Pictavo Studio")));
        QVERIFY(reply);
        QVERIFY(!reply->completed);
        QVERIFY2(reply->statusText.startsWith(QLatin1String("Cannot open /nonexistent/gone.jpg")),
            qPrintable(reply->statusText));
        QCOMPARE(m_canned.requests().size(), before);
        QCOMPARE(channel.state(), int(AdminChannel::Closed));
    }

    void loginReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("OK") << 200 << QByteArray("OK") << true;
        QTest::newRow("ok") << 200 << QByteArray("ok") << false;
        QTest::newRow("OK and LF") << 200 << QByteArray("OK\n") << false;
        QTest::newRow("OK and CR LF") << 200 << QByteArray("OK\r\n") << false;
        QTest::newRow("blank and OK") << 200 << QByteArray(" OK") << false;
        QTest::newRow("empty") << 200 << QByteArray() << false;
        QTest::newRow("500 saying OK") << 500 << QByteArray("OK") << false;
    }

    void loginReplies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, accepted);
        m_canned.setReply(
            CannedHttpServer::Reply { status, status == 200 ? "OK" : "Internal Server Error", body, {}, false });
        QCOMPARE(checkLogin(m_canned.url(), QStringLiteral("admin"), QStringLiteral("pw")), accepted);
    }

    void loginAgainstReferenceScript()
    {
        const QString password = QString::fromLatin1(AdminScriptServer::Password);
        {
            // The main window empties its status text on every notification of the check.
            Settings::LiveSettings settings;
            settings.AdminURL = m_script.url();
            settings.AdminUserID = QStringLiteral("admin");
            settings.AdminPassword = password;
            AdminChannel channel;
            QSignalSpy finished(&channel, &AdminChannel::finished);
            int notifications = 0;
            std::optional<bool> accepted;
            CheckAdminLogin(
                channel, settings, [&](bool ok) { accepted = ok; }, [&] { ++notifications; });
            QVERIFY(finished.wait(90000));
            QCOMPARE(accepted, true);
            QVERIFY(notifications >= 1);
            const int seen = notifications;
            // A later exchange on the same channel no longer reaches the check's listener.
            QVERIFY(exchange(channel, totalLinksCountRequest(testLogin(m_script.url()))).has_value());
            QCOMPARE(notifications, seen);
        }
        QCOMPARE(checkLogin(m_script.url(), QStringLiteral("admin"), password), true);
        QCOMPARE(checkLogin(m_script.url(), QStringLiteral("admin"), password + QLatin1Char('x')), false);
        QCOMPARE(checkLogin(m_script.url(), QStringLiteral("Admin"), password), false);
    }

    void unusableAddressesFailLikeAnUnreachableHost_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank") << QStringLiteral("   ");
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/cgi-bin/dir/admin.cgi");
        QTest::newRow("missing slashes") << QStringLiteral("http:127.0.0.1/admin.cgi");
        QTest::newRow("bad port") << QStringLiteral("http://127.0.0.1:99999/admin.cgi");
        QTest::newRow("file scheme") << QStringLiteral("file:///etc/passwd");
        QTest::newRow("nobody listening") << QStringLiteral("http://127.0.0.1:1/admin.cgi");
    }

    void unusableAddressesFailLikeAnUnreachableHost()
    {
        QFETCH(QString, url);
        AdminChannel channel;
        QSignalSpy states(&channel, &AdminChannel::stateChanged);
        const auto reply = exchange(channel, loginRequest(testLogin(url)));
        QVERIFY(reply);
        QVERIFY(!reply->completed);
        QCOMPARE(reply->statusCode, 0);
        QVERIFY(!reply->body.has_value());
        QVERIFY(!reply->statusText.isEmpty());
        QCOMPARE(importFailureText(*reply).left(9), QStringLiteral("Error #0:"));
        QCOMPARE(channel.state(), int(AdminChannel::Closed));
        QVERIFY(!channel.isBusy());
        QCOMPARE(checkLogin(url, QStringLiteral("admin"), QStringLiteral("pw")), false);
    }

    void countReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("count");
        QTest::newRow("Count=1234") << 200 << QByteArray("Count=1234") << 1234;
        QTest::newRow("Count= alone") << 200 << QByteArray("Count=") << 0;
        QTest::newRow("digits and letters") << 200 << QByteArray("Count=12ab") << 0;
        QTest::newRow("no Count=") << 200 << QByteArray("1234") << 0;
        QTest::newRow("Count= twice") << 200 << QByteArray("Count=Count=7") << 7;
        QTest::newRow("negative") << 200 << QByteArray("Count=-5") << 0;
        QTest::newRow("too big") << 200 << QByteArray("Count=99999999999") << 0;
        QTest::newRow("404") << 404 << QByteArray("Count=5") << 0;
    }

    void countReplies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, count);
        m_canned.setReply(CannedHttpServer::Reply { status, "Whatever", body, {}, false });
        AdminChannel channel;
        const auto reply = exchange(channel, totalLinksCountRequest(testLogin(m_canned.url())));
        QVERIFY(reply);
        QCOMPARE(totalLinksCount(*reply), count);
    }

    void countFromReferenceScript()
    {
        m_script.setLinks("1|http://a.test/|A|0\r\n2|http://b.test/|B|0\r\n3|http://c.test/|C|0\r\n");
        AdminChannel channel;
        const auto reply = exchange(channel, totalLinksCountRequest(testLogin(m_script.url())));
        QVERIFY(reply);
        QCOMPARE(totalLinksCount(*reply), 3);
        const auto refused = exchange(
            channel, totalLinksCountRequest({ m_script.url(), QStringLiteral("admin"), QStringLiteral("no") }));
        QVERIFY(refused && refused->completed);
        QCOMPARE(refused->statusCode, 403);
        QCOMPARE(totalLinksCount(*refused), 0);
    }

    void failureTextCarriesStatusAndDescription()
    {
        m_canned.setReply(CannedHttpServer::Reply { 500, "Internal Server Error", "boom", {}, false });
        AdminChannel channel;
        const auto reply = exchange(channel, importLinksRequest(testLogin(m_canned.url()), 1, 5, 5));
        QVERIFY(reply && reply->completed);
        QCOMPARE(importFailureText(*reply), QStringLiteral("Error #500: Internal Server Error"));
        // A description can only carry a carriage return when some proxy made one up.
        QCOMPARE(importFailureText({ true, 404, QStringLiteral("Not\r Found\r"), std::nullopt, false }),
            QStringLiteral("Error #404: Not Found"));
    }

    void oversizedReplyIsRefused()
    {
        m_canned.setReply(CannedHttpServer::Reply { 200, "OK", QByteArray(12 << 20, 'x'), {}, false });
        AdminChannel channel;
        const auto reply = exchange(channel, totalLinksCountRequest(testLogin(m_canned.url())));
        QVERIFY(reply);
        QVERIFY(!reply->completed);
        QCOMPARE(reply->statusText, QStringLiteral("The server's reply is too large"));
        QVERIFY(!channel.isBusy());
    }

    void redirectsAreFollowed()
    {
        CannedHttpServer::Reply moved { 307, "Temporary Redirect", {}, {}, false };
        moved.headers.append({ "Location", m_canned.url(QStringLiteral("/new.cgi")).toLatin1() });
        m_canned.setReply("/old.cgi", moved);
        m_canned.setReply("/new.cgi", CannedHttpServer::Reply { 200, "OK", "OK", {}, false });
        QCOMPARE(
            checkLogin(m_canned.url(QStringLiteral("/old.cgi")), QStringLiteral("admin"), QStringLiteral("pw")), true);
        QCOMPARE(m_canned.requests().constLast().path, QByteArray("/new.cgi"));
        QCOMPARE(AdminTest::decodeForm(m_canned.requests().constLast().body).value(2).second,
            QStringLiteral("PictavoLogin"));
    }

    void httpsWorksAndRefusesAnUntrustedServer()
    {
        QFile certFile(QStringLiteral(PICTAVO_ADMIN_TEST_DATA "/localhost-cert.pem"));
        QFile keyFile(QStringLiteral(PICTAVO_ADMIN_TEST_DATA "/localhost-key.pem"));
        QVERIFY(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
        const QSslCertificate certificate(&certFile, QSsl::Pem);
        const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        QVERIFY(!certificate.isNull() && !key.isNull());
        QSslConfiguration serverTls = QSslConfiguration::defaultConfiguration();
        serverTls.setLocalCertificate(certificate);
        serverTls.setPrivateKey(key);
        CannedHttpServer server;
        QVERIFY(server.listen(&serverTls));
        server.setReply(CannedHttpServer::Reply { 200, "OK", "OK", {}, false });

        // Not yet trusted: the exchange must fail rather than talk to an unknown party.
        QCOMPARE(checkLogin(server.url(), QStringLiteral("admin"), QStringLiteral("pw")), false);
        QVERIFY(server.requests().isEmpty());

        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = original;
        trusting.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(trusting);
        const auto accepted = checkLogin(server.url(), QStringLiteral("admin"), QStringLiteral("pw"));
        QSslConfiguration::setDefaultConfiguration(original);
        QCOMPARE(accepted, true);
        QCOMPARE(
            AdminTest::decodeForm(server.requests().constLast().body).value(2).second, QStringLiteral("PictavoLogin"));
    }

    void silentServerEndsAtTheDeadline()
    {
        m_canned.setReply("/silent.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        AdminRequest request = loginRequest(testLogin(m_canned.url(QStringLiteral("/silent.cgi"))));
        request.timeoutMs = 300;
        AdminChannel channel;
        const auto reply = exchange(channel, request);
        QVERIFY(reply);
        QVERIFY(!reply->completed);
        QVERIFY(!reply->aborted);
        QCOMPARE(reply->statusText, QStringLiteral("Operation timed out"));
    }

    void abortEndsTheExchangeOnce()
    {
        m_canned.setReply("/silent.cgi", CannedHttpServer::Reply { 200, "OK", {}, {}, true });
        AdminChannel channel;
        QSignalSpy received(&m_canned, &CannedHttpServer::requestReceived);
        QSignalSpy finished(&channel, &AdminChannel::finished);
        QSignalSpy progress(&channel, &AdminChannel::progressChanged);
        int calls = 0;
        channel.send(
            loginRequest(testLogin(m_canned.url(QStringLiteral("/silent.cgi")))), [&](const AdminReply& reply) {
                ++calls;
                QVERIFY(reply.aborted);
            });
        QVERIFY(channel.isBusy());
        QVERIFY(received.wait(30000));
        channel.abort();
        QCOMPARE(calls, 1);
        QCOMPARE(finished.size(), 1);
        QVERIFY(!channel.isBusy());
        QCOMPARE(channel.state(), int(AdminChannel::Closed));
        QCOMPARE(progress.constLast().at(0).toInt(), int(AdminChannel::DonePhase));
        QCOMPARE(progress.constLast().at(1).toInt(), 1);
        channel.abort();
        QCOMPARE(finished.size(), 1);
    }

    void statesRunFromConnectingToClosed()
    {
        AdminChannel channel;
        QSignalSpy states(&channel, &AdminChannel::stateChanged);
        QSignalSpy progress(&channel, &AdminChannel::progressChanged);
        const auto reply = exchange(channel, loginRequest(testLogin(m_script.url())));
        QVERIFY(reply && reply->completed);
        QList<int> seen;
        for (const auto& args : states)
            seen.append(args.at(0).toInt());
        QCOMPARE(seen.first(), int(AdminChannel::Connecting));
        QVERIFY(seen.contains(int(AdminChannel::Sending)));
        QCOMPARE(seen.mid(seen.size() - 2), (QList<int> { AdminChannel::Closing, AdminChannel::Closed }));
        QCOMPARE(progress.constLast().at(0).toInt(), int(AdminChannel::DonePhase));
        QCOMPARE(progress.constLast().at(1).toInt(), 0);
    }

private:
    AdminScriptServer m_script;
    CannedHttpServer m_canned;
};

QTEST_GUILESS_MAIN(tst_AdminChannel)
#include "tst_adminchannel.moc"
