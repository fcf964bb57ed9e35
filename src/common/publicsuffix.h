#pragma once

#include <QString>

namespace Common {

// The registrable domain of a host: its public suffix and the one label before it ("www.shop.example.co.uk"
// -> "example.co.uk"), from the system's public-suffix list, or the list built into libpsl when the system
// has none or an older one. Lower case, names with non-ASCII labels as punycode, a trailing dot dropped.
// A host with no registrable part (an IP address, "localhost", a bare suffix such as "co.uk") is a site on
// its own and comes back whole, normalised the same way. Empty for an empty host or one that is no valid
// name. Safe from any thread: the list is read once and never changed.
QString registrableDomain(const QString& host);

// The site of a link or a page: the registrable domain of the address's host. An address without a scheme
// is read as http, as the run loads it; anything but http(s) has no site (empty).
QString siteOf(const QString& address);

} // namespace Common
