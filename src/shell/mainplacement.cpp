#include "shell/mainplacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "common/windowgeometry.h"

namespace Shell {

MainPlacement::MainPlacement(Settings::Hive& hive, QWidget& window)
    : QObject(&window)
    , m_hive(hive)
    , m_window(window)
{
    window.installEventFilter(this);
}

void MainPlacement::restore()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenPixels = screen ? screen->size() : QSize(1024, 768);
    m_restoredTwips = readMainWindowPlacement(
        m_hive, QSize(Common::toTwips(screenPixels.width()), Common::toTwips(screenPixels.height())));
    m_pending = true;
    apply();
}

bool MainPlacement::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window && event->type() == QEvent::Show && m_pending) {
        m_pending = false;
        apply();
    } else if (watched == &m_window && event->type() == QEvent::Close) {
        save();
    }
    return QObject::eventFilter(watched, event);
}

void MainPlacement::apply()
{
    // The stored size is the outer size; the frame's thickness is only known once the window is
    // shown, so the placement is applied again then.
    // Kept apart rather than in a QRect: its right edge would overflow for the largest stored values.
    const QPoint position(Common::toPixels(m_restoredTwips.left), Common::toPixels(m_restoredTwips.top));
    const QSize outer(Common::toPixels(m_restoredTwips.width), Common::toPixels(m_restoredTwips.height));
    const QSize frame = m_window.frameGeometry().size() - m_window.size();
    m_window.move(position);
    m_window.resize((outer - frame).expandedTo(QSize(1, 1)));
}

void MainPlacement::save()
{
    if (m_window.isMinimized())
        return;
    const QRect outer = m_window.frameGeometry();
    saveMainWindowPlacement(m_hive,
        { double(Common::toTwips(outer.x())), double(Common::toTwips(outer.y())),
            double(Common::toTwips(outer.width())), double(Common::toTwips(outer.height())) });
}

} // namespace Shell
