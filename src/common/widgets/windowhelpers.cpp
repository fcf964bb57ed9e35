#include "common/widgets/windowhelpers.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QStatusBar>
#include <QWidget>

#include "common/windowgeometry.h"

namespace Common {

void CenterForm(QWidget* window, QWidget* owner)
{
    if (!window)
        return;
    const QSize size = window->frameGeometry().size();
    std::optional<QPoint> position;
    if (owner) {
        position = centerPosition(size, owner->frameGeometry().topLeft(), owner->size());
    } else {
        const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        position = centerPosition(size, screen->geometry().size());
        if (position)
            *position += screen->geometry().topLeft();
    }
    if (position)
        window->move(*position);
}

void RoundCorners(QWidget* window, int size)
{
    if (!window)
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(window->size())), size / 2.0, size / 2.0);
    window->setMask(QRegion(path.toFillPolygon().toPolygon()));
    window->update();
}

QString BrowseForFolder(const QString& title, const QString& startFolder, const QString& root, bool editBox,
    bool includeFiles, QWidget* owner)
{
    Q_UNUSED(editBox)
    QFileDialog dialog(owner, title, startFolder.isEmpty() ? root : startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(
        QFileDialog::DontUseNativeDialog | (includeFiles ? QFileDialog::Options() : QFileDialog::ShowDirsOnly));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QStatusBar* statusBarWithPanel(QLabel** panel, QWidget* parent)
{
    auto* bar = new QStatusBar(parent);
    bar->setObjectName(QStringLiteral("sbStatusBar"));
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("sbStatusBarPanel1"));
    bar->addWidget(label, 1);
    *panel = label;
    return bar;
}

QLabel* captionLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* valueLabel(const QString& objectName, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setMinimumWidth(60);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace Common
