#pragma once

#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include "admin/adminrequests.h"
#include "common/result.h"

class QSaveFile;

namespace Admin {

class AdminChannel;

// The import window's work without the window: asks the script for its links count and imports its links
// into the links database. One step at a time over one channel; each step ends in exactly one signal, also
// when it fails or is aborted. GUI thread; the channel is owned by this object.
class LinksImport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinksImport)

public:
    enum class Step { Idle, Counting, CountingBeforeImport, Importing };

    explicit LinksImport(QString linksInfoFile, QObject* parent = nullptr);
    ~LinksImport() override;

    // For progress displays and for tests.
    AdminChannel& channel() { return *m_channel; }
    Step step() const { return m_step; }
    bool isBusy() const { return m_step != Step::Idle; }

    // Ends in totalLinksCounted(); 0 on any failure.
    void GetTotalLinksCount(const AdminLogin& login);
    // Counts first (the count is not reported), then imports by mode 1..4 and the two period indexes. A
    // 200 reply replaces the database exactly as received; any other reply leaves it untouched. The reply
    // streams into a temporary file beside the database (its folder is created when missing) that is
    // renamed over it once the reply is complete: the database is the old one or the new one, never
    // half-written, and a large reply is never held in memory.
    void importLinks(const AdminLogin& login, int mode, int period, int period1);
    // Cuts the step under way, which then ends as failed. Harmless when idle.
    void abort();

Q_SIGNALS:
    void totalLinksCounted(qint32 count);
    // ok: the database was replaced and holds `count` lines. Otherwise `message` says why ("Error #404: Not
    // Found" for a refused request) and `count` is that of the database as it still is.
    void importFinished(bool ok, qint32 count, const QString& message);

private:
    void sendImport();
    void handleImportReply(const AdminReply& reply);
    void fail(const QString& message);
    qint32 countStoredLinks() const;

    QString m_linksInfoFile;
    AdminChannel* m_channel = nullptr;
    std::unique_ptr<QSaveFile> m_target;
    Step m_step = Step::Idle;
    AdminLogin m_login;
    int m_mode = 1;
    int m_period = 0;
    int m_period1 = 0;
};

} // namespace Admin
