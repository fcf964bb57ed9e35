#include "batch/capturecompletion.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include "batch/appfolders.h"
#include "batch/linkslistmodel.h"
#include "capture/htmlsnap.h"
#include "capture/htmlsnapshot.h"
#include "common/desktop.h"
#include "common/paths.h"
#include "common/retrystep.h"
#include "common/thumbnailmodel.h"
#include "imaging/filters.h"
#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
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
        case -5:
            return Outcome { "Blank page", QColor(0x80, 0x80, 0x80) };
        default:
            return std::nullopt;
        }
    }

    const QColor SuccessColor(0x00, 0x5E, 0x00);
    const QColor NoImageColor(0x99, 0x33, 0xFF);

    // What the history keeps of the file that was written, so that a later run can tell a new thumbnail.
    QByteArray fileHash(const QString& path)
    {
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
            return {};
        return hash.result();
    }

    QString formatExtension(qint32 imageType)
    {
        return ImageExtensions().value(imageType, ImageExtensions().first()).toUpper();
    }

    // One capture's completion. Everything process() reads was copied on the GUI thread when the
    // capture was taken; the services are only used by finish(), on the GUI thread again.
    class ThumbnailCapture final : public PendingCapture {
    public:
        ThumbnailCapture(
            const CaptureCompletion::Services& services, Capture::HtmlSnapshot& slot, Imaging::EffectsState& effects);

        void process() override;
        CompletedCapture finish() override;

    private:
        // The steps in their order; process() runs them until one fails, finish() from there on.
        enum Step {
            Decode,
            Filters,
            Effects,
            Folder,
            EncodeIntermediate,
            DecodeIntermediate,
            Watermark,
            SaveFinal,
            StepCount
        };

        void makeThumbnailBytes();
        Common::Status runStep(int step);
        Common::Status saveByFormat();
        CompletedCapture mark(bool success, const QString& text, const QColor& color);

        const CaptureCompletion::Services& m_services;
        std::optional<LinksListModel::RowKey> m_row;
        QString m_linkUrl;
        // Set when the outcome is known without processing the image.
        std::optional<Outcome> m_early;
        bool m_silentFailure = false;
        // The capture as the browser sent it; its thumbnail bytes are made on the pool.
        Capture::CapturedImage m_captured;
        int m_thumbWidth = 0;
        int m_thumbHeight = 0;
        bool m_thumbKeepsRatio = false;
        QByteArray m_bytes;
        QString m_outputFile;
        // The processed picture as a JPEG, as the watermark step reads it back; it never reaches the
        // disk, so a run cut short leaves no half-made thumbnail anywhere.
        QByteArray m_intermediate;
        Imaging::FilterFlags m_filters;
        QList<int> m_effectIndexes;
        Imaging::EffectParameters m_effectParameters;
        Imaging::WatermarkOptions m_watermark;
        QString m_extension;
        int m_jpegQuality = 0;
        Imaging::PixTwix m_pixTwix;
        Imaging::PictureViewerPro m_viewer;
        // The first step that failed in process(); StepCount when none did.
        int m_failedStep = StepCount;
        std::optional<Imaging::LookHash> m_look;
        QByteArray m_thumbnailHash;
    };

    ThumbnailCapture::ThumbnailCapture(
        const CaptureCompletion::Services& services, Capture::HtmlSnapshot& slot, Imaging::EffectsState& effects)
        : m_services(services)
        , m_linkUrl(slot.LinkURL())
    {
        const Settings::LiveSettings& s = services.settings;
        const QVariant item = slot.ListItem();
        if (item.isValid())
            m_row = item.value<LinksListModel::RowKey>();

        const int code = slot.GetErrorCode();
        if (const std::optional<Outcome> failure = failureOutcome(code)) {
            m_early = failure;
        } else if (code != 1) {
            m_silentFailure = true;
        } else {
            m_captured = slot.capturedImage();
            m_thumbWidth = s.ImageWidth;
            m_thumbHeight = s.ImageHeight;
            m_thumbKeepsRatio = s.ImageAspect != 0;
            // The run only hands out links whose ID names a file; a slot without one never writes anywhere.
            m_outputFile = slot.OutputFile();
            if (m_outputFile.isEmpty())
                m_silentFailure = true;
        }
        if (!m_early && !m_silentFailure) {
            m_filters = Imaging::filterFlagsFrom(s);
            m_effectIndexes = Imaging::effectsForImage(effects, s.RotateEffects != 0);
            m_effectParameters = Imaging::effectParametersFrom(s);
            m_watermark = Imaging::watermarkOptionsFrom(s);
            m_extension = formatExtension(s.ImageType);
            m_jpegQuality = s.JpegQuality;
        }
        slot.Reset();
    }

    void ThumbnailCapture::makeThumbnailBytes()
    {
        if (m_early || m_captured.isEmpty())
            return;
        const auto thumbnail
            = m_captured.thumbnailBytes(QStringLiteral("*.jpg"), m_thumbWidth, m_thumbHeight, m_thumbKeepsRatio);
        if (thumbnail)
            m_bytes = thumbnail.value();
        m_captured = {};
        // No thumbnail came of it: an error, although the page itself was captured.
        if (ArrayUpperBound(m_bytes) == -1) {
            m_early = Outcome { "Image save failed", NoImageColor };
            m_silentFailure = false;
        }
    }

    void ThumbnailCapture::process()
    {
        makeThumbnailBytes();
        if (m_early || m_silentFailure)
            return;
        for (int step = 0; step < StepCount; ++step) {
            if (!runStep(step)) {
                m_failedStep = step;
                return;
            }
        }
        m_intermediate.clear();
        m_thumbnailHash = fileHash(m_outputFile);
    }

    CompletedCapture ThumbnailCapture::finish()
    {
        if (m_early)
            return mark(false, QString::fromLatin1(m_early->text), m_early->color);
        if (m_silentFailure)
            return {};
        for (int step = m_failedStep; step < StepCount; ++step) {
            QString why;
            const auto attempt = [&] {
                Common::Status done = runStep(step);
                if (!done)
                    why = done.error().message;
                return done;
            };
            if (Common::runWithRetry(m_services.boxes, QStringLiteral("Error Processing"), attempt, true))
                continue;
            // A thumbnail that cannot be stored is a failure of its own: on a full disk every link after
            // it ends the same way, and the row must say why.
            if (step != Folder && step != SaveFinal)
                return {};
            const Outcome unstored = *failureOutcome(-2);
            CompletedCapture completed
                = mark(false, QString::fromLatin1(unstored.text) + QStringLiteral(": ") + why, unstored.color);
            completed.writeFailed = true;
            return completed;
        }
        if (m_failedStep != StepCount) {
            m_intermediate.clear();
            m_thumbnailHash = fileHash(m_outputFile);
        }

        Common::ThumbnailModel& strip = m_services.strip;
        if (strip.rowCount() > m_services.settings.MaxViewerCount)
            strip.removeFirst();
        strip.addImage(m_outputFile, m_linkUrl);
        CompletedCapture completed = mark(true, QStringLiteral("Successfull snapshot"), SuccessColor);
        completed.look = m_look;
        completed.thumbnailHash = m_thumbnailHash;
        return completed;
    }

    Common::Status ThumbnailCapture::runStep(int step)
    {
        const auto source = QStringLiteral("CompleteCapture");
        switch (step) {
        case Decode: {
            const QImage picture = PictureFromByteArray(m_bytes);
            if (picture.isNull())
                return Common::Error { 0, source, QStringLiteral("The captured image could not be decoded.") };
            m_pixTwix.setPicture(picture);
            m_look = Imaging::lookHash(picture);
            return Common::success();
        }
        case Filters:
            return Imaging::ProcessFilters(m_pixTwix, m_filters);
        case Effects:
            for (const int index : std::as_const(m_effectIndexes))
                Imaging::ProcessEffect(m_pixTwix, index, m_effectParameters);
            return Common::success();
        case Folder:
            return Common::EnsureFolder(QFileInfo(m_outputFile).path());
        case EncodeIntermediate: {
            const auto encoded = Imaging::encodeImage(m_pixTwix.picture(), Imaging::ImageFormat::Jpeg, 100);
            if (!encoded)
                return encoded.error();
            m_intermediate = encoded.value();
            return Common::success();
        }
        case DecodeIntermediate: {
            const auto decoded = Imaging::decodeOwnImage(m_intermediate, m_outputFile);
            if (!decoded)
                return decoded.error();
            m_viewer.setImage(decoded.value());
            return Common::success();
        }
        case Watermark:
            return Imaging::ApplyWatermark(m_viewer, m_watermark);
        case SaveFinal:
            return saveByFormat();
        default:
            return Common::success();
        }
    }

    Common::Status ThumbnailCapture::saveByFormat()
    {
        if (m_extension == QLatin1String("JPG")) {
            m_viewer.setJpegQuality(m_jpegQuality);
            return m_viewer.save(m_outputFile, Imaging::ViewerFormat::Jpeg);
        }
        if (m_extension == QLatin1String("BMP"))
            return m_viewer.save(m_outputFile, Imaging::ViewerFormat::Bmp);
        if (m_extension == QLatin1String("GIF"))
            return m_viewer.save(m_outputFile, Imaging::ViewerFormat::Gif);
        if (m_extension == QLatin1String("PNG"))
            return m_viewer.save(m_outputFile, Imaging::ViewerFormat::Png);
        return m_viewer.save(m_outputFile, Imaging::ViewerFormat::Tiff);
    }

    CompletedCapture ThumbnailCapture::mark(bool success, const QString& text, const QColor& color)
    {
        if (m_row) {
            m_services.rows.setStatus(*m_row, text);
            SetListItemColor(m_services.rows, *m_row, LinksListModel::StatusColumn, color);
        }
        return CompletedCapture { success, text, {} };
    }

} // namespace

std::optional<CaptureFailure> captureFailure(int code)
{
    const std::optional<Outcome> failure = failureOutcome(code);
    if (!failure)
        return std::nullopt;
    return CaptureFailure { QString::fromLatin1(failure->text), failure->color };
}

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

std::unique_ptr<PendingCapture> CaptureCompletion::takeCapture(Capture::HtmlSnapshot& slot)
{
    return std::make_unique<ThumbnailCapture>(m_services, slot, m_effects);
}

CompletedCapture CaptureCompletion::CompleteCapture(Capture::HtmlSnapshot& slot)
{
    const std::unique_ptr<PendingCapture> pending = takeCapture(slot);
    pending->process();
    return pending->finish();
}

} // namespace Batch
