#include "batch/capturecompletion.h"

#include <QFile>
#include <QFileInfo>

#include "batch/appfolders.h"
#include "batch/linkslistmodel.h"
#include "capture/htmlsnapshot.h"
#include "common/desktop.h"
#include "common/paths.h"
#include "common/retrystep.h"
#include "common/thumbnailmodel.h"
#include "imaging/filters.h"
#include "imaging/watermark.h"
#include "settings/livesettings.h"

namespace Batch {

namespace {

    struct Outcome {
        const char* text;
        QColor color;
    };

    std::optional<Outcome> failureOutcome(int code)
    {
        switch (code) {
        case -1:
            return Outcome { "Fail to take the snapshot", QColor(0xFF, 0x00, 0x99) };
        case -2:
            return Outcome { "Fail to save to file", QColor(0xCC, 0x33, 0x99) };
        case -3:
            return Outcome { "Fail to open the URL", QColor(0xFF, 0x00, 0x00) };
        case -4:
            return Outcome { "Time is out before taking a snapshot", QColor(0xEA, 0x75, 0x00) };
        default:
            return std::nullopt;
        }
    }

    const QColor SuccessColor(0x00, 0x5E, 0x00);
    const QColor NoImageColor(0x99, 0x33, 0xFF);

    // The processed picture is kept in the work folder until the final file replaces the link's
    // thumbnail, so a run cut short never leaves a half-made thumbnail under the link's name, nor a
    // file beside the thumbnails that could be taken for one.
    QString intermediateFile(const QString& outputFile)
    {
        const QFileInfo output(outputFile);
        return workFolder(output.path()) + QLatin1Char('/') + output.fileName() + QStringLiteral(".part.jpg");
    }

} // namespace

QImage PictureFromByteArray(const QByteArray& bytes) { return QImage::fromData(bytes); }

qint32 ArrayUpperBound(const QByteArray& bytes) { return static_cast<qint32>(bytes.size()) - 1; }

CaptureCompletion::CaptureCompletion(Services services)
    : m_services(std::move(services))
{
}

void CaptureCompletion::ClearThumbnailView()
{
    if (m_services.status)
        m_services.status(QStringLiteral("Clearing view..."));
    m_services.strip.clear();
    if (m_services.status)
        m_services.status(QString());
}

void CaptureCompletion::prepareRun()
{
    ClearThumbnailView();
    if (m_services.SetViewerOptions)
        m_services.SetViewerOptions();
    m_services.strip.setThumbnailSize(QSize(m_services.settings.ImageWidth, m_services.settings.ImageHeight));
    Imaging::PrepareEffects(m_effects, Imaging::effectFlagsFrom(m_services.settings));
}

void CaptureCompletion::recreateElements()
{
    m_pixTwix = Imaging::PixTwix();
    m_viewer = Imaging::PictureViewerPro();
}

void CaptureCompletion::clearViewer() { m_viewer.clear(); }

CompletedCapture CaptureCompletion::CompleteCapture(Capture::HtmlSnapshot& slot)
{
    const Settings::LiveSettings& s = m_services.settings;
    LinksListModel& rows = m_services.rows;
    const QVariant item = slot.ListItem();
    const bool hasRow = item.isValid();
    const LinksListModel::RowKey row = item.value<LinksListModel::RowKey>();
    QString marked;
    const auto mark = [&](const QString& text, const QColor& color) {
        marked = text;
        if (!hasRow)
            return;
        rows.setStatus(row, text);
        SetListItemColor(rows, row, LinksListModel::StatusColumn, color);
    };
    const auto finish = [&](bool success) {
        m_viewer.clear();
        return CompletedCapture { success, marked };
    };

    const int code = slot.GetErrorCode();
    if (const std::optional<Outcome> failure = failureOutcome(code)) {
        mark(QString::fromLatin1(failure->text), failure->color);
        slot.Reset();
        return finish(false);
    }
    if (code != 1) {
        slot.Reset();
        return finish(false);
    }

    QByteArray bytes;
    slot.GetThumbImageBytes(bytes, QStringLiteral("*.jpg"), s.ImageWidth, s.ImageHeight, s.ImageAspect != 0);
    // No thumbnail came of it: an error, although the page itself was captured.
    if (ArrayUpperBound(bytes) == -1) {
        mark(QStringLiteral("Image save failed"), NoImageColor);
        slot.Reset();
        return finish(false);
    }

    // The run only hands out links whose ID names a file; a slot without one never writes anywhere.
    const QString outputFile = slot.OutputFile();
    if (outputFile.isEmpty()) {
        slot.Reset();
        return finish(false);
    }
    const QString partFile = intermediateFile(outputFile);
    const QString libraryPath = m_services.appPath + QStringLiteral("FreeImage.dll");
    const auto source = QStringLiteral("CompleteCapture");
    const std::function<Common::Status()> steps[] = {
        [&]() -> Common::Status {
            const QImage picture = PictureFromByteArray(bytes);
            if (picture.isNull())
                return Common::Error { 0, source, QStringLiteral("The captured image could not be decoded.") };
            m_pixTwix.setPicture(picture);
            return Common::success();
        },
        [&] { return Imaging::ProcessFilters(m_pixTwix, Imaging::filterFlagsFrom(s)); },
        [&] {
            Imaging::applyEffectsToImage(m_pixTwix, m_effects, s.RotateEffects != 0, Imaging::effectParametersFrom(s));
            return Common::success();
        },
        [&] { return Common::EnsureFolder(QFileInfo(partFile).path()); },
        [&] { return m_pixTwix.save(libraryPath, partFile, 12); },
        [&] { return m_viewer.load(partFile, Imaging::FileOrigin::Own); },
        [&] { return Imaging::ApplyWatermark(m_viewer, Imaging::watermarkOptionsFrom(s)); },
        [&] { return saveByFormat(outputFile); },
    };
    for (const auto& step : steps) {
        if (!Common::runWithRetry(m_services.boxes, QStringLiteral("Error Processing"), step, true)) {
            QFile::remove(partFile);
            return finish(false);
        }
    }
    QFile::remove(partFile);

    Common::ThumbnailModel& strip = m_services.strip;
    if (strip.rowCount() > s.MaxViewerCount)
        strip.removeFirst();
    strip.addImage(outputFile, slot.LinkURL());
    mark(QStringLiteral("Successfull snapshot"), SuccessColor);
    slot.Reset();
    return finish(true);
}

Common::Status CaptureCompletion::saveByFormat(const QString& outputFile)
{
    const QString extension
        = ImageExtensions().value(m_services.settings.ImageType, ImageExtensions().first()).toUpper();
    if (extension == QLatin1String("JPG")) {
        m_viewer.setJpegQuality(m_services.settings.JpegQuality);
        return m_viewer.save(outputFile, Imaging::ViewerFormat::Jpeg);
    }
    if (extension == QLatin1String("BMP"))
        return m_viewer.save(outputFile, Imaging::ViewerFormat::Bmp);
    if (extension == QLatin1String("GIF"))
        return m_viewer.save(outputFile, Imaging::ViewerFormat::Gif);
    if (extension == QLatin1String("PNG"))
        return m_viewer.save(outputFile, Imaging::ViewerFormat::Png);
    return m_viewer.save(outputFile, Imaging::ViewerFormat::Tiff);
}

} // namespace Batch
