#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include "batch/linksdatabase.h"
#include "shell/mainlayout.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QToolBar;
class QTreeView;
class QWidget;

namespace Batch {
class LinksListModel;
}
namespace Common {
class Desktop;
class MessageBox;
}
namespace Settings {
class Hive;
struct LiveSettings;
}

namespace Shell {

// The services the main window works with, built once by the composition root.
struct MainServices {
    Settings::Hive& hive;
    Settings::LiveSettings& settings;
    Common::MessageBox& boxes;
    Common::Desktop& desktop;
    QString appPath; // the program folder, ending in "/"
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
    void RefreshLinksCount();

    // Panel 1 of the status bar.
    void setStatusText(const QString& text);
    QString statusText() const;

    // Secondary windows are closed, newest first, before the main window closes.
    void registerWindow(QWidget* window);

    Batch::LinksDatabase& links() { return m_links; }
    Batch::LinksListModel& linksModel() { return *m_linksModel; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void buildTopPanel();
    void buildStatsPanel();
    void restorePlacement();
    void applyPlacement();
    void arrangeControls();
    void handleCalculateTotalLinks();
    void handleLinkActivated(const QModelIndex& index);

    MainServices m_services;
    Batch::LinksDatabase m_links;
    Batch::LinksListModel* m_linksModel = nullptr;
    bool m_formLoaded = false;
    bool m_placementPending = false;
    QRect m_restoredTwips;
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
    QTreeView* m_lvwLinks = nullptr;
    QListView* m_thumbnails = nullptr;
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
