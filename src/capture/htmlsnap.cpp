#include "capture/htmlsnap.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>

#include <QFutureWatcher>
#include <QImage>
#include <QJsonArray>
#include <QUrl>
#include <QtConcurrent>

#include "capture/browserhost.h"
#include "capture/consentwalls.h"
#include "capture/devtoolsconnection.h"
#include "capture/devtoolssession.h"
#include "capture/pageopener.h"
#include "capture/pageuse.h"
#include "capture/screenshotplan.h"
#include "common/curi.h"
#include "imaging/imagebytes.h"
#include "imaging/imagefile.h"

namespace Capture {

using namespace std::chrono_literals;

namespace {

    const QString kInMemory = QStringLiteral("*");
    // A renderer that does not answer for this long is most likely stuck in a page script; stopping
    // the script lets the pending call complete.
    constexpr std::chrono::milliseconds kStallBeforeTerminate = 2s;
    // Hard limit for one call to the renderer (layout metrics, the screenshot itself). A tall page
    // needs a few seconds on a loaded machine.
    constexpr std::chrono::milliseconds kRendererDeadline = 12s;
    // A page held for its capture still commits the navigation that was under way; each commit
    // costs the capture one attempt.
    constexpr int kCaptureAttempts = 4;
    // A batch slot's page serves this many captures before its browser context is replaced. Opening a
    // page (context, page, set-up) costs the browser about a fifth of a capture's processor time, and
    // one site's pages in a row can share a renderer process; the bound keeps what a context gathers
    // (cache, storage) small.
    constexpr int kCapturesPerPage = 20;
    constexpr std::chrono::milliseconds kRetryPause = 100ms;
    // A page's title is the page's to choose; it goes into reports and onto terminals.
    constexpr qsizetype kMaxTitleLength = 1000;
    // A page that came out blank is looked at again after the delay, never sooner than this: with no
    // delay, a page still loading its content needs a moment to fill in.
    constexpr int kLookAgainAtLeastMs = 1000;

    QString describe(const Common::Error& error) { return error.message; }

} // namespace

HtmlSnap::HtmlSnap(BrowserHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{
    m_deadline.setSingleShot(true);
    m_delay.setSingleShot(true);
    // A coarse timer may end the delay up to 5 % early.
    m_delay.setTimerType(Qt::PreciseTimer);
    m_stall.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &HtmlSnap::startCaptureAttempt);
    connect(&m_deadline, &QTimer::timeout, this, &HtmlSnap::handleDeadline);
    connect(&m_delay, &QTimer::timeout, this, &HtmlSnap::capture);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        m_pageTroubled = true;
        if (m_session && !m_terminateSent) {
            m_terminateSent = true;
            m_session->post(QStringLiteral("Runtime.terminateExecution"));
        }
        // A navigation still under way holds every call to the renderer until it commits, which a
        // silent server never lets it do.
        // A renderer whose clock stands still may hold back the frame the call waits for (seen
        // with the consent rules' timers pending); the page then moves on a little rather than
        // failing the capture.
        if (m_session && m_stage == Stage::Capturing && m_clock == Clock::Stopped && m_captureCall != 0)
            releaseClock();
        if (m_session && m_stage == Stage::Capturing && !m_pendingLoader.isEmpty()) {
            m_pendingLoader.clear();
            m_session->post(QStringLiteral("Page.stopLoading"));
        }
    });
}

HtmlSnap::~HtmlSnap() { releasePage(); }

std::chrono::milliseconds HtmlSnap::longestCapture(int timeOut, int delayTime, bool blankCheck)
{
    const std::chrono::milliseconds load(timeOut > 0 ? timeOut : DefaultTimeOut);
    const std::chrono::milliseconds delay(std::max(0, delayTime));
    // The layout metrics and the screenshot each have a renderer deadline of their own.
    const std::chrono::milliseconds once = load + ConsentWalls::Bound + delay + 2 * kRendererDeadline;
    if (!blankCheck)
        return once;
    // A second look loads the page again, or waits once more and captures again.
    return 2 * once + std::max(delay, std::chrono::milliseconds(kLookAgainAtLeastMs));
}

