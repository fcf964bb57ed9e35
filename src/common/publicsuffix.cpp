#include "common/publicsuffix.h"

#include <memory>

#include <QHostAddress>
#include <QUrl>

#include <libpsl.h>

#include "common/curi.h"

namespace Common {

namespace {

    struct PslFree {
        void operator()(psl_ctx_t* context) const { psl_free(context); }
    };

    // psl_latest() takes whichever is newer of the system's list (kept current by the publicsuffix
    // package) and the built-in one, so an old build still follows new suffixes after a system update.
    // The context is immutable once loaded, which makes lookups safe from the run's worker threads.
    const psl_ctx_t* suffixList()
    {
        static const std::unique_ptr<psl_ctx_t, PslFree> context(psl_latest(nullptr));
        return context ? context.get() : psl_builtin();
    }

} // namespace

QString registrableDomain(const QString& host)
{
    QString name = host.trimmed().toLower();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty())
        return {};
    // libpsl would read the last two numbers of an IPv4 address as a domain.
    if (QHostAddress address; address.setAddress(name))
        return address.toString();
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty())
        return {};
    const char* domain = psl_registrable_domain(suffixList(), ace.constData());
    return QString::fromLatin1(domain ? domain : ace.constData());
}

QString siteOf(const QString& address)
{
    const std::optional<QString> loaded = webAddress(address);
    if (!loaded)
        return {};
    return registrableDomain(QUrl(*loaded).host(QUrl::EncodeUnicode));
}

} // namespace Common
