#include "viewer/viewerpages.h"

#include <algorithm>

namespace Viewer {

qint32 pageCountFor(qint32 fileCount, qint32 pageSize)
{
    if (fileCount < 1)
        return 0;
    const qint64 size = std::max(1, pageSize);
    return qint32((qint64(fileCount) + size - 1) / size);
}

PageSpan pageSpan(qint32 page, qint32 pageSize, qint32 fileCount)
{
    const qint64 size = std::max(1, pageSize);
    const qint64 first = (qint64(std::max(1, page)) - 1) * size;
    if (first >= fileCount)
        return {};
    return { qint32(first), qint32(std::min<qint64>(size, fileCount - first)) };
}

PageButtons buttonsAfterListing(qint32 pageCount)
{
    const bool any = pageCount >= 1;
    return { any, any, any, any };
}

PageButtons buttonsForPage(qint32 page, qint32 pageCount)
{
    if (pageCount < 1)
        return {};
    const bool back = page > 1;
    const bool forward = page < pageCount;
    return { back, back, forward, forward };
}

PageMove movePage(PageKey key, qint32 current, qint32 pageCount, PageButtons before)
{
    PageMove move { current, before };
    PageButtons& b = move.buttons;
    switch (key) {
    case PageKey::FirstPage:
        move.page = 1;
        if (pageCount >= 1)
            b = { false, false, true, true };
        break;
    case PageKey::PrevPage:
        move.page = std::max(1, current - 1);
        b.next = b.last = true;
        if (move.page == 1)
            b.first = b.prev = false;
        break;
    case PageKey::NextPage:
        move.page = std::max(1, std::min(current + 1, pageCount));
        if (move.page >= pageCount) {
            b.next = b.last = false;
            if (move.page > 1)
                b.first = b.prev = true;
        } else {
            b.first = b.prev = true;
        }
        break;
    case PageKey::LastPage:
        move.page = std::max(1, pageCount);
        if (pageCount > 1)
            b = { true, true, false, false };
        break;
    }
    // With no page at all there is nowhere to go: a button left on would only lead back here.
    if (pageCount < 1)
        b = {};
    return move;
}

} // namespace Viewer