void HtmlSnap::SetAsync(int async) { m_async = async != 0; }
void HtmlSnap::SetTimeOut(int milliseconds) { m_timeOut = milliseconds > 0 ? milliseconds : DefaultTimeOut; }
void HtmlSnap::SetDelayTime(int milliseconds) { m_delayTime = std::max(0, milliseconds); }
void HtmlSnap::setFastDelay(bool on) { m_fastDelay = on; }
void HtmlSnap::EnableScript(int enable) { m_scriptEnabled = enable != 0; }
void HtmlSnap::setBlankCheck(bool on) { m_blankCheck = on; }
void HtmlSnap::setDismissConsentWalls(bool on) { m_dismissConsent = on; }
void HtmlSnap::EnableActiveX(int enable) { m_activeXEnabled = enable != 0; }
void HtmlSnap::EnableJava(int enable) { m_javaEnabled = enable != 0; }
void HtmlSnap::SetForceSnap(int force) { m_forceSnap = force != 0; }

void HtmlSnap::SetSnapDimension(int width, int height)
{
    m_snapWidth = std::clamp(width, 0, MaxCaptureExtent);
    m_snapHeight = std::clamp(height, 0, MaxCaptureExtent);
}

void HtmlSnap::EnableSnapDimensionAsImageSize(int enable) { m_dimensionAsImageSize = enable != 0; }
void HtmlSnap::SetJPEGQuality(int quality) { m_jpegQuality = std::clamp(quality, 1, 100); }

void HtmlSnap::SetZoom(double ratio)
{
    if (std::isfinite(ratio) && ratio > 0.0)
        m_zoom = std::clamp(ratio, 0.01, 4.0);
}

void HtmlSnap::setThumbnailHint(QSize size) { m_thumbnailHint = size; }

int HtmlSnap::GetErrorCode() const { return m_code; }
int HtmlSnap::GetImageWidth() const { return m_imageSize.width(); }
int HtmlSnap::GetImageHeight() const { return m_imageSize.height(); }
QByteArray HtmlSnap::imageBytes() const { return m_image; }
QString HtmlSnap::imageFormat() const { return m_imageFormat; }

bool HtmlSnap::isCurrent(quint64 generation) const { return generation == m_generation && m_stage != Stage::Finished; }

void HtmlSnap::Clear()
{
    ++m_generation;
    releasePage();
    m_stage = Stage::Idle;
    m_blankTry = BlankTry::First;
    m_code = SnapCode::Working;
    m_image.clear();
    m_reduced = {};
    m_imageFormat.clear();
    m_imageSize = {};
    m_facts = {};
}

void HtmlSnap::SnapUrl(const QString& url, const QString& pictureFile)
{
    Clear();
    m_started = std::chrono::steady_clock::now();
    const quint64 generation = m_generation;
    // Only web addresses: a file: address would put the user's own files into a thumbnail that is
    // then published, and other schemes either start external programs or fail anyway. A link
    // without a scheme is an http address, as the batch reads it.
    const std::optional<QString> address = Common::webAddress(url);
    m_url = address.value_or(url.trimmed());
    m_pictureFile = pictureFile.trimmed().isEmpty() ? kInMemory : pictureFile;
    m_stage = Stage::WaitingForBrowser;

    const QUrl parsed(m_url);
    if (!address || !parsed.isValid() || parsed.host().isEmpty()) {
        QTimer::singleShot(0, this, [this, generation] {
            if (isCurrent(generation))
                finish(SnapCode::OpenFailed,
                    QStringLiteral("Failed to open the address: only http and https addresses are captured"));
        });
        return;
    }
    begin();
}

void HtmlSnap::begin()
{
    const quint64 generation = m_generation;
    m_deadline.start(m_timeOut);
    if (!m_host) {
        QTimer::singleShot(0, this, [this, generation] {
            if (isCurrent(generation))
                finish(SnapCode::CaptureFailed, QStringLiteral("Failed to capture the page: no browser"));
        });
        return;
    }
    m_host->whenReady(this, [this, generation](const Common::Result<DevToolsConnection*>& connection) {
        if (!isCurrent(generation))
            return;
        if (!connection)
            finish(SnapCode::CaptureFailed,
                QStringLiteral("Failed to capture the page: %1").arg(describe(connection.error())));
        else
            openPage(connection.value());
    });
}

