#include "shell/frmhelp.h"

#include <QResizeEvent>
#include <QTextBrowser>
#include <QUrl>

#include "common/desktop.h"
#include "common/windowgeometry.h"
#include "shell/programinfo.h"

namespace Shell {

namespace {

    // The page leaves a margin to the window's outer size, in twips.
    constexpr int kWidthMarginTwips = 100;
    constexpr int kHeightMarginTwips = 400;

} // namespace

frmHelp::frmHelp(Common::Desktop& desktop, const QString& appPath, QWidget* parent)
    : QDialog(parent)
    , m_desktop(desktop)
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(tr("Help"));
    setSizeGripEnabled(true);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("WebBrowser"));
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &frmHelp::followLink);
    // A missing page shows an empty window, as the program has always done.
    const QString page = helpPagePath(appPath);
    if (!page.isEmpty())
        m_browser->setSource(QUrl::fromLocalFile(page));
    resize(860, 680);
}

void frmHelp::followLink(const QUrl& url)
{
    if (url.isLocalFile() || url.isRelative()) {
        m_browser->setSource(m_browser->source().resolved(url));
        return;
    }
    // Only the user's own browser and mail program are trusted with other addresses.
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")
        || url.scheme() == QLatin1String("mailto"))
        m_desktop.openUrl(url);
}

void frmHelp::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // The outer size counts the frame, which the window manager may not know before the first show.
    const QSize frame = frameGeometry().size() - geometry().size();
    const int width = event->size().width() + frame.width() - Common::toPixels(kWidthMarginTwips);
    const int height = event->size().height() + frame.height() - Common::toPixels(kHeightMarginTwips);
    if (width > 0 && height > 0)
        m_browser->setGeometry(0, 0, width, height);
}

} // namespace Shell
