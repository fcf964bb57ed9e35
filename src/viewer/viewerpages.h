#pragma once

#include <QtGlobal>

namespace Viewer {

// The page buttons' enabled states.
struct PageButtons final {
    bool first = false;
    bool prev = false;
    bool next = false;
    bool last = false;

    friend bool operator==(const PageButtons&, const PageButtons&) = default;
};

enum class PageKey { FirstPage, PrevPage, NextPage, LastPage };

// Where a page button leads and the button states it leaves.
struct PageMove final {
    qint32 page = 1;
    PageButtons buttons;
};

// Pages of pageSize files needed for fileCount files; 0 for no files. A page size below 1 counts as 1.
qint32 pageCountFor(qint32 fileCount, qint32 pageSize);

// The files of a page, as 0-based index and count; empty for a page past the end.
struct PageSpan final {
    qint32 first = 0;
    qint32 count = 0;
};
PageSpan pageSpan(qint32 page, qint32 pageSize, qint32 fileCount);

// After a folder is listed every page button is on, unless there is no page at all.
PageButtons buttonsAfterListing(qint32 pageCount);

// The buttons for page `page` of `pageCount` as the page alone decides them: First and Prev off on
// the first page, Next and Last off on the last, all off without a page.
PageButtons buttonsForPage(qint32 page, qint32 pageCount);

// A page button pressed on page `current` of `pageCount`: the new page (never below 1, so an empty
// folder stays on page 1) and the states of the buttons, of which those the move does not decide keep
// their state from `before`.
PageMove movePage(PageKey key, qint32 current, qint32 pageCount, PageButtons before);

} // namespace Viewer
