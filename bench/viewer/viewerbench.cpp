// The thumbnail viewer's benchmark: the real window over a folder of many small JPEG thumbnails, timed
// from outside the viewer's own code.
//
//   viewerbench [--folder DIR] [--files 100000] [--page-size 500] [--pages 20]
//
// The folder is filled with 120 x 90 JPEG files on the first use and reused afterwards. Prints one JSON
// line per measurement: the time from show() to the first page (its rows and page position on screen,
// then every thumbnail decoded), the same for later pages, the longest stall of the event loop, and
// the process's resident memory after each page.

#include <algorithm>
#include <atomic>
#include <functional>
#include <numeric>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSignalSpy>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QtConcurrent>

#include "common/folderfiles.h"
#include "common/messagebox.h"
#include "common/thumbnailmodel.h"
#include "settings/livesettings.h"
#include "viewer/thumbnailbrowser.h"
#include "viewer/widgets/frmviewer.h"

#include "../support/benchprobes.h"

namespace {

using BenchProbes::residentKiB;
using BenchProbes::SilentBoxes;
using BenchProbes::StallProbe;

void fillFolder(const QString& folder, int files)
{
    QDir().mkpath(folder);
    if (Common::countListedFiles(Common::ListFolderFiles(folder)) >= files)
        return;
    QElapsedTimer clock;
    clock.start();
    std::atomic<int> failures = 0;
    QList<int> numbers(files);
    std::iota(numbers.begin(), numbers.end(), 1);
    QtConcurrent::blockingMap(numbers, [&folder, &failures](int number) {
        QImage image(120, 90, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(number * 7 % 360, 160, 230));
        QPainter painter(&image);
        painter.fillRect(10 + number % 50, 10, 40, 30, QColor::fromHsv(number * 13 % 360, 255, 120));
        painter.end();
        if (!image.save(folder + QStringLiteral("/%1.jpg").arg(number, 6, 10, QLatin1Char('0')), "JPG", 85))
            ++failures;
    });
    QTextStream(stderr) << "generated " << files << " files in " << clock.elapsed() << " ms, " << failures.load()
                        << " failures\n";
}

void print(const QJsonObject& result)
{
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << Qt::endl;
}

// Times one page: until its rows and position are on screen, then until its thumbnails are decoded.
QJsonObject timePage(Viewer::frmViewer& window, StallProbe& probe, const std::function<void()>& go)
{
    Viewer::ThumbnailBrowser& browser = window.browser();
    QSignalSpy positioned(&browser, &Viewer::ThumbnailBrowser::pagePositionChanged);
    QSignalSpy shown(&browser, &Viewer::ThumbnailBrowser::pageShown);
    probe.takeLongestMs();
    QElapsedTimer clock;
    clock.start();
    go();
    if (positioned.isEmpty())
        positioned.wait(60000);
    const double listedMs = clock.nsecsElapsed() / 1e6;
    if (shown.isEmpty())
        shown.wait(60000);
    const double decodedMs = clock.nsecsElapsed() / 1e6;
    return { { QStringLiteral("page"), browser.CurrentPage() }, { QStringLiteral("rows_ms"), listedMs },
        { QStringLiteral("thumbnails_ms"), decodedMs }, { QStringLiteral("rows"), browser.model().rowCount() },
        { QStringLiteral("longest_stall_ms"), probe.takeLongestMs() }, { QStringLiteral("rss_kib"), residentKiB() } };
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("folder"), QStringLiteral("Folder of thumbnails (made when missing)."),
        QStringLiteral("dir"), QDir::tempPath() + QStringLiteral("/pictavo-viewer-bench") });
    parser.addOption({ QStringLiteral("files"), QStringLiteral("Files in the folder."), QStringLiteral("n"),
        QStringLiteral("100000") });
    parser.addOption({ QStringLiteral("page-size"), QStringLiteral("Images per page."), QStringLiteral("n"),
        QStringLiteral("500") });
    parser.addOption({ QStringLiteral("pages"), QStringLiteral("Pages to step through after the first."),
        QStringLiteral("n"), QStringLiteral("20") });
    parser.process(app);
    const QString folder = parser.value(QStringLiteral("folder"));
    fillFolder(folder, parser.value(QStringLiteral("files")).toInt());

    Settings::LiveSettings settings;
    settings.ViewerFolder = folder;
    settings.ViewerPageSize = parser.value(QStringLiteral("page-size")).toInt();
    SilentBoxes boxes;
    StallProbe probe;
    probe.start();
    const qint64 rssBefore = residentKiB();
    Viewer::frmViewer window({ settings, boxes, nullptr, folder });
    window.resize(1200, 800);
    const auto press = [&window](const char* key) {
        return [&window, key] { window.findChild<QAction*>(QString::fromLatin1(key))->trigger(); };
    };

    QJsonObject first = timePage(window, probe, [&window] { window.show(); });
    first.insert(QStringLiteral("measure"), QStringLiteral("first page"));
    first.insert(QStringLiteral("files"), window.browser().FileCount());
    first.insert(QStringLiteral("rss_before_kib"), rssBefore);
    print(first);

    QJsonArray later;
    double worstRows = 0;
    double worstThumbnails = 0;
    qint64 worstStall = 0;
    qint64 maxRss = 0;
    const int pages = parser.value(QStringLiteral("pages")).toInt();
    for (int i = 0; i < pages; ++i) {
        const QJsonObject page = timePage(window, probe, press("NextPage"));
        worstRows = std::max(worstRows, page.value(QStringLiteral("rows_ms")).toDouble());
        worstThumbnails = std::max(worstThumbnails, page.value(QStringLiteral("thumbnails_ms")).toDouble());
        worstStall = std::max(worstStall, qint64(page.value(QStringLiteral("longest_stall_ms")).toInteger()));
        maxRss = std::max(maxRss, qint64(page.value(QStringLiteral("rss_kib")).toInteger()));
        later.append(page);
    }
    print({ { QStringLiteral("measure"), QStringLiteral("next pages") }, { QStringLiteral("pages"), pages },
        { QStringLiteral("worst_rows_ms"), worstRows }, { QStringLiteral("worst_thumbnails_ms"), worstThumbnails },
        { QStringLiteral("worst_stall_ms"), worstStall }, { QStringLiteral("max_rss_kib"), maxRss },
        { QStringLiteral("each"), later } });

    // The user hammers Next while pages are still decoding; only the last page's thumbnails are made.
    QJsonObject hurried = timePage(window, probe, [&window, press] {
        for (int i = 0; i < 5; ++i)
            press("NextPage")();
    });
    hurried.insert(QStringLiteral("measure"), QStringLiteral("five Next presses at once"));
    print(hurried);
    QJsonObject last = timePage(window, probe, press("LastPage"));
    last.insert(QStringLiteral("measure"), QStringLiteral("last page"));
    print(last);
    return 0;
}
