#pragma once

#include <functional>

#include <QList>
#include <QString>
#include <QtGlobal>

#include "admin/adminchannel.h"

namespace Settings {
struct LiveSettings;
}

namespace Admin {

// The administrator's address and login, as every request carries them.
struct AdminLogin final {
    QString url;
    QString userId;
    QString password;

    static AdminLogin fromSettings(const Settings::LiveSettings& settings);
};

// The blocking requests wait this long for their reply; one with a status other than 200 ends as soon as
// that status arrives.
inline constexpr int BlockingTimeoutMs = 60000;

// The requests of the protocol: the two credential fields, then "action", then the operation's own fields.
AdminRequest loginRequest(const AdminLogin& login);
AdminRequest totalLinksCountRequest(const AdminLogin& login);
// mode 1..4; period and period1 are the indexes 0..15 of the two period lists.
AdminRequest importLinksRequest(const AdminLogin& login, int mode, int period, int period1);
// One upload batch: never timed out, always multipart (a batch of empty files still sends the three fields).
AdminRequest uploadRequest(const AdminLogin& login, const QList<UploadPart>& parts, const QString& clientName);

// True only for status 200 and a body of exactly "OK".
bool isLoginAccepted(const AdminReply& reply);
// The number after every "Count=" is removed from a 200 reply's body; 0 for any other reply or body.
qint32 totalLinksCount(const AdminReply& reply);
// "Error #" + status + ": " + description without carriage returns.
QString importFailureText(const AdminReply& reply);

// The login check with the stored settings: `done` receives true only when the script accepted the login.
// Every progress notification of the exchange is passed to `progress` (the main window empties its status
// text with it). Event-driven: returns at once.
void CheckAdminLogin(AdminChannel& channel, const Settings::LiveSettings& settings, std::function<void(bool)> done,
    std::function<void()> progress = {});

} // namespace Admin
