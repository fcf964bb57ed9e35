// Feeds arbitrary rows of the settings store to the registry's reads. The store is a file in the user's
// folder that other tools (or an older program) may have written, so its rows cannot be trusted: any type
// number, any bytes, even values SQLite keeps as text or numbers. Also writes arbitrary texts through the
// settings API and reads them back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QtEndian>

#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>

#include "fuzzsupport.h"
#include "settings/cregistry.h"
#include "settings/hive.h"
#include "settings/settingsstore.h"

namespace {

using namespace Settings;

const QString kApp = QStringLiteral("Corvane\\Pictavo");
const QString kSection = QStringLiteral("Settings");

Hive& hive()
{
    static Hive store(FuzzSupport::scratchFolder() + QStringLiteral("/registry.db"));
    return store;
}

// A second connection, standing for another tool that edits the store behind the program's back.
sqlite3* otherTool()
{
    static sqlite3* db = [] {
        // The program creates the file and its schema with its first write.
        FUZZ_CHECK(bool(WriteSetting(hive(), kApp, kSection, QStringLiteral("Seed"), QStringLiteral("1"))));
        sqlite3* opened = nullptr;
        FUZZ_CHECK(sqlite3_open_v2(hive().filePath().toUtf8().constData(), &opened, SQLITE_OPEN_READWRITE, nullptr)
            == SQLITE_OK);
        // Its own writes need neither durability nor a journal file; the program's writes keep theirs.
        sqlite3_exec(opened, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
        sqlite3_exec(opened, "PRAGMA journal_mode = MEMORY", nullptr, nullptr, nullptr);
        return opened;
    }();
    return db;
}

struct StoredRow {
    qint64 type = 0;
    QByteArray data;
};

// Stores a row with the type and data columns bound as the input chooses, and reads back what SQLite
// made of it, which is what the program's own read gets too. Nothing when SQLite refuses the row (a NaN
// is bound as NULL, which the schema forbids).
std::optional<StoredRow> storeRow(FuzzedDataProvider& input, const QString& valueName)
{
    static const qint64 knownTypes[]
        = { REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, 0, 11 };
    sqlite3_stmt* insert = nullptr;
    FUZZ_CHECK(sqlite3_prepare_v2(otherTool(),
                   "INSERT OR REPLACE INTO registry_values (root, key_path, value_name, type, data)"
                   " VALUES (?1, ?2, ?3, ?4, ?5)",
                   -1, &insert, nullptr)
        == SQLITE_OK);
    const QByteArray keyPath = settingsKeyPath(kApp, kSection).toUtf8();
    const QByteArray name = valueName.toUtf8();
    sqlite3_bind_int64(insert, 1, HKEY_LOCAL_MACHINE);
    sqlite3_bind_text(insert, 2, keyPath.constData(), int(keyPath.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        sqlite3_bind_int64(insert, 4, input.PickValueInArray(knownTypes));
        break;
    case 1:
        sqlite3_bind_int64(insert, 4, input.ConsumeIntegral<qint64>());
        break;
    case 2:
        sqlite3_bind_double(insert, 4, input.ConsumeFloatingPoint<double>());
        break;
    default: {
        const std::string text = input.ConsumeRandomLengthString(12);
        sqlite3_bind_text(insert, 4, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
    const int storage = input.ConsumeIntegralInRange(0, 3);
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    switch (storage) {
    case 0:
    case 1:
        sqlite3_bind_blob(insert, 5, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    case 2:
        sqlite3_bind_text(insert, 5, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    default: {
        FuzzedDataProvider number(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (bytes.size() % 2 == 0)
            sqlite3_bind_int64(insert, 5, number.ConsumeIntegral<qint64>());
        else
            sqlite3_bind_double(insert, 5, number.ConsumeFloatingPoint<double>());
    }
    }
    const int inserted = sqlite3_step(insert);
    sqlite3_finalize(insert);
    if (inserted == SQLITE_CONSTRAINT)
        return std::nullopt;
    FUZZ_CHECK(inserted == SQLITE_DONE);

    sqlite3_stmt* select = nullptr;
    FUZZ_CHECK(sqlite3_prepare_v2(otherTool(),
                   "SELECT type, data FROM registry_values WHERE root = ?1 AND key_path = ?2 AND value_name = ?3", -1,
                   &select, nullptr)
        == SQLITE_OK);
    sqlite3_bind_int64(select, 1, HKEY_LOCAL_MACHINE);
    sqlite3_bind_text(select, 2, keyPath.constData(), int(keyPath.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(select, 3, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    FUZZ_CHECK(sqlite3_step(select) == SQLITE_ROW);
    StoredRow row;
    row.type = sqlite3_column_int64(select, 0);
    const void* blob = sqlite3_column_blob(select, 1);
    row.data = QByteArray(static_cast<const char*>(blob), blob ? sqlite3_column_bytes(select, 1) : 0);
    sqlite3_finalize(select);
    return row;
}

// The registry matches names regardless of ASCII case only, as SQLite's NOCASE does.
QString asciiUpper(QString text)
{
    for (QChar& c : text) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return text;
}

QString storedText(const QByteArray& data) { return QString::fromUtf8(data.endsWith('\0') ? data.chopped(1) : data); }

void checkRead(const StoredRow& row, const QString& valueName)
{
    const QVariant fallback(QStringLiteral("fallback"));
    cRegistry registry(hive());
    registry.setClassKey(HKEY_LOCAL_MACHINE);
    registry.setSectionKey(settingsKeyPath(kApp, kSection));
    registry.setValueKey(valueName);
    registry.setValueType(REG_SZ);
    registry.setDefault(fallback);
    const QVariant value = registry.Value();

    const auto type = qint32(row.type);
    switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ:
        FUZZ_CHECK(value == QVariant(storedText(row.data)));
        break;
    case REG_EXPAND_SZ:
        FUZZ_CHECK(value.typeId() == QMetaType::QString);
        if (!row.data.contains('%'))
            FUZZ_CHECK(value == QVariant(storedText(row.data)));
        break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (row.data.size() != 4) {
            FUZZ_CHECK(value == fallback && registry.ValueType() == REG_SZ);
            return;
        }
        FUZZ_CHECK(value
            == QVariant(type == REG_DWORD ? qFromLittleEndian<qint32>(row.data.constData())
                                          : qFromBigEndian<qint32>(row.data.constData())));
        break;
    default:
        FUZZ_CHECK(value == QVariant(row.data));
        break;
    }
    FUZZ_CHECK(registry.ValueType() == type);

    // What the settings loader does with every value it reads.
    (void)toLong(value);
    (void)toBoolean(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Each input starts from an empty store: runs repeat, and the store on /dev/shm does not grow.
    FUZZ_CHECK(sqlite3_exec(otherTool(), "DELETE FROM registry_values", nullptr, nullptr, nullptr) == SQLITE_OK);
    FuzzedDataProvider input(data, size);
    const std::string nameBytes = input.ConsumeRandomLengthString(16);
    const QString valueName = QString::fromUtf8(nameBytes.data(), qsizetype(nameBytes.size()));

    if (input.ConsumeBool()) {
        // A setting written by the program reads back exactly, whatever it holds ("%HOME%", NULs, any
        // script), and value names match regardless of ASCII case.
        const std::string textBytes = input.ConsumeRemainingBytesAsString();
        const QString text = QString::fromUtf8(textBytes.data(), qsizetype(textBytes.size()));
        FUZZ_CHECK(bool(WriteSetting(hive(), kApp, kSection, valueName, text)));
        FUZZ_CHECK(ReadSetting(hive(), kApp, kSection, asciiUpper(valueName), QVariant()) == QVariant(text));
        return 0;
    }
    if (const std::optional<StoredRow> row = storeRow(input, valueName))
        checkRead(*row, valueName);
    return 0;
}
