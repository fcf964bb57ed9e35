#include <cmath>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "common/filesize.h"
#include "common/folderfiles.h"

using namespace Common;

class tst_FileHelpers final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formatFileSize_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        const QLocale german(QLocale::German, QLocale::Germany);
        QTest::newRow("0") << english << 0.0 << QString();
        QTest::newRow("0.5") << english << 0.5 << QString();
        QTest::newRow("negative") << english << -5.0 << QString();
        QTest::newRow("1") << english << 1.0 << QStringLiteral("1 Bytes");
        QTest::newRow("1023") << english << 1023.0 << QStringLiteral("1,023 Bytes");
        QTest::newRow("1024") << english << 1024.0 << QStringLiteral("1.00 KB");
        QTest::newRow("1536") << english << 1536.0 << QStringLiteral("1.50 KB");
        QTest::newRow("1048575") << english << 1048575.0 << QStringLiteral("1,024.00 KB");
        QTest::newRow("1048576") << english << 1048576.0 << QStringLiteral("1.000 MB");
        QTest::newRow("1.5 GB") << english << 1.5 * 1024 * 1024 * 1024 << QStringLiteral("1.500 GB");
        QTest::newRow("1 YB") << english << std::pow(1024.0, 8) << QStringLiteral("1.000 YB");
        QTest::newRow("beyond YB") << english << 2048.0 * std::pow(1024.0, 8) << QStringLiteral("2,048.000 YB");
        QTest::newRow("German 1023") << german << 1023.0 << QStringLiteral("1.023 Bytes");
        QTest::newRow("German 1536") << german << 1536.0 << QStringLiteral("1,50 KB");
        QTest::newRow("NaN") << english << std::nan("") << QString();
    }

    void formatFileSize()
    {
        QFETCH(QLocale, locale);
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(FormatFileSize(bytes, locale), text);
    }

    void listFolderFiles()
    {
        QTemporaryDir dir;
        QCOMPARE(ListFolderFiles(dir.path()), QStringList { QString() });
        QCOMPARE(countListedFiles(ListFolderFiles(dir.path())), 0);
        QCOMPARE(ListFolderFiles(dir.filePath(QStringLiteral("missing"))), QStringList { QString() });

        // A run cut short by earlier versions left "<thumbnail>.part.jpg": never uploaded.
        for (const char* name : { "b.jpg", ".hidden", "a.png", "noextension", "empty.gif", "7.png.part.jpg" }) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (QByteArray(name) != "empty.gif")
                file.write("x");
        }
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("subfolder")));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("broken-link"))));

        const QStringList files = ListFolderFiles(dir.path());
        QCOMPARE(files,
            (QStringList { QStringLiteral(".hidden"), QStringLiteral("a.png"), QStringLiteral("b.jpg"),
                QStringLiteral("empty.gif"), QStringLiteral("noextension") }));
        QCOMPARE(countListedFiles(files), 5);
        QCOMPARE(countListedFiles({ QStringLiteral("one") }), 1);
    }
};

QTEST_GUILESS_MAIN(tst_FileHelpers)
#include "tst_filehelpers.moc"
