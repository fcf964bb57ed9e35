// pictavo-write-settings: stores settings in a settings hive file, for the demo and for manual set-ups that
// must never touch the user's own settings.
//   pictavo-write-settings <hive file> Name=Value [Name=Value ...]
#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "settings/hive.h"
#include "settings/settingsstore.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: pictavo-write-settings <hive file> Name=Value [Name=Value ...]\n");
        return 2;
    }
    Settings::Hive hive(args.first());
    for (const QString& assignment : args.mid(1)) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            std::fprintf(stderr, "not Name=Value: %s\n", qPrintable(assignment));
            return 2;
        }
        const Common::Status written = Settings::WriteSetting(
            hive, Settings::appKeyPath(), Settings::settingsSection(), assignment.left(eq), assignment.mid(eq + 1));
        if (!written) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(assignment.left(eq)), qPrintable(written.error().message));
            return 1;
        }
    }
    return 0;
}
