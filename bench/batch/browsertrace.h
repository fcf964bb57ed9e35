#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>

namespace Capture {
class BrowserHost;
class DevToolsConnection;
}

// Records the browser's own trace (every process: browser, renderers, GPU, utilities) into a JSON
// file Chrome's trace viewer and bench/trace/analyse.py read. Chunks are written as they arrive, so a
// long run does not hold its trace in memory. Bench code; GUI thread only.
class BrowserTrace final : public QObject {
public:
    explicit BrowserTrace(const QString& file, QObject* parent = nullptr);

    // Starts the browser when needed and starts tracing in it; captures begun before the browser
    // replied are traced from that moment on.
    void start(Capture::BrowserHost& host);
    // Ends tracing and waits (running the event loop) until the browser has sent everything, at most
    // timeoutMs. False when the trace is incomplete.
    bool finish(int timeoutMs = 60000);

private:
    void handleEvent(const QString& method, const QJsonObject& params);

    QFile m_file;
    QPointer<Capture::DevToolsConnection> m_connection;
    qint64 m_events = 0;
    bool m_complete = false;
};
