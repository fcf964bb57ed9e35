#include <QRandomGenerator>
#include <QTest>

#include "common/base64text.h"

class tst_Base64Text final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever the browser sends, the bytes are those Qt's lenient decoder reads.
    void decodesAsQtDoes_data()
    {
        QTest::addColumn<QString>("text");
        QByteArray picture(100003, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (char& byte : picture)
            byte = char(generator.bounded(256));
        for (int cut : { 0, 1, 2 })
            QTest::addRow("whole, %d bytes over", cut) << QString::fromLatin1(picture.chopped(cut).toBase64());
        QTest::newRow("empty") << QString();
        QTest::newRow("one byte") << QStringLiteral("QQ==");
        QTest::newRow("padding left off") << QStringLiteral("QUI");
        QTest::newRow("line breaks") << QStringLiteral("QUJD\nREVG");
        QTest::newRow("padding inside") << QStringLiteral("QQ==QUJD");
        QTest::newRow("padding alone") << QStringLiteral("====");
        QTest::newRow("beyond ASCII") << QStringLiteral("QUJ\u00e9");
        QTest::newRow("url alphabet") << QStringLiteral("-_-_");
    }

    void decodesAsQtDoes()
    {
        QFETCH(QString, text);
        QCOMPARE(Common::fromBase64Text(text), QByteArray::fromBase64(text.toLatin1()));
    }
};

QTEST_GUILESS_MAIN(tst_Base64Text)
#include "tst_base64text.moc"
