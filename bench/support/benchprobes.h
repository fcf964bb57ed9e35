#pragma once

// What every window and run benchmark measures the same way: boxes that answer themselves, and the
// event loop's longest stall.

#include <algorithm>

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTextStream>
#include <QTimer>

#include "common/messagebox.h"

namespace BenchProbes {

// Answers every box at once with Cancel and says what it asked, so a benchmark never waits on a user.
class SilentBoxes final : public Common::MessageBox {
public:
    Answer ask(const QString& text, const QString&, Icon, Buttons) override
    {
        QTextStream(stderr) << "box: " << text << '\n';
        return Answer::Cancel;
    }
};

// How late a timer of intervalMs fires: the longest time the event loop was busy elsewhere.
class StallProbe final : public QObject {
public:
    explicit StallProbe(int intervalMs = 5)
        : m_interval(intervalMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        connect(&m_timer, &QTimer::timeout, this,
            [this] { m_longest = std::max(m_longest, m_clock.restart() - m_interval); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    // The longest stall so far, the one going on included; the probe starts over.
    qint64 takeLongestMs()
    {
        const qint64 longest = std::max(m_longest, m_clock.elapsed() - m_interval);
        m_longest = 0;
        return longest;
    }
    qint64 longestMs() const { return m_longest; }
    qint64 stopLongestMs()
    {
        m_timer.stop();
        return std::max(m_longest, m_clock.elapsed() - m_interval);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_interval;
    qint64 m_longest = 0;
};

// This process's resident memory in KiB, -1 when /proc cannot tell.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace BenchProbes