void HtmlSnap::openPage(DevToolsConnection* connection)
{
    m_stage = Stage::Opening;
    m_connection = connection;
    if (m_host)
        m_host->beginUse(this, connection);
    m_closedConnection = connect(connection, &DevToolsConnection::closed, this, [this] {
        if (m_stage != Stage::Idle && m_stage != Stage::Finished)
            finish(SnapCode::CaptureFailed, QStringLiteral("Failed to capture the page: the browser closed"));
    });
    m_browserEventConnection
        = connect(connection, &DevToolsConnection::browserEvent, this, &HtmlSnap::handleBrowserEvent);
    Q_EMIT OnStatus(QStringLiteral("Opening %1").arg(m_url), SnapCode::Working);
    if (m_stage != Stage::Opening)
        return;

    const std::chrono::milliseconds deadline = m_host ? m_host->callTimeout() : 15s;
    std::unique_ptr<PageOpener> opener
        = m_sparePage && m_blankTry == BlankTry::First ? m_sparePage->take(connection, pageSetup()) : nullptr;
    if (!opener)
        opener = std::make_unique<PageOpener>(connection, attemptSetup(), deadline);
    m_opener = std::move(opener);
    const quint64 generation = m_generation;
    m_opener->whenOpened([this, generation](const Common::Result<OpenedPage>& page) {
        // The opener belongs to this engine and is told to stop waiting when the capture ends.
        if (!isCurrent(generation))
            return;
        if (!page) {
            // The browser's own calls do not involve the page: a browser that misses them is hung,
            // not busy.
            if (page.error().number == CallError::TimedOut && m_host && !m_opener->failedInSetUp())
                m_host->noteBrowserUnresponsive(m_opener->connection());
            return fail(SnapCode::CaptureFailed, describe(page.error()));
        }
        m_contextId = page.value().contextId;
        m_targetId = page.value().targetId;
        m_session = page.value().session;
        m_use = page.value().use;
        m_pageCaptures = page.value().captures;
        m_pageTroubled = false;
        m_session->setParent(this);
        connect(m_session, &DevToolsSession::eventReceived, this, &HtmlSnap::handleSessionEvent);
        if (m_opener->setup().consentWalls && m_host)
            if (const auto rules = ConsentWalls::rules(m_host->shippedFilesFolder()))
                m_consent = new ConsentWalls(m_connection, m_session, rules.value(), this);
        navigate();
    });
}

PageSetup HtmlSnap::pageSetup() const { return setupWithScripts(m_scriptEnabled); }

PageSetup HtmlSnap::setupWithScripts(bool scripts) const
{
    const QSize viewport = screenshotSettings().viewport();
    PageSetup setup { viewport.width(), viewport.height(), scripts, false };
    if (scripts && m_dismissConsent && m_host) {
        const Common::Result<ConsentWalls::Rules> rules = ConsentWalls::rules(m_host->shippedFilesFolder());
        if (rules)
            setup.consentWalls = true;
        else
            // Captures go on as they would with the setting off; the build and the package ship
            // the file, so only a damaged installation gets here.
            qWarning("%s", qPrintable(rules.error().message));
    }
    return setup;
}

PageSetup HtmlSnap::attemptSetup() const
{
    return setupWithScripts(m_scriptEnabled || m_blankTry == BlankTry::WithScripts);
}

void HtmlSnap::setSparePage(SparePage* spare) { m_sparePage = spare; }

void HtmlSnap::navigate()
{
    m_stage = Stage::Navigating;
    Q_EMIT OnStatus(QStringLiteral("Loading %1").arg(m_url), SnapCode::Working);
    if (m_stage != Stage::Navigating)
        return;
    const quint64 generation = m_generation;
    // The navigation has no deadline of its own: a silent server or resolver never lets it reply,
    // and the capture's time-out stops it.
    m_session->call(QStringLiteral("Page.navigate"), { { QStringLiteral("url"), m_url } },
        std::chrono::milliseconds(m_timeOut) + 60s, [this, generation](const DevToolsConnection::Reply& reply) {
            if (isCurrent(generation))
                handleNavigated(reply);
        });
    // A page that will not be kept has the next capture's page open while this one loads. When the
    // slot's links go from site to site, the next link is most likely on yet another site too, so a
    // fresh page is opened for it rather than this one kept (keepPage).
    const bool siteChanged = m_sparePage && m_blankTry == BlankTry::First && m_sparePage->siteChanges(m_url);
    if (m_sparePage && m_connection
        && (siteChanged || m_pageCaptures + 1 >= kCapturesPerPage || runsPageClock() || m_blankTry != BlankTry::First))
        m_sparePage->prepare(m_connection, pageSetup(), m_host ? m_host->callTimeout() : 15s);
}

