#pragma once

#include <QDialog>

#include "snapshotter/shotform.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace Common {
class Pickers;
}
namespace Imaging {
class PictureDisplay;
}

namespace Snapshotter {

// The snapshotter window: an address to capture, the captured page at any zoom, grey or black and
// white, resized, back to the capture, and saved in a chosen format. Enter in the address box
// captures; Escape closes. Closing ends a capture under way.
class frmShot final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmShot)

public:
    frmShot(const ShotForm::Services& services, Common::Pickers& pickers, QWidget* parent = nullptr);
    ~frmShot() override;

    ShotForm& form() { return *m_form; }
    QString statusText() const;
    QString progressText() const;

    void done(int result) override;

private:
    QPushButton* addButton(const QString& name, const QString& caption, void (frmShot::*handler)());
    void snapshotClicked();
    void blackAndWhiteClicked();
    void grayClicked();
    void originalClicked();
    void resizeClicked();
    void saveClicked();
    void showPicture();
    void showZoom(int percent);

    ShotForm* m_form = nullptr;
    Common::Pickers& m_pickers;
    QLineEdit* m_txtAddress = nullptr;
    QScrollBar* m_scrollZoom = nullptr;
    QLabel* m_lblZoom = nullptr;
    QLineEdit* m_txtWidth = nullptr;
    QLineEdit* m_txtHeight = nullptr;
    QLabel* m_lblWidth = nullptr;
    QLabel* m_lblHeight = nullptr;
    Imaging::PictureDisplay* m_viewer = nullptr;
    QLabel* m_statusPanel = nullptr;
    QLabel* m_progressPanel = nullptr;
};

} // namespace Snapshotter
