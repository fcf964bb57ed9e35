#include "shell/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolBar>

#include "admin/adminservices.h"
#include "admin/widgets/frmimport.h"
#include "admin/widgets/frmsetup.h"
#include "admin/widgets/frmupload.h"
#include "batch/appfolders.h"
#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linkslistmodel.h"
#include "batch/retryfile.h"
#include "batch/runhistory.h"
#include "batch/runreport.h"
#include "batch/widgets/frmmsg.h"
#include "common/curi.h"
#include "common/desktop.h"
#include "common/messagebox.h"
#include "common/thumbnailmodel.h"
#include "common/widgets/qtpickers.h"
#include "common/widgets/thumbnailstrip.h"
#include "common/widgets/windowhelpers.h"
#include "common/windowgeometry.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"
#include "settings/widgets/frmsettings.h"
#include "shell/frmabout.h"
#include "shell/frmhelp.h"
#include "shell/runendnotifier.h"
#include "shell/windowplacement.h"
#include "snapshotter/widgets/frmshot.h"
#include "viewer/widgets/frmviewer.h"

namespace Shell {

namespace {

    const char* const AppTitle = "Pictavo Studio";

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

    QLabel* captionLabel(const QString& text, QWidget* parent)
    {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    }

    QLabel* valueLabel(const QString& objectName, const QString& text, QWidget* parent)
    {
        auto* label = new QLabel(text, parent);
        label->setObjectName(objectName);
        label->setMinimumWidth(60);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    }

    QRect toTwips(const QRect& pixels)
    {
        return { Common::toTwips(pixels.x()), Common::toTwips(pixels.y()), Common::toTwips(pixels.width()),
            Common::toTwips(pixels.height()) };
    }

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
    buildTopPanel();

    m_lvwLinks = new QTableView(m_mainArea);
    m_lvwLinks->setObjectName(QStringLiteral("lvwLinks"));
    // A table with fixed row heights and no row header: a long run's rows cost no layout at all.
    m_lvwLinks->verticalHeader()->hide();
    m_lvwLinks->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_lvwLinks->verticalHeader()->setDefaultSectionSize(m_lvwLinks->fontMetrics().height() + 4);
    m_lvwLinks->setShowGrid(false);
    m_lvwLinks->setWordWrap(false);
    m_lvwLinks->setCornerButtonEnabled(false);
    m_lvwLinks->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_lvwLinks->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvwLinks->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvwLinks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvwLinks->horizontalHeader()->setStretchLastSection(false);
    m_lvwLinks->horizontalHeader()->setHighlightSections(false);
    m_lvwLinks->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_lvwLinks, &QTableView::activated, this, &frmMain::handleLinkActivated);
    // Emptying the list at the start of a run resets the header; the columns get their widths back.
    connect(m_linksModel, &QAbstractItemModel::modelReset, this, &frmMain::arrangeControls);

    m_thumbnails = new Common::ThumbnailStrip(m_mainArea);
    m_thumbnails->setObjectName(QStringLiteral("Thumbnails"));
    m_thumbnails->setThumbnailModel(m_thumbnailModel);
    connect(m_thumbnails, &Common::ThumbnailStrip::captionActivated, this,
        [this](const QString& caption) { openLinkAddress(caption); });

