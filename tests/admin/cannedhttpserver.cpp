#include "cannedhttpserver.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace AdminTest {

CannedHttpServer::CannedHttpServer(QObject* parent)
    : QObject(parent)
{
}

CannedHttpServer::~CannedHttpServer()
{
    const auto sockets = m_buffers.keys();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

bool CannedHttpServer::listen(const QSslConfiguration* tls)
{
    if (tls) {
        auto* server = new QSslServer(this);
        server->setSslConfiguration(*tls);
        m_server = server;
    } else {
        m_server = new QTcpServer(this);
    }
    m_tls = tls != nullptr;
    // QSslServer hands out a connection only once its handshake is done.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &CannedHttpServer::handleConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString CannedHttpServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_server ? m_server->serverPort() : 0)
        .arg(path);
}

void CannedHttpServer::handleConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void CannedHttpServer::handleReadable(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    m_requests.append(request);

    const Reply reply = m_routes.value(request.path.split('?').value(0), m_default);
    Q_EMIT requestReceived();
    if (reply.silent)
        return;
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
    for (const auto& header : reply.headers)
        response += header.first + ": " + header.second + "\r\n";
    response += "Content-Type: text/plain\r\nContent-Length: "
        + QByteArray::number(reply.body.size() + (reply.cut ? 1000 : 0))
        + (reply.keepOpen ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n") + reply.body;
    socket->write(response);
    if (!reply.keepOpen)
        socket->disconnectFromHost();
}

QList<QPair<QString, QString>> decodeForm(const QByteArray& body)
{
    QList<QPair<QString, QString>> fields;
    for (const QByteArray& pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        QByteArray name = pair.left(eq), value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        fields.append({ QUrl::fromPercentEncoding(name), QUrl::fromPercentEncoding(value) });
    }
    return fields;
}

QList<MultipartPart> decodeMultipart(const QByteArray& contentType, const QByteArray& body)
{
    QList<MultipartPart> parts;
    const qsizetype at = contentType.indexOf("boundary=");
    if (at < 0)
        return parts;
    QByteArray boundary = contentType.mid(at + 9);
    if (boundary.startsWith('"'))
        boundary = boundary.mid(1, boundary.indexOf('"', 1) - 1);
    const QByteArray delimiter = "--" + boundary;
    qsizetype pos = body.indexOf(delimiter);
    static const QRegularExpression nameRe(QStringLiteral("\\bname=\"([^\"]*)\""));
    static const QRegularExpression fileRe(QStringLiteral("\\bfilename=\"([^\"]*)\""));
    while (pos >= 0) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            break;
        const qsizetype headerEnd = body.indexOf("\r\n\r\n", pos);
        const qsizetype next = body.indexOf(QByteArray("\r\n" + delimiter), headerEnd);
        if (headerEnd < 0 || next < 0)
            break;
        const QString headers = QString::fromUtf8(body.mid(pos, headerEnd - pos));
        MultipartPart part;
        part.name = nameRe.match(headers).captured(1);
        part.fileName = fileRe.match(headers).captured(1);
        part.content = body.mid(headerEnd + 4, next - headerEnd - 4);
        parts.append(part);
        pos = next + 2;
    }
    return parts;
}

} // namespace AdminTest
