#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include "common/numbers.h"
#include "common/pickers.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsform.h"
#include "settings/settingsstore.h"

using namespace Settings;

namespace {

struct Store {
    QTemporaryDir dir;
    Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    LiveSettings live = LoadSettings(hive, programFolder());

    QString programFolder() const { return dir.path() + QStringLiteral("/"); }
    QVariant stored(const char* key)
    {
        return ReadSetting(hive, appKeyPath(), settingsSection(), QLatin1String(key), QStringLiteral("<absent>"));
    }
};

} // namespace

class TestSettingsForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void numericValue_data();
    void numericValue();
    void ignoreFilesNormalised_data();
    void ignoreFilesNormalised();
    void pickerFilterForQt();
    void cornerArithmetic_data();
    void cornerArithmetic();
    void editsRewriteFieldsAndLiveSettings_data();
    void editsRewriteFieldsAndLiveSettings();
    void savedNumbersFallBack_data();
    void savedNumbersFallBack();
    void savingUnchangedFormKeepsEveryValue();
    void cornersMeasureTheStamp();
};

void TestSettingsForm::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addRow("digits then letters") << "12abc" << 12.0;
    QTest::addRow("letters") << "abc" << 0.0;
    QTest::addRow("empty") << "" << 0.0;
    QTest::addRow("fraction") << "2.5" << 2.5;
    QTest::addRow("leading blanks, sign") << "  -10" << -10.0;
    QTest::addRow("plus sign") << "+4px" << 4.0;
    QTest::addRow("point first") << ".5" << 0.5;
    QTest::addRow("sign alone") << "-" << 0.0;
    QTest::addRow("point alone") << "." << 0.0;
    QTest::addRow("exponent") << "1e3" << 1000.0;
    QTest::addRow("exponent without digits") << "1e" << 1.0;
    QTest::addRow("beyond double") << "1e999" << 0.0;
}

void TestSettingsForm::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(Common::numericValue(text), value);
    // Whole numbers saturate instead of overflowing.
    QCOMPARE(Common::toWholeNumber(1e12), std::numeric_limits<qint32>::max());
    QCOMPARE(Common::toWholeNumber(-1e12), std::numeric_limits<qint32>::min());
    QCOMPARE(Common::toWholeNumber(2.5), 2);
}

void TestSettingsForm::ignoreFilesNormalised_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    QTest::addRow("mixed, two lines") << "EXE, zip\n.RAR"
                                      << ".exe,.zip,.rar";
    QTest::addRow("windows line break") << "exe\r\n\r\n gz"
                                        << ".exe,.gz";
    QTest::addRow("commas only") << " , ,, "
                                 << "";
    QTest::addRow("blank") << "   "
                           << "";
    QTest::addRow("already stored") << ".exe,.zip"
                                    << ".exe,.zip";
}

void TestSettingsForm::ignoreFilesNormalised()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    QCOMPARE(normalizeIgnoreFiles(text), stored);
}

void TestSettingsForm::pickerFilterForQt()
{
    QCOMPARE(Common::qtFileFilter(pictureFileFilter()),
        QStringLiteral("All Picture Types (*.bmp *.gif *.jpg *jpe *.jpeg);;Bitmaps (*.bmp);;GIF Images (*.gif);;"
                       "JPEG Images (*.jpg *.jpe *.jpeg)"));
    QCOMPARE(Common::qtFileFilter(QStringLiteral("Odd|")), QStringLiteral("Odd ()"));
    QCOMPARE(Common::qtFileFilter(QStringLiteral("no pair")), QString());
}

void TestSettingsForm::cornerArithmetic_data()
{
    QTest::addColumn<int>("corner");
    QTest::addColumn<QSize>("stamp");
    QTest::addColumn<QPoint>("position");
    const QSize stamp(30, 25);
    QTest::addRow("top left") << int(Corner::TopLeft) << stamp << QPoint(1, 1);
    QTest::addRow("top right") << int(Corner::TopRight) << stamp << QPoint(90, 1);
    QTest::addRow("bottom left") << int(Corner::BottomLeft) << stamp << QPoint(1, 65);
    QTest::addRow("bottom right") << int(Corner::BottomRight) << stamp << QPoint(90, 65);
    QTest::addRow("wider than the thumbnail") << int(Corner::TopRight) << QSize(200, 25) << QPoint(-80, 1);
}