    buildStatsPanel();

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
    connectRun();
    // Every run leaves its report; the status bar names it once the run is over.
    auto* report = new Batch::RunReport(*m_run, services.appPath + QStringLiteral("data/reports"), this);
    auto* history
        = new Batch::RunHistory(*m_run, services.appPath + QStringLiteral("data/history.db"), services.settings, this);
    connect(history, &Batch::RunHistory::historyFailed, this, &frmMain::setStatusText);
    connect(report, &Batch::RunReport::reportWritten, this, [this, history](const QString& path) {
        QStringList parts;
        if (const QString pages = m_run->pageSummary(); !pages.isEmpty())
            parts.append(pages);
        if (const QString since = history->summary(); !since.isEmpty())
            parts.append(tr("Since the last runs: %1").arg(since));
        if (const QString time = m_run->timeSummary(); !time.isEmpty())
            parts.append(tr("Time: %1").arg(time));
        parts.append(tr("Run report: %1").arg(path));
        setStatusText(parts.join(QStringLiteral(". ")));
    });
    // A report that could not be written is told once the run is over: a box during the run would hold up
    // the completions behind it.
    const auto tellReportFailure = [this](const QString& message) {
        m_services.boxes.inform(message, tr("Run report"), Common::MessageBox::Icon::Critical);
    };
    connect(report, &Batch::RunReport::reportFailed, this, [this, tellReportFailure](const QString& message) {
        setStatusText(message);
        if (!m_run->isActive())
            tellReportFailure(message);
    });
    connect(m_run, &Batch::BatchRun::finished, report, [report, tellReportFailure] {
        if (!report->errorText().isEmpty() && !report->isAmending())
            tellReportFailure(report->errorText());
    });
    buildRunCommands();
}

frmMain::~frmMain()
{
    // The run refers to the completion step, which goes with the window's members.
    delete m_run;
}

void frmMain::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* config = menuBar()->addMenu(tr("&Config"));
    config->setObjectName(QStringLiteral("mnuConfig"));
    QAction* setup = config->addAction(tr("&Setup"));
    setup->setObjectName(QStringLiteral("mnuSetup"));
    connect(setup, &QAction::triggered, this, &frmMain::setupCommand);
    QAction* settings = config->addAction(tr("Settings"));
    settings->setObjectName(QStringLiteral("mnuSettings"));
    connect(settings, &QAction::triggered, this, &frmMain::settingsCommand);

    QMenu* action = menuBar()->addMenu(tr("&Action"));
    action->setObjectName(QStringLiteral("mnuAction"));
    const auto item = [action](const QString& caption, const char* name) {
        QAction* added = action->addAction(caption);
        added->setObjectName(QString::fromLatin1(name));
        return added;
    };
    m_mnuStart = item(tr("&Start"), "mnuStart");
    m_mnuPause = item(tr("&Pause"), "mnuPause");
    m_mnuStop = item(tr("Stop"), "mnuStop");
    m_mnuRetry = item(tr("&Retry"), "mnuRetry");
    connect(m_mnuStart, &QAction::triggered, this, &frmMain::startCommand);
    connect(m_mnuPause, &QAction::triggered, this, &frmMain::pauseCommand);
    connect(m_mnuStop, &QAction::triggered, this, &frmMain::stopCommand);
    connect(m_mnuRetry, &QAction::triggered, this, &frmMain::retryCommand);

    QMenu* admin = menuBar()->addMenu(tr("Admin"));
    admin->setObjectName(QStringLiteral("muAdmin"));
    QAction* import = admin->addAction(tr("&Import"));
    import->setObjectName(QStringLiteral("mnuImport"));
    connect(import, &QAction::triggered, this, &frmMain::importCommand);
    QAction* upload = admin->addAction(tr("&Upload"));
    upload->setObjectName(QStringLiteral("mnuUpload"));
    connect(upload, &QAction::triggered, this, &frmMain::uploadCommand);
    admin->addSeparator()->setObjectName(QStringLiteral("mnu0"));
    QAction* panel = admin->addAction(tr("Admin Panel"));
    panel->setObjectName(QStringLiteral("mnuAdminPanel"));
    connect(panel, &QAction::triggered, this, &frmMain::adminPanelCommand);

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    QAction* viewer = tools->addAction(tr("Thumbnails Browser"));
    viewer->setObjectName(QStringLiteral("mnuThumnailsViewer"));
    connect(viewer, &QAction::triggered, this, &frmMain::viewerCommand);
    QAction* snapshotter = tools->addAction(tr("Snapshotter"));
    snapshotter->setObjectName(QStringLiteral("mnuSnapshotter"));
    connect(snapshotter, &QAction::triggered, this, &frmMain::snapshotterCommand);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction* about = help->addAction(tr("&About "));
    about->setObjectName(QStringLiteral("mnuHelpAbout"));
    connect(about, &QAction::triggered, this, &frmMain::aboutCommand);
}

