#include "imaging/pictureviewerpro.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QBuffer>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include "imaging/effects.h"
#include "imaging/metafile.h"

namespace Imaging {

namespace {

    QString tr(const char* text) { return QCoreApplication::translate("Imaging", text); }

    Common::Error viewerError(const QString& message)
    {
        return Common::Error { 0, QStringLiteral("PictureViewerPro"), message };
    }

    Common::Result<QColor> toColour(qint32 colour)
    {
        const auto rgb = ColorToRGB(colour);
        if (!rgb)
            return rgb.error();
        return QColor(rgb.value().red, rgb.value().green, rgb.value().blue);
    }

    constexpr int ScreenDotsPerInch = 96;

    Common::Result<QByteArray> encodePdf(const QImage& image)
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter writer(&buffer);
            writer.setCreator(QCoreApplication::applicationName());
            writer.setResolution(ScreenDotsPerInch);
            const QSizeF points(image.width() * 72.0 / ScreenDotsPerInch, image.height() * 72.0 / ScreenDotsPerInch);
            writer.setPageSize(QPageSize(points, QPageSize::Point, QString(), QPageSize::ExactMatch));
            writer.setPageMargins(QMarginsF(0, 0, 0, 0));
            QPainter painter;
            if (!painter.begin(&writer))
                return viewerError(tr("Cannot create the PDF document."));
            // The page is rounded to whole points; the image fills it rather than leave a sliver.
            painter.drawImage(QRect(0, 0, writer.width(), writer.height()), image);
            painter.end();
        }
        return buffer.data();
    }

} // namespace

Common::Status PictureViewerPro::load(const QString& path, FileOrigin origin)
{
    trace("load");
    auto image = loadImage(path, origin);
    if (!image)
        return image.error();
    m_image = image.value();
    return Common::success();
}

void PictureViewerPro::setImage(const QImage& image) { m_image = normalizedImage(image); }

const QImage& PictureViewerPro::image() const { return m_image; }

void PictureViewerPro::clear() { m_image = QImage(); }

bool PictureViewerPro::isEmpty() const { return m_image.isNull(); }

int PictureViewerPro::pixelWidth() const { return m_image.width(); }

int PictureViewerPro::pixelHeight() const { return m_image.height(); }

void PictureViewerPro::setFontName(const QString& name) { m_fontName = name; }

QString PictureViewerPro::fontName() const { return m_fontName; }

void PictureViewerPro::setFontSize(int points) { m_fontSize = points; }

int PictureViewerPro::fontSize() const { return m_fontSize; }

void PictureViewerPro::setFontBold(bool bold) { m_bold = bold; }

bool PictureViewerPro::fontBold() const { return m_bold; }

void PictureViewerPro::setFontItalic(bool italic) { m_italic = italic; }

bool PictureViewerPro::fontItalic() const { return m_italic; }

void PictureViewerPro::setTextColor(qint32 colour) { m_textColour = colour; }

qint32 PictureViewerPro::textColor() const { return m_textColour; }

void PictureViewerPro::setJpegQuality(int quality) { m_jpegQuality = quality; }

int PictureViewerPro::jpegQuality() const { return m_jpegQuality; }

double PictureViewerPro::zoom() const { return m_zoom; }

void PictureViewerPro::setOperationObserver(OperationObserver observer) { m_observer = std::move(observer); }

void PictureViewerPro::trace(const char* name) const
{
    if (m_observer)
        m_observer(QLatin1String(name));
}

