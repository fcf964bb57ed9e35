#include "settings/passwordstore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include "settings/settingsstore.h"

namespace Settings {

namespace {

    const QString kService = QStringLiteral("pictavo-studio");
    const QString kValueName = QStringLiteral("AdminPassword");
    const QString kPlaceName = QStringLiteral("AdminPasswordPlace");
    const QString kInKeyring = QStringLiteral("Keyring");
    const QString kInSettings = QStringLiteral("SettingsStore");
    const QString kSecretsBusName = QStringLiteral("org.freedesktop.secrets");

    QString entryKey(const QString& url, const QString& user) { return user + QLatin1Char('@') + url; }

    QVariant stored(Hive& hive, const QString& name)
    {
        return ReadSetting(hive, appKeyPath(), settingsSection(), name, QVariant());
    }

    Common::Status store(Hive& hive, const QString& name, const QString& value)
    {
        return WriteSetting(hive, appKeyPath(), settingsSection(), name, value);
    }

    // Why no keyring can be asked, or an empty text when one may answer. Asking libsecret without a bus would
    // try to start one through X11, which a cron job must not do.
    QString keyringAbsence()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return PasswordStore::tr("no session bus");
        const QDBusConnectionInterface* daemon = bus.interface();
        if (daemon && !daemon->isServiceRegistered(kSecretsBusName).value()
            && !daemon->activatableServiceNames().value().contains(kSecretsBusName))
            return PasswordStore::tr("no Secret Service on the session bus");
        return {};
    }

    struct JobOutcome final {
        bool answered = false;
        QKeychain::Error error = QKeychain::NoError;
        QString errorText;
        QString text;
    };

    // The job deletes itself once it finishes (QtKeychain's autoDelete), never before: a job that is still
    // waiting for the keyring has handed libsecret a pointer to itself, so one that outlives the time-out is
    // left to finish, or not, on its own, and its late answer goes nowhere.
    JobOutcome runJob(QKeychain::Job* job, std::chrono::milliseconds timeout)
    {
        JobOutcome outcome;
        QEventLoop loop;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&outcome, &loop](QKeychain::Job* done) {
            outcome.answered = true;
            outcome.error = done->error();
            outcome.errorText = done->errorString();
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
                outcome.text = read->textData();
            loop.quit();
        });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        job->setAutoDelete(true);
        job->start();
        // A backend that fails at once answers inside start(), before the loop could see it.
        if (!outcome.answered) {
            deadline.start(timeout);
            loop.exec();
        }
        return outcome;
    }

    QString seconds(std::chrono::milliseconds timeout) { return QString::number(double(timeout.count()) / 1000.0); }

} // namespace

PasswordStore::PasswordStore(Hive& hive, std::chrono::milliseconds timeout)
    : m_hive(hive)
    , m_timeout(timeout)
{
}

std::optional<PasswordStore::Place> PasswordStore::storedPlace(Hive& hive)
{
    const QString place = stored(hive, kPlaceName).toString();
    if (place == kInKeyring)
        return Place::Keyring;
    if (place == kInSettings)
        return Place::SettingsStore;
    // Earlier releases removed AdminPassword only once the keyring had taken it, and a setup always stored
    // the address along with the password.
    if (stored(hive, kValueName).isValid())
        return Place::SettingsStore;
    if (stored(hive, QStringLiteral("AdminURL")).isValid())
        return Place::Keyring;
    return std::nullopt;
}

QString PasswordStore::unavailableNote() const
{
    const QString absence = keyringAbsence();
    if (absence.isEmpty())
        return {};
    return tr("No desktop keyring (%1): the admin password is kept in the settings store, readable by you only.")
        .arg(absence);
}

Common::Result<PasswordStore::Saved> PasswordStore::save(
    const QString& url, const QString& user, const QString& password, Place wanted)
{
    const auto storeError = [](const Common::Status& status, const QString& text) {
        return Common::Error { status.error().number, QStringLiteral("PasswordStore"),
            text.arg(status.error().message) };
    };
    QString note;
    if (wanted == Place::Keyring) {
        note = unavailableNote();
        if (note.isEmpty()) {
            auto* job = new QKeychain::WritePasswordJob(kService);
            job->setKey(entryKey(url, user));
            job->setTextData(password);
            const JobOutcome outcome = runJob(job, m_timeout);
            if (outcome.answered && outcome.error == QKeychain::NoError) {
                // Recorded before the store's copy goes: should the removal fail, the stale copy is never read.
                const Common::Status placed = store(m_hive, kPlaceName, kInKeyring);
                if (!placed)
                    return storeError(placed,
                        tr("The password is in the desktop's keyring, but the settings store could not be "
                           "changed and its old password stays in use: %1"));
                const Common::Status removed = RemoveSetting(m_hive, appKeyPath(), settingsSection(), kValueName);
                if (!removed)
                    return storeError(removed,
                        tr("The password is in the desktop's keyring, but its old copy could not be removed "
                           "from the settings store: %1"));
                return Saved { Place::Keyring, {} };
            }
            note = outcome.answered
                ? tr("The desktop's keyring refused the admin password (%1): it is kept in the settings store, "
                     "readable by you only.")
                      .arg(outcome.errorText.simplified())
                : tr("The desktop's keyring did not answer within %1 s: the admin password is kept in the "
                     "settings store, readable by you only.")
                      .arg(seconds(m_timeout));
        }
    }
    // Both written before the keyring's copy goes: a store that cannot be written leaves the keyring's in use.
    if (const Common::Status written = store(m_hive, kValueName, password); !written)
        return written.error();
    if (const Common::Status placed = store(m_hive, kPlaceName, kInSettings); !placed)
        return placed.error();
    if (wanted == Place::SettingsStore && keyringAbsence().isEmpty()) {
        auto* job = new QKeychain::DeletePasswordJob(kService);
        job->setKey(entryKey(url, user));
        const JobOutcome outcome = runJob(job, m_timeout);
        if (!outcome.answered || (outcome.error != QKeychain::NoError && outcome.error != QKeychain::EntryNotFound))
            note = tr("The admin password is in the settings store, but its old copy in the desktop's keyring "
                      "could not be removed (%1).")
                       .arg(outcome.answered ? outcome.errorText.simplified()
                                             : tr("no answer within %1 s").arg(seconds(m_timeout)));
    }
    return Saved { Place::SettingsStore, note };
}

Common::Result<QString> PasswordStore::read(const QString& url, const QString& user)
{
    if (storedPlace(m_hive) != Place::Keyring)
        return stored(m_hive, kValueName).toString();
    const auto failure = [](int number, const QString& text) {
        return Common::Error { number, QStringLiteral("PasswordStore"), text };
    };
    if (const QString absence = keyringAbsence(); !absence.isEmpty())
        return failure(
            0, tr("The admin password is kept in the desktop's keyring, which cannot be reached (%1)").arg(absence));
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(entryKey(url, user));
    const JobOutcome outcome = runJob(job, m_timeout);
    if (!outcome.answered)
        return failure(0,
            tr("The admin password is kept in the desktop's keyring, which did not answer within %1 s (locked?)")
                .arg(seconds(m_timeout)));
    if (outcome.error == QKeychain::EntryNotFound)
        return failure(int(outcome.error),
            tr("The desktop's keyring gave no admin password for %1 at %2: it is locked, or holds none")
                .arg(user, url));
    if (outcome.error != QKeychain::NoError)
        return failure(int(outcome.error),
            tr("The desktop's keyring refused the admin password: %1").arg(outcome.errorText.simplified()));
    return outcome.text;
}

} // namespace Settings