void frmMain::buildRunCommands()
{
    const auto icon = [this](QStyle::StandardPixmap which) { return style()->standardIcon(which); };
    addToolbarButton("Setup", tr("Setup your directory admin center information"), icon(QStyle::SP_FileDialogInfoView),
        &frmMain::setupCommand);
    addToolbarButton("Settings", tr("Settings"), icon(QStyle::SP_FileDialogDetailedView), &frmMain::settingsCommand);
    addToolbarButton(
        "Import", tr("Import directory links information"), icon(QStyle::SP_ArrowDown), &frmMain::importCommand);
    addToolbarButton("Start", tr("Start snapshots"), icon(QStyle::SP_MediaPlay), &frmMain::startCommand);
    addToolbarButton("Pause", tr("Pause"), icon(QStyle::SP_MediaPause), &frmMain::pauseCommand);
    addToolbarButton("Stop", tr("Stop"), icon(QStyle::SP_MediaStop), &frmMain::stopCommand);
    addToolbarButton("Retry", tr("Create retry file"), icon(QStyle::SP_BrowserReload), &frmMain::retryCommand);
    addToolbarButton(
        "Upload", tr("Upload snapshots to your directory server"), icon(QStyle::SP_ArrowUp), &frmMain::uploadCommand);
    addToolbarButton("Shot", tr("Snapshot website"), icon(QStyle::SP_DesktopIcon), &frmMain::snapshotterCommand);
    addToolbarButton("View", tr("Vew your images folder thumbnails"), icon(QStyle::SP_FileDialogContentsView),
        &frmMain::viewerCommand);
    toolbarAction(QStringLiteral("View"))->setText(tr("Thumbs"));
    addToolbarButton("Help", tr("Help"), icon(QStyle::SP_DialogHelpButton), &frmMain::helpCommand);
    setRunState(RunState::Idle);
}

void frmMain::addToolbarButton(const char* key, const QString& tooltip, const QIcon& icon, void (frmMain::*command)())
{
    QAction* action = m_toolbar->addAction(icon, tr(key));
    action->setObjectName(QString::fromLatin1(key));
    action->setToolTip(tooltip);
    connect(action, &QAction::triggered, this, command);
}

Admin::AdminServices frmMain::adminServices()
{
    return { m_services.hive, m_services.settings, m_services.boxes, m_services.appPath,
        [this] { RefreshLinksCount(); }, QString::fromLatin1(AppTitle) };
}

bool frmMain::readAdminPassword()
{
    // The settings store holds no password where the keyring keeps it. One the keyring does not give opens
    // neither window: their requests would send an empty password, and the server would blame the user.
    Settings::LiveSettings& settings = m_services.settings;
    if (!settings.AdminPassword.isEmpty())
        return true;
    const Common::Result<QString> password
        = Settings::PasswordStore(m_services.hive).read(settings.AdminURL, settings.AdminUserID);
    if (password) {
        settings.AdminPassword = password.value();
        return true;
    }
    m_services.boxes.inform(password.error().message
            + tr(". Unlock the keyring, or open Setup, type the password and tick \"Keep the password in the "
                 "settings file\"."),
        QString::fromLatin1(AppTitle), Common::MessageBox::Icon::Critical);
    return false;
}

void frmMain::showOwnedWindow(QDialog* window)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    registerWindow(window);
    // A window that did not size itself gets its natural size now, so it is centred as it will show.
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    Common::CenterForm(window, this);
    window->exec();
}

