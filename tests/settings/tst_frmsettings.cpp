#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "common/desktop.h"
#include "imaging/effects.h"
#include "imaging/filters.h"
#include "imaging/pictureviewerpro.h"
#include "imaging/pixtwix.h"
#include "imaging/widgets/picturedisplay.h"
#include "recordingdesktop.h"
#include "scriptedpickers.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"
#include "settings/widgets/colourswatch.h"
#include "settings/widgets/frmsettings.h"

using namespace Settings;

namespace {

using TestSupport::RecordingDesktop;

// A program folder with the shipped sample images, its settings store, and the window's services.
struct Installation {
    QTemporaryDir dir;
    Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    LiveSettings live;
    TestSupport::ScriptedPickers pickers;
    RecordingDesktop desktop;
    int applied = 0;

    Installation()
    {
        QDir().mkpath(appPath());
        QDir().mkpath(workFolder());
        const QString resources = qEnvironmentVariable("PICTAVO_RESOURCES_DIR");
        for (const char* name : { "ThumbnailSample.jpg", "FrameEffectSlice.jpg", "VignetteEffect.jpg" })
            QFile::copy(resources + QLatin1Char('/') + QLatin1String(name), appPath() + QLatin1String(name));
        reload();
    }
    QString appPath() const { return dir.path() + QStringLiteral("/app/"); }
    QString workFolder() const { return dir.path() + QStringLiteral("/cache"); }
    void reload() { live = LoadSettings(hive, appPath()); }
    void store(const char* key, const QString& value)
    {
        QVERIFY(WriteSetting(hive, appKeyPath(), settingsSection(), QLatin1String(key), value));
    }
    QString stored(const char* key)
    {
        return ReadSetting(hive, appKeyPath(), settingsSection(), QLatin1String(key), QString()).toString();
    }
    std::unique_ptr<frmSettings> open()
    {
        return std::make_unique<frmSettings>(
            frmSettings::Services { hive, live, pickers, desktop, appPath(), workFolder(), [this] { ++applied; } });
    }
};

template <typename T> T* control(QWidget& window, const QString& name)
{
    auto* found = window.findChild<T*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

QLineEdit* field(QWidget& w, const char* name) { return control<QLineEdit>(w, QLatin1String(name)); }
QImage sample(QWidget& w, const char* name)
{
    return control<Imaging::PictureDisplay>(w, QLatin1String(name))->picture();
}
void click(QWidget& w, const char* name) { control<QPushButton>(w, QLatin1String(name))->click(); }

// What a value looks like after one more edit: every kind of control gets something new.
QVariant changed(const QString& name, const QVariant& value, int seed)
{
    if (name.startsWith(QLatin1String("chk")))
        return value.toInt() == 0 ? 1 : 0;
    if (name.startsWith(QLatin1String("pic")))
        return 0x102030 + seed;
    if (name.startsWith(QLatin1String("cbo")))
        return (value.toInt() + 2) % 5;
    if (name.endsWith(QLatin1String("Slider")))
        return 37 + seed % 50;
    if (name == QLatin1String("txtIgnoreFiles"))
        return QStringLiteral(".exe,.pdf");
    if (name.endsWith(QLatin1String("Folder")) || name.endsWith(QLatin1String("File"))
        || name == QLatin1String("txtWatermarkImage") || name == QLatin1String("txtWatermarkText"))
        return QStringLiteral("/srv/pictavo/%1").arg(seed);
    return QString::number(value.toString().toInt() + 3 + seed % 7);
}

void setControl(QWidget& window, const QString& name, const QVariant& value)
{
    QWidget* c = control<QWidget>(window, name);
    if (auto* edit = qobject_cast<QLineEdit*>(c)) {
        edit->selectAll();
        QTest::keyClicks(edit, value.toString());
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(c)) {
        text->setPlainText(value.toString());
    } else if (auto* box = qobject_cast<QCheckBox*>(c)) {
        box->setChecked(value.toInt() != 0);
    } else if (auto* slider = qobject_cast<QSlider*>(c)) {
        slider->setValue(value.toInt());
    } else if (auto* list = qobject_cast<QComboBox*>(c)) {
        list->setCurrentIndex(value.toInt());
    } else if (auto* swatch = qobject_cast<ColourSwatch*>(c)) {
        swatch->setColour(value.toInt());
    }
}

// The picture a sample must show, made by the imaging code itself.
QImage throughJpeg(Imaging::PixTwix& pixTwix, const QString& path)
{
    if (!pixTwix.save({}, path, 12))
        return {};
    Imaging::PictureViewerPro viewer;
    (void)viewer.load(path, Imaging::FileOrigin::Own);
    return viewer.image();
}

} // namespace

class TestFrmSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openingAppliesTheFieldRules();
    void everyControlRoundTrips();
    void cancelKeepsTheStoreButNotTheLiveText();
    void samplesAreTheImagingCodesPictures();
    void samplesWaitForTheirTab();
    void pickersFeedTheOptions();
    void cornersPlaceTheStamp();
    void unwritableProgramFolderStillShowsSamples();
    void screenshots();
};

