#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QObject>
#include <QPointer>

class QDialog;
class QWidget;

namespace Admin {
struct AdminServices;
}
namespace Batch {
class LinksDatabase;
}
namespace Common {
class Pickers;
}

namespace Shell {

struct MainServices;

// The main window's commands that open a window of their own (Setup, Settings, Import, Upload, the
// thumbnails browser, the Snapshotter, Help, About) and the directory's admin panel. Each window opens
// modally, centred over the main window, and is gone once closed; those that change the program's
// files or settings open only while `idle` says so. The windows still open are closed, newest first,
// by closeAll(). GUI thread; the services, the database and the owner outlive it.
class WindowCommands final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowCommands)

public:
    struct Hooks {
        std::function<bool()> idle;
        // After an import replaced the links database.
        std::function<void()> refreshLinksCount;
        // After the settings window stored its options.
        std::function<void()> applySettings;
    };

    WindowCommands(MainServices& services, Batch::LinksDatabase& links, Hooks hooks, QWidget* owner);
    ~WindowCommands() override;

    void setup();
    void settings();
    void import();
    void upload();
    void viewer();
    void snapshotter();
    void help();
    void about();
    void adminPanel();

    void registerWindow(QWidget* window);
    void closeAll();
    // Where the shipped files are, ending in "/".
    QString shippedPath() const;

private:
    Admin::AdminServices adminServices();
    // Import and Upload log in with the stored password: false, once the user was told why, when the keyring
    // that keeps it cannot give it. Setup reads it on its own.
    bool readAdminPassword();
    void showOwnedWindow(QDialog* window);
    // The choosers given by the composition root, or Qt's own over the main window.
    Common::Pickers& pickers();

    MainServices& m_services;
    Batch::LinksDatabase& m_links;
    Hooks m_hooks;
    QWidget* m_owner;
    std::unique_ptr<Common::Pickers> m_ownPickers;
    QList<QPointer<QWidget>> m_windows;
};

} // namespace Shell
