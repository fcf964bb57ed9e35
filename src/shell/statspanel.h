#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace Shell {

// The main window's bottom panel "picStats": the run's progress and its counters.
class StatsPanel final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatsPanel)

public:
    explicit StatsPanel(QWidget* parent = nullptr);

    // The counters read "-" and the progress is empty until the run counts again.
    void clearCounters();
    void showCounters(qint32 done, qint32 success, qint32 errors);
    // Percent, 0 to 100: the bar and the label.
    void showProgress(qint32 percent);
    // The bar alone, for a step before the run (the retry file).
    void showBarOnly(int percent);
    void showSelected(qint32 count);

private:
    QProgressBar* m_prgProgressBar = nullptr;
    QLabel* m_lblProgress = nullptr;
    QLabel* m_lblSelectedLinks = nullptr;
    QLabel* m_lblDoneCount = nullptr;
    QLabel* m_lblSuccessCount = nullptr;
    QLabel* m_lblErrorsCount = nullptr;
};

} // namespace Shell
