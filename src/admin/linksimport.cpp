#include "admin/linksimport.h"

#include <QFileInfo>
#include <QSaveFile>

#include "admin/adminchannel.h"
#include "batch/linksdatabase.h"
#include "common/paths.h"

namespace Admin {

LinksImport::LinksImport(QString linksInfoFile, QObject* parent)
    : QObject(parent)
    , m_linksInfoFile(std::move(linksInfoFile))
    , m_channel(new AdminChannel(this))
{
}

// The temporary file, if any, is discarded by QSaveFile when it is not committed.
LinksImport::~LinksImport() = default;

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
    const Common::Status folder = Common::EnsureFolder(QFileInfo(m_linksInfoFile).absolutePath());
    if (!folder)
        return fail(QStringLiteral("Error: ") + folder.error().message);
    m_target = std::make_unique<QSaveFile>(m_linksInfoFile);
    if (!m_target->open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Error: Cannot write %1: %2").arg(m_linksInfoFile, m_target->errorString()));
    AdminRequest request = importLinksRequest(m_login, m_mode, m_period, m_period1);
    request.bodySink = m_target.get();
    m_channel->send(request, [this](const AdminReply& reply) { handleImportReply(reply); });
}

void LinksImport::handleImportReply(const AdminReply& reply)
{
    if (!reply.completed || reply.statusCode != 200) {
        const bool storeFailed = !reply.completed && reply.statusText.startsWith(QLatin1String("Cannot store"));
        return fail(storeFailed ? QStringLiteral("Error: ") + reply.statusText : importFailureText(reply));
    }
    // commit() alone takes no notice of a last buffered block the disk refused.
    if (!m_target->flush() || !m_target->commit())
        return fail(QStringLiteral("Error: Cannot write %1: %2").arg(m_linksInfoFile, m_target->errorString()));
    m_target.reset();
    m_step = Step::Idle;
    Q_EMIT importFinished(true, countStoredLinks(), QString());
}

void LinksImport::fail(const QString& message)
{
    // Dropping the unfinished file leaves the database as it was.
    m_target.reset();
    m_step = Step::Idle;
    Q_EMIT importFinished(false, countStoredLinks(), message);
}

qint32 LinksImport::countStoredLinks() const
{
    Batch::LinksDatabase database(m_linksInfoFile);
    return database.CountLinks();
}

} // namespace Admin