void TestSettingsForm::cornerArithmetic()
{
    QFETCH(int, corner);
    QFETCH(QSize, stamp);
    QFETCH(QPoint, position);
    QCOMPARE(cornerPosition(Corner(corner), QSize(120, 90), stamp), position);
}

void TestSettingsForm::editsRewriteFieldsAndLiveSettings_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("preview");
    QTest::addRow("width below 0") << "txtSnapWidth"
                                   << "-10"
                                   << "0" << int(Preview::None);
    QTest::addRow("width with letters") << "txtSnapHeight"
                                        << "12abc"
                                        << "12" << int(Preview::None);
    QTest::addRow("x position 0") << "txtWatermarkX"
                                  << "0"
                                  << "1" << int(Preview::Watermark);
    QTest::addRow("stamp top emptied") << "txtWatermarkImageTop"
                                       << ""
                                       << "1" << int(Preview::Watermark);
    QTest::addRow("stamp left rounded") << "txtWatermarkImageLeft"
                                        << "4.5"
                                        << "4" << int(Preview::Watermark);
    QTest::addRow("effect size keeps fraction") << "txtRotateAngle"
                                                << "7.5deg"
                                                << "7.5" << int(Preview::Effects);
    QTest::addRow("fraction being typed") << "txtSkewVerticallyAngle"
                                          << "12."
                                          << "12." << int(Preview::Effects);
    QTest::addRow("sign being typed") << "txtSnapWidth"
                                      << "-"
                                      << "-" << int(Preview::None);
    QTest::addRow("blur not range checked") << "txtShadowCanvasBlur"
                                            << "99"
                                            << "99" << int(Preview::Effects);
    QTest::addRow("thumbnail width kept as typed") << "txtImageWidth"
                                                   << "64x"
                                                   << "64x" << int(Preview::Thumbnail);
    QTest::addRow("no rule") << "txtTimeout"
                             << "abc"
                             << "abc" << int(Preview::None);
}

void TestSettingsForm::editsRewriteFieldsAndLiveSettings()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, preview);
    Store store;
    SettingsForm form(store.live, store.hive, store.programFolder());
    const SettingsForm::Edit edit = form.textEdited(field, typed);
    QCOMPARE(edit.text, shown);
    QCOMPARE(int(edit.preview), preview);
    if (field == QLatin1String("txtWatermarkX"))
        QCOMPARE(store.live.WatermarkX, 1);
    if (field == QLatin1String("txtImageWidth"))
        QCOMPARE(store.live.ImageWidth, 64);
    // Nothing is stored before Apply.
    QCOMPARE(store.stored("WatermarkX"), QVariant(QStringLiteral("<absent>")));
}

void TestSettingsForm::savedNumbersFallBack_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addRow("time-out 0") << "txtTimeout"
                                << "0"
                                << "Timeout"
                                << "30000";
    QTest::addRow("time-out empty") << "txtTimeout"
                                    << ""
                                    << "Timeout"
                                    << "30000";
    QTest::addRow("time-out abc") << "txtTimeout"
                                  << "abc"
                                  << "Timeout"
                                  << "30000";
    QTest::addRow("delay -5") << "txtDelayTime"
                              << "-5"
                              << "DelayTime"
                              << "0";
    QTest::addRow("delay 2.5") << "txtDelayTime"
                               << "2.5"
                               << "DelayTime"
                               << "2";
    QTest::addRow("image width abc keeps typed") << "txtImageWidth"
                                                 << "abc"
                                                 << "ImageWidth"
                                                 << "120";
    QTest::addRow("watermark x abc keeps live") << "txtWatermarkX"
                                                << "abc"
                                                << "WatermarkX"
                                                << "4";
    QTest::addRow("size field fraction") << "txtRotateAngle"
                                         << "2.5"
                                         << "RotateAngle"
                                         << "2.5";
    QTest::addRow("viewer count letters") << "txtMaxViewerCount"
                                          << "50 images"
                                          << "MaxViewerCount"
                                          << "50";
    QTest::addRow("file trimmed") << "txtVignetteEffectFile"
                                  << " /m.jpg "
                                  << "VignetteEffectFile"
                                  << "/m.jpg";
    QTest::addRow("browser list trimmed") << "txtBrowserEndpoints"
                                          << " local, ws://10.0.0.2:9222/b "
                                          << "BrowserEndpoints"
                                          << "local, ws://10.0.0.2:9222/b";
}

