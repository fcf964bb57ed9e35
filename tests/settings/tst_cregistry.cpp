#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sqlite3.h>

#include "settings/cregistry.h"
#include "settings/hive.h"

using namespace Settings;

namespace {

const QString kSection = QStringLiteral("Software\\Corvane\\Pictavo\\Settings");

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// SQLite's file change counter, bumped once by every committed write transaction.
quint32 changeCounter(const QString& path)
{
    const QByteArray header = fileBytes(path).left(100);
    return header.size() == 100 ? qFromBigEndian<quint32>(header.constData() + 24) : 0;
}

cRegistry makeRegistry(Hive& hive, qint32 valueType, const QString& valueKey = QStringLiteral("Value"),
    const QString& sectionKey = kSection)
{
    cRegistry registry(hive);
    registry.setClassKey(HKEY_LOCAL_MACHINE);
    registry.setSectionKey(sectionKey);
    registry.setValueKey(valueKey);
    registry.setValueType(valueType);
    return registry;
}

} // namespace

class TestCRegistry final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void readWithoutValueGivesDefault_data();
    void readWithoutValueGivesDefault();
    void assignAndReadBack_data();
    void assignAndReadBack();
    void readStoredTypes_data();
    void readStoredTypes();
    void numberStoredByAnotherTool();
    void numberTypesPassOverOtherValues_data();
    void numberTypesPassOverOtherValues();
    void failures_data();
    void failures();
    void keyFailureOnUnwritableFolder();
    void missingKeysAreCreated();
    void oneTransactionPerWrite();
    void fileIsUserOnly();
    void interruptedWriteIsRolledBack();
    void foreignFileIsNeverWritten_data();
    void foreignFileIsNeverWritten();
    void defaultFilePath();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestCRegistry::initTestCase() { QStandardPaths::setTestModeEnabled(true); }

void TestCRegistry::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("Corvane/Pictavo/registry.db"));
}

void TestCRegistry::readWithoutValueGivesDefault_data()
{
    QTest::addColumn<bool>("writeSomethingElse");
    QTest::addColumn<QString>("sectionKey");
    QTest::addColumn<qint32>("classKey");
    QTest::newRow("no file") << false << kSection << HKEY_LOCAL_MACHINE;
    QTest::newRow("no key") << true << QStringLiteral("Software\\Other") << HKEY_LOCAL_MACHINE;
    QTest::newRow("no value") << true << kSection << HKEY_LOCAL_MACHINE;
    QTest::newRow("other root") << true << kSection << qint32(0x80000001);
    QTest::newRow("not a root") << true << kSection << qint32(0);
}

void TestCRegistry::readWithoutValueGivesDefault()
{
    QFETCH(bool, writeSomethingElse);
    QFETCH(QString, sectionKey);
    QFETCH(qint32, classKey);
    Hive hive(m_path);
    if (writeSomethingElse)
        QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("Other")).setValue(QStringLiteral("x")).ok());

    cRegistry registry = makeRegistry(hive, REG_SZ, QStringLiteral("Value"), sectionKey);
    registry.setClassKey(classKey);
    registry.setDefault(QStringLiteral("fallback"));
    QCOMPARE(registry.Value(), QVariant(QStringLiteral("fallback")));
    QCOMPARE(registry.ValueType(), REG_SZ);
    // A read never creates the store.
    QCOMPARE(QFileInfo::exists(m_path), writeSomethingElse);
}

