#include "admin/linksimport.h"

#include <QFileInfo>
#include <QSaveFile>

#include "admin/adminchannel.h"
#include "batch/linksdatabase.h"
#include "common/paths.h"

namespace Admin {

Common::Status storeLinksDatabase(const QString& linksInfoFile, const QByteArray& content)
{
    const Common::Status folder = Common::EnsureFolder(QFileInfo(linksInfoFile).absolutePath());
    if (!folder)
        return folder;
    QSaveFile file(linksInfoFile);
    if (!file.open(QIODevice::WriteOnly))
        return Common::Error { 0, QStringLiteral("storeLinksDatabase"),
            QStringLiteral("Cannot write %1: %2").arg(linksInfoFile, file.errorString()) };
    if (file.write(content) != content.size() || !file.commit())
        return Common::Error { 0, QStringLiteral("storeLinksDatabase"),
            QStringLiteral("Cannot write %1: %2").arg(linksInfoFile, file.errorString()) };
    return Common::success();
}

LinksImport::LinksImport(QString linksInfoFile, QObject* parent)
    : QObject(parent)
    , m_linksInfoFile(std::move(linksInfoFile))
    , m_channel(new AdminChannel(this))
{
}

void LinksImport::GetTotalLinksCount(const AdminLogin& login)
{
    abort();
    m_step = Step::Counting;
    m_channel->send(totalLinksCountRequest(login), [this](const AdminReply& reply) {
        m_step = Step::Idle;
        Q_EMIT totalLinksCounted(totalLinksCount(reply));
    });
}

void LinksImport::importLinks(const AdminLogin& login, int mode, int period, int period1)
{
    abort();
    m_login = login;
    m_mode = mode;
    m_period = period;
    m_period1 = period1;
    m_step = Step::CountingBeforeImport;
    m_channel->send(totalLinksCountRequest(login), [this](const AdminReply& reply) {
        if (!reply.aborted) {
            sendImport();
            return;
        }
        m_step = Step::Idle;
        Q_EMIT importFinished(false, countStoredLinks(), importFailureText(reply));
    });
}

void LinksImport::abort()
{
    if (m_step != Step::Idle)
        m_channel->abort();
}

void LinksImport::sendImport()
{
    m_step = Step::Importing;
    m_channel->send(importLinksRequest(m_login, m_mode, m_period, m_period1),
        [this](const AdminReply& reply) { handleImportReply(reply); });
}

void LinksImport::handleImportReply(const AdminReply& reply)
{
    m_step = Step::Idle;
    if (!reply.completed || reply.statusCode != 200) {
        Q_EMIT importFinished(false, countStoredLinks(), importFailureText(reply));
        return;
    }
    const Common::Status stored = storeLinksDatabase(m_linksInfoFile, reply.body.value_or(QByteArray()));
    if (!stored) {
        Q_EMIT importFinished(false, countStoredLinks(), QStringLiteral("Error: ") + stored.error().message);
        return;
    }
    Q_EMIT importFinished(true, countStoredLinks(), QString());
}

qint32 LinksImport::countStoredLinks() const
{
    Batch::LinksDatabase database(m_linksInfoFile);
    return database.CountLinks();
}

} // namespace Admin
