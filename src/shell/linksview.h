#pragma once

#include <QTableView>

namespace Batch {
class LinksListModel;
}

namespace Shell {

// The main window's list of the run's links "lvwLinks": a plain table built for long runs. While it has
// no rows it shows a text over its empty area (how links get there, say); the first row takes it away.
class LinksView final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinksView)

public:
    explicit LinksView(QWidget* parent = nullptr);

    // Shows the run's rows, the number and ID columns at their fixed widths.
    void setLinksModel(Batch::LinksListModel* model);
    // "URL" and "Status" take the same width, in pixels.
    void setSharedColumnsWidth(int width);

    void setPlaceholderText(const QString& text);
    // Scrolls to the newest row at the end of this turn of the event loop, once however many rows came.
    void followNewestRow();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showNewestRow();

    QString m_placeholderText;
    bool m_followPending = false;
};

} // namespace Shell
