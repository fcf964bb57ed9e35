#include <functional>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "settings/cregistry.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"

using namespace Settings;

using Field = std::function<QVariant(const LiveSettings&)>;
Q_DECLARE_METATYPE(Field)

namespace {

const QString kProgramFolder = QStringLiteral("/opt/pictavo/");

const QString kIgnoreFiles = QStringLiteral(
    ".exe,.zip,.tar,.gz,.tgz,.rar,.gif,.jpg,.JIF,.JPEG,.JPE,.jng,.bmp,.ico,.png,.tif,.tiff,.tiff,.pcd,.pcx,.psd,.wbmp,"
    ".xbm,.xpm,.ras,.sgi,.tga,.ppm,.pgm,.pbm,.mng,.koa,.iff,.lbm,.hdr,.g3,.dds,.cut");

#define FIELD(name) [](const LiveSettings& s) { return QVariant::fromValue(s.name); }

struct Row {
    const char* name; // the field
    const char* key; // the stored value that fills it
    Field field;
    QVariant defaultValue;
    QString stored; // a stored text that is not the default
    QVariant fromStored;
};

QList<Row> allSettings()
{
    const auto n = [](qint32 v) { return QVariant::fromValue(v); };
    const auto t = [](const char* s) { return QVariant(QString::fromUtf8(s)); };
    const auto s = [](const char* s) { return QString::fromUtf8(s); };
    const qint32 white = 16777215;
    // Flags: stored "1" turns each one on. Numbers: a stored value that also exercises rounding where useful.
    return {
        { "AdminURL", "AdminURL", FIELD(AdminURL), t("http://www.corvane.com/cgi-bin/dir/admin.cgi"),
            s("http://127.0.0.1:8080/cgi-bin/dir/admin.cgi"), t("http://127.0.0.1:8080/cgi-bin/dir/admin.cgi") },
        { "AdminUserID", "AdminUserID", FIELD(AdminUserID), t("admin"), s("root"), t("root") },
        { "AdminPassword", "AdminPassword", FIELD(AdminPassword), t(""), s(" secret "), t(" secret ") },
        { "Timeout", "Timeout", FIELD(Timeout), n(40000), s("90000"), n(90000) },
        { "SlotTimeoutSeconds", "Timeout", FIELD(SlotTimeoutSeconds), n(60), s("90000"), n(110) },
        { "DelayTime", "DelayTime", FIELD(DelayTime), n(1000), s("2500"), n(2500) },
        { "FastDelay", "FastDelay", FIELD(FastDelay), n(1), s("0"), n(0) },
        { "CheckBlankPages", "CheckBlankPages", FIELD(CheckBlankPages), n(1), s("0"), n(0) },
        { "EnableJava", "EnableJava", FIELD(EnableJava), n(0), s("1"), n(1) },
        { "EnableActiveX", "EnableActiveX", FIELD(EnableActiveX), n(0), s("1"), n(1) },
        { "EnableScript", "EnableScript", FIELD(EnableScript), n(0), s("1"), n(1) },
        { "DismissCookieBanners", "DismissCookieBanners", FIELD(DismissCookieBanners), n(1), s("0"), n(0) },
        { "ThreadsCount", "ThreadsCount", FIELD(ThreadsCount), n(4), s("8"), n(8) },
        { "IgnoreFiles", "IgnoreFiles", FIELD(IgnoreFiles), QVariant(kIgnoreFiles), s(".exe,.zip"), t(".exe,.zip") },
        { "BrowserEndpoints", "BrowserEndpoints", FIELD(BrowserEndpoints), t(""), s("local ws://10.0.0.2:9222/x"),
            t("local ws://10.0.0.2:9222/x") },
        { "SnapWidth", "SnapWidth", FIELD(SnapWidth), n(0), s("1024"), n(1024) },
        { "SnapHeight", "SnapHeight", FIELD(SnapHeight), n(0), s("768"), n(768) },
        { "SnapDimension", "SnapDimension", FIELD(SnapDimension), n(0), s("1"), n(1) },
        { "SetForceSnap", "SetForceSnap", FIELD(SetForceSnap), n(0), s("1"), n(1) },
        { "MaxViewerCount", "MaxViewerCount", FIELD(MaxViewerCount), n(1000), s("50"), n(50) },
        { "MaxListingCount", "MaxListingCount", FIELD(MaxListingCount), n(1000000), s("2000"), n(2000) },
        { "HistoryRuns", "HistoryRuns", FIELD(HistoryRuns), n(12), s("24"), n(24) },
        { "FailingRuns", "FailingRuns", FIELD(FailingRuns), n(3), s("2"), n(2) },
        { "ImageType", "ImageType", FIELD(ImageType), n(0), s("2"), n(2) },
        { "JpegQuality", "JpegQuality", FIELD(JpegQuality), n(80), s("95"), n(95) },
        { "ImageWidth", "ImageWidth", FIELD(ImageWidth), n(120), s("240"), n(240) },
        { "ImageHeight", "ImageHeight", FIELD(ImageHeight), n(90), s("180"), n(180) },
        { "ImageAspect", "ImageAspect", FIELD(ImageAspect), n(0), s("1"), n(1) },
        { "ImagesFolder", "ImagesFolder", FIELD(ImagesFolder), t("/opt/pictavo/snapshots"), s("/srv/thumbs"),
            t("/srv/thumbs") },
        { "WatermarkGray", "WatermarkGray", FIELD(WatermarkGray), n(0), s("1"), n(1) },
        { "WatermarkBlackWhite", "WatermarkBlackWhite", FIELD(WatermarkBlackWhite), n(0), s("1"), n(1) },
        { "WatermarkText", "WatermarkText", FIELD(WatermarkText), t("Corvane"), s(""), t("") },
        { "WatermarkX", "WatermarkX", FIELD(WatermarkX), n(4), s("12.5"), n(12) },
        { "WatermarkY", "WatermarkY", FIELD(WatermarkY), n(4), s("13.5"), n(14) },
        { "WatermarkFontname", "WatermarkFontname", FIELD(WatermarkFontname), t("Arial"), s("DejaVu Sans"),
            t("DejaVu Sans") },
        { "WatermarkFontSize", "WatermarkFontSize", FIELD(WatermarkFontSize), n(9), s("14"), n(14) },
        { "WatermarkForeColor", "WatermarkForeColor", FIELD(WatermarkForeColor), n(255), s("16777215"), n(white) },
        { "WatermarkFontBold", "WatermarkFontBold", FIELD(WatermarkFontBold), QVariant(true), s("False"),
            QVariant(false) },
        { "WatermarkFontItalic", "WatermarkFontItalic", FIELD(WatermarkFontItalic), QVariant(false), s("True"),
            QVariant(true) },
        { "WatermarkStyleColor", "WatermarkStyleColor", FIELD(WatermarkStyleColor), n(65535), s("255"), n(255) },
        { "WatermarkStyle", "WatermarkStyle", FIELD(WatermarkStyle), n(4), s("2"), n(2) },
        { "WatermarkImage", "WatermarkImage", FIELD(WatermarkImage), t(""), s("/srv/stamp.png"), t("/srv/stamp.png") },
        { "WatermarkImageLeft", "WatermarkImageLeft", FIELD(WatermarkImageLeft), n(1), s("5"), n(5) },
        { "WatermarkImageTop", "WatermarkImageTop", FIELD(WatermarkImageTop), n(1), s("6"), n(6) },
        { "WatermarkImageWidth", "WatermarkImageWidth", FIELD(WatermarkImageWidth), n(30), s("40"), n(40) },
        { "WatermarkImageHeight", "WatermarkImageHeight", FIELD(WatermarkImageHeight), n(25), s("35"), n(35) },
        { "FilterAntialias", "FilterAntialias", FIELD(FilterAntialias), n(0), s("1"), n(1) },
        { "FilterColorCorrect", "FilterColorCorrect", FIELD(FilterColorCorrect), n(0), s("1"), n(1) },
        { "FilterColorEmboss", "FilterColorEmboss", FIELD(FilterColorEmboss), n(0), s("1"), n(1) },
        { "FilterEnhanceEdge", "FilterEnhanceEdge", FIELD(FilterEnhanceEdge), n(0), s("1"), n(1) },
        { "FilterHighPass", "FilterHighPass", FIELD(FilterHighPass), n(0), s("1"), n(1) },
        { "FilterLowPass", "FilterLowPass", FIELD(FilterLowPass), n(0), s("1"), n(1) },
        { "FilterMelt", "FilterMelt", FIELD(FilterMelt), n(0), s("1"), n(1) },
        { "FilterNegative", "FilterNegative", FIELD(FilterNegative), n(0), s("1"), n(1) },
        { "FilterSharpen", "FilterSharpen", FIELD(FilterSharpen), n(0), s("1"), n(1) },
        { "FilterSoften", "FilterSoften", FIELD(FilterSoften), n(0), s("1"), n(1) },
        { "FilterSoftenMore", "FilterSoftenMore", FIELD(FilterSoftenMore), n(0), s("1"), n(1) },
        { "FilterCompress", "FilterCompress", FIELD(FilterCompress), n(0), s("1"), n(1) },
        { "FilterConvolution", "FilterConvolution", FIELD(FilterConvolution), n(0), s("1"), n(1) },
        { "EffectErodeBorder", "EffectErodeBorder", FIELD(EffectErodeBorder), n(0), s("1"), n(1) },
        { "EffectFadeBorder", "EffectFadeBorder", FIELD(EffectFadeBorder), n(0), s("1"), n(1) },
        { "EffectFishEye", "EffectFishEye", FIELD(EffectFishEye), n(0), s("1"), n(1) },
        { "EffectFrameSolid", "EffectFrameSolid", FIELD(EffectFrameSolid), n(0), s("1"), n(1) },
        { "EffectFrame", "EffectFrame", FIELD(EffectFrame), n(0), s("1"), n(1) },
        { "EffectIrregularBorder", "EffectIrregularBorder", FIELD(EffectIrregularBorder), n(0), s("1"), n(1) },
        { "EffectShadowCanvas", "EffectShadowCanvas", FIELD(EffectShadowCanvas), n(0), s("1"), n(1) },
        { "EffectPerspectiveHorizontal", "EffectPerspectiveHorizontal", FIELD(EffectPerspectiveHorizontal), n(0),
            s("1"), n(1) },
        { "EffectPerspectiveVertical", "EffectPerspectiveVertical", FIELD(EffectPerspectiveVertical), n(0), s("1"),
            n(1) },
        { "EffectRandomShear", "EffectRandomShear", FIELD(EffectRandomShear), n(0), s("1"), n(1) },
        { "EffectRotate", "EffectRotate", FIELD(EffectRotate), n(0), s("1"), n(1) },
        { "EffectSkewHorizontally", "EffectSkewHorizontally", FIELD(EffectSkewHorizontally), n(0), s("1"), n(1) },
        { "EffectSkewVertically", "EffectSkewVertically", FIELD(EffectSkewVertically), n(0), s("1"), n(1) },
        { "EffectTint", "EffectTint", FIELD(EffectTint), n(0), s("1"), n(1) },
        { "EffectTwirl", "EffectTwirl", FIELD(EffectTwirl), n(0), s("1"), n(1) },
        { "EffectTwist", "EffectTwist", FIELD(EffectTwist), n(0), s("1"), n(1) },
        { "EffectVignette", "EffectVignette", FIELD(EffectVignette), n(0), s("1"), n(1) },
        { "RotateEffects", "RotateEffects", FIELD(RotateEffects), n(0), s("1"), n(1) },
        { "ErodeBorderColor", "ErodeBorderColor", FIELD(ErodeBorderColor), n(white), s("255"), n(255) },
        { "ErodeBorderSize", "ErodeBorderSize", FIELD(ErodeBorderSize), n(8), s("3"), n(3) },
        { "FadeBorderColor", "FadeBorderColor", FIELD(FadeBorderColor), n(white), s("255"), n(255) },
        { "FadeBorderSize", "FadeBorderSize", FIELD(FadeBorderSize), n(6), s("3"), n(3) },
        { "FishEyeColor", "FishEyeColor", FIELD(FishEyeColor), n(white), s("255"), n(255) },
        { "FrameSolidColor", "FrameSolidColor", FIELD(FrameSolidColor), n(5197647), s("255"), n(255) },
        { "FrameSolidColor1", "FrameSolidColor1", FIELD(FrameSolidColor1), n(13619151), s("255"), n(255) },
        { "FrameSolidSize", "FrameSolidSize", FIELD(FrameSolidSize), n(6), s("3"), n(3) },
        { "FrameEffectSliceFile", "FrameEffectSliceFile", FIELD(FrameEffectSliceFile),
            t("/opt/pictavo/FrameEffectSlice.jpg"), s("/srv/slice.jpg"), t("/srv/slice.jpg") },
        { "IrregularBorderColor", "IrregularBorderColor", FIELD(IrregularBorderColor), n(white), s("255"), n(255) },
        { "IrregularBorderSize", "IrregularBorderSize", FIELD(IrregularBorderSize), n(10), s("3"), n(3) },
        { "ShadowCanvasColor", "ShadowCanvasColor", FIELD(ShadowCanvasColor), n(14671839), s("255"), n(255) },
        { "ShadowCanvasShadow", "ShadowCanvasShadow", FIELD(ShadowCanvasShadow), n(4144959), s("255"), n(255) },
        { "ShadowCanvasSize", "ShadowCanvasSize", FIELD(ShadowCanvasSize), n(4), s("3"), n(3) },
        { "ShadowCanvasBlur", "ShadowCanvasBlur", FIELD(ShadowCanvasBlur), n(8), s("3"), n(3) },
        { "PerspectiveHorizontalColor", "PerspectiveHorizontalColor", FIELD(PerspectiveHorizontalColor), n(white),
            s("255"), n(255) },
        { "PerspectiveHorizontalSize", "PerspectiveHorizontalSize", FIELD(PerspectiveHorizontalSize), n(20), s("3"),
            n(3) },
        { "PerspectiveVerticalColor", "PerspectiveVerticalColor", FIELD(PerspectiveVerticalColor), n(white), s("255"),
            n(255) },
        { "PerspectiveVerticalSize", "PerspectiveVerticalSize", FIELD(PerspectiveVerticalSize), n(20), s("3"), n(3) },
        { "RandomShearColor", "RandomShearColor", FIELD(RandomShearColor), n(white), s("255"), n(255) },
        { "RandomShearSize", "RandomShearSize", FIELD(RandomShearSize), n(20), s("3"), n(3) },
        { "RotateColor", "RotateColor", FIELD(RotateColor), n(white), s("255"), n(255) },
        { "RotateAngle", "RotateAngle", FIELD(RotateAngle), n(20), s("-45"), n(-45) },
        { "SkewHorizontallyColor", "SkewHorizontallyColor", FIELD(SkewHorizontallyColor), n(white), s("255"), n(255) },
        { "SkewHorizontallyAngle", "SkewHorizontallyAngle", FIELD(SkewHorizontallyAngle), n(20), s("3"), n(3) },
        { "SkewVerticallyColor", "SkewVerticallyColor", FIELD(SkewVerticallyColor), n(white), s("255"), n(255) },
        { "SkewVerticallyAngle", "SkewVerticallyAngle", FIELD(SkewVerticallyAngle), n(20), s("3"), n(3) },
        { "TintColor", "TintColor", FIELD(TintColor), n(4144959), s("255"), n(255) },
        { "TwirlColor", "TwirlColor", FIELD(TwirlColor), n(white), s("255"), n(255) },
        { "TwirlAngle", "TwirlAngle", FIELD(TwirlAngle), n(10), s("3"), n(3) },
        { "TwistColor", "TwistColor", FIELD(TwistColor), n(white), s("255"), n(255) },
        { "TwistAngle", "TwistAngle", FIELD(TwistAngle), n(10), s("3"), n(3) },
        { "VignetteColor", "VignetteColor", FIELD(VignetteColor), n(white), s("255"), n(255) },
        { "VignetteEffectFile", "VignetteEffectFile", FIELD(VignetteEffectFile), t("/opt/pictavo/VignetteEffect.jpg"),
            s("/srv/mask.jpg"), t("/srv/mask.jpg") },
        { "ImportLinksMode", "ImportLinksMode", FIELD(ImportLinksMode), n(1), s("3"), n(3) },
        { "ImportLinksPeriod", "ImportLinksPeriod", FIELD(ImportLinksPeriod), n(5), s("2"), n(2) },
        { "ViewerFolder", "ViewerFolder", FIELD(ViewerFolder), t("/opt/pictavo/snapshots"), s("/srv/view"),
            t("/srv/view") },
        { "ViewerPageSize", "ViewerPageSize", FIELD(ViewerPageSize), n(500), s("100"), n(100) },
        { "SnapshotterAddress", "SnapshotterAddress", FIELD(SnapshotterAddress), t("www.corvane.com"), s("127.0.0.1"),
            t("127.0.0.1") },
        { "SnapshotterWidth", "SnapshotterWidth", FIELD(SnapshotterWidth), n(120), s("640"), n(640) },
        { "SnapshotterHeight", "SnapshotterHeight", FIELD(SnapshotterHeight), n(90), s("480"), n(480) },
        { "UploadConnections", "UploadConnections", FIELD(UploadConnections), n(2), s("5"), n(5) },
        { "UploadConnectionFiles", "UploadConnectionFiles", FIELD(UploadConnectionFiles), n(10), s("20"), n(20) },
    };
}

#undef FIELD

} // namespace

