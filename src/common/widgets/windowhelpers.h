#pragma once

#include <QString>

class QLabel;
class QStatusBar;
class QWidget;

namespace Common {

// Centres a window over its owner's inner area, or over the screen without an owner, keeping its
// size. A window that would end up off the top or left edge stays where it is.
void CenterForm(QWidget* window, QWidget* owner = nullptr);

// Gives a window a shape with its corners rounded by `size` pixels and repaints it.
void RoundCorners(QWidget* window, int size);

// Asks for a folder, starting in `startFolder` unless it is empty; "" when the user cancels.
// `root` is where browsing starts when there is no start folder. With `includeFiles` the files of each
// folder are listed too; `editBox` offers a line to type a path (the chooser always has one).
QString BrowseForFolder(const QString& title, const QString& startFolder, const QString& root, bool editBox,
    bool includeFiles, QWidget* owner);

// A window's status bar "sbStatusBar" whose first panel, "sbStatusBarPanel1", carries the progress and
// outcome texts; the panel is handed back through `panel`.
QStatusBar* statusBarWithPanel(QLabel** panel, QWidget* parent = nullptr);

// A right-aligned caption ("Done:") for the value beside it.
QLabel* captionLabel(const QString& text, QWidget* parent);
// A value the user can select and copy, named for the tests and readers of the window.
QLabel* valueLabel(const QString& objectName, const QString& text, QWidget* parent);

} // namespace Common
