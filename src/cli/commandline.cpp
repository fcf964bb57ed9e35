#include "cli/commandline.h"

#include <functional>
#include <limits>
#include <utility>

#include "settings/livesettings.h"
#include "shell/programinfo.h"

namespace Cli {

namespace {

    using Command = Invocation::Command;

    struct CommandInfo {
        const char* name;
        Command command;
    };

    const CommandInfo kCommands[] = {
        { "run", Command::Run },
        { "import", Command::Import },
        { "count", Command::Count },
        { "upload", Command::Upload },
        { "report", Command::Report },
        { "setup", Command::Setup },
    };

    const char* const kProgramUsage = R"(Usage: pictavo [--folder DIR] [--set KEY=VALUE]... COMMAND [OPTIONS]

Captures the links of the local links database into thumbnails, and imports and
uploads them with the directory's administration script, without a window.

Commands:
  run      capture a range of the links database (the window's Start)
  import   replace the links database with the administration script's links
  count    print how many links the directory holds
  upload   send the thumbnails to the administration script
  report   summarise a run report and list the dead, moved, parked... links
  setup    check and store the administration script's address and login

Options:
  --folder DIR       the program folder holding data/ and snapshots/
                     (default: the window's); its snapshots/ is the
                     images folder unless --set ImagesFolder=... names another
  --set KEY=VALUE    use VALUE for the setting KEY in this invocation only;
                     nothing is stored (repeatable)
  -h, --help         show this help, or a command's with COMMAND --help
  --version          show the version

Exit status: 0 all done, 1 some links or uploads failed, 2 could not start,
3 a write failed (full disk: standard output, run report, thumbnails),
130 interrupted (143 by SIGTERM), 141 standard output was closed.
See pictavo(1).
)";

    const char* const kRunUsage = R"(Usage: pictavo run [--from N] [--to M] [--skip-existing] [--retry] [--json]

Captures lines N to M of the links database (default: all of it) with the
window's settings, writing one thumbnail per link and a run report in
data/reports/. Prints one line per link as it ends on standard output:
line number, ID, outcome, status text and URL, separated by tabs.

Options:
  --from N          first line of the range
  --to M            last line of the range
  --skip-existing   do not capture links that already have a thumbnail
  --retry           first narrow the database down to the links without a
                    thumbnail, then capture all of them
  --json            one JSON object per link instead of tab-separated text

Ctrl-C, SIGTERM or a closed standard output (pictavo run | head) stops the
run: captures in flight end, the report is kept and the line to resume from is
printed; a further Ctrl-C stops waiting for them.
)";

    const char* const kImportUsage = R"(Usage: pictavo import [--mode all|recent|missing|missing-recent] [--period N]

Replaces the links database with the links the administration script returns.

Options:
  --mode MODE   all: every link; recent: submitted within the period;
                missing: without a snapshot on the server; missing-recent:
                without a snapshot and submitted within the period
                (default: the mode last chosen in the window)
  --period N    0 1 hour, 1 2 hours, 2 3 hours, 3 6 hours, 4 12 hours,
                5 24 hours, 6 48 hours, 7 72 hours, 8 1 week, 9 2 weeks,
                10 3 weeks, 11 4 weeks, 12 3 months, 13 6 months,
                14 9 months, 15 12 months (default: the ImportLinksPeriod
                setting)
)";

    const char* const kCountUsage = R"(Usage: pictavo count

Prints the number of links the directory's administration script holds.
)";

    const char* const kUploadUsage = R"(Usage: pictavo upload [--from N] [--to M] [--connections N] [--files N]

Sends the files of the images folder, where run writes the thumbnails, to the
administration script, in batches over parallel connections.

Options:
  --from N          first file to send, counted from 1 (default: the first)
  --to M            last file to send (default: the last)
  --connections N   parallel connections, 1 to 10 (default: UploadConnections)
  --files N         files per request, 1 to 100 (default: UploadConnectionFiles)

