#include "capture/consentwalls.h"

#include <utility>

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include "capture/consentprobe.h"
#include "capture/devtoolsconnection.h"
#include "capture/devtoolssession.h"

namespace Capture {

using namespace std::chrono_literals;

namespace {

    const QString kLibraryFile = QStringLiteral("autoconsent/autoconsent.standalone.js");

    // Around the library: only web pages get it, and its progress log, which would cost each frame
    // a message to the browser, is kept quiet. The standalone build starts with its own "use strict", which stays in
    // force through the wrapper's.
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
    // Its first look for a platform starts at once (the page has loaded) rather than when the page
    // is idle (under load that can be half a second later), and only once; a look that ends with
    // the heuristics check having found no platform leaves nothing to wait for, although the
    // library goes on looking. Its look ends before the answer to a wall it found does: then only
    // the answer's result ends the wait. The promise lives on the library's own object, so the page
    // gets no global of ours; the evaluation's value is that promise.
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
    let started;
    consent._start = function (...args) {
        if (!started)
            started = Promise.resolve(start.apply(this, args)).finally(() => {
                if (!answering)
                    settle('finished');
            });
        return started;
    };
    const go = () => setTimeout(() => consent._start(), 0);
    if (document.readyState === 'complete')
        go();
    else
        window.addEventListener('load', go, { once: true });
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
(() => {
    const s = window.autoconsentStandalone;
    if (!s || !s.settled)
        return 'absent';
    // A frame of another site paints in a process of its own, which the page's screenshot does not
    // wait for: an answered wall has to be drawn away first. Two frames, or a fifth of a second
    // where the page draws none.
    const drawn = (o) => new Promise((resolve) => {
        setTimeout(() => resolve(o), 200);
        requestAnimationFrame(() => requestAnimationFrame(() => resolve(o)));
    });
    return s.settled.then((o) => (o === 'none' || o === 'finished' ? o : drawn(o)));
})()
)js");

    QJsonValue evaluated(const DevToolsConnection::Reply& reply)
    {
        return reply.value().value(QLatin1String("result")).toObject().value(QLatin1String("value"));
    }

} // namespace

Common::Result<ConsentWalls::Rules> ConsentWalls::rules(const QString& shippedFolder)
{
    // Read once: every page of a run uses the same rules.
    static QHash<QString, Rules> loaded;
    if (const auto found = loaded.constFind(shippedFolder); found != loaded.constEnd())
        return found.value();
    QFile file(shippedFolder + kLibraryFile);
    if (!file.open(QIODevice::ReadOnly))
        return Common::Error { 0, QStringLiteral("Capture"),
            QStringLiteral("The consent rules %1 cannot be read: %2").arg(file.fileName(), file.errorString()) };
    const QString source = QString::fromUtf8(file.readAll());
    Rules rules { kLibraryBefore + source + kLibraryAfter, consentProbe(source) };
    if (rules.probe.general.isEmpty()) {
        // A library whose rules this version cannot read still answers walls, at every page's cost.
        qWarning("The consent rules in %s have an unknown layout: every page gets them", qPrintable(file.fileName()));
        rules.probe = { QStringLiteral("true"), QStringLiteral("true") };
    }
    loaded.insert(shippedFolder, rules);
    return rules;
}

QJsonObject ConsentWalls::frameAttachment()
{
    // Frames only: nothing has to be in place before their documents start.
    return { { QStringLiteral("autoAttach"), true }, { QStringLiteral("waitForDebuggerOnStart"), false },
        { QStringLiteral("flatten"), true },
        { QStringLiteral("filter"),
            QJsonArray { QJsonObject { { QStringLiteral("type"), QStringLiteral("iframe") } } } } };
}

ConsentWalls::ConsentWalls(DevToolsConnection* connection, DevToolsSession* session, Rules rules, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_session(session)
    , m_rules(std::move(rules))
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] { finish(QStringLiteral("bound")); });
    connect(session, &DevToolsSession::eventReceived, this, &ConsentWalls::handleEvent);
}

ConsentWalls::~ConsentWalls()
{
    cancelCalls();
    disableRuntime();
}

