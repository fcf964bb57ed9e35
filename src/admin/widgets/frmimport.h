#pragma once

#include <QDialog>

#include "admin/adminservices.h"
#include "batch/folderlock.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace Admin {

class LinksImport;

// The import window: chooses which of the directory's links to fetch, asks the script for its links count,
// and imports the links into the program's links database (data/LinksInfo.txt). The chosen mode is stored
// at once; the periods last while the window is open. Closing the window cuts a request under way.
class frmImport final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmImport)

public:
    explicit frmImport(const AdminServices& services, QWidget* parent = nullptr);
    ~frmImport() override;

    // The 16 entries of both period lists, in index order.
    static QStringList periodTexts();
    QString statusText() const;
    LinksImport& import() { return *m_import; }

public Q_SLOTS:
    // The "OK" button and Escape: cut a request under way, then close.
    void reject() override;

private:
    void chooseMode(int mode);
    void handleTotalLinks();
    void handleImport();
    void handleCounted(qint32 count);
    void handleImported(bool ok, qint32 count, const QString& message);
    void handleProgress(int phase, int outcome, qint64 bytesDone, qint64 bytesTotal);
    void setBusy(bool busy, bool importing);

    AdminServices m_services;
    LinksImport* m_import = nullptr;
    // Held from Import until the database is replaced or left as it was.
    Batch::FolderLock m_folders;
    bool m_busy = false;
    QRadioButton* m_optImportAll = nullptr;
    QRadioButton* m_optImportSubmitted = nullptr;
    QRadioButton* m_optImportAllWithout = nullptr;
    QRadioButton* m_optImportAllWithoutWithin = nullptr;
    QComboBox* m_cboLinksPeriod = nullptr;
    QComboBox* m_cboLinksPeriod1 = nullptr;
    QLabel* m_lblTotalLinks = nullptr;
    QPushButton* m_cmdTotalLinks = nullptr;
    QPushButton* m_cmdImport = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLabel* m_statusPanel = nullptr;
};

} // namespace Admin
