#include "batch/parkingservices.h"

#include <QFile>
#include <QHostAddress>
#include <QUrl>

#include "batch/appfolders.h"
#include "common/paths.h"

namespace Batch {

namespace {

    // Lower-case ASCII (punycode for other scripts), without a trailing dot; empty when the text cannot
    // name a host.
    QString normalisedHost(const QString& text)
    {
        QString name = text.trimmed().toLower();
        while (name.endsWith(QLatin1Char('.')))
            name.chop(1);
        return name.isEmpty() ? QString() : QString::fromLatin1(QUrl::toAce(name));
    }

    bool isDomainName(const QString& name)
    {
        if (!name.contains(QLatin1Char('.'))
            || QHostAddress(name).protocol() != QAbstractSocket::UnknownNetworkLayerProtocol)
            return false;
        for (const QStringView label : QStringView(name).split(QLatin1Char('.'))) {
            if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
                return false;
            for (const QChar c : label) {
                if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('-')))
                    return false;
            }
        }
        return true;
    }

} // namespace

const QString ParkingServices::FileName = QStringLiteral("parking-services.txt");

ParkingServices ParkingServices::fromFiles(const QStringList& files)
{
    ParkingServices services;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!file.atEnd()) {
            QString line = QString::fromUtf8(file.readLine());
            const qsizetype comment = line.indexOf(QLatin1Char('#'));
            if (comment >= 0)
                line.truncate(comment);
            if (!line.trimmed().isEmpty())
                services.addDomain(line);
        }
    }
    return services;
}

ParkingServices ParkingServices::forProgram(const QString& programFolder, const QString& resourcesFolder)
{
    return fromFiles({ Common::AddBackslash(resourcesFolder) + FileName,
        Common::AddBackslash(AppFolders(Common::AddBackslash(programFolder)).data) + FileName });
}

bool ParkingServices::addDomain(const QString& domain)
{
    const QString name = normalisedHost(domain);
    if (!isDomainName(name))
        return false;
    m_domains.insert(name);
    return true;
}

bool ParkingServices::contains(const QString& host) const
{
    const QString name = normalisedHost(host);
    for (qsizetype from = 0; !name.isEmpty(); ++from) {
        if (m_domains.contains(name.mid(from)))
            return true;
        from = name.indexOf(QLatin1Char('.'), from);
        if (from < 0)
            return false;
    }
    return false;
}

} // namespace Batch
