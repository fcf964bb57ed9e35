// A stand-in for remote browser machines: N consecutive ports on 127.0.0.1, each answering the
// DevTools calls a capture makes as one remote headless browser would, without rendering anything.
// Every screenshot is answered with one prepared picture after a set latency (the time a remote
// machine spends loading and rendering the page), so one controller can be driven at the rate of a
// whole farm of browsers on a single small machine. Like a browser, it answers a clip's scale with a
// picture of that scale (made once per size); --full-size sends the 1024 x 768 picture whatever
// the call asks, the controller's worst case.
//
//   devtoolsstandin [--ports 20] [--base-port 19300] [--latency 300] [--format jpeg|png]
//                   [--pictures 64] [--full-size] [--drop PORT:N]...
//
// --drop PORT:N answers PORT's N-th screenshot, then closes every connection of that port and stops
// listening there: a browser machine that dies in the middle of a run.
// Single-threaded; prints "listening" once every port is open, and a count of screenshots per port
// when it ends (SIGINT or SIGTERM).

#include <cmath>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include <QBuffer>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A page-like picture: a header, columns of text lines, a photo block. Lines of varied length give
// it a look of its own (a nearly uniform picture would count as blank); each seed another layout.
QImage preparePicture(unsigned seed)
{
    QImage image(1024, 768, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    std::mt19937 random(seed);
    painter.fillRect(0, 0, 1024, 72, QColor(0x1F, 0x3A, 0x5F));
    painter.fillRect(32, 20, 260, 32, QColor(0xF0, 0xC0, 0x40));
    QLinearGradient photo(600, 110, 980, 400);
    photo.setColorAt(0, QColor(0x30, 0x80, 0xC0));
    photo.setColorAt(1, QColor(0xE0, 0x70, 0x30));
    painter.fillRect(600, 110, 380, 290, photo);
    for (int y = 110; y < 740; y += 22) {
        const int right = y < 410 ? 560 : 980;
        int x = 40;
        while (x < right - 30) {
            const int word = 18 + int(random() % 70);
            painter.fillRect(x, y, std::min(word, right - x), 11, QColor(0x33, 0x33, 0x33));
            x += word + 8;
        }
    }
    painter.end();
    return image;
}

QString encodedPicture(const QImage& image, const QByteArray& format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format.constData(), 90);
    return QString::fromLatin1(bytes.toBase64());
}

struct Options {
    int latencyMs = 300;
    QByteArray format = "jpeg";
    bool fullSize = false;
    // The full-size pictures, handed out in turn, and their base64 per size asked for.
    QList<QImage> pictures;
    mutable std::map<std::pair<int, int>, QStringList> encoded;
    mutable qsizetype next = 0;
    const QString& picture(double scale) const
    {
        const QSize full = pictures.constFirst().size();
        QSize size = full;
        if (!fullSize && scale > 0 && scale < 1)
            size = QSize(std::max(1, int(std::lround(full.width() * scale))),
                std::max(1, int(std::lround(full.height() * scale))));
        QStringList& list = encoded[{ size.width(), size.height() }];
        if (list.isEmpty())
            for (const QImage& image : pictures)
                list.append(encodedPicture(
                    size == full ? image : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                    format));
        return list.at(next++ % list.size());
    }
    qsizetype averageBytes() const
    {
        const QSize full = pictures.constFirst().size();
        const QStringList& list = encoded.at({ full.width(), full.height() });
        qsizetype bytes = 0;
        for (const QString& picture : list)
            bytes += picture.size() * 3 / 4;
        return bytes / list.size();
    }
};

