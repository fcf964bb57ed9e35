#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>

class QHttpMultiPart;
class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace Admin {

// One named text value of a form submission.
struct FormField final {
    QString name;
    QString value;
};

// One file of an upload: the form field it is sent under and the file on disk.
struct UploadPart final {
    QString name;
    QString filePath;
};

// A form submission to the administration script. Fields go in the order given. Without parts the form is
// sent as application/x-www-form-urlencoded; with parts (or when multipart is set) as multipart/form-data,
// every file streamed from disk. timeoutMs > 0 ends the exchange as failed once that time has passed;
// 0 lets it run until it completes or is aborted.
struct AdminRequest final {
    QString url;
    QList<FormField> fields;
    QList<UploadPart> parts;
    bool multipart = false;
    QString clientName; // the User-Agent; empty leaves the network library's own
    int timeoutMs = 0;
    // When set, the body of a 200 reply is written here as it arrives instead of being kept in memory (the
    // reply's body is then present and empty). A failed write ends the exchange as failed. Not owned; it
    // must outlive the exchange.
    QIODevice* bodySink = nullptr;
    // False: a reply with a status other than 200 (redirects apart) ends the exchange as completed as soon
    // as its status arrives, without its body, whatever the body's size or speed.
    bool errorBodyWanted = true;
};

// How an exchange ended. completed is true when the server answered with any HTTP status (the
// notification's outcome 0); statusCode is 0 and statusText the network error when it did not. body is
// absent when no reply was read, and empty for an empty reply.
struct AdminReply final {
    bool completed = false;
    int statusCode = 0;
    QString statusText;
    std::optional<QByteArray> body;
    bool aborted = false; // cut by abort() rather than by the network or the deadline
};

// One connection to the administration script, carrying one exchange at a time over its own
// QNetworkAccessManager (so that several channels really run in parallel).
//
// Event-driven: send() returns at once; the exchange ends in exactly one finished() signal (and the
// callback given to send), whether the server answered, the network failed, the deadline passed or
// abort() cut it. A channel that is destroyed mid-exchange aborts it without reporting. GUI thread only.
class AdminChannel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AdminChannel)

public:
    // The connection states reported by stateChanged().
    enum State { Closed = 0, Connecting = 1, Sending = 2, Closing = 3 };
    // The phases reported by progressChanged(): sending the request, receiving the reply, done.
    enum Phase { SendingPhase = 1, ReceivingPhase = 2, DonePhase = 3 };
    using Callback = std::function<void(const AdminReply&)>;

    explicit AdminChannel(QObject* parent = nullptr);
    ~AdminChannel() override;

    // Starts the exchange. An exchange still under way is aborted first (and reported as such). An empty
    // or malformed address, or one that is not http or https, fails as an unreachable host does: reported
    // from the event loop, never from inside send().
    void send(const AdminRequest& request, Callback done = {});
    // Cuts the exchange under way; it ends as failed with the text "Operation canceled". Harmless when idle.
    void abort();

    int state() const { return m_state; }
    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // Raised repeatedly during an exchange: outcome is 0 while it runs and for a completed exchange
    // (phase DonePhase), 1 for a failed one.
    void progressChanged(int phase, int outcome, qint64 bytesDone, qint64 bytesTotal);
    void stateChanged(int state);
    void finished(const Admin::AdminReply& reply);

private:
    void handleUploadProgress(qint64 sent, qint64 total);
    void handleDownloadProgress(qint64 received, qint64 total);
    void handleMetaData();
    void handleReadyRead();
    void handleFinished();
    void handleDeadline();
    void failSoon(quint64 generation, const QString& text);
    void finish(const AdminReply& reply);
    void setState(int state);
    void dropReply();

    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QHttpMultiPart* m_multipart = nullptr;
    QTimer* m_deadline = nullptr;
    QIODevice* m_sink = nullptr;
    Callback m_callback;
    quint64 m_generation = 0;
    QString m_abortText;
    int m_state = Closed;
    bool m_busy = false;
};

// The text of a form's fields as application/x-www-form-urlencoded, every reserved byte percent-encoded
// (so "+", "&" and "=" in a password reach the server unchanged).
QByteArray encodeFormFields(const QList<FormField>& fields);

} // namespace Admin
