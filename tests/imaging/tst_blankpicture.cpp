#include <QtTest>

#include "imaging/blankpicture.h"

class TestBlankPicture final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void share_data()
    {
        // Pixels of another colour on a grey picture of 10,000, judged as it is.
        QTest::addColumn<int>("others");
        QTest::addColumn<bool>("blank");
        QTest::newRow("99.8 % alike") << 20 << true;
        QTest::newRow("99.79 % alike") << 21 << false;
    }
    void share()
    {
        QFETCH(int, others);
        QImage picture(125, 80, QImage::Format_RGB32);
        picture.fill(qRgb(128, 128, 128));
        for (int x = 0; x < others; ++x)
            picture.setPixel(x, 40, qRgb(20, 40, 200));
        QTEST(Imaging::isBlankPicture(picture), "blank");
    }
};

QTEST_GUILESS_MAIN(TestBlankPicture)
#include "tst_blankpicture.moc"
