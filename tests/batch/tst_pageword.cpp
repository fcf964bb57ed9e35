#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/linkoutcome.h"
#include "batch/pageword.h"
#include "batch/parkingservices.h"

class TestPageWord final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void word_data();
    void word();
};

void TestPageWord::word_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("final");
    QTest::addColumn<QString>("word");
    const auto row = [](const char* name, const QString& outcome, int status, const char* link, const char* final,
                         const char* word) {
        QTest::newRow(name) << outcome << status << QString::fromUtf8(link) << QString::fromUtf8(final)
                            << QString::fromUtf8(word);
    };
    const QString captured = Batch::Outcome::Captured;
    row("same address", captured, 200, "http://example.com/", "http://example.com/", "ok");
    row("www, https, path", captured, 200, "http://example.com/a", "https://www.example.com/b/c", "ok");
    row("no scheme", captured, 200, "Example.COM/a", "http://shop.example.com/", "ok");
    row("subdomain", captured, 200, "http://blog.example.co.uk/", "https://example.co.uk/", "ok");
    row("sibling under co.uk", captured, 200, "http://a.co.uk/", "https://b.co.uk/", "moved");
    row("another domain", captured, 200, "http://example.com/", "https://example.org/", "moved");
    row("IP addresses", captured, 200, "http://127.0.0.1:8080/", "http://127.0.0.2/", "moved");
    row("same IP", captured, 200, "http://10.0.0.1/", "https://10.0.0.1:8443/x", "ok");
    row("localhost", captured, 200, "http://localhost/", "http://www.localhost/", "moved");
    row("IDN both ways", captured, 200, "http://www.Bücher.de/", "https://xn--bcher-kva.de/", "ok");
    row("no final address", captured, 0, "http://example.com/", "", "ok");
    row("error page", captured, 404, "http://example.com/", "https://other.com/", "error");
    row("status 399", captured, 399, "http://example.com/", "http://example.com/", "ok");
    row("status 400", captured, 400, "http://example.com/", "http://example.com/", "error");
    row("error on a parking host", captured, 404, "http://example.com/", "https://sedoparking.com/", "error");
    row("the service's own site", captured, 200, "www.Sedo.com", "https://sedo.com/us/", "ok");
    row("parking service", captured, 200, "http://example.com/", "https://www.SedoParking.com/x", "parked");
    row("user's parking", Batch::Outcome::ImageFailed, 200, "http://a.com/", "http://lander.mine.test/", "parked");
    row("blank", QStringLiteral("blank"), 200, "http://example.com/", "https://other.com/", "blank");
    row("not captured", Batch::Outcome::Refused, 0, "http://example.com/", "", "");
    row("skipped", Batch::Outcome::Skipped, 0, "http://example.com/", "", "");
}

void TestPageWord::word()
{
    QFETCH(QString, outcome);
    QFETCH(int, status);
    QFETCH(QString, link);
    QFETCH(QString, final);
    QFETCH(QString, word);

    QTemporaryDir program;
    QVERIFY(program.isValid());
    QVERIFY(QDir(program.path()).mkpath(QStringLiteral("data")));
    QFile user(program.filePath(QStringLiteral("data/") + Batch::ParkingServices::FileName));
    QVERIFY(user.open(QIODevice::WriteOnly));
    user.write("# mine\nnot a domain!\nmine.test  # lander\n");
    user.close();
    const auto parking
        = Batch::ParkingServices::forProgram(program.path(), qEnvironmentVariable("PICTAVO_RESOURCES_DIR"));
    QCOMPARE(Batch::pageWord(outcome, status, link, final, parking), word);
}

QTEST_GUILESS_MAIN(TestPageWord)
#include "tst_pageword.moc"
