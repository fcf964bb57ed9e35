#include "capture/browserpool.h"

#include <algorithm>

#include <QTimer>

namespace Capture {

BrowserPool::BrowserPool(
    BrowserHost* local, const QList<BrowserEndpoint>& endpoints, const Options& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    for (const BrowserEndpoint& endpoint : endpoints) {
        Member member;
        member.endpoint = endpoint;
        if (endpoint.kind == BrowserEndpoint::Kind::Local) {
            member.host = local;
        } else {
            BrowserOptions remote = m_options.remote;
            remote.endpoint = endpoint.url;
            member.host = new BrowserHost(remote, this);
        }
        m_members.append(member);
    }
    for (int i = 0; i < m_members.size(); ++i) {
        Member& member = m_members[i];
        member.retry = new QTimer(this);
        member.retry->setSingleShot(true);
        connect(member.retry, &QTimer::timeout, this, [this, i] {
            Member& m = m_members[i];
            if (m.host)
                m.host->whenReady(this, [this, i](const auto& result) { handleRetry(i, result); });
        });
        if (member.endpoint.kind != BrowserEndpoint::Kind::Local && member.host)
            connect(member.host, &BrowserHost::browserLost, this,
                [this, i](const QString& reason) { handleLost(i, reason); });
    }
}

BrowserPool::~BrowserPool()
{
    // The remote hosts go first, while the members they report to still exist.
    for (Member& member : m_members) {
        if (member.endpoint.kind == BrowserEndpoint::Kind::Local || !member.host)
            continue;
        disconnect(member.host, nullptr, this, nullptr);
        delete member.host.data();
    }
}

void BrowserPool::start()
{
    m_probesPending = static_cast<int>(m_members.size());
    for (int i = 0; i < m_members.size(); ++i) {
        Member& member = m_members[i];
        member.state = State::Probing;
        if (!member.host) {
            // The list names the local browser but the caller has none to lend.
            QTimer::singleShot(0, this, [this, i] {
                handleProbe(i, Common::Error { 0, QStringLiteral("BrowserPool"), QStringLiteral("no local browser") });
            });
            continue;
        }
        member.host->whenReady(this, [this, i](const auto& result) { handleProbe(i, result); });
    }
    if (m_members.isEmpty())
        QTimer::singleShot(0, this, &BrowserPool::probed);
}

bool BrowserPool::isProbing() const { return m_probesPending > 0; }

void BrowserPool::handleProbe(int index, const Common::Result<DevToolsConnection*>& result)
{
    Member& member = m_members[index];
    if (result) {
        member.state = State::InService;
    } else {
        member.state = State::Out;
        Q_EMIT report(QStringLiteral("Error: %1 cannot be reached and is left out of this run: %2")
                          .arg(member.endpoint.displayName(), result.error().message));
    }
    if (--m_probesPending == 0) {
        Q_EMIT availabilityChanged();
        Q_EMIT probed();
    }
}

void BrowserPool::handleLost(int index, const QString& reason)
{
    Member& member = m_members[index];
    if (member.state != State::InService)
        return;
    member.state = State::Retrying;
    member.failures = 0;
    Q_EMIT report(QStringLiteral("Error: %1 was lost (%2); its captures in flight have failed, trying it again")
                      .arg(member.endpoint.displayName(), reason));
    scheduleRetry(index);
    Q_EMIT availabilityChanged();
}

void BrowserPool::scheduleRetry(int index)
{
    Member& member = m_members[index];
    // 1, 2, 4, ... times the first pause, up to the longest.
    const std::chrono::milliseconds pause = std::min<std::chrono::milliseconds>(
        m_options.longestRetry, m_options.firstRetry * (qint64(1) << std::min(member.failures, 20)));
    member.retry->start(pause);
}

void BrowserPool::handleRetry(int index, const Common::Result<DevToolsConnection*>& result)
{
    Member& member = m_members[index];
    if (member.state != State::Retrying)
        return;
    if (result) {
        member.state = State::InService;
        member.failures = 0;
        Q_EMIT report(QStringLiteral("%1 is back in service").arg(member.endpoint.displayName()));
        Q_EMIT availabilityChanged();
        return;
    }
    if (++member.failures >= m_options.retryLimit) {
        member.state = State::Out;
        Q_EMIT report(QStringLiteral("Error: %1 is given up for this run after %2 attempts: %3")
                          .arg(member.endpoint.displayName())
                          .arg(member.failures)
                          .arg(result.error().message));
        Q_EMIT availabilityChanged();
        return;
    }
    scheduleRetry(index);
}

int BrowserPool::liveSlots(int index) const
{
    const auto& slots = m_members.at(index).slots;
    return static_cast<int>(std::count_if(slots.begin(), slots.end(), [](const auto& slot) { return !slot.isNull(); }));
}

int BrowserPool::indexOf(const BrowserHost* host) const
{
    for (int i = 0; i < m_members.size(); ++i) {
        if (host && m_members.at(i).host == host)
            return i;
    }
    return -1;
}

BrowserHost* BrowserPool::pickHost() const
{
    int best = -1;
    int fewest = 0;
    for (int i = 0; i < m_members.size(); ++i) {
        if (m_members.at(i).state != State::InService || !m_members.at(i).host)
            continue;
        const int slots = liveSlots(i);
        if (best < 0 || slots < fewest) {
            best = i;
            fewest = slots;
        }
    }
    return best < 0 ? nullptr : m_members.at(best).host.data();
}

void BrowserPool::attach(BrowserHost* host, QObject* slot)
{
    const int index = indexOf(host);
    if (index < 0 || !slot)
        return;
    auto& slots = m_members[index].slots;
    slots.removeIf([](const QPointer<QObject>& s) { return s.isNull(); });
    slots.append(slot);
}

bool BrowserPool::isInService(const BrowserHost* host) const
{
    const int index = indexOf(host);
    return index >= 0 && m_members.at(index).state == State::InService;
}

bool BrowserPool::isSlotInService(const QObject* slot) const
{
    return slot && std::any_of(m_members.begin(), m_members.end(), [slot](const Member& m) {
        return m.state == State::InService && m.slots.contains(slot);
    });
}

int BrowserPool::inServiceCount() const
{
    return static_cast<int>(
        std::count_if(m_members.begin(), m_members.end(), [](const Member& m) { return m.state == State::InService; }));
}

bool BrowserPool::isExhausted() const
{
    return !isProbing() && std::none_of(m_members.begin(), m_members.end(), [](const Member& m) {
        return m.state == State::InService || m.state == State::Retrying;
    });
}

QList<BrowserHost*> BrowserPool::hosts() const
{
    QList<BrowserHost*> out;
    for (const Member& member : m_members)
        out.append(member.host.data());
    return out;
}

} // namespace Capture
