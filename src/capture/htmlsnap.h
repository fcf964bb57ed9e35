#pragma once

#include <chrono>
#include <memory>

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <QTimer>

#include "capture/capturedimage.h"
#include "capture/pagefacts.h"
#include "capture/pageopener.h"
#include "capture/screenshotplan.h"
#include "common/result.h"

namespace Capture {

class BrowserHost;
class ConsentWalls;
class DevToolsConnection;
class DevToolsSession;
class PageUse;

// Outcome codes of a capture.
namespace SnapCode {
    constexpr int Captured = 1;
    constexpr int Working = 0;
    constexpr int CaptureFailed = -1;
    constexpr int FileWriteFailed = -2;
    constexpr int OpenFailed = -3;
    constexpr int TimedOut = -4;
    // The page came out (nearly) one colour, also when tried again (HtmlSnap::setBlankCheck).
    constexpr int Blank = -5;
} // namespace SnapCode

// The page-capture engine: loads one web page in the shared headless browser and captures it as an
// image, in memory or to a file. Each capture runs in a browser context and page of its own, released
// when the capture ends, by Clear() or by destruction. A batch slot's engine (given a SparePage)
// instead leaves a page that served its capture without trouble to the slot's next capture, for up to
// 20 captures, reset in between to what a fresh context shows (PageOpener); only the HTTP cache stays.
// A page whose clock a fast delay ran is never kept.
//
// SnapUrl() returns at once. OnStatus() then reports progress texts with code 0 and exactly one
// final code (SnapCode), always from the event loop, never from inside a call to this object.
// Only http and https addresses are loaded; one without a scheme is loaded as http. A page that moves
// on by itself (a meta refresh, a script) is captured as it stands when the load and the delay end.
// The capture ends within its time-out plus a few seconds whatever the page does (hangs, endless
// scripts, dialogs, renderer crashes).
// GUI thread only; the host must outlive the engine.
class HtmlSnap final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HtmlSnap)

