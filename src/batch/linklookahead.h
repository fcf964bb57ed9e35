#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QTimer>

#include "batch/linksdatabase.h"

class QTcpSocket;

namespace Batch {

// Reads the run's links a little ahead of the capture slots and asks each one's host for a connection
// meanwhile, so that a server that never answers does not hold a slot while live links wait behind it.
//
// Links come out in their order once their host has taken a connection; those whose host has not are
// passed over until it does (their time-out then shortened by the time the connection took) or until
// the time-out has passed since the first try (then they come out as expired, to end timed out without
// ever holding a slot). A host that refuses, or a name that does
// not resolve here, counts as an answer: the browser finds out the same at once, and says it in its
// own words. Only the connection is tried; no request is sent, so no server sees a visit twice.
//
// On a live host a connection takes milliseconds, and links are read ahead while the slots are busy,
// so a free slot rarely waits for one. GUI thread only.
class LinkLookahead final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkLookahead)

public:
    // A host silent this long no longer counts among the links read ahead; one whose name is still
    // being looked up after it is left to the browser.
    static constexpr qint64 QuietHostMs = 2000;
    // Links of silent hosts read ahead, at most, as a multiple of the depth.
    static constexpr int MostAheadPerDepth = 4;

    struct Options final {
        // How many links are read ahead at most.
        int depth = 16;
        qint64 timeoutMs = 30000;
        // Whether a link is worth asking about (one the run will capture); others come out in turn.
        std::function<bool(const LinkRecord&)> probes;
    };

    struct Taken final {
        RangeReader::Entry entry;
        // The time-out left to the capture: the full one, less what the host took to answer.
        qint64 timeoutMs = 0;
        // The host stayed silent for the whole time-out: the link ends timed out.
        bool expired = false;
    };

    explicit LinkLookahead(QObject* parent = nullptr);
    ~LinkLookahead() override;

    Common::Status open(const QString& path, qint32 startLink, qint32 endLink, const Options& options);
    // The next link to start, an expired one first; nothing when every link read ahead waits on a
    // silent host (hostAnswered or a link's expiry brings the next call) or the range is exhausted.
    std::optional<Taken> next();
    // Every link read and not yet taken has been handed out, and the range is at its end.
    bool isExhausted() const;
    // Links read ahead and not taken; nonzero while next() waits on silent hosts.
    int waiting() const { return int(m_ahead.size()); }
    std::optional<Common::Error> error() const { return m_reader.error(); }
    // The line a stopped run resumes from: the last handed out, or one before it never handed out.
    qint32 resumeLine() const;
    void close();

Q_SIGNALS:
    // A host answered or a link expired: next() may have a link now.
    void linkReady();

private:
    struct Ahead;

    bool isQuiet(const Ahead& ahead, qint64 at) const;
    bool isReady(const Ahead& ahead, qint64 at) const;
    void fill();
    void armExpiry();
    qint64 now() const;

    RangeReader m_reader;
    Options m_options;
    std::deque<std::unique_ptr<Ahead>> m_ahead;
    QTimer m_expiry;
    qint64 m_origin = 0;
    qint32 m_lastTakenLine = 0;
};

} // namespace Batch
