#include "admin/widgets/frmsetup.h"

#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "admin/adminchannel.h"
#include "admin/adminrequests.h"
#include "common/filesize.h"
#include "common/messagebox.h"
#include "common/widgets/windowhelpers.h"
#include "settings/livesettings.h"
#include "settings/passwordstore.h"

namespace Admin {

namespace {

    QLineEdit* addField(QVBoxLayout* layout, const QString& name, const QString& label, const QString& help)
    {
        layout->addWidget(new QLabel(label));
        auto* field = new QLineEdit;
        field->setObjectName(name);
        layout->addWidget(field);
        auto* helpLabel = new QLabel(help);
        helpLabel->setWordWrap(true);
        QFont small = helpLabel->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        helpLabel->setFont(small);
        layout->addWidget(helpLabel);
        layout->addSpacing(6);
        return field;
    }

} // namespace

frmSetup::frmSetup(const AdminServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_channel(new AdminChannel(this))
{
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(tr("Setup"));
    setModal(true);

    auto* frame = new QGroupBox(tr("Admin Panel"));
    auto* fields = new QVBoxLayout(frame);
    m_txtAdminURL = addField(fields, QStringLiteral("txtAdminURL"), tr("Admin Center URL:"),
        tr("Enter the full web address of your admin center, starting with \"http://\", for example "
           "http://www.yourdomain.com/cgi-bin/dir/admin.cgi"));
    m_txtAdminUserID = addField(fields, QStringLiteral("txtAdminUserID"), tr("Admin User ID:"),
        tr("This is your search engine admin center login User ID."));
    m_txtAdminPassword = addField(fields, QStringLiteral("txtAdminPassword"), tr("Admin Password:"),
        tr("This is your search engine admin center login Password."));
    m_txtAdminPassword->setEchoMode(QLineEdit::Password);
    m_txtAdminPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_chkPasswordInSettings = new QCheckBox(tr("Keep the password in the settings file (for scheduled jobs)"));
    m_chkPasswordInSettings->setObjectName(QStringLiteral("chkPasswordInSettings"));
    m_chkPasswordInSettings->setToolTip(
        tr("Scheduled jobs (cron, a systemd timer while you are logged out) cannot reach the desktop's keyring. "
           "The settings file is readable by you only."));
    m_chkPasswordInSettings->setChecked(
        Settings::PasswordStore::storedPlace(m_services.hive) == Settings::PasswordStore::Place::SettingsStore);
    fields->addWidget(m_chkPasswordInSettings);
    // Where the password will be kept, said only when it is not the desktop's keyring, or why the stored
    // one could not be read.
    Settings::PasswordStore passwords(m_services.hive);
    m_expectedNote = passwords.unavailableNote();
    QString passwordNote = m_expectedNote;
    QString password = m_services.settings.AdminPassword;
    if (password.isEmpty()) {
        const Common::Result<QString> stored
            = passwords.read(m_services.settings.AdminURL, m_services.settings.AdminUserID);
        m_passwordUnread = !stored;
        if (stored)
            password = stored.value();
        else
            passwordNote
                = stored.error().message + tr(". Type the password to replace it; left empty, the stored one is kept.");
    }
    m_lblPasswordPlace = new QLabel(passwordNote);
    m_lblPasswordPlace->setObjectName(QStringLiteral("lblPasswordPlace"));
    m_lblPasswordPlace->setWordWrap(true);
    m_lblPasswordPlace->setVisible(!passwordNote.isEmpty());
    fields->addWidget(m_lblPasswordPlace);

    m_cmdCheck = new QPushButton(tr("Test"));
    m_cmdCheck->setObjectName(QStringLiteral("cmdCheck"));
    m_cmdOK = new QPushButton(tr("OK"));
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCancel = new QPushButton(tr("Cancel"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* commands = new QHBoxLayout;
    commands->addWidget(m_cmdCheck);
    commands->addStretch();
    commands->addWidget(m_cmdOK);
    commands->addWidget(m_cmdCancel);

    QStatusBar* statusBar = Common::statusBarWithPanel(&m_statusPanel);
    statusBar->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(commands);
    layout->addWidget(statusBar);
    resize(480, sizeHint().height());

    m_txtAdminURL->setText(m_services.settings.AdminURL);
    m_txtAdminUserID->setText(m_services.settings.AdminUserID);
    m_txtAdminPassword->setText(password);

    connect(m_cmdCheck, &QPushButton::clicked, this, &frmSetup::handleCheck);
    connect(m_cmdOK, &QPushButton::clicked, this, &frmSetup::handleOK);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmSetup::reject);
    connect(m_channel, &AdminChannel::progressChanged, this, &frmSetup::handleProgress);
}

frmSetup::~frmSetup()
{
    if (!m_cmdCheck->isEnabled())
        QApplication::restoreOverrideCursor();
}

QString frmSetup::statusText() const { return m_statusPanel->text(); }

void frmSetup::reject()
{
    m_channel->abort();
    QDialog::reject();
}

void frmSetup::handleCheck()
{
    setCommandsEnabled(false);
    trimBoxes();
    m_channel->send(loginRequest({ m_txtAdminURL->text(), m_txtAdminUserID->text(), m_txtAdminPassword->text() }),
        [this](const AdminReply& reply) { handleTestReply(reply); });
}

void frmSetup::handleTestReply(const AdminReply& reply)
{
    setCommandsEnabled(true);
    if (reply.aborted)
        return;
    using Icon = Common::MessageBox::Icon;
    if (isLoginAccepted(reply))
        m_services.boxes.inform(tr("Connected successfully to the admin panel"), tr("Success"), Icon::Information);
    else if (reply.completed && reply.statusCode == 200)
        m_services.boxes.inform(tr("Please check your login User ID and Password"), tr("Failed"), Icon::Critical);
    else
        m_services.boxes.inform(tr("Please check your Admin Center URL"), tr("Failed"), Icon::Critical);
}

void frmSetup::handleOK()
{
    using Place = Settings::PasswordStore::Place;
    trimBoxes();
    const Place wanted = m_chkPasswordInSettings->isChecked() ? Place::SettingsStore : Place::Keyring;
    // A stored password that could not be read is never replaced by an empty box, nor moved unseen.
    const bool keepStored = m_passwordUnread && m_txtAdminPassword->text().isEmpty();
    if (keepStored && Settings::PasswordStore::storedPlace(m_services.hive) != wanted) {
        m_services.boxes.inform(tr("Type the password to move it"), tr("Setup"), Common::MessageBox::Icon::Warning);
        return;
    }
    Settings::LiveSettings& settings = m_services.settings;
    settings.AdminURL = m_txtAdminURL->text();
    settings.AdminUserID = m_txtAdminUserID->text();
    saveSetting(m_services, QStringLiteral("AdminURL"), settings.AdminURL);
    saveSetting(m_services, QStringLiteral("AdminUserID"), settings.AdminUserID);
    if (!keepStored) {
        settings.AdminPassword = m_txtAdminPassword->text();
        const Common::Result<Settings::PasswordStore::Saved> saved
            = Settings::PasswordStore(m_services.hive)
                  .save(settings.AdminURL, settings.AdminUserID, settings.AdminPassword, wanted);
        if (!saved) {
            m_services.boxes.inform(
                tr("Error: ") + saved.error().message, tr("Setup"), Common::MessageBox::Icon::Critical);
            return;
        }
        // A keyring that refused, did not answer or kept an old copy was not foreseen when the window opened:
        // the window stays open once so that the user reads where the password went.
        const QString note = saved.value().note;
        if (!note.isEmpty() && note != std::exchange(m_expectedNote, note)) {
            m_lblPasswordPlace->setText(note);
            m_lblPasswordPlace->setVisible(true);
            return;
        }
    }
    m_channel->abort();
    accept();
}

void frmSetup::handleProgress(int phase, int, qint64 bytesDone, qint64)
{
    if (phase == AdminChannel::ReceivingPhase && bytesDone > 0)
        m_statusPanel->setText(tr("Received: ") + Common::FormatFileSize(double(bytesDone)));
}

void frmSetup::trimBoxes()
{
    // Only spaces are trimmed, as typed; other blanks stay part of the text.
    for (QLineEdit* box : { m_txtAdminURL, m_txtAdminUserID, m_txtAdminPassword }) {
        QString text = box->text();
        qsizetype start = 0;
        qsizetype end = text.size();
        while (start < end && text.at(start) == QLatin1Char(' '))
            ++start;
        while (end > start && text.at(end - 1) == QLatin1Char(' '))
            --end;
        if (start != 0 || end != text.size())
            box->setText(text.mid(start, end - start));
    }
}

void frmSetup::setCommandsEnabled(bool enabled)
{
    if (enabled == m_cmdCheck->isEnabled())
        return;
    m_cmdCheck->setEnabled(enabled);
    m_cmdOK->setEnabled(enabled);
    m_cmdCancel->setEnabled(enabled);
    if (enabled)
        QApplication::restoreOverrideCursor();
    else
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

} // namespace Admin
