#pragma once

#include <QString>
#include <QUrl>

namespace Common {

// What the program asks of the desktop: open an address, a mail address, a file or a folder in the
// user's own programs. The shell passes the system's; tests pass one that records.
class Desktop {
public:
    virtual ~Desktop() = default;
    // False when no program could be started for the address.
    virtual bool openUrl(const QUrl& url) = 0;
};

// Opens addresses through the desktop's own handlers (xdg-open).
class SystemDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
};

// The address a shell target stands for: a web or mail address as it is, "www.example.com" as an
// http address, and an existing local path as a file address.
QUrl shellTarget(const QString& target);

// Applies the verb ("Open" is the only one the program uses) to a target; failures are not reported.
void ShellOpen(Desktop& desktop, const QString& target, const QString& verb = QStringLiteral("Open"));

// Shows a folder in the system's file manager; errors are ignored.
void OpenFolderInExplorer(Desktop& desktop, const QString& folder);

// Waits the given milliseconds while window events keep being handled, without busy waiting.
// Re-enters the event loop: callers use it exactly so that other handlers can run meanwhile.
void PauseWithEvents(qint32 milliseconds);

} // namespace Common
