#include "admin/widgets/frmupload.h"

#include <algorithm>
#include <limits>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "admin/uploadrun.h"
#include "common/folderfiles.h"
#include "common/messagebox.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"

namespace Admin {

namespace {

    constexpr int FixedColumnPixels = 1000 / 15; // 1000 twips

    QLabel* makeValueLabel(const QString& name)
    {
        auto* label = new QLabel(QStringLiteral("0"));
        label->setObjectName(name);
        return label;
    }

    QPushButton* makeButton(const QString& name, const QString& caption)
    {
        auto* button = new QPushButton(caption);
        button->setObjectName(name);
        return button;
    }

    QSlider* makeSlider(const QString& name, int minimum, int maximum, int value)
    {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(name);
        slider->setRange(minimum, maximum);
        slider->setValue(std::clamp(value, minimum, maximum));
        return slider;
    }

} // namespace

frmUpload::frmUpload(const AdminServices& services, qint32 startLink, qint32 endLink, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_run(new UploadRun(this))
{
    setObjectName(QStringLiteral("frmUpload"));
    setWindowTitle(tr("Upload"));
    setModal(true);

    auto* intro = new QLabel(tr("Upload snapshots files in your local snapshots folder to your server snapshots "
                                "folder using http parallel connections."));
    intro->setWordWrap(true);

    const Settings::LiveSettings& settings = m_services.settings;
    m_connectionsSlider = makeSlider(QStringLiteral("ConnectionsSlider"), 1, 10, settings.UploadConnections);
    m_filesSlider = makeSlider(QStringLiteral("FilesSlider"), 1, 100, settings.UploadConnectionFiles);
    m_lblConnections = makeValueLabel(QStringLiteral("lblConnections"));
    m_lblConnections->setNum(m_connectionsSlider->value());
    m_lblFiles = makeValueLabel(QStringLiteral("lblFiles"));
    m_lblFiles->setNum(m_filesSlider->value());
    auto* sliders = new QGridLayout;
    sliders->addWidget(new QLabel(tr("Concurrent Connections:")), 0, 0);
    sliders->addWidget(m_connectionsSlider, 0, 1);
    sliders->addWidget(m_lblConnections, 0, 2);
    sliders->addWidget(new QLabel(tr("Files Per Connection:")), 1, 0);
    sliders->addWidget(m_filesSlider, 1, 1);
    sliders->addWidget(m_lblFiles, 1, 2);

    m_lvwUpload = new QTreeWidget;
    m_lvwUpload->setObjectName(QStringLiteral("lvwUpload"));
    m_lvwUpload->setRootIsDecorated(false);
    m_lvwUpload->setHeaderLabels({ tr("Connection"), tr("Progress"), tr("Status") });
    // 1000 twips, unless the caption needs more in the user's font.
    for (int column : { 0, 1 })
        m_lvwUpload->header()->resizeSection(
            column, std::max(FixedColumnPixels, m_lvwUpload->header()->sectionSizeHint(column)));
    m_lvwUpload->header()->setStretchLastSection(true);

    m_lblFilesCount = makeValueLabel(QStringLiteral("lblFilesCount"));
    m_lblUploadTotal = makeValueLabel(QStringLiteral("lblUploadTotal"));
    m_lblUploadDone = makeValueLabel(QStringLiteral("lblUploadDone"));
    m_lblSuccess = makeValueLabel(QStringLiteral("lblSuccess"));
    m_lblFailed = makeValueLabel(QStringLiteral("lblFailed"));
    m_lblSkipped = makeValueLabel(QStringLiteral("lblSkipped"));
    auto* counters = new QHBoxLayout;
    const QList<QPair<QString, QLabel*>> pairs = { { tr("Snapshots Files:"), m_lblFilesCount },
        { tr("Total:"), m_lblUploadTotal }, { tr("Done:"), m_lblUploadDone }, { tr("Success:"), m_lblSuccess },
        { tr("Failed:"), m_lblFailed }, { tr("Skipped:"), m_lblSkipped } };
    for (const auto& pair : pairs) {
        counters->addWidget(new QLabel(pair.first));
        counters->addWidget(pair.second);
        counters->addSpacing(8);
    }
    counters->addStretch();

    m_pbProgressBar = new QProgressBar;
    m_pbProgressBar->setObjectName(QStringLiteral("pbProgressBar"));
    m_pbProgressBar->setRange(0, 100);
    m_pbProgressBar->setValue(0);

    m_txtLog = new QPlainTextEdit;
    m_txtLog->setObjectName(QStringLiteral("txtLog"));
    m_txtLog->setReadOnly(true);
    m_txtLog->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_optUploadAll = new QRadioButton(tr("Upload all files in the local snapshots folder."));
    m_optUploadAll->setObjectName(QStringLiteral("optUploadAll"));
    m_optUploadRange = new QRadioButton(tr("Upload files from number:"));
    m_optUploadRange->setObjectName(QStringLiteral("optUploadRange"));
    m_txtUploadFrom = new QLineEdit(QString::number(startLink));
    m_txtUploadFrom->setObjectName(QStringLiteral("txtUploadFrom"));
    m_txtUploadTo = new QLineEdit(QString::number(endLink));
    m_txtUploadTo->setObjectName(QStringLiteral("txtUploadTo"));
    for (QLineEdit* box : { m_txtUploadFrom, m_txtUploadTo })
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
    auto* range = new QHBoxLayout;
    range->addWidget(m_optUploadRange);
    range->addWidget(m_txtUploadFrom);
    range->addWidget(new QLabel(tr("to:")));
    range->addWidget(m_txtUploadTo);
    range->addStretch();
    m_optUploadAll->setChecked(true);

    m_cmdUpload = makeButton(QStringLiteral("cmdUpload"), tr("Upload"));
    m_cmdPause = makeButton(QStringLiteral("cmdPause"), tr("Pause"));
    m_cmdStop = makeButton(QStringLiteral("cmdStop"), tr("Stop"));
    m_cmdAbort = makeButton(QStringLiteral("cmdAbort"), tr("Abort"));
    m_cmdCancel = makeButton(QStringLiteral("cmdCancel"), tr("Cancel"));
    auto* commands = new QHBoxLayout;
    for (QPushButton* button : { m_cmdUpload, m_cmdPause, m_cmdStop, m_cmdAbort })
        commands->addWidget(button);
    commands->addStretch();
    commands->addWidget(m_cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(sliders);
    layout->addWidget(m_lvwUpload, 1);
    layout->addLayout(counters);
    layout->addWidget(m_pbProgressBar);
    layout->addWidget(m_txtLog, 1);
    layout->addWidget(m_optUploadAll);
    layout->addLayout(range);
    layout->addLayout(commands);
    resize(640, 560);
    setRunning(false);

    connect(m_connectionsSlider, &QSlider::valueChanged, this, [this](int value) {
        m_services.settings.UploadConnections = value;
        m_lblConnections->setNum(value);
        saveSetting(m_services, QStringLiteral("UploadConnections"), value);
    });
    connect(m_filesSlider, &QSlider::valueChanged, this, [this](int value) {
        m_services.settings.UploadConnectionFiles = value;
        m_lblFiles->setNum(value);
        saveSetting(m_services, QStringLiteral("UploadConnectionFiles"), value);
    });
    connect(m_cmdUpload, &QPushButton::clicked, this, &frmUpload::handleUpload);
    connect(m_cmdPause, &QPushButton::clicked, this, &frmUpload::handlePause);
    connect(m_cmdStop, &QPushButton::clicked, this, &frmUpload::handleStop);
    connect(m_cmdAbort, &QPushButton::clicked, m_run, &UploadRun::abort);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmUpload::reject);
    connect(m_run, &UploadRun::started, this, &frmUpload::handleStarted);
    connect(m_run, &UploadRun::connectionStatusChanged, this, &frmUpload::handleStatus);
    connect(m_run, &UploadRun::connectionProgressChanged, this, &frmUpload::handleProgress);
    connect(m_run, &UploadRun::countersChanged, this, &frmUpload::handleCounters);
    connect(m_run, &UploadRun::logAppended, this, &frmUpload::handleLog);
    connect(m_run, &UploadRun::finished, this, &frmUpload::handleFinished);

    // A large folder takes a moment to list; the window shows first.
    QTimer::singleShot(0, this, &frmUpload::countFolderFiles);
}

frmUpload::~frmUpload() = default;

void frmUpload::reject()
{
    m_run->abort();
    QDialog::reject();
}

void frmUpload::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && m_run->isRunning()) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmUpload::countFolderFiles()
{
    m_lblFilesCount->setNum(Common::countListedFiles(Common::ListFolderFiles(m_services.settings.ViewerFolder)));
}

void frmUpload::handleUpload()
{
    const Settings::LiveSettings& settings = m_services.settings;
    Common::Result<Batch::FolderLock> held = Batch::FolderLock::forUpload(m_services.appPath, settings.ViewerFolder);
    if (!held)
        return m_services.boxes.inform(held.error().message, tr("Upload"), Common::MessageBox::Icon::Critical);
    m_folders = std::move(held.value());
    setRunning(true);
    m_lvwUpload->clear();
    UploadOptions options;
    options.login = AdminLogin::fromSettings(settings);
    options.folder = settings.ViewerFolder;
    options.connections = settings.UploadConnections;
    options.filesPerConnection = settings.UploadConnectionFiles;
    options.clientName = m_services.clientName;
    if (m_optUploadRange->isChecked()) {
        // A box without a number stands for its end of the list.
        const int from = Settings::toLong(m_txtUploadFrom->text()).value_or(1);
        const int to = Settings::toLong(m_txtUploadTo->text()).value_or(std::numeric_limits<int>::max());
        options.range = std::make_pair(from, to);
    }
    m_run->start(options);
}

void frmUpload::handlePause()
{
    m_run->setPaused(!m_run->isPaused());
    m_cmdPause->setText(m_run->isPaused() ? tr("Resume") : tr("Pause"));
}

void frmUpload::handleStop()
{
    m_cmdStop->setEnabled(false);
    m_cmdPause->setEnabled(false);
    m_run->stop();
}

void frmUpload::handleStarted(int connections)
{
    m_lvwUpload->clear();
    for (int i = 1; i <= connections; ++i) {
        auto* row = new QTreeWidgetItem(m_lvwUpload, { QString::number(i), QString(), tr("Ready...") });
        row->setData(0, Qt::UserRole, QStringLiteral("K%1").arg(i));
    }
}

void frmUpload::handleStatus(int connection, const QString& text)
{
    if (QTreeWidgetItem* row = m_lvwUpload->topLevelItem(connection - 1))
        row->setText(2, text);
}

void frmUpload::handleProgress(int connection, int percent)
{
    if (QTreeWidgetItem* row = m_lvwUpload->topLevelItem(connection - 1))
        row->setText(1, QString::number(percent) + QLatin1Char('%'));
}

void frmUpload::handleCounters()
{
    m_lblFilesCount->setNum(m_run->fileCount());
    m_lblUploadTotal->setNum(m_run->total());
    m_lblUploadDone->setNum(m_run->handedOut());
    m_lblSuccess->setNum(m_run->successCount());
    m_lblFailed->setNum(m_run->failedCount());
    m_lblSkipped->setNum(m_run->skippedCount());
    m_pbProgressBar->setValue(m_run->progressPercent());
}

void frmUpload::handleLog(const QString& text)
{
    m_logText += text;
    QScrollBar* bar = m_txtLog->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor = m_txtLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void frmUpload::handleFinished()
{
    m_folders.release();
    if (m_run->wasStopped()) {
        m_txtUploadFrom->setText(QString::number(m_run->nextFileNumber()));
        m_txtUploadTo->setText(QString::number(m_run->lastFileNumber()));
        m_optUploadRange->setChecked(true);
    }
    setRunning(false);
}

void frmUpload::setRunning(bool running)
{
    m_cmdUpload->setEnabled(!running);
    m_cmdCancel->setEnabled(!running);
    m_cmdPause->setEnabled(running);
    m_cmdStop->setEnabled(running);
    m_cmdAbort->setEnabled(running);
    m_cmdPause->setText(tr("Pause"));
}

} // namespace Admin
