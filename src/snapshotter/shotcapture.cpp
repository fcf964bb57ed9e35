#include "snapshotter/shotcapture.h"

#include "capture/htmlsnap.h"

namespace Snapshotter {

ShotStatus shotStatus(int code, const QString& engineText)
{
    switch (code) {
    case Capture::SnapCode::TimedOut:
        return { QStringLiteral("Time is out before taking a snapshot"), true };
    case Capture::SnapCode::OpenFailed:
        return { QStringLiteral("Fail to open the URL"), true };
    case Capture::SnapCode::FileWriteFailed:
        return { QStringLiteral("Fail to save to file"), true };
    case Capture::SnapCode::CaptureFailed:
        return { QStringLiteral("Fail to take the snapshot of the page"), true };
    case Capture::SnapCode::Captured:
        return { QStringLiteral("The snapshot is successfully taken"), true };
    default:
        return { engineText, false };
    }
}

ShotCapture::ShotCapture(Capture::BrowserHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &ShotCapture::handleWaitExpired);
}

ShotCapture::~ShotCapture() { dropEngine(); }

std::chrono::milliseconds ShotCapture::waitBound(int timeOut)
{
    return Capture::HtmlSnap::longestCapture(timeOut, 0) + WaitMargin;
}

void ShotCapture::start(const QString& address, const QString& file, int timeOut)
{
    cancel();
    m_snap1 = std::make_unique<Capture::HtmlSnap>(m_host);
    Capture::HtmlSnap& snap = *m_snap1;
    snap.SetTimeOut(timeOut);
    snap.SetAsync(1);
    snap.SetJPEGQuality(100);
    snap.EnableActiveX(1);
    snap.EnableJava(1);
    snap.EnableScript(1);
    snap.SetForceSnap(0);
    connect(&snap, &Capture::HtmlSnap::OnStatus, this, &ShotCapture::handleStatus);
    connect(&snap, &Capture::HtmlSnap::OnProgress, this, &ShotCapture::handleProgress);
    m_snapDone = false;
    m_bound.start(m_boundOverride.count() > 0 ? m_boundOverride : waitBound(timeOut));
    snap.SnapUrl(address, file);
}

void ShotCapture::cancel()
{
    m_bound.stop();
    m_snapDone = true;
    dropEngine();
}

bool ShotCapture::isWaiting() const { return !m_snapDone; }

Capture::HtmlSnap* ShotCapture::Snap1() const { return m_snap1.get(); }

void ShotCapture::handleStatus(const QString& text, int code)
{
    if (m_snapDone)
        return;
    const ShotStatus status = shotStatus(code, text);
    if (status.final)
        end(code, status.text);
    else
        Q_EMIT statusChanged(status.text);
}

void ShotCapture::handleProgress(int percent)
{
    if (!m_snapDone && percent > 0)
        Q_EMIT progressChanged(percent);
}

void ShotCapture::handleWaitExpired()
{
    if (m_snapDone)
        return;
    // The engine's own deadlines should have ended it long ago; close its page so nothing is left
    // running in the browser, and report what the user would have seen from a time-out.
    if (m_snap1)
        m_snap1->Clear();
    end(Capture::SnapCode::TimedOut, shotStatus(Capture::SnapCode::TimedOut, {}).text);
}

void ShotCapture::end(int code, const QString& text)
{
    m_bound.stop();
    m_snapDone = true;
    Q_EMIT statusChanged(text);
    Q_EMIT finished(code);
}

void ShotCapture::dropEngine()
{
    if (!m_snap1)
        return;
    m_snap1->disconnect(this);
    // Closes the page and its browser context; no event of the engine follows.
    m_snap1->Clear();
    m_snap1.reset();
}

} // namespace Snapshotter
