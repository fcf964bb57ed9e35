#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace Shell {

// Tells the desktop that a run has ended while the window was in the background: a notification
// "Run ended: 1,234 captured, 12 failed" (numbers in the user's locale) through the freedesktop
// notification service (org.freedesktop.Notifications) on the given bus, with the program's icon.
// A new notice replaces the previous one. Clicking it emits activated(). Calls are asynchronous and
// a desktop without the service simply shows nothing. GUI thread.
class RunEndNotifier final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunEndNotifier)

public:
    // iconName: an icon of the desktop's theme, also the desktop entry's name ("com.example.App").
    RunEndNotifier(const QDBusConnection& bus, const QString& iconName, QObject* parent = nullptr);

    // Sends the notice unless the window is active, where the user sees the end for themselves.
    void runEnded(qint32 captured, qint32 failed, bool windowActive);
    // The service has answered the last notice with its id, so a click on it is known. For tests.
    bool isShowing() const { return m_shownId != 0; }

Q_SIGNALS:
    // The user clicked the last notice sent.
    void activated();

private Q_SLOTS:
    void handleActionInvoked(uint id, const QString& action);
    void handleNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QString m_iconName;
    // The service's id of the notice on show, 0 when none: the one to replace, and to answer a click on.
    uint m_shownId = 0;
};

} // namespace Shell
