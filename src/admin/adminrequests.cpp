#include "admin/adminrequests.h"

#include <memory>

#include "settings/livesettings.h"

namespace Admin {

namespace {

    QList<FormField> credentialFields(const AdminLogin& login, const QString& action)
    {
        return {
            { QStringLiteral("ZendiroAdminUserID"), login.userId },
            { QStringLiteral("ZendiroAdminPassword"), login.password },
            { QStringLiteral("action"), action },
        };
    }

    AdminRequest blockingRequest(const AdminLogin& login, const QString& action)
    {
        AdminRequest request;
        request.url = login.url;
        request.fields = credentialFields(login, action);
        request.timeoutMs = BlockingTimeoutMs;
        // Only a 200 reply's body means anything to these requests.
        request.errorBodyWanted = false;
        return request;
    }

} // namespace

AdminLogin AdminLogin::fromSettings(const Settings::LiveSettings& settings)
{
    return { settings.AdminURL, settings.AdminUserID, settings.AdminPassword };
}

AdminRequest loginRequest(const AdminLogin& login) { return blockingRequest(login, QStringLiteral("PictavoLogin")); }

AdminRequest totalLinksCountRequest(const AdminLogin& login)
{
    return blockingRequest(login, QStringLiteral("PictavoGetTotalLinksCount"));
}

AdminRequest importLinksRequest(const AdminLogin& login, int mode, int period, int period1)
{
    AdminRequest request = blockingRequest(login, QStringLiteral("PictavoImportLinksInfo"));
    request.fields.append({ QStringLiteral("ImportLinksMode"), QString::number(mode) });
    request.fields.append({ QStringLiteral("LinksPeriod"), QString::number(period) });
    request.fields.append({ QStringLiteral("LinksPeriod1"), QString::number(period1) });
    return request;
}

AdminRequest uploadRequest(const AdminLogin& login, const QList<UploadPart>& parts, const QString& clientName)
{
    AdminRequest request;
    request.url = login.url;
    request.fields = credentialFields(login, QStringLiteral("SnapshotUploadFiles"));
    request.parts = parts;
    request.multipart = true;
    request.clientName = clientName;
    request.timeoutMs = 0;
    return request;
}

bool isLoginAccepted(const AdminReply& reply)
{
    return reply.completed && reply.statusCode == 200 && reply.body && *reply.body == "OK";
}

qint32 totalLinksCount(const AdminReply& reply)
{
    if (!reply.completed || reply.statusCode != 200 || !reply.body)
        return 0;
    QString text = QString::fromUtf8(*reply.body);
    if (!text.contains(QLatin1String("Count=")))
        return 0;
    text.remove(QLatin1String("Count="));
    // Only a plain whole number counts: "12abc" or "1.5" is not a count.
    text = text.trimmed();
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > 127)
            return 0;
    }
    bool ok = false;
    const qint32 count = text.toInt(&ok);
    return ok ? count : 0;
}

QString importFailureText(const AdminReply& reply)
{
    QString description = reply.statusText;
    description.remove(QLatin1Char('\r'));
    return QStringLiteral("Error #") + QString::number(reply.statusCode) + QStringLiteral(": ") + description;
}

void CheckAdminLogin(AdminChannel& channel, const Settings::LiveSettings& settings, std::function<void(bool)> done,
    std::function<void()> progress)
{
    auto connection = std::make_shared<QMetaObject::Connection>();
    if (progress) {
        *connection = QObject::connect(&channel, &AdminChannel::progressChanged, &channel,
            [progress = std::move(progress)](int, int, qint64, qint64) { progress(); });
    }
    channel.send(loginRequest(AdminLogin::fromSettings(settings)),
        [connection, done = std::move(done)](const AdminReply& reply) {
            QObject::disconnect(*connection);
            if (done)
                done(isLoginAccepted(reply));
        });
}

} // namespace Admin
