#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QJsonObject>

#include <QObject>
#include <QPointer>
#include <QString>

#include "common/result.h"

namespace Capture {

class DevToolsConnection;
class DevToolsSession;
class PageUse;

// What a page is set up with before it navigates: its window, whether scripts run, and whether its
// frames of other sites are attached for the consent rules (ConsentWalls) to ask.
struct PageSetup {
    int width = 0;
    int height = 0;
    bool scripts = true;
    bool consentWalls = false;
    bool operator==(const PageSetup&) const = default;
};

// Why a browser event means the page of targetId (attached as sessionId) is gone, or nothing.
std::optional<QString> pageLoss(
    const QString& method, const QJsonObject& params, const QString& targetId, const QString& sessionId);

// Refuses a document request that Fetch paused on a held page (Fetch.requestPaused): "Aborted" cancels
// the navigation without committing an error page, so the current document stays.
void refuseHeldRequest(DevToolsSession& session, const QJsonObject& params);

// A page of its own browser context, attached and set up, blank, ready to navigate.
struct OpenedPage {
    QString contextId;
    QString targetId;
    // Owned by whoever takes the page; its events flow from the moment it is handed over.
    DevToolsSession* session = nullptr;
    // What the page's captures have left in it; a child of the session.
    PageUse* use = nullptr;
    // Captures the page has served.
    int captures = 0;
};

// Opens a page for one capture: a browser context, a blank page in it, a session attached to the page,
// then the page's set-up calls, each acknowledged (the page moves to a new renderer process as it
// navigates, and navigating before they were acknowledged let scripts run on a page that should have
// had them off). Opening takes the browser a new renderer process and several round trips, so a
// capture slot can have its next page opened while its current capture runs.
//
// Until the page is taken, this object owns the context: destroying it releases the context, also
// when the browser's replies arrive only afterwards.
class PageOpener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageOpener)

public:
    using Done = std::function<void(const Common::Result<OpenedPage>&)>;

    // callTimeout bounds each of the browser's replies.
    PageOpener(DevToolsConnection* connection, PageSetup setup, std::chrono::milliseconds callTimeout,
        QObject* parent = nullptr);
    // Makes a page that has served a capture as a fresh page of a fresh context would be for the next
    // one: its document unloaded (its timers, workers and unload handlers with it), the storage of
    // every kind its frames used cleared, cookies cleared, its document requests let go again. A page
    // that left another page or a worker in its context, or whose use the reset cannot undo, is
    // released with its context instead, and a new page opened in its place. The page's document
    // requests are held (Fetch) until then, so that it cannot move on by itself.
    PageOpener(DevToolsConnection* connection, PageSetup setup, OpenedPage used, std::chrono::milliseconds callTimeout,
        QObject* parent = nullptr);
    ~PageOpener() override;

    DevToolsConnection* connection() const;
    const PageSetup& setup() const;
    // False once opening failed or the page went away before it was taken.
    bool usable() const;
    // done runs once, from the event loop, when the page is open or opening failed (at the next
    // turn of the event loop if that has already happened), unless this object is destroyed first or
    // another call replaces it (an empty one: nobody waits). A successful page then belongs to the
    // caller.
    void whenOpened(Done done);
    // Opening failed in the page's own set-up calls rather than in the browser's.
    bool failedInSetUp() const;
    // Captures the page has served: 0 for a page opened afresh.
    int captures() const;

private:
    // Resetting: a page that has served a capture, on its way back to a fresh page's state.
    enum class State { Opening, Resetting, Open, Failed, Taken };

    void open();
    void setUp(const QString& sessionId);
    void setupCall(const QString& method, const QJsonObject& params);
    void handleKeptPageEvent(const QString& method, const QJsonObject& params);
    void resetCall(const QString& method, const QJsonObject& params, std::function<void(const QJsonObject&)> next);
    void unloadDocument();
    void clearStorage();
    void checkOthers();
    void openAfresh();
    void releaseContext();
    void fail(const Common::Error& error);
    void settle();
    void handleBrowserEvent(const QString& method, const QJsonObject& params);

    QPointer<DevToolsConnection> m_connection;
    PageSetup m_setup;
    std::chrono::milliseconds m_callTimeout;
    State m_state = State::Opening;
    Common::Error m_error;
    QString m_contextId;
    QString m_targetId;
    DevToolsSession* m_session = nullptr;
    PageUse* m_use = nullptr;
    int m_setupPending = 0;
    bool m_unloaded = false;
    bool m_unloadReplied = false;
    int m_captures = 0;
    bool m_failedInSetUp = false;
    Done m_done;
};

// A capture slot's next page, so the next capture starts with a page ready instead of waiting for the
// browser to open one: the page of a capture that went well, kept for a few captures, or one opened
// while the current capture runs.
class SparePage final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SparePage)

public:
    explicit SparePage(QObject* parent = nullptr);
    ~SparePage() override;

    // The page opened (or opening) on connection with this set-up, or null: one opened for another
    // browser or set-up, or that has failed, is released.
    std::unique_ptr<PageOpener> take(DevToolsConnection* connection, const PageSetup& setup);
    // Starts opening the next page unless one for the same browser and set-up is open or opening.
    void prepare(DevToolsConnection* connection, const PageSetup& setup, std::chrono::milliseconds callTimeout);
    // Keeps the page of a capture that went well for the next capture, in place of any other; the
    // page is reset first (PageOpener).
    void keep(
        DevToolsConnection* connection, const PageSetup& setup, OpenedPage used, std::chrono::milliseconds callTimeout);
    // Whether a page opened afresh is open or opening for the next capture.
    bool holdsFreshPage() const;
    // Notes the site (scheme and host) of the slot's capture of url; true when the capture before was
    // on another site. A kept page gains nothing there: the next site's document needs a renderer
    // process of its own either way, and a page opened in advance has it started before it is needed.
    bool siteChanges(const QString& url);

private:
    std::unique_ptr<PageOpener> m_next;
    QString m_site;
};

} // namespace Capture
