#pragma once

#include <optional>

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace Cli {

// Everything one invocation of the command line asks for, parsed and checked but not yet applied.
struct Invocation final {
    enum class Command { None, Run, Import, Count, Upload, Report, Setup };

    Command command = Command::None;
    // Help was asked for: the text to print, for the program or for the command.
    std::optional<QString> help;

    // Global options. folder is empty for the program's own folder.
    QString folder;
    QList<QPair<QString, QString>> settings;

    // run; from and to are texts, as the window's range boxes hold them (empty: that end of the database).
    QString from;
    QString to;
    bool skipExisting = false;
    bool retry = false;
    bool json = false;

    // import: mode 1..4 and the period list index 0..15, when given.
    std::optional<int> importMode;
    std::optional<int> period;

    // upload: file numbers (1-based) and the connection settings, when given.
    std::optional<int> firstFile;
    std::optional<int> lastFile;
    std::optional<int> connections;
    std::optional<int> filesPerConnection;

    // setup: the address and user to check and store (the password comes on standard input), and whether
    // the password goes to the settings file rather than the desktop's keyring.
    QString adminUrl;
    QString adminUser;
    bool passwordInSettings = false;

    // report
    QString reportFile;
    // The one list to print instead of the summary: "dead", "moved", "parked", "blank" or "errors".
    QString reportList;
};

// The usage text of the program, or of one command ("run", "import"...).
QString usageText(const QString& command = {});

// The lists `report` prints one at a time, each taken as its option ("--dead") without the dashes.
QStringList reportLists();

// Parses the arguments after the program's name. A usage error gives the one line to print.
struct ParseResult final {
    std::optional<Invocation> invocation;
    QString error;
};
ParseResult parseCommandLine(const QStringList& arguments);

} // namespace Cli
