#include "viewer/thumbnailbrowser.h"

#include <algorithm>
#include <utility>

#include <QFutureWatcher>
#include <QtConcurrent>

#include "common/messagebox.h"
#include "common/paths.h"
#include "common/thumbnailmodel.h"
#include "imaging/imagefile.h"

namespace Viewer {

namespace {

    // Enough names to tell the user which files are meant without filling the screen.
    constexpr qsizetype MaxNamesInMessage = 10;

    // Runs work on the pool and hands its result to done on the GUI thread, unless owner is gone.
    template <typename T, typename Work, typename Done> void runInBackground(QObject* owner, Work work, Done done)
    {
        auto* watcher = new QFutureWatcher<T>(owner);
        QObject::connect(watcher, &QFutureWatcher<T>::finished, owner, [watcher, done] {
            done(watcher->result());
            watcher->deleteLater();
        });
        watcher->setFuture(QtConcurrent::run(std::move(work)));
    }

    QImage placeholderImage(QSize size)
    {
        // A light grey card with a cross: a file is there, but no picture could be made of it.
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(0xEE, 0xEE, 0xEE));
        const QRgb ink = qRgb(0xB0, 0x30, 0x30);
        const int side = std::min(size.width(), size.height()) / 3;
        const QPoint centre(size.width() / 2, size.height() / 2);
        for (int d = -side / 2; d <= side / 2; ++d) {
            for (int thick = 0; thick < 2; ++thick) {
                image.setPixel(centre.x() + d + thick, centre.y() + d, ink);
                image.setPixel(centre.x() + d + thick, centre.y() - d, ink);
            }
        }
        return image;
    }

} // namespace

ThumbnailBrowser::ThumbnailBrowser(Common::MessageBox& boxes, QObject* parent)
    : QObject(parent)
    , m_boxes(boxes)
    , m_model(new Common::ThumbnailModel(this))
{
    m_model->setPlaceholder(placeholderImage(m_model->thumbnailSize()));
    connect(m_model, &Common::ThumbnailModel::thumbnailReady, this, &ThumbnailBrowser::handleThumbnailReady);
    connect(m_model, &Common::ThumbnailModel::allThumbnailsReady, this, &ThumbnailBrowser::finishPage);
}

ThumbnailBrowser::~ThumbnailBrowser() = default;

void ThumbnailBrowser::setViewerFolder(const QString& folder) { m_viewerFolder = folder; }

void ThumbnailBrowser::setPageSize(qint32 pageSize) { m_pageSize = pageSize < 1 ? DefaultPageSize : pageSize; }

void ThumbnailBrowser::changeFolder(const QString& folder)
{
    m_currentFolder = Common::AddBackslash(folder);
    m_currentPage = 1;
    LoadFileList(m_currentFolder, AfterListing::FolderChange);
}

void ThumbnailBrowser::LoadFileList(const QString& folder, AfterListing after)
{
    setStatusText(tr("Loading files..."));
    // Until the new list is in, no page button may act on the old one.
    setButtons({});
    const quint64 serial = ++m_listingSerial;
    m_listing = true;
    updateBusy();
    runInBackground<Listing>(
        this,
        [folder] {
            const Common::Result<QStringList> files = listViewerFiles(folder);
            return files ? Listing { true, files.value(), {} } : Listing { false, {}, files.error().message };
        },
        [this, serial, after](const Listing& listing) {
            if (serial == m_listingSerial)
                handleListed(listing, after);
        });
}

void ThumbnailBrowser::handleListed(const Listing& listing, AfterListing after)
{
    m_listing = false;
    m_files = listing.files;
    m_pageCount = pageCountFor(FileCount(), m_pageSize);
    setStatusText(tr("Loading files...Done"));
    // A page that no longer exists after a deletion would show nothing under "Page 3 of 2".
    if (after == AfterListing::Deletion)
        m_currentPage = std::clamp(m_currentPage, 1, std::max(1, m_pageCount));
    ClearThumbnails();
    ShowPage();
    // A deletion keeps the user on a page that may be the first or the last: Next on the last page
    // would only show it again.
    setButtons(after == AfterListing::Deletion ? buttonsForPage(m_currentPage, m_pageCount)
                                               : buttonsAfterListing(m_pageCount));
    updateBusy();
    if (!listing.ok)
        m_boxes.inform(listing.error, tr("Viewer"), Common::MessageBox::Icon::Critical);
}

void ThumbnailBrowser::ClearThumbnails()
{
    setStatusText(tr("Clearing..."));
    m_model->clear();
    m_buildingPage = false;
    Q_EMIT thumbnailsCleared();
}

void ThumbnailBrowser::ShowPage()
{
    setProgress(0);
    setStatusText(tr("Processing...Please wait"));
    const PageSpan span = pageSpan(m_currentPage, m_pageSize, FileCount());
    QStringList paths;
    QStringList captions;
    paths.reserve(span.count);
    captions.reserve(span.count);
    for (qint32 i = span.first; i < span.first + span.count; ++i) {
        paths.append(m_currentFolder + m_files.at(i));
        captions.append(m_files.at(i));
    }
    m_pageItems = span.count;
    m_pageReady = 0;
    m_buildingPage = true;
    updateBusy();
    m_model->addImages(paths, captions);
    m_pagePosition = tr("Page %1 of %2").arg(m_currentPage).arg(m_pageCount);
    Q_EMIT pagePositionChanged(m_pagePosition);
    showPreview(paths.value(0));
    if (span.count == 0)
        finishPage();
}

