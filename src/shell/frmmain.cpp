#include "shell/frmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "batch/appfolders.h"
#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linkslistmodel.h"
#include "batch/runhistory.h"
#include "batch/runreport.h"
#include "common/curi.h"
#include "common/desktop.h"
#include "common/thumbnailmodel.h"
#include "common/widgets/thumbnailstrip.h"
#include "common/widgets/windowhelpers.h"
#include "common/windowgeometry.h"
#include "settings/livesettings.h"
#include "shell/emptylisttext.h"
#include "shell/linksview.h"
#include "shell/mainplacement.h"
#include "shell/programinfo.h"
#include "shell/rangepanel.h"
#include "shell/runendnotifier.h"
#include "shell/runstatusline.h"
#include "shell/runwiring.h"
#include "shell/statspanel.h"
#include "shell/windowcommands.h"

namespace Shell {

namespace {

    // The area between the toolbar and the status bar, where the controls are placed by hand so that
    // the list and the strip share the free height.
    class MainArea final : public QWidget {
    public:
        MainArea(std::function<void()> onResize, QWidget* parent)
            : QWidget(parent)
            , m_onResize(std::move(onResize))
        {
        }

    protected:
        void resizeEvent(QResizeEvent* event) override
        {
            QWidget::resizeEvent(event);
            m_onResize();
        }

    private:
        std::function<void()> m_onResize;
    };