public:
    // Pages taller or wider than this are captured up to it.
    static constexpr int MaxCaptureExtent = ScreenshotSettings::MaxExtent;
    static constexpr int DefaultTimeOut = 40000;

    // The longest a capture can run from SnapUrl() to its final event with these settings: the
    // time-out for opening and loading, the wait for a consent wall's answer, the delay, then the
    // renderer's own deadlines for the capture; with the blank check, a second look as well.
    static std::chrono::milliseconds longestCapture(int timeOut, int delayTime, bool blankCheck = false);

    explicit HtmlSnap(BrowserHost* host, QObject* parent = nullptr);
    ~HtmlSnap() override;

    // Starts a capture of url. pictureFile "*" keeps the image in memory; any other value is the file
    // to write: JPEG for names ending in .jpg/.jpeg/.jpe, otherwise the format of the ending, PNG when
    // the ending names no image format. A capture still running is dropped without a final event.
    void SnapUrl(const QString& url, const QString& pictureFile);
    // Captures always run asynchronously; the flag is kept for callers that set it.
    void SetAsync(int async);
    // Milliseconds for opening and loading the page; past it the capture ends with -4, or with
    // force-snap on, what has rendered of a page that has started to load is captured.
    void SetTimeOut(int milliseconds);
    // Milliseconds to wait after the page's load event before the capture.
    void SetDelayTime(int milliseconds);
    // On (the default): the delay runs in the page's own clock, which runs ahead of real time while
    // no fetch of the page is pending, so its timers fire and the capture starts as soon as the
    // page has seen the whole delay; never later than the delay in real time. The clock then stands
    // still for the capture: no timer due after the delay fires. Off: a plain wait.
    void setFastDelay(bool on);
    // 0 stops every script of the page from running (external scripts are not even fetched).
    void EnableScript(int enable);
    // On: a capture whose picture is blank (Imaging::isBlankPicture) is taken once more. With scripts
    // off, the page is loaded again with scripts on; with scripts on, it is looked at again after a
    // further wait of the delay (at least a second), in the page's clock when the delay ran in it, as
    // it stands: a new document it would move to meanwhile is refused, as during every capture. Still
    // blank: the capture ends with SnapCode::Blank and no image. Off (the default): a blank picture is
    // a capture like any other.
    void setBlankCheck(bool on);
    // On (the default), with scripts on: cookie-consent walls are answered (rejected, or hidden)
    // before the delay and the capture, waiting at most ConsentWalls::Bound after the load event.
    // Off, or with scripts off, nothing is injected into the page.
    void setDismissConsentWalls(bool on);
    // Kept for callers that set them; no such plug-in content exists in today's browsers.
    void EnableActiveX(int enable);
    void EnableJava(int enable);
    void SetForceSnap(int force);
    // The browser window in pixels; 0 means the page's full extent in that direction, laid out in a
    // 1024 x 768 window.
    void SetSnapDimension(int width, int height);
    // 1: the image is exactly the browser size. 0: the image grows to the page's full extent.
    void EnableSnapDimensionAsImageSize(int enable);
    // 1 to 100, for JPEG images this engine encodes.
    void SetJPEGQuality(int quality);
    // Scale of the captured image relative to the page's CSS pixels (1.0 = 100 %).
    void SetZoom(double ratio);
    // Optional: the size the caller will ask of GetThumbImageBytes. An in-memory capture is then
    // rendered by the browser straight at the smallest scale that still covers that size, which
    // costs a fraction of a full-size image; the image kept in memory is that small one. An invalid
    // size (the default) keeps full-size captures.
    void setThumbnailHint(QSize size);
    // Optional: a slot's next page, opened while this capture loads and taken by the slot's next
    // capture (which then starts navigating at once). Null: each capture opens its own page.
    void setSparePage(SparePage* spare);

    // The outcome code of the last capture: 0 while it runs.
    int GetErrorCode() const;
    // What the last capture learnt about the page; read it with the final event. It costs the
    // capture nothing: the status and address come with events the capture waits for anyway, and the
    // title is asked for alongside the layout, in the same pass of the renderer.
    const PageFacts& pageFacts() const { return m_facts; }
    // The captured image scaled to width x height (keeping its aspect ratio inside that box when
    // keepRatio is not 0; a size of 0 takes the image's own) and encoded in the format that the
    // mask's ending names ("*.jpg"). Fails unless the last capture ended with code 1.
    Common::Result<QByteArray> GetThumbImageBytes(
        const QString& formatMask, int width, int height, int keepRatio) const;
    // The last capture's picture when it ended with code 1; empty otherwise.
    CapturedImage capturedImage() const;
    // Drops the page, its browser context and the captured image. No event follows.
    void Clear();

    // The captured image: its size in pixels, its encoded bytes and their format ("jpeg", "png").
    int GetImageWidth() const;
    int GetImageHeight() const;
    QByteArray imageBytes() const;
    QString imageFormat() const;
    // Writes the captured image to a file, in the format its ending names.
    Common::Status SaveImage(const QString& pictureFile) const;
    // Draws text onto the captured image; the colour is 0x00BBGGRR.
    Common::Status DrawTxt(int x, int y, const QString& text, int fontSize, int color, const QString& fontName);

    // File helpers that work on image files rather than on the capture.
    static Common::Status GetThumbnailImage(
        const QString& inputFile, const QString& outputFile, int width, int height, int keepRatio);
    static Common::Status ReduceColor(const QString& inputFile, const QString& outputFile, int colors);
    // grayOrBlackWhite 0: grey levels; otherwise black and white.
    static Common::Status MakeGrayImage(const QString& inputFile, const QString& outputFile, int grayOrBlackWhite);

Q_SIGNALS:
    void OnStatus(const QString& text, int code);
    void OnProgress(int percent);