void HtmlSnap::handleNavigated(const Common::Result<QJsonObject>& reply)
{
    if (m_stage != Stage::Navigating)
        return;
    if (!reply) {
        const Common::Error& error = reply.error();
        if (error.number == CallError::SessionLost || error.number == CallError::ConnectionClosed
            || error.number == CallError::TimedOut)
            return fail(SnapCode::CaptureFailed, describe(error));
        // The browser refused the address itself ("Cannot navigate to invalid URL").
        return finish(SnapCode::OpenFailed, QStringLiteral("Failed to open the address: %1").arg(error.message));
    }
    const QString errorText = reply.value().value(QLatin1String("errorText")).toString();
    m_facts.netError = errorText;
    if (!errorText.isEmpty())
        return finish(SnapCode::OpenFailed, QStringLiteral("Failed to open the address: %1").arg(errorText));

    m_loaderId = reply.value().value(QLatin1String("loaderId")).toString();
    m_stage = Stage::Loading;
    if (m_loadedLoaders.contains(m_loaderId))
        pageLoaded();
}

void HtmlSnap::handleSessionEvent(const QString& method, const QJsonObject& params)
{
    if (m_stage == Stage::Idle || m_stage == Stage::Finished)
        return;
    if (method == QLatin1String("Page.lifecycleEvent")) {
        if (params.value(QLatin1String("name")).toString() != QLatin1String("load")
            || params.value(QLatin1String("frameId")).toString() != m_targetId)
            return;
        const QString loaderId = params.value(QLatin1String("loaderId")).toString();
        // Enabling lifecycle events replays about:blank's own load: only the navigation's loader counts.
        if (m_stage == Stage::Loading && loaderId == m_loaderId)
            pageLoaded();
        else if (m_stage == Stage::Navigating)
            m_loadedLoaders.insert(loaderId);
    } else if (method == QLatin1String("Page.frameNavigated")) {
        // A page that moves on by itself (a script or meta refresh) loads under a new loader.
        const QJsonObject frame = params.value(QLatin1String("frame")).toObject();
        if (frame.value(QLatin1String("id")).toString() != m_targetId || frame.contains(QLatin1String("parentId")))
            return;
        const QString loaderId = frame.value(QLatin1String("loaderId")).toString();
        if (loaderId == m_pendingLoader)
            m_pendingLoader.clear();
        if (m_stage == Stage::Loading)
            m_loaderId = loaderId;
        if (m_stage != Stage::Capturing)
            return;
        if (m_clock != Clock::RealTime)
            releaseClock();
        if (m_retry.isActive())
            m_retry.start(kRetryPause);
        else if (m_captureCall != 0)
            // The document the pending call renders is gone: the call fails or never answers.
            retryCapture();
    } else if (method == QLatin1String("Page.frameStartedNavigating")) {
        if (params.value(QLatin1String("frameId")).toString() == m_targetId
            && !params.value(QLatin1String("navigationType"))
                    .toString()
                    .contains(QLatin1String("SameDocument"), Qt::CaseInsensitive))
            m_pendingLoader = params.value(QLatin1String("loaderId")).toString();
    } else if (method == QLatin1String("Fetch.requestPaused")) {
        // A navigation's request carries its loader's id.
        if (params.value(QLatin1String("networkId")).toString() == m_pendingLoader)
            m_pendingLoader.clear();
        // Only a held page's document requests are paused (holdPage).
        refuseHeldRequest(*m_session, params);
    } else if (method == QLatin1String("Page.javascriptDialogOpening")) {
        // A dialog left open blocks the page's main thread, and with it the load and the screenshot.
        m_session->post(QStringLiteral("Page.handleJavaScriptDialog"),
            { { QStringLiteral("accept"), true }, { QStringLiteral("promptText"), QString() } });
    } else if (method == QLatin1String("Network.responseReceived")) {
        noteDocumentResponse(params);
    } else if (method == QLatin1String("Network.requestWillBeSent")) {
        m_requestsStarted.insert(params.value(QLatin1String("requestId")).toString());
        updateProgress();
    } else if (method == QLatin1String("Network.loadingFinished") || method == QLatin1String("Network.loadingFailed")) {
        m_requestsDone.insert(params.value(QLatin1String("requestId")).toString());
        updateProgress();
    } else if (method == QLatin1String("Emulation.virtualTimeBudgetExpired")) {
        // The clock now stands still where the delay ends, and the page is captured as it stands.
        m_clock = Clock::Stopped;
        if (m_stage == Stage::Delaying)
            capture();
    } else if (method == QLatin1String("Inspector.targetCrashed")) {
        fail(SnapCode::CaptureFailed, QStringLiteral("the page's renderer crashed"));
    }
}

