#include "capture/pageopener.h"

#include <utility>

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

#include "capture/consentwalls.h"
#include "capture/devtoolsconnection.h"
#include "capture/devtoolssession.h"
#include "capture/pageuse.h"

namespace Capture {

std::optional<QString> pageLoss(
    const QString& method, const QJsonObject& params, const QString& targetId, const QString& sessionId)
{
    const QString target = params.value(QLatin1String("targetId")).toString();
    if (method == QLatin1String("Target.targetCrashed") && target == targetId)
        return QStringLiteral("the page's renderer crashed");
    if (method == QLatin1String("Target.targetDestroyed") && target == targetId)
        return QStringLiteral("the page was closed");
    if (method == QLatin1String("Target.detachedFromTarget") && !sessionId.isEmpty()
        && params.value(QLatin1String("sessionId")).toString() == sessionId)
        return QStringLiteral("the page was detached");
    return std::nullopt;
}

void refuseHeldRequest(DevToolsSession& session, const QJsonObject& params)
{
    session.post(QStringLiteral("Fetch.failRequest"),
        { { QStringLiteral("requestId"), params.value(QLatin1String("requestId")).toString() },
            { QStringLiteral("errorReason"), QStringLiteral("Aborted") } });
}

namespace {

    using namespace std::chrono_literals;

    // Opening a new page costs less than waiting longer for an old document that holds on.
    constexpr std::chrono::milliseconds kUnloadBound = 1s;

