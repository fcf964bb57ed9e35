#include "shell/windowcommands.h"

#include <QDialog>
#include <QStandardPaths>

#include "admin/adminservices.h"
#include "admin/widgets/frmimport.h"
#include "admin/widgets/frmsetup.h"
#include "admin/widgets/frmupload.h"
#include "batch/appfolders.h"
#include "batch/linksdatabase.h"
#include "common/desktop.h"
#include "common/messagebox.h"
#include "common/widgets/qtpickers.h"
#include "common/widgets/windowhelpers.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"
#include "settings/widgets/frmsettings.h"
#include "shell/frmabout.h"
#include "shell/frmhelp.h"
#include "shell/frmmain.h"
#include "shell/programinfo.h"
#include "snapshotter/widgets/frmshot.h"
#include "viewer/widgets/frmviewer.h"

namespace Shell {

WindowCommands::WindowCommands(MainServices& services, Batch::LinksDatabase& links, Hooks hooks, QWidget* owner)
    : QObject(owner)
    , m_services(services)
    , m_links(links)
    , m_hooks(std::move(hooks))
    , m_owner(owner)
{
}

WindowCommands::~WindowCommands() = default;

Admin::AdminServices WindowCommands::adminServices()
{
    return { m_services.hive, m_services.settings, m_services.boxes, m_services.appPath, m_hooks.refreshLinksCount,
        programName() };
}

bool WindowCommands::readAdminPassword()
{
    // The settings store holds no password where the keyring keeps it. One the keyring does not give opens
    // neither window: their requests would send an empty password, and the server would blame the user.
    Settings::LiveSettings& settings = m_services.settings;
    if (!settings.AdminPassword.isEmpty())
        return true;
    const Common::Result<QString> password
        = Settings::PasswordStore(m_services.hive).read(settings.AdminURL, settings.AdminUserID);
    if (password) {
        settings.AdminPassword = password.value();
        return true;
    }
    m_services.boxes.inform(password.error().message
            + tr(". Unlock the keyring, or open Setup, type the password and tick \"Keep the password in the "
                 "settings file\"."),
        programName(), Common::MessageBox::Icon::Critical);
    return false;
}

void WindowCommands::showOwnedWindow(QDialog* window)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    registerWindow(window);
    // A window that did not size itself gets its natural size now, so it is centred as it will show.
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    Common::CenterForm(window, m_owner);
    window->exec();
}

Common::Pickers& WindowCommands::pickers()
{
    if (!m_services.pickers) {
        m_ownPickers = std::make_unique<Common::QtPickers>(m_owner);
        m_services.pickers = m_ownPickers.get();
    }
    return *m_services.pickers;
}

QString WindowCommands::shippedPath() const
{
    return m_services.shippedPath.isEmpty() ? m_services.appPath : m_services.shippedPath;
}

void WindowCommands::setup()
{
    if (m_hooks.idle())
        showOwnedWindow(new Admin::frmSetup(adminServices(), m_owner));
}

void WindowCommands::settings()
{
    if (!m_hooks.idle())
        return;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    showOwnedWindow(new Settings::frmSettings({ m_services.hive, m_services.settings, pickers(), m_services.desktop,
                                                  m_services.appPath, cache, m_hooks.applySettings, shippedPath() },
        m_owner));
}

void WindowCommands::import()
{
    if (m_hooks.idle() && readAdminPassword())
        showOwnedWindow(new Admin::frmImport(adminServices(), m_owner));
}

void WindowCommands::upload()
{
    if (m_hooks.idle() && readAdminPassword())
        showOwnedWindow(new Admin::frmUpload(adminServices(), m_links.StartLink(), m_links.EndLink(), m_owner));
}

void WindowCommands::viewer()
{
    if (m_hooks.idle())
        showOwnedWindow(new Viewer::frmViewer(
            { m_services.settings, m_services.boxes, nullptr, Batch::AppFolders(m_services.appPath).snapshots },
            m_owner));
}

void WindowCommands::snapshotter()
{
    if (m_hooks.idle())
        showOwnedWindow(new Snapshotter::frmShot(
            { m_services.hive, m_services.settings, m_services.boxes, m_services.host, m_services.appPath }, pickers(),
            m_owner));
}

void WindowCommands::help()
{
    if (m_hooks.idle())
        showOwnedWindow(new frmHelp(m_services.desktop, shippedPath(), m_owner));
}

void WindowCommands::about()
{
    // The about window opens where it likes, not centred over the main window.
    auto* about = new frmAbout(m_services.desktop, m_owner);
    about->setAttribute(Qt::WA_DeleteOnClose);
    registerWindow(about);
    about->exec();
}

void WindowCommands::adminPanel()
{
    // The directory's own administration pages live at the script's address.
    if (!m_services.settings.AdminURL.trimmed().isEmpty())
        Common::ShellOpen(m_services.desktop, m_services.settings.AdminURL.trimmed());
}

void WindowCommands::registerWindow(QWidget* window) { m_windows.append(window); }

void WindowCommands::closeAll()
{
    for (auto it = m_windows.crbegin(); it != m_windows.crend(); ++it) {
        if (*it)
            (*it)->close();
    }
    m_windows.clear();
}

} // namespace Shell