QFont PictureViewerPro::font() const
{
    QFont font(m_fontName);
    // Points are counted at screen resolution, so a 9-point text is 12 pixels high on every image.
    font.setPixelSize(std::max(1, int(std::lround(m_fontSize * double(ScreenDotsPerInch) / 72.0))));
    font.setBold(m_bold);
    font.setItalic(m_italic);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

Common::Status PictureViewerPro::convertToGray()
{
    trace("convertToGray");
    if (m_image.isNull())
        return viewerError(tr("There is no picture."));
    for (int y = 0; y < m_image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        for (int x = 0; x < m_image.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return Common::success();
}

Common::Status PictureViewerPro::convertToBlackWhite()
{
    trace("convertToBlackWhite");
    if (m_image.isNull())
        return viewerError(tr("There is no picture."));
    for (int y = 0; y < m_image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        for (int x = 0; x < m_image.width(); ++x) {
            const int level = qGray(line[x]) >= 128 ? 255 : 0;
            line[x] = qRgba(level, level, level, qAlpha(line[x]));
        }
    }
    return Common::success();
}

Common::Status PictureViewerPro::stampImage(const QString& path, int left, int top, int width, int height)
{
    trace("stampImage");
    if (m_image.isNull())
        return viewerError(tr("There is no picture."));
    if (width < 1 || height < 1 || width > MaxImageSide || height > MaxImageSide
        || qint64(width) * height > MaxImagePixels)
        return viewerError(tr("Cannot stamp an image of %1 x %2 pixels.").arg(width).arg(height));
    auto stamp = loadForeignImage(path);
    if (!stamp)
        return stamp.error();
    const QImage scaled = stamp.value().scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&m_image);
    painter.drawImage(QPoint(left, top), scaled);
    return Common::success();
}

Common::Status PictureViewerPro::drawText(int x, int y, const QString& text)
{
    trace("drawText");
    constexpr int low = std::numeric_limits<qint16>::min();
    constexpr int high = std::numeric_limits<qint16>::max();
    if (x < low || x > high || y < low || y > high)
        return viewerError(tr("The text position %1, %2 is out of range.").arg(x).arg(y));
    return drawStyledText(TextStyle::Normal, x, y, text, 0);
}

Common::Status PictureViewerPro::drawOutlineText(int x, int y, const QString& text)
{
    trace("drawOutlineText");
    return drawStyledText(TextStyle::Outline, x, y, text, 0);
}

Common::Status PictureViewerPro::drawFillOutlineText(int x, int y, const QString& text, qint32 styleColour)
{
    trace("drawFillOutlineText");
    return drawStyledText(TextStyle::FillOutline, x, y, text, styleColour);
}

Common::Status PictureViewerPro::drawShadowText(int x, int y, const QString& text, qint32 styleColour)
{
    trace("drawShadowText");
    return drawStyledText(TextStyle::Shadow, x, y, text, styleColour);
}

Common::Status PictureViewerPro::drawWatermarkText(int x, int y, const QString& text)
{
    trace("drawWatermarkText");
    return drawStyledText(TextStyle::Watermark, x, y, text, 0);
}

Common::Status PictureViewerPro::drawStyledText(TextStyle style, int x, int y, const QString& text, qint32 styleColour)
{
    if (m_image.isNull())
        return viewerError(tr("There is no picture."));
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return viewerError(tr("Text can only be drawn in the graphical application."));
    if (m_fontSize < 1 || m_fontSize > 1000)
        return viewerError(tr("The font size %1 is outside 1..1000.").arg(m_fontSize));
    const auto colour = toColour(m_textColour);
    if (!colour)
        return colour.error();
    QColor second;
    if (style == TextStyle::FillOutline || style == TextStyle::Shadow) {
        const auto styled = toColour(styleColour);
        if (!styled)
            return styled.error();
        second = styled.value();
    }
    if (text.isEmpty())
        return Common::success();

    const QFont textFont = font();
    const QPointF baseline(x, y + QFontMetricsF(textFont).ascent());
    QPainterPath path;
    path.addText(baseline, textFont, text);

    QPainter painter(&m_image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    switch (style) {
    case TextStyle::Normal:
        painter.setFont(textFont);
        painter.setPen(colour.value());
        painter.drawText(baseline, text);
        break;
    case TextStyle::Outline:
        painter.strokePath(path, QPen(colour.value(), 1.0));
        break;
    case TextStyle::FillOutline:
        painter.fillPath(path, second);
        painter.strokePath(path, QPen(colour.value(), 1.0));
        break;
    case TextStyle::Shadow: {
        const qreal offset = std::max(1.0, textFont.pixelSize() / 10.0);
        painter.fillPath(path.translated(offset, offset), second);
        painter.fillPath(path, colour.value());
        break;
    }
    case TextStyle::Watermark: {
        // Light above and left, dark below and right, the letters themselves faint: a pressed-in mark.
        painter.fillPath(path.translated(1, 1), QColor(0, 0, 0, 90));
        painter.fillPath(path.translated(-1, -1), QColor(255, 255, 255, 120));
        QColor faint = colour.value();
        faint.setAlpha(90);
        painter.fillPath(path, faint);
        break;
    }
    }
    return Common::success();
}

Common::Status PictureViewerPro::save(const QString& path, ViewerFormat format, Durability durability) const
{
    if (m_image.isNull())
        return viewerError(tr("There is no picture to save."));
    Common::Result<QByteArray> bytes = QByteArray();
    switch (format) {
    case ViewerFormat::Bmp:
        return saveImage(m_image, path, ImageFormat::Bmp, 100, durability);
    case ViewerFormat::Gif:
        return saveImage(m_image, path, ImageFormat::Gif, 100, durability);
    case ViewerFormat::Jpeg:
        return saveImage(m_image, path, ImageFormat::Jpeg, m_jpegQuality, durability);
    case ViewerFormat::Png:
        return saveImage(m_image, path, ImageFormat::Png, 100, durability);
    case ViewerFormat::Tiff:
        return saveImage(m_image, path, ImageFormat::Tiff, 100, durability);
    case ViewerFormat::Pdf:
        bytes = encodePdf(m_image);
        break;
    case ViewerFormat::Emf:
        bytes = encodeEmf(m_image);
        break;
    case ViewerFormat::Wmf:
        bytes = encodeWmf(m_image);
        break;
    }
    if (!bytes)
        return bytes.error();
    return writeFileAtomically(path, bytes.value(), durability);
}

Common::Status PictureViewerPro::resize(int width, int height)
{
    trace("resize");
    if (m_image.isNull())
        return viewerError(tr("There is no picture."));
    if (width < 1 || height < 1 || width > MaxImageSide || height > MaxImageSide
        || qint64(width) * height > MaxImagePixels)
        return viewerError(tr("Cannot resize the picture to %1 x %2 pixels.").arg(width).arg(height));
    m_image = normalizedImage(m_image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return Common::success();
}

void PictureViewerPro::setZoom(double factor)
{
    m_zoom = std::isfinite(factor) ? std::clamp(factor, 0.01, 100.0) : 1.0;
}

QSize PictureViewerPro::displayedSize() const
{
    if (m_image.isNull())
        return {};
    return QSize(std::max(1, int(std::lround(m_image.width() * m_zoom))),
        std::max(1, int(std::lround(m_image.height() * m_zoom))));
}

void PictureViewerPro::copyToClipboard(ImageClipboard& clipboard) const
{
    if (!m_image.isNull())
        clipboard.setImage(m_image);
}

} // namespace Imaging