// One DevTools connection: the browser-level session and the pages' flat sessions on one socket.
class BrowserConnection final : public QObject {
public:
    BrowserConnection(QWebSocket* socket, const Options& options, std::function<void()> screenshotAnswered)
        : QObject(socket)
        , m_socket(socket)
        , m_options(options)
        , m_screenshotAnswered(std::move(screenshotAnswered))
    {
        connect(socket, &QWebSocket::textMessageReceived, this, &BrowserConnection::handleMessage);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    struct Target {
        QString context;
        QString session;
        QString url = QStringLiteral("about:blank");
        int loads = 0;
    };

    void send(const QJsonObject& message)
    {
        if (m_socket)
            m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }
    void reply(const QJsonValue& id, const QString& session, const QJsonObject& result)
    {
        QJsonObject message { { QStringLiteral("id"), id }, { QStringLiteral("result"), result } };
        if (!session.isEmpty())
            message.insert(QStringLiteral("sessionId"), session);
        send(message);
    }
    void event(const QString& session, const QString& method, const QJsonObject& params)
    {
        QJsonObject message { { QStringLiteral("method"), method }, { QStringLiteral("params"), params } };
        if (!session.isEmpty())
            message.insert(QStringLiteral("sessionId"), session);
        send(message);
    }
    QString newId(const char* prefix) { return QString::fromLatin1(prefix) + QString::number(++m_nextId); }

    void handleMessage(const QString& text)
    {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QJsonValue id = message.value(QLatin1String("id"));
        const QString method = message.value(QLatin1String("method")).toString();
        const QJsonObject params = message.value(QLatin1String("params")).toObject();
        const QString session = message.value(QLatin1String("sessionId")).toString();
        if (!session.isEmpty() && !m_sessions.contains(session)) {
            send({ { QStringLiteral("id"), id }, { QStringLiteral("sessionId"), session },
                { QStringLiteral("error"),
                    QJsonObject { { QStringLiteral("code"), -32001 },
                        { QStringLiteral("message"), QStringLiteral("Session with given id not found.") } } } });
            return;
        }
        if (session.isEmpty())
            browserCall(id, method, params);
        else
            pageCall(id, session, m_sessions.value(session), method, params);
    }

    void browserCall(const QJsonValue& id, const QString& method, const QJsonObject& params)
    {
        QJsonObject result;
        if (method == QLatin1String("Browser.getVersion")) {
            result = { { QStringLiteral("protocolVersion"), QStringLiteral("1.3") },
                { QStringLiteral("product"), QStringLiteral("DevToolsStandIn/1.0") } };
        } else if (method == QLatin1String("Target.createBrowserContext")) {
            const QString context = newId("context-");
            m_contexts.insert(context);
            result = { { QStringLiteral("browserContextId"), context } };
        } else if (method == QLatin1String("Target.createTarget")) {
            const QString target = newId("target-");
            m_targets[target].context = params.value(QLatin1String("browserContextId")).toString();
            result = { { QStringLiteral("targetId"), target } };
        } else if (method == QLatin1String("Target.attachToTarget")) {
            const QString target = params.value(QLatin1String("targetId")).toString();
            if (!m_targets.contains(target))
                return error(id, {}, QStringLiteral("No target with given id found"));
            const QString session = newId("session-");
            m_targets[target].session = session;
            m_sessions.insert(session, target);
            result = { { QStringLiteral("sessionId"), session } };
            event({}, QStringLiteral("Target.attachedToTarget"),
                { { QStringLiteral("sessionId"), session }, { QStringLiteral("targetInfo"), targetInfo(target) },
                    { QStringLiteral("waitingForDebugger"), false } });
        } else if (method == QLatin1String("Target.closeTarget")) {
            closeTarget(params.value(QLatin1String("targetId")).toString());
            result = { { QStringLiteral("success"), true } };
        } else if (method == QLatin1String("Target.disposeBrowserContext")) {
            const QString context = params.value(QLatin1String("browserContextId")).toString();
            QStringList targets;
            for (auto it = m_targets.cbegin(); it != m_targets.cend(); ++it) {
                if (it->context == context)
                    targets << it.key();
            }
            for (const QString& target : targets)
                closeTarget(target);
            m_contexts.remove(context);
        } else if (method == QLatin1String("Target.getTargets")) {
            QJsonArray infos;
            for (auto it = m_targets.cbegin(); it != m_targets.cend(); ++it)
                infos.append(targetInfo(it.key()));
            result = { { QStringLiteral("targetInfos"), infos } };
        } else if (!method.startsWith(QLatin1String("Target.")) && !method.startsWith(QLatin1String("Browser."))) {
            return error(id, {}, QStringLiteral("'%1' wasn't found").arg(method));
        }
        reply(id, {}, result);
    }

    void pageCall(const QJsonValue& id, const QString& session, const QString& targetId, const QString& method,
        const QJsonObject& params)
    {
        Target& target = m_targets[targetId];
        QJsonObject result;
        if (method == QLatin1String("Page.navigate")) {
            navigate(id, session, targetId, params.value(QLatin1String("url")).toString());
            return;
        }
        if (method == QLatin1String("Page.captureScreenshot")) {
            // Answered later, unless the page or the connection is gone by then.
            const double scale = params.value(QLatin1String("clip")).toObject().value(QLatin1String("scale")).toDouble(1);
            QTimer::singleShot(m_options.latencyMs, this, [this, id, session, scale] {
                if (!m_sessions.contains(session))
                    return;
                reply(id, session, { { QStringLiteral("data"), m_options.picture(scale) } });
                m_screenshotAnswered();
            });
            return;
        }
        if (method == QLatin1String("Runtime.evaluate")) {
            const QString expression = params.value(QLatin1String("expression")).toString();
            if (expression == QLatin1String("document.title"))
                result = { { QStringLiteral("result"),
                    QJsonObject { { QStringLiteral("type"), QStringLiteral("string") },
                        { QStringLiteral("value"), QStringLiteral("Page %1").arg(target.loads) } } } };
            else
                result = { { QStringLiteral("result"),
                    QJsonObject {
                        { QStringLiteral("type"), QStringLiteral("boolean") }, { QStringLiteral("value"), false } } } };
        } else if (method == QLatin1String("Page.getLayoutMetrics")) {
            const QJsonObject size { { QStringLiteral("x"), 0 }, { QStringLiteral("y"), 0 },
                { QStringLiteral("width"), 1024 }, { QStringLiteral("height"), 768 } };
            result = { { QStringLiteral("cssContentSize"), size }, { QStringLiteral("contentSize"), size } };
        } else if (method == QLatin1String("Storage.getStorageKeyForFrame")) {
            result = { { QStringLiteral("storageKey"), QString(origin(target.url) + u'/') } };
        } else if (method == QLatin1String("Page.getFrameTree")) {
            result = { { QStringLiteral("frameTree"), QJsonObject { { QStringLiteral("frame"), frame(targetId) } } } };
        }
        // Every other call a capture makes (enable, emulation, fetch, storage, cookies) only sets state a
        // real browser would keep; its reply is empty.
        reply(id, session, result);
    }

    void navigate(const QJsonValue& id, const QString& session, const QString& targetId, const QString& url)
    {
        Target& target = m_targets[targetId];
        target.url = url;
        const QString loader = newId("loader-");
        target.loads++;
        reply(id, session, { { QStringLiteral("frameId"), targetId }, { QStringLiteral("loaderId"), loader } });
        if (url != QLatin1String("about:blank")) {
            event(session, QStringLiteral("Network.responseReceived"),
                { { QStringLiteral("requestId"), loader }, { QStringLiteral("loaderId"), loader },
                    { QStringLiteral("type"), QStringLiteral("Document") }, { QStringLiteral("frameId"), targetId },
                    { QStringLiteral("response"),
                        QJsonObject { { QStringLiteral("url"), url }, { QStringLiteral("status"), 200 } } } });
        }
        event(session, QStringLiteral("Page.frameNavigated"),
            { { QStringLiteral("frame"), frame(targetId, loader) },
                { QStringLiteral("type"), QStringLiteral("Navigation") } });
        event(session, QStringLiteral("Page.lifecycleEvent"),
            { { QStringLiteral("frameId"), targetId }, { QStringLiteral("loaderId"), loader },
                { QStringLiteral("name"), QStringLiteral("load") }, { QStringLiteral("timestamp"), 0 } });
    }

    static QString origin(const QString& url)
    {
        const QUrl parsed(url);
        if (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https"))
            return QStringLiteral("://");
        return parsed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    }

    QJsonObject frame(const QString& targetId, const QString& loader = {}) const
    {
        const QString url = m_targets.value(targetId).url;
        return { { QStringLiteral("id"), targetId }, { QStringLiteral("loaderId"), loader },
            { QStringLiteral("url"), url }, { QStringLiteral("securityOrigin"), origin(url) },
            { QStringLiteral("mimeType"), QStringLiteral("text/html") } };
    }

    QJsonObject targetInfo(const QString& targetId) const
    {
        const Target target = m_targets.value(targetId);
        return { { QStringLiteral("targetId"), targetId }, { QStringLiteral("type"), QStringLiteral("page") },
            { QStringLiteral("url"), target.url }, { QStringLiteral("browserContextId"), target.context },
            { QStringLiteral("attached"), !target.session.isEmpty() } };
    }

    void closeTarget(const QString& targetId)
    {
        const auto it = m_targets.find(targetId);
        if (it == m_targets.end())
            return;
        const QString session = it->session;
        m_targets.erase(it);
        if (session.isEmpty())
            return;
        m_sessions.remove(session);
        event({}, QStringLiteral("Target.detachedFromTarget"),
            { { QStringLiteral("sessionId"), session }, { QStringLiteral("targetId"), targetId } });
    }

    void error(const QJsonValue& id, const QString& session, const QString& text)
    {
        QJsonObject message { { QStringLiteral("id"), id },
            { QStringLiteral("error"),
                QJsonObject { { QStringLiteral("code"), -32000 }, { QStringLiteral("message"), text } } } };
        if (!session.isEmpty())
            message.insert(QStringLiteral("sessionId"), session);
        send(message);
    }

    QPointer<QWebSocket> m_socket;
    const Options& m_options;
    std::function<void()> m_screenshotAnswered;
    quint64 m_nextId = 0;
    QSet<QString> m_contexts;
    QHash<QString, Target> m_targets;
    // Session id -> target id.
    QHash<QString, QString> m_sessions;
};

// One port: the HTTP discovery reply and the DevTools WebSocket, as one remote browser serves them.
class Endpoint final : public QObject {
public:
    Endpoint(quint16 port, const Options& options, int dropAfter, QObject* parent)
        : QObject(parent)
        , m_port(port)
        , m_options(options)
        , m_dropAfter(dropAfter)
        , m_server(new QTcpServer(this))
        , m_webSockets(new QWebSocketServer(QStringLiteral("standin"), QWebSocketServer::NonSecureMode, this))
    {
        connect(m_server, &QTcpServer::newConnection, this, &Endpoint::handleNewConnection);
        connect(m_webSockets, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = m_webSockets->nextPendingConnection()) {
                socket->setParent(this);
                socket->setMaxAllowedIncomingMessageSize(64 * 1024 * 1024);
                new BrowserConnection(socket, m_options, [this] { handleScreenshotAnswered(); });
            }
        });
    }

