#include "batch/retryfile.h"

#include <cstdio>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "batch/appfolders.h"
#include "batch/linereader.h"
#include "batch/linksdatabase.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "common/result.h"
#include "common/retrystep.h"

namespace Batch {

namespace {

    Common::Error fileError(const QString& what, const QString& path, const QString& reason)
    {
        return { 0, QStringLiteral("CreateRetryFile"), QStringLiteral("%1 '%2': %3").arg(what, path, reason) };
    }

    Common::Status writeRemainingLinks(const QString& database, const QString& temp, const QString& imagesFolder,
        int imageType, const std::function<void(int)>& progress)
    {
        LineReader reader;
        if (Common::Status opened = reader.open(database); !opened)
            return opened;
        QFile out(temp);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fileError(QStringLiteral("Cannot write"), temp, out.errorString());

        const Common::Result<qint64> total = LineReader::countLines(database);
        if (!total)
            return total.error();
        qint64 counter = 0;
        while (std::optional<QByteArray> line = reader.readRawLine()) {
            const LinkRecord record = LinkRecord::fromLine(QString::fromUtf8(*line));
            // A link whose ID cannot name a file never has a thumbnail: it stays.
            const std::optional<QString> thumbnail = thumbnailFileName(imagesFolder, record.id, imageType);
            if (!thumbnail || !Common::FileExists(*thumbnail)) {
                if (out.write(*line) != line->size() || out.write("\r\n", 2) != 2)
                    return fileError(QStringLiteral("Cannot write"), temp, out.errorString());
            }
            ++counter;
            if (counter % 10 == 0 && total.value() > 0 && progress) {
                const auto percent = Common::roundHalfEven(static_cast<double>(counter) / total.value() * 100.0);
                if (percent > 0)
                    progress(static_cast<int>(std::min<qint64>(percent, 100)));
            }
        }
        if (const std::optional<Common::Error> failed = reader.error())
            return *failed;
        // The rename below must never publish a file whose contents are still in flight.
        if (!out.flush() || ::fsync(out.handle()) != 0)
            return fileError(QStringLiteral("Cannot write"), temp, out.errorString());
        out.close();
        return Common::success();
    }

    Common::Status replaceDatabase(const QString& temp, const QString& database)
    {
        if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(database).constData()) != 0)
            return fileError(QStringLiteral("Cannot rename"), temp, QString::fromLocal8Bit(std::strerror(errno)));
        return Common::success();
    }

} // namespace

QString retryTempFile(const QString& linksInfoFile)
{
    return QFileInfo(linksInfoFile).absolutePath() + QStringLiteral("/LinksInfo.temp.txt");
}

bool CreateRetryFile(const QString& linksInfoFile, const QString& imagesFolder, int imageType,
    Common::MessageBox& boxes, const std::function<void(int percent)>& progress)
{
    const QString temp = retryTempFile(linksInfoFile);
    const std::function<Common::Status()> steps[] = {
        [&] { return writeRemainingLinks(linksInfoFile, temp, imagesFolder, imageType, progress); },
        [&] { return replaceDatabase(temp, linksInfoFile); },
    };
    for (const auto& step : steps) {
        if (!Common::runWithRetry(boxes, QStringLiteral("Error"), step)) {
            QFile::remove(temp);
            return false;
        }
    }
    return true;
}

} // namespace Batch
