#pragma once

#include <QObject>
#include <QString>

#include "imaging/pictureviewerpro.h"
#include "snapshotter/shotcapture.h"

namespace Capture {
class BrowserHost;
}
namespace Common {
class MessageBox;
}
namespace Settings {
class Hive;
struct LiveSettings;
} // namespace Settings

namespace Snapshotter {

// The snapshotter window without its widgets: the capture of one address into the work file, the
// picture the user edits (zoom, grey or black and white, resize, back to the captured one) and its
// saving by the chosen name. The window shows what the signals report and hands typed texts in.
// GUI thread only.
class ShotForm final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShotForm)

public:
    struct Services {
        Settings::Hive& hive;
        Settings::LiveSettings& settings;
        Common::MessageBox& boxes;
        Capture::BrowserHost* host = nullptr;
        QString appPath; // the program folder, ending in "/"
    };

    static constexpr int FallbackWidth = 120;
    static constexpr int FallbackHeight = 90;
    static constexpr int MinimumZoom = 1;
    static constexpr int MaximumZoom = 400;

    explicit ShotForm(const Services& services, QObject* parent = nullptr);
    ~ShotForm() override;

    // What the window starts with: the stored address, and the stored resize size with values below
    // 1 replaced by the fallback size.
    QString initialAddress() const;
    QString initialWidth() const;
    QString initialHeight() const;
    // Where every capture is written: "snapshot.jpg" in the program folder.
    QString SnapshotFile() const { return m_snapshotFile; }

    // Starts capturing the address, trimmed, after emptying the picture and deleting the work file. A
    // capture under way is ended first. False, with nothing started, when the address is empty.
    bool Snapshot(const QString& addressText);
    bool isCapturing() const;
    // Ends the capture under way (the window closes); its page is closed in the browser.
    void cancelCapture();

    // Shows the picture at percent of its pixel size, and reports the size it is shown at.
    void setZoom(int percent);
    int zoom() const { return m_zoom; }
    void convertToBlackWhite();
    void convertToGray();
    // Reloads the captured picture, dropping every edit, at 100%.
    void backToOriginal();
    // Stores the typed size (a text that is not a whole number keeps the stored value; one below 1
    // takes the fallback), resizes the picture to the stored size and writes both values to the store.
    void resize(const QString& widthText, const QString& heightText);
    // Saves the picture as shown (edits and zoom applied) under fileName in the format its name picks.
    // A failure is reported with Retry and Cancel; true once the file is written.
    bool saveAs(const QString& fileName);

    const Imaging::PictureViewerPro& viewer() const { return m_viewer; }
    // Test seam: the capture of the current request.
    ShotCapture& capture() { return m_capture; }

Q_SIGNALS:
    // The status bar's first panel.
    void statusChanged(const QString& text);
    // The status bar's second panel: the capture's percentage, or empty.
    void progressChanged(const QString& text);
    // The picture or its zoom changed.
    void pictureChanged();
    // The captured picture's own size in pixels; empty texts while there is none.
    void imageSizeChanged(const QString& width, const QString& height);
    // New contents for the size boxes.
    void sizeBoxesChanged(const QString& width, const QString& height);
    // The zoom in percent, for the scroll bar and its label.
    void zoomChanged(int percent);
    // A capture started (true) or its wait ended (false).
    void capturingChanged(bool capturing);
    // Work that runs to its end before the window can repaint starts (true) or ends (false); never
    // true while a message box waits for the user.
    void workingChanged(bool working);

private:
    void handleCaptureFinished();
    bool loadSnapshot();
    void showZoom(int percent);
    void setStatus(const QString& text);

    Services m_services;
    QString m_snapshotFile;
    ShotCapture m_capture;
    Imaging::PictureViewerPro m_viewer;
    int m_zoom = 100;
};

// "100%" for 100.
QString percentText(int percent);

} // namespace Snapshotter
