#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace CaptureTest {

// A small HTTP/1.1 server on 127.0.0.1 for capture tests: each path answers with a fixed response,
// optionally after a delay, or never. Unknown paths get 404. Every connection is closed when the
// server is destroyed.
class TestHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    struct Response {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        int delayMs = 0;
        // Accept the request and never answer it.
        bool hang = false;
        // Send the body one byte at a time, this many milliseconds apart.
        int trickleMs = 0;
        // Sent as the Location header (for redirects).
        QByteArray location;
    };

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // On 127.0.0.1, or another loopback address: a site of its own to the browser.
    bool listen(const QString& address = QStringLiteral("127.0.0.1"));
    quint16 port() const;
    // http://127.0.0.1:<port><path>, or with host instead of 127.0.0.1 (a name the tests' resolver
    // rules map to 127.0.0.1).
    QString url(const QString& path, const QString& host = QStringLiteral("127.0.0.1")) const;
    void setRoute(const QString& path, const Response& response);
    void setPage(const QString& path, const QByteArray& html);
    int requestCount(const QString& path) const;

private:
    void handleConnection();
    void handleReadable(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Response& response);

    QTcpServer* m_server = nullptr;
    QHash<QString, Response> m_routes;
    QHash<QString, int> m_requests;
};

} // namespace CaptureTest
