#include "shell/statspanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include "common/widgets/windowhelpers.h"

namespace Shell {

StatsPanel::StatsPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("picStats"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);

    m_prgProgressBar = new QProgressBar(this);
    m_prgProgressBar->setObjectName(QStringLiteral("prgProgressBar"));
    m_prgProgressBar->setRange(0, 100);
    m_prgProgressBar->setValue(0);
    m_prgProgressBar->setTextVisible(false);
    const QString zero = QStringLiteral("0");
    m_lblProgress = Common::valueLabel(QStringLiteral("lblProgress"), QStringLiteral("0%"), this);
    m_lblSelectedLinks = Common::valueLabel(QStringLiteral("lblSelectedLinks"), zero, this);
    m_lblDoneCount = Common::valueLabel(QStringLiteral("lblDoneCount"), zero, this);
    m_lblSuccessCount = Common::valueLabel(QStringLiteral("lblSuccessCount"), zero, this);
    m_lblErrorsCount = Common::valueLabel(QStringLiteral("lblErrorsCount"), zero, this);

    row->addWidget(m_prgProgressBar, 1);
    row->addWidget(m_lblProgress);
    row->addWidget(Common::captionLabel(tr("Total:"), this));
    row->addWidget(m_lblSelectedLinks);
    row->addWidget(Common::captionLabel(tr("Done:"), this));
    row->addWidget(m_lblDoneCount);
    row->addWidget(Common::captionLabel(tr("Success:"), this));
    row->addWidget(m_lblSuccessCount);
    row->addWidget(Common::captionLabel(tr("Errors:"), this));
    row->addWidget(m_lblErrorsCount);
    setFixedHeight(sizeHint().height());
}

void StatsPanel::clearCounters()
{
    for (QLabel* label : { m_lblDoneCount, m_lblSuccessCount, m_lblErrorsCount })
        label->setText(QStringLiteral("-"));
    showBarOnly(0);
    m_lblProgress->clear();
}

void StatsPanel::showCounters(qint32 done, qint32 success, qint32 errors)
{
    m_lblDoneCount->setText(QString::number(done));
    m_lblSuccessCount->setText(QString::number(success));
    m_lblErrorsCount->setText(QString::number(errors));
}

void StatsPanel::showProgress(qint32 percent)
{
    m_prgProgressBar->setValue(percent);
    m_lblProgress->setText(QString::number(percent) + QLatin1Char('%'));
}

void StatsPanel::showBarOnly(int percent)
{
    m_prgProgressBar->setRange(0, 100);
    m_prgProgressBar->setValue(percent);
}

void StatsPanel::showSelected(qint32 count) { m_lblSelectedLinks->setText(QString::number(count)); }

} // namespace Shell