Ctrl-C stops handing out files and waits for the requests in flight; a second
Ctrl-C cuts them.
)";

    const char* const kSetupUsage
        = R"(Usage: pictavo setup --url URL --user NAME [--password-in-settings]
                     < password-file

Checks the login with the administration script at URL and, when it is
accepted, stores the address, the user and the password (the first line of
standard input) as the window's Setup does. Nothing is stored otherwise.

The password goes to the desktop's keyring, or to the settings file where no
keyring answers. A password in the keyring cannot be read where no keyring
can be reached (cron, a timer while you are logged out, a locked keyring):
import, count and upload then end with status 2 and send nothing.

Options:
  --password-in-settings  keep the password in the settings file (readable
                          by you only) instead, for scheduled jobs
)";

    const char* const kReportUsage = R"(Usage: pictavo report [--dead|--moved|--parked|--blank|--errors|
                      --changed|--back|--failing] [FILE]

Summarises a run report (default: the newest in data/reports/): links per
outcome, per class of HTTP status and per page word (ok, blank, error,
moved, parked), then the dead links (refused connection, unresolvable name,
404 or 410) as ID|URL lines.

Options (one at a time):
  --dead     print only the dead links' ID|URL lines
  --moved    print only the links whose page moved to another site, as
             ID|URL|FINAL_URL lines
  --parked   print only the links whose page is parked or for sale, as
             ID|URL|FINAL_URL lines
  --blank    print only the links whose page came out blank, as ID|URL lines
  --errors   print only the links whose page answered with an HTTP error
             (400 or more), as ID|URL lines
  --changed  print only the links whose look and title both changed since
             their last good capture, as ID|URL lines
  --back     print only the links captured again after a failed run
  --failing  print only the links that failed in each of their last
             FailingRuns runs, as ID|URL|LAST_WORKED lines
)";

    std::optional<int> wholeNumber(const QString& text, int low, int high)
    {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < low || value > high)
            return std::nullopt;
        return value;
    }

    std::optional<int> importModeNamed(const QString& name)
    {
        const QStringList modes { QStringLiteral("all"), QStringLiteral("recent"), QStringLiteral("missing"),
            QStringLiteral("missing-recent") };
        const qsizetype index = modes.indexOf(name);
        return index < 0 ? std::nullopt : std::optional<int>(int(index) + 1);
    }

    // Walks the arguments; options take their value as "--name value" or "--name=value".
    class ArgumentWalker {
    public:
        explicit ArgumentWalker(const QStringList& arguments)
            : m_arguments(arguments)
        {
        }

        bool atEnd() const { return m_next >= m_arguments.size(); }
        QString peek() const { return m_arguments.at(m_next); }

        // The option's name ("--from") without any "=value", and moves past it.
        QString takeOption()
        {
            QString argument = m_arguments.at(m_next++);
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (argument.startsWith(QLatin1String("--")) && equals > 0) {
                m_inlineValue = argument.mid(equals + 1);
                argument.truncate(equals);
            } else {
                m_inlineValue.reset();
            }
            return argument;
        }
        bool hasInlineValue() const { return m_inlineValue.has_value(); }
        std::optional<QString> takeValue()
        {
            if (m_inlineValue)
                return std::exchange(m_inlineValue, std::nullopt);
            if (atEnd())
                return std::nullopt;
            return m_arguments.at(m_next++);
        }
        QString take() { return m_arguments.at(m_next++); }

    private:
        const QStringList& m_arguments;
        qsizetype m_next = 0;
        std::optional<QString> m_inlineValue;
    };

    QString commandName(Command command)
    {
        for (const CommandInfo& info : kCommands) {
            if (info.command == command)
                return QLatin1String(info.name);
        }
        return {};
    }

} // namespace

