#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "imaging/imagefile.h"
#include "imaging/pixtwix.h"

using namespace Imaging;

namespace {

// Every pixel differs in each channel and no row or column repeats, so a flipped row order or
// swapped channels show up as a mismatch.
QImage gradientImage(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int a = alpha ? 40 + ((x * 7 + y * 13) % 200) : 255;
            image.setPixel(x, y, qRgba((x * 31) % 256, (y * 29) % 256, (x * 5 + y * 11) % 256, a));
        }
    }
    return image;
}

// Flat blocks of distinct colours: what survives JPEG within a small tolerance at the block centres.
QImage blockImage()
{
    const QRgb colours[] = { qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(30, 40, 210), qRgb(240, 240, 20),
        qRgb(20, 20, 20), qRgb(250, 250, 250) };
    QImage image(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 48; ++x)
            image.setPixel(x, y, colours[(y / 16) * 3 + x / 16]);
    }
    return image;
}

int maxChannelDifference(QRgb a, QRgb b)
{
    return std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
        std::abs(qAlpha(a) - qAlpha(b)) });
}

QRgb onWhite(QRgb p)
{
    const int a = qAlpha(p);
    const auto blend = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(blend(qRed(p)), blend(qGreen(p)), blend(qBlue(p)));
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray encoded(const QImage& image, ImageFormat format)
{
    auto bytes = encodeImage(image, format, 90);
    return bytes ? bytes.value() : QByteArray();
}

} // namespace

class TestImageFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void losslessRoundTrip_data()
    {
        QTest::addColumn<ImageFormat>("format");
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<bool>("alphaKept");
        QTest::newRow("png") << ImageFormat::Png << false << false;
        QTest::newRow("png with alpha") << ImageFormat::Png << true << true;
        QTest::newRow("tiff") << ImageFormat::Tiff << false << false;
        QTest::newRow("tiff with alpha") << ImageFormat::Tiff << true << true;
        QTest::newRow("bmp") << ImageFormat::Bmp << false << false;
        QTest::newRow("bmp flattens alpha") << ImageFormat::Bmp << true << false;
        QTest::newRow("gif of few colours") << ImageFormat::Gif << false << false;
    }

    void losslessRoundTrip()
    {
        QFETCH(ImageFormat, format);
        QFETCH(bool, alpha);
        QFETCH(bool, alphaKept);
        // 13 x 9: odd sizes catch row padding mistakes; 117 colours fit a GIF palette.
        const QImage original = gradientImage(13, 9, alpha);
        const QString path = m_dir.filePath(QStringLiteral("round.") + formatSuffix(format));
        const auto saved = saveImage(original, path, format);
        QVERIFY2(saved.ok(), qPrintable(saved.ok() ? QString() : saved.error().message));
        const auto loaded = loadOwnImage(path);
        QVERIFY2(loaded.ok(), qPrintable(loaded.ok() ? QString() : loaded.error().message));
        const QImage image = loaded.value();
        QCOMPARE(image.size(), original.size());
        QCOMPARE(image.hasAlphaChannel(), alphaKept);
        for (int y = 0; y < original.height(); ++y) {
            for (int x = 0; x < original.width(); ++x) {
                const QRgb expected = alphaKept ? original.pixel(x, y) : onWhite(original.pixel(x, y));
                if (image.pixel(x, y) != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(image.pixel(x, y), 8, 16)
                                         .arg(expected, 8, 16)));
            }
        }
    }

    void jpegAndGifKeepColoursWithinTolerance_data()
    {
        QTest::addColumn<ImageFormat>("format");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("jpeg") << ImageFormat::Jpeg << 12;
        QTest::newRow("gif") << ImageFormat::Gif << 0;
    }

    void jpegAndGifKeepColoursWithinTolerance()
    {
        QFETCH(ImageFormat, format);
        QFETCH(int, tolerance);
        const QImage original = blockImage();
        const QString path = m_dir.filePath(QStringLiteral("blocks.") + formatSuffix(format));
        QVERIFY(saveImage(original, path, format, 90).ok());
        const auto loaded = loadOwnImage(path);
        QVERIFY(loaded.ok());
        QCOMPARE(loaded.value().size(), original.size());
        for (int by = 0; by < 2; ++by) {
            for (int bx = 0; bx < 3; ++bx) {
                const QPoint centre(bx * 16 + 8, by * 16 + 8);
                QVERIFY2(maxChannelDifference(loaded.value().pixel(centre), original.pixel(centre)) <= tolerance,
                    qPrintable(QStringLiteral("block %1,%2").arg(bx).arg(by)));
            }
        }
    }

    void gifQuantisesManyColours()
    {
        // 96 x 96 of this gradient holds thousands of colours: too many for a palette, so they are reduced.
        const QImage original = gradientImage(96, 96, false);
        const QString path = m_dir.filePath(QStringLiteral("many.gif"));
        QVERIFY(saveImage(original, path, ImageFormat::Gif).ok());
        const auto loaded = loadOwnImage(path);
        QVERIFY(loaded.ok());
        QCOMPARE(loaded.value().size(), original.size());
        qint64 error = 0;
        for (int y = 0; y < 96; ++y) {
            for (int x = 0; x < 96; ++x)
                error += maxChannelDifference(loaded.value().pixel(x, y), original.pixel(x, y));
        }
        QVERIFY2(error / (96 * 96) < 24, qPrintable(QString::number(error / (96 * 96))));
    }

    void foreignReaderAgreesWithOwnFiles()
    {
        const QImage original = gradientImage(13, 9, true);
        const QString path = m_dir.filePath(QStringLiteral("foreign.png"));
        QVERIFY(saveImage(original, path, ImageFormat::Png).ok());
        const auto loaded = loadForeignImage(path);
        QVERIFY(loaded.ok());
        QCOMPARE(loaded.value(), original);
    }

    void jpegQualityChangesTheFile()
    {
        QImage noisy(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x)
                noisy.setPixel(x, y, qRgb((x * 97 + y * 31) % 256, (x * y) % 256, (x * 13 + y * 57) % 256));
        }
        const auto low = encodeImage(noisy, ImageFormat::Jpeg, 0);
        const auto high = encodeImage(noisy, ImageFormat::Jpeg, 100);
        QVERIFY(low.ok() && high.ok());
        QVERIFY(low.value().startsWith("\xff\xd8"));
        QVERIFY(low.value().size() * 2 < high.value().size());
    }

    // Pinned to the pixels FreeImage's own decoder gives, so a faster decoder cannot change a picture:
    // both chroma layouts, sizes that end in partial blocks, and a one-channel grey file.
    void jpegDecodesToPinnedPixels_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("digest");
        const auto ours = [](int width, int height, int quality) {
            return encodeImage(gradientImage(width, height, false), ImageFormat::Jpeg, quality).value();
        };
        QByteArray grey;
        QBuffer buffer(&grey);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(gradientImage(21, 11, false).convertToFormat(QImage::Format_Grayscale8).save(&buffer, "JPEG", 80));
        QTest::newRow("4:4:4, odd size") << ours(37, 23, 100) << QByteArray("06b198773e66ca6a");
        QTest::newRow("4:2:0, odd size") << ours(37, 23, 75) << QByteArray("13fca214a4fa1dd2");
        QTest::newRow("4:2:0, whole blocks") << ours(64, 48, 40) << QByteArray("64b83e5f2534a636");
        QTest::newRow("one channel grey") << grey << QByteArray("51b9e78b3614bf2d");
    }

    void jpegDecodesToPinnedPixels()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, digest);
        const auto image = decodeOwnImage(file, QStringLiteral("pinned.jpg"));
        QVERIFY(image.ok());
        QCOMPARE(image.value().format(), QImage::Format_RGB32);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (int y = 0; y < image.value().height(); ++y)
            hash.addData(QByteArrayView(image.value().constScanLine(y), image.value().width() * 4));
        QCOMPARE(hash.result().toHex().left(16), digest);
    }

    void hostileFilesGiveErrors_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray jpeg = encoded(blockImage(), ImageFormat::Jpeg);
        const QByteArray png = encoded(gradientImage(40, 40, false), ImageFormat::Png);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("this is not a picture at all\n");
        QTest::newRow("truncated jpeg") << jpeg.left(jpeg.size() / 2);
        QTest::newRow("truncated png") << png.left(png.size() / 2);
        QTest::newRow("jpeg header only") << jpeg.left(20);
        // A valid PNG signature and header chunk claiming 60000 x 60000 pixels, then nothing.
        QByteArray huge = png.left(33);
        huge[16] = char(0x00);
        huge[17] = char(0x00);
        huge[18] = char(0xea);
        huge[19] = char(0x60);
        huge[20] = char(0x00);
        huge[21] = char(0x00);
        huge[22] = char(0xea);
        huge[23] = char(0x60);
        const quint32 crc = crc32(huge.mid(12, 17));
        for (int i = 0; i < 4; ++i)
            huge[29 + i] = char((crc >> (24 - 8 * i)) & 0xff);
        QTest::newRow("huge png header") << huge + png.mid(33);
        QByteArray bmp = encoded(gradientImage(8, 8, false), ImageFormat::Bmp);
        bmp[18] = char(0xff);
        bmp[19] = char(0xff);
        bmp[20] = char(0xff);
        bmp[21] = char(0x7f);
        QTest::newRow("bmp claiming a huge width") << bmp;
        QByteArray psd("8BPS\x00\x01", 6);
        QTest::newRow("format never written") << psd + QByteArray(64, '\0');
    }

    void hostileFilesGiveErrors()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(QStringLiteral("hostile.jpg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        const auto own = loadOwnImage(path);
        QVERIFY(!own.ok());
        QVERIFY(own.error().message.contains(path));
        const auto foreign = loadForeignImage(path);
        if (foreign.ok()) {
            // Qt may show what it could decode of a cut-off file; it must still be a sane picture.
            QVERIFY(foreign.value().width() <= MaxImageSide);
        }
    }

    void damagedOwnFilesNeverCrash_data()
    {
        QTest::addColumn<ImageFormat>("format");
        QTest::newRow("jpeg") << ImageFormat::Jpeg;
        QTest::newRow("png") << ImageFormat::Png;
        QTest::newRow("bmp") << ImageFormat::Bmp;
        QTest::newRow("gif") << ImageFormat::Gif;
        QTest::newRow("tiff") << ImageFormat::Tiff;
    }

    void damagedOwnFilesNeverCrash()
    {
        // Files of ours damaged on disk: bytes overwritten, set to 0xff or cut short, reproducibly.
        QFETCH(ImageFormat, format);
        const QByteArray good = encoded(gradientImage(37, 23, true), format);
        QVERIFY(!good.isEmpty());
        quint32 state = 12345u;
        const auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return state >> 8;
        };
        int decoded = 0;
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = good;
            const int changes = 1 + int(next() % 6);
            for (int i = 0; i < changes && !bytes.isEmpty(); ++i) {
                const qsizetype at = qsizetype(next() % quint32(bytes.size()));
                switch (next() % 3) {
                case 0:
                    bytes[at] = char(next());
                    break;
                case 1:
                    bytes[at] = char(0xff);
                    break;
                default:
                    bytes.truncate(at + qsizetype(next() % 64));
                    break;
                }
            }
            const auto image = decodeOwnImage(bytes, QStringLiteral("damaged"));
            if (image.ok()) {
                ++decoded;
                QVERIFY(image.value().width() <= MaxImageSide && image.value().height() <= MaxImageSide);
            }
        }
        QVERIFY(decoded < 300);
    }

    void missingPathsGiveErrors()
    {
        for (const QString& path : { m_dir.filePath(QStringLiteral("none.jpg")), m_dir.path() }) {
            QVERIFY(!loadOwnImage(path).ok());
            QVERIFY(!loadForeignImage(path).ok());
        }
    }

    void failedSaveLeavesNoFile_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<Durability>("durability");
        for (const auto& [name, durability] :
            { std::pair { "synced", Durability::Synced }, std::pair { "flushed", Durability::Flushed } }) {
            QTest::addRow("missing folder, %s", name) << QStringLiteral("missing/deeper") << durability;
            QTest::addRow("read-only folder, %s", name)
                << QStringLiteral("locked-%1").arg(QLatin1String(name)) << durability;
        }
    }

    void failedSaveLeavesNoFile()
    {
        QFETCH(QString, folder);
        QFETCH(Durability, durability);
        const QString path = m_dir.filePath(folder + QStringLiteral("/out.jpg"));
        if (folder.startsWith(QLatin1String("locked"))) {
            QVERIFY(QDir(m_dir.path()).mkdir(folder));
            QFile::setPermissions(m_dir.filePath(folder), QFile::ReadOwner | QFile::ExeOwner);
            QFile probe(m_dir.filePath(folder + QStringLiteral("/probe")));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("permissions are not enforced for this user");
            }
        }
        const auto saved = saveImage(blockImage(), path, ImageFormat::Jpeg, 80, durability);
        QVERIFY(!saved.ok());
        QVERIFY(saved.error().message.contains(path));
        QVERIFY(!QFile::exists(path));
        if (QDir(m_dir.filePath(folder)).exists())
            QVERIFY(QDir(m_dir.filePath(folder)).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QFile::setPermissions(m_dir.filePath(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void saveReplacesAnExistingFile_data()
    {
        QTest::addColumn<Durability>("durability");
        QTest::newRow("synced") << Durability::Synced;
        QTest::newRow("flushed") << Durability::Flushed;
    }

    void saveReplacesAnExistingFile()
    {
        QFETCH(Durability, durability);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("replace.png"));
        QVERIFY(saveImage(gradientImage(5, 5, false), path, ImageFormat::Png, 100, durability).ok());
        QVERIFY(QFile::permissions(path).testFlag(QFile::ReadOther));
        QVERIFY(!QFile::permissions(path).testFlag(QFile::WriteOther));
        // A replaced file keeps the permissions its owner gave it.
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(saveImage(gradientImage(7, 3, false), path, ImageFormat::Png, 100, durability).ok());
        QCOMPARE(loadOwnImage(path).value().size(), QSize(7, 3));
        QCOMPARE(QFile::permissions(path) & (QFile::ReadOther | QFile::ReadGroup), QFileDevice::Permissions());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void pixTwixSavesCode12AsJpeg()
    {
        PixTwix pixTwix;
        pixTwix.setPicture(blockImage());
        const QString path = m_dir.filePath(QStringLiteral("work.jpg"));
        QVERIFY(pixTwix.save(QStringLiteral("FreeImage.dll"), path, 12).ok());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(2) == QByteArray("\xff\xd8"));
        QVERIFY(!pixTwix.save(QString(), m_dir.filePath(QStringLiteral("other.jpg")), 13).ok());

        PixTwix reloaded;
        QVERIFY(reloaded.load(QString(), path).ok());
        QCOMPARE(reloaded.picture().size(), QSize(48, 32));
        QVERIFY(!reloaded.load(QString(), m_dir.filePath(QStringLiteral("none.jpg"))).ok());
        QCOMPARE(reloaded.picture().size(), QSize(48, 32));
    }

    void shippedSamplesLoad()
    {
        if (qEnvironmentVariableIsEmpty("PICTAVO_RESOURCES_DIR"))
            QSKIP("run through ctest, which names the folder of the shipped files");
        const QDir resources(qEnvironmentVariable("PICTAVO_RESOURCES_DIR"));
        const auto sample = loadOwnImage(resources.filePath(QStringLiteral("ThumbnailSample.jpg")));
        QVERIFY2(sample.ok(), qPrintable(resources.path()));
        QVERIFY(sample.value().width() >= 320);
        for (const char* name : { "FrameEffectSlice.jpg", "VignetteEffect.jpg" })
            QVERIFY(loadForeignImage(resources.filePath(QLatin1String(name))).ok());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_imagefile.moc"
