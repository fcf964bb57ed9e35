#include "shell/runendnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLocale>
#include <QVariantMap>

#include "shell/programinfo.h"

namespace Shell {

namespace {
    const QString kService = QStringLiteral("org.freedesktop.Notifications");
    const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
    const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
    // The action a click on the notice's body invokes, by the protocol's convention.
    const QString kDefaultAction = QStringLiteral("default");
} // namespace

RunEndNotifier::RunEndNotifier(const QDBusConnection& bus, const QString& iconName, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_iconName(iconName)
{
    // The signals are broadcast to every client of the service; the id tells ours from the others'.
    // QtDBus connects a bus signal to a slot by its signature only.
    m_bus.connect(
        kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(handleActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
        SLOT(handleNotificationClosed(uint, uint)));
}

void RunEndNotifier::runEnded(qint32 captured, qint32 failed, bool windowActive)
{
    if (windowActive)
        return;
    const QLocale locale;
    const QString summary
        = tr("Run ended: %1 captured, %2 failed").arg(locale.toString(captured), locale.toString(failed));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints { { QStringLiteral("desktop-entry"), m_iconName } };
    call << programName() << m_shownId << m_iconName << summary << QString()
         << QStringList { kDefaultAction, tr("Show") } << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (!reply.isError())
            m_shownId = reply.value();
        finished->deleteLater();
    });
}

void RunEndNotifier::handleActionInvoked(uint id, const QString& action)
{
    if (id != 0 && id == m_shownId && action == kDefaultAction)
        Q_EMIT activated();
}

void RunEndNotifier::handleNotificationClosed(uint id, uint)
{
    if (id == m_shownId)
        m_shownId = 0;
}

} // namespace Shell