void TestFrmSettings::openingAppliesTheFieldRules()
{
    Installation setup;
    setup.store("WatermarkX", QStringLiteral("0"));
    setup.store("ThreadsCount", QStringLiteral("500"));
    setup.store("JpegQuality", QStringLiteral("-3"));
    setup.store("WatermarkStyle", QStringLiteral("9"));
    setup.store("ImageType", QStringLiteral("7"));
    setup.store("ImagesFolder", QString());
    setup.reload();
    auto window = setup.open();

    QCOMPARE(field(*window, "txtWatermarkX")->text(), QStringLiteral("1"));
    QCOMPARE(setup.live.WatermarkX, 1); // in force at once
    QCOMPARE(setup.stored("WatermarkX"), QStringLiteral("0")); // stored only by Apply
    QCOMPARE(setup.live.ImagesFolder, setup.appPath() + QStringLiteral("snapshots"));
    // Beyond their ranges the sliders show what Apply will store.
    QCOMPARE(control<QLabel>(*window, QStringLiteral("lblThreadsCount"))->text(), QStringLiteral("100"));
    QCOMPARE(control<QLabel>(*window, QStringLiteral("lblJpegQuality"))->text(), QStringLiteral("0%"));
    QCOMPARE(control<QComboBox>(*window, QStringLiteral("cboDrawStyle"))->currentIndex(), -1);
    QCOMPARE(setup.live.WatermarkStyle, 9);
    QCOMPARE(control<QTabWidget>(*window, QStringLiteral("SSTab1"))->currentIndex(), 0);

    click(*window, "cmpApply");
    QCOMPARE(setup.applied, 1);
    QCOMPARE(setup.stored("ThreadsCount"), QStringLiteral("100"));
    QCOMPARE(setup.stored("JpegQuality"), QStringLiteral("0"));
    // Choices the lists do not offer are kept, not turned into "nothing selected".
    QCOMPARE(setup.stored("WatermarkStyle"), QStringLiteral("9"));
    QCOMPARE(setup.stored("ImageType"), QStringLiteral("7"));
    QCOMPARE(setup.stored("WatermarkX"), QStringLiteral("1"));
}

void TestFrmSettings::everyControlRoundTrips()
{
    Installation setup;
    auto window = setup.open();
    const FormValues before = window->controlValues();
    QVERIFY(before.names().size() > 90);
    int seed = 0;
    QHash<QString, QVariant> set;
    for (const QString& name : before.names()) {
        set.insert(name, changed(name, before.value(name), ++seed));
        setControl(*window, name, set.value(name));
    }
    click(*window, "cmdOK");
    QVERIFY(!window->isVisible());
    QCOMPARE(setup.applied, 1);

    setup.live = LiveSettings();
    setup.reload();
    auto again = setup.open();
    const FormValues after = again->controlValues();
    for (const QString& name : before.names())
        QVERIFY2(after.value(name).toString() == set.value(name).toString(),
            qPrintable(QStringLiteral("%1: set %2, shown %3")
                           .arg(name, set.value(name).toString(), after.value(name).toString())));
}

