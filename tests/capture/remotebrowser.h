#pragma once

#include <memory>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QUrl>

class QTemporaryDir;

namespace CaptureTest {

// A headless browser the test starts itself with a DevTools port on 127.0.0.1, standing in for a
// browser on another machine: the program under test only connects to it. Killed with its whole
// process group on destruction.
class RemoteBrowser final {
public:
    RemoteBrowser();
    ~RemoteBrowser();
    RemoteBrowser(const RemoteBrowser&) = delete;
    RemoteBrowser& operator=(const RemoteBrowser&) = delete;

    // Starts the browser on port (0: any free one) and waits until it names its WebSocket address.
    bool start(quint16 port = 0);
    // ws://127.0.0.1:<port>/devtools/browser/<id>
    QUrl webSocketUrl() const { return m_webSocketUrl; }
    // http://127.0.0.1:<port>
    QUrl httpUrl() const;
    qint64 processId() const;
    bool isAlive() const;
    // SIGKILL to the browser and every helper process it started.
    void kill();

private:
    std::unique_ptr<QTemporaryDir> m_profile;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_stderr;
    QUrl m_webSocketUrl;
    qint64 m_pid = 0;
};

} // namespace CaptureTest
