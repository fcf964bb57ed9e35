#include "admin/widgets/frmimport.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "admin/adminchannel.h"
#include "admin/linksimport.h"
#include "batch/appfolders.h"
#include "common/filesize.h"
#include "common/messagebox.h"
#include "common/widgets/windowhelpers.h"
#include "settings/livesettings.h"

namespace Admin {

namespace {

    constexpr int DefaultPeriod = 5; // "24 Hours"

    QRadioButton* makeOption(const QString& name, const QString& caption)
    {
        auto* option = new QRadioButton(caption);
        option->setObjectName(name);
        return option;
    }

    QComboBox* makePeriodList(const QString& name, int index)
    {
        auto* list = new QComboBox;
        list->setObjectName(name);
        list->addItems(frmImport::periodTexts());
        // A stored index the list cannot show falls back to the default.
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : DefaultPeriod);
        return list;
    }

} // namespace

QStringList frmImport::periodTexts()
{
    return { tr("1 Hour"), tr("2 Hour"), tr("3 Hours"), tr("6 Hours"), tr("12 Hours"), tr("24 Hours"), tr("48 Hours"),
        tr("72 Hours"), tr("1 Week"), tr("2 Weeks"), tr("3 Weeks"), tr("4 Weeks"), tr("3 Months"), tr("6 Months"),
        tr("9 Months"), tr("12 Months") };
}

