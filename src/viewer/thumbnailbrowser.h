#pragma once

#include <functional>

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "imaging/pictureviewerpro.h"
#include "viewer/viewerfiles.h"
#include "viewer/viewerpages.h"

namespace Common {
class MessageBox;
class ThumbnailModel;
}

namespace Viewer {

// The thumbnail viewer's work without its window: the image files of one folder, split into pages
// whose thumbnails fill a ThumbnailModel, the preview, the page buttons' states, the status texts and
// the deletions. Listing a folder, decoding thumbnails and the preview, and deleting files all run off
// the GUI thread; whatever arrives for a folder or page that was left meanwhile is dropped, so the
// window never waits. Problems are reported through the message box. GUI thread only.
class ThumbnailBrowser final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThumbnailBrowser)

public:
    static constexpr qint32 DefaultPageSize = 500;

    explicit ThumbnailBrowser(Common::MessageBox& boxes, QObject* parent = nullptr);
    ~ThumbnailBrowser() override;

    // The folder "Delete All" empties, whichever folder is shown.
    void setViewerFolder(const QString& folder);
    // Images per page; below 1 means the default.
    void setPageSize(qint32 pageSize);
    qint32 pageSize() const { return m_pageSize; }

    Common::ThumbnailModel& model() { return *m_model; }

    // Shows page 1 of a folder once its files are listed.
    void changeFolder(const QString& folder);
    void pressPageButton(PageKey key);
    // Shows a file in the preview once decoded; an empty path clears it.
    void showPreview(const QString& filePath);
    // False when the preview shows nothing.
    bool copyPreview(Imaging::ImageClipboard& clipboard) const;
    // Deletes the files of the given rows of the model without asking, then lists the folder again
    // and shows the same page (or the last one, when it is gone).
    void DeleteSelectedFiles(const QList<int>& rows);
    // Asks, and on Yes deletes the thumbnail files of the viewer folder, then lists the shown folder again.
    void DeleteAllThumbnailsFiles();

    // The folder shown, ending in "/".
    const QString& CurrentFolder() const { return m_currentFolder; }
    const QStringList& Files() const { return m_files; }
    qint32 FileCount() const { return qint32(m_files.size()); }
    qint32 CurrentPage() const { return m_currentPage; }
    qint32 PageCount() const { return m_pageCount; }
    PageButtons pageButtons() const { return m_buttons; }
    const QString& statusText() const { return m_statusText; }
    const QString& pagePositionText() const { return m_pagePosition; }
    int progress() const { return m_progress; }
    // Listing, building a page or deleting.
    bool isBusy() const { return m_busy; }
    bool isDeleting() const { return m_deleting; }
    const QImage& preview() const { return m_preview.image(); }

Q_SIGNALS:
    void statusTextChanged(const QString& text);
    void pagePositionChanged(const QString& text);
    void progressChanged(int percent);
    void busyChanged(bool busy);
    void deletingChanged(bool deleting);
    void pageButtonsChanged(Viewer::PageButtons buttons);
    void previewChanged(const QImage& image);
    // The grid was emptied: the view puts its fixed appearance back.
    void thumbnailsCleared();
    // The page's thumbnails are all decoded (or there are none).
    void pageShown();

private:
    enum class AfterListing { FolderChange, Deletion };
    struct Listing {
        bool ok = false;
        QStringList files;
        QString error;
    };

    void LoadFileList(const QString& folder, AfterListing after);
    void handleListed(const Listing& listing, AfterListing after);
    void ClearThumbnails();
    void ShowPage();
    void finishPage();
    void handleThumbnailReady();
    enum class DeletionKind { Selected, AllThumbnails };
    void runDeletion(std::function<DeletionReport()> work, DeletionKind kind);
    void reportFailedDeletions(const QStringList& failures);
    void setStatusText(const QString& text);
    void setProgress(int percent);
    void setButtons(PageButtons buttons);
    void updateBusy();

    Common::MessageBox& m_boxes;
    Common::ThumbnailModel* m_model = nullptr;
    QString m_viewerFolder;
    qint32 m_pageSize = DefaultPageSize;

    QString m_currentFolder;
    QStringList m_files;
    qint32 m_currentPage = 1;
    qint32 m_pageCount = 0;
    PageButtons m_buttons;

    quint64 m_listingSerial = 0;
    bool m_listing = false;
    bool m_buildingPage = false;
    bool m_deleting = false;
    bool m_busy = false;
    qint32 m_pageItems = 0;
    qint32 m_pageReady = 0;

    quint64 m_previewSerial = 0;
    Imaging::PictureViewerPro m_preview;

    QString m_statusText;
    QString m_pagePosition;
    int m_progress = 0;
};

} // namespace Viewer
