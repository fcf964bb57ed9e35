// Draws the sample pictures the program ships: a made-up web page to preview thumbnails on, a frame
// slice and a vignette mask. Everything is drawn here, so the pictures are the project's own.
//
// Usage: pictavo-make-samples <output folder>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "imaging/imagefile.h"

namespace {

QFont sans(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Grey bars standing for lines of body text, with ragged line ends like real paragraphs.
void paragraph(QPainter& painter, int left, int top, int width, int lines, int seed)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 150, 160));
    for (int i = 0; i < lines; ++i) {
        const int length
            = i == lines - 1 ? width * (40 + (seed * 17 + i * 23) % 40) / 100 : width - (seed * 7 + i * 13) % 24;
        painter.drawRoundedRect(QRect(left, top + i * 11, length, 5), 2, 2);
    }
}

QImage webPage()
{
    QImage page(640, 480, QImage::Format_RGB32);
    page.fill(QColor(250, 250, 247));
    QPainter painter(&page);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    // Header with a logo and the site name.
    QLinearGradient header(0, 0, 0, 64);
    header.setColorAt(0, QColor(24, 62, 120));
    header.setColorAt(1, QColor(16, 42, 86));
    painter.fillRect(QRect(0, 0, 640, 64), header);
    painter.setBrush(QColor(250, 180, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(20, 14, 36, 36));
    painter.setBrush(QColor(16, 42, 86));
    painter.drawEllipse(QRect(30, 24, 16, 16));
    painter.setPen(Qt::white);
    painter.setFont(sans(26, true));
    painter.drawText(QPoint(68, 42), QStringLiteral("Corvane Links"));
    painter.setFont(sans(12));
    painter.setPen(QColor(190, 205, 230));
    painter.drawText(QPoint(420, 40), QStringLiteral("Search the directory"));
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRect(540, 26, 84, 20), 4, 4);

    // Navigation bar.
    painter.fillRect(QRect(0, 64, 640, 30), QColor(230, 236, 245));
    painter.setFont(sans(13, true));
    painter.setPen(QColor(24, 62, 120));
    const char* items[] = { "Home", "Arts", "Business", "Computers", "Science", "Sports", "Travel" };
    int x = 20;
    for (const char* item : items) {
        painter.drawText(QPoint(x, 84), QString::fromLatin1(item));
        x += 84;
    }

    // Feature picture: a landscape with sky, sun, hills and a lake.
    const QRect feature(20, 110, 390, 190);
    QLinearGradient sky(0, feature.top(), 0, feature.bottom());
    sky.setColorAt(0, QColor(70, 140, 220));
    sky.setColorAt(0.7, QColor(200, 225, 245));
    painter.fillRect(feature, sky);
    painter.setClipRect(feature);
    QRadialGradient sun(QPointF(320, 160), 40);
    sun.setColorAt(0, QColor(255, 250, 200));
    sun.setColorAt(0.5, QColor(255, 220, 90));
    sun.setColorAt(1, QColor(255, 220, 90, 0));
    painter.setBrush(sun);
    painter.drawEllipse(QPointF(320, 160), 40, 40);
    QPainterPath far;
    far.moveTo(20, 240);
    far.cubicTo(100, 170, 160, 200, 220, 185);
    far.cubicTo(280, 170, 330, 215, 410, 200);
    far.lineTo(410, 300);
    far.lineTo(20, 300);
    painter.setBrush(QColor(90, 120, 150));
    painter.drawPath(far);
    QPainterPath near;
    near.moveTo(20, 260);
    near.cubicTo(120, 220, 200, 250, 260, 240);
    near.cubicTo(320, 230, 360, 260, 410, 250);
    near.lineTo(410, 300);
    near.lineTo(20, 300);
    painter.setBrush(QColor(60, 130, 70));
    painter.drawPath(near);
    painter.setBrush(QColor(60, 110, 180, 200));
    painter.drawEllipse(QRect(140, 268, 180, 26));
    painter.setClipping(false);
    painter.setPen(QPen(QColor(200, 200, 205), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(feature.adjusted(0, 0, -1, -1));

    // Article heading and text.
    painter.setFont(sans(20, true));
    painter.setPen(QColor(30, 30, 40));
    painter.drawText(QPoint(20, 330), QStringLiteral("Editor's pick of the week"));
    paragraph(painter, 20, 342, 390, 6, 1);
    painter.setFont(sans(16, true));
    painter.setPen(QColor(30, 30, 40));
    painter.drawText(QPoint(20, 430), QStringLiteral("New in the directory"));
    paragraph(painter, 20, 440, 390, 3, 4);

    // Sidebar: two boxes with links and a button.
    for (int box = 0; box < 2; ++box) {
        const QRect frame(430, 110 + box * 170, 190, 155);
        painter.setPen(QPen(QColor(210, 214, 222), 1));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(frame, 6, 6);
        painter.fillRect(QRect(frame.left() + 1, frame.top() + 1, frame.width() - 1, 26),
            box == 0 ? QColor(250, 180, 40) : QColor(60, 130, 70));
        painter.setFont(sans(14, true));
        painter.setPen(Qt::white);
        painter.drawText(QPoint(frame.left() + 10, frame.top() + 19),
            box == 0 ? QStringLiteral("Popular sites") : QStringLiteral("Submit a link"));
        painter.setFont(sans(12));
        painter.setPen(QColor(30, 80, 180));
        if (box == 0) {
            const char* links[] = { "Open maps project", "City walks", "Recipe archive", "Night sky guide",
                "Garden notes", "Old radio shows" };
            int y = frame.top() + 46;
            for (const char* link : links) {
                painter.drawText(QPoint(frame.left() + 12, y), QString::fromLatin1(link));
                y += 18;
            }
        } else {
            paragraph(painter, frame.left() + 12, frame.top() + 40, 160, 5, 9);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(24, 62, 120));
            painter.drawRoundedRect(QRect(frame.left() + 40, frame.top() + 112, 110, 28), 5, 5);
            painter.setPen(Qt::white);
            painter.setFont(sans(13, true));
            painter.drawText(
                QRect(frame.left() + 40, frame.top() + 112, 110, 28), Qt::AlignCenter, QStringLiteral("Add your site"));
        }
    }

    // Footer.
    painter.fillRect(QRect(0, 460, 640, 20), QColor(40, 44, 52));
    painter.setFont(sans(10));
    painter.setPen(QColor(180, 184, 190));
    painter.drawText(QPoint(20, 474), QStringLiteral("About  ·  Contact  ·  Privacy"));
    return page;
}

// A strip whose first row is the frame's outer edge: a dark rim, a wooden moulding, a light inner lip.
QImage frameSlice()
{
    const int width = 64;
    const int height = 14;
    QImage slice(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double grain = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * x / width * 2 + y * 1.7);
            const double depth = double(y) / (height - 1);
            // Rounded profile: brightest a third of the way in.
            const double profile = 1.0 - std::abs(depth - 0.35) * 1.3;
            int r = int(110 + 80 * profile + 14 * grain);
            int g = int(65 + 50 * profile + 8 * grain);
            int b = int(30 + 25 * profile);
            if (y == 0) {
                r = 40;
                g = 24;
                b = 12;
            } else if (y == height - 1) {
                r = 230;
                g = 205;
                b = 160;
            }
            slice.setPixel(x, y, qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255)));
        }
    }
    return slice;
}

// White in the middle, fading smoothly to black towards the edges and corners.
QImage vignetteMask()
{
    const int width = 320;
    const int height = 240;
    QImage mask(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double nx = (x + 0.5 - width / 2.0) / (width / 2.0);
            const double ny = (y + 0.5 - height / 2.0) / (height / 2.0);
            const double d = std::hypot(nx, ny);
            double t = std::clamp((1.05 - d) / 0.5, 0.0, 1.0);
            t = t * t * (3 - 2 * t);
            const int level = int(std::lround(255 * t));
            mask.setPixel(x, y, qRgb(level, level, level));
        }
    }
    return mask;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: pictavo-make-samples <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const struct {
        const char* name;
        QImage image;
    } samples[] = {
        { "ThumbnailSample.jpg", webPage() },
        { "FrameEffectSlice.jpg", frameSlice() },
        { "VignetteEffect.jpg", vignetteMask() },
    };
    for (const auto& sample : samples) {
        const QString path = folder.filePath(QString::fromLatin1(sample.name));
        const auto saved = Imaging::saveImage(sample.image, path, Imaging::ImageFormat::Jpeg, 92);
        if (!saved) {
            std::fprintf(stderr, "%s\n", qPrintable(saved.error().message));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
