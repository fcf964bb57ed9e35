#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// Test stand-in for the desktop's notification service on the session bus: records each notice as
// "icon summary" and answers with ids from 1; ActionInvoked(id, "default") is a click on one.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    NotificationServer()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
        bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
        bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllContents);
    }
    QStringList notices;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString& icon, const QString& summary, const QString&, const QStringList&,
        const QVariantMap&, int)
    {
        notices.append(icon + QLatin1Char(' ') + summary);
        return uint(notices.size());
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action);
};
