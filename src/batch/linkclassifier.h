#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

namespace Batch {

// What the run does with one link before any capture.
struct LinkVerdict final {
    enum class Kind { Capture, Skipped, Ignored, BadId, Exists };
    Kind kind = Kind::Capture;
    QString status; // the row's status text; empty for a link to capture
    QColor color; // the status text's colour
    bool countsAsSuccess = false;
};

// Decides whether a link can be captured: addresses with no host are skipped, downloads whose
// ending is on the ignore list are ignored, a link whose ID cannot name a file is refused, and with
// "Skip Existing" a link whose thumbnail exists counts as done. The ignore list is IgnoreFiles split at every ",",
// entries kept as they are.
class LinkClassifier final {
public:
    LinkClassifier(const QString& ignoreFiles, bool skipExisting, QString imagesFolder, int imageType);

    LinkVerdict classify(const QString& id, const QString& url) const;
    const QStringList& ignoreList() const { return m_ignoreList; }

private:
    QStringList m_ignoreList;
    bool m_skipExisting = false;
    QString m_imagesFolder;
    int m_imageType = 0;
};

// The run's percentage: done / selected * 100, halves to even, capped at 100; 0 for no selection.
qint32 runPercentage(qint32 done, qint32 selected);

} // namespace Batch
