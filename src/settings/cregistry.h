#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include "common/result.h"

namespace Settings {

class Hive;

// The predefined root key of the machine-wide hive.
inline constexpr qint32 HKEY_LOCAL_MACHINE = qint32(0x80000002);

// Registry value types.
inline constexpr qint32 REG_SZ = 1;
inline constexpr qint32 REG_EXPAND_SZ = 2;
inline constexpr qint32 REG_BINARY = 3;
inline constexpr qint32 REG_DWORD = 4;
inline constexpr qint32 REG_DWORD_BIG_ENDIAN = 5;
inline constexpr qint32 REG_MULTI_SZ = 7;

// Error numbers of a failed assignment to cRegistry::Value.
inline constexpr int RegistryKeyError = 26001; // the key could not be opened or created
inline constexpr int RegistryWriteError = -2147194455; // the value could not be written, or its type is unsupported

// One access to one value of the hive: set the root (ClassKey), the key path below it (SectionKey, parts
// separated by "\"), the value's name (ValueKey), its type (ValueType) and what a read returns when there
// is nothing to read (Default); then read Value() or assign setValue(). Meant to be created for a single
// read or write. Does not own the hive; the hive must outlive it.
class cRegistry final {
public:
    explicit cRegistry(Hive& hive);

    qint32 ClassKey() const;
    void setClassKey(qint32 classKey);
    QString SectionKey() const;
    void setSectionKey(const QString& sectionKey);
    QString ValueKey() const;
    void setValueKey(const QString& valueKey);
    qint32 ValueType() const;
    void setValueType(qint32 valueType);
    QVariant Default() const;
    void setDefault(const QVariant& defaultValue);

    // When true (the initial state), a text assigned with ValueType 1 or 2 is stored as expandable text
    // (type 2) whenever it holds a "%" followed at least two characters later by another "%", so that a
    // later read expands %NAME% references from the environment. When false, the text is stored with
    // the ValueType as it stands and reads back exactly as written.
    bool DetectExpandable() const;
    void setDetectExpandable(bool detect);

    // The stored value converted by its stored type (text, expanded text, 32-bit number, or the raw
    // bytes of any other type), and ValueType set to that type. A missing key or value, or a hive that
    // cannot be read, gives Default and leaves ValueType alone; nothing is raised.
    QVariant Value();

    // Stores value under ValueType's rules, creating the key path when it is missing, in one transaction.
    // Errors carry RegistryKeyError or RegistryWriteError, the source "<executable>.cRegistry" and a
    // message naming root, key path, value name and value.
    Common::Status setValue(const QVariant& value);

private:
    Common::Error failure(int number, const QVariant& value) const;

    Hive& m_hive;
    qint32 m_classKey = 0;
    QString m_sectionKey;
    QString m_valueKey;
    qint32 m_valueType = 0;
    QVariant m_default;
    bool m_detectExpandable = true;
};

} // namespace Settings
