#include "admin/uploadrun.h"

#include <algorithm>
#include <cmath>

#include <QFileInfo>

#include "admin/adminchannel.h"
#include "admin/formatting.h"
#include "common/folderfiles.h"
#include "common/paths.h"

namespace Admin {

namespace {

    int percentOf(qint64 done, qint64 total)
    {
        if (total <= 0)
            return 0;
        return std::min(100, int(std::lround(double(done) * 100.0 / double(total))));
    }

    QString stateText(int state)
    {
        switch (state) {
        case AdminChannel::Connecting:
            return QStringLiteral("Connecting...");
        case AdminChannel::Sending:
            return QStringLiteral("Connected, sending data...");
        case AdminChannel::Closing:
            return QStringLiteral("Closing...");
        case AdminChannel::Closed:
            return QStringLiteral("Connection Closed");
        default:
            return QString();
        }
    }

} // namespace

UploadRun::UploadRun(QObject* parent)
    : QObject(parent)
{
}

UploadRun::~UploadRun()
{
    // Channels die with this object and cut their requests without reporting.
    m_running = false;
}

void UploadRun::start(const UploadOptions& options)
{
    if (m_running)
        abort();

    m_options = options;
    m_options.connections = std::clamp(options.connections, 1, 10);
    m_options.filesPerConnection = std::clamp(options.filesPerConnection, 1, 100);
    m_pauseRequested = false;
    m_stopRequested = false;
    m_abortRequested = false;
    m_success = m_failed = m_skipped = 0;

    m_files = Common::ListFolderFiles(options.folder);
    m_fileCount = Common::countListedFiles(m_files);
    m_first = 0;
    m_end = m_fileCount;
    if (options.range) {
        m_first = std::clamp(options.range->first, 1, m_fileCount + 1) - 1;
        m_end = std::clamp(options.range->second, m_first, m_fileCount);
    }
    m_next = m_first;
    m_running = true;

    for (int i = 0; i < m_options.connections; ++i) {
        Connection connection;
        connection.channel = new AdminChannel(this);
        const int number = i + 1;
        connect(connection.channel, &AdminChannel::stateChanged, this, [this, number](int state) {
            const QString text = stateText(state);
            if (!text.isEmpty())
                Q_EMIT connectionStatusChanged(number, text);
        });
        connect(connection.channel, &AdminChannel::progressChanged, this,
            [this, number](int phase, int, qint64 done, qint64 total) {
                if (phase == AdminChannel::SendingPhase && total >= 1 && done >= 1)
                    Q_EMIT connectionProgressChanged(number, percentOf(done, total));
            });
        m_connections.append(connection);
    }
    Q_EMIT started(m_options.connections);
    for (int i = 1; i <= m_options.connections; ++i)
        Q_EMIT connectionStatusChanged(i, QStringLiteral("Ready..."));
    Q_EMIT countersChanged();
    handOut();
}

void UploadRun::setPaused(bool paused)
{
    if (!m_running || m_pauseRequested == paused)
        return;
    m_pauseRequested = paused;
    if (!m_pauseRequested)
        handOut();
}

void UploadRun::stop()
{
    if (!m_running)
        return;
    m_stopRequested = true;
    finishIfDone();
}

void UploadRun::abort()
{
    if (!m_running)
        return;
    m_stopRequested = true;
    m_abortRequested = true;
    for (const Connection& connection : std::as_const(m_connections))
        connection.channel->abort();
    finish();
}

int UploadRun::progressPercent() const { return percentOf(handedOut(), total()); }

bool UploadRun::isConnectionBusy(int connection) const
{
    return connection >= 1 && connection <= m_connections.size() && m_connections[connection - 1].ConnectionBusy;
}

void UploadRun::handOut()
{
    if (!m_running || m_pauseRequested || m_stopRequested)
        return finishIfDone();
    for (int i = 0; i < m_connections.size() && m_next < m_end && !m_stopRequested && !m_pauseRequested; ++i) {
        if (!m_connections[i].ConnectionBusy)
            sendBatch(i);
    }
    finishIfDone();
}

void UploadRun::sendBatch(int index)
{
    Connection& connection = m_connections[index];
    connection.ConnectionBusy = true;
    Q_EMIT connectionStatusChanged(index + 1, QStringLiteral("Preparing files..."));
    QList<UploadPart> parts;
    const QString folder = Common::AddBackslash(m_options.folder);
    for (int taken = 0; taken < m_options.filesPerConnection && m_next < m_end; ++taken, ++m_next) {
        const QString path = folder + m_files.at(m_next);
        const QFileInfo info(path);
        // A file that went away after the listing was not uploaded: it is a failure, not an empty file.
        if (!info.exists()) {
            ++m_failed;
            continue;
        }
        if (info.size() == 0) {
            ++m_skipped;
            continue;
        }
        parts.append({ QStringLiteral("UploadFile_") + QString::number(m_next), path });
    }
    connection.ConnectionBatchSize = int(parts.size());
    Q_EMIT countersChanged();
    connection.channel->send(uploadRequest(m_options.login, parts, m_options.clientName),
        [this, index](const AdminReply& reply) { handleBatchFinished(index, reply); });
}

void UploadRun::handleBatchFinished(int index, const AdminReply& reply)
{
    Connection& connection = m_connections[index];
    // The script refuses a batch with an HTTP error (a wrong login, a missing snapshots folder): its
    // files were not stored.
    if (reply.completed && reply.statusCode >= 200 && reply.statusCode < 300)
        m_success += connection.ConnectionBatchSize;
    else
        m_failed += connection.ConnectionBatchSize;
    connection.ConnectionBatchSize = 0;
    connection.ConnectionBusy = false;
    if (reply.body && !reply.body->isEmpty()) {
        const QString text = FormatText(QString::fromUtf8(*reply.body));
        if (!text.isEmpty())
            Q_EMIT logAppended(text + QString(200, QLatin1Char('-')) + QStringLiteral("\r\n"));
    }
    Q_EMIT countersChanged();
    if (!m_abortRequested)
        handOut();
}

void UploadRun::finishIfDone()
{
    if (!m_running)
        return;
    const bool allHandedOut = m_next >= m_end;
    if (!allHandedOut && !m_stopRequested)
        return;
    const bool anyBusy = std::any_of(m_connections.cbegin(), m_connections.cend(),
        [](const Connection& connection) { return connection.ConnectionBusy; });
    if (!anyBusy)
        finish();
}

void UploadRun::finish()
{
    if (!m_running)
        return;
    m_running = false;
    releaseConnections();
    Q_EMIT countersChanged();
    Q_EMIT finished();
}

void UploadRun::releaseConnections()
{
    for (const Connection& connection : std::as_const(m_connections)) {
        disconnect(connection.channel, nullptr, this, nullptr);
        connection.channel->abort();
        connection.channel->deleteLater();
    }
    m_connections.clear();
}

} // namespace Admin
