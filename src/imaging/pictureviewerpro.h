#pragma once

#include <functional>

#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include "common/result.h"
#include "imaging/imagefile.h"

namespace Imaging {

// The formats the viewer saves in. PDF is one page holding the image; EMF and WMF are metafiles
// holding the bitmap.
enum class ViewerFormat { Bmp, Gif, Jpeg, Png, Tiff, Pdf, Emf, Wmf };

// Where a copied image goes; the shell implements it over the desktop clipboard, tests record it.
class ImageClipboard {
public:
    virtual ~ImageClipboard() = default;
    virtual void setImage(const QImage& image) = 0;
};

// The picture viewer without its window: one image, the conversions and drawing the thumbnails get
// (grey, black and white, an image stamp, styled text), saving in every offered format, resizing, and
// the zoom a display widget shows it at. Positions and sizes are pixels of the image.
//
// Operations that can fail return an error and leave the image as it was. Drawing text needs a
// QGuiApplication (fonts); everything else runs on any thread. Not thread-safe.
class PictureViewerPro final {
public:
    // Test seam: called once per image-changing operation with its name, e.g. "convertToGray".
    using OperationObserver = std::function<void(const QString&)>;

    PictureViewerPro() = default;

    // Files the program wrote itself are decoded through FreeImage, all others through Qt's readers.
    Common::Status load(const QString& path, FileOrigin origin = FileOrigin::Foreign);
    void setImage(const QImage& image);
    const QImage& image() const;
    void clear();
    bool isEmpty() const;
    int pixelWidth() const;
    int pixelHeight() const;

    Common::Status convertToGray();
    // Every pixel becomes black or white by its brightness (threshold at the middle).
    Common::Status convertToBlackWhite();
    // Draws the image file scaled to the rectangle; its transparency shows the picture beneath.
    Common::Status stampImage(const QString& path, int left, int top, int width, int height);

    // Font and colour of the next text drawing. Size in points at 96 dpi; colour 0x00BBGGRR.
    void setFontName(const QString& name);
    QString fontName() const;
    void setFontSize(int points);
    int fontSize() const;
    void setFontBold(bool bold);
    bool fontBold() const;
    void setFontItalic(bool italic);
    bool fontItalic() const;
    void setTextColor(qint32 colour);
    qint32 textColor() const;
    // The font the text operations draw with, as resolved from the properties above.
    QFont font() const;

    // The text styles; (x, y) is the top left of the text. drawText takes 16-bit positions and
    // refuses others. Colours are 0x00BBGGRR.
    Common::Status drawText(int x, int y, const QString& text);
    Common::Status drawOutlineText(int x, int y, const QString& text);
    Common::Status drawFillOutlineText(int x, int y, const QString& text, qint32 styleColour);
    Common::Status drawShadowText(int x, int y, const QString& text, qint32 styleColour);
    Common::Status drawWatermarkText(int x, int y, const QString& text);

    void setJpegQuality(int quality);
    int jpegQuality() const;
    // Writes the image (at its pixel size, not the zoom) in the format given, through a temporary
    // file in the same folder, whatever the path's extension. By default the save waits until the
    // file is on the disk; Durability::Flushed returns as soon as the system has it.
    Common::Status save(const QString& path, ViewerFormat format, Durability durability = Durability::Synced) const;

    // Scales the image to exactly width x height, smoothly.
    Common::Status resize(int width, int height);
    // How large the image is shown: a factor of its pixel size (1.0 = 100%), at least 0.01.
    void setZoom(double factor);
    double zoom() const;
    QSize displayedSize() const;
    void copyToClipboard(ImageClipboard& clipboard) const;

    void setOperationObserver(OperationObserver observer);

private:
    enum class TextStyle { Normal, Outline, FillOutline, Shadow, Watermark };
    Common::Status drawStyledText(TextStyle style, int x, int y, const QString& text, qint32 styleColour);
    void trace(const char* name) const;

    QImage m_image;
    QString m_fontName = QStringLiteral("Arial");
    int m_fontSize = 9;
    bool m_bold = false;
    bool m_italic = false;
    qint32 m_textColour = 0;
    int m_jpegQuality = 80;
    double m_zoom = 1.0;
    OperationObserver m_observer;
};

} // namespace Imaging
