#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include "common/thumbnailmodel.h"
#include "imaging/widgets/picturedisplay.h"
#include "scriptedmessagebox.h"
#include "settings/livesettings.h"
#include "viewer/thumbnailbrowser.h"
#include "viewer/widgets/frmviewer.h"

using namespace Viewer;

namespace {

void writeImages(const QString& folder, int count)
{
    for (int i = 1; i <= count; ++i) {
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 30 % 360, 255, 255));
        if (!image.save(folder + QStringLiteral("/%1.png").arg(i, 3, 10, QLatin1Char('0'))))
            qFatal("cannot write a test image");
    }
}

struct RecordingClipboard final : Imaging::ImageClipboard {
    void setImage(const QImage& image) override { copied = image; }
    QImage copied;
};

// A viewer over a folder of its own, with scripted message boxes and a recording clipboard.
struct Fixture {
    explicit Fixture(int files, qint32 pageSize = 500)
    {
        writeImages(dir.path(), files);
        settings.ViewerFolder = dir.path() + QLatin1Char('/');
        settings.ViewerPageSize = pageSize;
    }
    std::unique_ptr<frmViewer> open()
    {
        auto window = std::make_unique<frmViewer>(ViewerServices { settings, boxes, &clipboard, dir.path() });
        shown = std::make_unique<QSignalSpy>(&window->browser(), &ThumbnailBrowser::pageShown);
        return window;
    }
    bool waitForPage()
    {
        if (shown->isEmpty() && !shown->wait(10000))
            return false;
        shown->clear();
        return true;
    }

    QTemporaryDir dir;
    Settings::LiveSettings settings;
    TestSupport::ScriptedMessageBox boxes;
    RecordingClipboard clipboard;
    std::unique_ptr<QSignalSpy> shown;
};

template <typename T> T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

QString enabledPageButtons(QWidget& window)
{
    QString states;
    for (const char* key : { "FirstPage", "PrevPage", "NextPage", "LastPage" })
        states += child<QAction>(window, key)->isEnabled() ? QLatin1Char(key[0]) : QLatin1Char('-');
    return states;
}

} // namespace

class tst_FrmViewer final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheFolderOnlyOnceShown();
    void clickingPreviewsAndCopyCopiesIt();
    void deleteRemovesTheSelectedFiles();
    void aMissingFolderLeavesTheWindowUsable();
};

void tst_FrmViewer::readsTheFolderOnlyOnceShown()
{
    Fixture fixture(3);
    auto window = fixture.open();
    QCOMPARE(window->windowTitle(), QStringLiteral("Viewer"));
    QCOMPARE(child<QAction>(*window, "DeleteAll")->toolTip(), QStringLiteral("Delete all thumbnails files"));
    QVERIFY(child<QLabel>(*window, "lblStatusBar1")->text().isEmpty());
    QVERIFY(!child<QTimer>(*window, "Timer1")->isActive());

    QStringList texts;
    connect(&window->browser(), &ThumbnailBrowser::statusTextChanged, this,
        [&texts](const QString& text) { texts << text; });
    window->show();
    QVERIFY(fixture.waitForPage());
    QCOMPARE(child<QLabel>(*window, "lblStatusBar1")->text(), QStringLiteral("3 files"));
    // Listed once, though the tree was pointed at the folder as well.
    QCOMPARE(texts.count(QStringLiteral("Loading files...")), 1);
    QCOMPARE(child<QLabel>(*window, "lblStatusBar2")->text(), QStringLiteral("Page 1 of 1"));
    QCOMPARE(child<QProgressBar>(*window, "progProgressBar")->value(), 0);
    QCOMPARE(child<QListView>(*window, "Shots")->model()->rowCount(), 3);
    // The tree shows the folder, and the chooser the place that holds it.
    auto* tree = child<QTreeView>(*window, "dirSource");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    QVERIFY(model);
    QCOMPARE(QDir(model->filePath(tree->currentIndex())), QDir(fixture.dir.path()));
    QCOMPARE(child<QComboBox>(*window, "DrvSource")->currentData().toString(), QDir(fixture.dir.path()).absolutePath());
}