QString usageText(const QString& command)
{
    if (command == QLatin1String("run"))
        return QString::fromUtf8(kRunUsage);
    if (command == QLatin1String("import"))
        return QString::fromUtf8(kImportUsage);
    if (command == QLatin1String("count"))
        return QString::fromUtf8(kCountUsage);
    if (command == QLatin1String("upload"))
        return QString::fromUtf8(kUploadUsage);
    if (command == QLatin1String("report"))
        return QString::fromUtf8(kReportUsage);
    if (command == QLatin1String("setup"))
        return QString::fromUtf8(kSetupUsage);
    return QString::fromUtf8(kProgramUsage);
}

QStringList reportLists()
{
    return { QStringLiteral("dead"), QStringLiteral("moved"), QStringLiteral("parked"), QStringLiteral("blank"),
        QStringLiteral("errors"), QStringLiteral("changed"), QStringLiteral("back"), QStringLiteral("failing") };
}

ParseResult parseCommandLine(const QStringList& arguments)
{
    Invocation call;
    ArgumentWalker walker(arguments);
    const auto fail = [](const QString& text) { return ParseResult { std::nullopt, text }; };

    while (!walker.atEnd() && walker.peek().startsWith(QLatin1Char('-'))) {
        const QString option = walker.takeOption();
        if (option == QLatin1String("-h") || option == QLatin1String("--help")) {
            call.help = usageText();
            return { call, {} };
        }
        // Not in the usage: the build asks it for the names the shell completion offers after --set.
        if (option == QLatin1String("--list-settings")) {
            call.help = Settings::settingNames().join(QLatin1Char('\n')) + QLatin1Char('\n');
            return { call, {} };
        }
        // Not in the usage either: the options the completion offers after report.
        if (option == QLatin1String("--list-report-options")) {
            call.help = QStringLiteral("--") + reportLists().join(QStringLiteral("\n--")) + QLatin1Char('\n');
            return { call, {} };
        }
        if (option == QLatin1String("--version")) {
            call.help = QStringLiteral("pictavo %1\n").arg(Shell::programVersion());
            return { call, {} };
        }
        const std::optional<QString> value = walker.takeValue();
        if (option == QLatin1String("--folder")) {
            if (!value || value->isEmpty())
                return fail(QStringLiteral("--folder needs a folder"));
            call.folder = *value;
        } else if (option == QLatin1String("--set")) {
            const qsizetype equals = value ? value->indexOf(QLatin1Char('=')) : -1;
            if (equals <= 0)
                return fail(QStringLiteral("--set needs KEY=VALUE"));
            call.settings.append({ value->left(equals), value->mid(equals + 1) });
        } else {
            return fail(QStringLiteral("unknown option %1").arg(option));
        }
    }
    if (walker.atEnd())
        return fail(QStringLiteral("no command given (run, import, count, upload or report)"));

    const QString name = walker.take();
    for (const CommandInfo& info : kCommands) {
        if (name == QLatin1String(info.name))
            call.command = info.command;
    }
    if (call.command == Command::None)
        return fail(QStringLiteral("unknown command %1").arg(name));

    while (!walker.atEnd()) {
        if (!walker.peek().startsWith(QLatin1Char('-')) || walker.peek() == QLatin1String("-")) {
            if (call.command != Command::Report || !call.reportFile.isEmpty())
                return fail(QStringLiteral("%1: unexpected argument %2").arg(name, walker.peek()));
            call.reportFile = walker.take();
            continue;
        }
        const QString option = walker.takeOption();
        if (option == QLatin1String("-h") || option == QLatin1String("--help")) {
            call.help = usageText(name);
            return { call, {} };
        }
        const auto flag = [&](bool& target) -> std::optional<ParseResult> {
            if (walker.hasInlineValue())
                return fail(QStringLiteral("%1 takes no value").arg(option));
            target = true;
            return std::nullopt;
        };
        const auto number = [&](int low, int high) -> std::optional<int> {
            const std::optional<QString> value = walker.takeValue();
            return value ? wholeNumber(*value, low, high) : std::nullopt;
        };
        const auto badNumber = [&](int low, int high) {
            return fail(high == std::numeric_limits<int>::max()
                    ? QStringLiteral("%1 needs a whole number from %2").arg(option).arg(low)
                    : QStringLiteral("%1 needs a whole number from %2 to %3").arg(option).arg(low).arg(high));
        };
        constexpr int Max = std::numeric_limits<int>::max();

        std::optional<ParseResult> failed;
        bool known = true;
        switch (call.command) {
        case Command::Run:
            if (option == QLatin1String("--from") || option == QLatin1String("--to")) {
                const std::optional<int> line = number(1, Max);
                if (!line)
                    return badNumber(1, Max);
                (option == QLatin1String("--from") ? call.from : call.to) = QString::number(*line);
            } else if (option == QLatin1String("--skip-existing")) {
                failed = flag(call.skipExisting);
            } else if (option == QLatin1String("--retry")) {
                failed = flag(call.retry);
            } else if (option == QLatin1String("--json")) {
                failed = flag(call.json);
            } else {
                known = false;
            }
            break;
        case Command::Import:
            if (option == QLatin1String("--mode")) {
                const std::optional<QString> value = walker.takeValue();
                call.importMode = value ? importModeNamed(*value) : std::nullopt;
                if (!call.importMode)
                    return fail(QStringLiteral("--mode needs all, recent, missing or missing-recent"));
            } else if (option == QLatin1String("--period")) {
                call.period = number(0, 15);
                if (!call.period)
                    return badNumber(0, 15);
            } else {
                known = false;
            }
            break;
        case Command::Upload:
            if (option == QLatin1String("--from") || option == QLatin1String("--to")) {
                const std::optional<int> file = number(1, Max);
                if (!file)
                    return badNumber(1, Max);
                (option == QLatin1String("--from") ? call.firstFile : call.lastFile) = file;
            } else if (option == QLatin1String("--connections")) {
                call.connections = number(1, 10);
                if (!call.connections)
                    return badNumber(1, 10);
            } else if (option == QLatin1String("--files")) {
                call.filesPerConnection = number(1, 100);
                if (!call.filesPerConnection)
                    return badNumber(1, 100);
            } else {
                known = false;
            }
            break;
        case Command::Report:
            if (option.startsWith(QLatin1String("--")) && reportLists().contains(option.mid(2))) {
                if (!call.reportList.isEmpty())
                    return fail(QStringLiteral("%1 and --%2 cannot be combined: one list at a time")
                                    .arg(option, call.reportList));
                bool given = false;
                failed = flag(given);
                call.reportList = option.mid(2);
            } else {
                known = false;
            }
            break;
        case Command::Setup:
            if (option == QLatin1String("--url") || option == QLatin1String("--user")) {
                const std::optional<QString> value = walker.takeValue();
                if (!value || value->isEmpty())
                    return fail(QStringLiteral("%1 needs a value").arg(option));
                (option == QLatin1String("--url") ? call.adminUrl : call.adminUser) = *value;
            } else if (option == QLatin1String("--password-in-settings")) {
                failed = flag(call.passwordInSettings);
            } else {
                known = false;
            }
            break;
        case Command::Count:
        case Command::None:
            known = false;
            break;
        }
        if (failed)
            return *failed;
        if (!known)
            return fail(QStringLiteral("%1: unknown option %2").arg(commandName(call.command), option));
    }

    // The retry step narrows the database down to what is left: line numbers of the old one mean nothing.
    if (call.retry && (!call.from.isEmpty() || !call.to.isEmpty()))
        return fail(QStringLiteral("run: --retry covers the whole narrowed database and takes no --from or --to"));
    if (call.command == Command::Setup && (call.adminUrl.isEmpty() || call.adminUser.isEmpty()))
        return fail(QStringLiteral("setup needs --url and --user"));
    if (call.command == Command::Upload && call.firstFile && call.lastFile && *call.firstFile > *call.lastFile)
        return fail(QStringLiteral("upload: --from must not be above --to"));
    return { call, {} };
}

} // namespace Cli
