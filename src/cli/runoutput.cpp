#include "cli/runoutput.h"

#include <algorithm>
#include <cmath>

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include "cli/terminalboxes.h"

namespace Cli {

namespace {

    QString duration(double seconds)
    {
        const qint64 whole = std::max<qint64>(0, std::llround(seconds));
        const qint64 hours = whole / 3600;
        const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                              .arg((whole / 60) % 60, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                                              .arg(whole % 60, 2, 10, QLatin1Char('0'));
        return hours > 0 ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
    }

} // namespace

QByteArray linkLine(const Batch::LinkOutcome& link, bool json)
{
    if (json) {
        QJsonObject object { { QStringLiteral("line"), link.line }, { QStringLiteral("id"), link.id },
            { QStringLiteral("outcome"), link.outcome }, { QStringLiteral("status"), link.statusText },
            { QStringLiteral("url"), link.url }, { QStringLiteral("final_url"), link.page.finalUrl },
            { QStringLiteral("title"), link.page.title }, { QStringLiteral("elapsed_ms"), link.page.elapsedMs } };
        object.insert(QStringLiteral("seconds"),
            link.spentMs >= 0 ? QJsonValue(double(link.spentMs) / 1000.0) : QJsonValue(QJsonValue::Null));
        object.insert(QStringLiteral("http_status"),
            link.page.httpStatus > 0 ? QJsonValue(link.page.httpStatus) : QJsonValue(QJsonValue::Null));
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    const QStringList fields { QString::number(link.line), oneLine(link.id), link.outcome, oneLine(link.statusText),
        oneLine(link.url) };
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

void RunTally::add(const Batch::LinkOutcome& link)
{
    ++links;
    ++outcomes[link.outcome];
    if (Batch::isFailure(link.outcome))
        ++failed;
}

QString RunTally::breakdown() const
{
    QList<QPair<QString, int>> counts;
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        counts.append({ it.key(), it.value() });
    std::stable_sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList parts;
    for (const auto& [outcome, count] : counts)
        parts.append(QString::number(count) + QLatin1Char(' ') + outcome);
    return parts.join(QStringLiteral(", "));
}

QString progressLine(const RunTally& tally, int selected, double elapsedSeconds, int width)
{
    const double fraction = selected > 0 ? std::clamp(double(tally.links) / selected, 0.0, 1.0) : 0.0;
    const int filled = static_cast<int>(std::floor(fraction * width));
    QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    QString line = QStringLiteral("[%1] %2/%3, %4 failed").arg(bar).arg(tally.links).arg(selected).arg(tally.failed);
    if (elapsedSeconds > 0.5 && tally.links > 0) {
        const double rate = tally.links / elapsedSeconds;
        line += QStringLiteral(", %1 links/s").arg(rate, 0, 'f', 1);
        if (selected > tally.links)
            line += QStringLiteral(", %1 left").arg(duration((selected - tally.links) / rate));
    }
    return line;
}

} // namespace Cli
