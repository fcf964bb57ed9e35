#pragma once

#include <optional>

#include <QString>

namespace Common {

// A lenient web-address parser: it never rejects an address, it only takes it apart. Addresses
// without a scheme, with backslashes for slashes and with user information are all accepted; an
// unusual address yields unusual parts. Every property is set together when an address is assigned.
class cURI final {
public:
    bool Initialized() const { return m_initialized; }
    QString URI() const { return m_uri; }
    // Assigning an empty text changes nothing.
    void setURI(const QString& address);

    QString Protocol() const { return m_protocol; }
    QString Host() const { return m_host; }
    // The explicit port, else the scheme's well-known port, else 0.
    int Port() const { return m_port; }
    QString Resource() const { return m_resource; }
    QString FullResource() const;
    QString QueryString() const { return m_queryString; }
    QString Username() const { return m_username; }
    QString Password() const { return m_password; }

    // The well-known port of a scheme, compared in exact lower case; 0 for any other.
    static int DefaultPortFor(const QString& scheme);

private:
    bool m_initialized = false;
    QString m_uri;
    QString m_protocol;
    QString m_host;
    int m_port = 0;
    QString m_resource;
    QString m_queryString;
    QString m_username;
    QString m_password;
};

// The address to load for a link, or nothing when it is not a web address.
std::optional<QString> webAddress(const QString& address);

} // namespace Common
