#include <QClipboard>
#include <QGuiApplication>
#include <QtTest>

#include "imaging/pictureviewerpro.h"
#include "imaging/widgets/picturedisplay.h"

class TestPictureDisplay final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTheViewersImageAtItsZoom()
    {
        QImage image(120, 90, QImage::Format_RGB32);
        image.fill(qRgb(200, 0, 0));
        Imaging::PictureViewerPro viewer;
        viewer.setImage(image);
        viewer.setZoom(0.5);

        Imaging::PictureDisplay display;
        display.setPicture(viewer.image(), viewer.zoom());
        QCOMPARE(display.sizeHint(), viewer.displayedSize());
        display.resize(100, 80);
        const QImage shown = display.grab().toImage();
        QCOMPARE(shown.pixel(30, 20), qRgb(200, 0, 0));
        // Beyond the image the background is white.
        QCOMPARE(shown.pixel(80, 70), qRgb(255, 255, 255));

        display.clear();
        QVERIFY(display.picture().isNull());
        display.resize(100, 80);
        QCOMPARE(display.grab().toImage().pixel(30, 20), qRgb(255, 255, 255));
    }

    void copiesToTheDesktopClipboard()
    {
        Imaging::PictureViewerPro viewer;
        QImage image(7, 5, QImage::Format_RGB32);
        image.fill(qRgb(1, 2, 3));
        viewer.setImage(image);
        Imaging::DesktopImageClipboard clipboard;
        viewer.copyToClipboard(clipboard);
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), image);
    }
};

QTEST_MAIN(TestPictureDisplay)
#include "tst_picturedisplay.moc"
