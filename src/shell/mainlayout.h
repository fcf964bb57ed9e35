#pragma once

#include <QRect>
#include <QSize>

namespace Shell {

// The main window's arrangement, in twips: a fixed top panel, then the links list and the thumbnail
// strip sharing the free height half and half, then a fixed statistics panel.
struct MainLayoutInput {
    QSize outer; // the window's outer size
    QSize inner; // the client area's size
    int toolbarTop = 0;
    int toolbarHeight = 0;
    int picTopHeight = 0;
    int picStatsHeight = 0;
    int statusBarHeight = 0;
    int listChromeWidth = 0; // what the list's frame and vertical scroll bar take of its width
    int column1Width = 0; // "#"
    int column2Width = 0; // "ID"
};

struct MainLayout {
    QRect picTop;
    QRect lvwLinks;
    QRect Thumbnails;
    QRect picStats;
    // Width of each of the "URL" and "Status" columns; only applied once start-up has finished.
    int urlColumnWidth = 0;
};

inline constexpr int MinimumOuterTwips = 6000;

// The smallest outer size the window may have; a minimised window is not resized.
QSize clampedOuterSize(QSize outer);

// Places the controls. A rectangle that would get a negative size keeps `previous`, as a failed
// step leaves its control where it was and the next step goes on.
MainLayout arrangeMainWindow(const MainLayoutInput& in, const MainLayout& previous);

} // namespace Shell
