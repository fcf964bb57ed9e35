#pragma once

#include <chrono>
#include <functional>

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include "capture/consentprobe.h"
#include "capture/devtoolsconnection.h"
#include "common/result.h"

namespace Capture {

class DevToolsSession;

// Cookie-consent walls answered before a capture, by the consent-rules library the program ships
// (autoconsent, MPL-2.0, in <shipped files>/autoconsent/), with its standalone configuration: every
// wall it knows is answered the privacy-preserving way, rejecting or opting out, and one without a
// reject choice is hidden.
//
// Most pages show no wall, and the library is 400 KB of script that each document would compile and
// set up before looking. So nothing runs in the page until its load event; then each document is
// asked one cheap question (ConsentProbe: is anything there that the library's platforms need?), and
// only a document that answers yes gets the library, evaluated there and then, and is waited for.
// The documents asked are the main frame's, its frames' of the same site (found through the page's
// runtime, only when the main frame has frames), and those of the page's frames of other sites,
// which run in processes of their own: the page's set-up has the browser attach to each such frame
// as it starts (Target.setAutoAttach; a kept page keeps it), and this object collects their sessions.
//
// One object per capture holds the page's frames of other sites while the engine holds the page.
// After the load event it waits for each asked document: until its probe finds nothing, or its
// library reports that it answered a wall, that its first look found no consent platform, or that
// it gave up; never longer than Bound. The wait runs in real time, before a delay runs the page's
// clock ahead, so the library's own timers run. Bound is 3 s: the library looks for a wall's popup
// every 500 ms and answers a known one within one or two seconds of finding it; a page still busy
// after that is captured as it stands. HtmlSnap::longestCapture(), and with it the batch's
// watchdog, counts the bound in. A wall that appears only after the load event is left as the
// library's own first look would leave it. Pages with scripts off get nothing (the library is a
// script): a wall drawn without scripts stays in the picture.
//
// Created per capture as a child of its engine; GUI thread only.
class ConsentWalls final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsentWalls)

public:
    static constexpr std::chrono::milliseconds Bound { 3000 };

    // What a capture needs of the library from shippedFolder (which ends in "/"): the library with
    // the few lines that let the wait see its progress, and the probe. Read once per folder; an error
    // names the missing file.
    struct Rules {
        QString library;
        ConsentProbe probe;
    };
    static Common::Result<Rules> rules(const QString& shippedFolder);
    // For the page's set-up: the browser attaches to each frame of another site as it starts, so
    // that its document can be asked; the frame runs on without waiting for anyone.
    static QJsonObject frameAttachment();

    // Collects the page's frames of other sites from the moment the page is taken; session must be
    // the page's, set up with frameAttachment().
    ConsentWalls(DevToolsConnection* connection, DevToolsSession* session, Rules rules, QObject* parent = nullptr);
    ~ConsentWalls() override;

    // After the load event: starts the wait for the main frame's library and each frame's of
    // another site. settled() follows from the event loop exactly once.
    void start();

Q_SIGNALS:
    // outcome: what the main frame's library last reported ("optOutResult", "autoconsentDone", "none"
    // for no platform found, also by the probe, ...), "absent" when the document is no web page,
    // "gone" when it went, "bound" when the wait ran out.
    void settled(const QString& outcome);

private:
    void handleEvent(const QString& method, const QJsonObject& params);
    // A document: a session's main frame (context 0) or one of its frames' runtime contexts.
    struct Document {
        QString session;
        int context = 0;
    };
    using Done = std::function<void(const QJsonValue& value, bool gone)>;
    void ask(const Document& document, bool main, bool complete = false);
    void askFramesOfSite();
    void disableRuntime();
    void answer(const Document& document, bool main);
    bool evaluate(const Document& document, const QString& expression, bool awaitPromise, Done done);
    bool send(const QString& session, const QString& method, const QJsonObject& params,
        DevToolsConnection::Callback callback);
    void settleOne(bool main, const QString& outcome);
    void cancelCalls();
    void finish(const QString& outcome);

    QPointer<DevToolsConnection> m_connection;
    QPointer<DevToolsSession> m_session;
    Rules m_rules;
    QSet<QString> m_frameSessions;
    // The main frame's session's default contexts (id, frame) while its runtime is enabled.
    QList<std::pair<int, QString>> m_contexts;
    bool m_runtimeOn = false;
    QList<quint64> m_calls;
    int m_pending = 0;
    QString m_outcome;
    bool m_started = false;
    bool m_finished = false;
    QTimer m_bound;
};

} // namespace Capture
