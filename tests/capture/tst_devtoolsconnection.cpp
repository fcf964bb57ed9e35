#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include "capture/devtoolsconnection.h"
#include "capture/devtoolssession.h"
#include "capture/pipetransport.h"

#include <fcntl.h>
#include <unistd.h>

using namespace Capture;
using namespace std::chrono_literals;

// The pipe framing and the call bookkeeping, with the test playing the browser's end of two real
// pipes.
class TestDevToolsConnection final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void splitsMessagesOnNul_data();
    void splitsMessagesOnNul();
    void sendsNulTerminatedMessages();
    void endOfFileClosesOnce();
    void callEndsOnce_data();
    void callEndsOnce();
    void crashedSessionFailsItsCallsAtOnce();
    void closingFailsEveryCall();
    void droppedContextSilencesTheCallback();

private:
    void browserWrites(const QByteArray& bytes);
    QByteArray browserReads();
    QJsonObject lastRequest();

    int m_toBrowser[2] = { -1, -1 };
    int m_fromBrowser[2] = { -1, -1 };
    PipeTransport* m_transport = nullptr;
    std::unique_ptr<DevToolsConnection> m_connection;
};

void TestDevToolsConnection::init()
{
    QCOMPARE(::pipe2(m_toBrowser, O_CLOEXEC), 0);
    QCOMPARE(::pipe2(m_fromBrowser, O_CLOEXEC), 0);
    ::fcntl(m_toBrowser[0], F_SETFL, O_NONBLOCK);
    m_transport = new PipeTransport(m_fromBrowser[0], m_toBrowser[1]);
    m_connection = std::make_unique<DevToolsConnection>(m_transport);
}

void TestDevToolsConnection::cleanup()
{
    m_connection.reset();
    for (int* fd : { &m_toBrowser[0], &m_fromBrowser[1] }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void TestDevToolsConnection::browserWrites(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fromBrowser[1], bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0)
            done += n;
        else
            QCoreApplication::processEvents();
    }
}

QByteArray TestDevToolsConnection::browserReads()
{
    QByteArray all;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(m_toBrowser[0], buffer, sizeof buffer)) > 0)
        all.append(buffer, n);
    return all;
}

QJsonObject TestDevToolsConnection::lastRequest()
{
    const QList<QByteArray> messages = browserReads().split('\0');
    for (qsizetype i = messages.size() - 1; i >= 0; --i) {
        if (!messages.at(i).isEmpty())
            return QJsonDocument::fromJson(messages.at(i)).object();
    }
    return {};
}

void TestDevToolsConnection::splitsMessagesOnNul_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("methods");

    QTest::newRow("one per write") << QList<QByteArray> { "{\"method\":\"a\"}\0"_qba, "{\"method\":\"b\"}\0"_qba }
                                   << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::newRow("two in one write") << QList<QByteArray> { "{\"method\":\"a\"}\0{\"method\":\"b\"}\0"_qba }
                                      << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::newRow("split inside a message") << QList<QByteArray> { "{\"meth"_qba, "od\":\"a\"}\0{\"method\""_qba,
        ":\"b\"}\0"_qba } << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::newRow("garbage between") << QList<QByteArray> { "not json\0{\"method\":\"a\"}\0\0"_qba }
                                     << QStringList { QStringLiteral("a") };
}

void TestDevToolsConnection::splitsMessagesOnNul()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, methods);

    QSignalSpy events(m_connection.get(), &DevToolsConnection::browserEvent);
    for (const QByteArray& bytes : std::as_const(writes)) {
        browserWrites(bytes);
        QTest::qWait(0);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(events.size(), methods.size());
    for (qsizetype i = 0; i < methods.size(); ++i)
        QCOMPARE(events.at(i).at(0).toString(), methods.at(i));
}

void TestDevToolsConnection::sendsNulTerminatedMessages()
{
    // Bigger than a pipe's buffer: the rest goes out as the reader drains it.
    const QString big(300000, QLatin1Char('x'));
    m_connection->post({}, QStringLiteral("Big.method"), { { QStringLiteral("text"), big } });
    m_connection->post(QStringLiteral("S1"), QStringLiteral("Small.method"));
    QByteArray received;
    QTRY_VERIFY((received += browserReads()).count('\0') == 2);
    const QList<QByteArray> messages = received.split('\0');
    const QJsonObject first = QJsonDocument::fromJson(messages.at(0)).object();
    QCOMPARE(first.value(QLatin1String("params")).toObject().value(QLatin1String("text")).toString(), big);
    const QJsonObject second = QJsonDocument::fromJson(messages.at(1)).object();
    QCOMPARE(second.value(QLatin1String("sessionId")).toString(), QStringLiteral("S1"));
    QVERIFY(first.value(QLatin1String("id")).toInteger() != second.value(QLatin1String("id")).toInteger());
}