class TestLiveSettings final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void emptyStoreGivesDefaults_data();
    void emptyStoreGivesDefaults();
    void storedValueFillsItsField_data();
    void storedValueFillsItsField();
    void valueThatDoesNotConvertGivesDefault_data();
    void valueThatDoesNotConvertGivesDefault();
    void watchdogFollowsTheTimeout_data();
    void watchdogFollowsTheTimeout();
    void valuesStoredAsNumbers();
    void programFolderDefaultsFollowTheProgram();
    void unreadableStoreGivesDefaults();
    void overrideConvertsAsTheStoreDoes_data();
    void overrideConvertsAsTheStoreDoes();
    void overrideRefusesWhatDoesNotConvert_data();
    void overrideRefusesWhatDoesNotConvert();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Hive> m_hive;
};

void TestLiveSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_hive = std::make_unique<Hive>(m_dir->filePath(QStringLiteral("registry.db")));
}

void TestLiveSettings::emptyStoreGivesDefaults_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<QVariant>("expected");
    for (const Row& row : allSettings())
        QTest::newRow(row.name) << row.field << row.defaultValue;
}

void TestLiveSettings::emptyStoreGivesDefaults()
{
    QFETCH(Field, field);
    QFETCH(QVariant, expected);
    const QVariant actual = field(LoadSettings(*m_hive, kProgramFolder));
    QCOMPARE(actual.typeId(), expected.typeId());
    QCOMPARE(actual, expected);
}