private:
    enum class Stage {
        Idle,
        WaitingForBrowser,
        Opening,
        Navigating,
        Loading,
        AnsweringConsent,
        Delaying,
        Capturing,
        Finished
    };
    enum class Clock { RealTime, RunningAhead, Stopped };
    // Which look at the page this is: the first, or the second after a blank one.
    enum class BlankTry { First, WithScripts, AfterWait };

    void begin();
    void openPage(DevToolsConnection* connection);
    // The slot's pages: what a kept or spare page must match.
    PageSetup pageSetup() const;
    // This capture's page, scripts on for a second look at a page blank without them.
    PageSetup attemptSetup() const;
    PageSetup setupWithScripts(bool scripts) const;
    void navigate();
    void handleNavigated(const Common::Result<QJsonObject>& reply);
    void handleSessionEvent(const QString& method, const QJsonObject& params);
    void handleBrowserEvent(const QString& method, const QJsonObject& params);
    void noteDocumentResponse(const QJsonObject& params);
    void askTitle();
    void handleDeadline();
    void pageLoaded();
    void startDelay();
    void dropConsentWalls();
    bool runsPageClock() const;
    void runClockAhead(int budgetMs);
    void stopClock();
    void releaseClock();
    void capture();
    void holdPage();
    void startCaptureAttempt();
    bool retryCapture();
    std::chrono::milliseconds captureCallTimeout() const;
    ScreenshotSettings screenshotSettings() const;
    void takeScreenshot(const QJsonObject& layoutMetrics);
    void readPicture(const QString& base64, const QString& format, QSize size);
    void storeImage(const QByteArray& bytes, const QString& format, QSize size, const QImage& reduced);
    void lookAgain();
    void updateProgress();
    void fail(int code, const QString& text);
    void finish(int code, const QString& text);
    void keepPage();
    void releasePage();
    bool isCurrent(quint64 generation) const;

    QPointer<BrowserHost> m_host;
    QPointer<DevToolsConnection> m_connection;
    QMetaObject::Connection m_closedConnection;
    QMetaObject::Connection m_browserEventConnection;
    DevToolsSession* m_session = nullptr;
    std::unique_ptr<PageOpener> m_opener;
    QPointer<SparePage> m_sparePage;
    QPointer<PageUse> m_use;
    QPointer<ConsentWalls> m_consent;

    int m_timeOut = DefaultTimeOut;
    int m_delayTime = 0;
    bool m_fastDelay = true;
    bool m_scriptEnabled = true;
    bool m_blankCheck = false;
    bool m_dismissConsent = true;
    bool m_activeXEnabled = true;
    bool m_javaEnabled = true;
    bool m_async = true;
    bool m_forceSnap = false;
    int m_snapWidth = 0;
    int m_snapHeight = 0;
    bool m_dimensionAsImageSize = false;
    int m_jpegQuality = 100;
    double m_zoom = 1.0;
    QSize m_thumbnailHint;

    Stage m_stage = Stage::Idle;
    quint64 m_generation = 0;
    int m_code = SnapCode::Working;
    QString m_url;
    QString m_pictureFile;
    QString m_contextId;
    QString m_targetId;
    QString m_loaderId;
    // The main frame's navigation under way, until it commits.
    QString m_pendingLoader;
    QSet<QString> m_loadedLoaders;
    QSet<QString> m_requestsStarted;
    QSet<QString> m_requestsDone;
    int m_lastPercent = -1;
    bool m_terminateSent = false;
    // Captures the page served before this one, and whether it failed to answer in time during this one.
    int m_pageCaptures = 0;
    bool m_pageTroubled = false;
    // The page's clock: real time, or a fast delay's, running ahead until the budget is spent or the
    // capture stops it. RealTime again once let go for a document that replaced the page.
    Clock m_clock = Clock::RealTime;
    BlankTry m_blankTry = BlankTry::First;
    quint64 m_captureCall = 0;
    int m_captureAttempts = 0;
    std::chrono::steady_clock::time_point m_captureEnds;
    std::chrono::steady_clock::time_point m_started;
    PageFacts m_facts;
    QTimer m_deadline;
    QTimer m_delay;
    QTimer m_stall;
    QTimer m_retry;

    QByteArray m_image;
    QImage m_reduced;
    QString m_imageFormat;
    QSize m_imageSize;
};

} // namespace Capture
