#pragma once

#include <QDialog>

#include "admin/adminservices.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace Admin {

class AdminChannel;
struct AdminReply;

// The setup window: edits the administration script's address and login, tests them against the script
// before they are kept, and stores them on OK. The test uses the boxes' texts and never the stored ones.
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
    QLabel* m_lblPasswordPlace = nullptr;
    QPushButton* m_cmdCheck = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLabel* m_statusPanel = nullptr;
};

} // namespace Admin
