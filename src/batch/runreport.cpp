#include "batch/runreport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "batch/batchrun.h"
#include "common/csv.h"
#include "common/paths.h"

namespace Batch {

RunReport::RunReport(BatchRun& run, QString reportsFolder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(reportsFolder))
{
    connect(&run, &BatchRun::started, this, &RunReport::open);
    connect(&run, &BatchRun::linkEnded, this, &RunReport::append);
    connect(&run, &BatchRun::finished, this, &RunReport::close);
}

RunReport::~RunReport() = default;

QStringList RunReport::columns()
{
    return { QStringLiteral("line"), QStringLiteral("id"), QStringLiteral("url"), QStringLiteral("outcome"),
        QStringLiteral("status_text"), QStringLiteral("http_status"), QStringLiteral("final_url"),
        QStringLiteral("title"), QStringLiteral("elapsed_ms") };
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
        QString::number(page.elapsedMs) });
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
    Q_EMIT reportWritten(m_path);
}

} // namespace Batch
