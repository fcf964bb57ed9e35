#include <QLocale>
#include <QSignalSpy>
#include <QTest>

#include "notificationserver.h"
#include "shell/runendnotifier.h"

// Runs on a private session bus (dbus-run-session) with a stand-in for the notification service.
class TestRunEndNotifier final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noticeOnlyInTheBackground()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        Shell::RunEndNotifier notifier(QDBusConnection::sessionBus(), QStringLiteral("app"));
        QSignalSpy activated(&notifier, &Shell::RunEndNotifier::activated);
        // The bus keeps a client's calls in order: when the second notice is in, the first was never sent.
        notifier.runEnded(1, 0, true);
        notifier.runEnded(1234, 12, false);
        QTRY_COMPARE(m_server.notices, QStringList { QStringLiteral("app Run ended: 1.234 captured, 12 failed") });
        QTRY_VERIFY(notifier.isShowing());
        Q_EMIT m_server.ActionInvoked(1, QStringLiteral("default"));
        QTRY_COMPARE(activated.count(), 1);
    }

private:
    NotificationServer m_server;
};

QTEST_GUILESS_MAIN(TestRunEndNotifier)
#include "tst_runendnotifier.moc"
