#include "batch/linkclassifier.h"

#include "batch/appfolders.h"
#include "common/curi.h"
#include "common/numbers.h"
#include "common/paths.h"

namespace Batch {

LinkClassifier::LinkClassifier(const QString& ignoreFiles, bool skipExisting, QString imagesFolder, int imageType)
    : m_ignoreList(ignoreFiles.split(QLatin1Char(',')))
    , m_skipExisting(skipExisting)
    , m_imagesFolder(std::move(imagesFolder))
    , m_imageType(imageType)
{
}

LinkVerdict LinkClassifier::classify(const QString& id, const QString& url) const
{
    const QString lower = url.toLower();
    Common::cURI uri;
    uri.setURI(url);
    if (url.isEmpty() || lower == QLatin1String("www.") || lower == QLatin1String("http://www.")
        || lower == QLatin1String("http://") || uri.Host().isEmpty())
        return { LinkVerdict::Kind::Skipped, QStringLiteral("Skipped..."), QColor(0xD5, 0xD5, 0x00), false };

    // Only the last four characters are compared, exactly: so only four-character lower-case entries
    // (".zip", ".exe") can ever match.
    const QString tail = lower.right(4);
    for (const QString& entry : m_ignoreList) {
        if (tail == entry)
            return { LinkVerdict::Kind::Ignored, QStringLiteral("Ignored...(") + entry + QLatin1Char(')'),
                QColor(0x6F, 0x6F, 0x00), false };
    }

    if (const std::optional<QString> problem = linkIdProblem(id))
        return { LinkVerdict::Kind::BadId, QStringLiteral("Not captured: ") + *problem, QColor(0xFF, 0x00, 0x00),
            false };

    if (m_skipExisting && Common::FileExists(*thumbnailFileName(m_imagesFolder, id, m_imageType)))
        return { LinkVerdict::Kind::Exists, QStringLiteral("Snapshot Exists"), QColor(0x00, 0x66, 0x99), true };

    return {};
}

qint32 runPercentage(qint32 done, qint32 selected)
{
    if (selected <= 0)
        return 0;
    const qint64 percent = Common::roundHalfEven(static_cast<double>(done) / selected * 100.0);
    return static_cast<qint32>(std::clamp<qint64>(percent, 0, 100));
}

} // namespace Batch
