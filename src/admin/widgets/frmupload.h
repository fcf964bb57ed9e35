#pragma once

#include <QDialog>

#include "admin/adminservices.h"
#include "batch/folderlock.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTreeWidget;

namespace Admin {

class UploadRun;

// The upload window: sends the files of the viewer folder to the administration script over parallel
// connections, with one row per connection, running totals, a log of the script's replies, and Pause,
// Stop and Abort. The two sliders are stored as soon as they move. After Stop (or Abort) the range fields
// hold the files not yet handed out, so Upload with "Upload files from number:" goes on from there.
class frmUpload final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmUpload)

public:
    // startLink and endLink: the main window's last range, shown in the range fields on opening.
    frmUpload(const AdminServices& services, qint32 startLink, qint32 endLink, QWidget* parent = nullptr);
    ~frmUpload() override;

    UploadRun& run() { return *m_run; }
    // The whole log as appended, line breaks CR LF.
    QString logText() const { return m_logText; }

public Q_SLOTS:
    // Cancel, Escape or closing between runs closes the window; during a run Escape is ignored and closing
    // the window aborts the run.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void countFolderFiles();
    void handleUpload();
    void handlePause();
    void handleStop();
    void handleStarted(int connections);
    void handleStatus(int connection, const QString& text);
    void handleProgress(int connection, int percent);
    void handleCounters();
    void handleLog(const QString& text);
    void handleFinished();
    void setRunning(bool running);

    AdminServices m_services;
    UploadRun* m_run = nullptr;
    // Held from Upload until the upload has finished.
    Batch::FolderLock m_folders;
    QString m_logText;
    QSlider* m_connectionsSlider = nullptr;
    QSlider* m_filesSlider = nullptr;
    QLabel* m_lblConnections = nullptr;
    QLabel* m_lblFiles = nullptr;
    QTreeWidget* m_lvwUpload = nullptr;
    QLabel* m_lblFilesCount = nullptr;
    QLabel* m_lblUploadTotal = nullptr;
    QLabel* m_lblUploadDone = nullptr;
    QLabel* m_lblSuccess = nullptr;
    QLabel* m_lblFailed = nullptr;
    QLabel* m_lblSkipped = nullptr;
    QProgressBar* m_pbProgressBar = nullptr;
    QPlainTextEdit* m_txtLog = nullptr;
    QRadioButton* m_optUploadAll = nullptr;
    QRadioButton* m_optUploadRange = nullptr;
    QLineEdit* m_txtUploadFrom = nullptr;
    QLineEdit* m_txtUploadTo = nullptr;
    QPushButton* m_cmdUpload = nullptr;
    QPushButton* m_cmdPause = nullptr;
    QPushButton* m_cmdStop = nullptr;
    QPushButton* m_cmdAbort = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};

} // namespace Admin
