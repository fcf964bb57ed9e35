#pragma once

#include <chrono>

#include <QCoreApplication>
#include <QString>

#include "common/result.h"

namespace Settings {

class Hive;

// Where the administrator's password lives. Where a Secret Service keyring answers (GNOME Keyring,
// KWallet's Secret Service) it is kept there, through QtKeychain, under the service "pictavo-studio" and
// an entry per admin address and user, and the settings store keeps no copy. Where none answers (a server,
// cron without a session bus, a keyring that refuses) it stays in the settings store, owner-only, as the
// value AdminPassword.
//
// Every call waits for its keyring job in a local event loop, never longer than the time-out, so a keyring
// that does not answer cannot hold up a run. Main thread only (QtKeychain runs its jobs there).
class PasswordStore final {
    Q_DECLARE_TR_FUNCTIONS(PasswordStore)

public:
    enum class Place { Keyring, SettingsStore };

    struct Saved final {
        Place place = Place::Keyring;
        // For Place::SettingsStore: one line for the user saying why the keyring was not used.
        QString note;
    };

    static constexpr std::chrono::milliseconds DefaultTimeout { 5000 };

    explicit PasswordStore(Hive& hive, std::chrono::milliseconds timeout = DefaultTimeout);

    // Without touching the keyring: a line saying why the password would stay in the settings store (no
    // session bus, no Secret Service on it), or an empty text when a keyring may take it.
    QString unavailableNote() const;

    // Keeps the password for url and user in the keyring, and only once the keyring confirmed the write
    // removes the settings store's copy (one from before a keyring was used included). Otherwise writes it
    // to the settings store. Fails only when the password could not be kept anywhere, or when the store's
    // old copy could not be removed after the keyring took the new one.
    Common::Result<Saved> save(const QString& url, const QString& user, const QString& password);

    // The password for url and user: the settings store's copy when it holds one (the newest save put it
    // there), else the keyring's; empty when neither holds one or there is no keyring at all. Fails when the
    // keyring does not answer within the time-out or refuses.
    Common::Result<QString> read(const QString& url, const QString& user);

private:
    Hive& m_hive;
    std::chrono::milliseconds m_timeout;
};

} // namespace Settings