void TestFrmSettings::cancelKeepsTheStoreButNotTheLiveText()
{
    Installation setup;
    auto window = setup.open();
    setControl(*window, QStringLiteral("txtWatermarkText"), QStringLiteral("  New text "));
    setControl(*window, QStringLiteral("txtTimeout"), QStringLiteral("5000"));
    click(*window, "cmdCancel");
    QVERIFY(!window->isVisible());
    QCOMPARE(setup.applied, 0);
    QCOMPARE(setup.stored("WatermarkText"), QString());
    QCOMPARE(setup.live.WatermarkText, QStringLiteral("New text"));
    QCOMPARE(setup.live.Timeout, 40000); // no rule of its own: only Apply takes it

    // Escape is Cancel, even from a field (Enter there would be OK).
    auto again = setup.open();
    again->show();
    QVERIFY(QTest::qWaitForWindowExposed(again.get()));
    QTest::keyClick(field(*again, "txtTimeout"), Qt::Key_Escape);
    QVERIFY(!again->isVisible());
    QCOMPARE(setup.applied, 0);
}

void TestFrmSettings::samplesAreTheImagingCodesPictures()
{
    Installation setup;
    auto window = setup.open();
    const QString samplePath = setup.appPath() + QStringLiteral("ThumbnailSample.jpg");
    auto* tabs = control<QTabWidget>(*window, QStringLiteral("SSTab1"));

    // Effects: rotate and a solid frame, stacked in the sample's order (the frame last).
    tabs->setCurrentIndex(3);
    setControl(*window, QStringLiteral("txtRotateAngle"), QStringLiteral("12.5"));
    control<QCheckBox>(*window, QStringLiteral("chkFrameSolid"))->setChecked(true);
    control<QCheckBox>(*window, QStringLiteral("chkRotate"))->setChecked(true);
    Imaging::PixTwix effects;
    QVERIFY(effects.load({}, samplePath));
    QVERIFY(effects.resize(120, 90, 4));
    Imaging::EffectParameters parameters = Imaging::effectParametersFrom(setup.live);
    parameters.RotateAngle = 12.5;
    Imaging::ProcessEffect(effects, 10, parameters);
    Imaging::ProcessEffect(effects, 3, parameters);
    const QImage expectedEffects = throughJpeg(effects, setup.dir.filePath(QStringLiteral("effects.jpg")));
    QVERIFY(!expectedEffects.isNull());
    QCOMPARE(sample(*window, "EffectsSample"), expectedEffects);

    // Filters: at the sample's own size, then shown at the thumbnail size.
    tabs->setCurrentIndex(4);
    control<QCheckBox>(*window, QStringLiteral("chkFilterNegative"))->setChecked(true);
    Imaging::PixTwix filters;
    QVERIFY(filters.load({}, samplePath));
    Imaging::FilterFlags flags;
    flags.FilterNegative = 1;
    QVERIFY(Imaging::ProcessFilters(filters, flags));
    Imaging::PictureViewerPro shown;
    shown.setImage(throughJpeg(filters, setup.dir.filePath(QStringLiteral("filters.jpg"))));
    QVERIFY(shown.resize(120, 90));
    QCOMPARE(sample(*window, "FilterSample"), shown.image());

    // Thumbnail: resized, then grey.
    tabs->setCurrentIndex(1);
    control<QCheckBox>(*window, QStringLiteral("chkImageGray"))->setChecked(true);
    Imaging::PictureViewerPro thumbnail;
    QVERIFY(thumbnail.load(samplePath, Imaging::FileOrigin::Own));
    QVERIFY(thumbnail.resize(120, 90));
    QVERIFY(thumbnail.convertToGray());
    QCOMPARE(sample(*window, "ThumbnailSample"), thumbnail.image());
}

