#include "capture/consentwalls.h"

#include <QFile>
#include <QHash>
#include <QJsonObject>

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

    // Then, in the main frame: the standalone build keeps every message it would send in
    // window.autoconsentStandalone.messages, and watching that list tells when the wall is answered.
    // Its first look for a platform starts at the load event rather than when the page is idle
    // (under load that can be half a second later), and a look that ends with the heuristics check
    // having found no platform leaves nothing to wait for, although the library goes on looking.
    // Walls it knows that appear later stay hidden for its first two seconds. The promise lives on
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
if (window.top !== window)
    return;
let settle;
s.settled = new Promise((resolve) => { settle = resolve; });
let detected = false;
const final = ['nothingDetected', 'done', 'optOutSucceeded', 'optOutFailed', 'optInSucceeded', 'optInFailed'];
const note = (m) => {
    if (!m)
        return;
    if (m.type === 'cmpDetected')
        detected = true;
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
        return Promise.resolve(start.apply(this, args)).finally(() => settle('finished'));
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
        if (!detected)
            settle('none');
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

ConsentWalls::ConsentWalls(DevToolsSession* session, QObject* parent)
    : QObject(parent)
    , m_session(session)
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] { finish(QStringLiteral("bound")); });
}

ConsentWalls::~ConsentWalls()
{
    if (m_call != 0 && m_session)
        m_session->cancel(m_call);
}

void ConsentWalls::start()
{
    m_bound.start(Bound);
    if (!m_session)
        return;
    // The page's main thread may be busy or its document replaced: the bound ends the wait, and the
    // call's own deadline only has to outlast it.
    m_call = m_session->call(QStringLiteral("Runtime.evaluate"),
        { { QStringLiteral("expression"), kWaitExpression }, { QStringLiteral("awaitPromise"), true },
            { QStringLiteral("returnByValue"), true } },
        Bound + 1s, [this](const DevToolsConnection::Reply& reply) {
            m_call = 0;
            // A document replaced meanwhile takes the promise with it: nothing is left to wait for.
            const QString outcome = reply
                ? reply.value().value(QLatin1String("result")).toObject().value(QLatin1String("value")).toString()
                : QStringLiteral("gone");
            // Replies come from the event loop already; the bound's timer may have fired first.
            finish(outcome);
        });
}

void ConsentWalls::finish(const QString& outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_bound.stop();
    if (m_call != 0 && m_session) {
        m_session->cancel(m_call);
        m_call = 0;
    }
    Q_EMIT settled(outcome);
}

} // namespace Capture
