#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace Batch {

// The waiting window of a run's end: how many captures are still working, and "Abort" to stop
// waiting for them. Not modal; the run goes on while it shows.
class frmMsg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMsg)

public:
    explicit frmMsg(QWidget* parent = nullptr);
    void setWorkingThreads(int count);

Q_SIGNALS:
    void abortRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_lblWorkingThreads = nullptr;
    QPushButton* m_cmdAbort = nullptr;
};

// The waiting window shown while the retry file is written.
class frmRetryMsg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmRetryMsg)

public:
    explicit frmRetryMsg(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace Batch