void TestCRegistry::assignAndReadBack_data()
{
    qputenv("PICTAVO_TEST_FOLDER", "/srv/pictures");
    qunsetenv("PICTAVO_TEST_UNSET");

    QTest::addColumn<qint32>("valueType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<qint32>("storedType");
    QTest::addColumn<QVariant>("readBack");

    const auto text = [](const char* s) { return QVariant(QString::fromUtf8(s)); };
    QTest::newRow("text") << REG_SZ << text("hello") << REG_SZ << text("hello");
    QTest::newRow("empty text") << REG_SZ << text("") << REG_SZ << text("");
    QTest::newRow("non-ASCII text") << REG_SZ << text("Grüße €") << REG_SZ << text("Grüße €");
    QTest::newRow("one percent sign") << REG_SZ << text("50%") << REG_SZ << text("50%");
    QTest::newRow("two adjacent percent signs") << REG_SZ << text("100%%") << REG_SZ << text("100%%");
    QTest::newRow("variable") << REG_SZ << text("%PICTAVO_TEST_FOLDER%/thumbs") << REG_EXPAND_SZ
                              << text("/srv/pictures/thumbs");
    QTest::newRow("unknown variable stays")
        << REG_SZ << text("a%PICTAVO_TEST_UNSET%b") << REG_EXPAND_SZ << text("a%PICTAVO_TEST_UNSET%b");
    QTest::newRow("percent before a variable")
        << REG_SZ << text("50% in %PICTAVO_TEST_FOLDER%") << REG_EXPAND_SZ << text("50% in /srv/pictures");
    QTest::newRow("expandable type without reference") << REG_EXPAND_SZ << text("plain") << REG_SZ << text("plain");
    QTest::newRow("number as text") << REG_SZ << QVariant(42) << REG_SZ << text("42");
    QTest::newRow("Boolean as text") << REG_SZ << QVariant(true) << REG_SZ << text("True");
    QTest::newRow("nothing as text") << REG_SZ << QVariant() << REG_SZ << text("");
    QTest::newRow("binary") << REG_BINARY << QVariant(QByteArray("\x00\x01\xFF\x00", 4)) << REG_BINARY
                            << QVariant(QByteArray("\x00\x01\xFF\x00", 4));
    QTest::newRow("empty binary") << REG_BINARY << QVariant(QByteArray()) << REG_BINARY << QVariant(QByteArray());
    QTest::newRow("32-bit number") << REG_DWORD << QVariant(qint32(-5)) << REG_DWORD << QVariant(qint32(-5));
    QTest::newRow("16-bit number") << REG_DWORD << QVariant::fromValue(qint16(300)) << REG_DWORD
                                   << QVariant(qint32(300));
    QTest::newRow("big-endian type stores little-endian")
        << REG_DWORD_BIG_ENDIAN << QVariant(qint32(258)) << REG_DWORD << QVariant(qint32(258));
    QTest::newRow("unsigned bit pattern")
        << REG_DWORD << QVariant(quint32(0xFFFFFFFF)) << REG_DWORD << QVariant(qint32(-1));
}

void TestCRegistry::assignAndReadBack()
{
    QFETCH(qint32, valueType);
    QFETCH(QVariant, value);
    QFETCH(qint32, storedType);
    QFETCH(QVariant, readBack);

    Hive hive(m_path);
    const Common::Status written = makeRegistry(hive, valueType).setValue(value);
    QVERIFY2(written.ok(), qPrintable(written.ok() ? QString() : written.error().message));

    cRegistry reader = makeRegistry(hive, REG_SZ);
    reader.setDefault(QStringLiteral("default"));
    const QVariant result = reader.Value();
    QCOMPARE(result.typeId(), readBack.typeId());
    QCOMPARE(result, readBack);
    QCOMPARE(reader.ValueType(), storedType);

    // Texts carry their terminating NUL in the store.
    if (storedType == REG_SZ && value.typeId() == QMetaType::QString)
        QCOMPARE(hive.readValue(HKEY_LOCAL_MACHINE, kSection, QStringLiteral("Value"))->data,
            value.toString().toUtf8() + '\0');
}

void TestCRegistry::readStoredTypes_data()
{
    QTest::addColumn<qint32>("storedType");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<qint32>("typeAfterRead");

    QTest::newRow("multi-text keeps inner NULs") << REG_MULTI_SZ << QByteArray("one\0two\0\0", 9)
                                                 << QVariant(QString::fromUtf8("one\0two\0", 8)) << REG_MULTI_SZ;
    QTest::newRow("big-endian number") << REG_DWORD_BIG_ENDIAN << QByteArray("\x00\x00\x01\x02", 4)
                                       << QVariant(qint32(258)) << REG_DWORD_BIG_ENDIAN;
    QTest::newRow("little-endian number")
        << REG_DWORD << QByteArray("\x02\x01\x00\x00", 4) << QVariant(qint32(258)) << REG_DWORD;
    QTest::newRow("unknown type gives bytes")
        << qint32(11) << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8)
        << QVariant(QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8)) << qint32(11);
    QTest::newRow("text without its NUL loses nothing")
        << REG_SZ << QByteArray("abc") << QVariant(QStringLiteral("abc")) << REG_SZ;
    QTest::newRow("empty text value") << REG_SZ << QByteArray() << QVariant(QString()) << REG_SZ;
    QTest::newRow("number of the wrong size")
        << REG_DWORD << QByteArray("\x01\x02\x03", 3) << QVariant(QStringLiteral("default")) << REG_SZ;
}

