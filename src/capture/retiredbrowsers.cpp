#include "capture/retiredbrowsers.h"

#include <algorithm>
#include <csignal>
#include <utility>

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "capture/devtoolsconnection.h"

namespace Capture {

RetiredBrowsers::RetiredBrowsers(QObject* parent)
    : QObject(parent)
{
}

RetiredBrowsers::~RetiredBrowsers() { closeAll(); }

void RetiredBrowsers::retire(DevToolsConnection* connection, QProcess* process, qint64 group,
    std::shared_ptr<QTemporaryDir> profile, const QList<QPointer<QObject>>& users)
{
    Retired retired { connection, process, group, std::move(profile), {} };
    for (const QPointer<QObject>& user : users) {
        if (user && !retired.users.contains(user)) {
            retired.users.append(user);
            watch(user);
        }
    }
    m_retired.append(std::move(retired));
    if (connection)
        // A browser that dies meanwhile has nothing left to wait for.
        connect(connection, &DevToolsConnection::closed, this, &RetiredBrowsers::scheduleCloseIdle);
    scheduleCloseIdle();
}

bool RetiredBrowsers::holds(const DevToolsConnection* connection) const
{
    return connection && std::any_of(m_retired.begin(), m_retired.end(), [connection](const Retired& retired) {
        return retired.connection == connection;
    });
}

void RetiredBrowsers::addUser(const DevToolsConnection* connection, QObject* user)
{
    for (Retired& retired : m_retired) {
        if (user && retired.connection == connection && !retired.users.contains(user)) {
            retired.users.append(user);
            watch(user);
        }
    }
}

void RetiredBrowsers::endUse(const QObject* user)
{
    for (Retired& retired : m_retired)
        retired.users.removeIf([user](const QPointer<QObject>& u) { return u.isNull() || u.data() == user; });
    scheduleCloseIdle();
}

void RetiredBrowsers::giveUp(const DevToolsConnection* connection)
{
    for (Retired& retired : m_retired) {
        if (connection && retired.connection == connection)
            retired.givenUp = true;
    }
    scheduleCloseIdle();
}

int RetiredBrowsers::openCount() const { return static_cast<int>(m_retired.size()); }

void RetiredBrowsers::closeAll()
{
    for (Retired& retired : std::exchange(m_retired, {}))
        close(retired);
}

void RetiredBrowsers::watch(QObject* user)
{
    connect(user, &QObject::destroyed, this, &RetiredBrowsers::userDestroyed, Qt::UniqueConnection);
}

// The pointer is only compared, never followed: the object is gone.
void RetiredBrowsers::userDestroyed(QObject* user) { endUse(user); }

void RetiredBrowsers::scheduleCloseIdle() { QTimer::singleShot(0, this, &RetiredBrowsers::closeIdle); }

void RetiredBrowsers::closeIdle()
{
    for (qsizetype i = m_retired.size() - 1; i >= 0; --i) {
        Retired& retired = m_retired[i];
        retired.users.removeIf([](const QPointer<QObject>& u) { return u.isNull(); });
        if (retired.givenUp || retired.users.isEmpty() || !retired.connection || !retired.connection->isOpen()) {
            // Out of the list first: closing fails the captures still on the browser, and what their
            // ends set off may retire another one meanwhile.
            Retired closing = m_retired.takeAt(i);
            close(closing);
        }
    }
}

void RetiredBrowsers::close(Retired& retired)
{
    if (retired.connection) {
        disconnect(retired.connection, nullptr, this, nullptr);
        retired.connection->close();
        retired.connection->deleteLater();
    }
    endProcess(retired.process, retired.group, std::move(retired.profile));
}

void RetiredBrowsers::endProcess(QProcess* process, qint64 group, std::shared_ptr<QTemporaryDir> profile)
{
    if (!process)
        return;
    process->setProperty(groupProperty, group);
    const auto killGroup = [group = static_cast<pid_t>(group)] {
        if (group > 0)
            ::kill(-group, SIGKILL);
    };
    if (process->state() == QProcess::NotRunning) {
        killGroup();
        process->deleteLater();
        return;
    }
    // With its pipe closed the browser exits by itself and reaps its helpers, leaving no zombies and
    // no lock files. One that does not (hung, stopped) is killed with its whole group. The profile goes
    // once the process has been reaped; until then the browser may still write to it.
    auto* grace = new QTimer(process);
    grace->setSingleShot(true);
    connect(grace, &QTimer::timeout, process, killGroup);
    connect(process, &QProcess::finished, process, [process, profile, killGroup] {
        killGroup();
        process->deleteLater();
    });
    grace->start(exitGrace);
}

} // namespace Capture
