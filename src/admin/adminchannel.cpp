#include "admin/adminchannel.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace Admin {

namespace {

    // Multipart names and file names travel inside a quoted header parameter; the three bytes that would
    // end it or the header are escaped the way browsers do.
    QByteArray quotedParameter(const QString& text)
    {
        QByteArray bytes = text.toUtf8();
        bytes.replace('"', "%22");
        bytes.replace('\r', "%0D");
        bytes.replace('\n', "%0A");
        return '"' + bytes + '"';
    }

    // An exchange counts as completed when the server's answer arrived whole, whatever its status; a
    // connection cut after the headers leaves a partial body, which must not pass for a reply.
    bool isCompleteReply(QNetworkReply::NetworkError error)
    {
        if (error == QNetworkReply::NoError)
            return true;
        // 2xx content, 3xx protocol and 4xx server codes stand for HTTP statuses the server did send; of the
        // protocol codes only these two mean a broken reply.
        return int(error) >= int(QNetworkReply::ContentAccessDenied) && error != QNetworkReply::ProtocolFailure
            && error != QNetworkReply::ProtocolUnknownError;
    }

    // A file part's body that holds its file open only while that part is being sent. Opened up front,
    // a hundred files a batch over ten connections held over a thousand files open (a reply and its
    // files live on until the event loop deletes them, after the connection's next batch has opened
    // its own), past the usual limit of 1,024, and whole batches failed with "Too many open files".
    // The network layer asks for a few tens of kilobytes at a time, so a part never sits in memory either.
    class PartFile final : public QIODevice {
    public:
        PartFile(const QString& path, qint64 size, QObject* parent)
            : QIODevice(parent)
            , m_file(path)
            , m_size(size)
        {
        }

        bool isSequential() const override { return false; }
        qint64 size() const override { return m_size; }
        void close() override
        {
            m_file.close();
            QIODevice::close();
        }

    protected:
        qint64 readData(char* data, qint64 maxSize) override
        {
            // Unbuffered, so pos() is where this read starts.
            const qint64 left = m_size - pos();
            if (maxSize <= 0)
                return 0;
            if (left <= 0) {
                m_file.close();
                return 0;
            }
            if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly))
                return failRead();
            if (m_file.pos() != pos() && !m_file.seek(pos()))
                return failRead();
            const qint64 read = m_file.read(data, std::min(maxSize, left));
            // A file that shrank since the request was built would leave the part short of its announced
            // size, and the parts after it misaligned.
            if (read <= 0)
                return failRead();
            if (read == left)
                m_file.close();
            return read;
        }
        qint64 writeData(const char*, qint64) override { return -1; }

    private:
        qint64 failRead()
        {
            setErrorString(QStringLiteral("Cannot read %1: %2").arg(m_file.fileName(), m_file.errorString()));
            m_file.close();
            return -1;
        }

        QFile m_file;
        const qint64 m_size;
    };

    const char* const CanceledText = "Operation canceled";
    constexpr qint64 SinkBufferBytes = 1 << 20;
    // A reply that is kept in memory (a login or count answer, an upload's log page) is a few
    // kilobytes; the server's, so anything, must not fill the memory.
    constexpr qint64 MaxKeptReplyBytes = 8 << 20;
    const char* const InvalidAddressText = "Host not found: the address is empty or not an http or https URL";

} // namespace

QByteArray encodeFormFields(const QList<FormField>& fields)
{
    QByteArray body;
    for (const FormField& field : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(field.name) + '=' + QUrl::toPercentEncoding(field.value);
    }
    return body;
}

AdminChannel::AdminChannel(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &AdminChannel::handleDeadline);
}