void HtmlSnap::handleBrowserEvent(const QString& method, const QJsonObject& params)
{
    if (m_stage == Stage::Idle || m_stage == Stage::Finished || m_targetId.isEmpty())
        return;
    if (const auto loss = pageLoss(method, params, m_targetId, m_session ? m_session->id() : QString()))
        fail(SnapCode::CaptureFailed, *loss);
}

void HtmlSnap::noteDocumentResponse(const QJsonObject& params)
{
    // Redirects never reach this event; a page that moves on by itself does, and the last
    // document is the one captured.
    if (params.value(QLatin1String("type")).toString() != QLatin1String("Document")
        || params.value(QLatin1String("frameId")).toString() != m_targetId)
        return;
    const QJsonObject response = params.value(QLatin1String("response")).toObject();
    m_facts.httpStatus = response.value(QLatin1String("status")).toInt();
    m_facts.finalUrl = response.value(QLatin1String("url")).toString();
}

void HtmlSnap::askTitle()
{
    // Sent just before the layout call: the renderer answers both in order, so the title is in
    // before the capture can end, and nothing ever waits for it.
    const quint64 generation = m_generation;
    m_session->call(QStringLiteral("Runtime.evaluate"),
        { { QStringLiteral("expression"), QStringLiteral("document.title") },
            { QStringLiteral("returnByValue"), true } },
        captureCallTimeout(), [this, generation](const DevToolsConnection::Reply& reply) {
            if (!isCurrent(generation) || !reply)
                return;
            const QJsonObject result = reply.value().value(QLatin1String("result")).toObject();
            if (result.value(QLatin1String("type")).toString() == QLatin1String("string"))
                m_facts.title = result.value(QLatin1String("value")).toString().left(kMaxTitleLength);
        });
}

void HtmlSnap::updateProgress()
{
    if (m_requestsStarted.isEmpty())
        return;
    const qsizetype done = std::min(m_requestsDone.size(), m_requestsStarted.size());
    const int percent = static_cast<int>(done * 100 / m_requestsStarted.size());
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    Q_EMIT OnProgress(percent);
}

void HtmlSnap::handleDeadline()
{
    m_pageTroubled = true;
    switch (m_stage) {
    case Stage::WaitingForBrowser:
    case Stage::Opening:
    case Stage::Navigating:
        // Nothing of the page has been committed yet: a capture now would only show about:blank.
        if (m_session)
            m_session->post(QStringLiteral("Page.stopLoading"));
        finish(SnapCode::TimedOut, QStringLiteral("Timed out after %1 ms before taking the snapshot").arg(m_timeOut));
        break;
    case Stage::Loading:
        m_session->post(QStringLiteral("Page.stopLoading"));
        if (m_forceSnap) {
            Q_EMIT OnStatus(QStringLiteral("Timed out: taking the snapshot of what has loaded"), SnapCode::Working);
            if (m_stage == Stage::Loading)
                capture();
        } else {
            finish(
                SnapCode::TimedOut, QStringLiteral("Timed out after %1 ms before taking the snapshot").arg(m_timeOut));
        }
        break;
    default:
        break;
    }
}

void HtmlSnap::pageLoaded()
{
    m_deadline.stop();
    if (!m_consent)
        return startDelay();
    m_stage = Stage::AnsweringConsent;
    const quint64 generation = m_generation;
    connect(m_consent, &ConsentWalls::settled, this, [this, generation] {
        if (isCurrent(generation) && m_stage == Stage::AnsweringConsent)
            startDelay();
    });
    m_consent->start();
}

void HtmlSnap::dropConsentWalls()
{
    // It may be the one signalling now.
    if (m_consent) {
        disconnect(m_consent, nullptr, this, nullptr);
        if (m_session)
            disconnect(m_session, nullptr, m_consent, nullptr);
        m_consent->deleteLater();
    }
    m_consent = nullptr;
}

void HtmlSnap::startDelay()
{
    m_stage = Stage::Delaying;
    if (m_delayTime <= 0) {
        capture();
        return;
    }
    Q_EMIT OnStatus(QStringLiteral("Page loaded, waiting %1 ms").arg(m_delayTime), SnapCode::Working);
    if (m_stage != Stage::Delaying)
        return;
    // The real-time wait stays the bound of a fast delay: the page's clock stands still while any
    // of its fetches is pending, so a page that keeps fetching would never spend its budget.
    m_delay.start(m_delayTime);
    if (runsPageClock())
        runClockAhead(m_delayTime);
}