    bool listen() { return m_server->listen(QHostAddress::LocalHost, m_port); }
    quint16 port() const { return m_port; }
    int screenshots() const { return m_screenshots; }

private:
    void handleNewConnection()
    {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { route(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    // The first request on a connection decides: an upgrade goes to the WebSocket server with its
    // bytes unread, anything else gets the discovery reply.
    void route(QTcpSocket* socket)
    {
        const QByteArray head = socket->peek(8192);
        if (!head.contains("\r\n\r\n"))
            return;
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        if (head.toLower().contains("upgrade: websocket")) {
            disconnect(socket, &QTcpSocket::disconnected, socket, nullptr);
            m_webSockets->handleConnection(socket);
            return;
        }
        socket->readAll();
        const QByteArray body
            = QJsonDocument(QJsonObject {
                                { QStringLiteral("Browser"), QStringLiteral("DevToolsStandIn/1.0") },
                                { QStringLiteral("Protocol-Version"), QStringLiteral("1.3") },
                                { QStringLiteral("webSocketDebuggerUrl"),
                                    QStringLiteral("ws://127.0.0.1:%1/devtools/browser/standin").arg(m_port) },
                            })
                  .toJson(QJsonDocument::Compact);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    void handleScreenshotAnswered()
    {
        ++m_screenshots;
        if (m_dropAfter <= 0 || m_screenshots != m_dropAfter)
            return;
        QTextStream(stdout) << "dropping port " << m_port << " after " << m_screenshots << " screenshots" << Qt::endl;
        // After the reply in flight: the machine dies once it has sent it.
        QTimer::singleShot(0, this, [this] {
            m_server->close();
            m_webSockets->close();
            const QList<QWebSocket*> sockets = findChildren<QWebSocket*>();
            for (QWebSocket* socket : sockets)
                socket->abort();
        });
    }

    quint16 m_port;
    const Options& m_options;
    int m_dropAfter;
    int m_screenshots = 0;
    QTcpServer* m_server;
    QWebSocketServer* m_webSockets;
};

int g_signalPipe[2] = { -1, -1 };

void handleSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("ports"), QStringLiteral("number of endpoints"), QStringLiteral("n"), QStringLiteral("20") },
        { QStringLiteral("base-port"), QStringLiteral("first port"), QStringLiteral("port"), QStringLiteral("19300") },
        { QStringLiteral("latency"), QStringLiteral("ms before a screenshot is answered"), QStringLiteral("ms"),
            QStringLiteral("300") },
        { QStringLiteral("format"), QStringLiteral("jpeg or png"), QStringLiteral("format"), QStringLiteral("jpeg") },
        { QStringLiteral("pictures"), QStringLiteral("pictures of different layout, sent in turn"), QStringLiteral("n"),
            QStringLiteral("64") },
        { QStringLiteral("full-size"), QStringLiteral("send the full-size picture whatever scale is asked") },
        { QStringLiteral("drop"), QStringLiteral("close PORT after its N-th screenshot"), QStringLiteral("PORT:N") },
    });
    parser.process(app);

