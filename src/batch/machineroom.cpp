#include "batch/machineroom.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

namespace Batch {

namespace {

    QByteArray readProcFile(const QString& path)
    {
        QFile file(path);
        // /proc files report a size of 0: read until the end instead.
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

    std::optional<CpuTimes> readCpuTimes()
    {
        return MachineRoom::parseCpuTimes(readProcFile(QStringLiteral("/proc/stat")));
    }

} // namespace

MachineRoom::MachineRoom()
    : m_last(readCpuTimes())
{
}

RoomReading MachineRoom::read()
{
    RoomReading reading;
    const std::optional<CpuTimes> now = readCpuTimes();
    if (now && m_last)
        reading.busyShare = busyShareBetween(*m_last, *now);
    if (now)
        m_last = now;
    reading.treeBytes = treeBytes();
    reading.availableBytes
        = kilobyteField(readProcFile(QStringLiteral("/proc/meminfo")), QByteArrayLiteral("MemAvailable")).value_or(-1);
    return reading;
}

qint64 MachineRoom::totalMemory()
{
    return kilobyteField(readProcFile(QStringLiteral("/proc/meminfo")), QByteArrayLiteral("MemTotal")).value_or(0);
}

int MachineRoom::cores() { return std::max(1, QThread::idealThreadCount()); }

std::optional<CpuTimes> MachineRoom::parseCpuTimes(const QByteArray& procStat)
{
    const qsizetype end = procStat.indexOf('\n');
    const QList<QByteArray> fields = procStat.left(end < 0 ? procStat.size() : end).simplified().split(' ');
    // cpu user nice system idle iowait irq softirq steal [guest guest_nice]: guest time is already in user.
    if (fields.size() < 9 || fields.first() != "cpu")
        return std::nullopt;
    quint64 values[8] = {};
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        values[i] = fields.at(i + 1).toULongLong(&ok);
        if (!ok)
            return std::nullopt;
    }
    const quint64 idle = values[3] + values[4];
    const quint64 busy = values[0] + values[1] + values[2] + values[5] + values[6] + values[7];
    return CpuTimes { busy, busy + idle };
}

double MachineRoom::busyShareBetween(const CpuTimes& before, const CpuTimes& after)
{
    // Counters that went backwards (a reset, another machine's figures) say nothing.
    if (after.total <= before.total || after.busy < before.busy)
        return 0.0;
    const double share = double(after.busy - before.busy) / double(after.total - before.total);
    return std::clamp(share, 0.0, 1.0);
}

std::optional<qint64> MachineRoom::kilobyteField(const QByteArray& text, const QByteArray& name)
{
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype end = text.indexOf('\n', at);
        const QByteArray line = text.mid(at, end < 0 ? -1 : end - at);
        at = end < 0 ? text.size() : end + 1;
        if (!line.startsWith(name) || line.size() <= name.size() || line.at(name.size()) != ':')
            continue;
        const QList<QByteArray> parts = line.mid(name.size() + 1).simplified().split(' ');
        bool ok = false;
        const qint64 kb = parts.value(0).toLongLong(&ok);
        if (!ok || kb < 0)
            return std::nullopt;
        return kb * 1024;
    }
    return std::nullopt;
}

std::optional<qint64> MachineRoom::parentFromStat(const QByteArray& statLine)
{
    // "PID (name) STATE PPID ...": the name may itself hold spaces and parentheses, so read after the last ')'.
    const qsizetype close = statLine.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> rest = statLine.mid(close + 1).simplified().split(' ');
    if (rest.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint64 parent = rest.at(1).toLongLong(&ok);
    return ok ? std::optional<qint64>(parent) : std::nullopt;
}

QList<qint64> MachineRoom::treeOf(qint64 root, const QHash<qint64, qint64>& parentOf)
{
    QHash<qint64, QList<qint64>> children;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it)
        children[it.value()].append(it.key());
    QList<qint64> tree { root };
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (qint64 child : children.value(tree.at(i))) {
            // A broken map with a cycle must not loop for ever.
            if (child != root && !tree.contains(child))
                tree.append(child);
        }
    }
    return tree;
}

qint64 MachineRoom::treeBytes() const
{
    QHash<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        if (const std::optional<qint64> parent = parentFromStat(readProcFile(QStringLiteral("/proc/%1/stat").arg(pid))))
            parentOf.insert(pid, *parent);
    }
    qint64 total = 0;
    for (qint64 pid : treeOf(QCoreApplication::applicationPid(), parentOf)) {
        // Proportional: pages the browser's processes share are counted once over the tree, not once each.
        const QByteArray rollup = readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        std::optional<qint64> bytes = kilobyteField(rollup, QByteArrayLiteral("Pss"));
        if (!bytes)
            bytes = kilobyteField(readProcFile(QStringLiteral("/proc/%1/status").arg(pid)), QByteArrayLiteral("VmRSS"));
        total += bytes.value_or(0);
    }
    return total;
}

} // namespace Batch