void TestLiveSettings::storedValueFillsItsField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<Field>("field");
    QTest::addColumn<QVariant>("expected");
    for (const Row& row : allSettings())
        QTest::newRow(row.name) << QString::fromLatin1(row.key) << row.stored << row.field << row.fromStored;
}

void TestLiveSettings::storedValueFillsItsField()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(Field, field);
    QFETCH(QVariant, expected);
    QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), key, stored).ok());
    QCOMPARE(field(LoadSettings(*m_hive, kProgramFolder)), expected);
}

void TestLiveSettings::valueThatDoesNotConvertGivesDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<Field>("field");
    QTest::addColumn<QVariant>("expected");
    const Field threads = [](const LiveSettings& s) { return QVariant(s.ThreadsCount); };
    const Field bold = [](const LiveSettings& s) { return QVariant(s.WatermarkFontBold); };
    const Field color = [](const LiveSettings& s) { return QVariant(s.WatermarkForeColor); };
    QTest::newRow("letters for a number")
        << QStringLiteral("ThreadsCount") << QStringLiteral("abc") << threads << QVariant(4);
    QTest::newRow("empty number") << QStringLiteral("ThreadsCount") << QString() << threads << QVariant(4);
    QTest::newRow("number beyond 32 bits")
        << QStringLiteral("ThreadsCount") << QStringLiteral("4294967296") << threads << QVariant(4);
    QTest::newRow("blanks around a number")
        << QStringLiteral("ThreadsCount") << QStringLiteral(" 6 ") << threads << QVariant(6);
    QTest::newRow("word for a Boolean") << QStringLiteral("WatermarkFontBold") << QStringLiteral("yes") << bold
                                        << QVariant(true);
    QTest::newRow("zero for a Boolean") << QStringLiteral("WatermarkFontBold") << QStringLiteral("0") << bold
                                        << QVariant(false);
    QTest::newRow("minus one for a Boolean")
        << QStringLiteral("WatermarkFontBold") << QStringLiteral("-1") << bold << QVariant(true);
    QTest::newRow("lower-case false") << QStringLiteral("WatermarkFontBold") << QStringLiteral("false") << bold
                                      << QVariant(false);
    QTest::newRow("colour in hexadecimal")
        << QStringLiteral("WatermarkForeColor") << QStringLiteral("&HFF00") << color << QVariant(255);
    const Field images = [](const LiveSettings& s) { return QVariant(s.ImagesFolder); };
    QTest::newRow("blank folder") << QStringLiteral("ImagesFolder") << QStringLiteral(" ") << images
                                  << QVariant(kProgramFolder + QStringLiteral("snapshots"));
}

