#pragma once

#include <chrono>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "capture/browserendpoints.h"
#include "capture/browserhost.h"

class QTimer;

namespace Capture {

// The browsers one batch run captures on: the local browser and remote DevTools endpoints, as the
// BrowserEndpoints setting lists them. start() reaches every member once; one that cannot be reached
// then is reported and left out of the run. A remote member whose connection drops later is taken out
// of service, reported, and connected again with a growing pause between attempts; after retryLimit
// failed attempts in a row it is given up for the run. The local member is never taken out: its host
// restarts the browser on the next use, as without a pool.
//
// The run asks pickHost() for the browser of each new capture slot (the member in service with the
// fewest slots) and tells attach() which slot took it. Remote members get hosts of their own, owned
// by the pool: deleting the pool closes those connections, and never touches the remote browsers
// themselves. The local host is borrowed and must outlive the pool. GUI thread only.
class BrowserPool final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserPool)

public:
    struct Options {
        // Template for the remote members' hosts (time-outs); the endpoint is filled in per member.
        BrowserOptions remote;
        std::chrono::milliseconds firstRetry { 1000 };
        std::chrono::milliseconds longestRetry { 30000 };
        int retryLimit = 8;
    };

    // local may be null when the list does not name the local browser (or the caller has none).
    BrowserPool(
        BrowserHost* local, const QList<BrowserEndpoint>& endpoints, const Options& options, QObject* parent = nullptr);
    ~BrowserPool() override;

    // Reaches every member once; probed() follows when all have answered.
    void start();
    // Between start() and probed().
    bool isProbing() const;

    // The member in service with the fewest living slots attached, or null when none is in service.
    BrowserHost* pickHost() const;
    // Counts slot against host's member until slot is destroyed.
    void attach(BrowserHost* host, QObject* slot);
    // Whether host belongs to a member in service.
    bool isInService(const BrowserHost* host) const;
    // Whether slot was attached to a member that is in service.
    bool isSlotInService(const QObject* slot) const;
    int inServiceCount() const;
    // No member is in service and none will come back: the run cannot go on.
    bool isExhausted() const;
    // Every member's host, in the order of the list.
    QList<BrowserHost*> hosts() const;

Q_SIGNALS:
    // start() has heard from every member.
    void probed();
    // A line for the run's status: a member unreachable, lost, back or given up.
    void report(const QString& text);
    // A member went into or out of service.
    void availabilityChanged();

private:
    enum class State { Idle, Probing, InService, Retrying, Out };
    struct Member {
        BrowserEndpoint endpoint;
        QPointer<BrowserHost> host;
        State state = State::Idle;
        int failures = 0;
        QTimer* retry = nullptr;
        QList<QPointer<QObject>> slots;
    };

    void handleProbe(int index, const Common::Result<DevToolsConnection*>& result);
    void handleLost(int index, const QString& reason);
    void scheduleRetry(int index);
    void handleRetry(int index, const Common::Result<DevToolsConnection*>& result);
    int liveSlots(int index) const;
    int indexOf(const BrowserHost* host) const;

    Options m_options;
    QList<Member> m_members;
    int m_probesPending = 0;
};

} // namespace Capture
