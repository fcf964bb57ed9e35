#include "capture/pageuse.h"

#include <chrono>
#include <utility>

#include <QJsonObject>
#include <QTimer>

#include "capture/devtoolssession.h"

namespace Capture {

using namespace std::chrono_literals;

namespace {

    // The browser answers from its own frame tree, without the renderer.
    constexpr std::chrono::milliseconds kKeyDeadline = 10s;
    constexpr std::chrono::milliseconds kKeyRetryPause = 40ms;
    constexpr int kKeyTries = 25;

    // Frames of an opaque origin (about:blank, data:, a sandbox) have no storage to leave behind.
    bool hasStorage(const QJsonObject& frame)
    {
        const QString origin = frame.value(QLatin1String("securityOrigin")).toString();
        return origin.startsWith(QLatin1String("http://")) || origin.startsWith(QLatin1String("https://"));
    }

} // namespace

PageUse::PageUse(DevToolsSession* session)
    : QObject(session)
    , m_session(session)
{
    connect(session, &DevToolsSession::eventReceived, this, &PageUse::handleEvent);
}

void PageUse::noteClockRun() { m_clockRun = true; }

bool PageUse::reusable() const { return !m_clockRun && !m_unknownStorage; }

QStringList PageUse::storageKeys() const { return m_storageKeys.values(); }

void PageUse::whenKeysKnown(std::function<void()> done)
{
    if (m_framesAsked.isEmpty())
        return done();
    m_whenKnown = std::move(done);
    // A page handed over to its next owner had the questions still open dropped with its session's
    // other calls: asked again while the frames are still there.
    const QSet<QString> frames = m_framesAsked;
    for (const QString& frameId : frames)
        askKey(frameId, kKeyTries);
}

void PageUse::handleEvent(const QString& method, const QJsonObject& params)
{
    if (method != QLatin1String("Page.frameNavigated"))
        return;
    const QJsonObject frame = params.value(QLatin1String("frame")).toObject();
    if (!hasStorage(frame))
        return;
    // Asked at once, while the frame is there: a frame gone by the time the page is reset would
    // leave its storage unknown.
    const QString frameId = frame.value(QLatin1String("id")).toString();
    m_framesAsked.insert(frameId);
    askKey(frameId, kKeyTries);
}

void PageUse::askKey(const QString& frameId, int triesLeft)
{
    m_session->call(QStringLiteral("Storage.getStorageKeyForFrame"), { { QStringLiteral("frameId"), frameId } },
        kKeyDeadline, [this, frameId, triesLeft](const Common::Result<QJsonObject>& reply) {
            if (!m_framesAsked.contains(frameId))
                return;
            const QString key = reply ? reply.value().value(QLatin1String("storageKey")).toString() : QString();
            // The renderer reports a new document before the browser has taken its commit in: until
            // then the browser still answers for the blank document that came before, whose origin is
            // opaque.
            if (key.isEmpty() && triesLeft > 1 && !reply
                && reply.error().message.contains(QLatin1String("opaque origin"), Qt::CaseInsensitive)) {
                QTimer::singleShot(
                    kKeyRetryPause, this, [this, frameId, triesLeft] { askKey(frameId, triesLeft - 1); });
                return;
            }
            m_framesAsked.remove(frameId);
            if (key.isEmpty())
                m_unknownStorage = true;
            else
                m_storageKeys.insert(key);
            if (m_framesAsked.isEmpty() && m_whenKnown)
                std::exchange(m_whenKnown, nullptr)();
        });
}

} // namespace Capture
