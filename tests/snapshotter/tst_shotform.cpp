#include <QDir>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "imaging/imagefile.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"
#include "snapshotter/shotform.h"

using namespace Snapshotter;

namespace {

// A program folder with a captured page (200 x 100, red) and its settings store; no browser.
struct Installation {
    QTemporaryDir dir;
    Settings::Hive hive { dir.filePath(QStringLiteral("registry.db")) };
    Settings::LiveSettings live;
    TestSupport::ScriptedMessageBox boxes;
    std::unique_ptr<ShotForm> form;

    Installation()
    {
        const QString app = dir.path() + QStringLiteral("/app/");
        QDir().mkpath(app);
        QVERIFY(Settings::WriteSetting(hive, Settings::appKeyPath(), Settings::settingsSection(),
            QStringLiteral("SnapshotterWidth"), QStringLiteral("300")));
        live = Settings::LoadSettings(hive, app);
        QImage page(200, 100, QImage::Format_RGB32);
        page.fill(Qt::red);
        QVERIFY(Imaging::saveImage(page, app + QStringLiteral("snapshot.jpg"), Imaging::ImageFormat::Jpeg));
        form = std::make_unique<ShotForm>(ShotForm::Services { hive, live, boxes, nullptr, app });
        form->backToOriginal();
    }
    QString stored(const char* key)
    {
        return Settings::ReadSetting(hive, Settings::appKeyPath(), Settings::settingsSection(), QLatin1String(key), {})
            .toString();
    }
};

} // namespace

class TestShotForm final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resizeStoresTheSize_data();
    void resizeStoresTheSize();
    void savesInTheChosenFormat_data();
    void savesInTheChosenFormat();
    void failedSaveIsReported();
};

void TestShotForm::resizeStoresTheSize_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QSize>("stored"); // stored before: 300 x 90
    QTest::newRow("numbers, blanks around") << " 64 "
                                            << "48" << QSize(64, 48);
    QTest::newRow("abc keeps the stored width") << "abc"
                                                << "48" << QSize(300, 48);
    QTest::newRow("0 takes the fallback") << "0"
                                          << "-1" << QSize(120, 90);
    QTest::newRow("number then letters") << "64px"
                                         << "" << QSize(300, 90);
    QTest::newRow("halves to even") << "64.5"
                                    << "47.5" << QSize(64, 48);
}

void TestShotForm::resizeStoresTheSize()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(QSize, stored);
    Installation setup;
    QSignalSpy boxes(setup.form.get(), &ShotForm::sizeBoxesChanged);
    setup.form->resize(width, height);
    QCOMPARE(setup.stored("SnapshotterWidth"), QString::number(stored.width()));
    QCOMPARE(setup.stored("SnapshotterHeight"), QString::number(stored.height()));
    // The picture never gets an empty size; the boxes show what it got.
    QCOMPARE(setup.form->viewer().image().size(), stored);
    QCOMPARE(boxes.last(), (QList<QVariant> { QString::number(stored.width()), QString::number(stored.height()) }));
}

void TestShotForm::savesInTheChosenFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    for (const char* name : { "picture.jpeg", "picture.jpe", "picture.jpg", "picture", "shots.png/picture" })
        QTest::newRow(name) << QString::fromLatin1(name) << QByteArray("jpeg");
    QTest::newRow("gif") << "picture.gif" << QByteArray("gif");
    QTest::newRow("PNG") << "picture.PNG" << QByteArray("png");
    QTest::newRow("tif") << "picture.tif" << QByteArray("tiff");
    QTest::newRow("tiff") << "picture.TIFF" << QByteArray("tiff");
    QTest::newRow("dib") << "picture.dib" << QByteArray("bmp");
    QTest::newRow("three letters of a longer ending") << "picture.xbmp" << QByteArray("bmp");
}

void TestShotForm::savesInTheChosenFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    Installation setup;
    setup.form->convertToGray();
    setup.form->setZoom(50);
    const QString path = setup.dir.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QSignalSpy status(setup.form.get(), &ShotForm::statusChanged);
    QVERIFY(setup.form->saveAs(path));
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Save file done"));
    QImageReader reader(path); // under the name as chosen
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), format);
    // Saved as shown: zoom and conversion applied; the picture itself keeps its pixels.
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), QSize(100, 50));
    QVERIFY(qAbs(qRed(saved.pixel(5, 5)) - qBlue(saved.pixel(5, 5))) < 8);
    QCOMPARE(setup.form->viewer().image().size(), QSize(200, 100));
}

void TestShotForm::failedSaveIsReported()
{
    Installation setup;
    const QString path = setup.dir.filePath(QStringLiteral("missing/picture.png"));
    setup.boxes.queue(Common::MessageBox::Answer::Retry);
    QSignalSpy status(setup.form.get(), &ShotForm::statusChanged);
    QVERIFY(!setup.form->saveAs(path));
    QCOMPARE(setup.boxes.shown().size(), 2); // Retry tried again, then the default Cancel gave up
    QVERIFY(setup.boxes.shown().first().text.startsWith(QStringLiteral("Error: ")));
    QCOMPARE(setup.boxes.shown().first().buttons, Common::MessageBox::Buttons::RetryCancel);
    QVERIFY(status.last().at(0).toString().startsWith(QStringLiteral("Error: ")));
    // The window stays usable: the same name saves once its folder exists.
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(setup.form->saveAs(path));
}

QTEST_GUILESS_MAIN(TestShotForm)
#include "tst_shotform.moc"