bool HtmlSnap::runsPageClock() const { return m_fastDelay && m_delayTime > 0; }

void HtmlSnap::runClockAhead(int budgetMs)
{
    // The budget spent, the page's clock stays paused: the capture shows the page as the delay left
    // it, whatever its later timers would do. A browser that refuses the policy leaves the real-time
    // wait to end the delay.
    m_clock = Clock::RunningAhead;
    if (m_use)
        m_use->noteClockRun();
    m_session->post(QStringLiteral("Emulation.setVirtualTimePolicy"),
        { { QStringLiteral("policy"), QStringLiteral("pauseIfNetworkFetchesPending") },
            { QStringLiteral("budget"), budgetMs } });
}

void HtmlSnap::stopClock()
{
    // The real-time bound came first (a fetch kept the clock waiting, or a script never yielded):
    // the budget left must not run on during the capture, where a page fetching no more would jump
    // to its next timer at once. The policy is the renderer's to apply and the screenshot the
    // browser's, so the capture waits for the reply.
    m_clock = Clock::Stopped;
    const quint64 generation = m_generation;
    m_terminateSent = false;
    m_stall.start(kStallBeforeTerminate);
    m_captureCall = m_session->call(QStringLiteral("Emulation.setVirtualTimePolicy"),
        { { QStringLiteral("policy"), QStringLiteral("pause") } }, captureCallTimeout(),
        [this, generation](const DevToolsConnection::Reply&) {
            if (!isCurrent(generation))
                return;
            m_captureCall = 0;
            m_stall.stop();
            startCaptureAttempt();
        });
}

void HtmlSnap::releaseClock()
{
    // A document that replaces the page during the capture never presents a frame while the clock
    // stands still, and the screenshot would wait for it forever. A page that moves on by itself is
    // captured as it stands, so its clock may run again.
    m_clock = Clock::RealTime;
    m_session->post(
        QStringLiteral("Emulation.setVirtualTimePolicy"), { { QStringLiteral("policy"), QStringLiteral("advance") } });
}

void HtmlSnap::capture()
{
    if (m_stage != Stage::Delaying && m_stage != Stage::Loading)
        return;
    m_deadline.stop();
    m_delay.stop();
    m_stage = Stage::Capturing;
    Q_EMIT OnStatus(QStringLiteral("Taking the snapshot"), SnapCode::Working);
    if (m_stage != Stage::Capturing)
        return;

    holdPage();
    m_captureAttempts = 0;
    // Retries share the two renderer deadlines of one attempt, so a capture still ends in time.
    m_captureEnds = std::chrono::steady_clock::now() + 2 * kRendererDeadline;
    if (m_clock == Clock::RunningAhead)
        stopClock();
    else
        startCaptureAttempt();
}

void HtmlSnap::holdPage()
{
    // The page is captured as it stands when the load and the delay end. A document that replaces it
    // meanwhile (a meta refresh, a script, a reload loop) takes the renderer's pending call with it:
    // the call fails with "Not attached to an active page" or never answers. From here on every
    // document request is paused, then aborted.
    const QJsonObject documents { { QStringLiteral("resourceType"), QStringLiteral("Document") },
        { QStringLiteral("requestStage"), QStringLiteral("Request") } };
    m_session->post(QStringLiteral("Fetch.enable"), { { QStringLiteral("patterns"), QJsonArray { documents } } });
    // A navigation whose request has already gone out is left to commit: the capture then starts
    // again on its document (frameNavigated). Stopping it here races its commit, and a document
    // stopped just after committing, before it has loaded, never paints: the screenshot waits for
    // it forever. Only one still pending when the capture stalls is stopped.
}

void HtmlSnap::startCaptureAttempt()
{
    if (m_stage != Stage::Capturing || !m_session)
        return;
    ++m_captureAttempts;
    askTitle();
    if (screenshotSettings().exactViewport()) {
        takeScreenshot({});
        return;
    }
    const quint64 generation = m_generation;
    m_terminateSent = false;
    m_stall.start(kStallBeforeTerminate);
    m_captureCall = m_session->call(QStringLiteral("Page.getLayoutMetrics"), {}, captureCallTimeout(),
        [this, generation](const DevToolsConnection::Reply& reply) {
            if (!isCurrent(generation))
                return;
            m_captureCall = 0;
            m_stall.stop();
            if (!reply) {
                if (reply.error().number < 0 && retryCapture())
                    return;
                return fail(SnapCode::CaptureFailed, describe(reply.error()));
            }
            takeScreenshot(reply.value());
        });
}

