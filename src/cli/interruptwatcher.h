#pragma once

#include <QObject>

class QSocketNotifier;

namespace Cli {

// Turns SIGINT and SIGTERM into a Qt signal delivered by the event loop, counting them. Once the
// count reaches hardLimit the default action is restored, so a further signal ends the program at
// once. One per process; the handlers are removed with the object.
class InterruptWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InterruptWatcher)

public:
    explicit InterruptWatcher(int hardLimit = 2, QObject* parent = nullptr);
    ~InterruptWatcher() override;

    int count() const { return m_count; }
    // The number of the first signal caught, 0 before any.
    int firstSignal() const { return m_firstSignal; }

Q_SIGNALS:
    // count is 1 for the first signal, 2 for the second...
    void interrupted(int count);

private:
    void handleReadable();

    QSocketNotifier* m_notifier = nullptr;
    int m_hardLimit = 2;
    int m_count = 0;
    int m_firstSignal = 0;
};

} // namespace Cli
