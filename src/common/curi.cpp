#include "common/curi.h"

#include <QStringView>

namespace Common {

namespace {

    // Positions are 1-based and 0 means "not found", which keeps the arithmetic of the parsing rules
    // readable; `from` is the 1-based position where the search starts.
    qsizetype find(const QString& text, QStringView needle, qsizetype from = 1)
    {
        const qsizetype at = text.indexOf(needle, std::max<qsizetype>(from, 1) - 1);
        return at < 0 ? 0 : at + 1;
    }

    // Characters first..last, 1-based and inclusive; empty when the range is empty.
    QString span(const QString& text, qsizetype first, qsizetype last)
    {
        if (last < first)
            return {};
        return text.mid(first - 1, last - first + 1);
    }

    QString schemeOf(const QString& address)
    {
        const qsizetype slash = find(address, u"/");
        const qsizetype colon = find(address, u":");
        if ((slash == 0 && colon == 0) || (slash >= 1 && slash <= colon + 1)) {
            const qsizetype marker = find(address, u"://");
            if (marker >= 1 && marker <= slash - 1)
                return address.left(marker - 1);
            return QStringLiteral("http");
        }
        // A colon before the first slash belongs to the scheme only when what precedes it cannot be a
        // host name ("example.com:8080") or user information ("user@host:1").
        const QString head = address.left(colon);
        if (colon >= 1 && !head.contains(QLatin1Char('.')) && !head.contains(QLatin1Char('@')))
            return address.left(colon - 1);
        return QStringLiteral("http");
    }

    QString afterFirstAt(const QString& authority)
    {
        const qsizetype at = authority.indexOf(QLatin1Char('@'));
        return at < 0 ? authority : authority.mid(at + 1);
    }

    // A port text counts when it is all digits and fits a port number.
    int portFrom(const QString& text)
    {
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.size() > 5)
            return 0;
        for (const QChar ch : trimmed) {
            if (!ch.isDigit() || ch.unicode() > '9')
                return 0;
        }
        const int value = trimmed.toInt();
        return value <= 65535 ? value : 0;
    }

} // namespace

void cURI::setURI(const QString& address)
{
    if (address.isEmpty())
        return;

    m_uri = address;
    QString text = address;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype length = text.size();

    m_protocol = schemeOf(text);

    // The authority search starts right after the scheme; a scheme of length 0 starts it at the first
    // character rather than before the text.
    const qsizetype schemeLength = m_protocol.size();
    const qsizetype searchFrom = std::max<qsizetype>(schemeLength, 1);
    qsizetype width = -schemeLength;
    if (find(text, u"://", searchFrom) == schemeLength + 1)
        width = 3;
    else if (find(text, u":", searchFrom) == schemeLength + 1)
        width = 1;
    const qsizetype start = schemeLength + width;
    qsizetype end = find(text, u"/", start + 1);
    if (end == 0)
        end = length + 1;
    const QString authority = span(text, start + 1, end - 1);

    QString host = afterFirstAt(authority);
    const qsizetype hostColon = host.indexOf(QLatin1Char(':'));
    if (hostColon >= 0)
        host.truncate(hostColon);
    m_host = host;

    m_username.clear();
    m_password.clear();
    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
        m_username = colon < 0 ? userInfo : userInfo.left(colon);
        m_password = colon < 0 ? QString() : userInfo.mid(colon + 1);
    }

    const QString path = end <= length ? text.mid(end - 1) : QStringLiteral("/");
    const qsizetype question = path.indexOf(QLatin1Char('?'));
    m_resource = question < 0 ? path : path.left(question);

    m_port = 0;
    const QString hostAndPort = afterFirstAt(authority);
    const qsizetype portColon = hostAndPort.indexOf(QLatin1Char(':'));
    if (portColon >= 0)
        m_port = portFrom(hostAndPort.mid(portColon + 1));
    if (m_port == 0)
        m_port = DefaultPortFor(m_protocol);

    m_queryString = question < 0 ? QString() : path.mid(question + 1);
    m_initialized = true;
}

QString cURI::FullResource() const
{
    if (m_queryString.isEmpty())
        return m_resource;
    return m_resource + QLatin1Char('?') + m_queryString;
}

int cURI::DefaultPortFor(const QString& scheme)
{
    if (scheme == QLatin1String("http"))
        return 80;
    if (scheme == QLatin1String("https"))
        return 443;
    if (scheme == QLatin1String("ftp"))
        return 21;
    if (scheme == QLatin1String("telnet"))
        return 23;
    if (scheme == QLatin1String("finger"))
        return 79;
    if (scheme == QLatin1String("irc"))
        return 6667;
    return 0;
}

std::optional<QString> webAddress(const QString& address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    cURI uri;
    uri.setURI(trimmed);
    // cURI reads a missing scheme as http without saying so; only a scheme written out in the text
    // decides, so "localhost:8080" names the scheme "localhost" and is refused like "file:" or "mailto:".
    const QString scheme = uri.Protocol();
    if (!trimmed.startsWith(scheme + QLatin1Char(':')))
        return QStringLiteral("http://") + trimmed;
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        || scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return trimmed;
    return std::nullopt;
}

} // namespace Common
