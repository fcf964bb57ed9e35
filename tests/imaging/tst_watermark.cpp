#include <QTemporaryDir>
#include <QtTest>

#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
#include "imaging/watermark.h"
#include "settings/livesettings.h"

using namespace Imaging;

namespace {

QImage flatImage(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage colourfulImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 9) % 256, (y * 13) % 256, 90));
    }
    return image;
}

int countNear(const QImage& image, QRgb colour, int tolerance, const QRect& within)
{
    int count = 0;
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance && std::abs(qGreen(p) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                ++count;
        }
    }
    return count;
}

} // namespace

class TestWatermark final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_stamp = m_dir.filePath(QStringLiteral("stamp.png"));
        QVERIFY(saveImage(flatImage(30, 25, qRgb(0, 0, 255)), m_stamp, ImageFormat::Png).ok());
    }

    void stepsRunInOrder_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("textOperation");
        QTest::newRow("Normal") << 0 << QStringLiteral("drawText");
        QTest::newRow("Outline") << 1 << QStringLiteral("drawOutlineText");
        QTest::newRow("Fill Outline") << 2 << QStringLiteral("drawFillOutlineText");
        QTest::newRow("Shadow Text") << 3 << QStringLiteral("drawShadowText");
        QTest::newRow("Water Mark") << 4 << QStringLiteral("drawWatermarkText");
        QTest::newRow("style 7 draws nothing") << 7 << QString();
        QTest::newRow("negative style draws nothing") << -1 << QString();
    }

    void stepsRunInOrder()
    {
        QFETCH(int, style);
        QFETCH(QString, textOperation);
        WatermarkOptions options;
        options.WatermarkGray = 1;
        options.WatermarkBlackWhite = 1;
        options.WatermarkImage = m_stamp;
        options.WatermarkText = QStringLiteral("Corvane");
        options.WatermarkStyle = style;
        options.WatermarkFontname = QStringLiteral("Liberation Serif");
        options.WatermarkFontSize = 14;
        options.WatermarkFontItalic = true;
        options.WatermarkForeColor = 0x00ff00;
        PictureViewerPro viewer;
        viewer.setImage(colourfulImage(120, 90));
        QStringList calls;
        viewer.setOperationObserver([&](const QString& call) { calls.append(call); });
        QVERIFY(ApplyWatermark(viewer, options).ok());
        QStringList expected { QStringLiteral("convertToGray"), QStringLiteral("convertToBlackWhite"),
            QStringLiteral("stampImage") };
        if (!textOperation.isEmpty())
            expected.append(textOperation);
        QCOMPARE(calls, expected);
        // The font is set even for a style that draws nothing.
        QCOMPARE(viewer.fontName(), QStringLiteral("Liberation Serif"));
        QCOMPARE(viewer.fontSize(), 14);
        QVERIFY(viewer.fontBold());
        QVERIFY(viewer.fontItalic());
        QCOMPARE(viewer.textColor(), 0x00ff00);
    }

    void nothingToDoLeavesTheImage()
    {
        const QImage original = colourfulImage(120, 90);
        PictureViewerPro viewer;
        viewer.setImage(original);
        QStringList calls;
        viewer.setOperationObserver([&](const QString& call) { calls.append(call); });
        WatermarkOptions options;
        options.WatermarkText.clear();
        options.WatermarkStyleColor = -5;
        QVERIFY(ApplyWatermark(viewer, options).ok());
        QVERIFY(calls.isEmpty());
        QCOMPARE(viewer.image(), original);
        QCOMPARE(viewer.fontName(), QStringLiteral("Arial"));
    }

    void textKeepsItsColourOnTopOfStampAndConversions()
    {
        WatermarkOptions options;
        options.WatermarkGray = 1;
        options.WatermarkBlackWhite = 1;
        options.WatermarkImage = m_stamp;
        options.WatermarkImageLeft = 0;
        options.WatermarkImageTop = 0;
        options.WatermarkImageWidth = 80;
        options.WatermarkImageHeight = 40;
        options.WatermarkText = QStringLiteral("Corvane");
        options.WatermarkStyle = 0;
        options.WatermarkFontSize = 14;
        options.WatermarkForeColor = 255;
        options.WatermarkX = 4;
        options.WatermarkY = 4;
        PictureViewerPro viewer;
        viewer.setImage(colourfulImage(120, 90));
        QVERIFY(ApplyWatermark(viewer, options).ok());
        const QImage& result = viewer.image();
        // Red letters lie on the blue stamp, which kept its colour through the conversions before it.
        const QRect stamp(0, 0, 80, 40);
        QVERIFY(countNear(result, qRgb(255, 0, 0), 10, stamp) > 20);
        QVERIFY(countNear(result, qRgb(0, 0, 255), 0, stamp) > 1000);
        // Outside the stamp and the text only black and white remain.
        const QRect rest(0, 45, 120, 45);
        QCOMPARE(countNear(result, qRgb(0, 0, 0), 0, rest) + countNear(result, qRgb(255, 255, 255), 0, rest), 120 * 45);
    }

    void styleColourMattersOnlyForItsStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("usesStyleColour");
        QTest::newRow("Normal") << 0 << false;
        QTest::newRow("Outline") << 1 << false;
        QTest::newRow("Fill Outline") << 2 << true;
        QTest::newRow("Shadow Text") << 3 << true;
        QTest::newRow("Water Mark") << 4 << false;
    }

    void styleColourMattersOnlyForItsStyles()
    {
        QFETCH(int, style);
        QFETCH(bool, usesStyleColour);
        const auto draw = [&](qint32 styleColour) {
            WatermarkOptions options;
            options.WatermarkText = QStringLiteral("Corvane");
            options.WatermarkStyle = style;
            options.WatermarkFontSize = 16;
            options.WatermarkStyleColor = styleColour;
            PictureViewerPro viewer;
            viewer.setImage(flatImage(120, 40, qRgb(128, 128, 128)));
            (void)ApplyWatermark(viewer, options);
            return viewer.image();
        };
        QCOMPARE(draw(0x00ffff) != draw(0xff0000), usesStyleColour);
    }

    void aFailingStepEndsTheRest()
    {
        WatermarkOptions options;
        options.WatermarkImage = m_dir.filePath(QStringLiteral("missing.png"));
        options.WatermarkText = QStringLiteral("Corvane");
        PictureViewerPro viewer;
        viewer.setImage(colourfulImage(60, 40));
        QStringList calls;
        viewer.setOperationObserver([&](const QString& call) { calls.append(call); });
        QVERIFY(!ApplyWatermark(viewer, options).ok());
        QCOMPARE(calls, QStringList { QStringLiteral("stampImage") });

        options.WatermarkImage.clear();
        options.WatermarkStyle = 0;
        options.WatermarkX = 40000;
        QVERIFY(!ApplyWatermark(viewer, options).ok());
    }

    void withNothingToAddTheThumbnailIsTheImagingResult_data()
    {
        QTest::addColumn<ViewerFormat>("format");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("jpg") << ViewerFormat::Jpeg << 10;
        QTest::newRow("gif") << ViewerFormat::Gif << 40;
        QTest::newRow("png") << ViewerFormat::Png << 0;
        QTest::newRow("bmp") << ViewerFormat::Bmp << 0;
        QTest::newRow("tiff") << ViewerFormat::Tiff << 0;
    }

    void withNothingToAddTheThumbnailIsTheImagingResult()
    {
        QFETCH(ViewerFormat, format);
        QFETCH(int, tolerance);
        // The completion's hand-over: the imaging result goes through a file to the viewer, which
        // saves the final thumbnail under the same name.
        const QString output = m_dir.filePath(QStringLiteral("42.out"));
        PixTwix pixTwix;
        pixTwix.setPicture(colourfulImage(1024, 768));
        QVERIFY(pixTwix.resize(120, 90, 4).ok());
        QVERIFY(pixTwix.save(QString(), output, 12).ok());
        const QImage handedOver = loadOwnImage(output).value();

        PictureViewerPro viewer;
        QVERIFY(viewer.load(output, FileOrigin::Own).ok());
        WatermarkOptions options;
        options.WatermarkText.clear();
        QVERIFY(ApplyWatermark(viewer, options).ok());
        viewer.setJpegQuality(100);
        QVERIFY(viewer.save(output, format).ok());

        const auto thumbnail = loadOwnImage(output);
        QVERIFY(thumbnail.ok());
        QCOMPARE(thumbnail.value().size(), QSize(120, 90));
        int worst = 0;
        for (int y = 0; y < 90; ++y) {
            for (int x = 0; x < 120; ++x) {
                const QRgb a = thumbnail.value().pixel(x, y);
                const QRgb b = handedOver.pixel(x, y);
                worst = std::max({ worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                    std::abs(qBlue(a) - qBlue(b)) });
            }
        }
        QVERIFY2(worst <= tolerance, qPrintable(QString::number(worst)));
        QCOMPARE(QDir(m_dir.path()).entryList({ QStringLiteral("42.*") }, QDir::Files | QDir::Hidden).size(), 1);
    }

    void optionsComeFromTheLiveSettings()
    {
        Settings::LiveSettings live;
        live.WatermarkText = QStringLiteral("Corvane");
        live.WatermarkStyle = 3;
        live.WatermarkFontBold = false;
        live.WatermarkImageWidth = 31;
        const WatermarkOptions options = watermarkOptionsFrom(live);
        QCOMPARE(options.WatermarkText, QStringLiteral("Corvane"));
        QCOMPARE(options.WatermarkStyle, 3);
        QVERIFY(!options.WatermarkFontBold);
        QCOMPARE(options.WatermarkImageWidth, 31);
    }

private:
    QTemporaryDir m_dir;
    QString m_stamp;
};

QTEST_MAIN(TestWatermark)
#include "tst_watermark.moc"
