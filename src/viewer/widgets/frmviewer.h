#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include "viewer/viewerplaces.h"

class QAction;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QModelIndex;
class QProgressBar;
class QScrollArea;
class QTimer;
class QToolBar;
class QTreeView;

namespace Common {
class MessageBox;
class ThumbnailStrip;
}
namespace Imaging {
class ImageClipboard;
class PictureDisplay;
}
namespace Settings {
struct LiveSettings;
}

namespace Viewer {

class ThumbnailBrowser;

// What the viewer works with, handed in by the main window.
struct ViewerServices final {
    const Settings::LiveSettings& settings;
    Common::MessageBox& boxes;
    // Where "Copy" puts the preview; null means the desktop's clipboard.
    Imaging::ImageClipboard* clipboard = nullptr;
    // Offered as a place in the chooser besides home, the root and the mounted volumes.
    QString snapshotsFolder;
};

// The thumbnail viewer: a folder's image files as pages of thumbnails, a preview of the one last
// clicked, and copying and deleting. The folder is read only once the window is on screen.
class frmViewer final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmViewer)

public:
    explicit frmViewer(const ViewerServices& services, QWidget* parent = nullptr);
    ~frmViewer() override;

    ThumbnailBrowser& browser() { return *m_browser; }

    // The grid's fixed appearance; applied again after every clearing of the grid.
    void SetViewOptions();
    // Deletes the selected thumbnails' files, without asking.
    void DeleteSelectedFiles();
    void DeleteAllThumbnailsFiles();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolBar* buildToolbar();
    QWidget* buildLeftPanel();
    QWidget* buildStatusStrip();
    void connectBrowser();
    void handleTimer1();
    void handlePlaceChosen(int index);
    void handleFolderChosen(const QModelIndex& current);
    // Points the folder tree at a folder inside one of the places; false when the tree cannot show it.
    bool showFolderInTree(const QString& folder);
    void handleCopy();
    void fitPreview();

    ViewerServices m_services;
    ThumbnailBrowser* m_browser = nullptr;
    QList<Place> m_places;
    bool m_loaded = false;

    QTimer* m_timer1 = nullptr;
    QToolBar* m_tbToolbar = nullptr;
    QComboBox* m_drvSource = nullptr;
    QFileSystemModel* m_folders = nullptr;
    QTreeView* m_dirSource = nullptr;
    QScrollArea* m_previewArea = nullptr;
    Imaging::PictureDisplay* m_preview = nullptr;
    Common::ThumbnailStrip* m_shots = nullptr;
    QLabel* m_lblStatusBar1 = nullptr;
    QLabel* m_lblStatusBar2 = nullptr;
    QProgressBar* m_progProgressBar = nullptr;
};

} // namespace Viewer
