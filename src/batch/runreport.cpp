#include "batch/runreport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent>

#include "batch/batchrun.h"
#include "batch/pageword.h"
#include "common/csv.h"
#include "common/paths.h"
#include "imaging/imagefile.h"

namespace Batch {

namespace {

    // The records were written as their links ended; the words of those found parked later are put
    // right in a copy that then takes the report's place, so a failure leaves the report as it was.
    // Runs on a worker thread: it touches nothing but the file.
    QString amendParked(const QString& path, const QSet<qint32>& parkedLater)
    {
        QFile report(path);
        if (!report.open(QIODevice::ReadOnly))
            return QStringLiteral("Cannot amend the run report %1: %2").arg(path, report.errorString());
        const QStringList names = RunReport::columns();
        const int lineColumn = int(names.indexOf(QStringLiteral("line")));
        const int pageColumn = int(names.indexOf(QStringLiteral("page")));
        Common::CsvReader reader(report);
        QByteArray amended;
        amended.reserve(report.size() + parkedLater.size() * 8);
        bool header = true;
        while (std::optional<QStringList> fields = reader.next()) {
            if (!header && fields->size() > pageColumn && parkedLater.contains(fields->at(lineColumn).toInt()))
                (*fields)[pageColumn] = PageWord::Parked;
            header = false;
            amended += Common::csvRecord(*fields);
        }
        const Common::Status written = Imaging::writeFileAtomically(path, amended);
        return written ? QString() : written.error().message;
    }

} // namespace

RunReport::RunReport(BatchRun& run, QString reportsFolder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(reportsFolder))
{
    connect(&run, &BatchRun::started, this, &RunReport::open);
    connect(&run, &BatchRun::linkEnded, this, &RunReport::append);
    connect(&run, &BatchRun::pageFoundParked, this, [this](qint32 line) { m_parkedLater.insert(line); });
    connect(&run, &BatchRun::finished, this, &RunReport::close);
}

RunReport::~RunReport()
{
    // The program may be closing: the report is left whole, not half amended.
    m_amending.waitForFinished();
}

QStringList RunReport::columns()
{
    return { QStringLiteral("line"), QStringLiteral("id"), QStringLiteral("url"), QStringLiteral("outcome"),
        QStringLiteral("status_text"), QStringLiteral("http_status"), QStringLiteral("final_url"),
        QStringLiteral("title"), QStringLiteral("elapsed_ms"), QStringLiteral("page"), QStringLiteral("seconds"),
        QStringLiteral("since"), QStringLiteral("change"), QStringLiteral("last_worked") };
}

QString RunReport::reportDate(qint64 seconds)
{
    return seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate) : QString();
}

QString RunReport::newReportPath(const QString& folder, const QDateTime& when)
{
    const QString stem
        = QDir(folder).filePath(QStringLiteral("run-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = stem + QStringLiteral(".csv");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".csv");
    return path;
}

QByteArray RunReport::record(const LinkOutcome& link)
{
    const Capture::PageFacts& page = link.page;
    return Common::csvRecord({ QString::number(link.line), link.id, link.url, link.outcome, link.statusText,
        page.httpStatus > 0 ? QString::number(page.httpStatus) : QString(), page.finalUrl, page.title,
        QString::number(page.elapsedMs), link.pageWord,
        link.spentMs >= 0 ? QString::number(double(link.spentMs) / 1000.0, 'f', 1) : QString(), reportDate(link.since),
        link.change, reportDate(link.lastWorked) });
}

void RunReport::open()
{
    close();
    m_error.clear();
    if (const Common::Status folder = Common::EnsureFolder(m_folder); !folder) {
        m_error = folder.error().message;
        Q_EMIT reportFailed(m_error);
        return;
    }
    m_path = newReportPath(m_folder, QDateTime::currentDateTime());
    m_file = std::make_unique<QFile>(m_path);
    // Unbuffered: every record goes to the file as it is written.
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("Cannot create the run report %1: %2").arg(m_path, m_file->errorString());
        m_file.reset();
        Q_EMIT reportFailed(m_error);
        return;
    }
    write(Common::csvRecord(columns()));
}

void RunReport::append(const LinkOutcome& link)
{
    if (m_file)
        write(record(link));
}

void RunReport::write(const QByteArray& bytes)
{
    const qint64 whole = m_file->pos();
    if (m_file->write(bytes) == bytes.size())
        return;
    m_error = QStringLiteral("Cannot write the run report %1: %2").arg(m_path, m_file->errorString());
    // What was written stays, in whole records: a reader must not take half a record for a link.
    m_file->resize(whole);
    m_file.reset();
    m_parkedLater.clear();
    Q_EMIT reportFailed(m_error);
}

void RunReport::close()
{
    if (!m_file)
        return;
    m_file.reset();
    if (m_parkedLater.isEmpty()) {
        Q_EMIT reportWritten(m_path);
        return;
    }
    // A run that starts before the rewrite ends writes a file of its own; this one keeps its name.
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path = m_path] {
        watcher->deleteLater();
        if (const QString failed = watcher->result(); !failed.isEmpty()) {
            m_error = failed;
            Q_EMIT reportFailed(m_error);
        }
        Q_EMIT reportWritten(path);
    });
    m_amending = QtConcurrent::run(amendParked, m_path, std::exchange(m_parkedLater, {}));
    watcher->setFuture(m_amending);
}

} // namespace Batch
