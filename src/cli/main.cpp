#include <csignal>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>

#include "capture/browserhost.h"
#include "cli/admincommand.h"
#include "cli/commandline.h"
#include "cli/exitcodes.h"
#include "cli/interruptwatcher.h"
#include "cli/reportcommand.h"
#include "cli/runcommand.h"
#include "cli/standardoutput.h"
#include "cli/terminalboxes.h"
#include "common/paths.h"
#include "common/programfolders.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "shell/programinfo.h"

namespace {

int usageError(const QString& text)
{
    std::fputs((QStringLiteral("pictavo: ") + text + QStringLiteral("\nTry 'pictavo --help'.\n")).toUtf8().constData(),
        stderr);
    return Cli::ExitCode::CannotStart;
}

// The browser the captures use. Two environment variables exist for tests and diagnosis only:
// PICTAVO_BROWSER names the binary, PICTAVO_BROWSER_FLAGS adds flags (split like a shell would).
Capture::BrowserOptions browserOptions()
{
    Capture::BrowserOptions options;
    options.executable = qEnvironmentVariable("PICTAVO_BROWSER");
    options.extraArguments = QProcess::splitCommand(qEnvironmentVariable("PICTAVO_BROWSER_FLAGS"));
    return options;
}

// Qt's own warnings (a missing XDG_RUNTIME_DIR on a server, say) are noise to a cron job whose
// standard error must say in one line why a command failed; only critical messages get through.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fputs((QStringLiteral("pictavo: ") + message + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

} // namespace

// The command line's composition root: the same services as the window's, without a window.
int main(int argc, char* argv[])
{
    // Nothing is ever shown; the offscreen platform spares a server a display, and a desktop session's
    // stale DISPLAY cannot stop a cron job.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietMessages);
    // A write to standard output whose reader has gone fails with EPIPE, which `run` turns into Stop, and
    // a write to a dead browser's pipe closes that channel; the signal would kill the run and its report.
    std::signal(SIGPIPE, SIG_IGN);
    QGuiApplication app(argc, argv); // the text watermark needs fonts
    QCoreApplication::setApplicationName(QStringLiteral("pictavo"));
    QCoreApplication::setApplicationVersion(Shell::programVersion());

    const Cli::ParseResult parsed = Cli::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.invocation)
        return usageError(parsed.error);
    const Cli::Invocation& call = *parsed.invocation;
    if (call.help) {
        std::fputs(call.help->toUtf8().constData(), stdout);
        return Cli::statusWithOutputChecked(Cli::ExitCode::Success);
    }

    // The window's folders: beside the program in its build folder, the user's data folder once installed.
    const Common::ProgramFolders folders = Common::programFolders();
    QString folder = folders.data;
    if (!call.folder.isEmpty()) {
        folder = Common::AddBackslash(QDir(call.folder).absolutePath());
        if (const Common::Status made = Common::EnsureFolder(folder); !made)
            return usageError(QStringLiteral("cannot create the folder %1: %2").arg(call.folder, made.error().message));
    }

    Settings::Hive hive(Settings::Hive::defaultFilePath());
    Settings::LiveSettings settings = Settings::LoadSettings(hive, folder, folders.resources);
    // The window's Apply stores its images folder as a full path, which would take this folder's
    // thumbnails elsewhere; a program folder of its own keeps them, unless --set names another.
    if (!call.folder.isEmpty())
        settings.ImagesFolder = folder + QStringLiteral("snapshots");
    for (const auto& [key, value] : call.settings) {
        if (const Common::Status set = Settings::overrideSetting(settings, key, value); !set)
            return usageError(QStringLiteral("--set: ") + set.error().message);
    }

    if (call.command == Cli::Invocation::Command::Report)
        return Cli::statusWithOutputChecked(Cli::printReport(call, folder));

    Cli::InterruptWatcher interrupts;
    Cli::TerminalBoxes boxes;
    // Declared before the commands, so it outlives them: its destruction ends the browser.
    const Capture::BrowserOptions options = browserOptions();
    Capture::BrowserHost browser(options);

    int exitCode = Cli::ExitCode::CannotStart;
    const auto quit = [&exitCode, &interrupts](int code) {
        if (code == Cli::ExitCode::Interrupted && interrupts.firstSignal() > 0)
            code = 128 + interrupts.firstSignal();
        exitCode = code;
        QCoreApplication::exit(code);
    };
    if (call.command == Cli::Invocation::Command::Run) {
        Cli::RunCommand run({ settings, folder, boxes, browser, options.executable }, call);
        QObject::connect(&run, &Cli::RunCommand::finished, &app, quit);
        QObject::connect(&interrupts, &Cli::InterruptWatcher::interrupted, &run, &Cli::RunCommand::interrupt);
        run.start();
        QCoreApplication::exec();
        return Cli::statusWithOutputChecked(exitCode);
    }
    QString password;
    if (call.command == Cli::Invocation::Command::Setup) {
        // Read from standard input, never from the arguments, which every user of the machine can see.
        QFile input;
        if (input.open(stdin, QIODevice::ReadOnly))
            password = QString::fromUtf8(input.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    }
    Cli::AdminCommand admin(settings, hive, folder, call, password);
    QObject::connect(&admin, &Cli::AdminCommand::finished, &app, quit);
    QObject::connect(&interrupts, &Cli::InterruptWatcher::interrupted, &admin, &Cli::AdminCommand::interrupt);
    admin.start();
    QCoreApplication::exec();
    return Cli::statusWithOutputChecked(exitCode);
}