void ThumbnailBrowser::handleThumbnailReady()
{
    if (!m_buildingPage || m_pageItems < 1)
        return;
    ++m_pageReady;
    setProgress(std::min(100, int(qint64(m_pageReady) * 100 / m_pageItems)));
}

void ThumbnailBrowser::finishPage()
{
    if (!m_buildingPage)
        return;
    m_buildingPage = false;
    setStatusText(FileCount() < 1 ? tr("No images files found") : QString::number(FileCount()) + tr(" files"));
    setProgress(0);
    updateBusy();
    Q_EMIT pageShown();
}

void ThumbnailBrowser::pressPageButton(PageKey key)
{
    const PageMove move = movePage(key, m_currentPage, m_pageCount, m_buttons);
    m_currentPage = move.page;
    ClearThumbnails();
    ShowPage();
    setButtons(move.buttons);
}

void ThumbnailBrowser::showPreview(const QString& filePath)
{
    const quint64 serial = ++m_previewSerial;
    m_preview.clear();
    Q_EMIT previewChanged(m_preview.image());
    if (filePath.isEmpty())
        return;
    runInBackground<QImage>(
        this,
        [filePath] {
            const Common::Result<QImage> image = Imaging::loadForeignImage(filePath);
            return image ? image.value() : QImage();
        },
        [this, serial](const QImage& image) {
            if (serial != m_previewSerial)
                return;
            // A file that cannot be decoded leaves the preview empty.
            if (!image.isNull())
                m_preview.setImage(image);
            Q_EMIT previewChanged(m_preview.image());
        });
}

bool ThumbnailBrowser::copyPreview(Imaging::ImageClipboard& clipboard) const
{
    if (m_preview.isEmpty())
        return false;
    m_preview.copyToClipboard(clipboard);
    return true;
}

void ThumbnailBrowser::DeleteSelectedFiles(const QList<int>& rows)
{
    if (m_deleting)
        return;
    QList<int> ordered = rows;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    QStringList paths;
    for (const int row : ordered) {
        const QString path = m_model->filePath(row);
        if (!path.isEmpty())
            paths.append(path);
    }
    m_model->clear();
    runDeletion([paths] { return deleteFiles(paths); }, DeletionKind::Selected);
}

void ThumbnailBrowser::DeleteAllThumbnailsFiles()
{
    if (m_deleting)
        return;
    const auto answer = m_boxes.ask(tr("Delete all thumbnails files in the snapshots folder?"),
        tr("Delete All Thumbnails"), Common::MessageBox::Icon::Warning, Common::MessageBox::Buttons::YesNoCancel);
    if (answer != Common::MessageBox::Answer::Yes)
        return;
    const QString folder = m_viewerFolder;
    runDeletion([folder] { return deleteThumbnailFiles(folder); }, DeletionKind::AllThumbnails);
}

void ThumbnailBrowser::runDeletion(std::function<DeletionReport()> work, DeletionKind kind)
{
    m_deleting = true;
    Q_EMIT deletingChanged(true);
    updateBusy();
    runInBackground<DeletionReport>(this, std::move(work), [this, kind](const DeletionReport& report) {
        m_deleting = false;
        Q_EMIT deletingChanged(false);
        if (kind == DeletionKind::Selected) {
            LoadFileList(m_currentFolder, AfterListing::Deletion);
            if (!report.failures.isEmpty())
                reportFailedDeletions(report.failures);
        } else {
            // Files that could not be deleted simply stay and show up again.
            changeFolder(m_currentFolder);
        }
    });
}

void ThumbnailBrowser::reportFailedDeletions(const QStringList& failures)
{
    QString text = tr("%n file(s) could not be deleted:", nullptr, int(failures.size()));
    for (const QString& failure : failures.first(std::min(failures.size(), MaxNamesInMessage)))
        text += QLatin1Char('\n') + failure;
    if (failures.size() > MaxNamesInMessage)
        text += QLatin1Char('\n') + tr("and %n more.", nullptr, int(failures.size() - MaxNamesInMessage));
    m_boxes.inform(text, tr("Delete"), Common::MessageBox::Icon::Warning);
}

void ThumbnailBrowser::setStatusText(const QString& text)
{
    if (text == m_statusText)
        return;
    m_statusText = text;
    Q_EMIT statusTextChanged(text);
}

void ThumbnailBrowser::setProgress(int percent)
{
    if (percent == m_progress)
        return;
    m_progress = percent;
    Q_EMIT progressChanged(percent);
}

void ThumbnailBrowser::setButtons(PageButtons buttons)
{
    if (buttons == m_buttons)
        return;
    m_buttons = buttons;
    Q_EMIT pageButtonsChanged(buttons);
}

void ThumbnailBrowser::updateBusy()
{
    const bool busy = m_listing || m_buildingPage || m_deleting;
    if (busy == m_busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged(busy);
}

} // namespace Viewer
