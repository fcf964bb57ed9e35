#include "batch/runreport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "batch/batchrun.h"
#include "batch/pageword.h"
#include "common/csv.h"
#include "common/paths.h"
#include "imaging/imagefile.h"

namespace Batch {

RunReport::RunReport(BatchRun& run, QString reportsFolder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(reportsFolder))
{
    connect(&run, &BatchRun::started, this, &RunReport::open);
    connect(&run, &BatchRun::linkEnded, this, &RunReport::append);
    connect(&run, &BatchRun::pageFoundParked, this, [this](qint32 line) { m_parkedLater.insert(line); });
    connect(&run, &BatchRun::finished, this, &RunReport::close);
}

RunReport::~RunReport() = default;

QStringList RunReport::columns()
{
    return { QStringLiteral("line"), QStringLiteral("id"), QStringLiteral("url"), QStringLiteral("outcome"),
        QStringLiteral("status_text"), QStringLiteral("http_status"), QStringLiteral("final_url"),
        QStringLiteral("title"), QStringLiteral("elapsed_ms"), QStringLiteral("page") };
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
        QString::number(page.elapsedMs), link.pageWord });
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
    if (m_file->write(bytes) == bytes.size())
        return;
    m_error = QStringLiteral("Cannot write the run report %1: %2").arg(m_path, m_file->errorString());
    m_file.reset();
    Q_EMIT reportFailed(m_error);
}

void RunReport::close()
{
    if (!m_file)
        return;
    m_file.reset();
    if (!m_parkedLater.isEmpty()) {
        if (const Common::Status amended = amendParked(); !amended) {
            m_error = amended.error().message;
            Q_EMIT reportFailed(m_error);
        }
    }
    m_parkedLater.clear();
    Q_EMIT reportWritten(m_path);
}

Common::Status RunReport::amendParked() const
{
    // The records were written as their links ended; the words of those found parked later are put
    // right in a copy that then takes the report's place, so a failure leaves the report as it was.
    QFile report(m_path);
    if (!report.open(QIODevice::ReadOnly))
        return Common::Error { 0, QStringLiteral("RunReport"),
            QStringLiteral("Cannot amend the run report %1: %2").arg(m_path, report.errorString()) };
    const int lineColumn = int(columns().indexOf(QStringLiteral("line")));
    const int pageColumn = int(columns().indexOf(QStringLiteral("page")));
    Common::CsvReader reader(report);
    QByteArray amended;
    bool header = true;
    while (std::optional<QStringList> fields = reader.next()) {
        if (!header && fields->size() > pageColumn && m_parkedLater.contains(fields->at(lineColumn).toInt()))
            (*fields)[pageColumn] = PageWord::Parked;
        header = false;
        amended += Common::csvRecord(*fields);
    }
    return Imaging::writeFileAtomically(m_path, amended);
}

} // namespace Batch