void TestCRegistry::readStoredTypes()
{
    QFETCH(qint32, storedType);
    QFETCH(QByteArray, data);
    QFETCH(qint32, typeAfterRead);

    Hive hive(m_path);
    QCOMPARE(hive.writeValue(HKEY_LOCAL_MACHINE, kSection, QStringLiteral("Value"), HiveValue { storedType, data }),
        Hive::WriteResult::Written);
    cRegistry reader = makeRegistry(hive, REG_SZ);
    reader.setDefault(QStringLiteral("default"));
    const QVariant result = reader.Value();
    QTEST(result, "expected");
    QCOMPARE(reader.ValueType(), typeAfterRead);
}

void TestCRegistry::numberStoredByAnotherTool()
{
    Hive hive(m_path);
    QVERIFY(makeRegistry(hive, REG_DWORD, QStringLiteral("ThreadsCount")).setValue(qint32(8)).ok());

    cRegistry reader = makeRegistry(hive, REG_SZ, QStringLiteral("ThreadsCount"));
    reader.setDefault(4);
    const QVariant result = reader.Value();
    QCOMPARE(result.typeId(), int(QMetaType::Int));
    QCOMPARE(result.toInt(), 8);
    QCOMPARE(reader.ValueType(), REG_DWORD);
}

void TestCRegistry::numberTypesPassOverOtherValues_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("text") << QVariant(QStringLiteral("12"));
    QTest::newRow("64-bit number") << QVariant(qint64(12));
    QTest::newRow("fraction") << QVariant(12.0);
    QTest::newRow("Boolean") << QVariant(true);
}

void TestCRegistry::numberTypesPassOverOtherValues()
{
    QFETCH(QVariant, value);
    Hive hive(m_path);
    QVERIFY(makeRegistry(hive, REG_DWORD).setValue(qint32(1)).ok());
    QVERIFY(makeRegistry(hive, REG_DWORD).setValue(value).ok());
    QCOMPARE(makeRegistry(hive, REG_SZ).Value(), QVariant(qint32(1)));
}

void TestCRegistry::failures_data()
{
    QTest::addColumn<bool>("blockFolder");
    QTest::addColumn<qint32>("classKey");
    QTest::addColumn<QString>("sectionKey");
    QTest::addColumn<qint32>("valueType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");

    const QString rootText = QStringLiteral("-2147483646");
    const auto message = [](const QString& root, const QString& section, const QString& value) -> QString {
        return QStringLiteral("Failed to set registry value Key: '") + root + QStringLiteral("',Section: '") + section
            + QStringLiteral("',Key: 'Timeout' to value: '") + value + QStringLiteral("'");
    };

    QTest::newRow("folder blocked by a file")
        << true << HKEY_LOCAL_MACHINE << kSection << REG_SZ << QVariant(40000) << RegistryKeyError
        << message(rootText, kSection, QStringLiteral("40000"));
    QTest::newRow("no root key") << false << qint32(0) << kSection << REG_SZ << QVariant(40000) << RegistryKeyError
                                 << message(QStringLiteral("0"), kSection, QStringLiteral("40000"));
    const QString emptyPart = QStringLiteral("Software\\\\Corvane");
    QTest::newRow("empty part in the key path")
        << false << HKEY_LOCAL_MACHINE << emptyPart << REG_SZ << QVariant(QStringLiteral("x")) << RegistryKeyError
        << message(rootText, emptyPart, QStringLiteral("x"));
    QTest::newRow("binary type with text")
        << false << HKEY_LOCAL_MACHINE << kSection << REG_BINARY << QVariant(QStringLiteral("abc")) << RegistryKeyError
        << message(rootText, kSection, QStringLiteral("abc"));
    QTest::newRow("no value type") << false << HKEY_LOCAL_MACHINE << kSection << qint32(0) << QVariant(40000)
                                   << RegistryWriteError << message(rootText, kSection, QStringLiteral("40000"));
    QTest::newRow("multi-text is read-only")
        << false << HKEY_LOCAL_MACHINE << kSection << REG_MULTI_SZ << QVariant(QStringLiteral("a"))
        << RegistryWriteError << message(rootText, kSection, QStringLiteral("a"));
    QTest::newRow("text without a text form")
        << false << HKEY_LOCAL_MACHINE << kSection << REG_SZ << QVariant(QVariantList { 1, 2 }) << RegistryWriteError
        << message(rootText, kSection, QString());
}

