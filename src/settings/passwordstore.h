#pragma once

#include <chrono>
#include <optional>

#include <QCoreApplication>
#include <QString>

#include "common/result.h"

namespace Settings {

class Hive;

// Where the administrator's password lives, as the user chose at the last save: in a Secret Service keyring
// (GNOME Keyring, KWallet's Secret Service), through QtKeychain, under the service "pictavo-studio" and an
// entry per admin address and user; or in the settings store as the value AdminPassword, owner-only, the
// choice for a machine whose scheduled jobs reach no keyring. The value AdminPasswordPlace beside it records
// the place of the last save. A store from before that value keeps its password where an earlier release
// put it: in the store when AdminPassword is there, else in the keyring once a setup stored the address.
//
// A password that should be in the keyring and cannot be read from it is an error naming the keyring, never
// an empty password, so that no caller logs in with one.
//
// Every call waits for its keyring job in a local event loop, never longer than the time-out, so a keyring
// that does not answer cannot hold up a run. Main thread only (QtKeychain runs its jobs there).
class PasswordStore final {
    Q_DECLARE_TR_FUNCTIONS(PasswordStore)

public:
    enum class Place { Keyring, SettingsStore };

    struct Saved final {
        Place place = Place::Keyring;
        // One line for the user when the keyring could not do what was wanted: why it did not take the
        // password, or why its old copy is still there. Empty otherwise.
        QString note;
    };

    static constexpr std::chrono::milliseconds DefaultTimeout { 5000 };

    explicit PasswordStore(Hive& hive, std::chrono::milliseconds timeout = DefaultTimeout);

    // Where the stored password is, from the settings store alone; nullopt when none was ever stored.
    static std::optional<Place> storedPlace(Hive& hive);

    // Without touching the keyring: a line saying why the password would stay in the settings store (no
    // session bus, no Secret Service on it), or an empty text when a keyring may take it.
    QString unavailableNote() const;

    // Keeps the password for url and user in the place wanted. The new copy is written and confirmed before
    // the other place's copy is removed, so a failure on the way leaves a readable password where it was.
    // A keyring that is wanted but cannot take it sends the password to the settings store, with a note
    // saying why; a keyring copy that cannot be removed after a move to the store gives a note too. Fails
    // when the password could not be kept in any place, or could not be moved out of the settings store.
    Common::Result<Saved> save(const QString& url, const QString& user, const QString& password, Place wanted);

    // The stored password for url and user; empty when none was ever stored. Fails, naming the keyring,
    // when the password is kept there and no keyring can be reached, or it does not answer within the
    // time-out (one waiting to be unlocked), refuses, or gives no entry for url and user (a locked keyring
    // whose unlock prompt was dismissed gives none).
    Common::Result<QString> read(const QString& url, const QString& user);

private:
    Hive& m_hive;
    std::chrono::milliseconds m_timeout;
};

} // namespace Settings
