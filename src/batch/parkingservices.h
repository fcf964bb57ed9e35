#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace Batch {

// The domains of the services that park domain names or sell them: a page that ends on one of them, or
// on any subdomain of one, is a parked domain's page. The program ships a list (FileName among its
// shipped files) and a user extends it with a file of the same name in the program's data/ folder. A
// plain value, read once per run and then only asked.
class ParkingServices final {
public:
    static const QString FileName;

    // Reads the files in turn, skipping one that is missing or unreadable. Each line names one domain;
    // "#" starts a comment; a line that names no domain is skipped.
    static ParkingServices fromFiles(const QStringList& files);
    // The shipped list in resourcesFolder and the user's in programFolder's data/ folder.
    static ParkingServices forProgram(const QString& programFolder, const QString& resourcesFolder);

    // False, and nothing added, when the text is not a domain name with at least two labels.
    bool addDomain(const QString& domain);
    // True when the host (any case, Unicode or punycode) is a listed domain or a subdomain of one.
    bool contains(const QString& host) const;
    qsizetype size() const { return m_domains.size(); }

private:
    QSet<QString> m_domains;
};

} // namespace Batch