AdminChannel::~AdminChannel()
{
    m_callback = {};
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void AdminChannel::send(const AdminRequest& request, Callback done)
{
    if (m_busy)
        abort();

    ++m_generation;
    m_callback = std::move(done);
    m_sink = request.bodySink;
    m_abortText.clear();
    m_busy = true;

    const QUrl url(request.url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failSoon(m_generation, QString::fromLatin1(InvalidAddressText));
        return;
    }

    QNetworkRequest networkRequest(url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (!request.clientName.isEmpty())
        networkRequest.setHeader(QNetworkRequest::UserAgentHeader, request.clientName);

    setState(Connecting);
    if (request.parts.isEmpty() && !request.multipart) {
        networkRequest.setHeader(
            QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        m_reply = m_network->post(networkRequest, encodeFormFields(request.fields));
    } else {
        auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        for (const FormField& field : request.fields) {
            QHttpPart part;
            part.setRawHeader("Content-Disposition", "form-data; name=" + quotedParameter(field.name));
            part.setBody(field.value.toUtf8());
            multipart->append(part);
        }
        for (const UploadPart& upload : request.parts) {
            // Opened here only to fail the batch before anything is sent, one file at a time.
            QFile probe(upload.filePath);
            if (!probe.open(QIODevice::ReadOnly)) {
                const QString text = QStringLiteral("Cannot open %1: %2").arg(upload.filePath, probe.errorString());
                delete multipart;
                failSoon(m_generation, text);
                return;
            }
            auto* file = new PartFile(upload.filePath, probe.size(), multipart);
            probe.close();
            file->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            QHttpPart part;
            part.setRawHeader("Content-Disposition",
                "form-data; name=" + quotedParameter(upload.name)
                    + "; filename=" + quotedParameter(QFileInfo(upload.filePath).fileName()));
            part.setRawHeader("Content-Type", "application/octet-stream");
            // The part reads the file as it is sent, so a batch never sits in memory.
            part.setBodyDevice(file);
            multipart->append(part);
        }
        m_reply = m_network->post(networkRequest, multipart);
        multipart->setParent(m_reply);
    }

    connect(m_reply, &QNetworkReply::socketStartedConnecting, this, [this] { setState(Connecting); });
    connect(m_reply, &QNetworkReply::requestSent, this, [this] { setState(Sending); });
    connect(m_reply, &QNetworkReply::uploadProgress, this, &AdminChannel::handleUploadProgress);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &AdminChannel::handleDownloadProgress);
    if (m_sink) {
        // Without a bound the network thread keeps reading ahead of the sink into memory.
        m_reply->setReadBufferSize(SinkBufferBytes);
        connect(m_reply, &QNetworkReply::readyRead, this, &AdminChannel::handleReadyRead);
    }
    if (!request.errorBodyWanted)
        connect(m_reply, &QNetworkReply::metaDataChanged, this, &AdminChannel::handleMetaData);
    connect(m_reply, &QNetworkReply::finished, this, &AdminChannel::handleFinished);
    if (request.timeoutMs > 0)
        m_deadline->start(request.timeoutMs);
}

void AdminChannel::abort()
{
    if (!m_busy)
        return;
    if (m_reply) {
        m_abortText = QString::fromLatin1(CanceledText);
        // QNetworkReply::abort() emits finished() at once, which ends the exchange through handleFinished.
        m_reply->abort();
        return;
    }
    finish({ false, 0, QString::fromLatin1(CanceledText), std::nullopt, true });
}

void AdminChannel::handleUploadProgress(qint64 sent, qint64 total)
{
    if (sent > 0)
        setState(Sending);
    Q_EMIT progressChanged(SendingPhase, 0, sent, total);
}

void AdminChannel::handleDownloadProgress(qint64 received, qint64 total)
{
    if (!m_sink && received > MaxKeptReplyBytes && m_reply && m_abortText.isEmpty()) {
        m_abortText = QStringLiteral("The server's reply is too large");
        QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
        return;
    }
    Q_EMIT progressChanged(ReceivingPhase, 0, received, total);
}

void AdminChannel::handleMetaData()
{
    // The status of an error page says all the caller needs. Waiting for its body let a large or slow
    // page (the server's, so anything) hold the exchange until its deadline, or fill the memory.
    // Redirects are followed, not judged.
    if (!m_reply)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    if (!status.isValid() || code == 200 || (code >= 300 && code < 400))
        return;
    AdminReply result;
    result.completed = true;
    result.statusCode = code;
    result.statusText = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    // Aborted from the event loop: aborting inside its own metaDataChanged() makes the reply report an
    // error twice.
    QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
    finish(result);
}

void AdminChannel::handleReadyRead()
{
    // Only a 200 reply is worth keeping; anything else (an error page) stays in memory for the caller.
    if (!m_sink || !m_reply || m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    const QByteArray data = m_reply->readAll();
    if (m_sink->write(data) == data.size())
        return;
    m_abortText = QStringLiteral("Cannot store the reply: ") + m_sink->errorString();
    m_reply->abort();
}

void AdminChannel::handleFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || sender() != reply)
        return;
    AdminReply result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // What is still buffered goes to the sink before the reply is judged, so a failed write fails it.
    if (m_sink && m_abortText.isEmpty() && status.toInt() == 200 && reply->error() == QNetworkReply::NoError)
        handleReadyRead();
    if (m_abortText.isEmpty() && status.isValid() && isCompleteReply(reply->error())) {
        result.completed = true;
        result.statusCode = status.toInt();
        result.statusText = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        result.body = m_sink && result.statusCode == 200 ? QByteArray() : reply->readAll();
    } else {
        result.statusText = m_abortText.isEmpty() ? reply->errorString() : m_abortText;
        result.aborted = m_abortText == QLatin1String(CanceledText);
    }
    finish(result);
}

void AdminChannel::handleDeadline()
{
    if (!m_busy || !m_reply)
        return;
    m_abortText = QStringLiteral("Operation timed out");
    m_reply->abort();
}

void AdminChannel::failSoon(quint64 generation, const QString& text)
{
    QTimer::singleShot(0, this, [this, generation, text] {
        if (generation == m_generation && m_busy && !m_reply)
            finish({ false, 0, text, std::nullopt });
    });
}

void AdminChannel::finish(const AdminReply& reply)
{
    m_deadline->stop();
    m_sink = nullptr;
    dropReply();
    m_busy = false;
    // The callback may start the next exchange on this channel, so the state is cleared before it runs.
    Callback callback = std::move(m_callback);
    m_callback = {};
    Q_EMIT progressChanged(DonePhase, reply.completed ? 0 : 1, 0, 0);
    if (m_state != Closed) {
        setState(Closing);
        setState(Closed);
    }
    Q_EMIT finished(reply);
    if (callback)
        callback(reply);
}

void AdminChannel::setState(int state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void AdminChannel::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
}

} // namespace Admin
