#pragma once

#include <QObject>
#include <QPointer>

#include "admin/adminrequests.h"
#include "batch/folderlock.h"
#include "cli/commandline.h"

namespace Settings {
class Hive;
struct LiveSettings;
}
namespace Admin {
class AdminChannel;
class LinksImport;
class UploadRun;
}

namespace Cli {

// `pictavo import`, `count` and `upload`: the window's requests to the administration script with the
// stored address and login, which is checked first so that a refusal ends the command before it
// touches anything; `pictavo setup` checks a new login and stores it. Ends in one finished() with the
// exit status.
class AdminCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AdminCommand)

public:
    // password is the one setup stores; the other commands use the stored login.
    AdminCommand(const Settings::LiveSettings& settings, Settings::Hive& hive, QString programFolder,
        const Invocation& call, const QString& password = {}, QObject* parent = nullptr);
    ~AdminCommand() override;

    void start();
    void interrupt(int count);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void handleLogin(const Admin::AdminReply& reply);
    void startImport();
    void startCount();
    void startUpload();
    void storeLogin();
    void handleUploadFinished();
    void end(int exitCode);

    const Settings::LiveSettings& m_settings;
    Settings::Hive& m_hive;
    QString m_programFolder;
    Invocation m_call;
    Admin::AdminLogin m_login;
    Admin::AdminChannel* m_channel = nullptr;
    Admin::LinksImport* m_import = nullptr;
    Admin::UploadRun* m_upload = nullptr;
    Batch::FolderLock m_folders;
    bool m_interrupted = false;
    bool m_ended = false;
};

} // namespace Cli
