#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Settings {

// One stored value: its registry value type (1 text, 2 expandable text, 3 binary, 4 32-bit number,
// 5 big-endian 32-bit number, 7 multi-text, or any other number another tool chose) and its raw bytes.
struct HiveValue final {
    qint32 type = 0;
    QByteArray data;
};

// The store file: an SQLite database of (root, key path, value name, type, data) that stands in for the
// machine-wide registry. Key paths use "\" between their parts, as registry paths do; key paths and value
// names match without regard to ASCII case, as in the registry. Roots are the predefined root key handles
// (0x80000000 to 0x80000006).
//
// The file is opened for each operation and closed again, so nothing is held between calls and the
// constructor touches nothing. Reads never create the file. Each write is one SQLite transaction: the
// missing keys of the path and the value land together or not at all. Creating the file creates its
// folder (new levels user-only) and gives the file 0600 permissions, since it holds the admin password;
// an existing file with broader permissions is narrowed on the next write.
//
// A file that is not a store of this program (not SQLite at all, or another program's database) is never
// written: reads find nothing in it and writes fail with WriteResult::KeyFailed.
//
// Used from one thread at a time; low-level, meant for cRegistry only.
class Hive final {
public:
    enum class WriteResult {
        Written, // the key path exists and the value, if one was given, is stored
        KeyFailed, // the file, its folder or the key path could not be opened or created
        ValueFailed, // the key path could be opened but the value could not be stored
    };

    explicit Hive(QString filePath);
    ~Hive();
    Q_DISABLE_COPY_MOVE(Hive)

    // QStandardPaths::GenericConfigLocation + "/Corvane/Pictavo/registry.db".
    static QString defaultFilePath();
    QString filePath() const;

    static bool isRootKey(qint32 root);

    // The value, or nullopt when the file, the key or the value is missing or the file cannot be read.
    std::optional<HiveValue> readValue(qint32 root, const QString& keyPath, const QString& valueName) const;
    bool keyExists(qint32 root, const QString& keyPath) const;

    // Creates every missing key of keyPath and, when value is given, stores it under valueName
    // (replacing what was there), all in one transaction. Without a value only the key path is made.
    WriteResult writeValue(
        qint32 root, const QString& keyPath, const QString& valueName, const std::optional<HiveValue>& value);

    // Removes the value and leaves its key. True when the value is gone afterwards, also when it (or the
    // file) never existed; false when the file could not be written.
    bool removeValue(qint32 root, const QString& keyPath, const QString& valueName);

private:
    QString m_filePath;
};

} // namespace Settings