void TestCRegistry::failures()
{
    QFETCH(bool, blockFolder);
    QFETCH(qint32, classKey);
    QFETCH(QString, sectionKey);
    QFETCH(qint32, valueType);
    QFETCH(QVariant, value);

    QString path = m_path;
    if (blockFolder) {
        writeFile(m_dir->filePath(QStringLiteral("Corvane")), "a file where the folder belongs");
        path = m_dir->filePath(QStringLiteral("Corvane/Pictavo/registry.db"));
    }
    Hive hive(path);
    cRegistry registry = makeRegistry(hive, valueType, QStringLiteral("Timeout"), sectionKey);
    registry.setClassKey(classKey);
    const Common::Status status = registry.setValue(value);
    QVERIFY(!status.ok());
    QTEST(status.error().number, "number");
    QCOMPARE(status.error().source, QStringLiteral("tst_cregistry.cRegistry"));
    QTEST(status.error().message, "message");
    QVERIFY(!hive.readValue(classKey, sectionKey, QStringLiteral("Timeout")));
}

void TestCRegistry::keyFailureOnUnwritableFolder()
{
    const QString folder = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard(
        [&folder] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
    if (QFileInfo(folder).isWritable())
        QSKIP("this account may write into any folder");

    Hive hive(folder + QStringLiteral("/Pictavo/registry.db"));
    const Common::Status status
        = makeRegistry(hive, REG_SZ, QStringLiteral("AdminUserID")).setValue(QStringLiteral("admin"));
    QVERIFY(!status.ok());
    QCOMPARE(status.error().number, RegistryKeyError);
}

void TestCRegistry::missingKeysAreCreated()
{
    Hive hive(m_path);
    const QString deep = QStringLiteral("Software\\Corvane\\Pictavo\\Settings\\Deep");
    QVERIFY(!hive.keyExists(HKEY_LOCAL_MACHINE, QStringLiteral("Software")));
    QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("Value"), deep).setValue(QStringLiteral("v")).ok());

    for (const char* level : { "Software", "Software\\Corvane", "Software\\Corvane\\Pictavo",
             "Software\\Corvane\\Pictavo\\Settings", "Software\\Corvane\\Pictavo\\Settings\\Deep" })
        QVERIFY2(hive.keyExists(HKEY_LOCAL_MACHINE, QString::fromLatin1(level)), level);
    QVERIFY(!hive.keyExists(qint32(0x80000001), QStringLiteral("Software")));

    // Key paths and value names match as in the registry, without regard to case.
    QCOMPARE(makeRegistry(
                 hive, REG_SZ, QStringLiteral("VALUE"), QStringLiteral("software\\CORVANE\\pictavo\\settings\\deep"))
                 .Value(),
        QVariant(QStringLiteral("v")));
}

void TestCRegistry::oneTransactionPerWrite()
{
    Hive hive(m_path);
    QVERIFY(makeRegistry(hive, REG_SZ).setValue(QStringLiteral("first")).ok());
    QCOMPARE(changeCounter(m_path), 1u);

    // A new path of several keys and its value go in together.
    QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("V"), QStringLiteral("Software\\A\\B\\C")).setValue(1).ok());
    QCOMPARE(changeCounter(m_path), 2u);
    QVERIFY(makeRegistry(hive, REG_SZ).setValue(QStringLiteral("second")).ok());
    QCOMPARE(changeCounter(m_path), 3u);

    // Even a refused value costs at most one transaction.
    QVERIFY(!makeRegistry(hive, REG_BINARY, QStringLiteral("V"), QStringLiteral("Software\\D")).setValue(1).ok());
    QVERIFY(changeCounter(m_path) <= 4u);

    QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-journal")));
    QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-wal")));
}