void TestLiveSettings::valueThatDoesNotConvertGivesDefault()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(Field, field);
    QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), key, stored).ok());
    QTEST(field(LoadSettings(*m_hive, kProgramFolder)), "expected");
}

void TestLiveSettings::watchdogFollowsTheTimeout_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<qint32>("timeout");
    QTest::addColumn<qint32>("watchdog");
    QTest::newRow("absent") << QVariant() << 40000 << 60;
    QTest::newRow("the default stored") << QVariant(40000) << 40000 << 60;
    QTest::newRow("two minutes") << QVariant(120000) << 120000 << 140;
    QTest::newRow("part of a second rounds up") << QVariant(1001) << 1001 << 22;
    QTest::newRow("seconds stored by mistake") << QVariant(60) << 60 << 21;
    QTest::newRow("zero") << QVariant(0) << 0 << 20;
    QTest::newRow("negative") << QVariant(-5000) << -5000 << 20;
    QTest::newRow("fraction") << QVariant(QStringLiteral("1000.5")) << 1000 << 21;
    QTest::newRow("largest") << QVariant(2147483647) << 2147483647 << 2147504;
    QTest::newRow("not a number") << QVariant(QStringLiteral("abc")) << 40000 << 60;
}

void TestLiveSettings::watchdogFollowsTheTimeout()
{
    QFETCH(QVariant, stored);
    if (stored.isValid())
        QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("Timeout"), stored).ok());
    const LiveSettings settings = LoadSettings(*m_hive, kProgramFolder);
    QTEST(settings.Timeout, "timeout");
    QTEST(settings.SlotTimeoutSeconds, "watchdog");
}