void frmMain::setupCommand()
{
    if (m_runState == RunState::Idle)
        showOwnedWindow(new Admin::frmSetup(adminServices(), this));
}

Common::Pickers& frmMain::pickers()
{
    if (!m_services.pickers) {
        m_ownPickers = std::make_unique<Common::QtPickers>(this);
        m_services.pickers = m_ownPickers.get();
    }
    return *m_services.pickers;
}

void frmMain::settingsCommand()
{
    if (m_runState != RunState::Idle)
        return;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    showOwnedWindow(
        new Settings::frmSettings({ m_services.hive, m_services.settings, pickers(), m_services.desktop,
                                      m_services.appPath, cache, [this] { applySettings(); }, shippedPath() },
            this));
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

void frmMain::importCommand()
{
    if (m_runState == RunState::Idle && readAdminPassword())
        showOwnedWindow(new Admin::frmImport(adminServices(), this));
}

void frmMain::uploadCommand()
{
    if (m_runState == RunState::Idle && readAdminPassword())
        showOwnedWindow(new Admin::frmUpload(adminServices(), m_links.StartLink(), m_links.EndLink(), this));
}

void frmMain::viewerCommand()
{
    if (m_runState == RunState::Idle)
        showOwnedWindow(new Viewer::frmViewer(
            { m_services.settings, m_services.boxes, nullptr, Batch::AppFolders(m_services.appPath).snapshots }, this));
}

QString frmMain::shippedPath() const
{
    return m_services.shippedPath.isEmpty() ? m_services.appPath : m_services.shippedPath;
}

void frmMain::snapshotterCommand()
{
    if (m_runState == RunState::Idle)
        showOwnedWindow(new Snapshotter::frmShot(
            { m_services.hive, m_services.settings, m_services.boxes, m_services.host, m_services.appPath }, pickers(),
            this));
}

void frmMain::helpCommand()
{
    if (m_runState == RunState::Idle)
        showOwnedWindow(new frmHelp(m_services.desktop, shippedPath(), this));
}

void frmMain::aboutCommand()
{
    // The about window opens where it likes, not centred over the main window.
    auto* about = new frmAbout(m_services.desktop, this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    registerWindow(about);
    about->exec();
}

void frmMain::adminPanelCommand()
{
    // The directory's own administration pages live at the script's address.
    if (!m_services.settings.AdminURL.trimmed().isEmpty())
        Common::ShellOpen(m_services.desktop, m_services.settings.AdminURL.trimmed());
}

QAction* frmMain::toolbarAction(const QString& key) const
{
    return m_toolbar->findChild<QAction*>(key, Qt::FindDirectChildrenOnly);
}

void frmMain::DisableToolbar()
{
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help" }) {
        if (QAction* action = toolbarAction(QString::fromLatin1(key)))
            action->setEnabled(false);
    }
}

void frmMain::EnableToolbar()
{
    for (const char* key : { "Setup", "Settings", "Import", "Upload", "Shot", "View", "Help" }) {
        if (QAction* action = toolbarAction(QString::fromLatin1(key)))
            action->setEnabled(true);
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

void frmMain::connectRun()
{
    connect(m_run, &Batch::BatchRun::statusText, this, &frmMain::setStatusText);
    connect(
        m_run, &Batch::BatchRun::rangeValidated, this, [this](const QString& from, const QString& to, qint32 selected) {
            m_txtStartLinksFrom->setText(from);
            m_txtStartLinksTo->setText(to);
            m_lblSelectedLinks->setText(QString::number(selected));
        });
    connect(m_run, &Batch::BatchRun::countersCleared, this, [this] {
        for (QLabel* label : { m_lblDoneCount, m_lblSuccessCount, m_lblErrorsCount })
            label->setText(QStringLiteral("-"));
        m_prgProgressBar->setRange(0, 100);
        m_prgProgressBar->setValue(0);
        m_lblProgress->clear();
    });
    connect(m_run, &Batch::BatchRun::countersChanged, this, [this](qint32 done, qint32 success, qint32 errors) {
        m_lblDoneCount->setText(QString::number(done));
        m_lblSuccessCount->setText(QString::number(success));
        m_lblErrorsCount->setText(QString::number(errors));
    });
    connect(m_run, &Batch::BatchRun::progressChanged, this, [this](qint32 percent) {
        m_prgProgressBar->setValue(percent);
        m_lblProgress->setText(QString::number(percent) + QLatin1Char('%'));
    });
    connect(m_run, &Batch::BatchRun::rowAdded, this, [this](int row) {
        // A run adds rows in bursts; scrolling once per burst keeps the view from laying out every row.
        if (row < 0 || m_followPending)
            return;
        m_followPending = true;
        QMetaObject::invokeMethod(this, &frmMain::followNewestRow, Qt::QueuedConnection);
    });
    connect(m_run, &Batch::BatchRun::waitingStarted, this, &frmMain::showWaitingWindow);
    connect(m_run, &Batch::BatchRun::workingThreadsChanged, this, [this](int busy) {
        if (m_frmMsg)
            m_frmMsg->setWorkingThreads(busy);
    });
    connect(m_run, &Batch::BatchRun::finished, this, &frmMain::handleRunFinished);
}

void frmMain::followNewestRow()
{
    m_followPending = false;
    if (const int rows = m_linksModel->rowCount(); rows > 0)
        m_lvwLinks->scrollTo(m_linksModel->index(rows - 1, 0));
}

void frmMain::startCommand()
{
    if (m_runState != RunState::Idle)
        return;
    setRunState(RunState::Running);
    m_run->clearFlags();
    if (!m_run->StartSnapShots(m_txtStartLinksFrom->text(), m_txtStartLinksTo->text(), m_chkSkipExisting->isChecked()))
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
    m_run->stop();
    showWaitingWindow();
}

void frmMain::retryCommand()
{
    if (m_runState != RunState::Idle)
        return;
    setRunState(RunState::Running);
    m_run->clearFlags();
    // The retry file replaces the links database: never while another run works there.
    if (!m_run->holdFolders())
        return setRunState(RunState::Idle);

    auto* wait = new Batch::frmRetryMsg(this);
    wait->setAttribute(Qt::WA_DeleteOnClose);
    wait->show();
    Common::CenterForm(wait, this);
    setStatusText(tr("Creating retry links file..."));
    m_prgProgressBar->setRange(0, 100);
    m_prgProgressBar->setValue(0);
    const Settings::LiveSettings& s = m_services.settings;
    const bool replaced = Batch::CreateRetryFile(
        m_links.LinksInfoFile(), s.ImagesFolder, s.ImageType, m_services.boxes, [this](int percent) {
            m_prgProgressBar->setValue(percent);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
    if (replaced) {
        countLinksWithStatus();
    }
    wait->close();

    if (!m_run->StartSnapShots(m_txtStartLinksFrom->text(), m_txtStartLinksTo->text(), m_chkSkipExisting->isChecked()))
        setRunState(RunState::Idle);
}

void frmMain::showWaitingWindow()
{
    if (!m_frmMsg) {
        m_frmMsg = new Batch::frmMsg(this);
        connect(m_frmMsg, &Batch::frmMsg::abortRequested, m_run, &Batch::BatchRun::abortWaiting);
    }
    m_frmMsg->setWorkingThreads(m_run->busySlots());
    m_frmMsg->show();
    Common::CenterForm(m_frmMsg, this);
}

void frmMain::handleRunFinished(bool stopped, qint32 resumeFrom)
{
    // Any window of the program in front (the waiting window of a stop, say) means the user sees the end.
    if (m_services.notifier)
        m_services.notifier->runEnded(
            m_run->SuccessCount(), m_run->DoneCount() - m_run->SuccessCount(), QApplication::activeWindow() != nullptr);
    if (stopped)
        m_txtStartLinksFrom->setText(QString::number(resumeFrom));
    if (m_frmMsg) {
        m_frmMsg->hide();
        m_frmMsg->deleteLater();
    }
    setRunState(RunState::Idle);
}

void frmMain::buildTopPanel()
{
    m_picTop = new QWidget(m_mainArea);
    m_picTop->setObjectName(QStringLiteral("picTop"));
    auto* row = new QHBoxLayout(m_picTop);
    row->setContentsMargins(6, 4, 6, 4);

    m_lblTotalLocalLinks = valueLabel(QStringLiteral("lblTotalLocalLinks"), QStringLiteral("0"), m_picTop);
    m_txtStartLinksFrom = new QLineEdit(QStringLiteral("1"), m_picTop);
    m_txtStartLinksFrom->setObjectName(QStringLiteral("txtStartLinksFrom"));
    m_txtStartLinksTo = new QLineEdit(QStringLiteral("0"), m_picTop);
    m_txtStartLinksTo->setObjectName(QStringLiteral("txtStartLinksTo"));
    for (QLineEdit* box : { m_txtStartLinksFrom, m_txtStartLinksTo })
        box->setMaximumWidth(110);
    m_cmdCalculateTotalLinks = new QPushButton(tr("Refresh"), m_picTop);
    m_cmdCalculateTotalLinks->setObjectName(QStringLiteral("cmdCalculateTotalLinks"));
    connect(m_cmdCalculateTotalLinks, &QPushButton::clicked, this, &frmMain::handleCalculateTotalLinks);
    m_chkSkipExisting = new QCheckBox(tr("Skip Existing"), m_picTop);
    m_chkSkipExisting->setObjectName(QStringLiteral("chkSkipExisting"));

    row->addWidget(captionLabel(tr("Links:"), m_picTop));
    row->addWidget(m_lblTotalLocalLinks);
    row->addSpacing(12);
    row->addWidget(captionLabel(tr("Start from number:"), m_picTop));
    row->addWidget(m_txtStartLinksFrom);
    row->addWidget(captionLabel(tr("to:"), m_picTop));
    row->addWidget(m_txtStartLinksTo);
    row->addWidget(m_cmdCalculateTotalLinks);
    row->addSpacing(12);
    row->addWidget(m_chkSkipExisting);
    row->addStretch(1);
    m_picTop->setFixedHeight(m_picTop->sizeHint().height());
}

void frmMain::buildStatsPanel()
{
    m_picStats = new QWidget(m_mainArea);
    m_picStats->setObjectName(QStringLiteral("picStats"));
    auto* row = new QHBoxLayout(m_picStats);
    row->setContentsMargins(6, 4, 6, 4);

    m_prgProgressBar = new QProgressBar(m_picStats);
    m_prgProgressBar->setObjectName(QStringLiteral("prgProgressBar"));
    m_prgProgressBar->setRange(0, 100);
    m_prgProgressBar->setValue(0);
    m_prgProgressBar->setTextVisible(false);
    m_lblProgress = valueLabel(QStringLiteral("lblProgress"), QStringLiteral("0%"), m_picStats);
    m_lblSelectedLinks = valueLabel(QStringLiteral("lblSelectedLinks"), QStringLiteral("0"), m_picStats);
    m_lblDoneCount = valueLabel(QStringLiteral("lblDoneCount"), QStringLiteral("0"), m_picStats);
    m_lblSuccessCount = valueLabel(QStringLiteral("lblSuccessCount"), QStringLiteral("0"), m_picStats);
    m_lblErrorsCount = valueLabel(QStringLiteral("lblErrorsCount"), QStringLiteral("0"), m_picStats);

    row->addWidget(m_prgProgressBar, 1);
    row->addWidget(m_lblProgress);
    row->addWidget(captionLabel(tr("Total:"), m_picStats));
    row->addWidget(m_lblSelectedLinks);
    row->addWidget(captionLabel(tr("Done:"), m_picStats));
    row->addWidget(m_lblDoneCount);
    row->addWidget(captionLabel(tr("Success:"), m_picStats));
    row->addWidget(m_lblSuccessCount);
    row->addWidget(captionLabel(tr("Errors:"), m_picStats));
    row->addWidget(m_lblErrorsCount);
    m_picStats->setFixedHeight(m_picStats->sizeHint().height());
}

void frmMain::startUp()
{
    restorePlacement();
    m_services.settings = Settings::LoadSettings(m_services.hive, m_services.appPath, shippedPath());

    m_lvwLinks->setModel(m_linksModel);
    m_lvwLinks->horizontalHeader()->resizeSection(
        Batch::LinksListModel::NumberColumn, Common::toPixels(Batch::LinksListModel::NumberColumnTwips));
    m_lvwLinks->horizontalHeader()->resizeSection(
        Batch::LinksListModel::IdColumn, Common::toPixels(Batch::LinksListModel::IdColumnTwips));

    setWindowTitle(QString::fromLatin1(AppTitle));
    QGuiApplication::setApplicationDisplayName(QString::fromLatin1(AppTitle));

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
    m_lblTotalLocalLinks->setText(QString::number(count));
    m_txtStartLinksFrom->setText(QStringLiteral("1"));
    m_txtStartLinksTo->setText(QString::number(count));
    return true;
}

void frmMain::countLinksWithStatus()
{
    setStatusText(tr("Calculating local links database count..."));
    if (RefreshLinksCount())
        setStatusText(tr("Ready"));
}

void frmMain::setStatusText(const QString& text) { m_statusPanel->setText(text); }

QString frmMain::statusText() const { return m_statusPanel->text(); }

void frmMain::registerWindow(QWidget* window) { m_windows.append(window); }

void frmMain::handleCalculateTotalLinks() { countLinksWithStatus(); }

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

void frmMain::restorePlacement()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenPixels = screen ? screen->size() : QSize(1024, 768);
    const WindowPlacement placement = readMainWindowPlacement(
        m_services.hive, QSize(Common::toTwips(screenPixels.width()), Common::toTwips(screenPixels.height())));
    m_restoredTwips = placement;
    m_placementPending = true;
    applyPlacement();
}

void frmMain::applyPlacement()
{
    // The stored size is the outer size; the frame's thickness is only known once the window is
    // shown, so the placement is applied again then.
    // Kept apart rather than in a QRect: its right edge would overflow for the largest stored values.
    const QPoint position(Common::toPixels(m_restoredTwips.left), Common::toPixels(m_restoredTwips.top));
    const QSize outer(Common::toPixels(m_restoredTwips.width), Common::toPixels(m_restoredTwips.height));
    const QSize frame = frameGeometry().size() - size();
    move(position);
    resize((outer - frame).expandedTo(QSize(1, 1)));
}

void frmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_placementPending) {
        m_placementPending = false;
        applyPlacement();
    }
}

void frmMain::closeEvent(QCloseEvent* event)
{
    for (auto it = m_windows.crbegin(); it != m_windows.crend(); ++it) {
        if (*it)
            (*it)->close();
    }
    m_windows.clear();
    if (!isMinimized()) {
        const QRect outer = toTwips(frameGeometry());
        saveMainWindowPlacement(
            m_services.hive, { double(outer.x()), double(outer.y()), double(outer.width()), double(outer.height()) });
    }
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
    if (m_formLoaded && m_lvwLinks->model()) {
        const int width = Common::toPixels(m_layout.urlColumnWidth);
        m_lvwLinks->horizontalHeader()->resizeSection(Batch::LinksListModel::UrlColumn, width);
        m_lvwLinks->horizontalHeader()->resizeSection(Batch::LinksListModel::StatusColumn, width);
    }
}

} // namespace Shell
