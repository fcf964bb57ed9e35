#include "capture/consentwalls.h"

#include <utility>

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include "capture/devtoolsconnection.h"
#include "capture/devtoolssession.h"

namespace Capture {

using namespace std::chrono_literals;

namespace {

    const QString kLibraryFile = QStringLiteral("autoconsent/autoconsent.standalone.js");

    // Around the library, in every document: only web pages get it (not the blank page a kept page
    // is reset to), and its progress log, which would cost each frame a message to the browser, is
    // kept quiet. The standalone build starts with its own "use strict", which stays in force
    // through the wrapper's.
    const QString kLibraryBefore = QStringLiteral(R"js((function () {
"use strict";
if (location.protocol !== 'http:' && location.protocol !== 'https:')
    return;
const log = console.log;
console.log = function () {};
try {
)js");

    // Then: the standalone build keeps every message it would send in
    // window.autoconsentStandalone.messages, and watching that list tells when the wall is answered.
    // Its first look for a platform starts at the load event rather than when the page is idle
    // (under load that can be half a second later), and a look that ends with the heuristics check
    // having found no platform leaves nothing to wait for, although the library goes on looking.
    // Walls it knows that appear later stay hidden for its first two seconds. Its look ends before
    // the answer to a wall it found does: then only the answer's result ends the wait. The promise lives on
    // the library's own object, so the page gets no global of ours.
    const QString kLibraryAfter = QStringLiteral(R"js(
} finally {
    console.log = log;
}
const s = window.autoconsentStandalone;
if (!s || s.settled)
    return;
const consent = s.instance;
try {
    Object.assign(consent.config.logs, { lifecycle: false, rulesteps: false, waits: false });
    consent.config.enableHeuristicDetection = false;
} catch (e) {}
let settle;
s.settled = new Promise((resolve) => { settle = resolve; });
let detected = false;
let answering = false;
const final = ['nothingDetected', 'done', 'optOutSucceeded', 'optOutFailed', 'optInSucceeded', 'optInFailed'];
const note = (m) => {
    if (!m)
        return;
    if (m.type === 'cmpDetected')
        detected = true;
    else if (m.type === 'popupFound')
        answering = true;
    else if (m.type === 'optOutResult' || m.type === 'optInResult' || m.type === 'autoconsentDone')
        settle(m.type);
    else if (m.type === 'report' && m.state && final.includes(m.state.lifecycle))
        settle(m.state.lifecycle);
};
s.messages.forEach(note);
const push = s.messages.push;
s.messages.push = function (...added) {
    added.forEach(note);
    return push.apply(this, added);
};
if (typeof consent._start === 'function') {
    const start = consent._start;
    consent._start = function (...args) {
        return Promise.resolve(start.apply(this, args)).finally(() => {
            if (!answering)
                settle('finished');
        });
    };
    consent.start = function () {
        const go = () => setTimeout(() => this._start(), 0);
        if (document.readyState === 'complete')
            go();
        else
            window.addEventListener('load', go, { once: true });
    };
}
if (typeof consent.detectHeuristics === 'function') {
    const heuristics = consent.detectHeuristics;
    consent.detectHeuristics = function (...args) {
        const result = heuristics.apply(this, args);
        if (!detected) {
            // Nothing to answer: its further looks (every half second, in a fast delay's clock
            // too) would only cost the capture processor time.
            this.domActions.wait = () => new Promise(() => {});
            settle('none');
        }
        return result;
    };
}
})();
)js");

    const QString kWaitExpression = QStringLiteral(
        "(() => { const s = window.autoconsentStandalone; return s && s.settled ? s.settled : 'absent'; })()");

} // namespace

Common::Result<QString> ConsentWalls::script(const QString& shippedFolder)
{
    // Read once: every page of a run injects the same 400 KB.
    static QHash<QString, QString> loaded;
    if (const auto found = loaded.constFind(shippedFolder); found != loaded.constEnd())
        return found.value();
    QFile file(shippedFolder + kLibraryFile);
    if (!file.open(QIODevice::ReadOnly))
        return Common::Error { 0, QStringLiteral("Capture"),
            QStringLiteral("The consent rules %1 cannot be read: %2").arg(file.fileName(), file.errorString()) };
    const QString source = kLibraryBefore + QString::fromUtf8(file.readAll()) + kLibraryAfter;
    loaded.insert(shippedFolder, source);
    return source;
}

