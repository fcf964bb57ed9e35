#include "browsertrace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "capture/browserhost.h"
#include "capture/devtoolsconnection.h"

namespace {

// Enough to tell which process and thread spent the processor on what: "toplevel" tasks carry each
// task's thread time and where it was posted from, the timeline's events say what a renderer did.
// blink, cc, viz and navigation would multiply the trace's size (about 3 MB a page with them) and
// its own cost.
const char* const kCategories[]
    = { "toplevel", "__metadata", "disabled-by-default-devtools.timeline", "v8.execute", "gpu" };

} // namespace

BrowserTrace::BrowserTrace(const QString& file, QObject* parent)
    : QObject(parent)
    , m_file(file)
{
}

void BrowserTrace::start(Capture::BrowserHost& host)
{
    if (m_file.isOpen())
        return;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream(stderr) << "cannot write " << m_file.fileName() << '\n';
        return;
    }
    m_file.write("{\"traceEvents\":[\n");
    host.whenReady(this, [this](const Common::Result<Capture::DevToolsConnection*>& connection) {
        if (!connection) {
            QTextStream(stderr) << "trace: " << connection.error().message << '\n';
            return;
        }
        m_connection = connection.value();
        connect(m_connection, &Capture::DevToolsConnection::browserEvent, this, &BrowserTrace::handleEvent);
        QJsonArray categories;
        for (const char* category : kCategories)
            categories.append(QLatin1String(category));
        const QJsonObject config { { QStringLiteral("includedCategories"), categories },
            { QStringLiteral("recordMode"), QStringLiteral("recordContinuously") } };
        m_connection->call({}, QStringLiteral("Tracing.start"),
            { { QStringLiteral("traceConfig"), config },
                { QStringLiteral("transferMode"), QStringLiteral("ReportEvents") } },
            std::chrono::milliseconds(10000), this, [](const Capture::DevToolsConnection::Reply& reply) {
                if (!reply)
                    QTextStream(stderr) << "Tracing.start: " << reply.error().message << '\n';
            });
    });
}

void BrowserTrace::handleEvent(const QString& method, const QJsonObject& params)
{
    if (method == QLatin1String("Tracing.dataCollected")) {
        const QJsonArray events = params.value(QLatin1String("value")).toArray();
        for (const QJsonValue& event : events) {
            if (m_events++ > 0)
                m_file.write(",\n");
            m_file.write(QJsonDocument(event.toObject()).toJson(QJsonDocument::Compact));
        }
    } else if (method == QLatin1String("Tracing.tracingComplete")) {
        m_complete = true;
    }
}

bool BrowserTrace::finish(int timeoutMs)
{
    if (!m_file.isOpen())
        return false;
    if (m_connection) {
        m_connection->call({}, QStringLiteral("Tracing.end"), {}, std::chrono::milliseconds(timeoutMs), this,
            [](const Capture::DevToolsConnection::Reply& reply) {
                if (!reply)
                    QTextStream(stderr) << "Tracing.end: " << reply.error().message << '\n';
            });
        QElapsedTimer clock;
        clock.start();
        while (!m_complete && m_connection && clock.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    m_file.write("\n]}\n");
    m_file.close();
    QTextStream(stderr) << "trace: " << m_events << " events in " << m_file.fileName() << '\n';
    return m_complete;
}