    QRect toPixels(const QRect& twips)
    {
        return { Common::toPixels(twips.x()), Common::toPixels(twips.y()), Common::toPixels(twips.width()),
            Common::toPixels(twips.height()) };
    }

} // namespace

frmMain::frmMain(const MainServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_links(services.appPath + QStringLiteral("data/LinksInfo.txt"))
    , m_linksModel(new Batch::LinksListModel(this))
    , m_thumbnailModel(new Common::ThumbnailModel(this))
{
    setObjectName(QStringLiteral("frmMain"));
    m_placement = new MainPlacement(services.hive, *this);
    m_windowCommands = new WindowCommands(m_services, m_links,
        { [this] { return m_runState == RunState::Idle; }, [this] { RefreshLinksCount(); },
            [this] { applySettings(); } },
        this);
    buildMenus();
    if (m_services.notifier) {
        connect(m_services.notifier, &RunEndNotifier::activated, this, [this] {
            setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            raise();
            activateWindow();
        });
    }

    m_toolbar = addToolBar(tr("Toolbar"));
    m_toolbar->setObjectName(QStringLiteral("tbToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    m_mainArea = new MainArea([this] { arrangeControls(); }, this);
    setCentralWidget(m_mainArea);
    m_picTop = new RangePanel(m_mainArea);
    connect(m_picTop, &RangePanel::refreshClicked, this, &frmMain::countLinksWithStatus);

    m_lvwLinks = new LinksView(m_mainArea);
    connect(m_lvwLinks, &QTableView::activated, this, &frmMain::handleLinkActivated);
    // Emptying the list at the start of a run resets the header; the columns get their widths back.
    connect(m_linksModel, &QAbstractItemModel::modelReset, this, &frmMain::arrangeControls);

    m_thumbnails = new Common::ThumbnailStrip(m_mainArea);
    m_thumbnails->setObjectName(QStringLiteral("Thumbnails"));
    m_thumbnails->setThumbnailModel(m_thumbnailModel);
    m_thumbnails->setFollowsNewest(true);
    connect(m_thumbnails, &Common::ThumbnailStrip::captionActivated, this,
        [this](const QString& caption) { openLinkAddress(caption); });

    m_picStats = new StatsPanel(m_mainArea);

    setStatusBar(Common::statusBarWithPanel(&m_statusPanel, this));

    m_completion = std::make_unique<Batch::CaptureCompletion>(
        Batch::CaptureCompletion::Services { services.settings, *m_linksModel, *m_thumbnailModel, services.boxes,
            services.appPath, [this](const QString& text) { setStatusText(text); },
            [this] {
                m_thumbnails->SetViewerOptions(QSize(m_services.settings.ImageWidth, m_services.settings.ImageHeight));
            } });
    m_run = new Batch::BatchRun(
        { services.settings, m_links, *m_linksModel, *m_completion, services.host, services.boxes, services.appPath },
        this);
    m_runWiring = new RunWiring(
        { *m_run, m_links, services.settings, services.boxes, services.notifier, *m_picTop, *m_picStats, *m_lvwLinks,
            *this, [this](const QString& text) { setStatusText(text); }, [this] { countLinksWithStatus(); } });
    connect(m_runWiring, &RunWiring::runEnded, this, [this] { setRunState(RunState::Idle); });
    // Every run leaves its report; the status bar names it once the run is over.
    auto* report = new Batch::RunReport(*m_run, services.appPath + QStringLiteral("data/reports"), this);
    auto* history
        = new Batch::RunHistory(*m_run, services.appPath + QStringLiteral("data/history.db"), services.settings, this);
    connect(history, &Batch::RunHistory::historyFailed, this, &frmMain::setStatusText);
    auto* statusLine = new RunStatusLine(*m_run, *report, services.boxes, this);
    statusLine->setHistory(history);
    connect(statusLine, &RunStatusLine::statusChanged, this, &frmMain::setStatusText);

    buildRunCommands();
}

frmMain::~frmMain()
{
    // The run refers to the completion step, which goes with the window's members.
    delete m_run;
}

void frmMain::buildMenus()
{
    const auto menu = [this](const QString& caption, const char* name) {
        QMenu* added = menuBar()->addMenu(caption);
        added->setObjectName(QString::fromLatin1(name));
        return added;
    };
    const auto item = [](QMenu* into, const QString& caption, const char* name) {
        QAction* added = into->addAction(caption);
        added->setObjectName(QString::fromLatin1(name));
        return added;
    };
    WindowCommands* windows = m_windowCommands;
    QMenu* file = menu(tr("&File"), "mnuFile");
    connect(item(file, tr("E&xit"), "mnuFileExit"), &QAction::triggered, this, &QWidget::close);

    QMenu* config = menu(tr("&Config"), "mnuConfig");
    connect(item(config, tr("&Setup"), "mnuSetup"), &QAction::triggered, windows, &WindowCommands::setup);
    connect(item(config, tr("Settings"), "mnuSettings"), &QAction::triggered, windows, &WindowCommands::settings);

    QMenu* action = menu(tr("&Action"), "mnuAction");
    m_mnuStart = item(action, tr("&Start"), "mnuStart");
    m_mnuPause = item(action, tr("&Pause"), "mnuPause");
    m_mnuStop = item(action, tr("Stop"), "mnuStop");
    m_mnuRetry = item(action, tr("&Retry"), "mnuRetry");
    connect(m_mnuStart, &QAction::triggered, this, &frmMain::startCommand);
    connect(m_mnuPause, &QAction::triggered, this, &frmMain::pauseCommand);
    connect(m_mnuStop, &QAction::triggered, this, &frmMain::stopCommand);
    connect(m_mnuRetry, &QAction::triggered, this, &frmMain::retryCommand);

    QMenu* admin = menu(tr("Admin"), "muAdmin");
    connect(item(admin, tr("&Import"), "mnuImport"), &QAction::triggered, windows, &WindowCommands::import);
    connect(item(admin, tr("&Upload"), "mnuUpload"), &QAction::triggered, windows, &WindowCommands::upload);
    admin->addSeparator()->setObjectName(QStringLiteral("mnu0"));
    connect(item(admin, tr("Admin Panel"), "mnuAdminPanel"), &QAction::triggered, windows, &WindowCommands::adminPanel);

    QMenu* tools = menu(tr("&Tools"), "mnuTools");
    connect(item(tools, tr("Thumbnails Browser"), "mnuThumnailsViewer"), &QAction::triggered, windows,
        &WindowCommands::viewer);
    connect(
        item(tools, tr("Snapshotter"), "mnuSnapshotter"), &QAction::triggered, windows, &WindowCommands::snapshotter);

    QMenu* help = menu(tr("&Help"), "mnuHelp");
    connect(item(help, tr("&About "), "mnuHelpAbout"), &QAction::triggered, windows, &WindowCommands::about);
}

void frmMain::buildRunCommands()
{
    const auto icon = [this](QStyle::StandardPixmap which) { return style()->standardIcon(which); };
    WindowCommands* windows = m_windowCommands;
    addToolbarButton("Setup", tr("Setup your directory admin center information"), icon(QStyle::SP_FileDialogInfoView),
        windows, &WindowCommands::setup);
    addToolbarButton(
        "Settings", tr("Settings"), icon(QStyle::SP_FileDialogDetailedView), windows, &WindowCommands::settings);
    addToolbarButton("Import", tr("Import directory links information"), icon(QStyle::SP_ArrowDown), windows,
        &WindowCommands::import);
    addToolbarButton("Start", tr("Start snapshots"), icon(QStyle::SP_MediaPlay), this, &frmMain::startCommand);
    addToolbarButton("Pause", tr("Pause"), icon(QStyle::SP_MediaPause), this, &frmMain::pauseCommand);
    addToolbarButton("Stop", tr("Stop"), icon(QStyle::SP_MediaStop), this, &frmMain::stopCommand);
    addToolbarButton("Retry", tr("Create retry file"), icon(QStyle::SP_BrowserReload), this, &frmMain::retryCommand);
    addToolbarButton("Upload", tr("Upload snapshots to your directory server"), icon(QStyle::SP_ArrowUp), windows,
        &WindowCommands::upload);
    addToolbarButton(
        "Shot", tr("Snapshot website"), icon(QStyle::SP_DesktopIcon), windows, &WindowCommands::snapshotter);
    addToolbarButton("View", tr("Vew your images folder thumbnails"), icon(QStyle::SP_FileDialogContentsView), windows,
        &WindowCommands::viewer);
    toolbarAction(QStringLiteral("View"))->setText(tr("Thumbs"));
    addToolbarButton("Help", tr("Help"), icon(QStyle::SP_DialogHelpButton), windows, &WindowCommands::help);
    setRunState(RunState::Idle);
}

template <typename Receiver>
void frmMain::addToolbarButton(
    const char* key, const QString& tooltip, const QIcon& icon, Receiver* receiver, void (Receiver::*command)())
{
    QAction* action = m_toolbar->addAction(icon, tr(key));
    action->setObjectName(QString::fromLatin1(key));
    action->setToolTip(tooltip);
    connect(action, &QAction::triggered, receiver, command);
}

void frmMain::applySettings()
{
    const Settings::LiveSettings& s = m_services.settings;
    m_thumbnails->SetViewerOptions(QSize(s.ImageWidth, s.ImageHeight));
    m_thumbnailModel->setThumbnailSize(QSize(s.ImageWidth, s.ImageHeight));
    // A run keeps at most one image beyond the count; a smaller count takes effect at once.
    while (m_thumbnailModel->rowCount() > std::max(0, s.MaxViewerCount) + 1)
        m_thumbnailModel->removeFirst();
}

QAction* frmMain::toolbarAction(const QString& key) const
{
    return m_toolbar->findChild<QAction*>(key, Qt::FindDirectChildrenOnly);
}

void frmMain::DisableToolbar() { setWindowButtonsEnabled(false); }

void frmMain::EnableToolbar() { setWindowButtonsEnabled(true); }

void frmMain::setWindowButtonsEnabled(bool enabled)
{
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help" }) {
        if (QAction* action = toolbarAction(QString::fromLatin1(key)))
            action->setEnabled(enabled);
    }
}

void frmMain::setRunState(RunState state)
{
    m_runState = state;
    const bool idle = state == RunState::Idle;
    const bool running = state == RunState::Running;
    // Menu items follow the toolbar button of the same command, so a second Start cannot begin
    // a run inside a run.
    const std::pair<const char*, bool> buttons[]
        = { { "Start", idle }, { "Retry", idle }, { "Pause", running }, { "Stop", running } };
    for (const auto& [key, enabled] : buttons)
        toolbarAction(QString::fromLatin1(key))->setEnabled(enabled);
    m_mnuStart->setEnabled(idle);
    m_mnuRetry->setEnabled(idle);
    m_mnuPause->setEnabled(running);
    m_mnuStop->setEnabled(running);
    for (const char* name :
        { "mnuSetup", "mnuSettings", "mnuImport", "mnuUpload", "mnuThumnailsViewer", "mnuSnapshotter" }) {
        if (auto* item = menuBar()->findChild<QAction*>(QString::fromLatin1(name)))
            item->setEnabled(idle);
    }
    if (idle)
        EnableToolbar();
    else
        DisableToolbar();
    if (!running) {
        toolbarAction(QStringLiteral("Pause"))->setText(tr("Pause"));
        m_mnuPause->setText(tr("&Pause"));
    }
}

void frmMain::startCommand()
{
    if (m_runState != RunState::Idle)
        return;
    setRunState(RunState::Running);
    if (!m_runWiring->start())
        setRunState(RunState::Idle);
}

void frmMain::pauseCommand()
{
    if (m_runState != RunState::Running)
        return;
    const bool paused = m_run->togglePause();
    toolbarAction(QStringLiteral("Pause"))->setText(paused ? tr("Resume") : tr("Pause"));
    m_mnuPause->setText(paused ? tr("&Resume") : tr("&Pause"));
}

void frmMain::stopCommand()
{
    if (m_runState != RunState::Running)
        return;
    setRunState(RunState::Stopping);
    m_runWiring->stop();
}

void frmMain::retryCommand()
{
    if (m_runState != RunState::Idle)
        return;
    setRunState(RunState::Running);
    if (!m_runWiring->retry())
        setRunState(RunState::Idle);
}

void frmMain::startUp()
{
    m_placement->restore();
    m_services.settings = Settings::LoadSettings(m_services.hive, m_services.appPath, m_windowCommands->shippedPath());

    m_lvwLinks->setLinksModel(m_linksModel);

    setWindowTitle(programName());
    QGuiApplication::setApplicationDisplayName(programName());

    const Batch::AppFolders folders(m_services.appPath);
    m_links = Batch::LinksDatabase(folders.LinksInfoFile);
    Batch::CreateAppFolders(folders, m_services.boxes);
    setRunState(RunState::Idle);
    m_thumbnails->SetViewerOptions(QSize(m_services.settings.ImageWidth, m_services.settings.ImageHeight));

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    countLinksWithStatus();
    m_links.setRange(1, m_links.TotalLinks());
    QGuiApplication::restoreOverrideCursor();

    m_formLoaded = true;
    arrangeControls();
}

bool frmMain::RefreshLinksCount()
{
    const Common::Result<qint32> counted = m_links.countLinks();
    if (!counted) {
        // The count and the range boxes stay as they were: a database that cannot be read is not empty.
        setStatusText(QStringLiteral("Error: ") + counted.error().message);
        return false;
    }
    const qint32 count = counted.value();
    m_picTop->setTotal(count);
    showEmptyListText(count);
    return true;
}

void frmMain::countLinksWithStatus()
{
    setStatusText(tr("Calculating local links database count..."));
    if (RefreshLinksCount())
        setStatusText(tr("Ready"));
}

void frmMain::showEmptyListText(qint32 linksCount)
{
    m_lvwLinks->setPlaceholderText(emptyListText(QDir::toNativeSeparators(m_links.LinksInfoFile()), linksCount));
}

void frmMain::setStatusText(const QString& text) { m_statusPanel->setText(text); }

QString frmMain::statusText() const { return m_statusPanel->text(); }

void frmMain::registerWindow(QWidget* window) { m_windowCommands->registerWindow(window); }

void frmMain::handleLinkActivated(const QModelIndex& index) { openLinkAddress(m_linksModel->url(index.row())); }

void frmMain::openLinkAddress(const QString& url)
{
    if (url.trimmed().isEmpty())
        return;
    // The directory's visitors submit these addresses: the desktop only ever gets a web page from
    // them, never a local file or a scheme that starts some other program.
    const std::optional<QString> address = Common::webAddress(url);
    const QUrl target = address ? QUrl(*address, QUrl::TolerantMode) : QUrl();
    if (!target.isValid() || target.host().isEmpty()) {
        setStatusText(tr("Not opened: only web addresses (http and https) are opened from the list"));
        return;
    }
    m_services.desktop.openUrl(target);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    m_windowCommands->closeAll();
    event->accept();
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (isMinimized())
        return;
    const QSize outer = frameGeometry().size();
    const QSize minimum(Common::toPixels(MinimumOuterTwips), Common::toPixels(MinimumOuterTwips));
    if (outer.width() < minimum.width() || outer.height() < minimum.height())
        resize(size() + (outer.expandedTo(minimum) - outer));
}

void frmMain::arrangeControls()
{
    MainLayoutInput in;
    in.outer = QSize(Common::toTwips(frameGeometry().width()), Common::toTwips(frameGeometry().height()));
    // The main area already lies between the toolbar and the status bar.
    in.inner = QSize(Common::toTwips(m_mainArea->width()), Common::toTwips(m_mainArea->height()));
    in.picTopHeight = Common::toTwips(m_picTop->height());
    in.picStatsHeight = Common::toTwips(m_picStats->height());
    // Measured inside the list's frame, so the four columns fit without a horizontal scroll bar.
    // The columns share the width inside the list's frame, with room for the vertical scroll bar that a
    // long list brings.
    in.listChromeWidth
        = Common::toTwips(2 * m_lvwLinks->frameWidth() + m_lvwLinks->verticalScrollBar()->sizeHint().width());
    in.column1Width = Common::toTwips(m_lvwLinks->horizontalHeader()->sectionSize(Batch::LinksListModel::NumberColumn));
    in.column2Width = Common::toTwips(m_lvwLinks->horizontalHeader()->sectionSize(Batch::LinksListModel::IdColumn));
    m_layout = arrangeMainWindow(in, m_layout);

    // The top panel spans the window less a margin, but never beyond the area it lives in.
    QRect top = toPixels(m_layout.picTop);
    top.setWidth(std::min(top.width(), m_mainArea->width()));
    m_picTop->setGeometry(top);
    m_lvwLinks->setGeometry(toPixels(m_layout.lvwLinks));
    m_thumbnails->setGeometry(toPixels(m_layout.Thumbnails));
    m_picStats->setGeometry(toPixels(m_layout.picStats));
    if (m_formLoaded && m_lvwLinks->model())
        m_lvwLinks->setSharedColumnsWidth(Common::toPixels(m_layout.urlColumnWidth));
}

} // namespace Shell