void TestSettingsForm::savedNumbersFallBack()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, stored);
    Store store;
    SettingsForm form(store.live, store.hive, store.programFolder());
    FormValues values = form.load();
    values.set(field, text);
    form.save(values);
    QCOMPARE(store.stored(qPrintable(key)).toString(), stored);
}

void TestSettingsForm::savingUnchangedFormKeepsEveryValue()
{
    Store store;
    // Values away from their defaults, the mixed-case ignore list among them.
    const QList<std::pair<const char*, QString>> values = { { "IgnoreFiles", QStringLiteral(".EXE,.Zip") },
        { "WatermarkStyle", QStringLiteral("2") }, { "TintColor", QStringLiteral("255") },
        { "EffectTwirl", QStringLiteral("1") }, { "FilterMelt", QStringLiteral("1") },
        { "WatermarkFontBold", QStringLiteral("False") }, { "ImageAspect", QStringLiteral("1") },
        { "RotateAngle", QStringLiteral("33") }, { "ViewerPageSize", QStringLiteral("250") },
        { "FastDelay", QStringLiteral("0") }, { "DismissCookieBanners", QStringLiteral("0") } };
    for (const auto& [key, value] : values)
        QVERIFY(WriteSetting(store.hive, appKeyPath(), settingsSection(), QLatin1String(key), value));
    store.live = LoadSettings(store.hive, store.programFolder());
    LiveSettings before = store.live;

    SettingsForm form(store.live, store.hive, store.programFolder());
    form.save(form.load());

    before.IgnoreFiles = QStringLiteral(".exe,.zip");
    before.ImagesFolder = store.programFolder() + QStringLiteral("snapshots");
    QCOMPARE(store.live.IgnoreFiles, before.IgnoreFiles);
    QVERIFY(store.live == before);
    QCOMPARE(store.stored("WatermarkFontBold").toString(), QStringLiteral("False"));
}

void TestSettingsForm::cornersMeasureTheStamp()
{
    Store store;
    SettingsForm form(store.live, store.hive, store.programFolder());
    QVERIFY(!form.placeWatermarkImage(Corner::BottomRight)); // no stamp: nothing moves

    const QString stamp = store.dir.filePath(QStringLiteral("stamp.png"));
    QImage image(30, 25, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(stamp));
    form.setWatermarkImage(stamp);
    store.live.WatermarkImageWidth = 7;
    QCOMPARE(form.placeWatermarkImage(Corner::TopLeft), QPoint(1, 1));
    QCOMPARE(store.live.WatermarkImageWidth, 7); // the top left corner measures nothing
    QCOMPARE(form.placeWatermarkImage(Corner::BottomRight), QPoint(90, 65));
    QCOMPARE(QSize(store.live.WatermarkImageWidth, store.live.WatermarkImageHeight), QSize(30, 25));

    // A stamp that cannot be read keeps its last measurements.
    form.setWatermarkImage(store.dir.filePath(QStringLiteral("gone.png")));
    QCOMPARE(form.placeWatermarkImage(Corner::TopRight), QPoint(90, 1));
}

QTEST_GUILESS_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