    Options options;
    options.latencyMs = parser.value(QStringLiteral("latency")).toInt();
    options.format = parser.value(QStringLiteral("format")).toLatin1();
    options.fullSize = parser.isSet(QStringLiteral("full-size"));
    const int pictures = std::max(1, parser.value(QStringLiteral("pictures")).toInt());
    for (int i = 0; i < pictures; ++i)
        options.pictures.append(preparePicture(unsigned(7 + i)));
    options.picture(1); // the full-size set, made before the first call

    std::map<quint16, int> drops;
    for (const QString& drop : parser.values(QStringLiteral("drop"))) {
        const QStringList parts = drop.split(u':');
        if (parts.size() == 2)
            drops[quint16(parts.at(0).toUInt())] = parts.at(1).toInt();
    }

    const int count = parser.value(QStringLiteral("ports")).toInt();
    const auto base = quint16(parser.value(QStringLiteral("base-port")).toUInt());
    QList<Endpoint*> endpoints;
    for (int i = 0; i < count; ++i) {
        const auto port = quint16(base + i);
        const auto drop = drops.find(port);
        auto* endpoint = new Endpoint(port, options, drop == drops.end() ? 0 : drop->second, &app);
        if (!endpoint->listen()) {
            QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << '\n';
            return 1;
        }
        endpoints.append(endpoint);
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return 1;
    std::signal(SIGINT, handleSignal);
    std::signal(SIGTERM, handleSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    QTextStream(stdout) << "listening on 127.0.0.1:" << base << ".." << base + count - 1 << ", " << pictures
                        << " pictures of " << options.averageBytes() << " bytes on average at full size, latency " << options.latencyMs
                        << " ms" << Qt::endl;
    const int status = app.exec();
    QTextStream out(stdout);
    int total = 0;
    for (const Endpoint* endpoint : std::as_const(endpoints)) {
        out << endpoint->port() << ':' << endpoint->screenshots() << ' ';
        total += endpoint->screenshots();
    }
    out << "\nscreenshots " << total << Qt::endl;
    return status;
}
