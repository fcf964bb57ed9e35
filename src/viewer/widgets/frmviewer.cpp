#include "viewer/widgets/frmviewer.h"

#include <algorithm>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "common/thumbnailmodel.h"
#include "common/widgets/thumbnailstrip.h"
#include "imaging/widgets/picturedisplay.h"
#include "settings/livesettings.h"
#include "viewer/thumbnailbrowser.h"

namespace Viewer {

namespace {

    constexpr int MinimumSide = 6000 / 15; // 6000 twips
    // The highlight of a selected thumbnail: 0x00BBGGRR 0xFFCC33, a light blue.
    const QColor SelectionColour(0x33, 0xCC, 0xFF);

    QString folderOf(const QString& path) { return QDir::cleanPath(QDir(path).absolutePath()); }

} // namespace

frmViewer::frmViewer(const ViewerServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_browser(new ThumbnailBrowser(services.boxes, this))
    , m_places(viewerPlaces(services.snapshotsFolder))
{
    setObjectName(QStringLiteral("frmViewer"));
    setWindowTitle(tr("Viewer"));
    setModal(true);
    setSizeGripEnabled(true);
    setMinimumSize(MinimumSide, MinimumSide);
    // Opened over the main window, it fits inside it, so centring never pushes it off the screen.
    const QSize preferred(1000, 700);
    resize(parent ? preferred.boundedTo(parent->size()).expandedTo(minimumSize()) : preferred);

    m_browser->setViewerFolder(m_services.settings.ViewerFolder);
    m_browser->setPageSize(m_services.settings.ViewerPageSize);

    m_shots = new Common::ThumbnailStrip;
    m_shots->setObjectName(QStringLiteral("Shots"));
    m_shots->setThumbnailModel(&m_browser->model());
    m_shots->setFlow(QListView::LeftToRight);
    m_shots->setWrapping(true);
    // Laid out a batch at a time, so a page of hundreds never holds up the event loop in one go.
    m_shots->setLayoutMode(QListView::Batched);
    m_shots->setBatchSize(100);
    m_shots->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(m_shots, &QListView::clicked, this, [this](const QModelIndex& index) {
        m_browser->showPreview(index.data(Common::ThumbnailModel::FilePathRole).toString());
    });

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(buildLeftPanel());
    splitter->addWidget(m_shots);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 260, 740 });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());
    layout->addWidget(splitter, 1);
    layout->addWidget(buildStatusStrip());

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(10);
    connect(m_timer1, &QTimer::timeout, this, &frmViewer::handleTimer1);

    connectBrowser();
    SetViewOptions();
}

frmViewer::~frmViewer() = default;