// Drops the pending call and starts again shortly on the document that now stands. False when the
// capture has no attempt or time left for it.
bool HtmlSnap::retryCapture()
{
    m_pageTroubled = true;
    if (m_captureAttempts >= kCaptureAttempts || captureCallTimeout() <= kRetryPause)
        return false;
    if (m_captureCall != 0) {
        m_session->cancel(m_captureCall);
        m_captureCall = 0;
    }
    m_stall.stop();
    m_retry.start(kRetryPause);
    return true;
}

std::chrono::milliseconds HtmlSnap::captureCallTimeout() const
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(m_captureEnds - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds(1), kRendererDeadline);
}

ScreenshotSettings HtmlSnap::screenshotSettings() const
{
    return { m_snapWidth, m_snapHeight, m_dimensionAsImageSize, m_pictureFile == kInMemory ? QString() : m_pictureFile,
        m_jpegQuality, m_zoom, m_thumbnailHint };
}

void HtmlSnap::takeScreenshot(const QJsonObject& layoutMetrics)
{
    const ScreenshotPlan plan = planScreenshot(screenshotSettings(), layoutMetrics);
    const quint64 generation = m_generation;
    m_terminateSent = false;
    m_stall.start(kStallBeforeTerminate);
    m_captureCall = m_session->call(QStringLiteral("Page.captureScreenshot"), plan.params, captureCallTimeout(),
        [this, generation, format = plan.format, imageSize = plan.imageSize](const DevToolsConnection::Reply& reply) {
            if (!isCurrent(generation))
                return;
            m_captureCall = 0;
            m_stall.stop();
            if (!reply) {
                if (reply.error().number < 0 && retryCapture())
                    return;
                return fail(SnapCode::CaptureFailed, describe(reply.error()));
            }
            readPicture(reply.value().value(QLatin1String("data")).toString(), format, imageSize);
        });
}

void HtmlSnap::readPicture(const QString& base64, const QString& format, QSize size)
{
    // Decoding takes milliseconds a picture, too long for the GUI thread with many captures in flight:
    // it runs on a worker while the capture waits, and its result is dropped if the capture ended meanwhile.
    const QSize reducedSize = reducedPictureSize(screenshotSettings(), size);
    const quint64 generation = m_generation;
    auto* watcher = new QFutureWatcher<ReadPicture>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, format, size] {
        watcher->deleteLater();
        if (!isCurrent(generation) || m_stage != Stage::Capturing)
            return;
        const ReadPicture read = watcher->result();
        if (read.bytes.isEmpty())
            return fail(SnapCode::CaptureFailed, QStringLiteral("the browser returned no image"));
        if (read.blank)
            return lookAgain();
        storeImage(read.bytes, format, size, read.reduced);
    });
    watcher->setFuture(QtConcurrent::run(readPictureData, base64, format.toLatin1(), size, reducedSize, m_blankCheck));
}

void HtmlSnap::storeImage(const QByteArray& bytes, const QString& format, QSize size, const QImage& reduced)
{
    m_image = bytes;
    m_reduced = reduced;
    m_imageFormat = format;
    m_imageSize = size;
    // The page is no longer needed: release its renderer before any file work, or keep it for the
    // slot's next capture.
    keepPage();
    releasePage();
    if (m_pictureFile == kInMemory)
        return finish(SnapCode::Captured, QStringLiteral("Captured in memory succeeded"));

    const QByteArray fileFormat = Imaging::writerFormatFor(m_pictureFile);
    if (fileFormat.isEmpty() || fileFormat == format.toLatin1()) {
        const Common::Status written = Imaging::writeFileAtomically(m_pictureFile, bytes);
        if (!written)
            return finish(SnapCode::FileWriteFailed, written.error().message);
    } else {
        const QImage image = Imaging::decodeImage(bytes, format.toLatin1());
        if (image.isNull())
            return fail(SnapCode::CaptureFailed, QStringLiteral("the captured image cannot be read"));
        const Common::Status written = Imaging::writeImageFile(image, m_pictureFile, m_jpegQuality);
        if (!written)
            return finish(SnapCode::FileWriteFailed, written.error().message);
    }
    finish(SnapCode::Captured, QStringLiteral("Captured to file succeeded"));
}

