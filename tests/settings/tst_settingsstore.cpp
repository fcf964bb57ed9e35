#include <optional>

#include <QTemporaryDir>
#include <QTest>

#include "settings/cregistry.h"
#include "settings/hive.h"
#include "settings/settingsstore.h"

using namespace Settings;

class TestSettingsStore final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void toLong_data();
    void toLong();
    void toBoolean_data();
    void toBoolean();
    void writeStoresTextUnderTheSettingsKey();
    void textsReadBackAsWritten_data();
    void textsReadBackAsWritten();
    void readWithoutValueGivesDefault();
    void failedWriteKeepsTheOldValue();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Hive> m_hive;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_hive = std::make_unique<Hive>(m_dir->filePath(QStringLiteral("registry.db")));
}

void TestSettingsStore::toLong_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<qint32>("expected");

    const auto text = [](const char* s) { return QVariant(QString::fromUtf8(s)); };
    QTest::newRow("whole") << text("40000") << true << 40000;
    QTest::newRow("half down to even") << text("12.5") << true << 12;
    QTest::newRow("half up to even") << text("13.5") << true << 14;
    QTest::newRow("negative half to even") << text("-12.5") << true << -12;
    QTest::newRow("negative half up") << text("-13.5") << true << -14;
    QTest::newRow("below half") << text("12.49") << true << 12;
    QTest::newRow("above half") << text("12.51") << true << 13;
    QTest::newRow("just above half, many digits") << text("2.5000000000000001") << true << 3;
    QTest::newRow("zero and a half") << text("0.5") << true << 0;
    QTest::newRow("no integer part") << text(".7") << true << 1;
    QTest::newRow("trailing point") << text("12.") << true << 12;
    QTest::newRow("blanks around") << text("  7 ") << true << 7;
    QTest::newRow("plus sign") << text("+7") << true << 7;
    QTest::newRow("leading zeros") << text("000000000000042") << true << 42;
    QTest::newRow("largest") << text("2147483647") << true << qint32(2147483647);
    QTest::newRow("largest after rounding") << text("2147483647.4") << true << qint32(2147483647);
    QTest::newRow("smallest") << text("-2147483648") << true << qint32(-2147483647 - 1);
    QTest::newRow("rounds past the largest") << text("2147483647.5") << false << 0;
    QTest::newRow("too large") << text("2147483648") << false << 0;
    QTest::newRow("too small") << text("-2147483649") << false << 0;
    QTest::newRow("far too large") << text("99999999999999999999") << false << 0;
    QTest::newRow("letters") << text("abc") << false << 0;
    QTest::newRow("number then letters") << text("12abc") << false << 0;
    QTest::newRow("empty") << text("") << false << 0;
    QTest::newRow("blanks only") << text("   ") << false << 0;
    QTest::newRow("sign only") << text("-") << false << 0;
    QTest::newRow("point only") << text(".") << false << 0;
    QTest::newRow("exponent") << text("1e3") << false << 0;
    QTest::newRow("hexadecimal") << text("0x10") << false << 0;
    QTest::newRow("decimal comma") << text("1,5") << false << 0;
    QTest::newRow("two signs") << text("--1") << false << 0;
    QTest::newRow("non-ASCII digits") << text("\u0663") << false << 0;
    QTest::newRow("stored number") << QVariant(qint32(-7)) << true << -7;
    QTest::newRow("fraction half to even") << QVariant(12.5) << true << 12;
    QTest::newRow("fraction half up to even") << QVariant(13.5) << true << 14;
    QTest::newRow("64-bit number out of range") << QVariant(qint64(1) << 40) << false << 0;
    QTest::newRow("Boolean") << QVariant(true) << true << 1;
    QTest::newRow("binary data") << QVariant(QByteArray("12")) << false << 0;
    QTest::newRow("nothing") << QVariant() << false << 0;
}

void TestSettingsStore::toLong()
{
    QFETCH(QVariant, value);
    QFETCH(bool, converts);
    QFETCH(qint32, expected);
    const std::optional<qint32> result = Settings::toLong(value);
    QCOMPARE(result.has_value(), converts);
    if (converts)
        QCOMPARE(*result, expected);
}

