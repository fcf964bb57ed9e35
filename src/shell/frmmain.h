#pragma once

#include <memory>

#include <QIcon>
#include <QMainWindow>

#include "batch/linksdatabase.h"
#include "shell/mainlayout.h"

class QAction;
class QLabel;
class QToolBar;
class QWidget;

namespace Batch {
class BatchRun;
class CaptureCompletion;
class LinksListModel;
}
namespace Capture {
class BrowserHost;
}
namespace Common {
class Desktop;
class MessageBox;
class Pickers;
class ThumbnailModel;
class ThumbnailStrip;
}
namespace Settings {
class Hive;
struct LiveSettings;
}

namespace Shell {

class LinksView;
class MainPlacement;
class RangePanel;
class RunEndNotifier;
class RunWiring;
class StatsPanel;
class WindowCommands;

// The services the main window works with, built once by the composition root.
struct MainServices {
    Settings::Hive& hive;
    Settings::LiveSettings& settings;
    Common::MessageBox& boxes;
    Common::Desktop& desktop;
    QString appPath; // the program folder, ending in "/"
    Capture::BrowserHost* host = nullptr;
    // The choosers of the settings window; Qt's dialogs when none are given.
    Common::Pickers* pickers = nullptr;
    // Where the shipped files are (sample images, the manual), ending in "/"; the program folder when empty.
    QString shippedPath = {};
    // Tells the desktop when a run ends while the program is in the background; none when null.
    RunEndNotifier* notifier = nullptr;
};

// The main window: the links list of a run, the thumbnail strip, the range of links to capture and
// the run's statistics. It restores its position, loads the settings and prepares the program's folders
// in startUp(), and remembers its position when closed.
class frmMain final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMain)

public:
    explicit frmMain(const MainServices& services, QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up steps, in order; call once before showing the window.
    void startUp();
    bool FormLoaded() const { return m_formLoaded; }

    // Recounts the links database and resets the range boxes to the whole database.
    // False when the database cannot be read; the status bar then says why.
    bool RefreshLinksCount();

    // Panel 1 of the status bar.
    void setStatusText(const QString& text);
    QString statusText() const;

    // Secondary windows are closed, newest first, before the main window closes.
    void registerWindow(QWidget* window);

    Batch::LinksDatabase& links() { return m_links; }
    Batch::LinksListModel& linksModel() { return *m_linksModel; }
    Common::ThumbnailModel& thumbnails() { return *m_thumbnailModel; }
    Batch::BatchRun& run() { return *m_run; }

    // The run commands of the toolbar and the "&Action" menu.
    void startCommand();
    void pauseCommand();
    void stopCommand();
    void retryCommand();

    // The toolbar's window buttons, off during a run.
    void DisableToolbar();
    void EnableToolbar();

    enum class RunState { Idle, Running, Stopping };
    RunState runState() const { return m_runState; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    // Recounts with "Calculating..." and then "Ready" in the status bar.
    void countLinksWithStatus();
    // Opens a link's address in the user's browser when it is a web address.
    void openLinkAddress(const QString& url);
    void buildRunCommands();
    template <typename Receiver>
    void addToolbarButton(
        const char* key, const QString& tooltip, const QIcon& icon, Receiver* receiver, void (Receiver::*command)());
    // After the settings window stored its options: the strip takes the new thumbnail size and count.
    void applySettings();
    QAction* toolbarAction(const QString& key) const;
    // The toolbar's buttons that open a window.
    void setWindowButtonsEnabled(bool enabled);
    void setRunState(RunState state);
    // What the empty links list says: how links get into the database, or that a run lists them here.
    void showEmptyListText(qint32 linksCount);
    void arrangeControls();
    void handleLinkActivated(const QModelIndex& index);

    MainServices m_services;
    Batch::LinksDatabase m_links;
    Batch::LinksListModel* m_linksModel = nullptr;
    Common::ThumbnailModel* m_thumbnailModel = nullptr;
    std::unique_ptr<Batch::CaptureCompletion> m_completion;
    Batch::BatchRun* m_run = nullptr;
    RunWiring* m_runWiring = nullptr;
    WindowCommands* m_windowCommands = nullptr;
    RunState m_runState = RunState::Idle;
    QAction* m_mnuStart = nullptr;
    QAction* m_mnuPause = nullptr;
    QAction* m_mnuStop = nullptr;
    QAction* m_mnuRetry = nullptr;
    bool m_formLoaded = false;
    MainPlacement* m_placement = nullptr;
    MainLayout m_layout;

    QToolBar* m_toolbar = nullptr;
    QWidget* m_mainArea = nullptr;
    RangePanel* m_picTop = nullptr;
    LinksView* m_lvwLinks = nullptr;
    Common::ThumbnailStrip* m_thumbnails = nullptr;
    StatsPanel* m_picStats = nullptr;
    QLabel* m_statusPanel = nullptr;
};

} // namespace Shell
