#pragma once

#include <QByteArray>

#include "capture/devtoolstransport.h"

class QSocketNotifier;

namespace Capture {

// The browser's --remote-debugging-pipe: NUL-terminated JSON messages, read from one file descriptor
// and written to another. Takes ownership of both descriptors and makes them non-blocking; end of file
// or a write error closes the channel.
class PipeTransport final : public DevToolsTransport {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PipeTransport)

public:
    PipeTransport(int readFd, int writeFd, QObject* parent = nullptr);
    ~PipeTransport() override;

    void sendMessage(const QByteArray& message) override;
    bool isOpen() const override;
    void close() override;

private:
    void handleReadable();
    void handleWritable();
    void flushOutput();
    void closeFromPeer();

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_input;
    qsizetype m_scanFrom = 0;
    QByteArray m_output;
    qsizetype m_outputSent = 0;
};

} // namespace Capture
