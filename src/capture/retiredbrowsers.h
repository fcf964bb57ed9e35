#pragma once

#include <chrono>
#include <memory>

#include <QList>
#include <QObject>
#include <QPointer>

class QProcess;
class QTemporaryDir;

namespace Capture {

class DevToolsConnection;

// Browsers taken out of use so that a fresh one takes the next captures. Each stays open for the
// captures still running on it and is closed when the last of them has ended or been destroyed, or at
// once when its connection closes or it stops answering. GUI thread only.
class RetiredBrowsers final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RetiredBrowsers)

public:
    explicit RetiredBrowsers(QObject* parent = nullptr);
    ~RetiredBrowsers() override;

    // Takes over a browser and the captures using it. process (null for a remote browser) stays a
    // child of its owner, so the owner's destructor can still wait for it.
    void retire(DevToolsConnection* connection, QProcess* process, qint64 group, std::shared_ptr<QTemporaryDir> profile,
        const QList<QPointer<QObject>>& users);
    // Whether connection belongs to a retired browser still open.
    bool holds(const DevToolsConnection* connection) const;
    // A capture started on a retired browser after it was retired (its connection was handed out just before).
    void addUser(const DevToolsConnection* connection, QObject* user);
    void endUse(const QObject* user);
    // The browser of connection stopped answering: it is closed, failing the captures still on it,
    // without waiting for them to end. Nothing happens when connection is not a retired browser's.
    void giveUp(const DevToolsConnection* connection);
    // Retired browsers still open.
    int openCount() const;
    // Closes every retired browser now (the owner is going away).
    void closeAll();

    // Lets a browser whose pipe was closed exit by itself, then kills what is left of its process group
    // and removes its profile.
    static void endProcess(QProcess* process, qint64 group, std::shared_ptr<QTemporaryDir> profile);
    // endProcess() leaves the process group's id on the process under this name.
    static constexpr const char* groupProperty = "pictavoProcessGroup";
    static constexpr std::chrono::milliseconds exitGrace { 1500 };

private:
    struct Retired {
        QPointer<DevToolsConnection> connection;
        QPointer<QProcess> process;
        qint64 group = 0;
        std::shared_ptr<QTemporaryDir> profile;
        QList<QPointer<QObject>> users;
        bool givenUp = false;
    };

    void watch(QObject* user);
    void userDestroyed(QObject* user);
    // Later, from the event loop: a capture ending, or a connection closing, is still on the stack.
    void scheduleCloseIdle();
    void closeIdle();
    void close(Retired& retired);

    QList<Retired> m_retired;
};

} // namespace Capture
