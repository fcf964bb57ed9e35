#include "cli/admincommand.h"

#include <cstdio>

#include <QTimer>

#include "admin/adminchannel.h"
#include "admin/linksimport.h"
#include "admin/uploadrun.h"
#include "batch/appfolders.h"
#include "cli/exitcodes.h"
#include "cli/terminalboxes.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"
#include "settings/settingsstore.h"

namespace Cli {

namespace {

    void writeOut(const QString& text)
    {
        std::fputs(text.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }

    void writeErr(const QString& text)
    {
        std::fputs((QStringLiteral("pictavo: ") + text + QLatin1Char('\n')).toUtf8().constData(), stderr);
    }

} // namespace

AdminCommand::AdminCommand(const Settings::LiveSettings& settings, Settings::Hive& hive, QString programFolder,
    const Invocation& call, const QString& password, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_hive(hive)
    , m_programFolder(std::move(programFolder))
    , m_call(call)
    , m_login(Admin::AdminLogin::fromSettings(settings))
    , m_channel(new Admin::AdminChannel(this))
{
    if (call.command == Invocation::Command::Setup)
        m_login = { call.adminUrl, call.adminUser, password };
}

AdminCommand::~AdminCommand() = default;

void AdminCommand::end(int exitCode)
{
    if (std::exchange(m_ended, true))
        return;
    QTimer::singleShot(0, this, [this, exitCode] { Q_EMIT finished(exitCode); });
}

void AdminCommand::start()
{
    // An import replaces the links database and an upload sends the thumbnails: neither while a run works
    // there, nor two at once.
    const bool import = m_call.command == Invocation::Command::Import;
    if (import || m_call.command == Invocation::Command::Upload) {
        Common::Result<Batch::FolderLock> held = import
            ? Batch::FolderLock::forImport(m_programFolder)
            : Batch::FolderLock::forUpload(m_programFolder, m_settings.ViewerFolder);
        if (!held) {
            writeErr(oneLine(held.error().message));
            return end(ExitCode::CannotStart);
        }
        m_folders = std::move(held.value());
    }
    // A --set or a password kept in the settings store is already here; otherwise the keyring has it. One
    // that cannot be read ends the command before anything is sent: the server would only refuse an empty
    // password, and blame the user for it.
    if (m_call.command != Invocation::Command::Setup && m_login.password.isEmpty()) {
        const Common::Result<QString> password = Settings::PasswordStore(m_hive).read(m_login.url, m_login.userId);
        if (m_ended)
            return;
        if (!password) {
            writeErr(QStringLiteral("%1; nothing was sent. Unlock the keyring, or keep the password in the settings "
                                    "file: pictavo setup --url %2 --user %3 --password-in-settings < password-file")
                         .arg(oneLine(password.error().message), oneLine(m_login.url), oneLine(m_login.userId)));
            return end(ExitCode::CannotStart);
        }
        m_login.password = password.value();
    }
    m_channel->send(Admin::loginRequest(m_login), [this](const Admin::AdminReply& reply) { handleLogin(reply); });
}

void AdminCommand::interrupt(int count)
{
    m_interrupted = true;
    if (m_upload && m_upload->isRunning()) {
        if (count == 1) {
            writeErr(QStringLiteral("stopping; waiting for the requests in flight (Ctrl-C again to cut them)"));
            m_upload->stop();
        } else {
            m_upload->abort();
        }
        return;
    }
    // Nothing else is worth waiting for: an import replaces the database only once it is complete.
    m_channel->abort();
    if (m_import)
        m_import->abort();
    end(ExitCode::Interrupted);
}

void AdminCommand::handleLogin(const Admin::AdminReply& reply)
{
    if (m_interrupted)
        return end(ExitCode::Interrupted);
    if (!reply.completed) {
        writeErr(QStringLiteral("cannot reach the administration script at %1: %2")
                     .arg(oneLine(m_login.url), oneLine(reply.statusText)));
        return end(ExitCode::CannotStart);
    }
    if (!Admin::isLoginAccepted(reply)) {
        writeErr(QStringLiteral("the administration script at %1 refused the login of %2 (%3)")
                     .arg(oneLine(m_login.url), oneLine(m_login.userId),
                         reply.statusCode == 200 ? QStringLiteral("wrong user or password")
                                                 : Admin::importFailureText(reply)));
        return end(ExitCode::CannotStart);
    }
    switch (m_call.command) {
    case Invocation::Command::Import:
        return startImport();
    case Invocation::Command::Count:
        return startCount();
    case Invocation::Command::Upload:
        return startUpload();
    case Invocation::Command::Setup:
        return storeLogin();
    default:
        return end(ExitCode::CannotStart);
    }
}

void AdminCommand::storeLogin()
{
    const QList<QPair<QString, QString>> values { { QStringLiteral("AdminURL"), m_login.url },
        { QStringLiteral("AdminUserID"), m_login.userId } };
    for (const auto& [key, value] : values) {
        const Common::Status stored
            = Settings::WriteSetting(m_hive, Settings::appKeyPath(), Settings::settingsSection(), key, value);
        if (!stored) {
            writeErr(QStringLiteral("cannot store %1: %2").arg(key, stored.error().message));
            return end(ExitCode::SomeFailed);
        }
    }
    using Place = Settings::PasswordStore::Place;
    const Common::Result<Settings::PasswordStore::Saved> saved = Settings::PasswordStore(m_hive).save(m_login.url,
        m_login.userId, m_login.password, m_call.passwordInSettings ? Place::SettingsStore : Place::Keyring);
    if (!saved) {
        writeErr(QStringLiteral("cannot store AdminPassword: %1").arg(oneLine(saved.error().message)));
        return end(ExitCode::SomeFailed);
    }
    if (!saved.value().note.isEmpty())
        writeErr(oneLine(saved.value().note));
    // Said every time: where the password is decides whether a scheduled job can read it.
    writeOut(QStringLiteral("Connected successfully to the admin panel; the address and login are stored, the "
                            "password in %1\n")
                 .arg(saved.value().place == Place::Keyring ? QStringLiteral("the desktop's keyring")
                                                            : QStringLiteral("the settings file")));
    end(ExitCode::Success);
}

void AdminCommand::startCount()
{
    Admin::AdminRequest request = Admin::totalLinksCountRequest(m_login);
    m_channel->send(request, [this](const Admin::AdminReply& reply) {
        // A count of 0 is also what the window shows for a failure; here a failure says so.
        if (!reply.completed || reply.statusCode != 200 || !reply.body || !reply.body->contains("Count=")) {
            writeErr(QStringLiteral("the count failed: %1")
                         .arg(reply.completed ? Admin::importFailureText(reply) : oneLine(reply.statusText)));
            return end(ExitCode::SomeFailed);
        }
        writeOut(QString::number(Admin::totalLinksCount(reply)) + QLatin1Char('\n'));
        end(ExitCode::Success);
    });
}

void AdminCommand::startImport()
{
    m_import = new Admin::LinksImport(Batch::AppFolders(m_programFolder).LinksInfoFile, this);
    connect(m_import, &Admin::LinksImport::importFinished, this, [this](bool ok, qint32 count, const QString& message) {
        if (m_interrupted)
            return end(ExitCode::Interrupted);
        if (!ok) {
            writeErr(QStringLiteral("the import failed: %1; the links database is unchanged").arg(oneLine(message)));
            return end(ExitCode::SomeFailed);
        }
        writeOut(QStringLiteral("%1 links imported into %2\n")
                     .arg(count)
                     .arg(Batch::AppFolders(m_programFolder).LinksInfoFile));
        end(ExitCode::Success);
    });
    const int mode = m_call.importMode.value_or(m_settings.ImportLinksMode);
    const int period = m_call.period.value_or(std::clamp<int>(m_settings.ImportLinksPeriod, 0, 15));
    m_import->importLinks(m_login, mode >= 1 && mode <= 4 ? mode : 1, period, period);
}

void AdminCommand::startUpload()
{
    m_upload = new Admin::UploadRun(this);
    connect(m_upload, &Admin::UploadRun::logAppended, this, [](const QString& text) {
        // The server's replies, line by line; the window's closing line of dashes is left out.
        for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            if (!line.startsWith(QStringLiteral("-----")))
                writeOut(oneLine(line) + QLatin1Char('\n'));
        }
    });
    connect(m_upload, &Admin::UploadRun::finished, this, &AdminCommand::handleUploadFinished);

    Admin::UploadOptions options;
    options.login = m_login;
    // What `run` wrote, wherever the settings or --folder put it.
    options.folder = m_settings.ImagesFolder;
    options.connections = m_call.connections.value_or(std::clamp<int>(m_settings.UploadConnections, 1, 10));
    options.filesPerConnection
        = m_call.filesPerConnection.value_or(std::clamp<int>(m_settings.UploadConnectionFiles, 1, 100));
    if (m_call.firstFile || m_call.lastFile)
        options.range = std::pair<int, int>(
            m_call.firstFile.value_or(1), m_call.lastFile.value_or(std::numeric_limits<int>::max()));
    options.clientName = QStringLiteral("Pictavo Studio");
    m_upload->start(options);
}

void AdminCommand::handleUploadFinished()
{
    writeErr(QStringLiteral("%1 of %2 files sent, %3 failed, %4 empty and skipped")
                 .arg(m_upload->successCount())
                 .arg(m_upload->total())
                 .arg(m_upload->failedCount())
                 .arg(m_upload->skippedCount()));
    if (m_interrupted) {
        if (m_upload->nextFileNumber() <= m_upload->lastFileNumber())
            writeErr(QStringLiteral("stopped; resume with: pictavo upload --from %1").arg(m_upload->nextFileNumber()));
        return end(ExitCode::Interrupted);
    }
    end(m_upload->failedCount() > 0 ? ExitCode::SomeFailed : ExitCode::Success);
}

} // namespace Cli