void TestLiveSettings::valuesStoredAsNumbers()
{
    const auto storeNumber = [this](const char* key, qint32 value) {
        cRegistry registry(*m_hive);
        registry.setClassKey(HKEY_LOCAL_MACHINE);
        registry.setSectionKey(settingsKeyPath(appKeyPath(), settingsSection()));
        registry.setValueKey(QString::fromLatin1(key));
        registry.setValueType(REG_DWORD);
        return registry.setValue(value).ok();
    };
    QVERIFY(storeNumber("ThreadsCount", 8));
    QVERIFY(storeNumber("WatermarkFontItalic", 1));
    QVERIFY(storeNumber("AdminUserID", 7));
    QCOMPARE(m_hive->writeValue(HKEY_LOCAL_MACHINE, settingsKeyPath(appKeyPath(), settingsSection()),
                 QStringLiteral("JpegQuality"), HiveValue { REG_BINARY, QByteArray("95") }),
        Hive::WriteResult::Written);

    const LiveSettings settings = LoadSettings(*m_hive, kProgramFolder);
    QCOMPARE(settings.ThreadsCount, 8);
    QCOMPARE(settings.WatermarkFontItalic, true);
    QCOMPARE(settings.AdminUserID, QStringLiteral("7"));
    QCOMPARE(settings.JpegQuality, 80);
}

