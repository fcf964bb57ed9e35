#include "batch/widgets/frmmsg.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/widgets/windowhelpers.h"

namespace Batch {

namespace {

    // Both waiting windows: a frameless box with a framing shape inside and rounded corners.
    QFrame* framedBody(QDialog* window, const QString& objectName)
    {
        window->setObjectName(objectName);
        window->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        window->setModal(false);
        auto* outer = new QVBoxLayout(window);
        outer->setContentsMargins(6, 6, 6, 6);
        auto* frame = new QFrame(window);
        frame->setFrameShape(QFrame::StyledPanel);
        outer->addWidget(frame);
        return frame;
    }

    QLabel* heading(const QString& text, QWidget* parent)
    {
        auto* label = new QLabel(text, parent);
        QFont font = label->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.2);
        label->setFont(font);
        return label;
    }

} // namespace

frmMsg::frmMsg(QWidget* parent)
    : QDialog(parent)
{
    QFrame* frame = framedBody(this, QStringLiteral("frmMsg"));
    auto* grid = new QGridLayout(frame);
    grid->addWidget(heading(tr("Please Wait..."), frame), 0, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Please wait until all working threads finish."), frame), 1, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Working Threads:"), frame), 2, 0);
    m_lblWorkingThreads = new QLabel(QStringLiteral("0"), frame);
    m_lblWorkingThreads->setObjectName(QStringLiteral("lblWorkingThreads"));
    grid->addWidget(m_lblWorkingThreads, 2, 1);
    m_cmdAbort = new QPushButton(tr("Abort"), frame);
    m_cmdAbort->setObjectName(QStringLiteral("cmdAbort"));
    grid->addWidget(m_cmdAbort, 3, 1, Qt::AlignRight);
    connect(m_cmdAbort, &QPushButton::clicked, this, [this] {
        Q_EMIT abortRequested();
        close();
    });
    setFixedSize(sizeHint().expandedTo(QSize(340, 150)));
}

void frmMsg::setWorkingThreads(int count) { m_lblWorkingThreads->setText(QString::number(count)); }

void frmMsg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Common::RoundCorners(this, 20);
}

frmRetryMsg::frmRetryMsg(QWidget* parent)
    : QDialog(parent)
{
    QFrame* frame = framedBody(this, QStringLiteral("frmRetryMsg"));
    auto* column = new QVBoxLayout(frame);
    column->addWidget(heading(tr("Please Wait..."), frame));
    column->addWidget(new QLabel(tr("Creating retry file, this may take a moment."), frame));
    setFixedSize(sizeHint().expandedTo(QSize(340, 100)));
}

void frmRetryMsg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Common::RoundCorners(this, 10);
}

} // namespace Batch
