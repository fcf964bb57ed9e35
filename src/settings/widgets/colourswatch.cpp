#include "settings/widgets/colourswatch.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "common/widgets/qtpickers.h"

namespace Settings {

ColourSwatch::ColourSwatch(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    // Reachable from the keyboard: Space or Enter opens the colour chooser as a click does.
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(sizeHint());
    setColour(0);
}

void ColourSwatch::setColour(qint32 colour)
{
    m_colour = colour;
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Common::toQColor(colour));
    setPalette(colours);
}

QSize ColourSwatch::sizeHint() const { return { 24, 18 }; }

void ColourSwatch::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QFrame::mouseReleaseEvent(event);
}

void ColourSwatch::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Q_EMIT clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace Settings
