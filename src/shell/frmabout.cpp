#include "shell/frmabout.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "common/desktop.h"
#include "shell/programinfo.h"

namespace Shell {

frmAbout::frmAbout(Common::Desktop& desktop, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About ") + programName());

    auto* layout = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DesktopIcon).pixmap(48, 48));
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);

    auto* title = new QLabel(programName(), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont bigger = title->font();
    bigger.setPointSizeF(bigger.pointSizeF() * 1.6);
    bigger.setBold(true);
    title->setFont(bigger);
    layout->addWidget(title, 0, 1, 1, 2);
    auto* version = new QLabel(tr("Version ") + programVersion(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    layout->addWidget(version, 1, 1, 1, 2);

    const struct {
        const char* caption;
        const char* name;
        QString shown;
        QString target;
    } links[] = {
        { "Website address:", "lblCorvane", QStringLiteral("www.corvane.com/pictavo"), websiteAddress() },
        { "Support Email:", "lblSupportEmail", supportAddress(), QStringLiteral("mailto:") + supportAddress() },
        { "Sales Emails:", "lblSalesEmail", salesAddress(), QStringLiteral("mailto:") + salesAddress() },
    };
    int row = 2;
    for (const auto& link : links) {
        layout->addWidget(new QLabel(tr(link.caption), this), row, 1);
        auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(link.target, link.shown), this);
        label->setObjectName(QLatin1String(link.name));
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(label, &QLabel::linkActivated, this,
            [&desktop](const QString& target) { Common::ShellOpen(desktop, target); });
        layout->addWidget(label, row++, 2);
    }

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    layout->addLayout(buttons, row, 0, 1, 3);
}

} // namespace Shell
