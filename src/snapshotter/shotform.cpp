#include "snapshotter/shotform.h"

#include <algorithm>

#include <QFile>

#include "common/messagebox.h"
#include "common/paths.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"
#include "snapshotter/saveformat.h"

namespace Snapshotter {

namespace {

    const char* const WorkFileName = "snapshot.jpg";

    void writeSize(Settings::Hive& hive, const char* key, qint32 value)
    {
        // A store that refuses the value leaves the old one; the window carries on with the new size.
        (void)Settings::WriteSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), QLatin1String(key), value);
    }

} // namespace

QString percentText(int percent) { return QString::number(percent) + QLatin1Char('%'); }

ShotForm::ShotForm(const Services& services, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_snapshotFile(services.appPath + QLatin1String(WorkFileName))
    , m_capture(services.host)
{
    Settings::LiveSettings& s = m_services.settings;
    if (s.SnapshotterWidth < 1)
        s.SnapshotterWidth = FallbackWidth;
    if (s.SnapshotterHeight < 1)
        s.SnapshotterHeight = FallbackHeight;
    m_viewer.setJpegQuality(100);
    connect(&m_capture, &ShotCapture::statusChanged, this, &ShotForm::setStatus);
    connect(&m_capture, &ShotCapture::progressChanged, this,
        [this](int percent) { Q_EMIT progressChanged(percentText(percent)); });
    connect(&m_capture, &ShotCapture::finished, this, &ShotForm::handleCaptureFinished);
}

ShotForm::~ShotForm() = default;

QString ShotForm::initialAddress() const { return m_services.settings.SnapshotterAddress; }
QString ShotForm::initialWidth() const { return QString::number(m_services.settings.SnapshotterWidth); }
QString ShotForm::initialHeight() const { return QString::number(m_services.settings.SnapshotterHeight); }

bool ShotForm::Snapshot(const QString& addressText)
{
    const bool wasCapturing = m_capture.isWaiting();
    m_capture.cancel();
    Q_EMIT imageSizeChanged({}, {});
    m_viewer.clear();
    Q_EMIT pictureChanged();
    if (QFile::exists(m_snapshotFile))
        QFile::remove(m_snapshotFile);

    const QString address = addressText.trimmed();
    if (address.isEmpty()) {
        if (wasCapturing) {
            Q_EMIT progressChanged({});
            Q_EMIT capturingChanged(false);
        }
        return false;
    }
    if (!wasCapturing)
        Q_EMIT capturingChanged(true);
    m_capture.start(address, m_snapshotFile, m_services.settings.Timeout);
    return true;
}

bool ShotForm::isCapturing() const { return m_capture.isWaiting(); }

void ShotForm::cancelCapture()
{
    if (!m_capture.isWaiting())
        return;
    m_capture.cancel();
    Q_EMIT progressChanged({});
    Q_EMIT capturingChanged(false);
}

void ShotForm::handleCaptureFinished()
{
    if (Common::FileExists(m_snapshotFile))
        loadSnapshot();
    Q_EMIT progressChanged({});
    Q_EMIT capturingChanged(false);
}

bool ShotForm::loadSnapshot()
{
    // The engine wrote the work file itself.
    if (!m_viewer.load(m_snapshotFile, Imaging::FileOrigin::Own)) {
        m_viewer.clear();
        Q_EMIT imageSizeChanged({}, {});
        Q_EMIT pictureChanged();
        return false;
    }
    Q_EMIT imageSizeChanged(QString::number(m_viewer.pixelWidth()), QString::number(m_viewer.pixelHeight()));
    showZoom(100);
    return true;
}

void ShotForm::setZoom(int percent) { showZoom(percent); }

void ShotForm::showZoom(int percent)
{
    m_zoom = std::clamp(percent, MinimumZoom, MaximumZoom);
    m_viewer.setZoom(m_zoom / 100.0);
    Q_EMIT zoomChanged(m_zoom);
    Q_EMIT pictureChanged();
    // Without a picture there is no size to show; the boxes keep what the user typed.
    if (!m_viewer.isEmpty()) {
        const QSize shown = m_viewer.displayedSize();
        Q_EMIT sizeBoxesChanged(QString::number(shown.width()), QString::number(shown.height()));
    }
}

void ShotForm::convertToBlackWhite()
{
    setStatus(tr("Converting image to gray scale..."));
    if (m_viewer.convertToBlackWhite())
        Q_EMIT pictureChanged();
    setStatus(tr("Convert to gray done"));
}

void ShotForm::convertToGray()
{
    setStatus(tr("Converting image to gray scale..."));
    if (m_viewer.convertToGray())
        Q_EMIT pictureChanged();
    setStatus(tr("Convert to gray done"));
}

void ShotForm::backToOriginal()
{
    if (Common::FileExists(m_snapshotFile) && loadSnapshot())
        return;
    // Nothing was captured (or the work file is gone): there is no original to return to.
    m_viewer.clear();
    Q_EMIT imageSizeChanged({}, {});
    showZoom(100);
}

void ShotForm::resize(const QString& widthText, const QString& heightText)
{
    Q_EMIT workingChanged(true);
    setStatus(tr("Resizing image..."));
    Settings::LiveSettings& s = m_services.settings;
    if (const std::optional<qint32> width = Settings::toLong(widthText.trimmed()))
        s.SnapshotterWidth = *width;
    if (const std::optional<qint32> height = Settings::toLong(heightText.trimmed()))
        s.SnapshotterHeight = *height;
    if (s.SnapshotterWidth < 1)
        s.SnapshotterWidth = FallbackWidth;
    if (s.SnapshotterHeight < 1)
        s.SnapshotterHeight = FallbackHeight;

    // The picture takes the size just stored, so a box that held no usable number never asks for an
    // empty or negative picture.
    if (m_viewer.resize(s.SnapshotterWidth, s.SnapshotterHeight))
        Q_EMIT pictureChanged();
    if (m_viewer.isEmpty())
        Q_EMIT sizeBoxesChanged(initialWidth(), initialHeight());
    else
        Q_EMIT sizeBoxesChanged(QString::number(m_viewer.pixelWidth()), QString::number(m_viewer.pixelHeight()));
    setStatus(tr("Resize image done"));
    Q_EMIT workingChanged(false);

    writeSize(m_services.hive, "SnapshotterWidth", s.SnapshotterWidth);
    writeSize(m_services.hive, "SnapshotterHeight", s.SnapshotterHeight);
}

bool ShotForm::saveAs(const QString& fileName)
{
    if (fileName.isEmpty())
        return false;
    Q_EMIT workingChanged(true);
    setStatus(tr("Saving file..."));
    // The picture is saved as the user sees it, so the zoom is applied to a copy first.
    Imaging::PictureViewerPro shown = m_viewer;
    if (!shown.isEmpty() && shown.displayedSize() != shown.image().size())
        (void)shown.resize(shown.displayedSize().width(), shown.displayedSize().height());
    const Imaging::ViewerFormat format = saveFormatFor(fileName);
    for (;;) {
        const Common::Status saved = shown.save(fileName, format);
        if (saved) {
            setStatus(tr("Save file done"));
            Q_EMIT workingChanged(false);
            return true;
        }
        const QString text = tr("Error: ") + saved.error().message;
        setStatus(text);
        Q_EMIT workingChanged(false);
        const auto answer = m_services.boxes.ask(
            text, tr("Snapshotter"), Common::MessageBox::Icon::Critical, Common::MessageBox::Buttons::RetryCancel);
        if (answer != Common::MessageBox::Answer::Retry)
            return false;
        Q_EMIT workingChanged(true);
        setStatus(tr("Saving file..."));
    }
}

void ShotForm::setStatus(const QString& text) { Q_EMIT statusChanged(text); }

} // namespace Snapshotter
