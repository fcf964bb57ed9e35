#pragma once

#include <QDialog>

namespace Common {
class Desktop;
}

namespace Shell {

// The about window: the program's name and version, and its web site and mail addresses, which open
// in the user's own browser and mail program. OK and Escape close it.
class frmAbout final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAbout)

public:
    frmAbout(Common::Desktop& desktop, QWidget* parent = nullptr);
};

} // namespace Shell
