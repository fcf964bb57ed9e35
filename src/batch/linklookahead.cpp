#include "batch/linklookahead.h"

#include <algorithm>
#include <limits>

#include <QDateTime>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QUrl>

namespace Batch {

struct LinkLookahead::Ahead {
    RangeReader::Entry entry;
    qint64 firstTryMs = 0;
    // -1 while the host has not answered.
    qint64 answeredMs = -1;
    std::unique_ptr<QTcpSocket> probe;
};

namespace {

    // The host and port a browser would connect to first, or nothing for addresses it would not reach
    // over TCP (no scheme the browser opens, no host).
    std::optional<std::pair<QString, quint16>> endpointOf(const QString& link)
    {
        QUrl url = QUrl::fromUserInput(link.trimmed());
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || url.host().isEmpty())
            return std::nullopt;
        if (scheme == QLatin1String("http"))
            return std::make_pair(url.host(), quint16(url.port(80)));
        if (scheme == QLatin1String("https"))
            return std::make_pair(url.host(), quint16(url.port(443)));
        return std::nullopt;
    }

} // namespace

LinkLookahead::LinkLookahead(QObject* parent)
    : QObject(parent)
{
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &LinkLookahead::linkReady);
}

LinkLookahead::~LinkLookahead() = default;

qint64 LinkLookahead::now() const { return QDateTime::currentMSecsSinceEpoch() - m_origin; }

Common::Status LinkLookahead::open(const QString& path, qint32 startLink, qint32 endLink, const Options& options)
{
    close();
    m_options = options;
    m_options.depth = std::max(1, m_options.depth);
    m_origin = QDateTime::currentMSecsSinceEpoch();
    m_lastTakenLine = 0;
    return m_reader.open(path, startLink, endLink);
}

void LinkLookahead::close()
{
    m_expiry.stop();
    m_ahead.clear();
    m_reader.close();
}

bool LinkLookahead::isExhausted() const { return m_ahead.empty() && m_reader.isExhausted(); }

qint32 LinkLookahead::resumeLine() const
{
    // The last line handed out, as a run without links read ahead would resume; earlier when a link
    // before it was passed over and never handed out.
    qint32 line = m_lastTakenLine;
    for (const auto& ahead : m_ahead)
        line = std::min(line, ahead->entry.line);
    return line;
}

bool LinkLookahead::isQuiet(const Ahead& ahead, qint64 at) const
{
    return ahead.answeredMs < 0 && at - ahead.firstTryMs >= QuietHostMs;
}

bool LinkLookahead::isReady(const Ahead& ahead, qint64 at) const
{
    // A name this machine's resolver is slow to look up is the browser's business, as it always was:
    // only a host that does not take a connection is passed over.
    return ahead.answeredMs >= 0
        || (isQuiet(ahead, at) && ahead.probe && ahead.probe->state() == QAbstractSocket::HostLookupState);
}

void LinkLookahead::fill()
{
    // Links of silent hosts do not count against the depth, so a stretch of dead links cannot stop the
    // run from reading on; a bound stays, for a range that is all dead.
    const qint64 at = now();
    const auto live = [&] {
        return std::count_if(m_ahead.begin(), m_ahead.end(), [&](const auto& a) { return !isQuiet(*a, at); });
    };
    while (live() < m_options.depth && int(m_ahead.size()) < MostAheadPerDepth * m_options.depth
        && !m_reader.isExhausted()) {
        std::optional<RangeReader::Entry> entry = m_reader.next();
        if (!entry)
            return;
        auto ahead = std::make_unique<Ahead>();
        ahead->entry = std::move(*entry);
        ahead->firstTryMs = at;
        const auto endpoint = endpointOf(ahead->entry.record.url);
        if (endpoint && m_options.probes && m_options.probes(ahead->entry.record)) {
            ahead->probe = std::make_unique<QTcpSocket>();
            // The browser connects directly; so does its stand-in.
            ahead->probe->setProxy(QNetworkProxy::NoProxy);
            Ahead* raw = ahead.get();
            const auto answered = [this, raw] {
                if (raw->answeredMs >= 0)
                    return;
                raw->answeredMs = now();
                // Only a connection was wanted.
                raw->probe->abort();
                Q_EMIT linkReady();
            };
            connect(ahead->probe.get(), &QTcpSocket::connected, this, answered);
            connect(ahead->probe.get(), &QTcpSocket::errorOccurred, this, answered);
            ahead->probe->connectToHost(endpoint->first, endpoint->second);
        } else {
            ahead->answeredMs = ahead->firstTryMs;
        }
        m_ahead.push_back(std::move(ahead));
    }
}

std::optional<LinkLookahead::Taken> LinkLookahead::next()
{
    fill();
    const qint64 at = now();
    const auto take = [this](auto it, qint64 timeoutMs, bool expired) {
        Taken taken { std::move((*it)->entry), timeoutMs, expired };
        m_ahead.erase(it);
        return taken;
    };
    std::optional<Taken> taken;
    for (auto it = m_ahead.begin(); it != m_ahead.end() && !taken; ++it) {
        if (!isReady(**it, at) && at - (*it)->firstTryMs >= m_options.timeoutMs) {
            m_lastTakenLine = std::max(m_lastTakenLine, (*it)->entry.line);
            taken = take(it, 0, true);
        }
    }
    // In their order: a link waits for its host's first answer, which a live host gives in moments;
    // only a host silent past QuietHostMs lets the links behind it go first.
    for (auto it = m_ahead.begin(); it != m_ahead.end() && !taken; ++it) {
        const Ahead& ahead = **it;
        if (isReady(ahead, at)) {
            const qint64 waited = ahead.answeredMs >= 0 ? ahead.answeredMs - ahead.firstTryMs : 0;
            m_lastTakenLine = std::max(m_lastTakenLine, ahead.entry.line);
            taken = take(it, std::max<qint64>(1, m_options.timeoutMs - waited), false);
        } else if (!isQuiet(ahead, at)) {
            break;
        }
    }
    if (taken)
        fill();
    armExpiry();
    return taken;
}

void LinkLookahead::armExpiry()
{
    // The next moment a link still waiting on its host either expires or, its name still being looked
    // up, becomes the browser's to resolve.
    qint64 soonest = std::numeric_limits<qint64>::max();
    const qint64 at = now();
    for (const auto& ahead : m_ahead) {
        if (ahead->answeredMs >= 0)
            continue;
        const qint64 quietAt = ahead->firstTryMs + QuietHostMs;
        soonest = std::min(soonest, (quietAt > at ? quietAt : ahead->firstTryMs + m_options.timeoutMs) - at);
    }
    if (soonest == std::numeric_limits<qint64>::max())
        m_expiry.stop();
    else
        m_expiry.start(int(std::clamp<qint64>(soonest, 0, std::numeric_limits<int>::max())));
}

} // namespace Batch