frmImport::frmImport(const AdminServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_import(new LinksImport(Batch::AppFolders(services.appPath).LinksInfoFile, this))
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(tr("Import"));
    setModal(true);

    auto* intro = new QLabel(tr("Import the search engine  links information and save it to a local file for use "
                                "with the Snapshot spider and the uploader."));
    intro->setWordWrap(true);

    const int period = m_services.settings.ImportLinksPeriod;
    m_optImportAll = makeOption(QStringLiteral("optImportAll"), tr("Import all  links"));
    m_optImportSubmitted
        = makeOption(QStringLiteral("optImportSubmitted"), tr("Import links submitted within the last:"));
    m_optImportAllWithout
        = makeOption(QStringLiteral("optImportAllWithout"), tr("Import all links without snapshot on the server."));
    m_optImportAllWithoutWithin = makeOption(
        QStringLiteral("optImportAllWithoutWithin"), tr("Import all links without snapshot on the server within:"));
    m_cboLinksPeriod = makePeriodList(QStringLiteral("cboLinksPeriod"), period);
    m_cboLinksPeriod1 = makePeriodList(QStringLiteral("cboLinksPeriod1"), period);

    auto* frame = new QGroupBox(tr("Links"));
    auto* options = new QGridLayout(frame);
    options->addWidget(m_optImportAll, 0, 0, 1, 2);
    options->addWidget(m_optImportSubmitted, 1, 0);
    options->addWidget(m_cboLinksPeriod, 1, 1);
    options->addWidget(m_optImportAllWithout, 2, 0, 1, 2);
    options->addWidget(m_optImportAllWithoutWithin, 3, 0);
    options->addWidget(m_cboLinksPeriod1, 3, 1);

    m_lblTotalLinks = new QLabel;
    m_lblTotalLinks->setObjectName(QStringLiteral("lblTotalLinks"));
    auto* count = new QHBoxLayout;
    count->addWidget(new QLabel(tr("The total database links count is: ")));
    count->addWidget(m_lblTotalLinks, 1);

    m_cmdTotalLinks = new QPushButton(tr("Get Total Links Count"));
    m_cmdTotalLinks->setObjectName(QStringLiteral("cmdTotalLinks"));
    m_cmdImport = new QPushButton(tr("Import"));
    m_cmdImport->setObjectName(QStringLiteral("cmdImport"));
    m_cmdCancel = new QPushButton(tr("OK"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* commands = new QHBoxLayout;
    commands->addWidget(m_cmdTotalLinks);
    commands->addStretch();
    commands->addWidget(m_cmdImport);
    commands->addWidget(m_cmdCancel);

    QStatusBar* statusBar = Common::statusBarWithPanel(&m_statusPanel);
    statusBar->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(frame);
    layout->addLayout(count);
    layout->addLayout(commands);
    layout->addWidget(statusBar);

    const int stored = m_services.settings.ImportLinksMode;
    const int mode = stored >= 2 && stored <= 4 ? stored : 1;
    chooseMode(mode);
    connect(m_optImportAll, &QRadioButton::clicked, this, [this] { chooseMode(1); });
    connect(m_optImportSubmitted, &QRadioButton::clicked, this, [this] { chooseMode(2); });
    connect(m_optImportAllWithout, &QRadioButton::clicked, this, [this] { chooseMode(3); });
    connect(m_optImportAllWithoutWithin, &QRadioButton::clicked, this, [this] { chooseMode(4); });
    connect(m_cmdTotalLinks, &QPushButton::clicked, this, &frmImport::handleTotalLinks);
    connect(m_cmdImport, &QPushButton::clicked, this, &frmImport::handleImport);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmImport::reject);
    connect(m_import, &LinksImport::totalLinksCounted, this, &frmImport::handleCounted);
    connect(m_import, &LinksImport::importFinished, this, &frmImport::handleImported);
    connect(&m_import->channel(), &AdminChannel::progressChanged, this, &frmImport::handleProgress);
}

frmImport::~frmImport()
{
    if (m_busy)
        QApplication::restoreOverrideCursor();
}

QString frmImport::statusText() const { return m_statusPanel->text(); }

void frmImport::reject()
{
    m_import->abort();
    QDialog::reject();
}

void frmImport::chooseMode(int mode)
{
    const QList<QRadioButton*> options
        = { m_optImportAll, m_optImportSubmitted, m_optImportAllWithout, m_optImportAllWithoutWithin };
    options.at(mode - 1)->setChecked(true);
    m_services.settings.ImportLinksMode = mode;
    saveSetting(m_services, QStringLiteral("ImportLinksMode"), mode);
}

void frmImport::handleTotalLinks()
{
    setBusy(true, false);
    m_import->GetTotalLinksCount(AdminLogin::fromSettings(m_services.settings));
}

void frmImport::handleImport()
{
    Common::Result<Batch::FolderLock> held = Batch::FolderLock::forImport(m_services.appPath);
    if (!held)
        return m_services.boxes.inform(held.error().message, tr("Import"), Common::MessageBox::Icon::Critical);
    m_folders = std::move(held.value());
    setBusy(true, true);
    m_import->importLinks(AdminLogin::fromSettings(m_services.settings), m_services.settings.ImportLinksMode,
        m_cboLinksPeriod->currentIndex(), m_cboLinksPeriod1->currentIndex());
}

void frmImport::handleCounted(qint32 count)
{
    m_lblTotalLinks->setText(QString::number(count));
    setBusy(false, false);
}

void frmImport::handleImported(bool ok, qint32 count, const QString& message)
{
    // A refused request leaves the database and its shown count alone; a failed write shows the count
    // of the database that is still there.
    m_folders.release();
    const bool requestFailed = !ok && message.startsWith(QLatin1String("Error #"));
    if (!requestFailed) {
        m_lblTotalLinks->setText(QString::number(count));
        if (m_services.refreshLinksCount)
            m_services.refreshLinksCount();
    }
    if (!ok)
        m_statusPanel->setText(message);
    setBusy(false, true);
}

void frmImport::handleProgress(int phase, int, qint64 bytesDone, qint64)
{
    if (phase == AdminChannel::ReceivingPhase && bytesDone > 0)
        m_statusPanel->setText(tr("Received: ") + Common::FormatFileSize(double(bytesDone)));
}

void frmImport::setBusy(bool busy, bool importing)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    m_cmdTotalLinks->setEnabled(!busy);
    m_cmdImport->setEnabled(!busy);
    m_cmdCancel->setEnabled(!busy);
    if (importing) {
        m_optImportAll->setEnabled(!busy);
        m_optImportSubmitted->setEnabled(!busy);
    }
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace Admin
