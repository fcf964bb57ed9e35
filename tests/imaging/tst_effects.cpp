#include <QTemporaryDir>
#include <QtTest>

#include "imaging/effects.h"
#include "imaging/filters.h"
#include "imaging/imagefile.h"
#include "imaging/pixtwix.h"
#include "settings/livesettings.h"

using namespace Imaging;

namespace {

QImage texturedImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 7 + y * 53) % 256, (x + y) % 256));
    }
    return image;
}

// Records the operations a PixTwix performs, by name or with their arguments.
struct Recorder {
    QStringList calls;
    PixTwix pixTwix;
    explicit Recorder(bool withArguments = true)
    {
        pixTwix.setPicture(texturedImage(121, 91));
        pixTwix.setOperationObserver([this, withArguments](const QString& call) {
            calls.append(withArguments ? call : call.left(call.indexOf(QLatin1Char('('))));
        });
    }
};

std::array<qint32, EffectCount> enabled(std::initializer_list<int> indexes)
{
    std::array<qint32, EffectCount> flags {};
    for (int index : indexes)
        flags[size_t(index)] = 1;
    return flags;
}

} // namespace

class TestEffects final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QImage slice(30, 6, QImage::Format_RGB32);
        slice.fill(qRgb(120, 60, 0));
        m_slice = m_dir.filePath(QStringLiteral("slice.jpg"));
        QVERIFY(saveImage(slice, m_slice, ImageFormat::Jpeg, 90).ok());
        QImage mask(20, 20, QImage::Format_RGB32);
        mask.fill(qRgb(128, 128, 128));
        m_mask = m_dir.filePath(QStringLiteral("mask.png"));
        QVERIFY(saveImage(mask, m_mask, ImageFormat::Png).ok());
        m_garbage = m_dir.filePath(QStringLiteral("garbage.jpg"));
        QFile garbage(m_garbage);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not an image");
    }

    void colorToRgb_data()
    {
        QTest::addColumn<qint32>("colour");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::addColumn<int>("blue");
        QTest::newRow("red") << 255 << true << 255 << 0 << 0;
        QTest::newRow("white") << 16777215 << true << 255 << 255 << 255;
        QTest::newRow("black") << 0 << true << 0 << 0 << 0;
        QTest::newRow("bytes in BBGGRR order") << 0x123456 << true << 0x56 << 0x34 << 0x12;
        QTest::newRow("seven hex digits") << 16777216 << false << 0 << 0 << 0;
        QTest::newRow("negative") << -1 << false << 0 << 0 << 0;
    }

    void colorToRgb()
    {
        QFETCH(qint32, colour);
        QFETCH(bool, valid);
        const auto rgb = ColorToRGB(colour);
        QCOMPARE(rgb.ok(), valid);
        if (valid) {
            QFETCH(int, red);
            QFETCH(int, green);
            QFETCH(int, blue);
            QCOMPARE(rgb.value(), (Rgb { red, green, blue }));
        }
    }

    void halvesRoundToEven_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("half");
        QTest::newRow("even") << 120 << 60;
        QTest::newRow("121 to 60") << 121 << 60;
        QTest::newRow("123 to 62") << 123 << 62;
        QTest::newRow("1 to 0") << 1 << 0;
        QTest::newRow("3 to 2") << 3 << 2;
        QTest::newRow("negative") << -123 << -62;
    }

    void halvesRoundToEven()
    {
        QFETCH(int, value);
        QFETCH(int, half);
        QCOMPARE(halfToEven(value), half);
    }

    void selection_data()
    {
        QTest::addColumn<QList<int>>("enabledIndexes");
        QTest::addColumn<bool>("rotate");
        QTest::addColumn<QList<QList<int>>>("perImage");
        QList<int> all;
        for (int i = 0; i < EffectCount; ++i)
            all.append(i);
        QTest::newRow("all, no rotation") << all << false << QList<QList<int>> { all, all };
        QTest::newRow("none, no rotation") << QList<int> {} << false << QList<QList<int>> { {}, {} };
        QTest::newRow("two in turn") << QList<int> { 3, 10 } << true
                                     << QList<QList<int>> { { 3 }, { 10 }, { 3 }, { 10 } };
        QTest::newRow("none in turn") << QList<int> {} << true << QList<QList<int>> { {}, {} };
        QTest::newRow("only the last in turn") << QList<int> { 16 } << true << QList<QList<int>> { { 16 }, { 16 } };
        QTest::newRow("three in turn") << QList<int> { 0, 8, 16 } << true
                                       << QList<QList<int>> { { 0 }, { 8 }, { 16 }, { 0 }, { 8 } };
    }

    void selection()
    {
        QFETCH(QList<int>, enabledIndexes);
        QFETCH(bool, rotate);
        QFETCH(QList<QList<int>>, perImage);
        std::array<qint32, EffectCount> flags {};
        for (int index : enabledIndexes)
            flags[size_t(index)] = 1;
        EffectsState state;
        state.NextEffectIndex = 7;
        PrepareEffects(state, flags);
        QCOMPARE(state.NextEffectIndex, 0);
        for (const QList<int>& expected : perImage)
            QCOMPARE(effectsForImage(state, rotate), expected);
        // A new run starts again from the first enabled effect.
        PrepareEffects(state, flags);
        QCOMPARE(effectsForImage(state, rotate), perImage.first());
    }

    void processEffectArguments_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("0") << 0 << QStringList { QStringLiteral("erodeBorder(8,255,255,255)") };
        QTest::newRow("1") << 1 << QStringList { QStringLiteral("fadeBorder(6,255,255,255)") };
        QTest::newRow("2") << 2 << QStringList { QStringLiteral("fishEye(255,255,255)") };
        QTest::newRow("3") << 3 << QStringList { QStringLiteral("frameSolid(6,79,79,79,207,207,207)") };
        QTest::newRow("4") << 4 << QStringList { QStringLiteral("frameFromSlice(0)") };
        QTest::newRow("5") << 5 << QStringList { QStringLiteral("irregularBorder(10,255,255,255)") };
        QTest::newRow("6") << 6
                           << QStringList { QStringLiteral("shadowCanvas(129,99,4,4,223,223,223,4,4,8,63,63,63)") };
        QTest::newRow("7") << 7 << QStringList { QStringLiteral("perspectiveHorizontal(20,255,255,255)") };
        QTest::newRow("8") << 8 << QStringList { QStringLiteral("perspectiveVertical(20,255,255,255)") };
        QTest::newRow("9") << 9
                           << QStringList { QStringLiteral("randomShearHorizontal(20,255,255,255)"),
                                  QStringLiteral("randomShearVertical(20,255,255,255)") };
        QTest::newRow("10") << 10 << QStringList { QStringLiteral("rotate(60,46,20,255,255,255)") };
        QTest::newRow("11") << 11 << QStringList { QStringLiteral("skewHorizontally(20,255,255,255)") };
        QTest::newRow("12") << 12 << QStringList { QStringLiteral("skewVertically(20,255,255,255)") };
        QTest::newRow("13") << 13 << QStringList { QStringLiteral("tint(63,63,63,0)") };
        QTest::newRow("14") << 14 << QStringList { QStringLiteral("twirl(60,46,10,255,255,255)") };
        QTest::newRow("15") << 15 << QStringList { QStringLiteral("twist(60,46,10,255,255,255)") };
        QTest::newRow("16") << 16 << QStringList { QStringLiteral("vignetteMask(255,255,255)") };
        QTest::newRow("below the table") << -1 << QStringList {};
        QTest::newRow("past the table") << 17 << QStringList {};
    }

    void processEffectArguments()
    {
        QFETCH(int, index);
        QFETCH(QStringList, calls);
        Recorder recorder;
        ProcessEffect(recorder.pixTwix, index, parameters());
        QCOMPARE(recorder.calls, calls);
    }

    void effectFilesAreOptional_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("changes");
        QTest::newRow("frame, empty path") << 4 << QString() << false;
        QTest::newRow("frame, missing file") << 4 << QStringLiteral("/nonexistent/slice.jpg") << false;
        QTest::newRow("frame, a folder") << 4 << QStringLiteral("/tmp") << false;
        QTest::newRow("frame, not an image") << 4 << QStringLiteral("garbage") << false;
        QTest::newRow("frame, a slice") << 4 << QStringLiteral("slice") << true;
        QTest::newRow("vignette, empty path") << 16 << QString() << false;
        QTest::newRow("vignette, missing file") << 16 << QStringLiteral("/nonexistent/mask.jpg") << false;
        QTest::newRow("vignette, a mask") << 16 << QStringLiteral("mask") << true;
    }

    void effectFilesAreOptional()
    {
        QFETCH(int, index);
        QFETCH(QString, file);
        QFETCH(bool, changes);
        if (file == QLatin1String("slice"))
            file = m_slice;
        else if (file == QLatin1String("mask"))
            file = m_mask;
        else if (file == QLatin1String("garbage"))
            file = m_garbage;
        EffectParameters p = parameters();
        p.FrameEffectSliceFile = file;
        p.VignetteEffectFile = file;
        Recorder recorder;
        const QImage before = recorder.pixTwix.picture();
        ProcessEffect(recorder.pixTwix, index, p);
        QCOMPARE(recorder.pixTwix.picture() != before, changes);
    }

    void rotateAndSkewKeepAFraction()
    {
        EffectParameters p = parameters();
        p.RotateAngle = 12.5;
        p.SkewVerticallyAngle = -3.25;
        Recorder recorder;
        ProcessEffect(recorder.pixTwix, 10, p);
        ProcessEffect(recorder.pixTwix, 12, p);
        QCOMPARE(recorder.calls,
            (QStringList { QStringLiteral("rotate(60,46,12.5,255,255,255)"),
                QStringLiteral("skewVertically(-3.25,255,255,255)") }));
    }

    void aFailingEffectIsSilentAndTheNextOneRuns()
    {
        EffectParameters p = parameters();
        p.FadeBorderColor = 16777216;
        p.ShadowCanvasSize = std::numeric_limits<qint32>::max();
        Recorder recorder(false);
        const QImage before = recorder.pixTwix.picture();
        ProcessEffect(recorder.pixTwix, 1, p);
        ProcessEffect(recorder.pixTwix, 6, p);
        QVERIFY(recorder.calls.isEmpty());
        QCOMPARE(recorder.pixTwix.picture(), before);

        EffectsState state;
        PrepareEffects(state, enabled({ 1, 2, 6, 13 }));
        applyEffectsToImage(recorder.pixTwix, state, false, p);
        QCOMPARE(recorder.calls, (QStringList { QStringLiteral("fishEye"), QStringLiteral("tint") }));
    }

    void allEffectsRunInIndexOrder()
    {
        EffectsState state;
        std::array<qint32, EffectCount> flags;
        flags.fill(1);
        PrepareEffects(state, flags);
        Recorder recorder(false);
        applyEffectsToImage(recorder.pixTwix, state, false, parameters());
        const QStringList expected { QStringLiteral("erodeBorder"), QStringLiteral("fadeBorder"),
            QStringLiteral("fishEye"), QStringLiteral("frameSolid"), QStringLiteral("frameFromSlice"),
            QStringLiteral("irregularBorder"), QStringLiteral("shadowCanvas"), QStringLiteral("perspectiveHorizontal"),
            QStringLiteral("perspectiveVertical"), QStringLiteral("randomShearHorizontal"),
            QStringLiteral("randomShearVertical"), QStringLiteral("rotate"), QStringLiteral("skewHorizontally"),
            QStringLiteral("skewVertically"), QStringLiteral("tint"), QStringLiteral("twirl"), QStringLiteral("twist"),
            QStringLiteral("vignetteMask") };
        QCOMPARE(recorder.calls, expected);
        QCOMPARE(recorder.pixTwix.picture().size(), QSize(129, 99));
    }

    void filtersRunInTableOrderWithTheirArguments()
    {
        FilterFlags all { 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1 };
        Recorder recorder;
        QVERIFY(ProcessFilters(recorder.pixTwix, all).ok());
        const QStringList expected { QStringLiteral("antialias(0)"),
            QStringLiteral("colorCorrect(47,47,47,255,255,243,0)"), QStringLiteral("colorEmboss(1,0)"),
            QStringLiteral("enhanceEdges(0)"), QStringLiteral("highPass(0,0)"), QStringLiteral("lowPass(0,0)"),
            QStringLiteral("melt(0)"), QStringLiteral("negative(1,1,1,0)"), QStringLiteral("sharpen(0)"),
            QStringLiteral("soften(0)"), QStringLiteral("softenMore(0)"), QStringLiteral("compress(0,0)"),
            QStringLiteral("convolution(1,1,1,1,-7,1,1,1,1,1,0,0)") };
        QCOMPARE(recorder.calls, expected);
    }

    void noFilterLeavesTheImageUntouched()
    {
        Recorder recorder;
        const QImage before = recorder.pixTwix.picture();
        FilterFlags none;
        none.FilterMelt = 2;
        QVERIFY(ProcessFilters(recorder.pixTwix, none).ok());
        QVERIFY(recorder.calls.isEmpty());
        QCOMPARE(recorder.pixTwix.picture(), before);
    }

    void aFailingFilterStopsTheRest()
    {
        PixTwix empty;
        FilterFlags some;
        some.FilterNegative = 1;
        some.FilterSharpen = 1;
        QStringList calls;
        empty.setOperationObserver([&](const QString& call) { calls.append(call); });
        QVERIFY(!ProcessFilters(empty, some).ok());
        QCOMPARE(calls, QStringList { QStringLiteral("negative(1,1,1,0)") });
    }

    void settingsRecordFillsTheParameters()
    {
        Settings::LiveSettings live;
        live.EffectTwirl = 1;
        live.RotateAngle = 33;
        live.ImageWidth = 200;
        live.FilterMelt = 1;
        live.VignetteEffectFile = QStringLiteral("/x/mask.jpg");
        QCOMPARE(effectFlagsFrom(live), enabled({ 14 }));
        const EffectParameters p = effectParametersFrom(live);
        QCOMPARE(p.RotateAngle, 33);
        QCOMPARE(p.ImageWidth, 200);
        QCOMPARE(p.VignetteEffectFile, QStringLiteral("/x/mask.jpg"));
        QCOMPARE(filterFlagsFrom(live).FilterMelt, 1);
    }

private:
    EffectParameters parameters() const
    {
        EffectParameters p;
        p.ImageWidth = 121;
        p.ImageHeight = 91;
        p.FrameEffectSliceFile = m_slice;
        p.VignetteEffectFile = m_mask;
        return p;
    }

    QTemporaryDir m_dir;
    QString m_slice;
    QString m_mask;
    QString m_garbage;
};

QTEST_GUILESS_MAIN(TestEffects)
#include "tst_effects.moc"