void TestFrmSettings::samplesWaitForTheirTab()
{
    Installation setup;
    auto window = setup.open();
    for (const char* name : { "ThumbnailSample", "WatermarkSample", "EffectsSample", "FilterSample" })
        QVERIFY2(sample(*window, name).isNull(), name); // nothing is drawn while the window fills

    control<QTabWidget>(*window, QStringLiteral("SSTab1"))->setCurrentIndex(1);
    QCOMPARE(sample(*window, "ThumbnailSample").size(), QSize(120, 90));
    setControl(*window, QStringLiteral("txtImageWidth"), QStringLiteral("64"));
    QCOMPARE(sample(*window, "ThumbnailSample").size(), QSize(64, 90));
    // A size that cannot be drawn empties the sample; the window goes on.
    setControl(*window, QStringLiteral("txtImageWidth"), QStringLiteral("0"));
    QVERIFY(sample(*window, "ThumbnailSample").isNull());

    // A style the list does not offer draws the picture without text.
    control<QTabWidget>(*window, QStringLiteral("SSTab1"))->setCurrentIndex(2);
    setControl(*window, QStringLiteral("txtImageWidth"), QStringLiteral("120"));
    setup.live.WatermarkStyle = 7;
    window->ShowWatermarkSample();
    QCOMPARE(sample(*window, "WatermarkSample"), sample(*window, "ThumbnailSample"));
}

void TestFrmSettings::pickersFeedTheOptions()
{
    Installation setup;
    auto window = setup.open();

    // A swatch: cancelled, then chosen; the colour reaches the store through Apply only.
    auto* tint = control<ColourSwatch>(*window, QStringLiteral("picTintColor"));
    const qint32 before = tint->colour();
    Q_EMIT tint->clicked();
    QCOMPARE(tint->colour(), before);
    setup.pickers.colour = 0x0000ff;
    Q_EMIT tint->clicked();
    QCOMPARE(setup.pickers.asked.last().detail, QString::number(before));
    QCOMPARE(setup.live.TintColor, before);

    setup.pickers.font = Common::Pickers::Font { QStringLiteral("DejaVu Sans"), 10.5, false, true };
    click(*window, "cmdWatermarkFont");
    QCOMPARE(setup.live.WatermarkFontname, QStringLiteral("DejaVu Sans"));
    QCOMPARE(setup.live.WatermarkFontSize, 10); // halves to even
    QCOMPARE(setup.live.WatermarkFontBold, false);
    QCOMPARE(setup.live.WatermarkFontItalic, true);

    setup.pickers.file = setup.appPath() + QStringLiteral("VignetteEffect.jpg");
    click(*window, "cmdVignette");
    QCOMPARE(setup.pickers.asked.last().title, QStringLiteral("Open Image File"));
    QCOMPARE(setup.pickers.asked.last().detail, pictureFileFilter());
    QVERIFY(control<QCheckBox>(*window, QStringLiteral("chkVignette"))->isChecked());
    QCOMPARE(field(*window, "txtVignetteEffectFile")->text(), setup.pickers.file);
    click(*window, "cmdFrame");
    QVERIFY(!control<QCheckBox>(*window, QStringLiteral("chkFrame"))->isChecked());

    setup.pickers.folder = QStringLiteral("/srv/thumbs");
    field(*window, "txtImagesFolder")->clear();
    click(*window, "cmdBrowse");
    QCOMPARE(setup.pickers.asked.last().title, QStringLiteral("Select folder"));
    QCOMPARE(setup.pickers.asked.last().detail, setup.appPath());
    QCOMPARE(field(*window, "txtImagesFolder")->text(), QStringLiteral("/srv/thumbs/"));
    click(*window, "cmdOpen");
    QCOMPARE(setup.desktop.opened.size(), 1);

    click(*window, "cmpApply");
    QCOMPARE(setup.stored("TintColor"), QStringLiteral("255"));
    QCOMPARE(setup.stored("WatermarkFontSize"), QStringLiteral("10"));
    QCOMPARE(setup.stored("EffectVignette"), QStringLiteral("1"));
    QCOMPARE(setup.stored("ImagesFolder"), QStringLiteral("/srv/thumbs/"));
}

