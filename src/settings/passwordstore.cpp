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
    const QString kSecretsBusName = QStringLiteral("org.freedesktop.secrets");

    QString entryKey(const QString& url, const QString& user) { return user + QLatin1Char('@') + url; }

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

QString PasswordStore::unavailableNote() const
{
    // Asking libsecret without a bus would try to start one through X11, which a cron job must not do.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return tr("No desktop keyring (no session bus): the admin password is kept in the settings store, "
                  "readable by you only.");
    const QDBusConnectionInterface* daemon = bus.interface();
    if (daemon && !daemon->isServiceRegistered(kSecretsBusName).value()
        && !daemon->activatableServiceNames().value().contains(kSecretsBusName))
        return tr("No desktop keyring (no Secret Service on the session bus): the admin password is kept in the "
                  "settings store, readable by you only.");
    return {};
}

Common::Result<PasswordStore::Saved> PasswordStore::save(
    const QString& url, const QString& user, const QString& password)
{
    QString note = unavailableNote();
    if (note.isEmpty()) {
        auto* job = new QKeychain::WritePasswordJob(kService);
        job->setKey(entryKey(url, user));
        job->setTextData(password);
        const JobOutcome outcome = runJob(job, m_timeout);
        if (outcome.answered && outcome.error == QKeychain::NoError) {
            const Common::Status removed = RemoveSetting(m_hive, appKeyPath(), settingsSection(), kValueName);
            if (!removed)
                return Common::Error { removed.error().number, QStringLiteral("PasswordStore"),
                    tr("The password is in the desktop's keyring, but its old copy could not be removed from "
                       "the settings store: %1")
                        .arg(removed.error().message) };
            return Saved { Place::Keyring, {} };
        }
        note = outcome.answered
            ? tr("The desktop's keyring refused the admin password (%1): it is kept in the settings store, "
                 "readable by you only.")
                  .arg(outcome.errorText.simplified())
            : tr("The desktop's keyring did not answer within %1 s: the admin password is kept in the settings "
                 "store, readable by you only.")
                  .arg(seconds(m_timeout));
    }
    const Common::Status stored = WriteSetting(m_hive, appKeyPath(), settingsSection(), kValueName, password);
    if (!stored)
        return stored.error();
    return Saved { Place::SettingsStore, note };
}

Common::Result<QString> PasswordStore::read(const QString& url, const QString& user)
{
    const QString stored = ReadSetting(m_hive, appKeyPath(), settingsSection(), kValueName, QString()).toString();
    if (!stored.isEmpty() || !unavailableNote().isEmpty())
        return stored;
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(entryKey(url, user));
    const JobOutcome outcome = runJob(job, m_timeout);
    if (!outcome.answered)
        return Common::Error { 0, QStringLiteral("PasswordStore"),
            tr("The desktop's keyring did not answer within %1 s").arg(seconds(m_timeout)) };
    if (outcome.error == QKeychain::EntryNotFound)
        return QString();
    if (outcome.error != QKeychain::NoError)
        return Common::Error { int(outcome.error), QStringLiteral("PasswordStore"),
            tr("The desktop's keyring refused the admin password: %1").arg(outcome.errorText.simplified()) };
    return outcome.text;
}

} // namespace Settings