void ConsentWalls::handleEvent(const QString& method, const QJsonObject& params)
{
    const QString frameSession = params.value(QLatin1String("sessionId")).toString();
    if (method == QLatin1String("Target.attachedToTarget")) {
        if (!frameSession.isEmpty())
            m_frameSessions.insert(frameSession);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        m_frameSessions.remove(frameSession);
    } else if (method == QLatin1String("Runtime.executionContextCreated") && m_runtimeOn) {
        const QJsonObject context = params.value(QLatin1String("context")).toObject();
        const QJsonObject data = context.value(QLatin1String("auxData")).toObject();
        if (data.value(QLatin1String("isDefault")).toBool())
            m_contexts.append(
                { context.value(QLatin1String("id")).toInt(), data.value(QLatin1String("frameId")).toString() });
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
    // The main frame and every frame of another site: each is asked, and each with a candidate runs
    // its own copy of the library. A page whose main thread is busy, or a document replaced
    // meanwhile, is left to the bound; the calls' own deadline only has to outlast it.
    QStringList sessions { m_session->id() };
    sessions += m_frameSessions.values();
    for (const QString& session : std::as_const(sessions))
        ask({ session, 0 }, session == m_session->id());
}

void ConsentWalls::ask(const Document& document, bool main, bool complete)
{
    // The main frame also tells whether it has frames.
    const QString& probe = complete ? m_rules.probe.complete : m_rules.probe.general;
    const QString expression = main ? u'[' + probe + u", window.length]" : probe;
    const bool asked
        = evaluate(document, expression, false, [this, document, main, complete](const QJsonValue& value, bool gone) {
              if (gone)
                  return settleOne(main, QStringLiteral("gone"));
              if (main && !complete && value.toArray().at(1).toInt() > 0)
                  askFramesOfSite();
              const QJsonValue answered = main ? value.toArray().at(0) : value;
              if (answered == QLatin1String("sites")) {
                  ask(document, main, true);
                  settleOne(false, {});
              } else if (answered.toBool()) {
                  answer(document, main);
              } else {
                  settleOne(main, QStringLiteral("none"));
              }
          });
    if (asked)
        ++m_pending;
}

void ConsentWalls::askFramesOfSite()
{
    // The page's frames of its own site run in the main frame's process and session: their
    // documents are the runtime's default contexts other than the main frame's, all reported as
    // the runtime is enabled, before its reply. It is disabled again at once, so the page's console
    // costs it no messages.
    const QString session = m_session->id();
    const bool asked = send(
        session, QStringLiteral("Page.getFrameTree"), {}, [this, session](const DevToolsConnection::Reply& tree) {
            if (!tree)
                return settleOne(false, {});
            const QString mainFrame = tree.value()
                                          .value(QLatin1String("frameTree"))
                                          .toObject()
                                          .value(QLatin1String("frame"))
                                          .toObject()
                                          .value(QLatin1String("id"))
                                          .toString();
            m_contexts.clear();
            m_runtimeOn = true;
            const bool enabled = send(session, QStringLiteral("Runtime.enable"), {},
                [this, session, mainFrame](const DevToolsConnection::Reply&) {
                    disableRuntime();
                    for (const auto& [context, frame] : std::as_const(m_contexts))
                        if (frame != mainFrame)
                            ask({ session, context }, false);
                    settleOne(false, {});
                });
            if (!enabled)
                settleOne(false, {});
        });
    if (asked)
        ++m_pending;
}

void ConsentWalls::disableRuntime()
{
    if (m_runtimeOn && m_connection && m_session)
        m_connection->post(m_session->id(), QStringLiteral("Runtime.disable"));
    m_runtimeOn = false;
}

void ConsentWalls::answer(const Document& document, bool main)
{
    const bool asked = evaluate(document, m_rules.library, true, [this, main](const QJsonValue& value, bool gone) {
        settleOne(main, gone ? QStringLiteral("gone") : value.toString());
    });
    if (!asked)
        settleOne(main, QStringLiteral("gone"));
}

bool ConsentWalls::evaluate(const Document& document, const QString& expression, bool awaitPromise, Done done)
{
    QJsonObject params { { QStringLiteral("expression"), expression }, { QStringLiteral("awaitPromise"), awaitPromise },
        { QStringLiteral("returnByValue"), true } };
    if (document.context != 0)
        params.insert(QStringLiteral("contextId"), document.context);
    // A frame that went away, or whose document was replaced, has nothing left to wait for.
    return send(document.session, QStringLiteral("Runtime.evaluate"), params,
        [done = std::move(done)](
            const DevToolsConnection::Reply& reply) { done(reply ? evaluated(reply) : QJsonValue(), !reply); });
}

bool ConsentWalls::send(
    const QString& session, const QString& method, const QJsonObject& params, DevToolsConnection::Callback callback)
{
    if (!m_connection)
        return false;
    const quint64 call = m_connection->call(session, method, params, Bound + 1s, this, std::move(callback));
    if (call == 0)
        return false;
    m_calls.append(call);
    return true;
}

void ConsentWalls::settleOne(bool main, const QString& outcome)
{
    if (main)
        m_outcome = outcome;
    if (--m_pending == 0)
        finish(m_outcome);
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
    disableRuntime();
    // From the event loop: call replies and the bound's timer both come from there.
    Q_EMIT settled(outcome);
}

} // namespace Capture
