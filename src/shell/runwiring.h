#pragma once

#include <functional>

#include <QObject>
#include <QPointer>

class QWidget;

namespace Batch {
class BatchRun;
class LinksDatabase;
class frmMsg;
}
namespace Common {
class MessageBox;
}
namespace Settings {
struct LiveSettings;
}

namespace Shell {

class LinksView;
class RangePanel;
class RunEndNotifier;
class StatsPanel;

// Carries a run to the main window's widgets and back: the range it starts from, its counters and
// progress, the list following its newest row, the waiting window of its end, and the desktop's notice
// when it ends in the background. GUI thread; everything it is given outlives it.
class RunWiring final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunWiring)

public:
    struct Parts {
        Batch::BatchRun& run;
        Batch::LinksDatabase& links;
        const Settings::LiveSettings& settings;
        Common::MessageBox& boxes;
        RunEndNotifier* notifier;
        RangePanel& range;
        StatsPanel& stats;
        LinksView& list;
        // The main window, owner of the waiting windows.
        QWidget& window;
        std::function<void(const QString&)> setStatusText;
        // Recounts the links database, saying so in the status bar.
        std::function<void()> recount;
    };

    explicit RunWiring(Parts parts);

    // Each false when no run started; the run or the step before it has said why.
    bool start();
    // Narrows the links database to the links without a thumbnail first.
    bool retry();
    void stop();

Q_SIGNALS:
    void runEnded();

private:
    void showWaitingWindow();
    void handleFinished(bool stopped, qint32 resumeFrom);

    Parts m_parts;
    QPointer<Batch::frmMsg> m_frmMsg;
};

} // namespace Shell
