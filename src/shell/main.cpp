#include <QApplication>
#include <QDBusConnection>
#include <QIcon>

#include "capture/browserhost.h"
#include "common/desktop.h"
#include "common/paths.h"
#include "common/programfolders.h"
#include "common/widgets/qtmessagebox.h"
#include "common/widgets/qtpickers.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "shell/frmmain.h"
#include "shell/programinfo.h"
#include "shell/runendnotifier.h"

// The composition root: every service is built here once and handed to the windows that need it.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pictavo-studio"));
    QCoreApplication::setApplicationVersion(Shell::programVersion());
    // The installed icon and desktop entry: the window, the task bar and the notifications show the same.
    QGuiApplication::setDesktopFileName(Shell::desktopId());
    QApplication::setWindowIcon(QIcon::fromTheme(Shell::desktopId()));

    Settings::Hive hive(Settings::Hive::defaultFilePath());
    Settings::LiveSettings settings;
    Common::QtMessageBox boxes;
    Common::SystemDesktop desktop;
    Common::QtPickers pickers;
    Shell::RunEndNotifier notifier(QDBusConnection::sessionBus(), Shell::desktopId());
    // Started on the first capture; stale profiles of a killed run are removed now.
    Capture::BrowserHost browser;

    // Beside the program when it runs from its build folder; the user's data folder once installed.
    const Common::ProgramFolders folders = Common::programFolders();
    Shell::frmMain window(
        { hive, settings, boxes, desktop, folders.data, &browser, &pickers, folders.resources, &notifier });
    boxes.setOwner(&window);
    pickers.setOwner(&window);
    window.startUp();
    window.show();
    return QApplication::exec();
}