    Common::Error browserClosed()
    {
        return Common::Error { 0, QStringLiteral("Capture"), QStringLiteral("the browser closed") };
    }

} // namespace

PageOpener::PageOpener(
    DevToolsConnection* connection, PageSetup setup, std::chrono::milliseconds callTimeout, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_setup(setup)
    , m_callTimeout(callTimeout)
{
    if (!connection) {
        m_state = State::Failed;
        m_error = browserClosed();
        return;
    }
    connect(connection, &DevToolsConnection::closed, this, [this] { fail(browserClosed()); });
    connect(connection, &DevToolsConnection::browserEvent, this, &PageOpener::handleBrowserEvent);
    open();
}

PageOpener::PageOpener(DevToolsConnection* connection, PageSetup setup, OpenedPage used,
    std::chrono::milliseconds callTimeout, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_setup(setup)
    , m_callTimeout(callTimeout)
    , m_state(State::Resetting)
    , m_contextId(used.contextId)
    , m_targetId(used.targetId)
    , m_session(used.session)
    , m_use(used.use)
    , m_captures(used.captures)
{
    m_session->setParent(this);
    if (!connection || !m_use) {
        fail(browserClosed());
        return;
    }
    connect(m_session, &DevToolsSession::eventReceived, this, &PageOpener::handleKeptPageEvent);
    connect(connection, &DevToolsConnection::closed, this, [this] { fail(browserClosed()); });
    connect(connection, &DevToolsConnection::browserEvent, this, &PageOpener::handleBrowserEvent);
    // The old document's frames must still stand for the browser to tell their storage keys.
    m_use->whenKeysKnown([this] {
        if (m_state == State::Resetting)
            unloadDocument();
    });
}

PageOpener::~PageOpener()
{
    if (usable())
        releaseContext();
}

DevToolsConnection* PageOpener::connection() const { return m_connection; }

const PageSetup& PageOpener::setup() const { return m_setup; }

bool PageOpener::failedInSetUp() const { return m_failedInSetUp; }

int PageOpener::captures() const { return m_captures; }

bool PageOpener::usable() const
{
    return m_state == State::Opening || m_state == State::Resetting || m_state == State::Open;
}

void PageOpener::whenOpened(Done done)
{
    m_done = std::move(done);
    settle();
}

void PageOpener::open()
{
    // Replies are bound to the connection, not to this object: whatever became of it by the time they
    // arrive, the context and page they create are released.
    QPointer<PageOpener> self(this);
    QPointer<DevToolsConnection> guard(m_connection);
    const auto wanted = [self] { return self && self->m_state == State::Opening; };
    const std::chrono::milliseconds deadline = m_callTimeout;
    // A remote browser outlives our connection to it: disposeOnDetach has it drop the context should
    // the connection be lost before the capture releases it.
    guard->call({}, QStringLiteral("Target.createBrowserContext"), { { QStringLiteral("disposeOnDetach"), true } },
        deadline, guard, [self, guard, wanted, deadline](const DevToolsConnection::Reply& reply) {
            if (!reply) {
                if (self)
                    self->fail(reply.error());
                return;
            }
            const QString contextId = reply.value().value(QLatin1String("browserContextId")).toString();
            if (!wanted()) {
                guard->post({}, QStringLiteral("Target.disposeBrowserContext"),
                    { { QStringLiteral("browserContextId"), contextId } });
                return;
            }
            self->m_contextId = contextId;
            const QJsonObject params { { QStringLiteral("url"), QStringLiteral("about:blank") },
                { QStringLiteral("browserContextId"), contextId } };
            guard->call({}, QStringLiteral("Target.createTarget"), params, deadline, guard,
                [self, guard, wanted, contextId, deadline](const DevToolsConnection::Reply& reply) {
                    if (!reply) {
                        if (self)
                            self->fail(reply.error());
                        return;
                    }
                    const QString targetId = reply.value().value(QLatin1String("targetId")).toString();
                    if (!wanted()) {
                        // Released by the failure or the destruction that made it unwanted, unless
                        // the context id had not reached it yet.
                        if (!self)
                            guard->post({}, QStringLiteral("Target.disposeBrowserContext"),
                                { { QStringLiteral("browserContextId"), contextId } });
                        return;
                    }
                    self->m_targetId = targetId;
                    guard->call({}, QStringLiteral("Target.attachToTarget"),
                        { { QStringLiteral("targetId"), targetId }, { QStringLiteral("flatten"), true } }, deadline,
                        self.data(), [self, wanted](const DevToolsConnection::Reply& reply) {
                            if (!wanted())
                                return;
                            if (!reply)
                                return self->fail(reply.error());
                            self->setUp(reply.value().value(QLatin1String("sessionId")).toString());
                        });
                });
        });
}

void PageOpener::setUp(const QString& sessionId)
{
    m_session = new DevToolsSession(m_connection, sessionId, this);
    m_use = new PageUse(m_session);
    // Sent back to back, the page handles them in order.
    m_setupPending = 0;
    setupCall(QStringLiteral("Page.enable"), {});
    setupCall(QStringLiteral("Network.enable"), {});
    // Without it a crashed renderer sends no Inspector.targetCrashed to the page's session.
    setupCall(QStringLiteral("Inspector.enable"), {});
    setupCall(QStringLiteral("Page.setLifecycleEventsEnabled"), { { QStringLiteral("enabled"), true } });
    setupCall(QStringLiteral("Emulation.setDeviceMetricsOverride"),
        { { QStringLiteral("width"), m_setup.width }, { QStringLiteral("height"), m_setup.height },
            { QStringLiteral("deviceScaleFactor"), 1 }, { QStringLiteral("mobile"), false } });
    if (!m_setup.scripts)
        setupCall(QStringLiteral("Emulation.setScriptExecutionDisabled"), { { QStringLiteral("value"), true } });
    // It holds for the page's life, so a kept page still has it.
    else if (m_setup.consentWalls)
        setupCall(QStringLiteral("Target.setAutoAttach"), ConsentWalls::frameAttachment());
}

void PageOpener::setupCall(const QString& method, const QJsonObject& params)
{
    ++m_setupPending;
    // The session drops the callback when it is destroyed, and with it this object.
    m_session->call(method, params, m_callTimeout, [this, method](const DevToolsConnection::Reply& reply) {
        if (m_state != State::Opening)
            return;
        if (!reply) {
            Common::Error error = reply.error();
            error.message = QStringLiteral("%1: %2").arg(method, error.message);
            m_failedInSetUp = true;
            return fail(error);
        }
        if (--m_setupPending == 0) {
            m_state = State::Open;
            settle();
        }
    });
}

void PageOpener::handleKeptPageEvent(const QString& method, const QJsonObject& params)
{
    if (!usable())
        return;
    // A navigation the last document starts by itself would race the reset and the next capture.
    if (method == QLatin1String("Fetch.requestPaused"))
        refuseHeldRequest(*m_session, params);
    // A dialog (an unload handler's) would hold the page's main thread and with it the reset.
    else if (method == QLatin1String("Page.javascriptDialogOpening"))
        m_session->post(QStringLiteral("Page.handleJavaScriptDialog"), { { QStringLiteral("accept"), true } });
    else if (method == QLatin1String("Page.frameNavigated") && m_state == State::Resetting && !m_unloaded) {
        const QJsonObject frame = params.value(QLatin1String("frame")).toObject();
        if (frame.value(QLatin1String("id")).toString() == m_targetId && !frame.contains(QLatin1String("parentId"))
            && frame.value(QLatin1String("url")).toString() == QLatin1String("about:blank")) {
            m_unloaded = true;
            if (m_unloadReplied)
                clearStorage();
        }
    }
}

void PageOpener::resetCall(
    const QString& method, const QJsonObject& params, std::function<void(const QJsonObject&)> next)
{
    ++m_setupPending;
    m_session->call(method, params, m_callTimeout, [this, next](const DevToolsConnection::Reply& reply) {
        if (m_state != State::Resetting)
            return;
        if (!reply)
            return openAfresh();
        --m_setupPending;
        next(reply.value());
    });
}

void PageOpener::unloadDocument()
{
    // A new document ends the old one's timers, intervals, dedicated workers and connections, runs
    // its unload handlers now rather than during the next capture, and makes the next address load
    // a document of its own even when it differs from the old one only after "#". The reply can
    // come before the blank document commits (a beforeunload handler holds it back): the reset goes
    // on only once it stands, and a document that will not let go is given up with its context.
    QTimer::singleShot(kUnloadBound, this, [this] {
        if (m_state == State::Resetting && !m_unloaded)
            openAfresh();
    });
    resetCall(QStringLiteral("Page.navigate"), { { QStringLiteral("url"), QStringLiteral("about:blank") } },
        [this](const QJsonObject& reply) {
            if (!reply.value(QLatin1String("errorText")).toString().isEmpty())
                return openAfresh();
            m_unloadReplied = true;
            if (m_unloaded)
                clearStorage();
        });
}

void PageOpener::clearStorage()
{
    if (!m_use->reusable())
        return openAfresh();
    // "all" takes local, session and cache storage, IndexedDB, service workers and the key's cookies;
    // cookies set by other sites' resources go with the context's whole jar.
    const QStringList keys = m_use->storageKeys();
    const auto done = [this](const QJsonObject&) {
        if (m_setupPending == 0)
            checkOthers();
    };
    for (const QString& key : keys)
        resetCall(QStringLiteral("Storage.clearDataForStorageKey"),
            { { QStringLiteral("storageKey"), key }, { QStringLiteral("storageTypes"), QStringLiteral("all") } }, done);
    resetCall(QStringLiteral("Network.clearBrowserCookies"), {}, done);
}

void PageOpener::checkOthers()
{
    // A popup or a worker of the old document lives on in the context, can navigate its opener and
    // write storage whose key the page never saw; only a new context is free of them.
    m_connection->call({}, QStringLiteral("Target.getTargets"), {}, m_callTimeout, this,
        [this](const DevToolsConnection::Reply& reply) {
            // Dropped when the page has been given up meanwhile.
            if (m_state != State::Resetting)
                return;
            if (!reply)
                return openAfresh();
            const QJsonArray targets = reply.value().value(QLatin1String("targetInfos")).toArray();
            for (const QJsonValue& value : targets) {
                const QJsonObject target = value.toObject();
                if (target.value(QLatin1String("browserContextId")).toString() == m_contextId
                    && target.value(QLatin1String("targetId")).toString() != m_targetId)
                    return openAfresh();
            }
            // Last: the page's own document requests go through again from here on.
            resetCall(QStringLiteral("Fetch.disable"), {}, [this](const QJsonObject&) {
                m_state = State::Open;
                settle();
            });
        });
}

void PageOpener::openAfresh()
{
    // What the reset cannot undo goes with the context; the capture waiting for this page gets a new
    // one instead, as if none had been kept.
    releaseContext();
    m_captures = 0;
    m_setupPending = 0;
    m_state = State::Opening;
    open();
}

void PageOpener::handleBrowserEvent(const QString& method, const QJsonObject& params)
{
    if (!usable() || m_targetId.isEmpty())
        return;
    const auto loss = pageLoss(method, params, m_targetId, m_session ? m_session->id() : QString());
    if (loss && m_state == State::Resetting)
        openAfresh();
    else if (loss)
        fail(Common::Error { 0, QStringLiteral("Capture"), *loss });
}

void PageOpener::fail(const Common::Error& error)
{
    if (!usable())
        return;
    releaseContext();
    m_state = State::Failed;
    m_error = error;
    settle();
}

void PageOpener::releaseContext()
{
    delete std::exchange(m_session, nullptr);
    m_use = nullptr;
    if (m_connection && !m_contextId.isEmpty())
        m_connection->post({}, QStringLiteral("Target.disposeBrowserContext"),
            { { QStringLiteral("browserContextId"), m_contextId } });
    m_contextId.clear();
    m_targetId.clear();
}

void PageOpener::settle()
{
    if (!m_done || m_state == State::Opening || m_state == State::Resetting || m_state == State::Taken)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_done)
            return;
        Done done = std::exchange(m_done, nullptr);
        if (m_state == State::Failed)
            return done(m_error);
        if (m_state != State::Open)
            return;
        m_state = State::Taken;
        m_session->setParent(nullptr);
        disconnect(m_session, nullptr, this, nullptr);
        done(OpenedPage { m_contextId, m_targetId, std::exchange(m_session, nullptr), m_use, m_captures });
    });
}

