#include "shell/mainlayout.h"

#include <algorithm>

#include "common/numbers.h"

namespace Shell {

QSize clampedOuterSize(QSize outer)
{
    return { std::max(outer.width(), MinimumOuterTwips), std::max(outer.height(), MinimumOuterTwips) };
}

MainLayout arrangeMainWindow(const MainLayoutInput& in, const MainLayout& previous)
{
    MainLayout out = previous;
    const auto place = [](QRect& target, int left, int top, int width, int height) {
        if (width >= 0 && height >= 0)
            target = QRect(left, top, width, height);
    };

    const int top = in.toolbarTop + in.toolbarHeight;
    place(out.picTop, 0, top, in.outer.width() - 120, in.picTopHeight);

    const int listTop = top + in.picTopHeight;
    const int free = in.inner.height() - in.toolbarHeight - in.picTopHeight - in.picStatsHeight - in.statusBarHeight;
    const int half = static_cast<int>(Common::roundHalfEven(free / 2.0));

    place(out.lvwLinks, 0, listTop, in.inner.width(), half);
    place(out.Thumbnails, 0, out.lvwLinks.top() + out.lvwLinks.height(), in.inner.width(), half);
    place(out.picStats, 0, out.Thumbnails.top() + out.Thumbnails.height(), in.inner.width(), in.picStatsHeight);

    const int listWidth = out.lvwLinks.width() - in.listChromeWidth;
    out.urlColumnWidth = std::max(0, (listWidth - in.column1Width - in.column2Width) / 2);
    return out;
}

} // namespace Shell
