#pragma once

#include <chrono>

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include "common/result.h"

namespace Capture {

class DevToolsConnection;
class DevToolsSession;

// Cookie-consent walls answered before a capture, by the consent-rules library the program ships
// (autoconsent, MPL-2.0, in <shipped files>/autoconsent/). The library is injected into every web
// document and frame of a page before the page's own scripts (Page.addScriptToEvaluateOnNewDocument,
// part of the page's set-up, so a kept page carries it too; frames of other sites, which run in
// processes of their own, get it as they attach), with its standalone configuration: every wall it
// knows is answered the privacy-preserving way, rejecting or opting out, and one without a reject
// choice is hidden; walls it knows are kept hidden while it works.
//
// One object per capture holds the page's frames of other sites while the engine holds the page.
// After the load event it waits for the library in the main frame and in each of those frames: until
// each reports that it answered a wall, that its first look found no consent platform, or that it
// gave up; never longer than Bound. The wait runs in real time, before a delay runs the page's
// clock ahead, so the library's own timers run. Bound is 3 s: the library looks for a wall's popup
// every 500 ms and answers a known one within one or two seconds of finding it; a page still busy
// after that is captured as it stands. HtmlSnap::longestCapture(), and with it the batch's
// watchdog, counts the bound in. Pages with scripts off get nothing (the library is a script): a
// wall drawn without scripts stays in the picture.
//
// Created per capture as a child of its engine; GUI thread only.
class ConsentWalls final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsentWalls)

public:
    static constexpr std::chrono::milliseconds Bound { 3000 };

    // The script to inject: the library from shippedFolder (which ends in "/") followed by the few
    // lines that let the wait see its progress. Read once per folder; an error names the missing file.
    static Common::Result<QString> script(const QString& shippedFolder);
    // A frame of another site runs in a process of its own: the page's set-up has the browser attach
    // to each such frame as it starts (Target.setAutoAttach on the page, paused until told to run),
    // and whoever holds the page's session passes every Target.attachedToTarget event here, which
    // gives the frame the script and lets it run. A frame nobody lets run would never load.
    static QJsonObject frameAttachment();
    static void startFrame(DevToolsConnection* connection, const QJsonObject& params, const QString& script);

    // Takes over the page's frames of other sites from the moment the page is taken (each frame
    // waits, paused, for startFrame()); session must be the page's, script its set-up's first script.
    ConsentWalls(DevToolsConnection* connection, DevToolsSession* session, QString script, QObject* parent = nullptr);
    ~ConsentWalls() override;

    // After the load event: starts the wait for the main frame's library and each frame's of
    // another site. settled() follows from the event loop exactly once.
    void start();

Q_SIGNALS:
    // outcome: what the main frame's library last reported ("optOutResult", "autoconsentDone", "none"
    // for no platform found, ...), "absent" when the page has no library, "gone" when its document
    // went, "bound" when the wait ran out.
    void settled(const QString& outcome);

private:
    void handleEvent(const QString& method, const QJsonObject& params);
    void cancelCalls();
    void finish(const QString& outcome);

    QPointer<DevToolsConnection> m_connection;
    QPointer<DevToolsSession> m_session;
    QString m_script;
    QSet<QString> m_frameSessions;
    QList<quint64> m_calls;
    int m_pending = 0;
    QString m_outcome;
    bool m_started = false;
    bool m_finished = false;
    QTimer m_bound;
};

} // namespace Capture
