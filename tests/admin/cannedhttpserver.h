#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QSslConfiguration;
class QTcpServer;
class QTcpSocket;

namespace AdminTest {

// A tiny HTTP server on 127.0.0.1 for replies the reference script never gives (a lower-case "ok", a 500,
// a redirect, silence). Every path answers with its canned reply (the default one when it has none) and
// every complete request is recorded. Connections are closed after each reply.
class CannedHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CannedHttpServer)

public:
    struct Reply {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        // Read the request and never answer it.
        bool silent = false;
        // Announce more body than is sent, then close the connection: a reply cut short.
        bool cut = false;
        // Leave the connection open after the reply, as a keep-alive server does (with cut: a body whose
        // end never comes).
        bool keepOpen = false;
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };

    explicit CannedHttpServer(QObject* parent = nullptr);
    ~CannedHttpServer() override;

    // Plain HTTP, or HTTPS with the certificate and key of `tls`.
    bool listen(const QSslConfiguration* tls = nullptr);
    QString url(const QString& path = QStringLiteral("/admin.cgi")) const;
    void setReply(const Reply& reply) { m_default = reply; }
    void setReply(const QByteArray& path, const Reply& reply) { m_routes.insert(path, reply); }
    const QList<Request>& requests() const { return m_requests; }

Q_SIGNALS:
    void requestReceived();

private:
    void handleConnection();
    void handleReadable(QTcpSocket* socket);

    QTcpServer* m_server = nullptr;
    bool m_tls = false;
    Reply m_default;
    QHash<QByteArray, Reply> m_routes;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<Request> m_requests;
};

// The fields of an application/x-www-form-urlencoded body, in order, decoded.
QList<QPair<QString, QString>> decodeForm(const QByteArray& body);

// The parts of a multipart/form-data body: (name, file name or empty, content), in order.
struct MultipartPart {
    QString name;
    QString fileName;
    QByteArray content;
};
QList<MultipartPart> decodeMultipart(const QByteArray& contentType, const QByteArray& body);

} // namespace AdminTest