SparePage::SparePage(QObject* parent)
    : QObject(parent)
{
}

SparePage::~SparePage() = default;

std::unique_ptr<PageOpener> SparePage::take(DevToolsConnection* connection, const PageSetup& setup)
{
    std::unique_ptr<PageOpener> next = std::move(m_next);
    if (next && next->usable() && next->connection() == connection && next->setup() == setup)
        return next;
    return nullptr;
}

void SparePage::prepare(DevToolsConnection* connection, const PageSetup& setup, std::chrono::milliseconds callTimeout)
{
    if (m_next && m_next->usable() && m_next->connection() == connection && m_next->setup() == setup)
        return;
    m_next.reset();
    if (connection)
        m_next = std::make_unique<PageOpener>(connection, setup, callTimeout);
}

void SparePage::keep(
    DevToolsConnection* connection, const PageSetup& setup, OpenedPage used, std::chrono::milliseconds callTimeout)
{
    m_next = std::make_unique<PageOpener>(connection, setup, used, callTimeout);
}

bool SparePage::holdsFreshPage() const { return m_next && m_next->usable() && m_next->captures() == 0; }

bool SparePage::siteChanges(const QString& url)
{
    const QUrl parsed(url);
    const QString previous = std::exchange(m_site, parsed.scheme() + QStringLiteral("://") + parsed.host().toLower());
    return !previous.isEmpty() && previous != m_site;
}

} // namespace Capture
