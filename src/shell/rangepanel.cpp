#include "shell/rangepanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "common/widgets/windowhelpers.h"

namespace Shell {

RangePanel::RangePanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("picTop"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);

    m_lblTotalLocalLinks = Common::valueLabel(QStringLiteral("lblTotalLocalLinks"), QStringLiteral("0"), this);
    m_txtStartLinksFrom = new QLineEdit(QStringLiteral("1"), this);
    m_txtStartLinksFrom->setObjectName(QStringLiteral("txtStartLinksFrom"));
    m_txtStartLinksTo = new QLineEdit(QStringLiteral("0"), this);
    m_txtStartLinksTo->setObjectName(QStringLiteral("txtStartLinksTo"));
    for (QLineEdit* box : { m_txtStartLinksFrom, m_txtStartLinksTo })
        box->setMaximumWidth(110);
    auto* refresh = new QPushButton(tr("Refresh"), this);
    refresh->setObjectName(QStringLiteral("cmdCalculateTotalLinks"));
    connect(refresh, &QPushButton::clicked, this, &RangePanel::refreshClicked);
    m_chkSkipExisting = new QCheckBox(tr("Skip Existing"), this);
    m_chkSkipExisting->setObjectName(QStringLiteral("chkSkipExisting"));

    row->addWidget(Common::captionLabel(tr("Links:"), this));
    row->addWidget(m_lblTotalLocalLinks);
    row->addSpacing(12);
    row->addWidget(Common::captionLabel(tr("Start from number:"), this));
    row->addWidget(m_txtStartLinksFrom);
    row->addWidget(Common::captionLabel(tr("to:"), this));
    row->addWidget(m_txtStartLinksTo);
    row->addWidget(refresh);
    row->addSpacing(12);
    row->addWidget(m_chkSkipExisting);
    row->addStretch(1);
    setFixedHeight(sizeHint().height());
}

QString RangePanel::fromText() const { return m_txtStartLinksFrom->text(); }

QString RangePanel::toText() const { return m_txtStartLinksTo->text(); }

bool RangePanel::skipExisting() const { return m_chkSkipExisting->isChecked(); }

void RangePanel::setRange(const QString& from, const QString& to)
{
    m_txtStartLinksFrom->setText(from);
    m_txtStartLinksTo->setText(to);
}

void RangePanel::setFrom(const QString& from) { m_txtStartLinksFrom->setText(from); }

void RangePanel::setTotal(qint32 count)
{
    m_lblTotalLocalLinks->setText(QString::number(count));
    setRange(QStringLiteral("1"), QString::number(count));
}

} // namespace Shell
