#pragma once

#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QtGlobal>

namespace Batch {

// The processor's counters of /proc/stat's first line, in clock ticks.
struct CpuTimes final {
    quint64 busy = 0;
    quint64 total = 0;
};

// What the machine had to spare at one moment.
struct RoomReading final {
    // The share of all cores' time spent working since the reading before, 0 to 1.
    double busyShare = 0.0;
    // The proportional memory of this process and every process below it (the local browsers, their
    // renderers), in bytes: the figure the memory budget is held against.
    qint64 treeBytes = 0;
    // The kernel's estimate of what could still be allocated without swapping; -1 when unknown.
    qint64 availableBytes = -1;
};

// Reads the machine: how busy its processors were since the last reading and how much memory this
// program's process tree holds. Linux only (/proc); elsewhere every reading is empty, which admits
// every capture. Not thread-safe; one per run.
class MachineRoom final {
public:
    // Reads the counters so that the first read() measures from now.
    MachineRoom();

    RoomReading read();

    // The machine's memory in bytes, 0 when unknown.
    static qint64 totalMemory();
    static int cores();

    // Parsers of /proc's texts, apart so that their rules can be tried on any text.
    static std::optional<CpuTimes> parseCpuTimes(const QByteArray& procStat);
    static double busyShareBetween(const CpuTimes& before, const CpuTimes& after);
    // A "Name:   1234 kB" field of /proc/meminfo or smaps_rollup, in bytes; nullopt when absent.
    static std::optional<qint64> kilobyteField(const QByteArray& text, const QByteArray& name);
    // The parent of a process from its /proc/PID/stat line (the name in parentheses may hold anything).
    static std::optional<qint64> parentFromStat(const QByteArray& statLine);
    // root and every process below it, from a map of each process's parent.
    static QList<qint64> treeOf(qint64 root, const QHash<qint64, qint64>& parentOf);

private:
    qint64 treeBytes() const;

    std::optional<CpuTimes> m_last;
};

} // namespace Batch
