#pragma once

#include <QObject>

#include "shell/windowplacement.h"

class QWidget;

namespace Settings {
class Hive;
}

namespace Shell {

// Keeps the main window where the user left it: restore() places it as stored (twips, the outer size),
// and again when it is first shown, once the frame's thickness is known; closing stores its placement
// unless it is minimised, so the last normal one survives. GUI thread; the hive outlives it.
class MainPlacement final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainPlacement)

public:
    MainPlacement(Settings::Hive& hive, QWidget& window);

    void restore();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply();
    void save();

    Settings::Hive& m_hive;
    QWidget& m_window;
    WindowPlacement m_restoredTwips;
    bool m_pending = false;
};

} // namespace Shell
