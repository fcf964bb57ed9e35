#pragma once

#include <memory>

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include "batch/linksdatabase.h"
#include "shell/mainlayout.h"
#include "shell/windowplacement.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolBar;
class QTableView;
class QWidget;

class QDialog;

namespace Admin {
struct AdminServices;
}
namespace Batch {
class BatchRun;
class CaptureCompletion;
class LinksListModel;
class frmMsg;
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

class RunEndNotifier;

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
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    // Recounts with "Calculating..." and then "Ready" in the status bar.
    void countLinksWithStatus();
    // Opens a link's address in the user's browser when it is a web address.
    void openLinkAddress(const QString& url);
    void buildRunCommands();
    void addToolbarButton(const char* key, const QString& tooltip, const QIcon& icon, void (frmMain::*command)());
    Admin::AdminServices adminServices();
    // Import and Upload log in with the stored password: false, once the user was told why, when the keyring
    // that keeps it cannot give it. Setup reads it on its own.
    bool readAdminPassword();
    // Shows a secondary window modally over the main window, centred; it is gone once closed.
    void showOwnedWindow(QDialog* window);
    void setupCommand();
    void settingsCommand();
    // After the settings window stored its options: the strip takes the new thumbnail size and count.
    void applySettings();
    void importCommand();
    void uploadCommand();
    void viewerCommand();
    void snapshotterCommand();
    // The choosers given by the composition root, or Qt's own over this window.
    Common::Pickers& pickers();
    void adminPanelCommand();
    void helpCommand();
    QString shippedPath() const;
    void aboutCommand();
    QAction* toolbarAction(const QString& key) const;
    void setRunState(RunState state);
    void connectRun();
    void handleRunFinished(bool stopped, qint32 resumeFrom);
    void showWaitingWindow();
    void buildTopPanel();
    void buildStatsPanel();
    void restorePlacement();
    void applyPlacement();
    void arrangeControls();
    void handleCalculateTotalLinks();
    void handleLinkActivated(const QModelIndex& index);
    void followNewestRow();

    MainServices m_services;
    std::unique_ptr<Common::Pickers> m_ownPickers;
    Batch::LinksDatabase m_links;
    Batch::LinksListModel* m_linksModel = nullptr;
    Common::ThumbnailModel* m_thumbnailModel = nullptr;
    std::unique_ptr<Batch::CaptureCompletion> m_completion;
    Batch::BatchRun* m_run = nullptr;
    QPointer<Batch::frmMsg> m_frmMsg;
    RunState m_runState = RunState::Idle;
    QAction* m_mnuStart = nullptr;
    QAction* m_mnuPause = nullptr;
    QAction* m_mnuStop = nullptr;
    QAction* m_mnuRetry = nullptr;
    bool m_formLoaded = false;
    bool m_placementPending = false;
    WindowPlacement m_restoredTwips;
    MainLayout m_layout;
    QList<QPointer<QWidget>> m_windows;

    QToolBar* m_toolbar = nullptr;
    QWidget* m_mainArea = nullptr;
    QWidget* m_picTop = nullptr;
    QLabel* m_lblTotalLocalLinks = nullptr;
    QLineEdit* m_txtStartLinksFrom = nullptr;
    QLineEdit* m_txtStartLinksTo = nullptr;
    QPushButton* m_cmdCalculateTotalLinks = nullptr;
    QCheckBox* m_chkSkipExisting = nullptr;
    QTableView* m_lvwLinks = nullptr;
    // A scroll to the newest row is due at the end of this event-loop turn.
    bool m_followPending = false;
    Common::ThumbnailStrip* m_thumbnails = nullptr;
    QWidget* m_picStats = nullptr;
    QProgressBar* m_prgProgressBar = nullptr;
    QLabel* m_lblProgress = nullptr;
    QLabel* m_lblSelectedLinks = nullptr;
    QLabel* m_lblDoneCount = nullptr;
    QLabel* m_lblSuccessCount = nullptr;
    QLabel* m_lblErrorsCount = nullptr;
    QLabel* m_statusPanel = nullptr;
};

} // namespace Shell