void TestSettingsStore::toBoolean_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<bool>("expected");

    const auto text = [](const char* s) { return QVariant(QString::fromUtf8(s)); };
    QTest::newRow("True") << text("True") << true << true;
    QTest::newRow("False") << text("False") << true << false;
    QTest::newRow("lower case") << text("true") << true << true;
    QTest::newRow("upper case") << text("FALSE") << true << false;
    QTest::newRow("blanks around") << text(" False ") << true << false;
    QTest::newRow("zero") << text("0") << true << false;
    QTest::newRow("one") << text("1") << true << true;
    QTest::newRow("minus one") << text("-1") << true << true;
    QTest::newRow("zero with fraction") << text("0.0") << true << false;
    QTest::newRow("small fraction") << text("0.4") << true << true;
    QTest::newRow("yes is not a Boolean") << text("yes") << false << false;
    QTest::newRow("empty") << text("") << false << false;
    QTest::newRow("letters") << text("abc") << false << false;
    QTest::newRow("number default") << QVariant(1) << true << true;
    QTest::newRow("zero default") << QVariant(0) << true << false;
    QTest::newRow("Boolean") << QVariant(false) << true << false;
    QTest::newRow("nothing") << QVariant() << false << false;
}

void TestSettingsStore::toBoolean()
{
    QFETCH(QVariant, value);
    QFETCH(bool, converts);
    QFETCH(bool, expected);
    const std::optional<bool> result = Settings::toBoolean(value);
    QCOMPARE(result.has_value(), converts);
    if (converts)
        QCOMPARE(*result, expected);
}

void TestSettingsStore::writeStoresTextUnderTheSettingsKey()
{
    QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("Timeout"), 40000).ok());
    const auto stored = m_hive->readValue(
        HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Corvane\\Pictavo\\Settings"), QStringLiteral("Timeout"));
    QVERIFY(stored);
    QCOMPARE(stored->type, REG_SZ);
    QCOMPARE(stored->data, QByteArray("40000\0", 6));
}

void TestSettingsStore::textsReadBackAsWritten_data()
{
    qputenv("PICTAVO_TEST_SECRET", "expanded");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text") << QVariant(QStringLiteral("Corvane")) << QStringLiteral("Corvane");
    QTest::newRow("looks like a variable")
        << QVariant(QStringLiteral("pa%PICTAVO_TEST_SECRET%ss")) << QStringLiteral("pa%PICTAVO_TEST_SECRET%ss");
    QTest::newRow("Boolean") << QVariant(false) << QStringLiteral("False");
    QTest::newRow("fraction") << QVariant(12.5) << QStringLiteral("12.5");
}

void TestSettingsStore::textsReadBackAsWritten()
{
    QFETCH(QVariant, value);
    QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("WatermarkText"), value).ok());
    QTEST(ReadSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("WatermarkText"), QString()).toString(),
        "expected");
}

void TestSettingsStore::readWithoutValueGivesDefault()
{
    const QVariant fallback(QStringLiteral("fallback"));
    QCOMPARE(ReadSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("AdminUserID"), fallback), fallback);
    QVERIFY(
        WriteSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("AdminURL"), QStringLiteral("u")).ok());
    QCOMPARE(ReadSetting(*m_hive, appKeyPath(), settingsSection(), QStringLiteral("AdminUserID"), fallback), fallback);
    QCOMPARE(
        ReadSetting(*m_hive, QStringLiteral("Other\\App"), settingsSection(), QStringLiteral("AdminURL"), fallback),
        fallback);
}

void TestSettingsStore::failedWriteKeepsTheOldValue()
{
    const QString key = QStringLiteral("WatermarkText");
    QVERIFY(WriteSetting(*m_hive, appKeyPath(), settingsSection(), key, QStringLiteral("Corvane")).ok());
    const Common::Status status
        = WriteSetting(*m_hive, appKeyPath(), settingsSection(), key, QVariantList { QStringLiteral("a") });
    QVERIFY(!status.ok());
    QCOMPARE(status.error().number, RegistryWriteError);
    QCOMPARE(
        ReadSetting(*m_hive, appKeyPath(), settingsSection(), key, QString()), QVariant(QStringLiteral("Corvane")));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
