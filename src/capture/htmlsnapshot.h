#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVariant>

#include "capture/pagefacts.h"

namespace Capture {

class SparePage;
struct CapturedImage;

class BrowserHost;
class HtmlSnap;

// One capture slot: owns the current capture engine, turns its events into the four flags Ready,
// Busy, Finished and Success plus the last status code, measures how long the capture has run and
// carries the caller's data about the link it works on.
//
// The owner sees each engine status first (OnStatus), and only then do the flags change; events
// after the first final one are ignored. Every capture starts on a fresh engine (Reset).
// GUI thread only; the host must outlive the control.
class HtmlSnapshot final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HtmlSnapshot)

public:
    // Milliseconds of a 32-bit tick counter that wraps; a test seam.
    using TickSource = std::function<quint32()>;

    explicit HtmlSnapshot(BrowserHost* host, QObject* parent = nullptr);
    ~HtmlSnapshot() override;

    // A fresh engine; flags back to free (Ready). The caller data except ListItem is kept.
    void Reset();
    // Starts a capture ("*" keeps the image in memory). Ready is left to the caller.
    void SnapUrl(const QString& strURL, const QString& strPicFile);
    // Whole seconds since creation, Reset or SnapUrl, rounded half to even.
    int ElapsedTime() const;

    // Fill ImgArray with the captured image scaled and encoded as strFormat says ("*.jpg") when the
    // engine's code is 1; otherwise, or on any error, ImgArray is left as it was.
    void GetThumbImageBytes(QByteArray& ImgArray, const QString& strFormat, int cx, int cy, bool bRemainRatio);
    QByteArray GetThumbImageBytesX(const QString& strFormat, int cx, int cy, bool bRemainRatio);
    // The captured picture when the engine's code is 1, to make the thumbnail elsewhere
    // (CapturedImage::thumbnailBytes gives what GetThumbImageBytes would); empty otherwise.
    CapturedImage capturedImage() const;
    void GetThumbnailImage(
        const QString& strInputFile, const QString& strOutputFile, int cx, int cy, bool bRemainRatio);

    bool Ready() const;
    // true also clears Finished, Busy and Success.
    void setReady(bool ready);
    bool Busy() const;
    bool Finished() const;
    // Sets the flag only: the owner forces an end this way.
    void setFinished(bool finished);
    bool Success() const;
    int Progress() const;
    int StatusCode() const;

    void SetTimeOut(int nTimeOut);
    void SetJPEGQuality(int nQuality);
    void SetAsync(bool bAsync);
    void EnableActiveX(int bVal);
    void EnableJava(int bVal);
    void EnableScript(int bVal);
    void SetForceSnap(int bForceSnap);
    void SetDelayTime(int nDelayTime);
    // See HtmlSnap::setFastDelay; like the other settings, set again after each Reset.
    void setFastDelay(bool on);
    // See HtmlSnap::setBlankCheck; set again after each Reset.
    void setBlankCheck(bool on);
    // See HtmlSnap::setDismissConsentWalls; set again after each Reset.
    void setDismissConsentWalls(bool on);
    void SetSnapDimension(int cx, int cy);
    void EnableSnapDimensionAsImageSize(int bVal);
    void SetZoom(double fZoomRatio);
    // Captures never block the caller; this returns at once. Wait for the final OnStatus instead.
    void WaitUntilDone(int nTimeOut);
    void DrawTxt(int X, int Y, const QString& strText, int FontSize, int nColor, const QString& strFontName);
    void ReduceColor(const QString& strInputFile, const QString& strOutputFile, int nColors);
    void MakeGrayImage(const QString& strInputFile, const QString& strOutputFile, bool bGrayOrBW);
    int GetImageWidth() const;
    int GetImageHeight() const;
    // There are no bitmap handles on this platform: always 0.
    qintptr GetBitmapHandle() const;
    void SaveImage(const QString& strPicFile);

    // The engine's own code for its last capture (not the stored StatusCode).
    int GetErrorCode() const;
    // The text for the engine's code; empty for codes outside -4..1.
    QString StatusText() const;
    // What the current capture learnt about the page (HtmlSnap::pageFacts), complete once Finished;
    // until a Reset. A capture still running reports what it knows so far and the time it has run.
    PageFacts pageFacts() const;
    void Clear();

    int ID() const;
    void setID(int id);
    QString LinkID() const;
    void setLinkID(const QString& linkId);
    QString LinkURL() const;
    void setLinkURL(const QString& linkUrl);
    QString ImageFile() const;
    void setImageFile(const QString& imageFile);
    QString OutputFile() const;
    void setOutputFile(const QString& outputFile);
    // The owner's reference to the row that shows this link; invalid after creation and Reset.
    QVariant ListItem() const;
    void setListItem(const QVariant& listItem);

    // Optional, kept across Reset: the size the owner will ask of GetThumbImageBytes, so the browser
    // renders in-memory captures at that scale (see HtmlSnap::setThumbnailHint).
    void setThumbnailHint(QSize size);
    // Optional, not owned: where this slot's captures take their page from and open the next one
    // while they load (see HtmlSnap::setSparePage). For slots that capture one page after another.
    void setSparePage(SparePage* spare);

    // The current engine; replaced by every Reset.
    HtmlSnap* engine() const;
    // Test seam: replaces the system tick counter and restarts the elapsed time from it.
    void setTickSource(TickSource ticks);

    static QString statusTextFor(int code);

Q_SIGNALS:
    // index is ID, the slot's number.
    void OnStatus(int index, const QString& text, int code);
    void OnProgress(int index, int percent);

private:
    void createEngine();
    void handleEngineStatus(const QString& text, int code);
    void handleEngineProgress(int percent);
    quint32 now() const;

    QPointer<BrowserHost> m_host;
    HtmlSnap* m_engine = nullptr;
    TickSource m_ticks;
    QSize m_thumbnailHint;
    QPointer<SparePage> m_sparePage;

    bool m_ready = true;
    bool m_busy = false;
    bool m_finished = false;
    bool m_success = false;
    int m_statusCode = 0;
    int m_progress = 0;
    quint32 m_startTick = 0;

    int m_id = 0;
    QString m_linkId;
    QString m_linkUrl;
    QString m_imageFile;
    QString m_outputFile;
    QVariant m_listItem;
};

} // namespace Capture