QToolBar* frmViewer::buildToolbar()
{
    m_tbToolbar = new QToolBar;
    m_tbToolbar->setObjectName(QStringLiteral("tbToolbar"));
    m_tbToolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const auto add = [this](const char* key, const QString& caption, const QString& tooltip, auto handler) {
        QAction* action = m_tbToolbar->addAction(caption);
        action->setObjectName(QString::fromLatin1(key));
        action->setToolTip(tooltip);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    add("FirstPage", tr("<<First Page"), tr("First Page"), [this] { m_browser->pressPageButton(PageKey::FirstPage); });
    add("PrevPage", tr("<Prev Page"), tr("Previous Page"), [this] { m_browser->pressPageButton(PageKey::PrevPage); });
    add("NextPage", tr("Next Page>"), tr("Next Page"), [this] { m_browser->pressPageButton(PageKey::NextPage); });
    add("LastPage", tr("Last Page>>"), tr("Last Page"), [this] { m_browser->pressPageButton(PageKey::LastPage); });
    m_tbToolbar->addSeparator();
    add("Copy", tr("Copy"), tr("Copy selected image to clipboard"), [this] { handleCopy(); });
    add("Delete", tr("Delete"), tr("Delete selected files"), [this] { DeleteSelectedFiles(); });
    add("DeleteAll", tr("Delete All"), tr("Delete all thumbnails files"), [this] { DeleteAllThumbnailsFiles(); });
    for (const char* key : { "FirstPage", "PrevPage", "NextPage", "LastPage" })
        m_tbToolbar->findChild<QAction*>(QString::fromLatin1(key))->setEnabled(false);
    return m_tbToolbar;
}

QWidget* frmViewer::buildLeftPanel()
{
    auto* picLeft = new QWidget;
    picLeft->setObjectName(QStringLiteral("picLeft"));

    m_drvSource = new QComboBox;
    m_drvSource->setObjectName(QStringLiteral("DrvSource"));
    for (const Place& place : m_places)
        m_drvSource->addItem(place.label + QStringLiteral(" (") + place.path + QLatin1Char(')'), place.path);
    connect(m_drvSource, &QComboBox::activated, this, &frmViewer::handlePlaceChosen);

    m_folders = new QFileSystemModel(this);
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_folders->setReadOnly(true);
    m_folders->setRootPath(QDir::rootPath());
    m_dirSource = new QTreeView;
    m_dirSource->setObjectName(QStringLiteral("dirSource"));
    m_dirSource->setModel(m_folders);
    m_dirSource->setHeaderHidden(true);
    for (int column = 1; column < m_folders->columnCount(); ++column)
        m_dirSource->hideColumn(column);
    connect(m_dirSource->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current) { handleFolderChosen(current); });

    m_preview = new Imaging::PictureDisplay;
    m_preview->setObjectName(QStringLiteral("Preview"));
    m_previewArea = new QScrollArea;
    m_previewArea->setWidget(m_preview);
    m_previewArea->setAlignment(Qt::AlignCenter);
    m_previewArea->setBackgroundRole(QPalette::Base);
    m_previewArea->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(picLeft);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_drvSource);
    layout->addWidget(m_dirSource, 3);
    layout->addWidget(m_previewArea, 2);
    return picLeft;
}

QWidget* frmViewer::buildStatusStrip()
{
    auto* picStatusBar = new QWidget;
    picStatusBar->setObjectName(QStringLiteral("picStatusBar"));
    m_lblStatusBar1 = new QLabel;
    m_lblStatusBar1->setObjectName(QStringLiteral("lblStatusBar1"));
    m_lblStatusBar2 = new QLabel;
    m_lblStatusBar2->setObjectName(QStringLiteral("lblStatusBar2"));
    m_progProgressBar = new QProgressBar;
    m_progProgressBar->setObjectName(QStringLiteral("progProgressBar"));
    m_progProgressBar->setRange(0, 100);
    m_progProgressBar->setValue(0);
    m_progProgressBar->setMaximumWidth(200);
    auto* layout = new QHBoxLayout(picStatusBar);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(m_lblStatusBar1, 1);
    layout->addWidget(m_lblStatusBar2);
    layout->addWidget(m_progProgressBar);
    return picStatusBar;
}

void frmViewer::connectBrowser()
{
    connect(m_browser, &ThumbnailBrowser::statusTextChanged, m_lblStatusBar1, &QLabel::setText);
    connect(m_browser, &ThumbnailBrowser::pagePositionChanged, m_lblStatusBar2, &QLabel::setText);
    connect(m_browser, &ThumbnailBrowser::progressChanged, m_progProgressBar, &QProgressBar::setValue);
    connect(m_browser, &ThumbnailBrowser::thumbnailsCleared, this, &frmViewer::SetViewOptions);
    connect(m_browser, &ThumbnailBrowser::busyChanged, this, [this](bool busy) {
        // The window stays usable while work runs: the pointer says so rather than blocking.
        if (busy)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });
    connect(m_browser, &ThumbnailBrowser::pageButtonsChanged, this, [this](PageButtons buttons) {
        const std::pair<const char*, bool> states[] = { { "FirstPage", buttons.first }, { "PrevPage", buttons.prev },
            { "NextPage", buttons.next }, { "LastPage", buttons.last } };
        for (const auto& [key, enabled] : states)
            m_tbToolbar->findChild<QAction*>(QString::fromLatin1(key))->setEnabled(enabled);
    });
    connect(m_browser, &ThumbnailBrowser::deletingChanged, this, [this](bool deleting) {
        for (const char* key : { "Delete", "DeleteAll" })
            m_tbToolbar->findChild<QAction*>(QString::fromLatin1(key))->setEnabled(!deleting);
    });
    connect(m_browser, &ThumbnailBrowser::previewChanged, this, [this] { fitPreview(); });
}