void TestLiveSettings::programFolderDefaultsFollowTheProgram()
{
    QVERIFY(WriteSetting(
        *m_hive, appKeyPath(), settingsSection(), QStringLiteral("ImagesFolder"), QStringLiteral("/srv/thumbs"))
                .ok());
    const LiveSettings before = LoadSettings(*m_hive, QStringLiteral("/opt/pictavo/"));
    const LiveSettings after = LoadSettings(*m_hive, QStringLiteral("/home/me/pictavo/"));

    QCOMPARE(before.ImagesFolder, QStringLiteral("/srv/thumbs"));
    QCOMPARE(after.ImagesFolder, QStringLiteral("/srv/thumbs"));
    QCOMPARE(after.ViewerFolder, QStringLiteral("/home/me/pictavo/snapshots"));
    QCOMPARE(after.FrameEffectSliceFile, QStringLiteral("/home/me/pictavo/FrameEffectSlice.jpg"));
    QCOMPARE(after.VignetteEffectFile, QStringLiteral("/home/me/pictavo/VignetteEffect.jpg"));

    LiveSettings moved = after;
    moved.ViewerFolder = before.ViewerFolder;
    moved.FrameEffectSliceFile = before.FrameEffectSliceFile;
    moved.VignetteEffectFile = before.VignetteEffectFile;
    QVERIFY(moved == before);
}

