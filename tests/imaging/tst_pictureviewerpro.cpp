#include <QDataStream>
#include <QFontInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "imaging/imagefile.h"
#include "imaging/pictureviewerpro.h"

using namespace Imaging;

namespace {

QImage texturedImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 7 + y * 53) % 256, (x + 3 * y) % 256));
    }
    return image;
}

QImage flatImage(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool containsNear(const QImage& image, QRgb colour, int tolerance)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance && std::abs(qGreen(p) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                return true;
        }
    }
    return false;
}

QRect changedArea(const QImage& before, const QImage& after)
{
    QRect area;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y))
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

// Reads back the 24-bit bottom-up DIB that a metafile record carries.
QImage imageFromDib(const QByteArray& dib)
{
    QDataStream in(dib);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 headerSize = 0;
    qint32 width = 0;
    qint32 height = 0;
    quint16 planes = 0;
    quint16 bits = 0;
    in >> headerSize >> width >> height >> planes >> bits;
    if (headerSize != 40 || bits != 24 || width <= 0 || height <= 0)
        return {};
    const int stride = (width * 3 + 3) & ~3;
    if (dib.size() < 40 + stride * height)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uchar*>(dib.constData()) + 40 + (height - 1 - y) * stride;
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    return image;
}

class RecordingClipboard final : public ImageClipboard {
public:
    void setImage(const QImage& image) override { images.append(image); }
    QList<QImage> images;
};

} // namespace

