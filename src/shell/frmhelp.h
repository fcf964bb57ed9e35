#pragma once

#include <QDialog>

class QTextBrowser;
class QUrl;

namespace Common {
class Desktop;
}

namespace Shell {

// The help window: the program's manual. Links within it stay in the window; addresses on the web and
// mail addresses open in the user's own programs. Escape closes it.
class frmHelp final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmHelp)

public:
    frmHelp(Common::Desktop& desktop, const QString& appPath, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void followLink(const QUrl& url);

    Common::Desktop& m_desktop;
    QTextBrowser* m_browser = nullptr;
};

} // namespace Shell