void TestLiveSettings::unreadableStoreGivesDefaults()
{
    const LiveSettings defaults = LoadSettings(*m_hive, kProgramFolder);
    QFile file(m_hive->filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("Timeout=1\n").repeated(500));
    file.close();
    QVERIFY(LoadSettings(*m_hive, kProgramFolder) == defaults);
}

void TestLiveSettings::overrideConvertsAsTheStoreDoes_data() { storedValueFillsItsField_data(); }

void TestLiveSettings::overrideConvertsAsTheStoreDoes()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(Field, field);
    QFETCH(QVariant, expected);
    LiveSettings settings = LoadSettings(*m_hive, kProgramFolder);
    // Key names match in any case, as the registry's do.
    QVERIFY(overrideSetting(settings, key.toUpper(), stored).ok());
    QCOMPARE(field(settings), expected);
    QVERIFY(settingNames().contains(key));
    // Nothing was stored.
    QVERIFY(!ReadSetting(*m_hive, appKeyPath(), settingsSection(), key, QVariant()).isValid());
}

void TestLiveSettings::overrideRefusesWhatDoesNotConvert_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("unknown key") << QStringLiteral("ThreadCount") << QStringLiteral("4");
    QTest::newRow("window position, not a live setting") << QStringLiteral("MainLeft") << QStringLiteral("1");
    QTest::newRow("number with a tail") << QStringLiteral("ThreadsCount") << QStringLiteral("4x");
    QTest::newRow("empty number") << QStringLiteral("ImageType") << QString();
    QTest::newRow("timeout past 32 bits") << QStringLiteral("Timeout") << QStringLiteral("99999999999");
    QTest::newRow("flag that is a word") << QStringLiteral("WatermarkFontBold") << QStringLiteral("yes");
    QTest::newRow("empty images folder") << QStringLiteral("ImagesFolder") << QString();
}

void TestLiveSettings::overrideRefusesWhatDoesNotConvert()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    LiveSettings settings = LoadSettings(*m_hive, kProgramFolder);
    const LiveSettings before = settings;
    const Common::Status result = overrideSetting(settings, key, value);
    QVERIFY(!result.ok());
    QVERIFY(result.error().message.contains(key));
    QVERIFY(settings == before);
}

QTEST_GUILESS_MAIN(TestLiveSettings)
#include "tst_livesettings.moc"