QJsonObject ConsentWalls::frameAttachment()
{
    // Frames only: a worker attached this way would wait for a word nobody sends.
    return { { QStringLiteral("autoAttach"), true }, { QStringLiteral("waitForDebuggerOnStart"), true },
        { QStringLiteral("flatten"), true },
        { QStringLiteral("filter"),
            QJsonArray { QJsonObject { { QStringLiteral("type"), QStringLiteral("iframe") } } } } };
}

void ConsentWalls::startFrame(DevToolsConnection* connection, const QJsonObject& params, const QString& script)
{
    const QString frameSession = params.value(QLatin1String("sessionId")).toString();
    if (!connection || frameSession.isEmpty())
        return;
    // The frame's session takes them in order: the script is in place before its document starts.
    // Without the page domain enabled, the frame's documents do not run it.
    connection->post(frameSession, QStringLiteral("Page.enable"));
    if (!script.isEmpty())
        connection->post(frameSession, QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
            { { QStringLiteral("source"), script } });
    connection->post(frameSession, QStringLiteral("Runtime.runIfWaitingForDebugger"));
}

ConsentWalls::ConsentWalls(DevToolsConnection* connection, DevToolsSession* session, QString script, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_session(session)
    , m_script(std::move(script))
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] { finish(QStringLiteral("bound")); });
    connect(session, &DevToolsSession::eventReceived, this, &ConsentWalls::handleEvent);
}

ConsentWalls::~ConsentWalls() { cancelCalls(); }

void ConsentWalls::handleEvent(const QString& method, const QJsonObject& params)
{
    const QString frameSession = params.value(QLatin1String("sessionId")).toString();
    if (method == QLatin1String("Target.attachedToTarget")) {
        startFrame(m_connection, params, m_script);
        if (!frameSession.isEmpty())
            m_frameSessions.insert(frameSession);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        m_frameSessions.remove(frameSession);
    }
}

void ConsentWalls::start()
{
    if (m_started)
        return;
    m_started = true;
    m_bound.start(Bound);
    if (!m_connection || !m_session)
        return;
    // The main frame and every frame of another site: each runs its own copy of the library. A page
    // whose main thread is busy, or a document replaced meanwhile, is left to the bound; the calls'
    // own deadline only has to outlast it.
    const QJsonObject params { { QStringLiteral("expression"), kWaitExpression },
        { QStringLiteral("awaitPromise"), true }, { QStringLiteral("returnByValue"), true } };
    QStringList sessions { m_session->id() };
    sessions += m_frameSessions.values();
    for (const QString& session : std::as_const(sessions)) {
        const bool main = session == m_session->id();
        const quint64 call = m_connection->call(session, QStringLiteral("Runtime.evaluate"), params, Bound + 1s, this,
            [this, main](const DevToolsConnection::Reply& reply) {
                // A frame that went away, or whose document was replaced, has nothing left to wait for.
                if (main)
                    m_outcome = reply ? reply.value()
                                            .value(QLatin1String("result"))
                                            .toObject()
                                            .value(QLatin1String("value"))
                                            .toString()
                                      : QStringLiteral("gone");
                if (--m_pending == 0)
                    finish(m_outcome);
            });
        if (call != 0) {
            m_calls.append(call);
            ++m_pending;
        }
    }
}

void ConsentWalls::cancelCalls()
{
    if (m_connection)
        for (const quint64 call : std::as_const(m_calls))
            m_connection->cancel(call);
    m_calls.clear();
    m_pending = 0;
}

void ConsentWalls::finish(const QString& outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_bound.stop();
    cancelCalls();
    // From the event loop: call replies and the bound's timer both come from there.
    Q_EMIT settled(outcome);
}

} // namespace Capture