void TestCRegistry::fileIsUserOnly()
{
    const QFile::Permissions userOnly = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther;
    Hive hive(m_path);
    QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("AdminPassword")).setValue(QStringLiteral("secret")).ok());
    QCOMPARE(QFile::permissions(m_path) & (userOnly | others | QFile::ExeOwner), userOnly);
    QVERIFY(!(QFile::permissions(QFileInfo(m_path).absolutePath()) & others));

    // A store that was made readable by others is narrowed on the next write.
    QVERIFY(QFile::setPermissions(m_path, userOnly | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("AdminPassword")).setValue(QStringLiteral("new")).ok());
    QCOMPARE(QFile::permissions(m_path) & (userOnly | others | QFile::ExeOwner), userOnly);
}

void TestCRegistry::interruptedWriteIsRolledBack()
{
    Hive hive(m_path);
    QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("Timeout")).setValue(QStringLiteral("1234")).ok());

    // Copying the files while a large transaction has spilled into the database gives what a crash leaves
    // behind: a half-written file and a hot journal that nobody holds a lock on.
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &db), SQLITE_OK);
    const auto closeDb = qScopeGuard([db] { sqlite3_close(db); });
    QCOMPARE(sqlite3_exec(db,
                 "PRAGMA cache_size = 2; BEGIN;"
                 "UPDATE registry_values SET data = CAST('99999' AS BLOB) WHERE value_name = 'Timeout';"
                 "INSERT INTO registry_values VALUES (-2147483646, 'Software', 'Big', 3, zeroblob(2000000));",
                 nullptr, nullptr, nullptr),
        SQLITE_OK);
    const QString crashed = m_dir->filePath(QStringLiteral("crashed.db"));
    QVERIFY(QFile::copy(m_path, crashed));
    QVERIFY(QFile::copy(m_path + QStringLiteral("-journal"), crashed + QStringLiteral("-journal")));
    QVERIFY(fileBytes(crashed).size() > 1000000);
    QCOMPARE(sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);

    Hive afterCrash(crashed);
    cRegistry reader = makeRegistry(afterCrash, REG_SZ, QStringLiteral("Timeout"));
    reader.setDefault(QStringLiteral("default"));
    QCOMPARE(reader.Value(), QVariant(QStringLiteral("1234")));
    QVERIFY(!afterCrash.readValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software"), QStringLiteral("Big")));
}

void TestCRegistry::foreignFileIsNeverWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << QStringLiteral("text");
    QTest::newRow("another program's database") << QStringLiteral("foreign");
    QTest::newRow("store with a damaged header") << QStringLiteral("damaged");
}

void TestCRegistry::foreignFileIsNeverWritten()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    if (kind == QLatin1String("text")) {
        writeFile(m_path, QByteArray("Timeout=1234\n").repeated(400));
    } else if (kind == QLatin1String("foreign")) {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('keep me')", nullptr,
                     nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    } else {
        Hive hive(m_path);
        QVERIFY(makeRegistry(hive, REG_SZ, QStringLiteral("Timeout")).setValue(QStringLiteral("1234")).ok());
        QByteArray bytes = fileBytes(m_path);
        bytes.replace(0, 16, "not a database!!");
        writeFile(m_path, bytes);
    }
    const QByteArray before = fileBytes(m_path);

    Hive hive(m_path);
    cRegistry reader = makeRegistry(hive, REG_SZ, QStringLiteral("Timeout"));
    reader.setDefault(40000);
    QCOMPARE(reader.Value(), QVariant(40000));

    const Common::Status status = makeRegistry(hive, REG_SZ, QStringLiteral("Timeout")).setValue(5000);
    QVERIFY(!status.ok());
    QCOMPARE(status.error().number, RegistryKeyError);
    QCOMPARE(fileBytes(m_path), before);
    QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-journal")));
}

void TestCRegistry::defaultFilePath()
{
    QVERIFY(Hive::defaultFilePath().endsWith(QStringLiteral("/Corvane/Pictavo/registry.db")));
    QVERIFY(Hive::defaultFilePath().startsWith(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')));
    QCOMPARE(Hive(QStringLiteral("/x/y.db")).filePath(), QStringLiteral("/x/y.db"));
}

QTEST_GUILESS_MAIN(TestCRegistry)
#include "tst_cregistry.moc"
