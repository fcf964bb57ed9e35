#pragma once

#include <functional>

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QJsonObject;

namespace Capture {

class DevToolsSession;

// What a page's captures leave in it that its next capture must not meet, and whether the page can
// still be made to look to that capture like a fresh one. Storage is the browser context's, so every
// frame the page loads has the storage key it used noted (the origin alone misses a third-party
// frame's partitioned storage); the page's clock is the page's, and nothing puts it back on real time
// once a capture has run it ahead.
//
// A child of the page's session: it sees every event of the page, lives as long as the page, and
// goes with it from capture to capture. GUI thread only.
class PageUse final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageUse)

public:
    explicit PageUse(DevToolsSession* session);

    void noteClockRun();
    // False once the page holds something a reset cannot be sure to undo: a clock that was run
    // ahead, or a frame whose storage key the browser did not tell.
    bool reusable() const;
    // done runs once every frame's storage key is known or known to be unknown: at once, or from the
    // event loop when the browser has answered.
    void whenKeysKnown(std::function<void()> done);
    QStringList storageKeys() const;

private:
    void handleEvent(const QString& method, const QJsonObject& params);
    void askKey(const QString& frameId, int triesLeft);

    DevToolsSession* m_session;
    QSet<QString> m_storageKeys;
    // Frames whose storage key has been asked and not yet told.
    QSet<QString> m_framesAsked;
    std::function<void()> m_whenKnown;
    bool m_clockRun = false;
    bool m_unknownStorage = false;
};

} // namespace Capture