void tst_FrmViewer::clickingPreviewsAndCopyCopiesIt()
{
    Fixture fixture(3);
    auto window = fixture.open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(fixture.waitForPage());
    auto* preview = child<Imaging::PictureDisplay>(*window, "Preview");
    const QRgb first = QImage(fixture.dir.filePath(QStringLiteral("001.png"))).pixel(0, 0);
    QTRY_VERIFY(!preview->picture().isNull() && preview->picture().pixel(0, 0) == first);

    auto* shots = child<QListView>(*window, "Shots");
    const QModelIndex third = shots->model()->index(2, 0);
    QTest::mouseClick(shots->viewport(), Qt::LeftButton, {}, shots->visualRect(third).center());
    const QRgb expected = QImage(fixture.dir.filePath(QStringLiteral("003.png"))).pixel(0, 0);
    QTRY_VERIFY(!preview->picture().isNull() && preview->picture().pixel(0, 0) == expected);
    child<QAction>(*window, "Copy")->trigger();
    QCOMPARE(fixture.clipboard.copied.pixel(0, 0), expected);
}

void tst_FrmViewer::deleteRemovesTheSelectedFiles()
{
    Fixture fixture(4);
    auto window = fixture.open();
    window->show();
    QVERIFY(fixture.waitForPage());
    auto* shots = child<QListView>(*window, "Shots");
    shots->selectionModel()->select(shots->model()->index(1, 0), QItemSelectionModel::Select);
    shots->selectionModel()->select(shots->model()->index(3, 0), QItemSelectionModel::Select);
    child<QAction>(*window, "Delete")->trigger();
    QVERIFY(fixture.waitForPage());
    QCOMPARE(QDir(fixture.dir.path()).entryList(QDir::Files, QDir::Name),
        (QStringList { QStringLiteral("001.png"), QStringLiteral("003.png") }));
    QCOMPARE(child<QLabel>(*window, "lblStatusBar1")->text(), QStringLiteral("2 files"));
    QVERIFY(fixture.boxes.shown().isEmpty());
}

void tst_FrmViewer::aMissingFolderLeavesTheWindowUsable()
{
    Fixture fixture(2);
    const QString missing = fixture.dir.filePath(QStringLiteral("removed"));
    fixture.settings.ViewerFolder = missing;
    auto window = fixture.open();
    window->show();
    QVERIFY(fixture.waitForPage());
    QCOMPARE(fixture.boxes.shown().size(), 1);
    QVERIFY(fixture.boxes.shown().first().text.contains(missing));
    QCOMPARE(child<QLabel>(*window, "lblStatusBar1")->text(), QStringLiteral("No images files found"));
    QCOMPARE(enabledPageButtons(*window), QStringLiteral("----"));

    // The user picks another folder in the tree.
    auto* tree = child<QTreeView>(*window, "dirSource");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    tree->setCurrentIndex(model->index(fixture.dir.path()));
    QVERIFY(fixture.waitForPage());
    QCOMPARE(child<QLabel>(*window, "lblStatusBar1")->text(), QStringLiteral("2 files"));
    QCOMPARE(enabledPageButtons(*window), QStringLiteral("FPNL"));

    // A place that cannot be opened is not taken, and nothing is said about it.
    auto* places = child<QComboBox>(*window, "DrvSource");
    places->addItem(QStringLiteral("gone"), missing);
    places->setCurrentIndex(places->count() - 1);
    Q_EMIT places->activated(places->count() - 1);
    QCOMPARE(places->currentData().toString(), QDir(fixture.dir.path()).absolutePath());
    QCOMPARE(fixture.boxes.shown().size(), 1);
    QCOMPARE(window->browser().CurrentFolder(), fixture.dir.path() + QLatin1Char('/'));
}

QTEST_MAIN(tst_FrmViewer)
#include "tst_frmviewer.moc"
