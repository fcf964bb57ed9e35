#pragma once

#include <QDialog>

#include "admin/adminservices.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Admin {

class AdminChannel;
struct AdminReply;

// The setup window: edits the administration script's address and login, tests them against the script
// before they are kept, and stores them on OK, the password in the place the user chose. The test uses the
// boxes' texts and never the stored ones.
class frmSetup final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSetup)

public:
    explicit frmSetup(const AdminServices& services, QWidget* parent = nullptr);
    ~frmSetup() override;

    // Panel 1 of the window's status bar.
    QString statusText() const;

public Q_SLOTS:
    // Cancel and Escape: cut a test under way, close without keeping anything.
    void reject() override;

private:
    void handleCheck();
    void handleOK();
    void handleTestReply(const AdminReply& reply);
    void handleProgress(int phase, int outcome, qint64 bytesDone, qint64 bytesTotal);
    void trimBoxes();
    void setCommandsEnabled(bool enabled);

    AdminServices m_services;
    AdminChannel* m_channel = nullptr;
    QLineEdit* m_txtAdminURL = nullptr;
    QLineEdit* m_txtAdminUserID = nullptr;
    QLineEdit* m_txtAdminPassword = nullptr;
    QCheckBox* m_chkPasswordInSettings = nullptr;
    QLabel* m_lblPasswordPlace = nullptr;
    // The note a save may give without surprising the user: the one the window showed already.
    QString m_expectedNote;
    // The stored password could not be read (its keyring did not give it): OK keeps it unless one is typed.
    bool m_passwordUnread = false;
    QPushButton* m_cmdCheck = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLabel* m_statusPanel = nullptr;
};

} // namespace Admin
