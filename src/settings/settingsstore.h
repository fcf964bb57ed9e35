#pragma once

#include <optional>

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include "common/result.h"

namespace Settings {

class Hive;

// The application's key path below "Software": "Corvane\Pictavo".
QString appKeyPath();
// The section that holds every setting: "Settings".
QString settingsSection();
// "Software\" + appPath + "\" + section, for the settings "Software\Corvane\Pictavo\Settings": registry key
// paths keep "\" as their separator.
QString settingsKeyPath(const QString& appPath, const QString& section);

// The value named key under HKEY_LOCAL_MACHINE\Software\<appPath>\<section>, or defaultValue when the key,
// the value or a readable hive is missing. The result is untyped (text for values stored as text); the
// caller converts it, for instance with toLong or toBoolean.
QVariant ReadSetting(
    Hive& hive, const QString& appPath, const QString& section, const QString& key, const QVariant& defaultValue);

// Stores value as text (Booleans as "True" and "False") under the same key, creating the key path when it
// is missing. A text is stored exactly as given, even one that looks like a %NAME% reference, so that it
// reads back unchanged. Fails with cRegistry's errors (RegistryKeyError, RegistryWriteError); the old
// value is then left as it was.
Common::Status WriteSetting(
    Hive& hive, const QString& appPath, const QString& section, const QString& key, const QVariant& value);

// Removes the value named key from the same key, so that the store keeps no copy of it. Succeeds when the
// value is gone, also when it was never there; fails (RegistryWriteError) when the file cannot be written.
Common::Status RemoveSetting(Hive& hive, const QString& appPath, const QString& section, const QString& key);

// A whole number from a stored value: a number, or a text that is a complete decimal number once trimmed
// (optional sign, digits, optional fraction), rounded to the nearest whole number with halves to even
// ("12.5" -> 12, "13.5" -> 14). nullopt for anything else (empty, "abc", "12abc", "1e3") and for numbers
// outside the 32-bit signed range.
std::optional<qint32> toLong(const QVariant& v);

// A Boolean from a stored value: the words True and False in any case, or a number (0 is false, any other
// number true). nullopt for anything else.
std::optional<bool> toBoolean(const QVariant& v);

} // namespace Settings