class TestPictureViewerPro final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void greyAndBlackWhite()
    {
        PictureViewerPro viewer;
        const QImage original = texturedImage(17, 11);
        viewer.setImage(original);
        QVERIFY(viewer.convertToGray().ok());
        for (int y = 0; y < 11; ++y) {
            for (int x = 0; x < 17; ++x) {
                const int grey = qGray(original.pixel(x, y));
                QCOMPARE(viewer.image().pixel(x, y), qRgb(grey, grey, grey));
            }
        }
        viewer.setImage(original);
        QVERIFY(viewer.convertToBlackWhite().ok());
        bool black = false;
        bool white = false;
        for (int y = 0; y < 11; ++y) {
            for (int x = 0; x < 17; ++x) {
                const QRgb p = viewer.image().pixel(x, y);
                QVERIFY(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
                QCOMPARE(p == qRgb(255, 255, 255), qGray(original.pixel(x, y)) >= 128);
                black = black || p == qRgb(0, 0, 0);
                white = white || p == qRgb(255, 255, 255);
            }
        }
        QVERIFY(black && white);

        PictureViewerPro empty;
        QVERIFY(!empty.convertToGray().ok());
        QVERIFY(!empty.convertToBlackWhite().ok());
    }

    void stampScalesIntoTheRectangleAndRespectsAlpha()
    {
        // Left half transparent, right half opaque blue.
        QImage stamp(10, 10, QImage::Format_ARGB32);
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x)
                stamp.setPixel(x, y, x < 5 ? qRgba(0, 0, 0, 0) : qRgba(0, 0, 255, 255));
        }
        const QString path = m_dir.filePath(QStringLiteral("stamp.png"));
        QVERIFY(saveImage(stamp, path, ImageFormat::Png).ok());

        const QRgb background = qRgb(0, 200, 0);
        PictureViewerPro viewer;
        viewer.setImage(flatImage(60, 40, background));
        QVERIFY(viewer.stampImage(path, 10, 5, 40, 20).ok());
        const QImage& result = viewer.image();
        QCOMPARE(result.pixel(15, 15), background);
        QCOMPARE(result.pixel(45, 15), qRgb(0, 0, 255));
        QCOMPARE(result.pixel(5, 15), background);
        QCOMPARE(result.pixel(45, 30), background);
        // Smooth scaling softens the stamp's own transparent edge by a pixel or two, never more.
        const QRect area = changedArea(flatImage(60, 40, background), result);
        QVERIFY(area.left() >= 27 && area.left() <= 30);
        QCOMPARE(area.right(), 49);
        QCOMPARE(area.top(), 5);
        QCOMPARE(area.bottom(), 24);

        const QImage before = viewer.image();
        QVERIFY(!viewer.stampImage(m_dir.filePath(QStringLiteral("none.png")), 0, 0, 10, 10).ok());
        QVERIFY(!viewer.stampImage(path, 0, 0, 0, 10).ok());
        QCOMPARE(viewer.image(), before);
    }

    void arialResolvesToLiberationSans()
    {
        PictureViewerPro viewer;
        QCOMPARE(viewer.fontName(), QStringLiteral("Arial"));
        QCOMPARE(QFontInfo(viewer.font()).family(), QStringLiteral("Liberation Sans"));
        viewer.setFontSize(9);
        QCOMPARE(viewer.font().pixelSize(), 12);
    }

    void textStylesEachLookTheirOwn()
    {
        const QRgb grey = qRgb(128, 128, 128);
        const QRgb red = qRgb(255, 0, 0);
        const QRgb yellow = qRgb(255, 255, 0);
        const QStringList names { QStringLiteral("Normal"), QStringLiteral("Outline"), QStringLiteral("Fill Outline"),
            QStringLiteral("Shadow Text"), QStringLiteral("Water Mark") };
        QList<QImage> results;
        for (int style = 0; style < 5; ++style) {
            PictureViewerPro viewer;
            viewer.setImage(flatImage(200, 60, grey));
            viewer.setFontSize(20);
            viewer.setFontBold(true);
            viewer.setTextColor(255);
            const QString text = QStringLiteral("Corvane");
            Common::Status drawn = Common::success();
            switch (style) {
            case 0:
                drawn = viewer.drawText(10, 10, text);
                break;
            case 1:
                drawn = viewer.drawOutlineText(10, 10, text);
                break;
            case 2:
                drawn = viewer.drawFillOutlineText(10, 10, text, 65535);
                break;
            case 3:
                drawn = viewer.drawShadowText(10, 10, text, 65535);
                break;
            case 4:
                drawn = viewer.drawWatermarkText(10, 10, text);
                break;
            }
            QVERIFY2(drawn.ok(), qPrintable(names[style]));
            const QRect area = changedArea(flatImage(200, 60, grey), viewer.image());
            // The text starts at the given top left (with the shadow a little beyond).
            QVERIFY2(area.left() >= 10 && area.left() <= 14 && area.top() >= 10 && area.top() <= 20,
                qPrintable(names[style]));
            QVERIFY2(area.width() > 60, qPrintable(names[style]));
            results.append(viewer.image());
        }
        QVERIFY(containsNear(results[0], red, 10));
        QVERIFY(!containsNear(results[0], yellow, 60));
        QVERIFY(containsNear(results[1], red, 40));
        QVERIFY(!containsNear(results[1], yellow, 60));
        QVERIFY(containsNear(results[2], yellow, 10));
        QVERIFY(containsNear(results[3], yellow, 10));
        QVERIFY(containsNear(results[3], red, 10));
        // The watermark is translucent: never full red.
        QVERIFY(!containsNear(results[4], red, 60));
        for (int a = 0; a < 5; ++a) {
            for (int b = a + 1; b < 5; ++b)
                QVERIFY2(results[a] != results[b], qPrintable(names[a] + QStringLiteral(" vs ") + names[b]));
        }
    }

    void textArgumentsAreChecked()
    {
        PictureViewerPro viewer;
        QVERIFY(!viewer.drawText(1, 1, QStringLiteral("x")).ok());
        viewer.setImage(flatImage(20, 20, qRgb(0, 0, 0)));
        QVERIFY(!viewer.drawText(40000, 1, QStringLiteral("x")).ok());
        QVERIFY(viewer.drawOutlineText(40000, 1, QStringLiteral("x")).ok());
        QVERIFY(!viewer.drawFillOutlineText(1, 1, QStringLiteral("x"), 16777216).ok());
        viewer.setTextColor(-1);
        QVERIFY(!viewer.drawWatermarkText(1, 1, QStringLiteral("x")).ok());
        viewer.setTextColor(255);
        viewer.setFontSize(0);
        QVERIFY(!viewer.drawText(1, 1, QStringLiteral("x")).ok());
        QCOMPARE(viewer.image(), flatImage(20, 20, qRgb(0, 0, 0)));
    }

    void savesEveryFormat_data()
    {
        QTest::addColumn<ViewerFormat>("format");
        QTest::addColumn<QByteArray>("magic");
        QTest::addColumn<int>("magicOffset");
        QTest::addColumn<bool>("readBack");
        QTest::addColumn<Durability>("durability");
        QTest::newRow("bmp") << ViewerFormat::Bmp << QByteArray("BM") << 0 << true << Durability::Synced;
        QTest::newRow("gif") << ViewerFormat::Gif << QByteArray("GIF8") << 0 << true << Durability::Synced;
        QTest::newRow("jpeg") << ViewerFormat::Jpeg << QByteArray("\xff\xd8\xff") << 0 << true << Durability::Synced;
        QTest::newRow("png") << ViewerFormat::Png << QByteArray("\x89PNG") << 0 << true << Durability::Synced;
        QTest::newRow("tiff") << ViewerFormat::Tiff << QByteArray("II*") << 0 << true << Durability::Synced;
        QTest::newRow("pdf") << ViewerFormat::Pdf << QByteArray("%PDF-") << 0 << false << Durability::Synced;
        QTest::newRow("emf") << ViewerFormat::Emf << QByteArray(" EMF") << 40 << false << Durability::Synced;
        QTest::newRow("jpeg, not waiting for the disk")
            << ViewerFormat::Jpeg << QByteArray("\xff\xd8\xff") << 0 << true << Durability::Flushed;
        QTest::newRow("emf, not waiting for the disk")
            << ViewerFormat::Emf << QByteArray(" EMF") << 40 << false << Durability::Flushed;
        QTest::newRow("wmf") << ViewerFormat::Wmf << QByteArray("\xd7\xcd\xc6\x9a") << 0 << false << Durability::Synced;
    }

    void savesEveryFormat()
    {
        QFETCH(ViewerFormat, format);
        QFETCH(QByteArray, magic);
        QFETCH(int, magicOffset);
        QFETCH(bool, readBack);
        QFETCH(Durability, durability);
        PictureViewerPro viewer;
        viewer.setImage(texturedImage(33, 21));
        // The name's ending does not choose the format.
        const QString path = m_dir.filePath(QStringLiteral("saved-%1-%2.out").arg(int(format)).arg(int(durability)));
        const auto saved = viewer.save(path, format, durability);
        QVERIFY2(saved.ok(), qPrintable(saved.ok() ? QString() : saved.error().message));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.mid(magicOffset, magic.size()), magic);
        if (readBack) {
            const auto loaded = loadOwnImage(path);
            QVERIFY(loaded.ok());
            QCOMPARE(loaded.value().size(), QSize(33, 21));
        }
    }

    void pdfPageHoldsTheImage()
    {
        PictureViewerPro viewer;
        viewer.setImage(texturedImage(120, 90));
        const QString path = m_dir.filePath(QStringLiteral("page.pdf"));
        QVERIFY(viewer.save(path, ViewerFormat::Pdf).ok());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QCOMPARE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page "), qsizetype(1));
        // 120 x 90 pixels at 96 dpi is a page of 90 x 67.5 points, which PDF writers round to whole points.
        const qsizetype box = pdf.indexOf("/MediaBox [0 0 90");
        QVERIFY(box >= 0);
        QVERIFY(pdf.mid(box, 40).contains(" 68"));
        QVERIFY(pdf.contains("/Subtype /Image"));
    }

    void metafilesCarryTheBitmap_data()
    {
        QTest::addColumn<ViewerFormat>("format");
        QTest::newRow("emf") << ViewerFormat::Emf;
        QTest::newRow("wmf") << ViewerFormat::Wmf;
    }

    void metafilesCarryTheBitmap()
    {
        QFETCH(ViewerFormat, format);
        const QImage original = texturedImage(13, 7);
        PictureViewerPro viewer;
        viewer.setImage(original);
        const QString path = m_dir.filePath(QStringLiteral("meta"));
        QVERIFY(viewer.save(path, format).ok());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QDataStream in(bytes);
        in.setByteOrder(QDataStream::LittleEndian);
        QByteArray dib;
        if (format == ViewerFormat::Emf) {
            // Walk the records: their sizes must add up to the file, ending with EMR_EOF.
            qsizetype offset = 0;
            quint32 lastType = 0;
            while (offset < bytes.size()) {
                QDataStream record(bytes.mid(offset, 8));
                record.setByteOrder(QDataStream::LittleEndian);
                quint32 type = 0;
                quint32 size = 0;
                record >> type >> size;
                QVERIFY(size >= 8 && size % 4 == 0);
                if (type == 81)
                    dib = bytes.mid(offset + 80, size - 80);
                lastType = type;
                offset += size;
            }
            QCOMPARE(offset, bytes.size());
            QCOMPARE(lastType, quint32(14));
        } else {
            quint16 checksum = 0;
            for (int i = 0; i < 10; ++i) {
                quint16 word = 0;
                in >> word;
                checksum ^= word;
            }
            quint16 stored = 0;
            in >> stored;
            QCOMPARE(stored, checksum);
            quint16 type = 0;
            quint16 headerWords = 0;
            quint16 version = 0;
            quint32 totalWords = 0;
            in >> type >> headerWords >> version >> totalWords;
            QCOMPARE(qsizetype(totalWords) * 2 + 22, bytes.size());
            qsizetype offset = 22 + headerWords * 2;
            quint16 lastFunction = 0xffff;
            while (offset < bytes.size()) {
                QDataStream record(bytes.mid(offset, 6));
                record.setByteOrder(QDataStream::LittleEndian);
                quint32 words = 0;
                quint16 function = 0;
                record >> words >> function;
                QVERIFY(words >= 3);
                if (function == 0x0f43)
                    dib = bytes.mid(offset + 28, words * 2 - 28);
                lastFunction = function;
                offset += words * 2;
            }
            QCOMPARE(offset, bytes.size());
            QCOMPARE(lastFunction, quint16(0));
        }
        QCOMPARE(imageFromDib(dib), original);
    }

    void wmfRendersInAnotherReader()
    {
        const QString renderer = QStandardPaths::findExecutable(QStringLiteral("wmf2gd"));
        if (renderer.isEmpty())
            QSKIP("wmf2gd (libwmf-bin) is not installed");
        QImage original(48, 30, QImage::Format_RGB32);
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 48; ++x)
                original.setPixel(x, y, x < 24 ? (y < 15 ? qRgb(220, 30, 30) : qRgb(30, 30, 220)) : qRgb(30, 200, 40));
        }
        PictureViewerPro viewer;
        viewer.setImage(original);
        const QString wmf = m_dir.filePath(QStringLiteral("check.wmf"));
        const QString png = m_dir.filePath(QStringLiteral("check-wmf.png"));
        QVERIFY(viewer.save(wmf, ViewerFormat::Wmf).ok());

        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(renderer, { QStringLiteral("-t"), QStringLiteral("png"), QStringLiteral("-o"), png, wmf });
        QVERIFY(finished.wait(60000));
        QCOMPARE(process.exitCode(), 0);
        const auto rendered = loadForeignImage(png);
        QVERIFY(rendered.ok());
        // The reader scales to its own resolution; compare the middle of each coloured area.
        const QImage image = rendered.value().scaled(48, 30);
        for (const QPoint p : { QPoint(10, 7), QPoint(10, 22), QPoint(36, 15) }) {
            const QRgb expected = original.pixel(p);
            const QRgb actual = image.pixel(p);
            QVERIFY2(std::abs(qRed(expected) - qRed(actual)) < 40 && std::abs(qGreen(expected) - qGreen(actual)) < 40
                    && std::abs(qBlue(expected) - qBlue(actual)) < 40,
                qPrintable(QString::number(actual, 16)));
        }
    }

    void failedSaveReportsAndLeavesNothing()
    {
        PictureViewerPro viewer;
        const QString path = m_dir.filePath(QStringLiteral("missing/out.jpg"));
        QVERIFY(!viewer.save(m_dir.filePath(QStringLiteral("empty.jpg")), ViewerFormat::Jpeg).ok());
        viewer.setImage(texturedImage(8, 8));
        for (ViewerFormat format : { ViewerFormat::Jpeg, ViewerFormat::Pdf, ViewerFormat::Emf }) {
            QVERIFY(!viewer.save(path, format).ok());
            QVERIFY(!QFile::exists(path));
        }
    }

    void jpegQualityIsUsed()
    {
        PictureViewerPro viewer;
        viewer.setImage(texturedImage(64, 64));
        const QString low = m_dir.filePath(QStringLiteral("low.jpg"));
        const QString high = m_dir.filePath(QStringLiteral("high.jpg"));
        viewer.setJpegQuality(5);
        QVERIFY(viewer.save(low, ViewerFormat::Jpeg).ok());
        viewer.setJpegQuality(100);
        QVERIFY(viewer.save(high, ViewerFormat::Jpeg).ok());
        QVERIFY(QFileInfo(low).size() * 2 < QFileInfo(high).size());
    }

    void loadResizeZoomAndCopy()
    {
        const QString path = m_dir.filePath(QStringLiteral("loaded.png"));
        QVERIFY(saveImage(texturedImage(120, 90), path, ImageFormat::Png).ok());
        PictureViewerPro viewer;
        QVERIFY(viewer.load(path).ok());
        QCOMPARE(viewer.pixelWidth(), 120);
        QCOMPARE(viewer.pixelHeight(), 90);
        QVERIFY(viewer.load(path, FileOrigin::Own).ok());
        QVERIFY(!viewer.load(m_dir.filePath(QStringLiteral("none.png"))).ok());
        QCOMPARE(viewer.pixelWidth(), 120);

        viewer.setZoom(0.5);
        QCOMPARE(viewer.displayedSize(), QSize(60, 45));
        viewer.setZoom(0);
        QCOMPARE(viewer.displayedSize(), QSize(1, 1));
        viewer.setZoom(1.0);
        QVERIFY(viewer.resize(33, 44).ok());
        QCOMPARE(viewer.displayedSize(), QSize(33, 44));
        QVERIFY(!viewer.resize(0, 44).ok());

        RecordingClipboard clipboard;
        viewer.copyToClipboard(clipboard);
        QCOMPARE(clipboard.images.size(), 1);
        QCOMPARE(clipboard.images.first().size(), QSize(33, 44));

        viewer.clear();
        QVERIFY(viewer.isEmpty());
        QCOMPARE(viewer.displayedSize(), QSize());
        viewer.copyToClipboard(clipboard);
        QCOMPARE(clipboard.images.size(), 1);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPictureViewerPro)
#include "tst_pictureviewerpro.moc"
