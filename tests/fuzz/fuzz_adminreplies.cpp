// Feeds arbitrary replies of the administration script to what reads them: the links count, the login
// check, the "Error #" text, the text display's line endings, the progress texts, and the import that
// streams a reply into the links database and counts it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include <QByteArray>
#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include "admin/adminchannel.h"
#include "admin/adminrequests.h"
#include "admin/formatting.h"
#include "batch/linereader.h"
#include "batch/linksdatabase.h"
#include "common/filesize.h"
#include "fuzzsupport.h"

namespace {

QByteArray consumeBytes(FuzzedDataProvider& input, size_t length)
{
    const std::string bytes = input.ConsumeBytesAsString(length);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

Admin::AdminReply consumeReply(FuzzedDataProvider& input)
{
    Admin::AdminReply reply;
    reply.completed = input.ConsumeBool();
    reply.statusCode = input.ConsumeBool() ? 200 : input.ConsumeIntegral<int>();
    const std::string status = input.ConsumeRandomLengthString(64);
    reply.statusText = QString::fromUtf8(status.data(), qsizetype(status.size()));
    if (input.ConsumeBool())
        reply.body = consumeBytes(input, input.remaining_bytes());
    return reply;
}

void checkCount(const Admin::AdminReply& reply)
{
    const qint32 count = Admin::totalLinksCount(reply);
    FUZZ_CHECK(count >= 0);
    if (count > 0)
        FUZZ_CHECK(reply.completed && reply.statusCode == 200 && reply.body && reply.body->contains("Count="));
    FUZZ_CHECK(!Admin::isLoginAccepted(reply) || (reply.completed && reply.statusCode == 200 && *reply.body == "OK"));
}

// The count the script sends reads back as sent, however the markers and line ends fall around it.
void checkSentCount(qint32 sent, int layout)
{
    static const std::array<const char*, 4> layouts
        = { "Count=%1", " Count=%1\r\n", "Count=Count=%1Count=", "\tCount=%1\n" };
    Admin::AdminReply reply;
    reply.completed = true;
    reply.statusCode = 200;
    reply.body = QString::fromLatin1(layouts[size_t(layout)]).arg(sent).toUtf8();
    FUZZ_CHECK(Admin::totalLinksCount(reply) == sent);
}

void checkFailureText(const Admin::AdminReply& reply)
{
    const QString text = Admin::importFailureText(reply);
    const QString head = QStringLiteral("Error #") + QString::number(reply.statusCode) + QStringLiteral(": ");
    FUZZ_CHECK(text.startsWith(head) && !text.contains(QLatin1Char('\r')));
    FUZZ_CHECK(text.mid(head.size()) == QString(reply.statusText).remove(QLatin1Char('\r')));
}

void checkFormatText(const QString& text)
{
    const QString formatted = Admin::FormatText(text);
    for (qsizetype i = 0; i < formatted.size(); ++i) {
        if (formatted[i] == QLatin1Char('\n'))
            FUZZ_CHECK(i > 0 && formatted[i - 1] == QLatin1Char('\r'));
    }
    FUZZ_CHECK(Admin::FormatText(formatted) == formatted);
    // Only CRs were added, each before an LF.
    FUZZ_CHECK(QString(formatted).replace(QLatin1String("\r\n"), QLatin1String("\n"))
        == QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void checkFileSize(FuzzedDataProvider& input)
{
    static const std::array<QLocale, 4> locales = { QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::Arabic, QLocale::Egypt) };
    static const std::array<const char*, 9> units
        = { " Bytes", " KB", " MB", " GB", " TB", " PB", " EB", " ZB", " YB" };
    const double bytes
        = input.ConsumeBool() ? input.ConsumeFloatingPoint<double>() : double(input.ConsumeIntegral<quint64>());
    const QString text = Common::FormatFileSize(bytes, input.PickValueInArray(locales));
    if (!(bytes >= 1.0)) {
        FUZZ_CHECK(text.isEmpty());
        return;
    }
    FUZZ_CHECK(std::any_of(units.begin(), units.end(), [&text](const char* unit) {
        return text.endsWith(QLatin1String(unit)) && text.size() > qsizetype(std::strlen(unit));
    }));
}

// The import's sink: the reply arrives in pieces of any size, goes into a temporary file beside the database
// and replaces it only for a complete 200 reply; the window then shows the database's count.
void checkImport(const Admin::AdminReply& reply, FuzzedDataProvider& pieces)
{
    static const QString path = []() -> QString {
        const QString folder = FuzzSupport::scratchFolder() + QStringLiteral("/data");
        FUZZ_CHECK(QDir().mkpath(folder));
        return folder + QStringLiteral("/LinksInfo.txt");
    }();
    static const QByteArray before("1|http://kept.example/\r\n2|http://kept.example/b");
    // The database is put back only when the last input replaced it, which spares most inputs a write.
    static bool replacedLast = true;
    if (replacedLast)
        FuzzSupport::writeFile(path, before);

    const QByteArray body = reply.body.value_or(QByteArray());
    auto target = std::make_unique<QSaveFile>(path);
    FUZZ_CHECK(target->open(QIODevice::WriteOnly));
    for (qsizetype at = 0; at < body.size();) {
        const qsizetype length = std::min<qsizetype>(pieces.ConsumeIntegralInRange(1, 4096), body.size() - at);
        FUZZ_CHECK(target->write(body.constData() + at, length) == length);
        at += length;
    }
    const bool replaced = reply.completed && reply.statusCode == 200;
    if (replaced)
        FUZZ_CHECK(target->commit());
    target.reset();
    replacedLast = replaced;

    QFile stored(path);
    FUZZ_CHECK(stored.open(QIODevice::ReadOnly));
    const QByteArray content = stored.readAll();
    FUZZ_CHECK(content == (replaced ? body : before));
    const qsizetype lines = content.count('\n') + content.count('\r') - content.count("\r\n")
        + (content.isEmpty() || content.endsWith('\n') || content.endsWith('\r') ? 0 : 1);
    Batch::LinksDatabase database(path);
    FUZZ_CHECK(database.CountLinks() == lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    checkFileSize(input);
    checkSentCount(input.ConsumeIntegralInRange<qint32>(0, std::numeric_limits<qint32>::max()),
        input.ConsumeIntegralInRange(0, 3));
    const auto pieceBytes = input.ConsumeIntegralInRange<size_t>(0, 16);
    const std::string pieceSizes = input.ConsumeBytesAsString(pieceBytes);
    const Admin::AdminReply reply = consumeReply(input);

    checkCount(reply);
    checkFailureText(reply);
    checkFormatText(QString::fromUtf8(reply.body.value_or(QByteArray())));
    checkFormatText(reply.statusText);
    FuzzedDataProvider pieces(reinterpret_cast<const uint8_t*>(pieceSizes.data()), pieceSizes.size());
    checkImport(reply, pieces);
    return 0;
}