void frmViewer::SetViewOptions()
{
    m_shots->SetViewerOptions(m_browser->model().thumbnailSize());
    QPalette colours = m_shots->palette();
    colours.setColor(QPalette::Highlight, SelectionColour);
    colours.setColor(QPalette::HighlightedText, Qt::black);
    m_shots->setPalette(colours);
}

void frmViewer::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The folder is read once the window is on screen, so opening never waits on a large folder.
    if (!m_loaded) {
        m_loaded = true;
        m_timer1->start();
    }
}

void frmViewer::handleTimer1()
{
    const QString folder = folderOf(m_services.settings.ViewerFolder);
    const QString shown = m_folders->filePath(m_dirSource->currentIndex());
    if (!shown.isEmpty() && folderOf(shown) == folder) {
        m_browser->changeFolder(folder);
        return;
    }
    // Pointing the tree at the folder runs the folder change through the tree's own notification.
    if (!showFolderInTree(folder))
        m_browser->changeFolder(folder);
}

bool frmViewer::showFolderInTree(const QString& folder)
{
    const qsizetype place = placeOfPath(m_places, folder);
    const QFileInfo info(folder);
    if (place < 0 || !info.isDir())
        return false;
    m_drvSource->setCurrentIndex(int(place));
    // One tree from the root, opened down to the folder: the way there shows where it lies.
    const QModelIndex index = m_folders->index(folder);
    if (!index.isValid())
        return false;
    m_dirSource->setCurrentIndex(index);
    m_dirSource->scrollTo(index);
    return true;
}

void frmViewer::handleFolderChosen(const QModelIndex& current)
{
    if (!current.isValid())
        return;
    m_browser->changeFolder(m_folders->filePath(current));
}

void frmViewer::handlePlaceChosen(int index)
{
    const QString path = m_drvSource->itemData(index).toString();
    const QFileInfo info(path);
    if (info.isDir() && info.isReadable() && info.isExecutable() && showFolderInTree(path))
        return;
    // A place that cannot be opened is simply not taken: the chooser goes back to the folder shown.
    const QSignalBlocker quiet(m_drvSource);
    m_drvSource->setCurrentIndex(int(placeOfPath(m_places, m_browser->CurrentFolder())));
}

void frmViewer::DeleteSelectedFiles()
{
    QList<int> rows;
    for (const QModelIndex& index : m_shots->selectionModel()->selectedIndexes())
        rows.append(index.row());
    m_browser->DeleteSelectedFiles(rows);
}

void frmViewer::DeleteAllThumbnailsFiles() { m_browser->DeleteAllThumbnailsFiles(); }

void frmViewer::handleCopy()
{
    if (m_services.clipboard) {
        m_browser->copyPreview(*m_services.clipboard);
        return;
    }
    Imaging::DesktopImageClipboard desktop;
    m_browser->copyPreview(desktop);
}

bool frmViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_previewArea->viewport() && event->type() == QEvent::Resize)
        fitPreview();
    return QDialog::eventFilter(watched, event);
}

void frmViewer::fitPreview()
{
    const QImage& image = m_browser->preview();
    if (image.isNull()) {
        m_preview->clear();
        return;
    }
    // Shown whole in the panel, never enlarged.
    const QSize room = m_previewArea->viewport()->size();
    const double zoom = std::min({ 1.0, double(room.width()) / image.width(), double(room.height()) / image.height() });
    m_preview->setPicture(image, zoom);
}

} // namespace Viewer
