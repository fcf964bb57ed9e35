// Draws the thumbnail browser as a user sees it, for the documentation:
//
//   QT_QPA_PLATFORM=offscreen pictavo-viewershot FOLDER OUTPUT.png
//
// An empty FOLDER is first filled with made-up page thumbnails named like link IDs.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QListView>
#include <QPainter>
#include <QSignalSpy>
#include <QTextStream>
#include <QTimer>

#include "common/messagebox.h"
#include "common/thumbnailmodel.h"
#include "settings/livesettings.h"
#include "viewer/thumbnailbrowser.h"
#include "viewer/widgets/frmviewer.h"

namespace {

class NoBoxes final : public Common::MessageBox {
public:
    Answer ask(const QString& text, const QString&, Icon, Buttons) override
    {
        QTextStream(stderr) << text << '\n';
        return Answer::Cancel;
    }
};

// A web page in miniature: a coloured header, a picture block and lines of text.
void drawPage(const QString& path, int number)
{
    QImage page(480, 360, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    const QColor accent = QColor::fromHsv(number * 47 % 360, 170, 200);
    painter.fillRect(0, 0, 480, 56, accent);
    painter.fillRect(24, 16, 120, 24, accent.lighter(160));
    for (int i = 0; i < 4; ++i)
        painter.fillRect(250 + i * 56, 22, 44, 12, Qt::white);
    const bool pictureLeft = number % 2 == 0;
    painter.fillRect(pictureLeft ? 24 : 264, 80, 192, 130, accent.darker(130));
    painter.setBrush(accent.lighter(130));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(pictureLeft ? 120 : 360, 145), 40, 40);
    for (int line = 0; line < 9; ++line) {
        const int x = pictureLeft ? 240 : 24;
        const int width = 200 - (line * 37 + number * 11) % 70;
        painter.fillRect(x, 86 + line * 14, width, 7, QColor(0x88, 0x88, 0x88));
    }
    for (int line = 0; line < 8; ++line)
        painter.fillRect(24, 232 + line * 14, 432 - (line * 53 + number) % 120, 7, QColor(0xAA, 0xAA, 0xAA));
    painter.end();
    page.scaled(120, 90, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(path, "JPG", 90);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        QTextStream(stderr) << "usage: pictavo-viewershot FOLDER OUTPUT.png\n";
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(folder);
    if (QDir(folder).isEmpty()) {
        for (int i = 0; i < 1240; ++i)
            drawPage(folder + QStringLiteral("/%1.jpg").arg(1001 + i), i);
    }

    Settings::LiveSettings settings;
    settings.ViewerFolder = folder;
    settings.ViewerPageSize = 500;
    NoBoxes boxes;
    Viewer::frmViewer window({ settings, boxes, nullptr, folder });
    window.resize(1100, 720);
    QSignalSpy shown(&window.browser(), &Viewer::ThumbnailBrowser::pageShown);
    window.show();
    if (!shown.wait(30000))
        return 1;
    auto* shots = window.findChild<QListView*>(QStringLiteral("Shots"));
    for (const int row : { 7, 8 })
        shots->selectionModel()->select(shots->model()->index(row, 0), QItemSelectionModel::Select);
    window.browser().showPreview(shots->model()->index(7, 0).data(Common::ThumbnailModel::FilePathRole).toString());
    QSignalSpy preview(&window.browser(), &Viewer::ThumbnailBrowser::previewChanged);
    preview.wait(5000);
    // One more turn of the event loop lets the view lay out and paint what just changed.
    QTimer::singleShot(200, &app, &QApplication::quit);
    QApplication::exec();
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
