#include "testhttpserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace CaptureTest {

namespace {

    QByteArray reasonFor(int status)
    {
        switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 410:
            return "Gone";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
        }
    }

} // namespace

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::handleConnection);
}

TestHttpServer::~TestHttpServer()
{
    const auto sockets = findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

bool TestHttpServer::listen(const QString& address)
{
    const QHostAddress host(address);
    return host.isLoopback() && m_server->listen(host, 0);
}

quint16 TestHttpServer::port() const { return m_server->serverPort(); }

QString TestHttpServer::url(const QString& path, const QString& host) const
{
    return QStringLiteral("http://%1:%2%3").arg(host).arg(port()).arg(path);
}

void TestHttpServer::setRoute(const QString& path, const Response& response) { m_routes.insert(path, response); }

void TestHttpServer::setPage(const QString& path, const QByteArray& html)
{
    Response response;
    response.body = html;
    setRoute(path, response);
}

int TestHttpServer::requestCount(const QString& path) const { return m_requests.value(path); }

void TestHttpServer::handleConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TestHttpServer::handleReadable(QTcpSocket* socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (socket->property("answered").toBool())
        return;
    // Not HTTP at all (a TLS handshake, say): answer in plain HTTP, which the client cannot use.
    const bool looksLikeHttp = !request.isEmpty() && request.at(0) >= 'A' && request.at(0) <= 'Z';
    if (!looksLikeHttp) {
        socket->setProperty("answered", true);
        Response refused;
        refused.status = 400;
        respond(socket, refused);
        return;
    }
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);

    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    QString path = QString::fromLatin1(requestLine.value(1));
    const qsizetype query = path.indexOf(QLatin1Char('?'));
    if (query >= 0)
        path.truncate(query);
    m_requests[path] += 1;

    Response response;
    const auto it = m_routes.constFind(path);
    if (it != m_routes.constEnd()) {
        response = it.value();
    } else {
        response.status = 404;
        response.body = "<html><body><h1>Not here</h1></body></html>";
    }
    if (response.hang)
        return;
    if (response.delayMs <= 0) {
        respond(socket, response);
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(response.delayMs, this, [this, guard, response] {
        if (guard)
            respond(guard, response);
    });
}

void TestHttpServer::respond(QTcpSocket* socket, const Response& response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonFor(response.status) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (response.trickleMs <= 0) {
        socket->write(head + response.body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(head);
    auto* timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket, timer, body = response.body, sent = qsizetype(0)]() mutable {
        if (sent >= body.size()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(body.mid(sent++, 1));
    });
    timer->start(response.trickleMs);
}

} // namespace CaptureTest
