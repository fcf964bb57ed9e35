#include <functional>

#include <QtTest>

#include "imaging/pixtwix.h"

using namespace Imaging;

namespace {

using Operation = std::function<Common::Status(PixTwix&)>;

// A picture with texture everywhere, so any operation that does something visibly changes it.
QImage texturedImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb((x * 37 + y * 11) % 256, (x * 7 + y * 53) % 256, ((x / 4 + y / 4) % 2) * 200 + 20));
    }
    return image;
}

QImage flatImage(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

int distance(QRgb a, QRgb b)
{
    return std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)) });
}

const QRgb White = qRgb(255, 255, 255);

} // namespace

class TestPixTwix final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyOperationChangesTheImage_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QSize>("expectedSize");
        const QSize same(60, 40);
        QTest::newRow("erode border") << Operation([](PixTwix& p) { return p.erodeBorder(8, 255, 255, 255); }) << same;
        QTest::newRow("fade border") << Operation([](PixTwix& p) { return p.fadeBorder(6, 255, 255, 255); }) << same;
        QTest::newRow("fish eye") << Operation([](PixTwix& p) { return p.fishEye(255, 255, 255); }) << same;
        QTest::newRow("frame solid") << Operation([](PixTwix& p) { return p.frameSolid(6, 79, 79, 79, 207, 207, 207); })
                                     << same;
        QTest::newRow("frame from slice") << Operation([](PixTwix& p) {
            p.setSecondaryPicture(flatImage(30, 6, qRgb(200, 100, 0)));
            return p.frameFromSlice(false);
        }) << same;
        QTest::newRow("irregular border")
            << Operation([](PixTwix& p) { return p.irregularBorder(10, 255, 255, 255); }) << same;
        QTest::newRow("shadow canvas") << Operation([](PixTwix& p) {
            return p.shadowCanvas(68, 48, 4, 4, 223, 223, 223, 4, 4, 8, 63, 63, 63);
        }) << QSize(68, 48);
        QTest::newRow("perspective horizontal")
            << Operation([](PixTwix& p) { return p.perspectiveHorizontal(20, 255, 255, 255); }) << same;
        QTest::newRow("perspective vertical")
            << Operation([](PixTwix& p) { return p.perspectiveVertical(20, 255, 255, 255); }) << same;
        QTest::newRow("random shear horizontal")
            << Operation([](PixTwix& p) { return p.randomShearHorizontal(20, 255, 255, 255); }) << same;
        QTest::newRow("random shear vertical")
            << Operation([](PixTwix& p) { return p.randomShearVertical(20, 255, 255, 255); }) << same;
        QTest::newRow("rotate") << Operation([](PixTwix& p) { return p.rotate(30, 20, 20.0f, 255, 255, 255); }) << same;
        QTest::newRow("skew horizontally")
            << Operation([](PixTwix& p) { return p.skewHorizontally(20.0f, 255, 255, 255); }) << same;
        QTest::newRow("skew vertically") << Operation([](PixTwix& p) { return p.skewVertically(20.0f, 255, 255, 255); })
                                         << same;
        QTest::newRow("tint") << Operation([](PixTwix& p) { return p.tint(63, 63, 63, false); }) << same;
        QTest::newRow("twirl") << Operation([](PixTwix& p) { return p.twirl(30, 20, 10, 255, 255, 255); }) << same;
        QTest::newRow("twist") << Operation([](PixTwix& p) { return p.twist(30, 20, 10, 255, 255, 255); }) << same;
        QTest::newRow("vignette mask") << Operation([](PixTwix& p) {
            QImage mask(10, 10, QImage::Format_RGB32);
            mask.fill(Qt::black);
            mask.setPixel(5, 5, White);
            p.setSecondaryPicture(mask);
            return p.vignetteMask(255, 255, 255);
        }) << same;
        QTest::newRow("antialias") << Operation([](PixTwix& p) { return p.antialias(false); }) << same;
        QTest::newRow("colour correct") << Operation([](PixTwix& p) {
            return p.colorCorrect(47, 47, 47, 255, 255, 243, false);
        }) << same;
        QTest::newRow("colour emboss") << Operation([](PixTwix& p) { return p.colorEmboss(1, false); }) << same;
        QTest::newRow("enhance edges") << Operation([](PixTwix& p) { return p.enhanceEdges(false); }) << same;
        QTest::newRow("high pass") << Operation([](PixTwix& p) { return p.highPass(0, false); }) << same;
        QTest::newRow("low pass") << Operation([](PixTwix& p) { return p.lowPass(0, false); }) << same;
        QTest::newRow("melt") << Operation([](PixTwix& p) { return p.melt(false); }) << same;
        QTest::newRow("negative") << Operation([](PixTwix& p) { return p.negative(true, true, true, false); }) << same;
        QTest::newRow("sharpen") << Operation([](PixTwix& p) { return p.sharpen(false); }) << same;
        QTest::newRow("soften") << Operation([](PixTwix& p) { return p.soften(false); }) << same;
        QTest::newRow("soften more") << Operation([](PixTwix& p) { return p.softenMore(false); }) << same;
        QTest::newRow("compress") << Operation([](PixTwix& p) { return p.compress(0, false); }) << same;
        QTest::newRow("convolution") << Operation([](PixTwix& p) {
            return p.convolution({ 1, 1, 1, 1, -7, 1, 1, 1, 1 }, 1.0f, 0, false);
        }) << same;
    }

    void everyOperationChangesTheImage()
    {
        QFETCH(Operation, operation);
        QFETCH(QSize, expectedSize);
        const QImage original = texturedImage(60, 40);
        PixTwix pixTwix;
        pixTwix.setPicture(original);
        const auto done = operation(pixTwix);
        QVERIFY2(done.ok(), qPrintable(done.ok() ? QString() : done.error().message));
        QCOMPARE(pixTwix.picture().size(), expectedSize);
        QVERIFY(pixTwix.picture() != original);

        // The same picture gives the same result: thumbnails do not change from run to run.
        PixTwix again;
        again.setPicture(original);
        QVERIFY(operation(again).ok());
        QCOMPARE(again.picture(), pixTwix.picture());

        // A one-pixel picture is a limit case, not a crash.
        PixTwix tiny;
        tiny.setPicture(texturedImage(1, 1));
        (void)operation(tiny);
        QVERIFY(!tiny.picture().isNull());
    }

    void badArgumentsLeaveThePictureAlone_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::newRow("colour above 255") << Operation([](PixTwix& p) { return p.fadeBorder(4, 256, 0, 0); });
        QTest::newRow("negative colour") << Operation([](PixTwix& p) { return p.rotate(1, 1, 5.0f, 0, -1, 0); });
        QTest::newRow("second colour") << Operation([](PixTwix& p) { return p.frameSolid(4, 0, 0, 0, 0, 300, 0); });
        QTest::newRow("negative size") << Operation([](PixTwix& p) { return p.erodeBorder(-3, 0, 0, 0); });
        QTest::newRow("empty canvas") << Operation(
            [](PixTwix& p) { return p.shadowCanvas(0, 10, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0); });
        QTest::newRow("giant canvas") << Operation(
            [](PixTwix& p) { return p.shadowCanvas(60000, 60000, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0); });
        QTest::newRow("vertical skew") << Operation([](PixTwix& p) { return p.skewHorizontally(90.0f, 0, 0, 0); });
        QTest::newRow("no frame slice") << Operation([](PixTwix& p) { return p.frameFromSlice(false); });
        QTest::newRow("no mask") << Operation([](PixTwix& p) { return p.vignetteMask(0, 0, 0); });
        QTest::newRow("zero width") << Operation([](PixTwix& p) { return p.resize(0, 10, 4); });
        QTest::newRow("unknown mode") << Operation([](PixTwix& p) { return p.resize(10, 10, 9); });
        QTest::newRow("inverted levels") << Operation(
            [](PixTwix& p) { return p.colorCorrect(200, 0, 0, 100, 255, 255, false); });
        QTest::newRow("compress level") << Operation([](PixTwix& p) { return p.compress(9, false); });
        QTest::newRow("not a weight") << Operation([](PixTwix& p) {
            return p.convolution({ 1, 1, 1, 1, std::numeric_limits<float>::quiet_NaN(), 1, 1, 1, 1 }, 1, 0, false);
        });
    }

    void badArgumentsLeaveThePictureAlone()
    {
        QFETCH(Operation, operation);
        const QImage original = texturedImage(20, 10);
        PixTwix pixTwix;
        pixTwix.setPicture(original);
        QVERIFY(!operation(pixTwix).ok());
        QCOMPARE(pixTwix.picture(), original);

        PixTwix empty;
        QVERIFY(!operation(empty).ok());
    }

    void negativeInvertsExactly()
    {
        PixTwix pixTwix;
        const QImage original = texturedImage(9, 7);
        pixTwix.setPicture(original);
        QVERIFY(pixTwix.negative(true, false, true, false).ok());
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 9; ++x) {
                const QRgb before = original.pixel(x, y);
                QCOMPARE(pixTwix.picture().pixel(x, y), qRgb(255 - qRed(before), qGreen(before), 255 - qBlue(before)));
            }
        }
    }

    void smoothingAndConvolutionKeepFlatAreasFlat_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::newRow("convolution") << Operation([](PixTwix& p) {
            return p.convolution({ 1, 1, 1, 1, -7, 1, 1, 1, 1 }, 1.0f, 0, false);
        });
        QTest::newRow("antialias") << Operation([](PixTwix& p) { return p.antialias(false); });
        QTest::newRow("soften") << Operation([](PixTwix& p) { return p.soften(false); });
        QTest::newRow("soften more") << Operation([](PixTwix& p) { return p.softenMore(false); });
        QTest::newRow("low pass") << Operation([](PixTwix& p) { return p.lowPass(2, false); });
        QTest::newRow("sharpen") << Operation([](PixTwix& p) { return p.sharpen(false); });
        QTest::newRow("enhance edges") << Operation([](PixTwix& p) { return p.enhanceEdges(false); });
        QTest::newRow("colour emboss") << Operation([](PixTwix& p) { return p.colorEmboss(1, false); });
    }

    void smoothingAndConvolutionKeepFlatAreasFlat()
    {
        QFETCH(Operation, operation);
        const QRgb grey = qRgb(120, 90, 60);
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(16, 12, grey));
        QVERIFY(operation(pixTwix).ok());
        QCOMPARE(pixTwix.picture(), flatImage(16, 12, grey));
    }

    void convolutionStrengthensEdges()
    {
        QImage step = flatImage(10, 4, qRgb(100, 100, 100));
        for (int y = 0; y < 4; ++y) {
            for (int x = 5; x < 10; ++x)
                step.setPixel(x, y, qRgb(150, 150, 150));
        }
        PixTwix pixTwix;
        pixTwix.setPicture(step);
        QVERIFY(pixTwix.convolution({ 1, 1, 1, 1, -7, 1, 1, 1, 1 }, 1.0f, 0, false).ok());
        // Beside the step the result departs from the flat value; away from it nothing changes.
        QVERIFY(qRed(pixTwix.picture().pixel(4, 1)) != 100);
        QCOMPARE(qRed(pixTwix.picture().pixel(1, 1)), 100);
    }

    void colorCorrectStretchesTheLevels()
    {
        QImage image(3, 1, QImage::Format_RGB32);
        image.setPixel(0, 0, qRgb(47, 47, 47));
        image.setPixel(1, 0, qRgb(20, 151, 243));
        image.setPixel(2, 0, qRgb(255, 255, 255));
        PixTwix pixTwix;
        pixTwix.setPicture(image);
        QVERIFY(pixTwix.colorCorrect(47, 47, 47, 255, 255, 243, false).ok());
        QCOMPARE(pixTwix.picture().pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(pixTwix.picture().pixel(1, 0), qRgb(0, 128, 255));
        QCOMPARE(pixTwix.picture().pixel(2, 0), qRgb(255, 255, 255));
    }

    void compressReducesTheColourRange()
    {
        PixTwix pixTwix;
        pixTwix.setPicture(texturedImage(64, 64));
        QVERIFY(pixTwix.compress(0, false).ok());
        QSet<int> reds;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x)
                reds.insert(qRed(pixTwix.picture().pixel(x, y)));
        }
        QVERIFY(reds.size() <= 8);
        QVERIFY(reds.contains(0));
        QVERIFY(reds.contains(255));
    }

    void tintKeepsLightnessAndTakesTheHue()
    {
        QImage ramp(256, 1, QImage::Format_RGB32);
        for (int x = 0; x < 256; ++x)
            ramp.setPixel(x, 0, qRgb(x, x, x));
        PixTwix pixTwix;
        pixTwix.setPicture(ramp);
        QVERIFY(pixTwix.tint(200, 40, 40, false).ok());
        const QImage& tinted = pixTwix.picture();
        QCOMPARE(tinted.pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(tinted.pixel(255, 0), qRgb(255, 255, 255));
        const QRgb middle = tinted.pixel(128, 0);
        QVERIFY(qRed(middle) > qGreen(middle) + 60);
        QCOMPARE(qGreen(middle), qBlue(middle));
        QVERIFY(std::abs(QColor(middle).lightness() - 128) <= 2);
    }

    void frameSolidColoursTheSides()
    {
        const QRgb inside = qRgb(10, 200, 10);
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(40, 30, inside));
        QVERIFY(pixTwix.frameSolid(6, 79, 79, 79, 207, 207, 207).ok());
        const QImage& framed = pixTwix.picture();
        const QRgb dark = qRgb(79, 79, 79);
        const QRgb light = qRgb(207, 207, 207);
        QCOMPARE(framed.pixel(20, 2), dark);
        QCOMPARE(framed.pixel(2, 15), dark);
        QCOMPARE(framed.pixel(20, 27), light);
        QCOMPARE(framed.pixel(37, 15), light);
        QCOMPARE(framed.pixel(20, 15), inside);
        QCOMPARE(framed.pixel(6, 6), inside);
    }

    void frameFromSliceDrawsTheSliceOutsideIn()
    {
        QImage slice(12, 4, QImage::Format_RGB32);
        slice.fill(qRgb(0, 0, 255));
        for (int x = 0; x < 12; ++x)
            slice.setPixel(x, 0, qRgb(255, 0, 0));
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(40, 30, White));
        pixTwix.setSecondaryPicture(slice);
        QVERIFY(pixTwix.frameFromSlice(false).ok());
        const QImage& framed = pixTwix.picture();
        for (const QPoint outer : { QPoint(20, 0), QPoint(39, 15), QPoint(20, 29), QPoint(0, 15) })
            QVERIFY2(distance(framed.pixel(outer), qRgb(255, 0, 0)) < 90, qPrintable(QString::number(outer.x())));
        QCOMPARE(framed.pixel(20, 2), qRgb(0, 0, 255));
        QCOMPARE(framed.pixel(20, 15), White);
    }

    void rotateMovesAMarkedPixel()
    {
        QImage image = flatImage(40, 40, qRgb(0, 0, 0));
        for (int y = 19; y <= 21; ++y) {
            for (int x = 29; x <= 31; ++x)
                image.setPixel(x, y, White);
        }
        PixTwix pixTwix;
        pixTwix.setPicture(image);
        QVERIFY(pixTwix.rotate(20, 20, 90.0f, 255, 0, 0).ok());
        const QImage& rotated = pixTwix.picture();
        // Counter-clockwise as seen: the mark to the right of the centre goes above it.
        QVERIFY(qGreen(rotated.pixel(20, 9)) > 200);
        QVERIFY(qGreen(rotated.pixel(30, 20)) < 30);

        pixTwix.setPicture(image);
        QVERIFY(pixTwix.rotate(20, 20, 45.0f, 255, 0, 0).ok());
        QCOMPARE(pixTwix.picture().pixel(0, 0), qRgb(255, 0, 0));
    }

    void uncoveredAreasTakeTheColour_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QPoint>("uncovered");
        QTest::newRow("fish eye corner") << Operation([](PixTwix& p) { return p.fishEye(255, 0, 0); }) << QPoint(0, 0);
        QTest::newRow("perspective horizontal, top right")
            << Operation([](PixTwix& p) { return p.perspectiveHorizontal(20, 255, 0, 0); }) << QPoint(59, 0);
        QTest::newRow("perspective vertical, bottom left")
            << Operation([](PixTwix& p) { return p.perspectiveVertical(20, 255, 0, 0); }) << QPoint(0, 39);
        QTest::newRow("skew horizontally, top left")
            << Operation([](PixTwix& p) { return p.skewHorizontally(30.0f, 255, 0, 0); }) << QPoint(0, 0);
        QTest::newRow("skew vertically, bottom right")
            << Operation([](PixTwix& p) { return p.skewVertically(30.0f, 255, 0, 0); }) << QPoint(59, 39);
        QTest::newRow("erode, corner") << Operation([](PixTwix& p) { return p.erodeBorder(8, 255, 0, 0); })
                                       << QPoint(0, 0);
        QTest::newRow("irregular, corner")
            << Operation([](PixTwix& p) { return p.irregularBorder(8, 255, 0, 0); }) << QPoint(0, 0);
    }

    void uncoveredAreasTakeTheColour()
    {
        QFETCH(Operation, operation);
        QFETCH(QPoint, uncovered);
        const QRgb inside = qRgb(0, 200, 0);
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(60, 40, inside));
        QVERIFY(operation(pixTwix).ok());
        QCOMPARE(pixTwix.picture().pixel(uncovered), qRgb(255, 0, 0));
        QCOMPARE(pixTwix.picture().pixel(30, 20), inside);
    }

    void fadeBorderGraduatesToTheColour()
    {
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(40, 30, qRgb(0, 0, 0)));
        QVERIFY(pixTwix.fadeBorder(6, 255, 255, 255).ok());
        const QImage& faded = pixTwix.picture();
        int previous = 256;
        for (int x = 0; x < 7; ++x) {
            const int value = qRed(faded.pixel(x, 15));
            QVERIFY(value < previous);
            previous = value;
        }
        QVERIFY(qRed(faded.pixel(0, 15)) > 200);
        QCOMPARE(faded.pixel(6, 15), qRgb(0, 0, 0));
    }

    void shadowCanvasPlacesImageAndShadow()
    {
        const QRgb inside = qRgb(0, 0, 200);
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(30, 20, inside));
        QVERIFY(pixTwix.shadowCanvas(38, 28, 4, 4, 223, 223, 223, 4, 4, 2, 63, 63, 63).ok());
        const QImage& canvas = pixTwix.picture();
        QCOMPARE(canvas.size(), QSize(38, 28));
        QCOMPARE(canvas.pixel(0, 0), qRgb(223, 223, 223));
        QCOMPARE(canvas.pixel(4, 4), inside);
        QCOMPARE(canvas.pixel(33, 23), inside);
        // Below and right of the image lies the shadow, darker than the canvas.
        QVERIFY(qRed(canvas.pixel(36, 26)) < 150);
        QVERIFY(qRed(canvas.pixel(36, 2)) > 200);
    }

    void vignetteBlendsByTheMask()
    {
        QImage mask(20, 20, QImage::Format_RGB32);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x)
                mask.setPixel(x, y, x < 10 ? White : qRgb(0, 0, 0));
        }
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(40, 10, qRgb(0, 0, 0)));
        pixTwix.setSecondaryPicture(mask);
        QVERIFY(pixTwix.vignetteMask(255, 0, 0).ok());
        QCOMPARE(pixTwix.picture().pixel(2, 5), qRgb(0, 0, 0));
        QCOMPARE(pixTwix.picture().pixel(37, 5), qRgb(255, 0, 0));
    }

    void randomShearShiftsRowsWithinTheSize()
    {
        // A vertical line stays a connected line moved by at most the size.
        QImage image = flatImage(80, 60, White);
        for (int y = 0; y < 60; ++y)
            image.setPixel(40, y, qRgb(0, 0, 0));
        PixTwix pixTwix;
        pixTwix.setPicture(image);
        QVERIFY(pixTwix.randomShearHorizontal(10, 255, 255, 255).ok());
        bool moved = false;
        for (int y = 0; y < 60; ++y) {
            int darkest = 0;
            for (int x = 1; x < 80; ++x) {
                if (qRed(pixTwix.picture().pixel(x, y)) < qRed(pixTwix.picture().pixel(darkest, y)))
                    darkest = x;
            }
            QVERIFY(std::abs(darkest - 40) <= 6);
            moved = moved || darkest != 40;
        }
        QVERIFY(moved);
    }

    void twirlKeepsTheCentreAndTheCorners()
    {
        const QImage original = texturedImage(60, 40);
        PixTwix pixTwix;
        pixTwix.setPicture(original);
        QVERIFY(pixTwix.twirl(30, 20, 10, 255, 0, 0).ok());
        QCOMPARE(pixTwix.picture().pixel(0, 0), original.pixel(0, 0));
        QVERIFY(pixTwix.picture().pixel(30, 10) != original.pixel(30, 10));
    }

    void resizeIsExactAndSmooth()
    {
        PixTwix pixTwix;
        pixTwix.setPicture(flatImage(1024, 768, qRgb(40, 80, 120)));
        QVERIFY(pixTwix.resize(120, 90, 4).ok());
        QCOMPARE(pixTwix.picture().size(), QSize(120, 90));
        QCOMPARE(pixTwix.picture().pixel(60, 45), qRgb(40, 80, 120));

        // Smooth shrinking averages a fine checkerboard to grey rather than picking one colour.
        QImage checker(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x)
                checker.setPixel(x, y, (x + y) % 2 ? White : qRgb(0, 0, 0));
        }
        pixTwix.setPicture(checker);
        QVERIFY(pixTwix.resize(8, 8, 4).ok());
        QVERIFY(std::abs(qRed(pixTwix.picture().pixel(4, 4)) - 128) < 20);

        pixTwix.setPicture(flatImage(1, 1, White));
        QVERIFY(pixTwix.resize(300, 200, 4).ok());
        QCOMPARE(pixTwix.picture().size(), QSize(300, 200));
    }

    void alphaIsKeptUnlessAskedFor()
    {
        QImage translucent(8, 8, QImage::Format_ARGB32);
        translucent.fill(qRgba(100, 100, 100, 128));
        PixTwix pixTwix;
        pixTwix.setPicture(translucent);
        QVERIFY(pixTwix.negative(true, true, true, false).ok());
        QCOMPARE(pixTwix.picture().pixel(3, 3), qRgba(155, 155, 155, 128));
        QVERIFY(pixTwix.negative(false, false, false, true).ok());
        QCOMPARE(qAlpha(pixTwix.picture().pixel(3, 3)), 127);
    }

    // A large picture is filtered in bands side by side: the rows where bands meet must come out as
    // they do when the same rows are filtered alone (a three-row crop around them).
    void bandsOfALargePictureMeetSeamlessly()
    {
        QImage busy(700, 400, QImage::Format_ARGB32);
        for (int y = 0; y < busy.height(); ++y) {
            for (int x = 0; x < busy.width(); ++x)
                busy.setPixel(x, y, qRgba((x * 7 + y) % 256, (y * 13) % 256, (x * y) % 256, (x + y) % 256));
        }
        PixTwix whole;
        whole.setPicture(busy);
        QVERIFY(whole.sharpen(true).ok());
        for (const int seam : { 99, 100, 199, 200, 299, 300 }) {
            PixTwix crop;
            crop.setPicture(busy.copy(0, seam - 1, busy.width(), 3));
            QVERIFY(crop.sharpen(true).ok());
            for (int x = 0; x < busy.width(); x += 7)
                QCOMPARE(whole.picture().pixel(x, seam), crop.picture().pixel(x, 1));
        }
    }

    // The filters are computed in faster ways over time (two passes for the blurs, wider vectors where
    // the processor has them, bands on several cores); what they give must stay the same to the bit.
    // The digests were taken from the straightforward kernel code.
    void filtersKeepTheirExactPixels_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("digest");
        const QSize small(53, 37);
        const QSize banded(700, 400);
        const auto row = [](const char* name, QSize size, Operation operation, const char* digest) {
            QTest::newRow(name) << size << operation << QByteArray(digest);
        };
        row(
            "antialias", small, [](PixTwix& p) { return p.antialias(false); }, "b917fbe2052578c7");
        row(
            "emboss", small, [](PixTwix& p) { return p.colorEmboss(1, false); }, "26147a6a06ffd338");
        row(
            "enhance edges", small, [](PixTwix& p) { return p.enhanceEdges(false); }, "4280ac22445cc364");
        row(
            "high pass", small, [](PixTwix& p) { return p.highPass(0, false); }, "de4a1bd4b1a96209");
        row(
            "high pass 2, alpha", small, [](PixTwix& p) { return p.highPass(2, true); }, "acf9f90091a7deaf");
        row(
            "low pass", small, [](PixTwix& p) { return p.lowPass(0, false); }, "5a8a49272d265a96");
        row(
            "low pass 1, alpha", small, [](PixTwix& p) { return p.lowPass(1, true); }, "28150beff7037dc5");
        row(
            "melt", small, [](PixTwix& p) { return p.melt(false); }, "aa55d03419868441");
        row(
            "melt, alpha", small, [](PixTwix& p) { return p.melt(true); }, "4fc637d351170d75");
        row(
            "sharpen", small, [](PixTwix& p) { return p.sharpen(false); }, "68738a1a35392e7c");
        row(
            "soften", small, [](PixTwix& p) { return p.soften(true); }, "1de9819dc37d6436");
        row(
            "soften more", small, [](PixTwix& p) { return p.softenMore(false); }, "f10caa8e851bf634");
        row(
            "soften more, alpha", small, [](PixTwix& p) { return p.softenMore(true); }, "c2e20200ab4c657f");
        row(
            "convolution", small,
            [](PixTwix& p) {
                return p.convolution({ 1, 1, 1, 1, -7, 1, 1, 1, 1 }, 1.0f, 0, false);
            },
            "e4e3103fddf996a7");
        row(
            "fractional convolution", small,
            [](PixTwix& p) {
                return p.convolution({ 0.1f, 0.7f, 0.1f, 0.3f, 1.9f, 0.3f, 0.1f, 0.7f, 0.1f }, 3.3f, 7, true);
            },
            "215708c6e4891259");
        row(
            "low pass, banded", banded, [](PixTwix& p) { return p.lowPass(0, false); }, "ee7ecf4e5f9fdfb6");
        row(
            "soften more, banded", banded, [](PixTwix& p) { return p.softenMore(true); }, "f9f9ec88dd04cbe7");
        row(
            "melt, banded", banded, [](PixTwix& p) { return p.melt(false); }, "954ea497f6ad08bc");
        row(
            "thin", QSize(2, 9), [](PixTwix& p) { return p.lowPass(0, true); }, "f7b7bf50a9b8a599");
        row(
            "flat", QSize(9, 1), [](PixTwix& p) { return p.softenMore(true); }, "9df5d4db5dc9cdbc");
    }

    void filtersKeepTheirExactPixels()
    {
        QFETCH(QSize, size);
        QFETCH(Operation, operation);
        QFETCH(QByteArray, digest);
        QImage picture(size, QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                picture.setPixel(x, y,
                    qRgba((x * 37 + y * 11) % 256, (x * y + 3 * y) % 256, (x * 5 + y * y) % 256,
                        (x * 3 + y * 7 + 40) % 256));
        }
        PixTwix pixTwix;
        pixTwix.setPicture(picture);
        QVERIFY(operation(pixTwix).ok());
        QCryptographicHash hash(QCryptographicHash::Sha1);
        const QImage& result = pixTwix.picture();
        for (int y = 0; y < result.height(); ++y)
            hash.addData(QByteArrayView(result.constScanLine(y), result.width() * 4));
        QCOMPARE(hash.result().toHex().left(16), digest);
    }
};

QTEST_GUILESS_MAIN(TestPixTwix)
#include "tst_pixtwix.moc"
