#pragma once

#include <chrono>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "common/result.h"

namespace Capture {

class DevToolsSession;

// Cookie-consent walls answered before a capture, by the consent-rules library the program ships
// (autoconsent, MPL-2.0, in <shipped files>/autoconsent/). The library is injected into every
// document and frame of a page before the page's own scripts (Page.addScriptToEvaluateOnNewDocument,
// part of the page's set-up, so a kept page carries it too), with its standalone configuration:
// every wall it knows is answered the privacy-preserving way, rejecting or opting out, and one
// without a reject choice is hidden; walls it knows are kept hidden while it works.
//
// After the page's load event, one object waits for the library in the main frame: until it reports
// that it answered a wall, that its first look found no consent platform, or that it gave up; never
// longer than Bound. The wait runs in real time, before a delay runs the page's clock ahead, so the
// library's own timers run. Bound is 3 s: the library looks for a wall's popup every 500 ms and
// answers a known one within one or two seconds of finding it, and the capture's other waits stay
// within the watchdog's margin. Pages with scripts off get nothing (the library is a script): a
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

    explicit ConsentWalls(DevToolsSession* session, QObject* parent = nullptr);
    ~ConsentWalls() override;

    // Starts the wait; settled() follows from the event loop exactly once.
    void start();

Q_SIGNALS:
    // outcome: what the library last reported ("optOutResult", "autoconsentDone", "none" for no
    // platform found, ...), "absent" when the page has no library, "bound" when the wait ran out.
    void settled(const QString& outcome);

private:
    void finish(const QString& outcome);

    QPointer<DevToolsSession> m_session;
    quint64 m_call = 0;
    bool m_finished = false;
    QTimer m_bound;
};

} // namespace Capture