void TestFrmSettings::cornersPlaceTheStamp()
{
    Installation setup;
    auto window = setup.open();
    control<QTabWidget>(*window, QStringLiteral("SSTab1"))->setCurrentIndex(2);
    click(*window, "cmdWatermarkBR");
    QCOMPARE(field(*window, "txtWatermarkImageLeft")->text(), QStringLiteral("1")); // no stamp: nothing moves

    const auto stamp = [&](int width, int height) {
        const QString path = setup.dir.filePath(QStringLiteral("stamp%1.png").arg(width));
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::blue);
        image.save(path);
        setup.pickers.file = path;
        click(*window, "cmdBrowseWatermarkImage");
    };
    stamp(30, 25);
    QCOMPARE(setup.live.WatermarkImageWidth, 30); // measured by the sample
    click(*window, "cmdWatermarkBR");
    QCOMPARE(field(*window, "txtWatermarkImageLeft")->text(), QStringLiteral("90"));
    QCOMPARE(field(*window, "txtWatermarkImageTop")->text(), QStringLiteral("65"));
    QCOMPARE(setup.live.WatermarkImageLeft, 90);
    // The stamp sits at (90, 65) in its own colours.
    QCOMPARE(sample(*window, "WatermarkSample").pixelColor(100, 75), QColor(Qt::blue));

    stamp(200, 25);
    click(*window, "cmdWatermarkTR");
    QCOMPARE(field(*window, "txtWatermarkImageLeft")->text(), QStringLiteral("1"));
    QCOMPARE(field(*window, "txtWatermarkImageTop")->text(), QStringLiteral("1"));

    click(*window, "cmdWatermarkRemove");
    QCOMPARE(setup.live.WatermarkImage, QString());
    QCOMPARE(field(*window, "txtWatermarkImage")->text(), QString());
}

void TestFrmSettings::unwritableProgramFolderStillShowsSamples()
{
    Installation setup;
    // A sample file the program folder cannot take (tests run as root, so no permission would stop it).
    QVERIFY(QDir().mkpath(setup.appPath() + QStringLiteral("EffectsSample.jpg")));
    auto window = setup.open();
    control<QTabWidget>(*window, QStringLiteral("SSTab1"))->setCurrentIndex(3);
    QCOMPARE(sample(*window, "EffectsSample").size(), QSize(120, 90));
    QVERIFY(QFileInfo(setup.workFolder() + QStringLiteral("/EffectsSample.jpg")).isFile());
}

// Pictures of every tab for the documentation: PICTAVO_SCREENSHOTS=<folder> writes them.
void TestFrmSettings::screenshots()
{
    const QString folder = qEnvironmentVariable("PICTAVO_SCREENSHOTS");
    if (folder.isEmpty())
        QSKIP("PICTAVO_SCREENSHOTS is not set");
    Installation setup;
    auto window = setup.open();
    window->show();
    auto* tabs = control<QTabWidget>(*window, QStringLiteral("SSTab1"));
    control<QCheckBox>(*window, QStringLiteral("chkShadowCanvas"))->setChecked(true);
    control<QCheckBox>(*window, QStringLiteral("chkFilterSharpen"))->setChecked(true);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QVERIFY(window->grab().save(
            QStringLiteral("%1/settings-%2.png").arg(folder, tabs->tabText(i).toLower().replace(u' ', u'-'))));
    }
}

QTEST_MAIN(TestFrmSettings)
#include "tst_frmsettings.moc"
