#include <QTest>

#include "admin/formatting.h"

using namespace Admin;

class tst_AdminFormatting final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formatText_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("lone LF") << QStringLiteral("a\nb") << QStringLiteral("a\r\nb");
        QTest::newRow("CR LF kept") << QStringLiteral("a\r\nb\r\n") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("mixed") << QStringLiteral("\na\r\n\nb") << QStringLiteral("\r\na\r\n\r\nb");
        QTest::newRow("lone CR kept") << QStringLiteral("a\rb") << QStringLiteral("a\rb");
        QTest::newRow("marker text is just text") << QStringLiteral("aqzqzb") << QStringLiteral("aqzqzb");
        QTest::newRow("empty") << QString() << QString();
    }

    void formatText()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QCOMPARE(FormatText(input), output);
    }
};

QTEST_GUILESS_MAIN(tst_AdminFormatting)
#include "tst_adminformatting.moc"