void HtmlSnap::lookAgain()
{
    if (m_blankTry != BlankTry::First)
        return finish(SnapCode::Blank, QStringLiteral("The page is blank"));
    if (!m_scriptEnabled) {
        // A page that draws itself with scripts is an empty box without them.
        m_blankTry = BlankTry::WithScripts;
        Q_EMIT OnStatus(QStringLiteral("The page is blank: loading it again with scripts on"), SnapCode::Working);
        if (m_stage != Stage::Capturing)
            return;
        // Nothing of the first page may reach the second load.
        ++m_generation;
        releasePage();
        m_facts = {};
        m_stage = Stage::WaitingForBrowser;
        begin();
        return;
    }
    m_blankTry = BlankTry::AfterWait;
    const int wait = std::max(m_delayTime, kLookAgainAtLeastMs);
    Q_EMIT OnStatus(QStringLiteral("The page is blank: looking again in %1 ms").arg(wait), SnapCode::Working);
    if (m_stage != Stage::Capturing)
        return;
    m_stage = Stage::Delaying;
    m_delay.start(wait);
    // A page whose clock stands still where the delay ended would show the same picture again.
    if (m_clock == Clock::Stopped)
        runClockAhead(wait);
}

void HtmlSnap::fail(int code, const QString& text)
{
    finish(code, QStringLiteral("Failed to capture the page: %1").arg(text));
}

void HtmlSnap::finish(int code, const QString& text)
{
    if (m_stage == Stage::Finished || m_stage == Stage::Idle)
        return;
    m_stage = Stage::Finished;
    m_deadline.stop();
    m_delay.stop();
    m_stall.stop();
    m_retry.stop();
    m_code = code;
    m_facts.elapsedMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_started).count();
    if (code != SnapCode::Captured) {
        m_image.clear();
        m_reduced = {};
        m_imageFormat.clear();
        m_imageSize = {};
    }
    releasePage();
    if (m_host && code == SnapCode::Captured)
        m_host->noteCaptureSucceeded();
    if (m_host)
        m_host->endUse(this);
    // Last: the receiver may delete this engine.
    Q_EMIT OnStatus(text, code);
}

void HtmlSnap::keepPage()
{
    // Only a page that answered every call in time: one that stalled, timed out or had to be retried
    // may be what slows the next capture down.
    if (!m_sparePage || !m_connection || !m_session || m_pageTroubled || m_pageCaptures + 1 >= kCapturesPerPage
        || !m_use || !m_use->reusable() || m_blankTry == BlankTry::WithScripts || m_sparePage->holdsFreshPage())
        return;
    // Nothing of this capture may reach its engine through the page's next owner.
    m_session->dropCalls();
    disconnect(m_session, nullptr, this, nullptr);
    dropConsentWalls();
    m_captureCall = 0;
    m_sparePage->keep(m_connection, pageSetup(),
        OpenedPage { m_contextId, m_targetId, std::exchange(m_session, nullptr), m_use, m_pageCaptures + 1 },
        m_host ? m_host->callTimeout() : 15s);
    m_use = nullptr;
    m_targetId.clear();
    m_contextId.clear();
}

void HtmlSnap::releasePage()
{
    m_deadline.stop();
    m_delay.stop();
    m_stall.stop();
    m_retry.stop();
    m_captureCall = 0;
    m_clock = Clock::RealTime;
    m_use = nullptr;
    dropConsentWalls();
    if (m_opener) {
        // Its answer may already be on its way through the event loop.
        m_opener->whenOpened({});
        m_opener.release()->deleteLater();
    }
    if (m_session) {
        delete m_session;
        m_session = nullptr;
    }
    if (m_connection) {
        disconnect(m_closedConnection);
        disconnect(m_browserEventConnection);
        if (!m_targetId.isEmpty())
            m_connection->post(
                {}, QStringLiteral("Target.closeTarget"), { { QStringLiteral("targetId"), m_targetId } });
        if (!m_contextId.isEmpty())
            m_connection->post({}, QStringLiteral("Target.disposeBrowserContext"),
                { { QStringLiteral("browserContextId"), m_contextId } });
    }
    m_connection = nullptr;
    m_targetId.clear();
    m_contextId.clear();
    m_loaderId.clear();
    m_pendingLoader.clear();
    m_loadedLoaders.clear();
    m_requestsStarted.clear();
    m_requestsDone.clear();
    m_lastPercent = -1;
}

} // namespace Capture