void TestDevToolsConnection::endOfFileClosesOnce()
{
    QSignalSpy closed(m_connection.get(), &DevToolsConnection::closed);
    QSignalSpy events(m_connection.get(), &DevToolsConnection::browserEvent);
    browserWrites("{\"method\":\"last\"}\0{\"method\":\"cut"_qba);
    ::close(m_fromBrowser[1]);
    m_fromBrowser[1] = -1;
    QTRY_COMPARE(closed.size(), 1);
    QCOMPARE(events.size(), 1);
    QVERIFY(!m_connection->isOpen());
    QTest::qWait(50);
    QCOMPARE(closed.size(), 1);
}

void TestDevToolsConnection::callEndsOnce_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("number");

    QTest::newRow("result") << QByteArray(R"({"id":%1,"result":{"value":7}})") << true << 0;
    QTest::newRow("error") << QByteArray(R"({"id":%1,"error":{"code":-32000,"message":"Cannot navigate"}})") << false
                           << -32000;
    QTest::newRow("no reply") << QByteArray() << false << CallError::TimedOut;
}

void TestDevToolsConnection::callEndsOnce()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(int, number);

    QList<DevToolsConnection::Reply> replies;
    const quint64 id = m_connection->call({}, QStringLiteral("Some.method"), {}, 300ms, this,
        [&replies](const DevToolsConnection::Reply& r) { replies.append(r); });
    QCOMPARE(static_cast<quint64>(lastRequest().value(QLatin1String("id")).toInteger()), id);
    if (!reply.isEmpty())
        browserWrites(QString::fromLatin1(reply).arg(id).toLatin1() + '\0');
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0).ok(), ok);
    if (ok)
        QCOMPARE(replies.at(0).value().value(QLatin1String("value")).toInt(), 7);
    else
        QCOMPARE(replies.at(0).error().number, number);

    // A late reply after the deadline, or a duplicate, ends nothing twice.
    browserWrites(QString::fromLatin1(R"({"id":%1,"result":{}})").arg(id).toLatin1() + '\0');
    QTest::qWait(400);
    QCOMPARE(replies.size(), 1);
}

void TestDevToolsConnection::crashedSessionFailsItsCallsAtOnce()
{
    DevToolsSession crashed(m_connection.get(), QStringLiteral("S1"));
    DevToolsSession healthy(m_connection.get(), QStringLiteral("S2"));
    QSignalSpy crashedEvents(&crashed, &DevToolsSession::eventReceived);
    QSignalSpy healthyEvents(&healthy, &DevToolsSession::eventReceived);
    QList<int> crashedErrors;
    int healthyReplies = 0;
    crashed.call(QStringLiteral("Page.captureScreenshot"), {}, 60s,
        [&](const DevToolsConnection::Reply& r) { crashedErrors.append(r ? 0 : r.error().number); });
    healthy.call(
        QStringLiteral("Page.captureScreenshot"), {}, 60s, [&](const DevToolsConnection::Reply&) { ++healthyReplies; });

    browserWrites(R"({"method":"Inspector.targetCrashed","params":{},"sessionId":"S1"})"_qba + '\0');
    QTRY_COMPARE(crashedEvents.size(), 1);
    QCOMPARE(crashedErrors, QList<int> { CallError::SessionLost });
    QCOMPARE(healthyEvents.size(), 0);
    QCOMPARE(healthyReplies, 0);
}

void TestDevToolsConnection::closingFailsEveryCall()
{
    DevToolsSession session(m_connection.get(), QStringLiteral("S1"));
    QList<int> errors;
    m_connection->call({}, QStringLiteral("A.b"), {}, 60s, this,
        [&](const DevToolsConnection::Reply& r) { errors.append(r ? 0 : r.error().number); });
    session.call(QStringLiteral("C.d"), {}, 60s,
        [&](const DevToolsConnection::Reply& r) { errors.append(r ? 0 : r.error().number); });
    ::close(m_fromBrowser[1]);
    m_fromBrowser[1] = -1;
    QTRY_COMPARE(errors.size(), 2);
    QCOMPARE(errors, (QList<int> { CallError::ConnectionClosed, CallError::ConnectionClosed }));

    // Calls after the end fail too, from the event loop.
    m_connection->call({}, QStringLiteral("E.f"), {}, 60s, this,
        [&](const DevToolsConnection::Reply& r) { errors.append(r ? 0 : r.error().number); });
    QCOMPARE(errors.size(), 2);
    QTRY_COMPARE(errors.size(), 3);
}

void TestDevToolsConnection::droppedContextSilencesTheCallback()
{
    int calls = 0;
    auto context = std::make_unique<QObject>();
    const quint64 id = m_connection->call(
        {}, QStringLiteral("A.b"), {}, 60s, context.get(), [&calls](const DevToolsConnection::Reply&) { ++calls; });
    auto session = std::make_unique<DevToolsSession>(m_connection.get(), QStringLiteral("S1"));
    session->call(QStringLiteral("C.d"), {}, 60s, [&calls](const DevToolsConnection::Reply&) { ++calls; });
    context.reset();
    session.reset();
    browserWrites(QString::fromLatin1(R"({"id":%1,"result":{}})").arg(id).toLatin1() + '\0');
    ::close(m_fromBrowser[1]);
    m_fromBrowser[1] = -1;
    QTRY_VERIFY(!m_connection->isOpen());
    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(TestDevToolsConnection)
#include "tst_devtoolsconnection.moc"
