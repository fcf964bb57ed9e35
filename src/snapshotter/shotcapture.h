#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QString>
#include <QTimer>

namespace Capture {
class BrowserHost;
class HtmlSnap;
} // namespace Capture

namespace Snapshotter {

// The first status panel's text for an engine status, and whether that status ends the wait: the
// outcome codes have fixed texts; any other code (0 included) shows the engine's own text and the
// wait goes on.
struct ShotStatus {
    QString text;
    bool final = false;
};
ShotStatus shotStatus(int code, const QString& engineText);

// One capture of the snapshotter at a time, each on a fresh engine that writes the page to a file.
// The engine runs with scripts and plug-in content on and never captures a page that did not finish
// loading, whatever the batch uses. The wait for its final status is bounded: an engine that never
// reports one ends as a time-out once its own deadlines and a margin have passed.
// GUI thread only; the host must outlive this object.
class ShotCapture final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShotCapture)

public:
    static constexpr std::chrono::milliseconds WaitMargin { 10000 };

    explicit ShotCapture(Capture::BrowserHost* host, QObject* parent = nullptr);
    ~ShotCapture() override;

    // Starts capturing address into file with timeOut milliseconds for loading. A capture under way
    // is dropped first: its page is closed and none of its events arrive any more.
    void start(const QString& address, const QString& file, int timeOut);
    // Drops the capture under way, as above; no finished() follows. Nothing happens when idle.
    void cancel();
    // True from start() until finished() or cancel().
    bool isWaiting() const;
    // The longest the wait for a final status lasts with this time-out.
    static std::chrono::milliseconds waitBound(int timeOut);

    // Test seam: the next start() waits this long for a final status instead of waitBound().
    void setWaitBound(std::chrono::milliseconds bound) { m_boundOverride = bound; }
    // The engine of the current request, or null; a test seam.
    Capture::HtmlSnap* Snap1() const;
    // Set once the current request's engine has reported its final status (or the bound passed).
    bool SnapDone() const { return m_snapDone; }

Q_SIGNALS:
    void statusChanged(const QString& text);
    // Percent of the page's resources loaded, above 0 only.
    void progressChanged(int percent);
    // The wait has ended with this outcome code.
    void finished(int code);

private:
    void handleStatus(const QString& text, int code);
    void handleProgress(int percent);
    void handleWaitExpired();
    void end(int code, const QString& text);
    void dropEngine();

    Capture::BrowserHost* m_host = nullptr;
    std::unique_ptr<Capture::HtmlSnap> m_snap1;
    bool m_snapDone = true;
    std::chrono::milliseconds m_boundOverride { 0 };
    QTimer m_bound;
};

} // namespace Snapshotter
